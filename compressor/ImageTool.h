#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// Our image tool "cImage", next to the application: it readies a source for pngquant or ffmpeg (a
// lossless intermediate of what they cannot read or would get wrong, pixels turned by the EXIF
// orientation) and afterwards puts the source's metadata into their result.
class ImageTool
{
public:
    // What the preparation found and made.
    struct Prepared
    {
        QString input;  // the file the encoder is to read: the source itself or the intermediate
        QString format; // the source's format by content: jpeg, png, gif, bmp, tiff, webp, pnm
        int frames = 1;
        int loop = 1; // animation loop count, 0 for forever
        bool turned = false;
        // "WxH" when the picture was shrunk to fit the box, or (an animation) is to be shrunk by the encoder.
        QString resized;
    };

    static QString path();
    // Without the tool the encoders read every source themselves, as they always did.
    static bool isAvailable();

    // target: "png" or "webp"; box: "WxH" to shrink the picture to fit (empty: keep its size).
    static QStringList prepareArguments(const QString& target, const QString& outputFolder,
                                        const QString& source, const QString& box = QString());
    // strip: "gps" or "all" to leave that metadata out (empty: carry all of it).
    static QStringList finishArguments(const QString& target, const QString& source, const QString& result,
                                       const QString& strip = QString());
    // An input outside outputFolder is taken for the source itself, which the caller already knows: a
    // path is only trusted from the tool when it names a file the tool made.
    static Prepared parsePrepared(const QByteArray& output, const QString& outputFolder);
    // Our tools' "key=value" lines on standard output, blanks around both trimmed.
    static QHash<QString, QString> parseKeyValues(const QByteArray& output);
};

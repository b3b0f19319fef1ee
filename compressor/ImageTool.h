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
    };

    static QString path();
    // Without the tool the encoders read every source themselves, as they always did.
    static bool isAvailable();

    // target: "png" or "webp".
    static QStringList prepareArguments(const QString& target, const QString& outputFolder,
                                        const QString& source);
    static QStringList finishArguments(const QString& target, const QString& source, const QString& result);
    // An input outside outputFolder is taken for the source itself, which the caller already knows: a
    // path is only trusted from the tool when it names a file the tool made.
    static Prepared parsePrepared(const QByteArray& output, const QString& outputFolder);
    // Our tools' "key=value" lines on standard output, blanks around both trimmed.
    static QHash<QString, QString> parseKeyValues(const QByteArray& output);
};

#pragma once

#include <base/NerovaGlobal.h>

#include <QString>
#include <QStringList>
#include <QVector>

// What one output format is to the library: which task writes it, with which encoders and defaults,
// and what its container can hold.
struct OutputFormat
{
    enum class Kind { Image, Video };
    enum class Task { Jpeg, Png, Webp, Video };
    // How a source's subtitle streams reach this container.
    enum class Subtitles {
        None,    // the container holds no subtitle stream
        Copy,    // text subtitles copied as they are (mov_text and other text kinds become SubRip)
        MovText, // text subtitles converted to mov_text
        WebVtt,  // text subtitles converted to WebVTT
    };

    QString suffix; // lower case, without the dot
    Kind kind = Kind::Video;
    Task task = Task::Video;
    // Used when a request leaves "quality" (and for video "preset") out or empty.
    QString defaultQuality;
    QString defaultPreset;

    // Video only: the encoders ffmpeg is asked for (an empty audio encoder leaves ffmpeg's default
    // for the container), and what the container can hold besides one video and one audio stream.
    QString videoEncoder;
    QString audioEncoder;
    Subtitles subtitles = Subtitles::None;
    bool holdsDvdSubtitles = false; // DVD bitmap subtitles
    bool holdsPgsSubtitles = false; // Blu-ray bitmap subtitles
    bool holdsCover = false;        // an attached picture as the file's cover
    bool holdsAttachments = false;  // Matroska attachments such as fonts
    bool holdsSeveralAudio = false;
    bool holdsVariableFrameRate = true;
    // The audio sample rates the container accepts, best first; empty when the encoder decides.
    QVector<int> audioSampleRates;

    bool isImage() const { return kind == Kind::Image; }
};

// The one list of formats the library writes and reads. The factory, the argument builders and a
// host all ask it; the accessors are inline so that a host that loads the plug-in at run time (and
// reaches the table through FormatTableEntry) needs no link to it.
class NEROVA_EXPORT FormatTable
{
public:
    // The format written for an output suffix (case-insensitive). An unknown suffix is a video job
    // that ffmpeg may still be able to write: it gets the generic video entry.
    const OutputFormat& forSuffix(const QString& suffix) const
    {
        const QString lower = suffix.toLower();
        for (const OutputFormat& format : mOutputs) {
            if (format.suffix == lower)
                return format;
        }
        return mGenericVideo;
    }
    const OutputFormat& forOutputPath(const QString& path) const { return forSuffix(suffixOfPath(path)); }
    // Whether the suffix names a format the table lists (images and video containers alike).
    bool isKnownOutput(const QString& suffix) const
    {
        const QString lower = suffix.toLower();
        for (const OutputFormat& format : mOutputs) {
            if (format.suffix == lower)
                return true;
        }
        return false;
    }
    const QVector<OutputFormat>& outputs() const { return mOutputs; }
    // The output suffixes of one kind, in the table's order.
    QStringList outputSuffixes(OutputFormat::Kind kind) const
    {
        QStringList suffixes;
        for (const OutputFormat& format : mOutputs) {
            if (format.kind == kind)
                suffixes << format.suffix;
        }
        return suffixes;
    }
    // Every source suffix the library reads as an image, and as a video or audio file.
    const QStringList& imageSourceSuffixes() const { return mImageSources; }
    const QStringList& videoSourceSuffixes() const { return mVideoSources; }
    // The source containers the plug-in reports to its host as supported (a fixed answer).
    const QStringList& supportedOriginals() const { return mSupportedOriginals; }

    // The library's table.
    static const FormatTable& instance();

    // The text after the last dot of the path's last component (empty without a dot), as
    // QFileInfo::suffix() gives it.
    static QString suffixOfPath(const QString& path)
    {
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        return dot < 0 ? QString() : name.mid(dot + 1);
    }

private:
    FormatTable();

    QVector<OutputFormat> mOutputs;
    OutputFormat mGenericVideo;
    QStringList mImageSources;
    QStringList mVideoSources;
    QStringList mSupportedOriginals;
};

// The library's format table, for hosts that load the plug-in at run time.
extern "C" NEROVA_EXPORT const FormatTable* FormatTableEntry();

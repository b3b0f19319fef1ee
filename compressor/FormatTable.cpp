#include "FormatTable.h"

namespace {

OutputFormat image(const char* suffix, OutputFormat::Task task, const char* defaultQuality)
{
    OutputFormat format;
    format.suffix = QLatin1String(suffix);
    format.kind = OutputFormat::Kind::Image;
    format.task = task;
    format.defaultQuality = QLatin1String(defaultQuality);
    return format;
}

// A video container encoded with libx264 at constant rate factor 23, preset medium, unless told
// otherwise.
OutputFormat video(const char* suffix, const char* audioEncoder)
{
    OutputFormat format;
    format.suffix = QLatin1String(suffix);
    format.kind = OutputFormat::Kind::Video;
    format.task = OutputFormat::Task::Video;
    format.defaultQuality = QStringLiteral("23");
    format.defaultPreset = QStringLiteral("medium");
    format.videoEncoder = QStringLiteral("libx264");
    format.audioEncoder = QLatin1String(audioEncoder);
    return format;
}

// MP4 and its relatives: text subtitles as mov_text, DVD subtitles, a cover, several audio tracks.
OutputFormat isoMedia(const char* suffix)
{
    OutputFormat format = video(suffix, "aac");
    format.subtitles = OutputFormat::Subtitles::MovText;
    format.holdsDvdSubtitles = true;
    format.holdsCover = true;
    format.holdsSeveralAudio = true;
    return format;
}

} // namespace

FormatTable::FormatTable()
{
    using Task = OutputFormat::Task;
    mOutputs << image("jpg", Task::Jpeg, "75") << image("jpeg", Task::Jpeg, "75")
             << image("png", Task::Png, "80") << image("webp", Task::Webp, "75");

    OutputFormat mkv = video("mkv", "aac");
    mkv.subtitles = OutputFormat::Subtitles::Copy;
    mkv.holdsDvdSubtitles = true;
    mkv.holdsPgsSubtitles = true;
    mkv.holdsCover = true;
    mkv.holdsAttachments = true;
    mkv.holdsSeveralAudio = true;

    OutputFormat f4v = isoMedia("f4v");
    f4v.holdsDvdSubtitles = false;
    f4v.holdsCover = false;

    OutputFormat avi = video("avi", "mp3");
    avi.holdsSeveralAudio = true;
    avi.holdsVariableFrameRate = false;

    OutputFormat flv = video("flv", "mp3");

    OutputFormat m2ts = video("m2ts", "ac3");
    m2ts.holdsSeveralAudio = true;

    // WebM carries only VP8, VP9 or AV1 video; ffmpeg's default audio for it is Opus.
    OutputFormat webm = video("webm", "");
    webm.videoEncoder = QStringLiteral("libvpx-vp9");
    webm.subtitles = OutputFormat::Subtitles::WebVtt;
    webm.holdsSeveralAudio = true;

    mOutputs << isoMedia("mp4") << isoMedia("mov") << mkv << isoMedia("m4v") << avi << flv << f4v << m2ts
             << webm;

    // Any other suffix: libx264 and whatever audio ffmpeg picks for the container.
    mGenericVideo = video("", "");

    mImageSources = QStringList{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                QStringLiteral("webp")};
    mSupportedOriginals = QStringList{QStringLiteral("mp4"), QStringLiteral("mov"), QStringLiteral("mkv"),
                                      QStringLiteral("m4v"), QStringLiteral("avi"), QStringLiteral("flv"),
                                      QStringLiteral("f4v"), QStringLiteral("m2ts")};
    mVideoSources = mSupportedOriginals;
    mVideoSources << QStringLiteral("webm");
}

const FormatTable& FormatTable::instance()
{
    static const FormatTable table;
    return table;
}

const FormatTable* FormatTableEntry()
{
    return &FormatTable::instance();
}

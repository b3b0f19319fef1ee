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

// MP4 and its relatives: text subtitles as mov_text, several audio tracks. What else each one holds
// is what ffmpeg's muxer for it accepts.
OutputFormat isoMedia(const char* suffix)
{
    OutputFormat format = video(suffix, "aac");
    format.subtitles = OutputFormat::Subtitles::MovText;
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

    OutputFormat mp4 = isoMedia("mp4");
    mp4.holdsDvdSubtitles = true;
    mp4.holdsCover = true;

    // The QuickTime muxer writes neither DVD subtitles nor a cover picture.
    OutputFormat mov = isoMedia("mov");

    // The iPod muxer writes a cover but no DVD subtitles.
    OutputFormat m4v = isoMedia("m4v");
    m4v.holdsCover = true;

    // The F4V muxer takes no subtitle stream at all.
    OutputFormat f4v = isoMedia("f4v");
    f4v.subtitles = OutputFormat::Subtitles::None;

    OutputFormat avi = video("avi", "mp3");
    avi.holdsSeveralAudio = true;
    avi.holdsVariableFrameRate = false;

    // FLV holds one audio track, and MP3 only at the three rates its header can name.
    OutputFormat flv = video("flv", "mp3");
    flv.audioSampleRates = {44100, 22050, 11025};

    // AC-3 is defined for 32, 44.1 and 48 kHz only.
    OutputFormat m2ts = video("m2ts", "ac3");
    m2ts.holdsSeveralAudio = true;
    m2ts.audioSampleRates = {48000, 44100, 32000};

    // WebM carries only VP8, VP9 or AV1 video; ffmpeg's default audio for it is Opus.
    OutputFormat webm = video("webm", "");
    webm.videoEncoder = QStringLiteral("libvpx-vp9");
    webm.subtitles = OutputFormat::Subtitles::WebVtt;
    webm.holdsSeveralAudio = true;

    mOutputs << mp4 << mov << mkv << m4v << avi << flv << f4v << m2ts << webm;

    // Any other suffix: libx264 and whatever audio ffmpeg picks for the container.
    mGenericVideo = video("", "");

    mImageSources = QStringList{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
                                QStringLiteral("webp")};
    mSupportedOriginals = QStringList{QStringLiteral("mp4"), QStringLiteral("mov"), QStringLiteral("mkv"),
                                      QStringLiteral("m4v"), QStringLiteral("avi"), QStringLiteral("flv"),
                                      QStringLiteral("f4v"), QStringLiteral("m2ts")};
    // Every container a user's videos come in that ffmpeg reads. Audio-only files (MP3, M4A) are not
    // among them: a folder run converts videos into video containers, not music.
    mVideoSources = mSupportedOriginals;
    for (const char* suffix : {"webm", "mts", "m2t", "ts", "wmv", "asf", "vob", "mpg", "mpeg", "m2v", "mpe",
                               "3gp", "3g2", "ogv", "mxf", "divx", "rm", "rmvb", "dv"})
        mVideoSources << QLatin1String(suffix);
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

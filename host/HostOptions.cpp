#include "HostOptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>

#include <cmath>

#include <algorithm>

namespace {

constexpr int maxParallelJobs = 256;
constexpr int maxSide = 65535;

// Reads "WxH", "Wx" or "xH" (sides from 1 to 65535); false when malformed or both sides are missing.
bool parseBox(const QString& text, int* width, int* height)
{
    const int x = text.indexOf(QLatin1Char('x'));
    if (x < 0 || text.count(QLatin1Char('x')) != 1)
        return false;
    const auto side = [](const QString& digits, int* value) {
        *value = 0;
        if (digits.isEmpty())
            return true;
        if (digits.size() > 5 ||
            !std::all_of(digits.cbegin(), digits.cend(), [](QChar c) { return c.isDigit(); }))
            return false;
        *value = digits.toInt();
        return *value >= 1 && *value <= maxSide;
    };
    return side(text.left(x), width) && side(text.mid(x + 1), height) && (*width > 0 || *height > 0);
}

void setupParser(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral("Makes image and video files smaller."));
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("The source files and folders."),
                                 QStringLiteral("INPUT..."));
    parser.addPositionalArgument(
        QStringLiteral("OUTPUT"),
        QStringLiteral("Without -o: the file to write; its suffix chooses the format."),
        QStringLiteral("[OUTPUT]"));
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output-dir")},
                      QStringLiteral("Compress every INPUT into this folder."),
                      QStringLiteral("OUTDIR")});
    parser.addOption({{QStringLiteral("r"), QStringLiteral("recursive")},
                      QStringLiteral("With -o: take the files of sub-folders too, keeping the tree.")});
    parser.addOption({QStringLiteral("to"),
                      QStringLiteral("With -o: the output format of every image (jpg, png, webp) or every "
                                     "video (mp4, mkv, ...); default: the input's."),
                      QStringLiteral("FORMAT")});
    parser.addOption({{QStringLiteral("j"), QStringLiteral("jobs")},
                      QStringLiteral("Files compressed at the same time (default: one per processor); "
                                     "videos go one at a time."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("quality"),
                      QStringLiteral("Quality: JPEG/WebP 0-100, PNG upper bound 0-100, video CRF."),
                      QStringLiteral("Q")});
    parser.addOption({QStringLiteral("preset"), QStringLiteral("Video encoder preset (default: medium)."),
                      QStringLiteral("P")});
    parser.addOption(
        {QStringLiteral("scale"), QStringLiteral("Video size divisor: 1, 2 or 4."), QStringLiteral("S")});
    parser.addOption({QStringLiteral("max-size"),
                      QStringLiteral("Shrink images and video frames to fit inside WxH (1920x, x1080 limit "
                                     "one side), never enlarging."),
                      QStringLiteral("WxH")});
    parser.addOption({QStringLiteral("strip"),
                      QStringLiteral("Leave out metadata: gps (the location) or all (everything but the "
                                     "colour profile)."),
                      QStringLiteral("gps|all")});
    parser.addOption({QStringLiteral("target-size"),
                      QStringLiteral("Per image, the highest quality (up to --quality) whose result fits "
                                     "in SIZE bytes: 500k, 1.5M or plain bytes (k = 1000, M = 1000000)."),
                      QStringLiteral("SIZE")});
    parser.addOption({QStringLiteral("preview"), QStringLiteral("Encode a short video preview only.")});
    parser.addOption({QStringLiteral("ffmpeg-dir"), QStringLiteral("Folder that holds the ffmpeg to use."),
                      QStringLiteral("DIR")});
    parser.addOption(
        {QStringLiteral("keep-dates"), QStringLiteral("Give each output its source's modification time.")});
    parser.addOption({QStringLiteral("overwrite"),
                      QStringLiteral("Replace existing outputs (otherwise they are skipped).")});
    parser.addOption({QStringLiteral("in-place"),
                      QStringLiteral("Allow replacing a source by its own result (only a finished result "
                                     "replaces it).")});
    parser.addOption({QStringLiteral("json"),
                      QStringLiteral("Print one JSON object per finished file and a summary object, "
                                     "nothing else, on standard output.")});
    parser.addOption({QStringLiteral("verbose"), QStringLiteral("Show the plug-in's diagnostic messages.")});
    parser.addOption(
        {QStringLiteral("stats"),
         QStringLiteral("Print the processor time of this program and of its tools at the end.")});
    parser.addOption(
        {QStringLiteral("dry-run"),
         QStringLiteral("List each input, its output, the task and its settings; change nothing.")});
    parser.addOption({QStringLiteral("version"),
                      QStringLiteral("Print the versions of this program, the plug-in and the tools.")});
    parser.addHelpOption();
}

} // namespace

QVariantMap HostOptions::toRequest(const HostJob& job) const
{
    // Quality and preset left out: the plug-in gives each output format its own default.
    QVariantMap request{{QStringLiteral("inputPath"), job.inputPath},
                        {QStringLiteral("outputPath"), job.outputPath}};
    if (!quality.isNull())
        request.insert(QStringLiteral("quality"), quality);
    if (!preset.isNull())
        request.insert(QStringLiteral("preset"), preset);
    // Videos run one at a time, so ffmpeg may take every processor; image tools share them.
    if (job.isVideo)
        request.insert(QStringLiteral("threads"), QStringLiteral("0"));
    else if (imageToolThreads > 0)
        request.insert(QStringLiteral("threads"), QString::number(imageToolThreads));
    if (!scale.isNull())
        request.insert(QStringLiteral("scale"), scale);
    if (maxWidth > 0)
        request.insert(QStringLiteral("maxWidth"), QString::number(maxWidth));
    if (maxHeight > 0)
        request.insert(QStringLiteral("maxHeight"), QString::number(maxHeight));
    if (!strip.isEmpty())
        request.insert(QStringLiteral("strip"), strip);
    // A video's size follows from its CRF and length; a target is for images.
    if (targetSize > 0 && !job.isVideo)
        request.insert(QStringLiteral("targetSize"), QString::number(targetSize));
    return request;
}

bool HostOptions::parse(const QStringList& arguments, HostOptions* options, QString* errorText)
{
    QCommandLineParser parser;
    setupParser(parser);
    if (!parser.parse(arguments)) {
        *errorText = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        *errorText = QString();
        return false;
    }
    options->version = parser.isSet(QStringLiteral("version"));
    if (options->version)
        return true;
    const QStringList positional = parser.positionalArguments();
    options->outputDir = parser.value(QStringLiteral("output-dir"));
    options->format = parser.value(QStringLiteral("to")).toLower();
    options->recursive = parser.isSet(QStringLiteral("recursive"));
    if (parser.isSet(QStringLiteral("output-dir")) && options->outputDir.isEmpty()) {
        *errorText = QStringLiteral("-o needs a folder.");
        return false;
    }
    if (options->outputDir.isEmpty()) {
        if (positional.size() != 2 || !options->format.isEmpty() || options->recursive) {
            *errorText = QStringLiteral("Expected INPUT OUTPUT, or INPUT... -o OUTDIR [-r] [--to FORMAT].");
            return false;
        }
        options->inputs = QStringList{positional.at(0)};
        options->outputPath = positional.at(1);
    } else {
        if (positional.isEmpty()) {
            *errorText = QStringLiteral("Expected at least one INPUT with -o OUTDIR.");
            return false;
        }
        options->inputs = positional;
    }
    if (parser.isSet(QStringLiteral("jobs"))) {
        bool ok = false;
        options->parallelJobs = parser.value(QStringLiteral("jobs")).toInt(&ok);
        if (!ok || options->parallelJobs < 1 || options->parallelJobs > maxParallelJobs) {
            *errorText = QStringLiteral("-j expects a number from 1 to %1.").arg(maxParallelJobs);
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("quality")))
        options->quality = parser.value(QStringLiteral("quality"));
    if (parser.isSet(QStringLiteral("preset")))
        options->preset = parser.value(QStringLiteral("preset"));
    if (parser.isSet(QStringLiteral("scale")))
        options->scale = parser.value(QStringLiteral("scale"));
    if (parser.isSet(QStringLiteral("max-size")) &&
        !parseBox(parser.value(QStringLiteral("max-size")), &options->maxWidth, &options->maxHeight)) {
        *errorText =
            QStringLiteral("--max-size expects WxH, Wx or xH with sides from 1 to %1 (e.g. 1920x1080, "
                           "1920x, x1080).")
                .arg(maxSide);
        return false;
    }
    if (parser.isSet(QStringLiteral("strip"))) {
        options->strip = parser.value(QStringLiteral("strip"));
        if (options->strip != QLatin1String("gps") && options->strip != QLatin1String("all")) {
            *errorText = QStringLiteral("--strip expects gps or all.");
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("target-size"))) {
        options->targetSize = parseSize(parser.value(QStringLiteral("target-size")));
        if (options->targetSize <= 0) {
            *errorText = QStringLiteral("--target-size expects a size such as 500k, 1.5M or 300000 (bytes; "
                                        "k = 1000, M = 1000000), not \"%1\".")
                             .arg(parser.value(QStringLiteral("target-size")));
            return false;
        }
    }
    options->ffmpegDir = parser.value(QStringLiteral("ffmpeg-dir"));
    options->preview = parser.isSet(QStringLiteral("preview"));
    options->verbose = parser.isSet(QStringLiteral("verbose"));
    options->stats = parser.isSet(QStringLiteral("stats"));
    options->json = parser.isSet(QStringLiteral("json"));
    options->keepDates = parser.isSet(QStringLiteral("keep-dates"));
    options->overwrite = parser.isSet(QStringLiteral("overwrite"));
    options->inPlace = parser.isSet(QStringLiteral("in-place"));
    options->dryRun = parser.isSet(QStringLiteral("dry-run"));
    return true;
}

qint64 HostOptions::parseSize(const QString& text)
{
    // Decimal units, as upload limits are written; a fraction needs a unit, bytes are whole.
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,12})(?:(\\.\\d{1,6})?([kKmM]))?$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return 0;
    const QString unit = match.captured(3).toLower();
    const double factor = unit == QLatin1String("k") ? 1e3 : unit == QLatin1String("m") ? 1e6 : 1.0;
    const double bytes = (match.captured(1) + match.captured(2)).toDouble() * factor;
    return qint64(std::floor(bytes));
}

QString HostOptions::usage()
{
    // Grouped by what a user wants to say; the parser above accepts exactly these options.
    return QStringLiteral(
        "Usage: nerova-compress [options] INPUT OUTPUT\n"
        "       nerova-compress [options] INPUT... -o OUTDIR [-r] [--to FORMAT]\n"
        "Makes image and video files smaller.\n"
        "\n"
        "Input and output:\n"
        "  -o, --output-dir OUTDIR  compress every INPUT (files and folders) into OUTDIR\n"
        "  -r, --recursive          take the files of sub-folders too, keeping the tree\n"
        "  --to FORMAT              output format of every image (jpg, png, webp) or video (mp4, mkv, ...)\n"
        "  --overwrite              replace existing outputs (otherwise they are skipped)\n"
        "  --in-place               allow an output that is its own source (replaced only by a finished "
        "result)\n"
        "  --keep-dates             give each output its source's modification time\n"
        "\n"
        "Quality:\n"
        "  --quality Q              JPEG/WebP 0-100, PNG upper bound 0-100, video CRF (default per format)\n"
        "  --preset P               video encoder preset (default: medium)\n"
        "\n"
        "Size:\n"
        "  --max-size WxH           shrink images and video frames to fit inside WxH, never enlarging;\n"
        "                           1920x or x1080 limit one side\n"
        "  --target-size SIZE       per image, the highest quality up to --quality whose result fits in\n"
        "                           SIZE: 500k, 1.5M or bytes (k = 1000, M = 1000000); images only\n"
        "  --scale S                video size divisor: 1, 2 or 4\n"
        "  --preview                encode a short video preview only\n"
        "\n"
        "Metadata:\n"
        "  --strip gps|all          leave out the location (EXIF GPS, XMP location, video location tags),\n"
        "                           or all metadata but the colour profile (pixels turned upright)\n"
        "\n"
        "Running:\n"
        "  -j, --jobs N             files at the same time (default: one per processor)\n"
        "  --ffmpeg-dir DIR         folder that holds the ffmpeg to use\n"
        "  --dry-run                list each input, its output, the task and its settings; change nothing\n"
        "  --json                   one JSON object per file and a summary on standard output\n"
        "  --verbose                show the plug-in's diagnostic messages\n"
        "  --stats                  print the processor time of this program and its tools\n"
        "  --version                print the versions of this program, the plug-in and the tools\n"
        "  -h, --help               show this help\n");
}

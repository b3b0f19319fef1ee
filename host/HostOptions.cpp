#include "HostOptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>

namespace {

// Sensible qualities for each kind of output: the JPEG/WebP quality, the upper end of pngquant's
// range, libx264's constant rate factor.
QString defaultQualityFor(const QString& outputPath)
{
    const QString suffix = QFileInfo(outputPath).suffix().toLower();
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg") || suffix == QLatin1String("webp"))
        return QStringLiteral("75");
    if (suffix == QLatin1String("png"))
        return QStringLiteral("80");
    return QStringLiteral("23");
}

void setupParser(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral("Makes an image or video file smaller."));
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("The source file(s)."),
                                 QStringLiteral("INPUT..."));
    parser.addPositionalArgument(QStringLiteral("OUTPUT"),
                                 QStringLiteral("The file to write; its suffix chooses the format."),
                                 QStringLiteral("[OUTPUT]"));
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output-dir")},
                      QStringLiteral("Compress every INPUT into this folder."),
                      QStringLiteral("OUTDIR")});
    parser.addOption(
        {QStringLiteral("to"),
         QStringLiteral("With -o: the output format (jpg, png, webp, mp4, ...); default: the input's."),
         QStringLiteral("FORMAT")});
    parser.addOption({QStringLiteral("quality"),
                      QStringLiteral("Quality: JPEG/WebP 0-100, PNG upper bound 0-100, video CRF."),
                      QStringLiteral("Q")});
    parser.addOption({QStringLiteral("preset"), QStringLiteral("Video encoder preset (default: medium)."),
                      QStringLiteral("P")});
    parser.addOption(
        {QStringLiteral("scale"), QStringLiteral("Video size divisor: 1, 2 or 4."), QStringLiteral("S")});
    parser.addOption({QStringLiteral("preview"), QStringLiteral("Encode a short video preview only.")});
    parser.addOption({QStringLiteral("ffmpeg-dir"), QStringLiteral("Folder that holds the ffmpeg to use."),
                      QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("verbose"), QStringLiteral("Show the plug-in's diagnostic messages.")});
    parser.addOption({QStringLiteral("stats"),
                      QStringLiteral("Print the processor time of this program and of its tools at the end.")});
    parser.addHelpOption();
}

} // namespace

QVariantMap HostOptions::toRequest(const HostJob& job) const
{
    QVariantMap request{
        {QStringLiteral("inputPath"), job.inputPath},
        {QStringLiteral("outputPath"), job.outputPath},
        {QStringLiteral("quality"), quality.isNull() ? defaultQualityFor(job.outputPath) : quality},
        {QStringLiteral("preset"), preset.isNull() ? QStringLiteral("medium") : preset}};
    if (!scale.isNull())
        request.insert(QStringLiteral("scale"), scale);
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
    const QStringList positional = parser.positionalArguments();
    const QString outputDir = parser.value(QStringLiteral("output-dir"));
    const QString format = parser.value(QStringLiteral("to")).toLower();
    if (outputDir.isEmpty()) {
        if (positional.size() != 2 || !format.isEmpty()) {
            *errorText = QStringLiteral("Expected INPUT OUTPUT, or INPUT... -o OUTDIR [--to FORMAT].");
            return false;
        }
        options->jobs = {
            {QFileInfo(positional.at(0)).absoluteFilePath(), QFileInfo(positional.at(1)).absoluteFilePath()}};
    } else {
        if (positional.isEmpty()) {
            *errorText = QStringLiteral("Expected at least one INPUT with -o OUTDIR.");
            return false;
        }
        const QDir dir(outputDir);
        for (const QString& input : positional) {
            const QFileInfo source(input);
            const QString suffix = format.isEmpty() ? source.suffix() : format;
            options->jobs.append(
                {source.absoluteFilePath(),
                 dir.absoluteFilePath(source.completeBaseName() + QLatin1Char('.') + suffix)});
        }
    }
    if (parser.isSet(QStringLiteral("quality")))
        options->quality = parser.value(QStringLiteral("quality"));
    if (parser.isSet(QStringLiteral("preset")))
        options->preset = parser.value(QStringLiteral("preset"));
    if (parser.isSet(QStringLiteral("scale")))
        options->scale = parser.value(QStringLiteral("scale"));
    options->ffmpegDir = parser.value(QStringLiteral("ffmpeg-dir"));
    options->preview = parser.isSet(QStringLiteral("preview"));
    options->verbose = parser.isSet(QStringLiteral("verbose"));
    options->stats = parser.isSet(QStringLiteral("stats"));
    return true;
}

QString HostOptions::usage()
{
    QCommandLineParser parser;
    setupParser(parser);
    return parser.helpText();
}

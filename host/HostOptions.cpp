#include "HostOptions.h"

#include <QCommandLineParser>
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
    parser.addPositionalArgument(QStringLiteral("INPUT"), QStringLiteral("The source file."));
    parser.addPositionalArgument(QStringLiteral("OUTPUT"),
                                 QStringLiteral("The file to write; its suffix chooses the format."));
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
    parser.addHelpOption();
}

} // namespace

QVariantMap HostOptions::toRequest() const
{
    QVariantMap request{
        {QStringLiteral("inputPath"), inputPath},
        {QStringLiteral("outputPath"), outputPath},
        {QStringLiteral("quality"), quality.isNull() ? defaultQualityFor(outputPath) : quality},
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
    if (positional.size() != 2) {
        *errorText = QStringLiteral("Expected one INPUT and one OUTPUT.");
        return false;
    }
    options->inputPath = QFileInfo(positional.at(0)).absoluteFilePath();
    options->outputPath = QFileInfo(positional.at(1)).absoluteFilePath();
    if (parser.isSet(QStringLiteral("quality")))
        options->quality = parser.value(QStringLiteral("quality"));
    if (parser.isSet(QStringLiteral("preset")))
        options->preset = parser.value(QStringLiteral("preset"));
    if (parser.isSet(QStringLiteral("scale")))
        options->scale = parser.value(QStringLiteral("scale"));
    options->ffmpegDir = parser.value(QStringLiteral("ffmpeg-dir"));
    options->preview = parser.isSet(QStringLiteral("preview"));
    options->verbose = parser.isSet(QStringLiteral("verbose"));
    return true;
}

QString HostOptions::usage()
{
    QCommandLineParser parser;
    setupParser(parser);
    return parser.helpText();
}

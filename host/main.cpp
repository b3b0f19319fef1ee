// nerova-compress: compresses one image or video file through the plug-in, as a host application does.

#include "HostOptions.h"
#include "JobRunner.h"
#include "PluginLoader.h"
#include "SizeText.h"

#include <NerovaBase/NerovaBase.h>
#include <compressor/ICompressor.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace {

enum ExitStatus { ExitSuccess = 0, ExitFailure = 1, ExitUsage = 2 };

bool verboseMessages = false;

// The plug-in's debug lines are for developers: shown only with --verbose.
void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtDebugMsg && !verboseMessages)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nerova-compress"));

    HostOptions options;
    QString errorText;
    if (!HostOptions::parse(app.arguments(), &options, &errorText)) {
        if (errorText.isEmpty()) {
            QTextStream(stdout) << HostOptions::usage();
            return ExitSuccess;
        }
        err() << "nerova-compress: " << errorText << "\n" << HostOptions::usage();
        return ExitUsage;
    }
    if (!QFileInfo(options.inputPath).isFile()) {
        err() << "nerova-compress: no such file: " << options.inputPath << "\n";
        return ExitUsage;
    }
    verboseMessages = options.verbose;
    qInstallMessageHandler(messageHandler);
    if (!options.ffmpegDir.isEmpty())
        NerovaBaseEntry()->getConfig()[QStringLiteral("kFFmpegPath")] = options.ffmpegDir;

    PluginLoader loader;
    ICompressor* compressor = loader.load();
    if (!compressor) {
        err() << "nerova-compress: cannot load the compressor: " << loader.errorText() << "\n";
        return ExitFailure;
    }
    const QSharedPointer<ICompressTask> task = compressor->createCompressTask(options.toRequest());
    if (!task) {
        err() << "nerova-compress: no compressor for " << options.outputPath << "\n";
        return ExitFailure;
    }

    const qint64 inputSize = QFileInfo(options.inputPath).size();
    JobRunner runner(task);
    if (!runner.run(options.preview)) {
        err() << "nerova-compress: the task could not start (is its tool installed next to "
              << QCoreApplication::applicationFilePath() << "?)\n";
        return ExitFailure;
    }
    const QFileInfo output(options.outputPath);
    QTextStream line(stdout);
    line << "finish code " << runner.finishCode() << " \"" << runner.finishText()
         << "\": " << SizeText::bytes(inputSize) << " -> ";
    if (output.exists())
        line << SizeText::bytes(output.size()) << ", saved " << SizeText::saving(inputSize, output.size());
    else
        line << "no output";
    line << "\n";
    return runner.finishCode() == 0 ? ExitSuccess : ExitFailure;
}

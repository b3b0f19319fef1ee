// nerova-compress: compresses image and video files through the plug-in, as a host application does.

#include "HostOptions.h"
#include "JobRunner.h"
#include "PluginLoader.h"
#include "SizeText.h"

#include <NerovaBase/NerovaBase.h>
#include <compressor/ICompressor.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <sys/resource.h>

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

QTextStream& out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err()
{
    static QTextStream stream(stderr);
    return stream;
}

struct Totals
{
    int files = 0;
    int failed = 0;
    qint64 bytesIn = 0;
    qint64 bytesOut = 0;
};

// Runs one job and prints its line; false when it did not end with finish code 0.
bool runJob(ICompressor* compressor, const HostOptions& options, const HostJob& job, Totals* totals)
{
    ++totals->files;
    const QString prefix =
        options.jobs.size() > 1 ? QDir::toNativeSeparators(job.inputPath) + QStringLiteral(": ") : QString();
    if (!QFileInfo(job.inputPath).isFile()) {
        err() << prefix << "no such file: " << job.inputPath << Qt::endl;
        ++totals->failed;
        return false;
    }
    const QSharedPointer<ICompressTask> task = compressor->createCompressTask(options.toRequest(job));
    if (!task) {
        err() << prefix << "no compressor for " << job.outputPath << Qt::endl;
        ++totals->failed;
        return false;
    }
    QDir().mkpath(QFileInfo(job.outputPath).absolutePath());

    const qint64 inputSize = QFileInfo(job.inputPath).size();
    JobRunner runner(task);
    if (!runner.run(options.preview)) {
        err() << prefix << "the task could not start (is its tool installed next to "
              << QCoreApplication::applicationFilePath() << "?)" << Qt::endl;
        ++totals->failed;
        return false;
    }
    const QFileInfo output(job.outputPath);
    out() << prefix << "finish code " << runner.finishCode() << " \"" << runner.finishText()
          << "\": " << SizeText::bytes(inputSize) << " -> ";
    if (output.exists())
        out() << SizeText::bytes(output.size()) << ", saved " << SizeText::saving(inputSize, output.size());
    else
        out() << "no output";
    out() << Qt::endl;

    const bool succeeded = runner.finishCode() == 0;
    if (succeeded) {
        totals->bytesIn += inputSize;
        totals->bytesOut += output.size();
    } else {
        ++totals->failed;
    }
    return succeeded;
}

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
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
            out() << HostOptions::usage();
            return ExitSuccess;
        }
        err() << "nerova-compress: " << errorText << "\n" << HostOptions::usage();
        return ExitUsage;
    }
    if (options.jobs.size() == 1 && !QFileInfo(options.jobs.first().inputPath).isFile()) {
        err() << "nerova-compress: no such file: " << options.jobs.first().inputPath << "\n";
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

    Totals totals;
    for (const HostJob& job : options.jobs)
        runJob(compressor, options, job, &totals);
    if (totals.files > 1) {
        out() << totals.files << " files, " << totals.files - totals.failed << " succeeded, " << totals.failed
              << " failed: " << SizeText::bytes(totals.bytesIn) << " -> " << SizeText::bytes(totals.bytesOut)
              << ", saved " << SizeText::saving(totals.bytesIn, totals.bytesOut) << Qt::endl;
    }
    if (options.stats) {
        err() << QStringLiteral("cpu: host %1 s, tools %2 s")
                     .arg(cpuSeconds(RUSAGE_SELF), 0, 'f', 3)
                     .arg(cpuSeconds(RUSAGE_CHILDREN), 0, 'f', 3)
              << Qt::endl;
    }
    return totals.failed == 0 ? ExitSuccess : ExitFailure;
}

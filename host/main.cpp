// nerova-compress: compresses image and video files and folders through the plug-in, as a host
// application does.

#include "DryRun.h"
#include "HostOptions.h"
#include "Job.h"
#include "JobPlanner.h"
#include "JobScheduler.h"
#include "JsonReport.h"
#include "MediaKind.h"
#include "PluginLoader.h"
#include "ProgressDisplay.h"
#include "RunSummary.h"
#include "SignalWatcher.h"
#include "TextReport.h"
#include "ToolVersions.h"

#include <NerovaBase/NerovaBase.h>
#include <compressor/FormatTable.h>
#include <compressor/ICompressor.h>

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

enum ExitStatus { ExitSuccess = 0, ExitFailure = 1, ExitUsage = 2, ExitInterrupted = 130 };

// How long the running tasks get to report their abort before the host gives up on them.
constexpr int abortGraceMs = 15000;

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
    QCoreApplication::setApplicationVersion(QStringLiteral(NEROVA_VERSION));

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
    verboseMessages = options.verbose;
    qInstallMessageHandler(messageHandler);
    // The plug-in's categories are not even formatted unless asked for.
    if (!options.verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("nerova.*.debug=false"));
    if (!options.ffmpegDir.isEmpty())
        NerovaBaseEntry()->getConfig()[QStringLiteral("kFFmpegPath")] = options.ffmpegDir;

    PluginLoader loader;
    ICompressor* compressor = loader.load();
    if (!compressor) {
        err() << "nerova-compress: cannot load the compressor: " << loader.errorText() << Qt::endl;
        return ExitFailure;
    }

    const FormatTable* formats = loader.formatTable();
    if (!formats) {
        err() << "nerova-compress: the compressor has no format table: " << loader.errorText() << Qt::endl;
        return ExitFailure;
    }
    if (options.version) {
        for (const QString& line : ToolVersions::lines(loader.version(), options.ffmpegDir))
            out() << line << "\n";
        out().flush();
        return ExitSuccess;
    }
    const MediaKind kinds(*formats);
    JobPlanner planner(options, kinds);
    if (!planner.plan(&errorText)) {
        err() << "nerova-compress: " << errorText << Qt::endl;
        return ExitUsage;
    }
    for (const QString& note : planner.notes())
        err() << "nerova-compress: " << note << Qt::endl;
    if (planner.jobs().isEmpty())
        err() << "nerova-compress: no images or videos to compress" << Qt::endl;
    if (options.targetSize > 0 && std::any_of(planner.jobs().cbegin(), planner.jobs().cend(),
                                              [](const HostJob& job) { return job.isVideo; }))
        err() << "nerova-compress: --target-size applies to images only; videos are compressed as usual"
              << Qt::endl;
    if (options.dryRun) {
        DryRun(options, kinds).print(planner.jobs(), planner.refusals());
        return ExitSuccess;
    }

    // Signals are caught before the first tool starts, so an interrupt always goes through the aborts.
    SignalWatcher signalWatcher;
    if (!signalWatcher.isValid())
        err() << "nerova-compress: cannot watch for interrupts" << Qt::endl;

    RunSummary summary;
    std::unique_ptr<Report> report;
    if (options.json)
        report = std::make_unique<JsonReport>();
    else
        report = std::make_unique<TextReport>(!options.outputDir.isEmpty());
    const int processors = std::max(1, QThread::idealThreadCount());
    const int parallelJobs = options.parallelJobs > 0 ? options.parallelJobs : processors;
    options.imageToolThreads = std::max(1, processors / parallelJobs);
    JobScheduler scheduler(compressor, options, planner.jobs(), planner.refusals(), parallelJobs);
    ProgressDisplay display(scheduler, summary);
    bool interrupted = false;

    QObject::connect(&scheduler, &JobScheduler::jobProgressed, &display, &ProgressDisplay::onJobProgressed);
    QObject::connect(&scheduler, &JobScheduler::jobFinished, &app, [&](const JobResult& result) {
        summary.add(result);
        display.hide();
        report->fileFinished(result);
        display.show();
    });
    QObject::connect(&scheduler, &JobScheduler::allFinished, &app, [&] {
        display.stop();
        int status = ExitSuccess;
        if (interrupted)
            status = ExitInterrupted;
        else if (summary.failed() > 0 || summary.aborted() > 0 || summary.overTarget() > 0)
            status = ExitFailure;
        report->runFinished(summary, scheduler.notStartedCount(), interrupted, status);
        QCoreApplication::exit(status);
    });
    QObject::connect(&signalWatcher, &SignalWatcher::signalReceived, &app, [&](int signalNumber) {
        if (interrupted)
            return; // already stopping
        interrupted = true;
        display.hide();
        err() << "nerova-compress: " << (signalNumber == SIGTERM ? "terminated" : "interrupted")
              << ", stopping " << scheduler.runningJobs().size() << " running job(s)" << Qt::endl;
        display.show();
        QTimer::singleShot(abortGraceMs, &app, [] {
            err() << "nerova-compress: some tasks did not report their abort" << Qt::endl;
            QCoreApplication::exit(ExitInterrupted);
        });
        scheduler.cancel();
    });

    scheduler.start();
    const int status = QCoreApplication::exec();
    if (options.stats) {
        err() << QStringLiteral("cpu: host %1 s, tools %2 s")
                     .arg(cpuSeconds(RUSAGE_SELF), 0, 'f', 3)
                     .arg(cpuSeconds(RUSAGE_CHILDREN), 0, 'f', 3)
              << Qt::endl;
    }
    return status;
}

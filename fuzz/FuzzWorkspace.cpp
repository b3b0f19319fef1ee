#include "FuzzWorkspace.h"

extern "C" {
#include <libavutil/log.h>
}

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <cstdlib>

namespace {

void dropMessage(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

FuzzWorkspace& FuzzWorkspace::instance()
{
    static FuzzWorkspace workspace;
    return workspace;
}

FuzzWorkspace::FuzzWorkspace() : mDir(QDir::tempPath() + QStringLiteral("/nerova-fuzz-XXXXXX"))
{
    if (!mDir.isValid())
        std::abort();
    // Millions of runs would otherwise fill the log with the expected complaints about broken input. Debug
    // lines are switched off rather than dropped, so that they are not even composed.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    qInstallMessageHandler(dropMessage);
    av_log_set_level(AV_LOG_QUIET);
    // Never read or write the user's own settings.
    if (qEnvironmentVariableIsEmpty("NEROVA_CONFIG_FILE"))
        qputenv("NEROVA_CONFIG_FILE", QFile::encodeName(mDir.filePath(QStringLiteral("settings.json"))));
}

QString FuzzWorkspace::writeFile(const QString& name, const uint8_t* data, size_t size) const
{
    const QString path = mDir.filePath(name);
    QFile file(path);
    // A file that cannot be written would make every later run test nothing: stop loudly instead.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        std::abort();
    return path;
}

// Every target sets the workspace up before libFuzzer runs its first input.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzWorkspace::instance();
    return 0;
}

#include "OpenSslTool.h"

#include <QProcess>
#include <QStandardPaths>

namespace OpenSslTool {

bool available()
{
    return !QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty();
}

QByteArray run(const QStringList& arguments, const QByteArray& input)
{
    QProcess process;
    process.start(QStringLiteral("openssl"), arguments);
    if (!process.waitForStarted())
        return {};
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {};
    QByteArray output = process.readAllStandardOutput();
    // Distinguishes an empty result from a failure.
    if (output.isNull())
        output = QByteArray("");
    return output;
}

} // namespace OpenSslTool

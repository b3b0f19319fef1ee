#include "WorkingCopyCompressTask.h"

#include "FinishCode.h"
#include "FormatTable.h"
#include "ImageFormat.h"
#include "OutputFile.h"
#include "ToolCommand.h"

#include <base/LogCategories.h>

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

WorkingCopyCompressTask::WorkingCopyCompressTask(const QVariantMap& params) : ToolRunTask(params) {}

WorkingCopyCompressTask::~WorkingCopyCompressTask()
{
    stopToolForDestruction();
    // mWorkDir removes the working folder; the output was never touched by an unfinished run.
}

bool WorkingCopyCompressTask::prepareWorkingCopy()
{
    const QString suffix = QFileInfo(mInputPath).suffix();
    auto workDir = std::make_unique<QTemporaryDir>(
        QStandardPaths::writableLocation(QStandardPaths::TempLocation) + QStringLiteral("/compress-XXXXXX"));
    if (!workDir->isValid()) {
        qCDebug(lcCompressor) << "Cannot create a working folder:" << workDir->errorString();
        return false;
    }
    mWorkDir = std::move(workDir);
    mTempDirPath = mWorkDir->path();
    mTempInputPath = mTempDirPath + QStringLiteral("/temporaryImage_1.") + suffix;
    mTempOutputPath = mTempDirPath + QStringLiteral("/temporaryImage_2.") + suffix;
    // The tools only read their input: a link to the source spares reading and writing it once more.
    // A failed copy is left to the tool, which reports the missing source as unreadable.
    if (!QFile::link(QFileInfo(mInputPath).absoluteFilePath(), mTempInputPath))
        OutputFile::copyScratch(mInputPath, mTempInputPath);
    return true;
}

bool WorkingCopyCompressTask::prepareWorkingCopy(Outcome* refusal)
{
    if (prepareWorkingCopy())
        return true;
    *refusal = {FinishCode::NoWorkingDirectory, FinishCode::noWorkingDirectoryText()};
    return false;
}

std::optional<ToolRunTask::ToolStep> WorkingCopyCompressTask::prepareRun(int kind, Outcome* refusal)
{
    Q_UNUSED(kind)
    if (!prepareWorkingCopy(refusal))
        return std::nullopt;
    return ToolStep{toolPath(), toolCommand().arguments()};
}

ToolRunTask::Outcome WorkingCopyCompressTask::deliverRun(int exitCode)
{
    const QFileInfo source(mTempInputPath);
    const QFileInfo result(mTempOutputPath);
    const qint64 sourceSize = source.exists() ? source.size() : 0;
    const qint64 resultSize = result.exists() ? result.size() : 0;

    // A re-encode that came out larger is worth less than the original: deliver the source's bytes.
    // Only a source the tool read through stands in: a truncated one is never delivered.
    const bool larger = exitCode == 0 && sourceSize < resultSize;
    if ((larger || (keepsSourceOnExit(exitCode) && source.exists())) && sourceMayStandIn()) {
        if (!OutputFile::replace(mOutputPath, mTempInputPath))
            return {FinishCode::NoOutput, QString()};
        return {exitCode, QString(), true};
    }
    if (exitCode == corruptSourceExitCode())
        return {FinishCode::CorruptSource, FinishCode::corruptSourceText()};
    // An empty file is no result either.
    if (resultSize == 0)
        return {FinishCode::NoOutput, QString()};
    // A tool that failed may have left a partial file: it never replaces the user's output.
    if (exitCode != 0)
        return {exitCode, QString()};
    QString error;
    if (!OutputFile::moveInto(mOutputPath, mTempOutputPath, &error)) {
        qCDebug(lcCompressor) << "Cannot write" << mOutputPath << error;
        return {FinishCode::NoOutput, QString()};
    }
    return {FinishCode::Success, QString(), true};
}

bool WorkingCopyCompressTask::sourceMayStandIn() const
{
    // The source's bytes hold neither the smaller size nor the metadata policy that was asked for.
    if (!mPolicy.isDefault())
        return false;
    const ImageFormat output = imageFormatForSuffix(FormatTable::suffixOfPath(mOutputPath));
    return output != ImageFormat::Unknown && sniffImageFormat(mTempInputPath) == output;
}

void WorkingCopyCompressTask::cleanUpRun()
{
    mWorkDir.reset();
}

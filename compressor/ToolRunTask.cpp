#include "ToolRunTask.h"

#include "FinishCode.h"
#include "FormatTable.h"
#include "ScopedFlag.h"
#include <base/LogCategories.h>

#include <QFileInfo>
#include <QPointer>

#include <algorithm>

namespace {

// A request value may go onto a command line only when it cannot pass for an option or for more than
// one value: no white space, no double quote, no leading "-".
bool isSafeRequestValue(const QString& value)
{
    if (value.startsWith(QLatin1Char('-')))
        return false;
    return std::none_of(value.cbegin(), value.cend(),
                        [](QChar c) { return c.isSpace() || c == QLatin1Char('"'); });
}

// The size from a tool's "resized=WxH" line, or empty.
QString resizedSize(const QByteArray& output)
{
    for (const QByteArray& line : output.split('\n')) {
        if (!line.startsWith("resized="))
            continue;
        const QByteArray size = line.mid(8).trimmed();
        const QList<QByteArray> sides = size.split('x');
        bool w = false, h = false;
        if (sides.size() == 2 && sides.at(0).toInt(&w) > 0 && sides.at(1).toInt(&h) > 0 && w && h)
            return QString::fromLatin1(size);
    }
    return {};
}

// A target size is a positive whole number of bytes; 0 for none, -1 for anything else.
qint64 targetSizeOf(const QVariantMap& params)
{
    const QString text = params.value(QStringLiteral("targetSize")).toString();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const qint64 size = text.toLongLong(&ok);
    const bool digitsOnly = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit(); });
    return ok && digitsOnly && size > 0 ? size : -1;
}

// Enough of a tool's complaints to say why it failed, without keeping a chatty tool's whole output.
constexpr int toolMessageLimit = 4096;

} // namespace

ToolRunTask::ToolRunTask(const QVariantMap& params)
    : CompressTask(params), mInputPath(params.value(QStringLiteral("inputPath")).toString()),
      mOutputPath(params.value(QStringLiteral("outputPath")).toString()),
      mQuality(requestValueOr(params, QStringLiteral("quality"),
                              FormatTable::instance().forOutputPath(mOutputPath).defaultQuality)),
      mThreads(params.value(QStringLiteral("threads")).toString()), mPolicy(params),
      mTargetSize(targetSizeOf(params))
{}

QString ToolRunTask::requestValueOr(const QVariantMap& params, const QString& key, const QString& fallback)
{
    const QString value = params.value(key).toString();
    return value.isEmpty() ? fallback : value;
}

ToolRunTask::~ToolRunTask()
{
    stopToolForDestruction();
    // The host may drop the task from a slot on compressFinished, which runs inside the process's own
    // finished signal: the process must outlive that emission.
    if (mProcess && mInProcessSignal)
        mProcess.release()->deleteLater();
}

void ToolRunTask::stopToolForDestruction()
{
    if (!mProcess)
        return;
    mProcess->disconnect(this);
    if (mProcess->state() != QProcess::NotRunning) {
        mProcess->kill();
        mProcess->waitForFinished(killWaitMs);
    }
}

bool ToolRunTask::startTask()
{
    return startRun(0);
}

bool ToolRunTask::startRun(int kind)
{
    if (mRunActive)
        return false; // one run at a time
    const QString tool = toolPath();
    if (!QFileInfo::exists(tool))
        return false;

    mRunActive = true;
    mAborting = false;
    mToolMessages.clear();
    setProperty("resized", QString());
    if (mTargetSize > 0) {
        // A run that delivers nothing reports no target outcome, not an earlier run's.
        setProperty("targetMet", QVariant());
        setProperty("targetQuality", QVariant());
        setProperty("targetEncodes", QVariant());
    }
    const QStringList values = requestValuesForTool();
    if (!mPolicy.isValid() || !std::all_of(values.cbegin(), values.cend(), isSafeRequestValue) ||
        mTargetSize < 0) {
        qCDebug(lcCompressor) << "Refusing request values" << requestValuesForTool();
        endRun({FinishCode::InvalidRequest, FinishCode::invalidRequestText()});
        return false;
    }
    Outcome refusal;
    const std::optional<ToolStep> step = prepareRun(kind, &refusal);
    if (!step) {
        discardRun();
        cleanUpRun();
        endRun(refusal);
        return false;
    }
    launch(*step);
    setStatus(StatusRunning);
    runStarted();
    return true;
}

void ToolRunTask::launch(const ToolStep& step)
{
    // Each step gets a fresh process object; the previous one may still be inside its own signal.
    if (mProcess) {
        mProcess->disconnect(this);
        mProcess.release()->deleteLater();
    }
    mProcess = std::make_unique<QProcess>();
    connect(mProcess.get(), SIGNAL(finished(int, QProcess::ExitStatus)), this,
            SLOT(onCompressFinished(int, QProcess::ExitStatus)));
    connect(mProcess.get(), &QProcess::errorOccurred, this, &ToolRunTask::onProcessError);
    connect(mProcess.get(), &QProcess::readyReadStandardError, this, &ToolRunTask::onStandardError);

    mToolMessages.clear();
    mKeepsOutput = step.keepsOutput;
    if (!step.environment.isEmpty()) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString& variable : step.environment) {
            const int equals = variable.indexOf(QLatin1Char('='));
            environment.insert(variable.left(equals), variable.mid(equals + 1));
        }
        mProcess->setProcessEnvironment(environment);
    }
    mProcess->setProgram(step.program);
    mProcess->setArguments(step.arguments);
    mProcess->setStandardInputFile(QProcess::nullDevice());
    if (!step.keepsOutput)
        mProcess->setStandardOutputFile(QProcess::nullDevice());
    qCDebug(lcCompressor).noquote() << "Starting" << step.program << step.arguments.join(QLatin1Char(' '));
    mProcess->start(QIODevice::ReadOnly);
}

void ToolRunTask::abortTask()
{
    if (!mRunActive || !mProcess || mProcess->state() == QProcess::NotRunning) {
        abortWithoutRun();
        return;
    }
    mAborting = true;
    QPointer<ToolRunTask> self(this);
    mProcess->kill();
    // The completion normally runs inside this wait and reports the abort.
    if (!mProcess->waitForFinished(killWaitMs) && self)
        qCDebug(lcCompressor) << "Can't kill mProcess";
}

void ToolRunTask::onStandardError()
{
    mToolMessages += mProcess->readAllStandardError();
    if (mToolMessages.size() > toolMessageLimit)
        mToolMessages = mToolMessages.right(toolMessageLimit);
}

void ToolRunTask::onProcessError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || !mRunActive)
        return;
    ScopedFlag inProcessSignal(this, mInProcessSignal);
    qCDebug(lcCompressor) << "Cannot start" << mProcess->program() << mProcess->errorString();
    discardRun();
    cleanUpRun();
    if (mAborting)
        endRun({FinishCode::Aborted, FinishCode::abortedText()});
    else
        endRun({FinishCode::ToolFailedToStart, FinishCode::toolFailedToStartText()});
}

void ToolRunTask::onCompressFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (!mRunActive)
        return;
    ScopedFlag inProcessSignal(this, mInProcessSignal);
    onStandardError();
    const QByteArray messages = mToolMessages.trimmed();
    if (exitCode != 0 || exitStatus != QProcess::NormalExit) {
        qCDebug(lcCompressor) << "onFinished:" << exitCode << "," << exitStatus;
        if (!messages.isEmpty())
            qCDebug(lcCompressor).noquote() << QFileInfo(mProcess->program()).fileName() + QLatin1Char(':')
                                            << QString::fromLocal8Bit(messages);
    }

    // A killed or crashed tool may have left anything behind: nothing of it is delivered.
    if (mAborting || exitStatus == QProcess::CrashExit) {
        const Outcome outcome = mAborting ? abortOutcome(exitCode) : crashOutcome(exitCode);
        discardRun();
        cleanUpRun();
        endRun(outcome);
        return;
    }
    const QByteArray output = mKeepsOutput ? mProcess->readAllStandardOutput() : QByteArray();
    const QString resized = resizedSize(output);
    if (!resized.isEmpty())
        setProperty("resized", resized);
    if (const std::optional<ToolStep> next = followUpStep(exitCode, output)) {
        launch(*next);
        return;
    }
    const Outcome outcome = deliverRun(exitCode);
    if (!outcome.delivered)
        discardRun();
    cleanUpRun();
    endRun(outcome);
}

void ToolRunTask::reportTarget(int quality, int encodes)
{
    if (mTargetSize <= 0)
        return;
    const QFileInfo output(mOutputPath);
    setProperty("targetMet", output.isFile() && output.size() <= mTargetSize);
    setProperty("targetQuality", quality);
    setProperty("targetEncodes", encodes);
}

ToolRunTask::Outcome ToolRunTask::crashOutcome(int exitCode) const
{
    Q_UNUSED(exitCode)
    return {FinishCode::ToolCrashed, FinishCode::toolCrashedText()};
}

ToolRunTask::Outcome ToolRunTask::abortOutcome(int exitCode) const
{
    Q_UNUSED(exitCode)
    return {FinishCode::Aborted, FinishCode::abortedText()};
}

void ToolRunTask::endRun(const Outcome& outcome)
{
    mRunActive = false;
    // Why a tool refused, in its own words, for a host that wants to say more than the finish text.
    QString reason;
    if (outcome.code != FinishCode::Success) {
        // Tools say "tool: file: reason"; the file is the task's own working name, of no use to a user.
        const QList<QByteArray> lines = mToolMessages.trimmed().split('\n');
        const QByteArray line = lines.last().trimmed();
        reason =
            QString::fromLocal8Bit(line.mid(line.lastIndexOf(": ") >= 0 ? line.lastIndexOf(": ") + 2 : 0));
    }
    setProperty("toolMessage", reason);
    QPointer<ToolRunTask> self(this);
    emit compressFinished(outcome.code, outcome.text);
    // Stored after the signal: a receiver that handles it synchronously still sees the run as running.
    if (self)
        setStatus(outcome.code == FinishCode::Success ? StatusSucceeded : StatusFailed);
}

std::optional<int> ToolRunTask::targetSearchCeiling() const
{
    bool ok = false;
    const int highest = mQuality.toInt(&ok);
    if (!ok || highest < 0 || highest > 100)
        return std::nullopt;
    return highest;
}

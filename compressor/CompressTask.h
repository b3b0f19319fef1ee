#pragma once

#include <base/NerovaGlobal.h>
#include <compressor/ICompressTask.h>

#include <QVariantMap>

// Common base of the concrete tasks: keeps the request and the run status.
class NEROVA_EXPORT CompressTask : public ICompressTask
{
    Q_OBJECT
public:
    enum Status : qint32 {
        StatusIdle = 0,
        StatusRunning = 1,
        StatusSucceeded = 2,
        StatusFailed = 3,
    };

    explicit CompressTask(const QVariantMap& params);
    ~CompressTask() override;

    bool startTask() override;
    void abortTask() override;
    bool previewTask() override;

    // Inline so a host that loads the plug-in at run time can call them without linking it.
    qint32 status() const { return mStatus; }
    bool isFinished() const { return mStatus == StatusSucceeded || mStatus == StatusFailed; }
    QVariantMap task() const { return mParams; }

protected:
    void setStatus(qint32 status) { mStatus = status; }

    // How long an abort waits for a killed tool to end before it carries on.
    static constexpr int killWaitMs = 500;

private:
    const QVariantMap mParams;
    qint32 mStatus = StatusIdle;
};

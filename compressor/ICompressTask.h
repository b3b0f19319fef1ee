#pragma once

#include <base/NerovaGlobal.h>

#include <QObject>
#include <QString>

// One compression job as the host sees it: start it, maybe abort it, hear back through two signals.
class NEROVA_EXPORT ICompressTask : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~ICompressTask() override;

    // True when the external tool was launched.
    virtual bool startTask() = 0;
    virtual void abortTask() = 0;
    // True when a preview run was launched; only video tasks have one.
    virtual bool previewTask() = 0;

signals:
    void compressProcess(float progress);
    void compressFinished(int finishedCode, QString errorDescription);
};

#pragma once

#include <base/NerovaGlobal.h>

#include <QObject>
#include <QSharedPointer>
#include <QString>

class QRemoteObjectDynamicReplica;
class QRemoteObjectNode;

namespace Nerova {

// Watches an object another process publishes through Qt Remote Objects and signals when it is lost.
class NEROVA_EXPORT RemoteObjectMonitor : public QObject
{
    Q_OBJECT

public:
    explicit RemoteObjectMonitor(QObject* parent = nullptr);
    ~RemoteObjectMonitor() override;

    // Connects a new node to url and watches a dynamic replica of the object published as name, in place
    // of what was watched before. False when the node cannot connect or no replica is acquired; the
    // earlier watch then goes on unchanged.
    bool startMonitoring(const QString& url, const QString& name);

signals:
    // Emitted on the monitoring thread each time the replica's state changes to one that is not valid.
    void disconnectRemoteObject();

private:
    QSharedPointer<QRemoteObjectNode> mNode;
    QSharedPointer<QRemoteObjectDynamicReplica> mReplica;
};

} // namespace Nerova

#include <base/RemoteObjectMonitor.h>

#include <QRemoteObjectDynamicReplica>
#include <QRemoteObjectNode>
#include <QUrl>
#include <base/LogCategories.h>

namespace Nerova {

RemoteObjectMonitor::RemoteObjectMonitor(QObject* parent) : QObject(parent) {}

RemoteObjectMonitor::~RemoteObjectMonitor()
{
    // The replica belongs to the node's connection: it goes first.
    mReplica.reset();
    mNode.reset();
}

bool RemoteObjectMonitor::startMonitoring(const QString& url, const QString& name)
{
    // A replica only hears of its source through the node that acquired it. The new node therefore
    // replaces the old one only together with a new replica: a failed start keeps the earlier watch.
    QSharedPointer<QRemoteObjectNode> node(new QRemoteObjectNode);
    if (!node->connectToNode(QUrl(url, QUrl::TolerantMode)))
        return false;
    QSharedPointer<QRemoteObjectDynamicReplica> replica(node->acquireDynamic(name));
    if (!replica)
        return false;

    QRemoteObjectDynamicReplica* const watched = replica.data();
    QObject::connect(
        watched, &QRemoteObjectReplica::initialized, watched,
        []() { qCDebug(lcBase) << "replica initialized"; }, Qt::DirectConnection);
    QObject::connect(
        watched, &QRemoteObjectReplica::stateChanged, watched,
        [this, watched](QRemoteObjectReplica::State state, QRemoteObjectReplica::State) {
            qCDebug(lcBase).nospace() << "replicate state changed: " << state;
            // Only the replica being watched counts: one on its way out (replaced, or released by the
            // destructor) has nothing more to report.
            if (mReplica.data() != watched || watched->isReplicaValid())
                return;
            qCDebug(lcBase) << "replica disconnectRemoteObject";
            emit disconnectRemoteObject();
        },
        Qt::DirectConnection);

    // The old replica goes before the old node it belongs to.
    mReplica = replica;
    mNode = node;
    return true;
}

} // namespace Nerova

// Guards the remote object monitor's loss signal against a real peer process publishing on a local socket.
#include <base/RemoteObjectMonitor.h>

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

const QString kName = QStringLiteral("Watched");
QStringList gLines; // debug lines; the monitor logs each state change of its replica
int gUrls = 0;

int validStates()
{
    return gLines.count(QStringLiteral("replicate state changed: QRemoteObjectReplica::Valid"));
}

QString newUrl()
{
    return QStringLiteral("local:nerova-rom-%1-%2").arg(QCoreApplication::applicationPid()).arg(++gUrls);
}

// Starts the peer publishing kName on url; empty pointer on failure.
std::unique_ptr<QProcess> startPeer(const QString& url)
{
    auto peer = std::make_unique<QProcess>();
    peer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer->start(QCoreApplication::applicationDirPath() + QStringLiteral("/remoteobjectpeer"), {url, kName});
    while (peer->waitForStarted(10000) && !peer->canReadLine()) {
        if (!peer->waitForReadyRead(10000))
            return nullptr;
    }
    return peer->readLine().trimmed() == "ready" ? std::move(peer) : nullptr;
}

// Starts the monitor on url and waits until its replica is valid.
bool watch(Nerova::RemoteObjectMonitor& monitor, const QString& url)
{
    const int before = validStates();
    return monitor.startMonitoring(url, kName) &&
           QTest::qWaitFor([&] { return validStates() > before; }, 10000);
}

bool kill(std::unique_ptr<QProcess>& peer)
{
    peer->kill();
    return peer->waitForFinished(10000);
}

} // namespace

class TestRemoteObjectMonitor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& line) { gLines << line; });
    }

    void signalsEachLossOnce()
    {
        const QString url = newUrl();
        auto peer = startPeer(url);
        QVERIFY(peer);
        Nerova::RemoteObjectMonitor monitor;
        QSignalSpy lost(&monitor, &Nerova::RemoteObjectMonitor::disconnectRemoteObject);
        QVERIFY(lost.isValid());
        QVERIFY(watch(monitor, url));
        // A start that fails must not end the watch that was running; becoming valid is no loss.
        for (const QString& bad :
             {QString(), QStringLiteral("bogus://host:1234"), QStringLiteral("::: no url")})
            QVERIFY(!monitor.startMonitoring(bad, kName));
        QCOMPARE(lost.count(), 0);

        QVERIFY(kill(peer));
        QVERIFY(lost.wait(10000));
        // The node reconnects to a new peer on the same address: the replica turns valid again, quietly.
        const int valid = validStates();
        peer = startPeer(url);
        QVERIFY(peer);
        QTRY_VERIFY_WITH_TIMEOUT(validStates() > valid, 15000);
        QCOMPARE(lost.count(), 1); // only once, however long the peer stayed away
        QVERIFY(kill(peer));
        QVERIFY(lost.wait(10000));
        QCOMPARE(lost.count(), 2);
    }

    void restartWatchesTheNewPeer()
    {
        const QString firstUrl = newUrl();
        const QString secondUrl = newUrl();
        auto first = startPeer(firstUrl);
        auto second = startPeer(secondUrl);
        QVERIFY(first && second);
        Nerova::RemoteObjectMonitor monitor;
        QSignalSpy lost(&monitor, &Nerova::RemoteObjectMonitor::disconnectRemoteObject);
        QVERIFY(lost.isValid());
        QVERIFY(watch(monitor, firstUrl));
        QVERIFY(watch(monitor, secondUrl));
        // The first peer is no longer watched; the second one is.
        QVERIFY(kill(first));
        QVERIFY(!lost.wait(1000));
        QVERIFY(kill(second));
        QVERIFY(lost.wait(10000));
        QCOMPARE(lost.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestRemoteObjectMonitor)
#include "tst_remoteobjectmonitor.moc"

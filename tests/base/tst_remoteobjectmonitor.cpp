// The remote object monitor against a real peer process publishing over a local socket.

#include <base/RemoteObjectMonitor.h>

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {

QStringList gLines;

void captureDebug(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtDebugMsg)
        gLines.append(message);
    else
        std::fprintf(stderr, "%s: %s\n", context.category, qPrintable(message));
}

const QString kName = QStringLiteral("Watched");

} // namespace

class TestRemoteObjectMonitor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void signalsTheLossOfThePeer();
    void aPeerComingBackIsNoLoss();
    void badUrl_data();
    void badUrl();
    void failedRestartKeepsWatching();
    void restartWatchesTheNewPeer();
    void destroyingTheMonitorEndsTheWatch();

private:
    QString newUrl();
    // Starts the peer publishing kName on url; empty pointer on failure.
    std::unique_ptr<QProcess> startPeer(const QString& url);
    int countLines(const QString& line) const { return gLines.count(line); }

    QtMessageHandler mPreviousHandler = nullptr;
    int mUrlCount = 0;
};

void TestRemoteObjectMonitor::initTestCase()
{
    QVERIFY(QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/remoteobjectpeer"))
                .isExecutable());
    mPreviousHandler = qInstallMessageHandler(captureDebug);
}

void TestRemoteObjectMonitor::init()
{
    gLines.clear();
}

void TestRemoteObjectMonitor::cleanupTestCase()
{
    qInstallMessageHandler(mPreviousHandler);
}

QString TestRemoteObjectMonitor::newUrl()
{
    return QStringLiteral("local:nerova-rom-%1-%2").arg(QCoreApplication::applicationPid()).arg(++mUrlCount);
}

std::unique_ptr<QProcess> TestRemoteObjectMonitor::startPeer(const QString& url)
{
    auto peer = std::make_unique<QProcess>();
    peer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer->start(QCoreApplication::applicationDirPath() + QStringLiteral("/remoteobjectpeer"), {url, kName});
    if (!peer->waitForStarted(10000))
        return nullptr;
    while (!peer->canReadLine()) {
        if (!peer->waitForReadyRead(10000))
            return nullptr;
    }
    if (peer->readLine().trimmed() != "ready")
        return nullptr;
    return peer;
}

void TestRemoteObjectMonitor::signalsTheLossOfThePeer()
{
    const QString url = newUrl();
    auto peer = startPeer(url);
    QVERIFY(peer);

    Nerova::RemoteObjectMonitor monitor;
    QSignalSpy lost(&monitor, &Nerova::RemoteObjectMonitor::disconnectRemoteObject);
    QVERIFY(lost.isValid());
    QVERIFY(monitor.startMonitoring(url, kName));
    QTRY_COMPARE(countLines(QStringLiteral("replica initialized")), 1);
    // Becoming valid is reported and is no loss.
    QCOMPARE(countLines(QStringLiteral("replicate state changed: QRemoteObjectReplica::Valid")), 1);
    QCOMPARE(countLines(QStringLiteral("replica disconnectRemoteObject")), 0);
    QCOMPARE(lost.count(), 0);

    peer->kill();
    QVERIFY(peer->waitForFinished(10000));
    QVERIFY(lost.wait(10000));
    // Only once, however long the peer stays away.
    QVERIFY(!lost.wait(1500));
    QCOMPARE(lost.count(), 1);
    QCOMPARE(countLines(QStringLiteral("replica disconnectRemoteObject")), 1);
    QCOMPARE(countLines(QStringLiteral("replicate state changed: QRemoteObjectReplica::Suspect")), 1);
}

void TestRemoteObjectMonitor::aPeerComingBackIsNoLoss()
{
    const QString url = newUrl();
    auto peer = startPeer(url);
    QVERIFY(peer);
    Nerova::RemoteObjectMonitor monitor;
    QSignalSpy lost(&monitor, &Nerova::RemoteObjectMonitor::disconnectRemoteObject);
    QVERIFY(lost.isValid());
    QVERIFY(monitor.startMonitoring(url, kName));
    QTRY_COMPARE(countLines(QStringLiteral("replica initialized")), 1);

    peer->kill();
    QVERIFY(peer->waitForFinished(10000));
    QVERIFY(lost.wait(10000));

    // The node reconnects to a new peer on the same address: the replica turns valid again, quietly.
    peer = startPeer(url);
    QVERIFY(peer);
    QTRY_COMPARE_WITH_TIMEOUT(
        countLines(QStringLiteral("replicate state changed: QRemoteObjectReplica::Valid")), 2, 15000);
    QCOMPARE(lost.count(), 1);

    peer->kill();
    QVERIFY(peer->waitForFinished(10000));
    QVERIFY(lost.wait(10000));
    QCOMPARE(lost.count(), 2);
}

void TestRemoteObjectMonitor::badUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("empty") << QString();
    QTest::newRow("unknown scheme") << "bogus://host:1234";
    QTest::newRow("not a URL") << "::: not a url :::";
}

void TestRemoteObjectMonitor::badUrl()
{
    QFETCH(QString, url);
    Nerova::RemoteObjectMonitor monitor;
    QSignalSpy lost(&monitor, &Nerova::RemoteObjectMonitor::disconnectRemoteObject);
    QVERIFY(lost.isValid());
    QVERIFY(!monitor.startMonitoring(url, kName));
    QCOMPARE(lost.count(), 0);
}

void TestRemoteObjectMonitor::failedRestartKeepsWatching()
{
    const QString url = newUrl();
    auto peer = startPeer(url);
    QVERIFY(peer);
    Nerova::RemoteObjectMonitor monitor;
    QSignalSpy lost(&monitor, &Nerova::RemoteObjectMonitor::disconnectRemoteObject);
    QVERIFY(lost.isValid());
    QVERIFY(monitor.startMonitoring(url, kName));
    QTRY_COMPARE(countLines(QStringLiteral("replica initialized")), 1);

    // A start that fails must not end the watch that was running.
    QVERIFY(!monitor.startMonitoring(QStringLiteral("bogus://x"), kName));
    peer->kill();
    QVERIFY(peer->waitForFinished(10000));
    QVERIFY(lost.wait(10000));
    QCOMPARE(lost.count(), 1);
}

void TestRemoteObjectMonitor::restartWatchesTheNewPeer()
{
    const QString firstUrl = newUrl();
    const QString secondUrl = newUrl();
    auto first = startPeer(firstUrl);
    auto second = startPeer(secondUrl);
    QVERIFY(first);
    QVERIFY(second);
    Nerova::RemoteObjectMonitor monitor;
    QSignalSpy lost(&monitor, &Nerova::RemoteObjectMonitor::disconnectRemoteObject);
    QVERIFY(lost.isValid());
    QVERIFY(monitor.startMonitoring(firstUrl, kName));
    QTRY_COMPARE(countLines(QStringLiteral("replica initialized")), 1);
    QVERIFY(monitor.startMonitoring(secondUrl, kName));
    QTRY_COMPARE(countLines(QStringLiteral("replica initialized")), 2);

    // The first peer is no longer watched; the second one is.
    first->kill();
    QVERIFY(first->waitForFinished(10000));
    QVERIFY(!lost.wait(1000));
    second->kill();
    QVERIFY(second->waitForFinished(10000));
    QVERIFY(lost.wait(10000));
    QCOMPARE(lost.count(), 1);
}

void TestRemoteObjectMonitor::destroyingTheMonitorEndsTheWatch()
{
    const QString url = newUrl();
    auto peer = startPeer(url);
    QVERIFY(peer);
    int lost = 0;
    {
        Nerova::RemoteObjectMonitor monitor;
        connect(&monitor, &Nerova::RemoteObjectMonitor::disconnectRemoteObject, this, [&] { ++lost; });
        QVERIFY(monitor.startMonitoring(url, kName));
        QTRY_COMPARE(countLines(QStringLiteral("replica initialized")), 1);
    }
    peer->kill();
    QVERIFY(peer->waitForFinished(10000));
    QCoreApplication::processEvents();
    QCOMPARE(lost, 0);
}

QTEST_GUILESS_MAIN(TestRemoteObjectMonitor)
#include "tst_remoteobjectmonitor.moc"

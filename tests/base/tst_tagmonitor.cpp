// Tag monitor and tag point lifetimes, and what the monitor reports.

#include <base/TagMonitor.h>

#include <QtTest>

#include <memory>

namespace {

QStringList gLines;

void captureDebug(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtDebugMsg)
        gLines.append(message);
}

// The lines assertEmpty() writes right now.
QStringList reported(Nerova::TagMonitor& monitor)
{
    gLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureDebug);
    monitor.assertEmpty();
    qInstallMessageHandler(previous);
    return gLines;
}

QSharedPointer<Nerova::TagMonitor> makeMonitor()
{
    QSharedPointer<Nerova::TagMonitor> monitor(new Nerova::TagMonitor);
    monitor->setWeakSelf(monitor);
    return monitor;
}

} // namespace

class TestTagMonitor : public QObject
{
    Q_OBJECT

private slots:
    void reportsLivePointsInOrder();
    void pointOutlivesItsMonitor();
    void nullAndUnknownPointsChangeNothing();
    void pointNames_data();
    void pointNames();
    void pointWithoutALiveMonitor();
    void registeringTwiceLeavesNoEntryBehind();
    void hookingMovesThePoint();
    void pointAddedToASecondMonitor();
};

void TestTagMonitor::reportsLivePointsInOrder()
{
    auto monitor = makeMonitor();
    QCOMPARE(reported(*monitor), QStringList());

    auto a = monitor->makeTagPoint("a");
    auto b = monitor->makeTagPoint("b");
    auto c = monitor->makeTagPoint("c");
    QCOMPARE(reported(*monitor),
             (QStringList{QStringLiteral("tag monitor found: a"), QStringLiteral("tag monitor found: b"),
                          QStringLiteral("tag monitor found: c")}));
    // Reporting changes nothing.
    QCOMPARE(reported(*monitor).size(), 3);

    a.reset();
    c.reset();
    QCOMPARE(reported(*monitor), QStringList{QStringLiteral("tag monitor found: b")});
    b.reset();
    QCOMPARE(reported(*monitor), QStringList());
}

void TestTagMonitor::pointOutlivesItsMonitor()
{
    auto monitor = makeMonitor();
    auto early = monitor->makeTagPoint("early");
    auto late = monitor->makeTagPoint("late");
    QPointer<Nerova::TagMonitor> watch(monitor.data());
    monitor.reset();
    QVERIFY(watch.isNull());
    // Destroyed after the monitor: nothing is left to unregister from, and nothing is touched.
    early.reset();
    QCOMPARE(late->name(), QStringLiteral("late"));
    late.reset();
}

void TestTagMonitor::nullAndUnknownPointsChangeNothing()
{
    auto monitor = makeMonitor();
    auto point = monitor->makeTagPoint("kept");
    monitor->addTagPoint(nullptr);
    monitor->removeTagPoint(nullptr);
    Nerova::TagPoint stranger("stranger", nullptr);
    monitor->removeTagPoint(&stranger);
    QCOMPARE(reported(*monitor), QStringList{QStringLiteral("tag monitor found: kept")});
}

void TestTagMonitor::pointNames_data()
{
    QTest::addColumn<QByteArray>("name"); // null: a null name
    QTest::addColumn<QString>("expected");

    QTest::newRow("null name") << QByteArray() << QString();
    QTest::newRow("empty name") << QByteArray("") << QString();
    QTest::newRow("ascii") << QByteArray("decoder") << QStringLiteral("decoder");
    QTest::newRow("UTF-8") << QByteArray("Größe 😀") << QStringLiteral("Größe 😀");
}

void TestTagMonitor::pointNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, expected);
    auto monitor = makeMonitor();
    auto point = monitor->makeTagPoint(name.isNull() ? nullptr : name.constData());
    QCOMPARE(point->name(), expected);
    QCOMPARE(reported(*monitor), QStringList{QStringLiteral("tag monitor found: ") + expected});

    // Hooking again with a null name keeps the name.
    point->hookByMonitor(nullptr, monitor);
    QCOMPARE(point->name(), expected);
}

void TestTagMonitor::pointWithoutALiveMonitor()
{
    // A monitor nobody told about its owner makes unregistered points instead of failing.
    Nerova::TagMonitor unowned;
    auto point = unowned.makeTagPoint("orphan");
    QCOMPARE(point->name(), QStringLiteral("orphan"));
    QCOMPARE(reported(unowned), QStringList());
    point.reset();

    // The same for a point given an empty monitor pointer.
    {
        Nerova::TagPoint loose("loose", QSharedPointer<Nerova::TagMonitor>());
    }

    // And for a monitor whose owning pointer has already let go (as while it is being destroyed).
    Nerova::TagMonitor monitor;
    QSharedPointer<Nerova::TagMonitor> owner(&monitor, [](Nerova::TagMonitor*) {});
    monitor.setWeakSelf(owner);
    owner.reset();
    auto late = monitor.makeTagPoint("late");
    QCOMPARE(late->name(), QStringLiteral("late"));
    QCOMPARE(reported(monitor), QStringList());
}

void TestTagMonitor::registeringTwiceLeavesNoEntryBehind()
{
    auto monitor = makeMonitor();
    auto point = monitor->makeTagPoint("twice");
    monitor->addTagPoint(point.get());
    point->hookByMonitor("twice", monitor);
    QCOMPARE(reported(*monitor), QStringList{QStringLiteral("tag monitor found: twice")});
    point.reset();
    // A dangling entry would make this read a destroyed point.
    QCOMPARE(reported(*monitor), QStringList());
}

void TestTagMonitor::hookingMovesThePoint()
{
    auto first = makeMonitor();
    auto second = makeMonitor();
    auto point = first->makeTagPoint("mover");
    point->hookByMonitor("moved", second);
    QCOMPARE(reported(*first), QStringList());
    QCOMPARE(reported(*second), QStringList{QStringLiteral("tag monitor found: moved")});
    point.reset();
    QCOMPARE(reported(*second), QStringList());
}

void TestTagMonitor::pointAddedToASecondMonitor()
{
    // addTagPoint with a point that belongs elsewhere: its entry still goes when the point does.
    auto home = makeMonitor();
    auto other = makeMonitor();
    auto point = home->makeTagPoint("shared");
    Nerova::TagPoint* raw = point.get();
    other->addTagPoint(raw);
    QCOMPARE(reported(*other), QStringList{QStringLiteral("tag monitor found: shared")});
    point.reset();
    QCOMPARE(reported(*home), QStringList());
    QCOMPARE(reported(*other), QStringList());

    // Removed by hand, the entry stays gone.
    auto again = home->makeTagPoint("again");
    other->addTagPoint(again.get());
    other->removeTagPoint(again.get());
    QCOMPARE(reported(*other), QStringList());
    again.reset();
    QCOMPARE(reported(*home), QStringList());
}

QTEST_GUILESS_MAIN(TestTagMonitor)
#include "tst_tagmonitor.moc"

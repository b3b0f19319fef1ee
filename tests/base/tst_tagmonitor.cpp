// Guards which tag points a tag monitor reports: live ones only, however points and monitors come and go.
#include <base/TagMonitor.h>

#include <QtTest>

namespace {

QStringList gLines;

// The names assertEmpty() reports right now.
QStringList reported(Nerova::TagMonitor& monitor)
{
    gLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& line) { gLines << line; });
    monitor.assertEmpty();
    qInstallMessageHandler(previous);
    return gLines.replaceInStrings(QStringLiteral("tag monitor found: "), QString());
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
    void reportsLivePointsInOrder()
    {
        auto monitor = makeMonitor();
        auto a = monitor->makeTagPoint("a");
        auto b = monitor->makeTagPoint("Größe 😀");
        auto c = monitor->makeTagPoint(nullptr);
        QCOMPARE(reported(*monitor), (QStringList{"a", "Größe 😀", ""}));
        QCOMPARE(reported(*monitor).size(), 3); // reporting changes nothing
        // Null and unknown points change nothing.
        monitor->addTagPoint(nullptr);
        monitor->removeTagPoint(nullptr);
        Nerova::TagPoint stranger("stranger", nullptr);
        monitor->removeTagPoint(&stranger);
        a.reset();
        c.reset();
        QCOMPARE(reported(*monitor), QStringList{"Größe 😀"});
        // A point that outlives its monitor has nothing left to unregister from.
        QPointer<Nerova::TagMonitor> watch(monitor.data());
        monitor.reset();
        QVERIFY(watch.isNull());
        QCOMPARE(b->name(), QStringLiteral("Größe 😀"));
        b.reset();
    }

    void entriesGoWithTheirPoints()
    {
        // A dangling entry would make a later report read a destroyed point.
        auto home = makeMonitor();
        auto other = makeMonitor();
        auto twice = home->makeTagPoint("twice");
        home->addTagPoint(twice.get());
        twice->hookByMonitor(nullptr, home); // a null name keeps the name
        QCOMPARE(reported(*home), QStringList{"twice"});
        twice.reset();
        QCOMPARE(reported(*home), QStringList());

        auto mover = home->makeTagPoint("mover");
        mover->hookByMonitor("moved", other);
        QCOMPARE(reported(*home), QStringList());
        QCOMPARE(reported(*other), QStringList{"moved"});
        auto shared = home->makeTagPoint("shared");
        other->addTagPoint(shared.get());
        QCOMPARE(reported(*other), (QStringList{"moved", "shared"}));
        mover.reset();
        shared.reset();
        QCOMPARE(reported(*home), QStringList());
        QCOMPARE(reported(*other), QStringList());
    }

    void pointsWithoutALiveMonitor()
    {
        // A monitor nobody told about its owner makes unregistered points instead of failing, and so does
        // one whose owning pointer has already let go (as while it is being destroyed).
        Nerova::TagMonitor unowned;
        auto orphan = unowned.makeTagPoint("orphan");
        QCOMPARE(reported(unowned), QStringList());
        Nerova::TagMonitor monitor;
        QSharedPointer<Nerova::TagMonitor> owner(&monitor, [](Nerova::TagMonitor*) {});
        monitor.setWeakSelf(owner);
        owner.reset();
        auto late = monitor.makeTagPoint("late");
        QCOMPARE(reported(monitor), QStringList());
        Nerova::TagPoint loose("loose", QSharedPointer<Nerova::TagMonitor>());
    }
};

QTEST_GUILESS_MAIN(TestTagMonitor)
#include "tst_tagmonitor.moc"

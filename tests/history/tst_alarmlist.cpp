#include "AlarmList.h"
#include "HistoryFixture.h"
#include "HistoryStore.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

TTrafficEvent Status(int fleet, int ident, const QString &name, int number, const QString &text,
                     bool known = true)
{
    TTrafficEvent e = MakeEvent(TrafficKind::Status, fleet, ident, name);
    e.status = number;
    e.statusText = text;
    e.statusKnown = known;
    return e;
}

// The steps of a scenario: "E<name>" an emergency from <name>, "S<name>" an
// ordinary status, "A" acknowledge the oldest open one (closing the popup),
// "A<name>" acknowledge <name>'s alarm (the Emergencies window), "M" mute,
// "O<name>" <name> overdue on its check-in timer, "H<name>" <name> heard again,
// "V" the operator chose the sound for overdue stations.
// A station number of its own for each name.
int IdentOf(const QString &who)
{
    int sum = 0;
    for (const QChar c : who)
        sum = sum * 7 + c.unicode();
    return 1100 + sum % 900;
}

class TScenario {
public:
    TAlarmList alarms;
    QDateTime now{QDate(2026, 12, 9), QTime(9, 0), Qt::UTC};
    TScenario()
    {
        alarms.SetClock([this] { return now; });
    }
    void Run(const QStringList &steps)
    {
        for (const QString &step : steps) {
            now = now.addSecs(1);
            const QString who = step.mid(1);
            switch (step[0].toLatin1()) {
            case 'E':
                alarms.Raise(Status(101, IdentOf(who), who, 95, "Emergency"));
                break;
            case 'S':
                alarms.Raise(Status(101, IdentOf(who), who, 22, "Departed"));
                break;
            case 'A':
                if (who.isEmpty()) {
                    QVERIFY(alarms.OldestOpen());
                    QVERIFY(alarms.Acknowledge(alarms.OldestOpen()->id));
                } else {
                    for (const TAlarm &a : alarms.Alarms())
                        if (a.name == who && a.IsOpen())
                            QVERIFY(alarms.Acknowledge(a.id));
                }
                break;
            case 'M':
                alarms.Mute();
                break;
            case 'O':
                alarms.RaiseOverdue(101, IdentOf(who), who, "overdue", now);
                break;
            case 'H':
                alarms.ClearOverdue(101, IdentOf(who), OverdueHeardAgain);
                break;
            case 'V':
                alarms.SetOverdueSounds(true);
                break;
            }
        }
    }
    QString Shown() const { return alarms.OldestOpen() ? alarms.OldestOpen()->name : QStringLiteral("-"); }
};

} // namespace

class TestAlarmList : public QObject {
    Q_OBJECT
private slots:
    void scenario_data();
    void scenario();
    void acknowledgementOrder();
    void foldCountsAndLastTime();
    void onlyKnownEmergencies_data();
    void onlyKnownEmergencies();
    void openAgainAfterRestart();
    void idsNotReusedAfterRestart();
};

void TestAlarmList::scenario_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("open");
    QTest::addColumn<bool>("sound");
    QTest::addColumn<int>("overdue");
    QTest::newRow("one emergency") << QStringList{"ECar2"} << "Car2" << 1 << true << 0;
    QTest::newRow("ordinary status after it") << QStringList{"ECar2", "SCar1"} << "Car2" << 1 << true << 0;
    QTest::newRow("second emergency does not hide the first")
        << QStringList{"ECar2", "ETruck"} << "Car2" << 2 << true << 0;
    QTest::newRow("closing shows the next oldest")
        << QStringList{"ECar2", "ETruck", "A"} << "Truck" << 1 << true << 0;
    QTest::newRow("all closed") << QStringList{"ECar2", "ETruck", "A", "A"} << "-" << 0 << false << 0;
    QTest::newRow("newer acknowledged in window")
        << QStringList{"ECar2", "ETruck", "ATruck"} << "Car2" << 1 << true << 0;
    QTest::newRow("a repeat folds: one acknowledgement")
        << QStringList{"ECar2", "ECar2", "ECar2", "A"} << "-" << 0 << false << 0;
    QTest::newRow("repeat after acknowledgement is a new alarm")
        << QStringList{"ECar2", "A", "ECar2"} << "Car2" << 1 << true << 0;
    QTest::newRow("repeat keeps its place behind an older one")
        << QStringList{"ECar2", "ETruck", "ETruck", "A"} << "Truck" << 1 << true << 0;
    QTest::newRow("a repeat leaves the mute")
        << QStringList{"ECar2", "M", "ECar2"} << "Car2" << 1 << false << 0;
    QTest::newRow("muted") << QStringList{"ECar2", "ETruck", "M"} << "Car2" << 2 << false << 0;
    QTest::newRow("new emergency after mute sounds")
        << QStringList{"ECar2", "M", "ETruck"} << "Car2" << 2 << true << 0;
    QTest::newRow("mute with none open is nothing") << QStringList{"M", "ECar2"} << "Car2" << 1 << true << 0;
    // Overdue stations: listed and counted apart, never on the popup, sounded only by choice.
    QTest::newRow("overdue is listed, not shown, silent") << QStringList{"OCar2"} << "-" << 0 << false << 1;
    QTest::newRow("overdue once per station") << QStringList{"OCar2", "OCar2"} << "-" << 0 << false << 1;
    QTest::newRow("an older overdue does not take the popup")
        << QStringList{"OCar1", "ECar2"} << "Car2" << 1 << true << 1;
    QTest::newRow("acknowledging the emergency leaves the overdue")
        << QStringList{"OCar1", "ECar2", "A"} << "-" << 0 << false << 1;
    QTest::newRow("overdue sounds when chosen") << QStringList{"V", "OCar2"} << "-" << 0 << true << 1;
    QTest::newRow("heard again clears it") << QStringList{"V", "OCar2", "HCar2"} << "-" << 0 << false << 0;
    QTest::newRow("heard without an overdue changes nothing")
        << QStringList{"ECar2", "HCar2"} << "Car2" << 1 << true << 0;
    QTest::newRow("a new overdue ends the mute when chosen")
        << QStringList{"V", "OCar2", "M", "OTruck"} << "-" << 0 << true << 2;
    QTest::newRow("overdue again after heard is a new alarm")
        << QStringList{"OCar2", "HCar2", "OCar2"} << "-" << 0 << false << 1;
}

void TestAlarmList::scenario()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, shown);
    QFETCH(int, open);
    QFETCH(bool, sound);
    QFETCH(int, overdue);
    TScenario s;
    s.Run(steps);
    QCOMPARE(s.Shown(), shown);
    QCOMPARE(s.alarms.OpenCount(), open);
    QCOMPARE(s.alarms.SoundWanted(), sound);
    QCOMPARE(s.alarms.OpenOverdueCount(), overdue);
    // The popup's choice agrees: never an overdue station.
    QCOMPARE(s.alarms.OldestOpenKnown() ? s.alarms.OldestOpenKnown()->name : QStringLiteral("-"), shown);
}

void TestAlarmList::acknowledgementOrder()
{
    // What was acknowledged when is kept, and nothing is acknowledged twice.
    TScenario s;
    QSignalSpy changed(&s.alarms, &TAlarmList::Changed);
    s.Run({"EA", "EB", "EC", "AB", "A", "A"});
    QCOMPARE(changed.count(), 6);
    const QList<TAlarm> &all = s.alarms.Alarms();
    QCOMPARE(all.size(), 3);
    const QDateTime start(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC);
    QCOMPARE(all[0].acknowledged, start.addSecs(5));
    QCOMPARE(all[1].acknowledged, start.addSecs(4));
    QCOMPARE(all[2].acknowledged, start.addSecs(6));
    QVERIFY(!s.alarms.Acknowledge(all[1].id));
    QCOMPARE(changed.count(), 6);
}

void TestAlarmList::foldCountsAndLastTime()
{
    TScenario s;
    QSignalSpy added(&s.alarms, &TAlarmList::Added);
    QSignalSpy updated(&s.alarms, &TAlarmList::Updated);
    s.Run({"ECar2", "ETruck", "ECar2", "ECar2"});
    QCOMPARE(s.alarms.Alarms().size(), 2);
    const TAlarm &car = s.alarms.Alarms()[0];
    const QDateTime start(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC);
    QCOMPARE(car.count, 3);
    QCOMPARE(car.time, start.addSecs(1));
    QCOMPARE(car.last, start.addSecs(4));
    QCOMPARE(added.count(), 2);
    QCOMPARE(updated.count(), 2);
    QCOMPARE(updated.last().at(0).toInt(), 0);
}

void TestAlarmList::onlyKnownEmergencies_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<bool>("known");
    QTest::addColumn<int>("direction");
    QTest::addColumn<bool>("alarm");
    QTest::newRow("95 known") << 95 << true << int(TrafficDirection::In) << true;
    QTest::newRow("99 known") << 99 << true << int(TrafficDirection::In) << true;
    QTest::newRow("94 known") << 94 << true << int(TrafficDirection::In) << false;
    QTest::newRow("97 unknown") << 97 << false << int(TrafficDirection::In) << true;
    QTest::newRow("94 unknown") << 94 << false << int(TrafficDirection::In) << false;
    QTest::newRow("95 sent by the console") << 95 << true << int(TrafficDirection::Out) << false;
}

void TestAlarmList::onlyKnownEmergencies()
{
    QFETCH(int, number);
    QFETCH(bool, known);
    QFETCH(int, direction);
    QFETCH(bool, alarm);
    TAlarmList alarms;
    TTrafficEvent e = Status(101, 1102, "Car 2", number, "x", known);
    e.direction = TrafficDirection(direction);
    QCOMPARE(alarms.Raise(e) != 0, alarm);
    QCOMPARE(alarms.OpenCount(), alarm ? 1 : 0);
}

void TestAlarmList::openAgainAfterRestart()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.db"));
    {
        TFailures failures;
        THistoryStore store(path, failures.Sink());
        TScenario s;
        s.alarms.SetStore(&store);
        // An overdue station is not kept: the check-in timers raise it again.
        s.Run({"ECar2", "OVan", "ETruck", "EBus", "ATruck"});
        QVERIFY(store.Flush(5s));
    }
    // The next run: Car2 and Bus are open again, oldest first, and known as restored.
    TAlarmList alarms;
    alarms.Restore(THistoryStore::LoadOpenAlarms(path));
    QCOMPARE(alarms.OpenCount(), 2);
    QCOMPARE(alarms.RestoredOpenCount(), 2);
    QCOMPARE(alarms.OldestOpen()->name, QStringLiteral("Car2"));
    QVERIFY(alarms.SoundWanted());
    {
        TFailures failures;
        THistoryStore store(path, failures.Sink());
        alarms.SetStore(&store);
        QVERIFY(alarms.Acknowledge(alarms.OldestOpen()->id));
        QVERIFY(store.Flush(5s));
    }
    const QList<TAlarm> left = THistoryStore::LoadOpenAlarms(path);
    QCOMPARE(left.size(), 1);
    QCOMPARE(left[0].name, QStringLiteral("Bus"));
}

void TestAlarmList::idsNotReusedAfterRestart()
{
    TAlarmList first;
    first.SetClock([] { return QDateTime(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC); });
    const qint64 a = first.Raise(Status(101, 1102, "Car 2", 95, "Emergency"));
    TAlarmList second; // a clock that went back: the restored ids still count
    second.SetClock([] { return QDateTime(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC); });
    second.Restore(first.Alarms());
    const qint64 b = second.Raise(Status(101, 1103, "Car 3", 95, "Emergency"));
    QVERIFY(b > a);
    QCOMPARE(second.OpenCount(), 2);
}

QTEST_GUILESS_MAIN(TestAlarmList)
#include "tst_alarmlist.moc"

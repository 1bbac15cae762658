#include "BoxRecorder.h"
#include "HistoryQuery.h"
#include "TrafficHub.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

// What the hub asked the desktop for, in order.
class TNotifierRecorder final : public IAlarmNotifier {
public:
    struct TCall {
        qint64 id = 0;
        int status = 0;
        int times = 0;
        int count = 0;
    };
    QList<TCall> escalations;
    QList<qint64> acknowledged;

    void Escalate(const TAlarm &alarm, int times) override
    {
        escalations.append({alarm.id, alarm.status, times, alarm.count});
    }
    void Acknowledged(qint64 alarmId) override { acknowledged.append(alarmId); }
};

TTrafficEvent Emergency(int fleet, int ident, const QString &name, int status)
{
    TTrafficEvent event;
    event.direction = TrafficDirection::In;
    event.kind = TrafficKind::Status;
    event.fleet = fleet;
    event.ident = ident;
    event.name = name;
    event.status = status;
    event.statusText = QStringLiteral("Emergency %1").arg(status);
    event.statusKnown = true;
    return event;
}

} // namespace

// The hub's escalation of open alarms under a clock the test moves: when it
// comes, how often, what stops it, and the history row of each.
class TstAlarmEscalation : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void escalatesAfterTimeThenEveryTime_data();
    void escalatesAfterTimeThenEveryTime();
    void acknowledgementStopsIt();
    void foldedRepeatKeepsTheClock();
    void zeroNeverEscalates();
    void eachAlarmHasItsOwnClock();
    void timerFiresByItself();

private:
    // The hub in the scratch directory with escalation after seconds, on the
    // test's clock unless realClock.
    void MakeHub(int seconds, bool realClock = false);
    void Advance(int seconds) { now_ = now_.addSecs(seconds); }
    // The stored escalation rows, oldest first: "name status text".
    QStringList EscalationRows();

    std::unique_ptr<TBoxRecorder> boxes_;
    std::unique_ptr<QTemporaryDir> dir_;
    QString previousDir_;
    std::unique_ptr<TTrafficHub> hub_;
    TNotifierRecorder notifier_;
    QDateTime now_;
};

void TstAlarmEscalation::init()
{
    boxes_ = std::make_unique<TBoxRecorder>();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    previousDir_ = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_->path()));
    notifier_ = {};
    now_ = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);
}

void TstAlarmEscalation::cleanup()
{
    hub_.reset();
    QDir::setCurrent(previousDir_);
    dir_.reset();
    QVERIFY2(boxes_->boxes.isEmpty(), qPrintable(boxes_->Lines().join('\n')));
    boxes_.reset();
}

void TstAlarmEscalation::MakeHub(int seconds, bool realClock)
{
    QFile file(PreferencesFileName);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[Alarms]\nEscalateAfterSeconds=%1\n").arg(seconds).toUtf8());
    file.close();
    hub_ = std::make_unique<TTrafficHub>(dir_->filePath(QStringLiteral("history.db")));
    QCOMPARE(hub_->Preferences().escalateAfterSeconds, seconds);
    if (!realClock)
        hub_->SetClock([this] { return now_; });
    hub_->SetNotifier(&notifier_);
}

QStringList TstAlarmEscalation::EscalationRows()
{
    hub_->FlushHistory();
    THistoryQuery query(dir_->filePath(QStringLiteral("history.db")));
    QStringList rows;
    const QList<THistoryRow> page = query.Page({}, std::nullopt, 1000);
    for (auto it = page.crbegin(); it != page.crend(); ++it)
        if (it->event.kind == TrafficKind::AlarmEscalated) {
            if (it->event.direction != TrafficDirection::Local)
                rows << QStringLiteral("not local");
            rows << QStringLiteral("%1 %2 %3").arg(it->event.name).arg(*it->event.status).arg(it->event.text);
        }
    return rows;
}

void TstAlarmEscalation::escalatesAfterTimeThenEveryTime_data()
{
    QTest::addColumn<int>("seconds");
    QTest::newRow("the default minute") << 60;
    QTest::newRow("ten seconds") << 10;
    QTest::newRow("an hour") << 3600;
}

void TstAlarmEscalation::escalatesAfterTimeThenEveryTime()
{
    QFETCH(int, seconds);
    MakeHub(seconds);
    hub_->TrafficEvent(Emergency(100, 1000, QStringLiteral("Base"), 95));
    QCOMPARE(hub_->NextEscalation(), now_.addSecs(seconds));
    Advance(seconds - 1);
    hub_->EscalateDue();
    QVERIFY(notifier_.escalations.isEmpty());
    Advance(1);
    hub_->EscalateDue();
    QCOMPARE(notifier_.escalations.size(), 1);
    QCOMPARE(notifier_.escalations[0].times, 1);
    QCOMPARE(notifier_.escalations[0].status, 95);
    // Not again until another full wait.
    QCOMPARE(hub_->NextEscalation(), now_.addSecs(seconds));
    Advance(seconds - 1);
    hub_->EscalateDue();
    QCOMPARE(notifier_.escalations.size(), 1);
    Advance(1);
    hub_->EscalateDue();
    Advance(seconds);
    hub_->EscalateDue();
    QCOMPARE(notifier_.escalations.size(), 3);
    QCOMPARE(notifier_.escalations[2].times, 3);
    QCOMPARE(EscalationRows(), QStringList({"Base 95 1", "Base 95 2", "Base 95 3"}));
}

void TstAlarmEscalation::acknowledgementStopsIt()
{
    MakeHub(60);
    hub_->TrafficEvent(Emergency(100, 1000, QStringLiteral("Base"), 95));
    const qint64 id = hub_->Alarms().OldestOpen()->id;
    Advance(60);
    hub_->EscalateDue();
    QCOMPARE(notifier_.escalations.size(), 1);
    QVERIFY(hub_->AcknowledgeAlarm(id));
    QCOMPARE(notifier_.acknowledged, QList<qint64>({id}));
    QVERIFY(!hub_->NextEscalation().isValid());
    Advance(3600);
    hub_->EscalateDue();
    QCOMPARE(notifier_.escalations.size(), 1);
    QCOMPARE(EscalationRows(), QStringList({"Base 95 1"}));
}

// A repeat adds to the alarm it folds into; the alarm has still waited since
// its first emergency, so the repeat does not put the reminder off.
void TstAlarmEscalation::foldedRepeatKeepsTheClock()
{
    MakeHub(60);
    hub_->TrafficEvent(Emergency(100, 1000, QStringLiteral("Base"), 95));
    const QDateTime due = hub_->NextEscalation();
    Advance(50);
    hub_->TrafficEvent(Emergency(100, 1000, QStringLiteral("Base"), 95));
    QCOMPARE(hub_->Alarms().OpenCount(), 1);
    QCOMPARE(hub_->NextEscalation(), due);
    Advance(10);
    hub_->EscalateDue();
    QCOMPARE(notifier_.escalations.size(), 1);
    QCOMPARE(notifier_.escalations[0].count, 2);
}

void TstAlarmEscalation::zeroNeverEscalates()
{
    MakeHub(0);
    hub_->TrafficEvent(Emergency(100, 1000, QStringLiteral("Base"), 95));
    QVERIFY(!hub_->NextEscalation().isValid());
    Advance(86400);
    hub_->EscalateDue();
    QVERIFY(notifier_.escalations.isEmpty());
    QVERIFY(EscalationRows().isEmpty());
    // Turned on while the alarm is open: it has waited since it opened.
    TPreferences preferences = hub_->Preferences();
    preferences.escalateAfterSeconds = 30;
    hub_->SetPreferences(preferences);
    QCOMPARE(hub_->NextEscalation(), now_.addSecs(30 - 86400));
    hub_->EscalateDue();
    QCOMPARE(notifier_.escalations.size(), 1);
}

void TstAlarmEscalation::eachAlarmHasItsOwnClock()
{
    MakeHub(60);
    hub_->TrafficEvent(Emergency(100, 1000, QStringLiteral("Base"), 95));
    const qint64 base = hub_->Alarms().Alarms().constLast().id;
    Advance(30);
    hub_->TrafficEvent(Emergency(101, 1101, QStringLiteral("Car 1"), 99));
    const qint64 car = hub_->Alarms().Alarms().constLast().id;
    Advance(30);
    hub_->EscalateDue();
    QCOMPARE(notifier_.escalations.size(), 1);
    QCOMPARE(notifier_.escalations[0].id, base);
    QCOMPARE(hub_->NextEscalation(), now_.addSecs(30));
    Advance(30);
    hub_->EscalateDue();
    QCOMPARE(notifier_.escalations.size(), 2);
    QCOMPARE(notifier_.escalations[1].id, car);
    QCOMPARE(EscalationRows(), QStringList({"Base 95 1", "Car 1 99 1"}));
}

// Nobody calls EscalateDue here: the hub's own timer does, on the real clock.
void TstAlarmEscalation::timerFiresByItself()
{
    MakeHub(1, true);
    hub_->TrafficEvent(Emergency(100, 1000, QStringLiteral("Base"), 95));
    QTRY_COMPARE_WITH_TIMEOUT(notifier_.escalations.size(), 2, 5000);
    QCOMPARE(notifier_.escalations[1].times, 2);
}

QTEST_GUILESS_MAIN(TstAlarmEscalation)
#include "tst_alarmescalation.moc"

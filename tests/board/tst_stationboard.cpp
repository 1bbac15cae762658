#include "BoardCsv.h"
#include "BoardHistory.h"
#include "HistoryDatabase.h"
#include "HistoryStore.h"
#include "StationBoard.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QDateTime T0 = QDateTime(QDate(2026, 12, 9), QTime(8, 0), Qt::UTC);

TTrafficEvent Frame(TrafficKind kind, TStationKey from, const QDateTime &time, const QString &name = {})
{
    TTrafficEvent e;
    e.time = time;
    e.kind = kind;
    e.fleet = from.fleet;
    e.ident = from.ident;
    e.name = name.isEmpty() ? QStringLiteral("%1-%2").arg(from.fleet).arg(from.ident) : name;
    return e;
}

TTrafficEvent Status(TStationKey from, const QDateTime &time, int number, bool known = true)
{
    TTrafficEvent e = Frame(TrafficKind::Status, from, time);
    e.status = number;
    e.statusKnown = known;
    e.statusText = known ? (number >= 95 ? QStringLiteral("Help") : QStringLiteral("On duty"))
                         : QStringLiteral("Status:%1").arg(number);
    return e;
}

// A state as one line: a failed comparison names the station and the field.
QString Describe(const TStationTraffic &t)
{
    QStringList open;
    for (const TOpenEmergency &e : t.emergencies)
        open << QStringLiteral("%1 %2").arg(e.status).arg(e.text);
    return QStringLiteral("%1 name=%2 heard=%3 status=%4/%5/%6@%7 message=%8@%9 emergencies=[%10]")
        .arg(StationNumberText(t.key), t.heardName, t.lastHeard.toString(Qt::ISODateWithMs),
             t.status ? QString::number(*t.status) : QStringLiteral("-"), t.statusText)
        .arg(t.statusKnown)
        .arg(t.statusTime.toString(Qt::ISODateWithMs), t.lastMessage,
             t.messageTime.toString(Qt::ISODateWithMs), open.join(QLatin1Char(',')));
}

QStringList Describe(const QList<TStationTraffic> &all)
{
    QStringList lines;
    for (const TStationTraffic &t : all)
        lines << Describe(t);
    return lines;
}

} // namespace

class TestStationBoard : public QObject {
    Q_OBJECT
private slots:
    void init();
    void eachFrameKindUpdatesItsFields_data();
    void eachFrameKindUpdatesItsFields();
    void directoryNamesRowsAndRenameKeepsTheRow();
    void emergencyOpenUntilAcknowledged();
    void agesTickOnlyWhileWatched();
    void busyLineChangesToldTogether();
    void ageText_data();
    void ageText();
    void checkinRules_data();
    void checkinRules();
    void overdueRaisedAtDeadlineAndClearedWhenHeard();
    void directoryEditNeverResetsATimer();
    void timersSurviveARestart_data();
    void timersSurviveARestart();
    void damagedCheckinFile();
    void rebuildEqualsLiveFrames();
    void rebuildFromUnusableFile();
    void neutralisedCells_data();
    void neutralisedCells();
    void exportCsv();

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QDateTime now_;
    TStationBoard::TClock Clock()
    {
        return [this] { return now_; };
    }
};

void TestStationBoard::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    now_ = T0;
}

void TestStationBoard::eachFrameKindUpdatesItsFields_data()
{
    QTest::addColumn<TTrafficEvent>("event");
    QTest::addColumn<QStringList>("heard"); // stations that get a row and a time heard
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("alarm");
    const TStationKey a{101, 1001}, b{102, 2002};
    const QDateTime t = T0.addSecs(-30);
    QTest::newRow("call") << Frame(TrafficKind::Call, a, t) << QStringList{"101-1001"} << ""
                          << ""
                          << "";
    QTest::newRow("call end") << Frame(TrafficKind::CallEnd, a, t) << QStringList{"101-1001"} << ""
                              << ""
                              << "";
    QTest::newRow("status known") << Status(a, t, 23) << QStringList{"101-1001"} << "23 On duty"
                                  << ""
                                  << "";
    QTest::newRow("status unknown") << Status(a, t, 42, false) << QStringList{"101-1001"} << "Status:42"
                                    << ""
                                    << "";
    QTest::newRow("emergency") << Status(a, t, 97) << QStringList{"101-1001"} << "97 Help"
                               << ""
                               << "EMERGENCY 97 Help";
    TTrafficEvent shortMessage = Frame(TrafficKind::ShortMessage, a, t);
    shortMessage.text = QStringLiteral("=1+1 back at base");
    QTest::newRow("short message") << shortMessage << QStringList{"101-1001"} << ""
                                   << "=1+1 back at base"
                                   << "";
    TTrafficEvent longMessage = Frame(TrafficKind::LongMessage, a, t);
    longMessage.text = QString(100, QLatin1Char('x')) + QStringLiteral("\r\nsecond line");
    QTest::newRow("long message") << longMessage << QStringList{"101-1001"} << ""
                                  << QString(60, QLatin1Char('x')) + QChar(0x2026) << "";
    TTrafficEvent ptt = Frame(TrafficKind::PttId, a, t);
    ptt.fleet2 = a.fleet;
    ptt.ident2 = a.ident;
    QTest::newRow("PTT ID") << ptt << QStringList{"101-1001"} << ""
                            << ""
                            << "";
    TTrafficEvent decode = Frame(TrafficKind::CallDecode, a, t);
    decode.fleet2 = b.fleet;
    decode.ident2 = b.ident;
    decode.name2 = QStringLiteral("Truck 2");
    QTest::newRow("call decode: both stations") << decode << QStringList{"101-1001", "102-2002"} << ""
                                                << ""
                                                << "";
    TTrafficEvent out = Status(a, t, 23);
    out.direction = TrafficDirection::Out;
    QTest::newRow("status sent: not heard") << out << QStringList{} << ""
                                            << ""
                                            << "";
    TTrafficEvent ack;
    ack.time = t;
    ack.kind = TrafficKind::Acknowledgement;
    ack.text = QStringLiteral("Success");
    QTest::newRow("acknowledgement: no station") << ack << QStringList{} << ""
                                                 << ""
                                                 << "";
}

void TestStationBoard::eachFrameKindUpdatesItsFields()
{
    QFETCH(TTrafficEvent, event);
    QFETCH(QStringList, heard);
    QFETCH(QString, status);
    QFETCH(QString, message);
    QFETCH(QString, alarm);
    TStationBoard board(nullptr, Clock());
    board.TrafficEvent(event);
    QStringList rows;
    for (int row = 0; row < board.rowCount(); ++row) {
        rows << board.index(row, TStationBoard::StationColumn).data().toString();
        QCOMPARE(board.TrafficAt(row).lastHeard, event.time);
        QCOMPARE(board.index(row, TStationBoard::AgeColumn).data().toString(), QStringLiteral("30 s ago"));
    }
    QCOMPARE(rows, heard);
    if (heard.isEmpty())
        return;
    QCOMPARE(board.index(0, TStationBoard::StatusColumn).data().toString(), status);
    QCOMPARE(board.index(0, TStationBoard::StatusTimeColumn).data().toString().isEmpty(), status.isEmpty());
    QCOMPARE(board.index(0, TStationBoard::MessageColumn).data().toString(), message);
    if (!message.isEmpty())
        QCOMPARE(board.index(0, TStationBoard::MessageColumn).data(Qt::ToolTipRole).toString(), event.text);
    QCOMPARE(board.index(0, TStationBoard::AlarmColumn).data().toString(), alarm);
    QCOMPARE(board.index(0, 0).data(TStationBoard::AlarmRole).toBool(), !alarm.isEmpty());
    if (heard.size() == 2)
        QCOMPARE(board.NameAt(1), QStringLiteral("Truck 2"));
}

void TestStationBoard::directoryNamesRowsAndRenameKeepsTheRow()
{
    TStationBoard board(nullptr, Clock());
    board.SetDirectory({{QStringLiteral("Car 1"), 101, 1001}, {QStringLiteral("Base"), 100, 1000}});
    QCOMPARE(board.rowCount(), 2);
    // A station heard but not in the directory shows its numbers.
    board.TrafficEvent(Status({103, 3003}, T0, 23));
    QCOMPARE(board.rowCount(), 3);
    const int unknown = board.RowOf({103, 3003});
    QCOMPARE(board.NameAt(unknown), QStringLiteral("103-3003"));
    // Named in the directory later: the same row, its state kept.
    QSignalSpy removed(&board, &QAbstractItemModel::rowsRemoved);
    board.SetDirectory({{QStringLiteral("Car 1"), 101, 1001},
                        {QStringLiteral("Base"), 100, 1000},
                        {QStringLiteral("Truck 3"), 103, 3003}});
    QCOMPARE(board.RowOf({103, 3003}), unknown);
    QCOMPARE(board.NameAt(unknown), QStringLiteral("Truck 3"));
    QCOMPARE(board.TrafficAt(unknown).status, 23);
    // Renamed: still the same row.
    board.SetDirectory({{QStringLiteral("Car 1"), 101, 1001},
                        {QStringLiteral("Base"), 100, 1000},
                        {QStringLiteral("Truck 3 (spare)"), 103, 3003}});
    QCOMPARE(board.RowOf({103, 3003}), unknown);
    QCOMPARE(board.index(unknown, TStationBoard::NameColumn).data().toString(),
             QStringLiteral("Truck 3 (spare)"));
    // Dropped from the directory: a station never heard goes, one heard stays.
    board.SetDirectory({{QStringLiteral("Car 1"), 101, 1001}});
    QCOMPARE(board.rowCount(), 2);
    QCOMPARE(board.RowOf({100, 1000}), -1);
    QCOMPARE(board.NameAt(board.RowOf({103, 3003})), QStringLiteral("103-3003"));
    QCOMPARE(board.TrafficAt(board.RowOf({103, 3003})).status, 23);
    QCOMPARE(removed.size(), 1);
}

void TestStationBoard::emergencyOpenUntilAcknowledged()
{
    TStationBoard board(nullptr, Clock());
    const TStationKey a{101, 1001};
    board.TrafficEvent(Status(a, T0, 95));
    board.TrafficEvent(Status(a, T0.addSecs(1), 97));
    // A later ordinary status does not close an emergency: only the operator does.
    board.TrafficEvent(Status(a, T0.addSecs(2), 23));
    const QModelIndex alarm = board.index(0, TStationBoard::AlarmColumn);
    QCOMPARE(alarm.data().toString(), QStringLiteral("EMERGENCY 97 Help (2 open)"));
    TTrafficEvent ack = Status(a, T0.addSecs(3), 97);
    ack.kind = TrafficKind::EmergencyAcknowledged;
    ack.direction = TrafficDirection::Local;
    board.TrafficEvent(ack);
    QCOMPARE(alarm.data().toString(), QStringLiteral("EMERGENCY 95 Help"));
    ack.status = 95;
    board.TrafficEvent(ack);
    QCOMPARE(alarm.data().toString(), QString());
    QVERIFY(!alarm.data(TStationBoard::AlarmRole).toBool());
    // The acknowledgement is the operator's, not a frame heard.
    QCOMPARE(board.TrafficAt(0).lastHeard, T0.addSecs(2));
}

void TestStationBoard::agesTickOnlyWhileWatched()
{
    TStationBoard board(nullptr, Clock());
    board.SetUpdateDelay(0);
    board.TrafficEvent(Status({101, 1001}, T0, 23));
    board.TrafficEvent(Status({101, 1002}, T0, 23));
    QVERIFY(!board.AgesTicking());
    board.WatchAges(true);
    board.WatchAges(true);
    QSignalSpy changed(&board, &QAbstractItemModel::dataChanged);
    QVERIFY(changed.wait(1500));
    const QModelIndex from = changed.first().at(0).toModelIndex(), to = changed.first().at(1).toModelIndex();
    QCOMPARE(from, board.index(0, TStationBoard::AgeColumn));
    QCOMPARE(to, board.index(1, TStationBoard::AgeColumn));
    QCOMPARE(changed.first().at(2).value<QList<int>>(), QList<int>{Qt::DisplayRole});
    board.WatchAges(false);
    QVERIFY(board.AgesTicking());
    board.WatchAges(false);
    QVERIFY(!board.AgesTicking());
}

void TestStationBoard::busyLineChangesToldTogether()
{
    TStationBoard board(nullptr, Clock());
    board.SetUpdateDelay(0);
    for (int i = 0; i < 4; ++i)
        board.TrafficEvent(Frame(TrafficKind::Call, {101, 1000 + i}, T0));
    board.SetUpdateDelay(40);
    QSignalSpy changed(&board, &QAbstractItemModel::dataChanged);
    QElapsedTimer spell;
    spell.start();
    // The first change of a quiet spell is told at once; a call touches only the
    // time heard and the age.
    board.TrafficEvent(Frame(TrafficKind::Call, {101, 1000}, T0.addSecs(1)));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed[0][0].toModelIndex().column(), int(TStationBoard::HeardColumn));
    QCOMPARE(changed[0][1].toModelIndex().column(), int(TStationBoard::AgeColumn));
    // Those that follow within the spell come together at its end, one per row,
    // spanning every column that changed.
    board.TrafficEvent(Status({101, 1001}, T0.addSecs(2), 23));
    TTrafficEvent message = Frame(TrafficKind::ShortMessage, {101, 1001}, T0.addSecs(3));
    message.text = QStringLiteral("hello");
    board.TrafficEvent(message);
    board.TrafficEvent(Frame(TrafficKind::Call, {101, 1002}, T0.addSecs(3)));
    QCOMPARE(changed.size(), 1);
    QTRY_COMPARE(changed.size(), 3);
    QVERIFY(spell.elapsed() >= 40);
    QCOMPARE(changed[1][0].toModelIndex(), board.index(1, TStationBoard::StatusColumn));
    QCOMPARE(changed[1][1].toModelIndex(), board.index(1, TStationBoard::MessageColumn));
    QCOMPARE(changed[2][0].toModelIndex(), board.index(2, TStationBoard::HeardColumn));
}

void TestStationBoard::ageText_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("just now") << qint64(0) << "0 s ago";
    QTest::newRow("59 s") << qint64(59) << "59 s ago";
    QTest::newRow("1 min") << qint64(60) << "1 min ago";
    QTest::newRow("59 min") << qint64(3599) << "59 min ago";
    QTest::newRow("2 h 5 min") << qint64(2 * 3600 + 5 * 60 + 7) << "2 h 5 min ago";
    QTest::newRow("1 day") << qint64(86400 + 5) << "1 day ago (%1)";
    QTest::newRow("3 days") << qint64(3 * 86400) << "3 days ago (%1)";
    QTest::newRow("clock behind") << qint64(-10) << "0 s ago";
}

void TestStationBoard::ageText()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    const QDateTime then = T0.addSecs(-seconds);
    if (text.contains(QLatin1String("%1")))
        text = text.arg(then.toLocalTime().date().toString(Qt::ISODate));
    QCOMPARE(TStationBoard::AgeText(then, T0), text);
}

void TestStationBoard::checkinRules_data()
{
    QTest::addColumn<int>("all");
    QTest::addColumn<int>("fleet101");
    QTest::addColumn<int>("station");    // for 101-1001; -1 for none
    QTest::addColumn<QList<int>>("due"); // minutes after start for 101-1001, 101-1002, 102-2001; 0 for none
    QTest::newRow("none") << 0 << 0 << -1 << QList<int>{0, 0, 0};
    QTest::newRow("all") << 30 << 0 << -1 << QList<int>{30, 30, 30};
    QTest::newRow("fleet over all") << 30 << 10 << -1 << QList<int>{10, 10, 30};
    QTest::newRow("station over fleet") << 30 << 10 << 5 << QList<int>{5, 10, 30};
    QTest::newRow("station exempt") << 30 << 10 << 0 << QList<int>{0, 10, 30};
    QTest::newRow("fleet only") << 0 << 10 << -1 << QList<int>{10, 10, 0};
}

void TestStationBoard::checkinRules()
{
    QFETCH(int, all);
    QFETCH(int, fleet101);
    QFETCH(int, station);
    QFETCH(QList<int>, due);
    TStationBoard board(nullptr, Clock());
    const QList<TStationKey> keys{{101, 1001}, {101, 1002}, {102, 2001}};
    for (const TStationKey &key : keys)
        board.TrafficEvent(Frame(TrafficKind::Call, key, T0));
    TCheckinSettings settings;
    if (all)
        settings.all = TCheckinRule{all, T0};
    if (fleet101)
        settings.fleets.insert(101, {fleet101, T0});
    if (station >= 0)
        settings.stations.insert(keys[0], {station, T0});
    board.SetCheckins(settings);
    QSignalSpy raised(&board, &TStationBoard::OverdueRaised);
    for (int i = 0; i < keys.size(); ++i) {
        QVERIFY(!board.OverdueAt(board.RowOf(keys[i])));
        const QString text =
            board.index(board.RowOf(keys[i]), TStationBoard::CheckinColumn).data().toString();
        QCOMPARE(text.section(QLatin1Char(','), 0, 0),
                 due[i] ? QStringLiteral("every %1 min").arg(due[i]) : QString());
    }
    // Each goes overdue exactly at its own time.
    QList<int> distinct;
    for (int m : due)
        if (m && !distinct.contains(m))
            distinct << m;
    std::sort(distinct.begin(), distinct.end());
    for (int m : distinct) {
        QCOMPARE(board.NextDeadline(), T0.addSecs(m * 60));
        now_ = T0.addSecs(m * 60 - 1);
        board.CheckDeadlines();
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(board.OverdueAt(board.RowOf(keys[i])).has_value(), due[i] && due[i] < m);
        now_ = T0.addSecs(m * 60);
        board.CheckDeadlines();
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(board.OverdueAt(board.RowOf(keys[i])).has_value(), due[i] && due[i] <= m);
    }
    QCOMPARE(raised.size(), int(std::count_if(due.begin(), due.end(), [](int m) { return m > 0; })));
    QVERIFY(!board.NextDeadline().isValid());
}

void TestStationBoard::overdueRaisedAtDeadlineAndClearedWhenHeard()
{
    TStationBoard board(nullptr, Clock());
    const TStationKey car{101, 1001};
    board.SetDirectory({{QStringLiteral("Car 1"), 101, 1001}});
    TCheckinSettings settings;
    settings.stations.insert(car, {15, T0});
    board.SetCheckins(settings);
    now_ = T0.addSecs(60);
    board.TrafficEvent(Frame(TrafficKind::Call, car, now_));
    const QDateTime due = now_.addSecs(15 * 60);
    QCOMPARE(board.NextDeadline(), due);
    QSignalSpy raised(&board, &TStationBoard::OverdueRaised);
    QSignalSpy cleared(&board, &TStationBoard::OverdueCleared);
    // Late by 400 ms, as a timer that fired late would be.
    now_ = due.addMSecs(400);
    board.CheckDeadlines();
    QCOMPARE(raised.size(), 1);
    const auto overdue = raised.first().at(0).value<TOverdue>();
    QCOMPARE(overdue.label, QStringLiteral("Car 1 (101-1001)"));
    QCOMPARE(overdue.minutes, 15);
    QCOMPARE(overdue.deadline, due);
    QCOMPARE(overdue.lastHeard, T0.addSecs(60));
    QVERIFY(overdue.raised.msecsTo(overdue.deadline) > -1000);
    const int row = board.RowOf(car);
    QVERIFY(board.index(row, 0).data(TStationBoard::AlarmRole).toBool());
    QVERIFY(board.index(row, TStationBoard::AlarmColumn)
                .data()
                .toString()
                .startsWith(QStringLiteral("overdue since")));
    // Checking again raises nothing twice.
    now_ = now_.addSecs(5 * 60);
    board.CheckDeadlines();
    QCOMPARE(raised.size(), 1);
    // Heard: cleared, and the next deadline counts from then.
    board.TrafficEvent(Status(car, now_, 23));
    QCOMPARE(cleared.size(), 1);
    QCOMPARE(cleared.first().at(1).toDateTime(), now_);
    QVERIFY(!board.OverdueAt(row));
    QCOMPARE(board.NextDeadline(), now_.addSecs(15 * 60));
    // Lifting the rule clears an open overdue as well.
    now_ = now_.addSecs(16 * 60);
    board.CheckDeadlines();
    QCOMPARE(raised.size(), 2);
    board.SetCheckins({});
    QCOMPARE(cleared.size(), 2);
    QVERIFY(!cleared.last().at(1).toDateTime().isValid());
}

void TestStationBoard::directoryEditNeverResetsATimer()
{
    TStationBoard board(nullptr, Clock());
    const TStationKey car{101, 1001};
    board.TrafficEvent(Frame(TrafficKind::Call, car, T0));
    TCheckinSettings settings;
    settings.all = TCheckinRule{10, T0};
    board.SetCheckins(settings);
    now_ = T0.addSecs(9 * 60);
    board.SetDirectory({{QStringLiteral("Car 1"), 101, 1001}});
    board.SetDirectory({{QStringLiteral("Car One"), 101, 1001}});
    QCOMPARE(board.NextDeadline(), T0.addSecs(10 * 60));
    now_ = T0.addSecs(10 * 60);
    board.CheckDeadlines();
    QVERIFY(board.OverdueAt(board.RowOf(car)));
    board.SetDirectory({{QStringLiteral("Car 1"), 101, 1001}});
    QVERIFY(board.OverdueAt(board.RowOf(car)));
}

void TestStationBoard::timersSurviveARestart_data()
{
    QTest::addColumn<bool>("countDowntime");
    QTest::addColumn<int>("heardBeforeStop"); // minutes before the console stopped
    QTest::addColumn<int>("downMinutes");
    QTest::addColumn<int>("dueAfterStart"); // minutes after the new start; <= 0: overdue at start
    QTest::addColumn<QString>("alarm");
    // A 30-minute check-in; the console stops at T0.
    QTest::newRow("paused: due after the restart") << false << 20 << 60 << 10 << "";
    QTest::newRow("paused: was overdue before stop") << false << 40 << 60 << 0 << "overdue since";
    QTest::newRow("counted: due while down") << true << 20 << 60 << 0 << "overdue (console was down from";
    QTest::newRow("counted: not due yet") << true << 5 << 10 << 15 << "";
    QTest::newRow("counted: was overdue before stop") << true << 40 << 60 << 0 << "overdue since";
}

void TestStationBoard::timersSurviveARestart()
{
    QFETCH(bool, countDowntime);
    QFETCH(int, heardBeforeStop);
    QFETCH(int, downMinutes);
    QFETCH(int, dueAfterStart);
    QFETCH(QString, alarm);
    const QString file = dir_->filePath(CheckinFileName);
    const TStationKey car{101, 1001};
    QList<TStationTraffic> history;
    {
        now_ = T0.addSecs(-3 * 3600);
        TStationBoard first(nullptr, Clock());
        QCOMPARE(first.OpenCheckinFile(file), QString());
        TCheckinSettings settings;
        settings.stations.insert(car, {30, now_});
        settings.countDowntime = countDowntime;
        first.SetCheckins(settings);
        now_ = T0.addSecs(-heardBeforeStop * 60);
        first.TrafficEvent(Frame(TrafficKind::Call, car, now_));
        history = first.Traffic();
        now_ = T0; // stops here
    }
    now_ = T0.addSecs(downMinutes * 60);
    const QDateTime start = now_;
    TStationBoard second(nullptr, Clock());
    QSignalSpy raised(&second, &TStationBoard::OverdueRaised);
    QCOMPARE(second.OpenCheckinFile(file), QString());
    QCOMPARE(second.Checkins().stations.value(car).minutes, 30);
    second.Rebuild(history);
    const int row = second.RowOf(car);
    QVERIFY(row >= 0);
    const QString shown = second.index(row, TStationBoard::AlarmColumn).data().toString();
    QVERIFY2(alarm.isEmpty() ? shown.isEmpty() : shown.startsWith(alarm), qPrintable(shown));
    QCOMPARE(raised.size(), dueAfterStart <= 0 ? 1 : 0);
    if (dueAfterStart > 0) {
        QCOMPARE(second.NextDeadline(), start.addSecs(dueAfterStart * 60));
    } else if (alarm.contains(QStringLiteral("down"))) {
        QVERIFY(!raised.first().at(0).value<TOverdue>().downtime.isEmpty());
    }
}

void TestStationBoard::damagedCheckinFile()
{
    const QString file = dir_->filePath(CheckinFileName);
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write("[Checkins]\nAll=soon\nCountDowntime=maybe\n[Fleets]\n101=15\nabc=5\n[Stations]\n1-2-3=5\n");
    out.close();
    TStationBoard board(nullptr, Clock());
    const QString problem = board.OpenCheckinFile(file);
    QVERIFY2(problem.contains(QStringLiteral("Checkins/All is 'soon'")), qPrintable(problem));
    QVERIFY(problem.contains(QStringLiteral("not on or off")));
    QVERIFY(problem.contains(QStringLiteral("Fleets/abc")));
    QVERIFY(problem.contains(QStringLiteral("Stations/1-2-3")));
    // What could be read is kept; the rest is the defaults.
    QVERIFY(!board.Checkins().all);
    QCOMPARE(board.Checkins().fleets.value(101).minutes, 15);
    QVERIFY(!board.Checkins().countDowntime);
    // Rewritten whole: the next start reads it without a word.
    TStationBoard again(nullptr, Clock());
    QCOMPARE(again.OpenCheckinFile(file), QString());
    QCOMPARE(again.Checkins().fleets.value(101).minutes, 15);
}

void TestStationBoard::rebuildEqualsLiveFrames()
{
    // A recorded mix of everything the console logs, fed to the live board and, as
    // the traffic hub does, to a real history.db with its alarms.
    const QString file = dir_->filePath(QStringLiteral("history.db"));
    TStationBoard live(nullptr, Clock());
    const QList<TDirectoryStation> directory{{QStringLiteral("Car 1"), 101, 1001},
                                             {QStringLiteral("Base"), 100, 1000},
                                             {QStringLiteral("Never heard"), 109, 1999}};
    live.SetDirectory(directory);
    QStringList failures;
    {
        THistoryOptions options;
        options.retentionDays = 0;
        THistoryStore store(
            file, [&](const QString &m) { failures << m; }, options);
        QRandomGenerator random(24);
        QList<TAlarm> open;
        qint64 nextAlarm = 1;
        QDateTime time = T0.addDays(-3);
        for (int i = 0; i < 3000; ++i) {
            time = time.addMSecs(qint64(random.bounded(90000)) + 1);
            const TStationKey key{100 + int(random.bounded(4)), 1000 + int(random.bounded(12))};
            const QString name = key == TStationKey{101, 1001}   ? QStringLiteral("Car 1")
                                 : key == TStationKey{100, 1000} ? QStringLiteral("Base")
                                                                 : QString();
            const int pick = int(random.bounded(100));
            TTrafficEvent e;
            if (pick < 25) {
                e = Status(key, time, 20 + int(random.bounded(3)), random.bounded(5) != 0);
                if (random.bounded(10) == 0)
                    e = Status(key, time, 95 + int(random.bounded(3)));
            } else if (pick < 45) {
                e = Frame(random.bounded(2) ? TrafficKind::ShortMessage : TrafficKind::LongMessage, key,
                          time);
                e.text = QStringLiteral("message %1\r\nline 2").arg(i);
            } else if (pick < 55) {
                e = Frame(TrafficKind::CallDecode, key, time);
                e.fleet2 = 100 + int(random.bounded(4));
                e.ident2 = 2000 + int(random.bounded(5));
                e.name2 = QStringLiteral("%1-%2").arg(*e.fleet2).arg(*e.ident2);
                e.text = QStringLiteral("start");
            } else if (pick < 65) {
                e = Frame(TrafficKind::PttId, key, time);
                e.fleet2 = key.fleet;
                e.ident2 = key.ident;
            } else if (pick < 75) {
                e = Frame(random.bounded(2) ? TrafficKind::Call : TrafficKind::CallEnd, key, time);
            } else if (pick < 88) {
                e = Status(key, time, 23); // sent, not heard
                e.direction = TrafficDirection::Out;
                if (random.bounded(2)) {
                    e.kind = TrafficKind::ShortMessage;
                    e.text = QStringLiteral("out");
                }
            } else if (pick < 99 || open.isEmpty()) {
                e.time = time;
                e.kind = TrafficKind::Acknowledgement;
                e.text = QStringLiteral("Success");
            } else {
                // The operator acknowledges the oldest open emergency.
                const TAlarm alarm = open.takeFirst();
                store.AlarmAcknowledged(alarm.id, time);
                e = Status({*alarm.fleet, *alarm.ident}, time, alarm.status);
                e.kind = TrafficKind::EmergencyAcknowledged;
                e.direction = TrafficDirection::Local;
            }
            if (!name.isEmpty() && e.fleet)
                e.name = name;
            live.TrafficEvent(e);
            store.TrafficEvent(e);
            if (e.IsEmergency()) {
                TAlarm alarm{nextAlarm++, time, e.fleet, e.ident, e.name, *e.status, e.statusText, {}, false};
                store.AlarmOpened(alarm);
                open << alarm;
            }
        }
        QVERIFY(store.Flush(10s));
    }
    QCOMPARE(failures, QStringList());
    QVERIFY(live.rowCount() > 40);
    // Every field from the newest rows alone, from the indexes alone, and from both.
    for (const int scanRows : {100000, 0, 150}) {
        TStationBoard rebuilt(nullptr, Clock());
        rebuilt.SetDirectory(directory);
        rebuilt.Rebuild(ReadStationTraffic(file, scanRows));
        QCOMPARE(Describe(rebuilt.Traffic()), Describe(live.Traffic()));
        for (int row = 0; row < live.rowCount(); ++row)
            QCOMPARE(rebuilt.NameAt(rebuilt.RowOf(live.KeyAt(row))), live.NameAt(row));
    }
    int emergencies = 0;
    for (const TStationTraffic &t : live.Traffic())
        emergencies += int(t.emergencies.size());
    QVERIFY2(emergencies > 0, "the mix leaves some emergencies open");
}

void TestStationBoard::rebuildFromUnusableFile()
{
    QVERIFY(ReadStationTraffic(dir_->filePath(QStringLiteral("missing.db"))).isEmpty());
    const QString garbage = dir_->filePath(QStringLiteral("garbage.db"));
    QFile out(garbage);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(QByteArray(4096, 'x'));
    out.close();
    try {
        ReadStationTraffic(garbage);
        QFAIL("a file that is not a history was read");
    } catch (const EHistoryError &error) {
        QVERIFY2(QString::fromUtf8(error.what()).contains(QStringLiteral("garbage.db")), error.what());
    }
}

void TestStationBoard::neutralisedCells_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("written");
    for (const char *risky : {"=SUM(A1)", "+1", "-2", "@cmd", "\tx", "\rx"})
        QTest::newRow(QByteArray(risky).toPercentEncoding().constData())
            << QString::fromLatin1(risky) << QLatin1Char('\'') + QString::fromLatin1(risky);
    QTest::newRow("plain") << "Car 1"
                           << "Car 1";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("inner equals") << "a=b"
                                  << "a=b";
}

void TestStationBoard::neutralisedCells()
{
    QFETCH(QString, cell);
    QFETCH(QString, written);
    QCOMPARE(NeutralisedCell(cell), written);
}

void TestStationBoard::exportCsv()
{
    TStationBoard board(nullptr, Clock());
    board.SetDirectory({{QStringLiteral("=Car \"1\""), 101, 1001}});
    TTrafficEvent message = Frame(TrafficKind::ShortMessage, {101, 1001}, T0);
    message.text = QStringLiteral("-5 degrees, snow");
    board.TrafficEvent(message);
    const QString file = dir_->filePath(QStringLiteral("board.csv"));
    QCOMPARE(ExportBoardCsv(board, file), QString());
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = in.readAll().split('\n');
    QCOMPARE(lines[0],
             QByteArray("Name,Station,Last status,Status time,Last heard,Last message,Check-in,Alarm\r"));
    const QByteArray heard = T0.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUtf8();
    QCOMPARE(lines[1], "\"'=Car \"\"1\"\"\",101-1001,,," + heard + ",\"'-5 degrees, snow\",,\r");
    // A folder that cannot be written: said, not a silent success.
    const QString refused = ExportBoardCsv(board, dir_->filePath(QStringLiteral("no/such/folder/board.csv")));
    QVERIFY(refused.contains(QStringLiteral("cannot be written")));
}

QTEST_GUILESS_MAIN(TestStationBoard)
#include "tst_stationboard.moc"

#include "AlarmDisplay.h"
#include "AlarmTableModel.h"
#include "Checkins.h"
#include "Console.h"
#include "ConsoleFixture.h"
#include "ConsoleSession.h"
#include "EmergenciesWindow.h"
#include "HistoryQuery.h"
#include "HistoryWindow.h"
#include "Message.h"
#include "Speech.h"
#include "StationBoard.h"
#include "StationId.h"
#include "StationsWindow.h"
#include "Status.h"
#include "Statuspopup.h"
#include "Table.h"
#include "TrafficHub.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <memory>

// The Stations window of the running console, the radio on a pseudo-terminal:
// frames from the radio's side reach the board's rows, and a row's actions open
// the call windows on its station.
class TstConsoleBoard : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void framesReachTheRows_data();
    void framesReachTheRows();
    void enterOnRowOpensStatusWindow();
    void rowActionsOpenTheirWindows_data();
    void rowActionsOpenTheirWindows();
    void stationBeyondTheDirectoryGoesToOther();
    void directoryEditRenamesTheRow();
    void overdueStationIsAQuietAlarm();

private:
    // The text the Stations window shows in a column of a station's row, or a
    // null string when the window has no such row.
    static QString Cell(const QString &station, int column)
    {
        const QAbstractItemModel *rows = StationsForm->Grid()->model();
        for (int row = 0; row < rows->rowCount(); ++row)
            if (rows->index(row, TStationBoard::StationColumn).data().toString() == station)
                return rows->index(row, column).data().toString();
        return {};
    }

    std::unique_ptr<TConsoleDir> dir_;
};

void TstConsoleBoard::initTestCase()
{
    dir_ = std::make_unique<TConsoleDir>();
    QVERIFY(dir_->Prepare("COM=1\r\nPOPUP=0\r\n", {1}));
    // Truck 3 is overdue from the start: the alarm is there before any frame.
    QVERIFY(dir_->WriteFile(CheckinFileName, "[Checkins]\nCountDowntime=on\n[Stations]\n"
                                             "102-1203=5 2026-01-01T00:00:00Z\n"));
    CreateConsoleWindows();
    QCOMPARE(Console->Hub().Alarms().OpenOverdueCount(), 1);
    QCOMPARE(Console->Hub().Alarms().Alarms().constLast().name, QStringLiteral("Truck 3"));
    auto *menuItem = Console->Window()->findChild<QAction *>(QStringLiteral("Stations1"));
    QVERIFY(menuItem);
    QCOMPARE(menuItem->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
    menuItem->trigger();
    QVERIFY(StationsForm && StationsForm->isVisible());
    // The directory's stations are there before the radio says anything.
    QTRY_COMPARE(Cell("101-1101", TStationBoard::NameColumn), QStringLiteral("Car 1"));
    QCOMPARE(Cell("101-1101", TStationBoard::HeardColumn), QString(""));
}

void TstConsoleBoard::cleanupTestCase()
{
    dir_.reset();
}

void TstConsoleBoard::framesReachTheRows_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("station");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("shown");
    // 100-1000 is Base, 101-1101 Car 1, 102-1203 Truck 3 in the sample directory;
    // 101-2000 is in no directory.
    QTest::newRow("status") << QByteArray("E100100021") << "100-1000" << int(TStationBoard::StatusColumn)
                            << "21 Arrived";
    QTest::newRow("short message") << QByteArray("F1011101Fuel low") << "101-1101"
                                   << int(TStationBoard::MessageColumn) << "Fuel low";
    QTest::newRow("long message") << QByteArray("G1021203" + QByteArray(60, 'x')) << "102-1203"
                                  << int(TStationBoard::MessageColumn) << QString(60, 'x');
    QTest::newRow("unknown station's call")
        << QByteArray("B1012000") << "101-2000" << int(TStationBoard::NameColumn) << "101-2000";
    QTest::newRow("emergency") << QByteArray("E101110295") << "101-1102" << int(TStationBoard::AlarmColumn)
                               << "emergency";
}

void TstConsoleBoard::framesReachTheRows()
{
    QFETCH(QByteArray, payload);
    QFETCH(QString, station);
    QFETCH(int, column);
    QFETCH(QString, shown);
    QVERIFY(dir_->Send(1, Frame(payload)));
    QTRY_VERIFY2(Cell(station, column).contains(shown, Qt::CaseInsensitive),
                 qPrintable(Cell(station, column) + " lacks " + shown));
    // Heard just now, and the age says so.
    QVERIFY(!Cell(station, TStationBoard::HeardColumn).isEmpty());
    QVERIFY2(Cell(station, TStationBoard::AgeColumn).endsWith(QLatin1String("ago")),
             qPrintable(Cell(station, TStationBoard::AgeColumn)));
}

void TstConsoleBoard::enterOnRowOpensStatusWindow()
{
    QVERIFY(StatusForm && !StatusForm->isVisible());
    TStationGrid *grid = StationsForm->Grid();
    StationsForm->activateWindow();
    grid->setFocus();
    // Typing the first characters reaches the row, Enter opens its actions.
    grid->setCurrentIndex(grid->model()->index(0, TStationBoard::NameColumn));
    QTest::keyClicks(grid, "Truck");
    QCOMPARE(StationsForm->SelectedStation(), std::optional<TStationKey>(TStationKey{102, 1203}));
    QStringList offered;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, &poll, [&] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (!menu)
            return;
        poll.stop();
        for (QAction *action : menu->actions())
            offered << action->text();
        for (QAction *action : menu->actions())
            if (action->text() == QLatin1String("&Status"))
                menu->setActiveAction(action);
        QTest::keyClick(menu, Qt::Key_Return);
    });
    poll.start();
    QTest::keyClick(grid, Qt::Key_Return);
    QVERIFY2(offered.contains(QLatin1String("&Status")), qPrintable(offered.join('|')));
    QTRY_VERIFY(StatusForm->isVisible());
    const auto field = [](const char *name) { return StatusForm->findChild<QLineEdit *>(name)->text(); };
    QCOMPARE(field("FleetDBEdit"), QStringLiteral("102"));
    QCOMPARE(field("IdentDBEdit"), QStringLiteral("1203"));
    QCOMPARE(StatusForm->findChild<QComboBox *>("NameDBLookupComboBox")->currentText(),
             QStringLiteral("Truck 3"));
    // The station heard but never in the directory before: the lookup added it,
    // and the window holds it by that row.
    StatusForm->HoldStation(101, 2000);
    QCOMPARE(field("FleetDBEdit"), QStringLiteral("101"));
    QCOMPARE(field("IdentDBEdit"), QStringLiteral("2000"));
    QCOMPARE(StatusForm->findChild<QComboBox *>("NameDBLookupComboBox")->currentText(),
             QStringLiteral("101-2000"));
}

void TstConsoleBoard::rowActionsOpenTheirWindows_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("holds");
    QTest::newRow("voice") << "&Voice"
                           << "SpeechForm"
                           << "IdentDBEdit"
                           << "1101";
    QTest::newRow("message") << "&Message"
                             << "MessageForm"
                             << "IdentDBEdit"
                             << "1101";
    QTest::newRow("history") << "&History"
                             << "HistoryForm"
                             << "StationEdit"
                             << "101-1101";
}

void TstConsoleBoard::rowActionsOpenTheirWindows()
{
    QFETCH(QString, action);
    QFETCH(QString, window);
    QFETCH(QString, box);
    QFETCH(QString, holds);
    QWidget *target = window == "SpeechForm"    ? static_cast<QWidget *>(SpeechForm)
                      : window == "MessageForm" ? static_cast<QWidget *>(MessageForm)
                                                : static_cast<QWidget *>(HistoryForm);
    target->hide();
    QVERIFY(StationsForm->SelectStation({101, 1101}));
    std::unique_ptr<QMenu> menu = StationsForm->ActionMenu();
    QAction *chosen = nullptr;
    for (QAction *a : menu->actions())
        if (a->text() == action)
            chosen = a;
    QVERIFY(chosen);
    chosen->trigger();
    QTRY_VERIFY(target->isVisible());
    QCOMPARE(target->findChild<QLineEdit *>(box)->text(), holds);
}

void TstConsoleBoard::stationBeyondTheDirectoryGoesToOther()
{
    // Heard stations fill the directory to its limit; the next one is on the
    // board only, and a call window takes it as "Other" with its numbers typed in.
    for (int ident = 2001; ident <= 2004; ++ident)
        QVERIFY(dir_->Send(1, Frame("B101" + QByteArray::number(ident))));
    QTRY_VERIFY(!Cell("101-2004", TStationBoard::HeardColumn).isEmpty());
    QCOMPARE(Console->Session().UserTable()->RecordCount(), MaxUserEntries);
    QCOMPARE(Cell("101-2004", TStationBoard::NameColumn), QStringLiteral("101-2004"));
    MessageForm->HoldStation(101, 2004);
    auto *fleet = MessageForm->findChild<QLineEdit *>("FleetDBEdit");
    auto *ident = MessageForm->findChild<QLineEdit *>("IdentDBEdit");
    QCOMPARE(MessageForm->findChild<QComboBox *>("NameDBLookupComboBox")->currentText(),
             QStringLiteral("Other"));
    QCOMPARE(fleet->text() + '-' + ident->text(), QStringLiteral("101-2004"));
    QVERIFY(!fleet->isReadOnly() && !ident->isReadOnly());
    // A station of the directory locks the boxes again.
    MessageForm->HoldStation(100, 1000);
    QCOMPARE(MessageForm->findChild<QComboBox *>("NameDBLookupComboBox")->currentText(),
             QStringLiteral("Base"));
    QCOMPARE(fleet->text() + '-' + ident->text(), QStringLiteral("100-1000"));
    QVERIFY(fleet->isReadOnly() && ident->isReadOnly());
}

void TstConsoleBoard::directoryEditRenamesTheRow()
{
    // As the Edit User window posts a cell: the row is renamed once the edit is
    // posted, not while it is typed, and its last heard stays.
    TTable *users = Console->Session().UserTable();
    const QString heard = Cell("102-1203", TStationBoard::HeardColumn);
    QVERIFY(users->Locate(QStringLiteral("Fleet;Ident"), {102, 1203}));
    users->SetFieldText(QStringLiteral("Name"), QStringLiteral("Tanker 3"));
    QCoreApplication::processEvents();
    QCOMPARE(Cell("102-1203", TStationBoard::NameColumn), QStringLiteral("Truck 3"));
    users->Post();
    QTRY_COMPARE(Cell("102-1203", TStationBoard::NameColumn), QStringLiteral("Tanker 3"));
    QCOMPARE(Cell("102-1203", TStationBoard::HeardColumn), heard);
}

void TstConsoleBoard::overdueStationIsAQuietAlarm()
{
    TTrafficHub &hub = Console->Hub();
    TAlarmList &alarms = hub.Alarms();
    // The emergency of an earlier row is acknowledged: nothing flashes any more.
    for (const TAlarm &open : QList<TAlarm>(alarms.Alarms()))
        if (open.IsOpen())
            hub.AcknowledgeAlarm(open.id, TTrafficHub::ByEmergenciesWindow);
    QTRY_VERIFY(!Console->Alarm().EmergencyRunning());
    // Its popup stays up, as any status popup does, until closed.
    StatusPopupForm->close();
    QTRY_VERIFY(!StatusPopupForm->isVisible());

    // Truck 3, overdue at start-up, was heard since.
    QCOMPARE(alarms.OpenOverdueCount(), 0);
    // Yard (100-1001) is never heard here: one minute's check-in counted from two
    // minutes ago, before this start, makes it overdue at once.
    TStationBoard &board = Console->Board();
    TCheckinSettings rules = board.Checkins();
    rules.countDowntime = true;
    SetCheckinRule(rules, TCheckinScope::Station, {100, 1001}, 1,
                   QDateTime::currentDateTimeUtc().addSecs(-120));
    board.SetCheckins(rules);
    QTRY_COMPARE(alarms.OpenOverdueCount(), 1);
    const qint64 id = alarms.Alarms().constLast().id;
    QCOMPARE(alarms.Find(id)->kind, TAlarmKind::Overdue);
    QCOMPARE(alarms.Find(id)->name, QStringLiteral("Yard"));

    // Listed in the Emergencies window and named on the banner; no flash, no
    // popup, no sound (the operator did not choose it).
    const int row = EmergenciesForm->Model().RowOf(id);
    QVERIFY(row >= 0 && row < EmergenciesForm->Model().OpenRows());
    QVERIFY2(
        EmergenciesForm->Model()
            .index(row, TAlarmTableModel::StatusColumn)
            .data()
            .toString()
            .startsWith(QLatin1String("overdue: every 1 min, due ")),
        qPrintable(EmergenciesForm->Model().index(row, TAlarmTableModel::StatusColumn).data().toString()));
    auto *banner = Console->Window()->findChild<QLabel *>(QStringLiteral("AlarmBanner"));
    QVERIFY(banner && !banner->isHidden());
    QCOMPARE(banner->text(), QStringLiteral("1 station overdue"));
    QTest::qWait(50);
    QVERIFY(!Console->Alarm().EmergencyRunning());
    QVERIFY(!StatusPopupForm->isVisible());
    QVERIFY(!hub.SoundWanted());

    // Heard again: the alarm closes by itself and says why, and the history keeps both ends.
    QVERIFY(dir_->Send(1, Frame("E100100121")));
    QTRY_COMPARE(alarms.OpenOverdueCount(), 0);
    QCOMPARE(alarms.Find(id)->acknowledgedBy, OverdueHeardAgain);
    QTRY_VERIFY(banner->isHidden());
    hub.FlushHistory();
    THistoryQuery history(dir_->Path(QStringLiteral("history.db")));
    QStringList rows;
    THistoryFilter filter;
    filter.station = QStringLiteral("100-1001");
    const QList<THistoryRow> page = history.Page(filter, std::nullopt, 100);
    for (auto it = page.crbegin(); it != page.crend(); ++it)
        if (it->event.kind == TrafficKind::StationOverdue || it->event.kind == TrafficKind::OverdueCleared)
            rows << TrafficKindText(it->event.kind) + ": " + it->event.text.left(20);
    QCOMPARE(rows, (QStringList{"station overdue: overdue: every 1 min", "overdue cleared: heard again"}));
}

QTEST_MAIN(TstConsoleBoard)
#include "tst_consoleboard.moc"

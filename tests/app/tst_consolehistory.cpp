#include "AlarmDisplay.h"
#include "AlarmSound.h"
#include "Console.h"
#include "ConsoleFiles.h"
#include "ConsoleFixture.h"
#include "ConsoleSession.h"
#include "EmergenciesWindow.h"
#include "End.h"
#include "Euser.h"
#include "HistoryQuery.h"
#include "HistoryStore.h"
#include "HistoryWindow.h"
#include "SendCommand.h"
#include "Speechpopup.h"
#include "Statuspopup.h"
#include "Table.h"
#include "TrafficHub.h"

#include <QAbstractButton>
#include <QAction>
#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

// The console's windows in-process, the radio on a pseudo-terminal, and the
// history file that the console writes beside its tables.
class TstConsoleHistory : public QObject {
    Q_OBJECT
private slots:
    void everyEntryStored();
    void emergenciesStayOpenAcrossRestart();
    void unusableHistoryKeepsTheRadioGoing();
    void popupShowsOldestOpenAlarm();
    void exitLeavesAlarmsOpen();
    void alarmStaysInSight();
    void repeatsFoldIntoOneAlarm();
    void startUpWithManyOpenAlarms();
    void soundStateAlwaysShown();
    void everyAlarmStepStored();
    void unknownEmergencyNumberIsAnAlarm();
    void nameThisStationOpensTheDirectoryOnIt();

private:
    static QStringList StoredKinds()
    {
        Console->Hub().FlushHistory();
        THistoryQuery query(HistoryFileName);
        QStringList kinds;
        const QList<THistoryRow> rows = query.Page({}, std::nullopt, 1000);
        for (auto it = rows.crbegin(); it != rows.crend(); ++it)
            kinds << TrafficDirectionText(it->event.direction) + ' ' + TrafficKindText(it->event.kind) + ' ' +
                         it->event.name + ' ' + it->event.text;
        return kinds;
    }
};

void TstConsoleHistory::everyEntryStored()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0\r\n", {1}));
    CreateConsoleWindows();
    const QByteArray longText(200, 'L');
    const QList<QByteArray> frames{"0",
                                   "3",
                                   "B1001000",
                                   "D1001000",
                                   "E100100021",
                                   "F1001000Hi there",
                                   "G1001000" + longText,
                                   "I110010001001000",
                                   "I010010001012000"};
    for (const QByteArray &payload : frames)
        QVERIFY(dir.Send(1, Frame(payload)));
    QTRY_VERIFY(Console->LogText().contains(QLatin1String("Call end from Base to 101-2000")));
    const TCommandContext &context = Console->Session().CommandContext();
    SendCommand(context, 'B', "100", "1000");
    SendCommand(context, 'H', "100", "1000");
    SendCommand(context, 'F', "100", "1000", {{}, {}, QStringLiteral("Out, \"now\"")});
    SendCommand(context, 'B', "99", "1000"); // refused: a warning box, no frame

    const QStringList expected{
        "in acknowledgement  Success",
        "in acknowledgement  Command NG",
        "in call Base ",
        "in call end Base ",
        "in status Base ",
        "in short message Base Hi there",
        "in long message Base " + QString::fromLatin1(longText),
        "in PTT ID Base Connect",
        "in call decode Base end",
        "out call Base ",
        "out status request Base ",
        "out short message Base Out, \"now\"",
        "local warning  Use the number 0 or from 100 to 349 as the Fleet.",
    };
    QCOMPARE(StoredKinds(), expected);
    // CorvalinkDemo.ini stays as it was; the history is a file of its own.
    QCOMPARE(dir.ReadFile("CorvalinkDemo.ini"), QByteArray("COM=1\r\nPOPUP=0\r\n"));
}

void TstConsoleHistory::emergenciesStayOpenAcrossRestart()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0\r\n", {1}));
    CreateConsoleWindows();
    QVERIFY(dir.Send(1, Frame("E100100095")));
    QVERIFY(dir.Send(1, Frame("E100100022")));
    QVERIFY(dir.Send(1, Frame("E100100099")));
    QTRY_COMPARE(Console->Hub().Alarms().OpenCount(), 2);
    QTRY_VERIFY(Console->LogText().contains(QLatin1String("Status:99")));
    QVERIFY(Console->Hub().AcknowledgeAlarm(Console->Hub().Alarms().OldestOpen()->id));
    QVERIFY(dir.boxes.isEmpty());
    DeleteConsoleWindows(); // as after a crash: one emergency was never acknowledged

    CreateConsoleWindows();
    QCOMPARE(Console->Hub().Alarms().OpenCount(), 1);
    QCOMPARE(Console->Hub().Alarms().OldestOpen()->status, 99);
    QVERIFY(Console->Hub().Alarms().OldestOpen()->restored);
    QTRY_COMPARE(dir.boxes.size(), 1);
    QVERIFY2(dir.boxes[0].text.startsWith(QLatin1String("1 emergency from before")),
             qPrintable(dir.boxes[0].text));
    QVERIFY2(dir.boxes[0].text.contains(QLatin1String("Base (100-1000)  99 Officer down")),
             qPrintable(dir.boxes[0].text));
    // The acknowledgement was stored as an entry of its own.
    QVERIFY(StoredKinds().contains(QStringLiteral("local emergency acknowledged Base popup")));
}

void TstConsoleHistory::unusableHistoryKeepsTheRadioGoing()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0\r\n", {1}));
    QVERIFY(QDir(dir.Path(".")).mkdir(HistoryFileName)); // a directory where the file should be
    CreateConsoleWindows();
    QVERIFY(dir.Send(1, Frame("0")));
    QVERIFY(dir.Send(1, Frame("E100100095")));
    QTRY_VERIFY(Console->LogText().contains(QLatin1String("Status:95")));
    QTRY_COMPARE(dir.boxes.size(), 1);
    QVERIFY2(dir.boxes[0].text.contains(dir.Path(HistoryFileName)), qPrintable(dir.boxes[0].text));
    QVERIFY(!Console->Hub().HistoryWorking());
    // Alarms work without the file.
    QCOMPARE(Console->Hub().Alarms().OpenCount(), 1);
    QVERIFY(dir.Send(1, Frame("1")));
    QTRY_VERIFY(Console->LogText().contains(QLatin1String(" RX: Fail")));
    QCOMPARE(dir.boxes.size(), 1);
}

void TstConsoleHistory::popupShowsOldestOpenAlarm()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0x1F\r\n", {1}));
    CreateConsoleWindows();
    const auto field = [](const char *name) {
        return StatusPopupForm->findChild<QLineEdit *>(QLatin1String(name))->text();
    };
    // 100/1000 is Base, 101/1101 Car 1 in the sample directory.
    QVERIFY(dir.Send(1, Frame("E100100095")));
    QVERIFY(dir.Send(1, Frame("E101110199")));
    QVERIFY(dir.Send(1, Frame("E100100022")));
    QTRY_VERIFY(Console->LogText().contains(QLatin1String("Status:22")));
    QCOMPARE(Console->Hub().Alarms().OpenCount(), 2);
    QVERIFY(StatusPopupForm->isVisible());
    QVERIFY(Console->Alarm().EmergencyTimer->isActive());
    // The newest emergency is on the popup; the ordinary status after it is not.
    QCOMPARE(field("NameEdit"), QStringLiteral("Car 1"));
    QCOMPARE(field("TextEdit"), QStringLiteral("Officer down"));

    // Closing acknowledges Car 1's alarm; Base's, still open, takes its place and
    // the flash goes on.
    StatusPopupForm->close();
    QCOMPARE(Console->Hub().Alarms().OpenCount(), 1);
    QVERIFY(!Console->Hub().Alarms().Alarms().at(1).IsOpen());
    QTRY_VERIFY(StatusPopupForm->isVisible());
    QCOMPARE(field("NameEdit"), QStringLiteral("Base"));
    QCOMPARE(field("FleetEdit"), QStringLiteral("100"));
    QCOMPARE(field("IdentEdit"), QStringLiteral("1000"));
    QCOMPARE(field("TextEdit"), QStringLiteral("Emergency"));
    QVERIFY(Console->Alarm().EmergencyTimer->isActive());

    // Muting or acknowledging nothing else leaves the popup as it is.
    Console->Hub().Alarms().Mute();
    QCOMPARE(field("NameEdit"), QStringLiteral("Base"));

    StatusPopupForm->close();
    QCOMPARE(Console->Hub().Alarms().OpenCount(), 0);
    QVERIFY(!Console->Alarm().EmergencyTimer->isActive());
    QCoreApplication::processEvents(); // a queued re-show would run here
    QVERIFY(!StatusPopupForm->isVisible());
    QCOMPARE(Console->Alarm().ShownAlarm(), 0);
}

// File > Exit with an emergency on the status popup, through the real "Exit?"
// dialog and the application's own quit (which closes every window): the alarm
// stays open, the operator is told so, and the next start opens it again.
void TstConsoleHistory::exitLeavesAlarmsOpen()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0x1F\r\n", {1}));
    CreateConsoleWindows();
    Console->Window()->show();
    QVERIFY(dir.Send(1, Frame("E100100095")));
    QTRY_VERIFY(StatusPopupForm->isVisible());
    QCOMPARE(Console->Hub().Alarms().OpenCount(), 1);

    bool answered = false;
    QTimer hand;
    QObject::connect(&hand, &QTimer::timeout, EndForm, [&] {
        if (EndForm->isVisible() && !answered) {
            answered = true;
            EndForm->findChild<QAbstractButton *>(QStringLiteral("BitBtn2"))->click();
        }
    });
    hand.start(20);
    QTimer::singleShot(0, Console->Window(),
                       [] { Console->Window()->findChild<QAction *>("Exit1")->trigger(); });
    QTimer::singleShot(10000, qApp, &QCoreApplication::quit); // a hung exit fails below
    QCoreApplication::exec();
    hand.stop();
    QVERIFY(answered);
    QVERIFY(!StatusPopupForm->isVisible());
    QCOMPARE(Console->Hub().Alarms().OpenCount(), 1);
    QVERIFY(!StoredKinds().join('|').contains(QLatin1String("emergency acknowledged")));
    QCOMPARE(dir.boxes.size(), 1);
    QCOMPARE(dir.boxes[0].text, QStringLiteral("1 emergency is still not acknowledged. It stays open and is "
                                               "shown again when the console next starts."));
    DeleteConsoleWindows();

    CreateConsoleWindows();
    QCOMPARE(Console->Hub().Alarms().OpenCount(), 1);
    QVERIFY(Console->Hub().Alarms().OldestOpen()->restored);
    QTRY_VERIFY(StatusPopupForm->isVisible());
    QTRY_COMPARE(dir.boxes.size(), 2);
    QVERIFY2(dir.boxes[1].text.startsWith(QLatin1String("1 emergency from before")),
             qPrintable(dir.boxes[1].text));
}

// While an alarm is open the status popup is kept above the console's windows
// (a routine popup after it included), and the main window counts the open
// alarms in a red banner that a screen reader reads; both go with the last one.
void TstConsoleHistory::alarmStaysInSight()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0x1F\r\n", {1}));
    CreateConsoleWindows();
    Console->Window()->show();
    const auto onTop = [](QWidget *w) { return w->windowFlags().testFlag(Qt::WindowStaysOnTopHint); };
    auto *banner = Console->Window()->findChild<QLabel *>(QStringLiteral("AlarmBanner"));
    QVERIFY(banner && !banner->isVisible());
    // Where the eye goes: right under the buttons, above the log.
    const auto *layout = static_cast<QBoxLayout *>(Console->Window()->centralWidget()->layout());
    QCOMPARE(layout->indexOf(banner), 1);
    QVERIFY(dir.Send(1, Frame("E100100095")));
    QVERIFY(dir.Send(1, Frame("E101110199")));
    QVERIFY(dir.Send(1, Frame("B1001000"))); // a call: its popup comes after the emergencies
    QTRY_VERIFY(SpeechPopupForm->isVisible());
    QVERIFY(StatusPopupForm->isVisible());
    QVERIFY(onTop(StatusPopupForm));
    QVERIFY(!onTop(SpeechPopupForm));
    QVERIFY(banner->isVisible());
    QVERIFY2(banner->text().startsWith(QLatin1String("2 emergencies open, not acknowledged. Alarm sound: ")),
             qPrintable(banner->text()));
    QCOMPARE(banner->accessibleName(), banner->text());
    // The banner takes nothing from the log's texts.
    QVERIFY(!Console->LogText().contains(banner->text()));

    auto *ok = StatusPopupForm->findChild<QAbstractButton *>(QStringLiteral("CloseBitBtn"));
    ok->click();
    QTRY_VERIFY(StatusPopupForm->isVisible()); // the next open alarm
    QVERIFY(onTop(StatusPopupForm));
    QVERIFY(banner->text().startsWith(QLatin1String("1 emergency open, not acknowledged. ")));
    ok->click();
    QCoreApplication::processEvents();
    QVERIFY(!StatusPopupForm->isVisible());
    QVERIFY(!onTop(StatusPopupForm));
    QVERIFY(!banner->isVisible());
}

// Five status 95 from Base while its alarm is open are one alarm; one
// Acknowledge in the Emergencies window ends it, and the selection moves on to
// the alarm still open. Base's next emergency is a new alarm.
void TstConsoleHistory::repeatsFoldIntoOneAlarm()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0x1F\r\n", {1}));
    CreateConsoleWindows();
    for (int i = 0; i < 5; ++i)
        QVERIFY(dir.Send(1, Frame("E100100095")));
    QVERIFY(dir.Send(1, Frame("E101110199")));
    QTRY_COMPARE(Console->LogText().count(QLatin1String("Status:")), 6);
    const TAlarmList &alarms = Console->Hub().Alarms();
    QCOMPARE(alarms.Alarms().size(), 2);
    QCOMPARE(alarms.Alarms()[0].count, 5);
    QCOMPARE(alarms.Alarms()[1].count, 1);

    Console->Window()->findChild<QAction *>(QStringLiteral("Emergencies1"))->trigger();
    auto *grid = EmergenciesForm->findChild<QTableWidget *>(QStringLiteral("AlarmGrid"));
    QVERIFY(grid->item(0, TEmergenciesForm::StatusColumn)
                ->text()
                .startsWith(QLatin1String("95 Emergency (5 times, last ")));
    grid->selectRow(0);
    auto *acknowledge = EmergenciesForm->findChild<QAbstractButton *>(QStringLiteral("AcknowledgeBitBtn"));
    QVERIFY(acknowledge->isEnabled());
    acknowledge->click();
    QCOMPARE(alarms.OpenCount(), 1);
    QCOMPARE(EmergenciesForm->AlarmIdAt(grid->currentRow()), alarms.Alarms()[1].id);
    QVERIFY(grid->item(grid->currentRow(), 0)->isSelected());
    QVERIFY(acknowledge->isEnabled());

    QVERIFY(dir.Send(1, Frame("E100100095")));
    QTRY_COMPARE(alarms.Alarms().size(), 3);
    QCOMPARE(alarms.OpenCount(), 2);
}

// Seven alarms left open by a killed run: the start-up box lists the oldest
// five and how many more, and the status popup shows the oldest, as the box
// says.
void TstConsoleHistory::startUpWithManyOpenAlarms()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0x1F\r\n", {1}));
    CreateConsoleWindows();
    const QList<QByteArray> frames{"E100100095", "E100100099", "E101110195", "E101110199",
                                   "E101110295", "E101110299", "E300123495"};
    for (const QByteArray &payload : frames)
        QVERIFY(dir.Send(1, Frame(payload)));
    QTRY_COMPARE(Console->Hub().Alarms().OpenCount(), 7);
    DeleteConsoleWindows();

    CreateConsoleWindows();
    QTRY_COMPARE(dir.boxes.size(), 1);
    const QStringList lines = dir.boxes[0].text.split(QLatin1Char('\n'));
    QVERIFY2(lines[0].startsWith(QLatin1String("7 emergencies from before")), qPrintable(lines[0]));
    QVERIFY2(lines[2].contains(QLatin1String("Base (100-1000)  95 Emergency")), qPrintable(lines[2]));
    QVERIFY2(lines[6].contains(QLatin1String("Car 2 (101-1102)  95 Emergency")), qPrintable(lines[6]));
    QCOMPARE(lines[7], QStringLiteral("and 2 more (File > Emergencies\u2026)"));
    QCOMPARE(lines.size(), 10);
    QTRY_VERIFY(StatusPopupForm->isVisible());
    QCOMPARE(StatusPopupForm->findChild<QLineEdit *>(QStringLiteral("NameEdit"))->text(),
             QStringLiteral("Base"));
    QCOMPARE(StatusPopupForm->findChild<QLineEdit *>(QStringLiteral("TextEdit"))->text(),
             QStringLiteral("Emergency"));
}

// Whether the open alarm can be heard is on the banner in each state; turning
// the sound off asks first and is stored; without a sound device the
// Emergencies window says so and offers no Mute.
void TstConsoleHistory::soundStateAlwaysShown()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0x1F\r\n", {1}));
    CreateConsoleWindows();
    Console->Sound().SetDeviceAvailable(true); // as when a device is there
    auto *banner = Console->Window()->findChild<QLabel *>(QStringLiteral("AlarmBanner"));
    const auto heard = [banner] { return banner->text().section(QStringLiteral("Alarm sound: "), 1); };
    QVERIFY(dir.Send(1, Frame("E100100095")));
    QTRY_COMPARE(Console->Hub().Alarms().OpenCount(), 1);
    QCOMPARE(heard(), QStringLiteral("sounding"));

    Console->Window()->findChild<QAction *>(QStringLiteral("Emergencies1"))->trigger();
    auto *mute = EmergenciesForm->findChild<QAbstractButton *>(QStringLiteral("MuteBitBtn"));
    mute->click();
    QCOMPARE(heard(), QStringLiteral("muted until the next emergency"));

    auto *soundItem = Console->Window()->findChild<QAction *>(QStringLiteral("AlarmSound1"));
    dir.answers = {MsgAnswer::Cancel, MsgAnswer::Ok};
    soundItem->trigger(); // asked, cancelled: stays on
    QCOMPARE(dir.boxes.size(), 1);
    QCOMPARE(dir.boxes[0].buttons, MsgButtons::OkCancel);
    QVERIFY(soundItem->isChecked());
    QVERIFY(Console->Hub().Preferences().alarmSound);
    soundItem->trigger(); // asked, confirmed
    QCOMPARE(dir.boxes.size(), 2);
    QVERIFY(!soundItem->isChecked());
    QVERIFY(!Console->Hub().Preferences().alarmSound);
    QCOMPARE(heard(), QStringLiteral("sound turned off"));

    Console->Sound().SetDeviceAvailable(false);
    QCOMPARE(heard(), QStringLiteral("no sound device"));
    QVERIFY(!mute->isVisible());
    QVERIFY(EmergenciesForm->findChild<QLabel *>(QStringLiteral("SummaryLabel"))
                ->text()
                .contains(QLatin1String("No sound device")));
    soundItem->trigger(); // on again: no question
    QCOMPARE(dir.boxes.size(), 2);
    const QStringList kinds = StoredKinds();
    QCOMPARE(
        kinds.filter(QStringLiteral("alarm sound")),
        QStringList({QStringLiteral("local alarm sound off  "), QStringLiteral("local alarm sound on  ")}));
}

// The audit trail: each step of an alarm is a history row of its own, and the
// Emergencies window says how each one was acknowledged.
void TstConsoleHistory::everyAlarmStepStored()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0x1F\r\n", {1}));
    CreateConsoleWindows();
    QVERIFY(dir.Send(1, Frame("E100100095")));
    QVERIFY(dir.Send(1, Frame("E100100095")));
    QVERIFY(dir.Send(1, Frame("E101110199")));
    QTRY_COMPARE(Console->LogText().count(QLatin1String("Status:")), 3);
    Console->Window()->findChild<QAction *>(QStringLiteral("Emergencies1"))->trigger();
    EmergenciesForm->findChild<QAbstractButton *>(QStringLiteral("MuteBitBtn"))->click();
    // The popup shows Car 1's, the newest; the window acknowledges Base's.
    auto *grid = EmergenciesForm->findChild<QTableWidget *>(QStringLiteral("AlarmGrid"));
    grid->selectRow(0);
    EmergenciesForm->findChild<QAbstractButton *>(QStringLiteral("AcknowledgeBitBtn"))->click();
    StatusPopupForm->findChild<QAbstractButton *>(QStringLiteral("CloseBitBtn"))->click();
    QCOMPARE(Console->Hub().Alarms().OpenCount(), 0);

    QStringList steps;
    for (const QString &kind : StoredKinds())
        if (kind.startsWith(QLatin1String("local ")))
            steps << kind;
    QCOMPARE(steps, QStringList({"local alarm opened Base ", "local alarm repeat Base 2",
                                 "local alarm opened Car 1 ", "local alarm muted  2",
                                 "local emergency acknowledged Base Emergencies window",
                                 "local emergency acknowledged Car 1 popup"}));
    QStringList how;
    for (int row = 0; row < grid->rowCount(); ++row)
        how << grid->item(row, TEmergenciesForm::AcknowledgedColumn)->text().section(QLatin1Char('('), 1);
    QCOMPARE(how, QStringList({"Emergencies window)", "popup)"}));
}

// Status 97 is not in the sample directory: logged, popped up and not flashed
// as any unknown status, and besides listed and sounded as an alarm.
void TstConsoleHistory::unknownEmergencyNumberIsAnAlarm()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0x1F\r\n", {1}));
    CreateConsoleWindows();
    QVERIFY(dir.Send(1, Frame("E100100097")));
    QTRY_VERIFY(Console->LogText().contains(QLatin1String(" RX: Status:97 from Base")));
    QCOMPARE(StatusPopupForm->findChild<QLineEdit *>(QStringLiteral("TextEdit"))->text(),
             QStringLiteral("Status:97"));
    QVERIFY(!Console->Alarm().EmergencyTimer->isActive());
    const TAlarmList &alarms = Console->Hub().Alarms();
    QCOMPARE(alarms.OpenCount(), 1);
    QCOMPARE(alarms.Alarms()[0].statusText, QStringLiteral("unknown status 97"));
    QVERIFY(Console->Hub().SoundWanted());
    QVERIFY(Console->Window()
                ->findChild<QLabel *>(QStringLiteral("AlarmBanner"))
                ->isVisibleTo(Console->Window()));

    // A known emergency after it takes the popup and flashes, as ever.
    QVERIFY(dir.Send(1, Frame("E100100095")));
    QTRY_COMPARE(alarms.OpenCount(), 2);
    QCOMPARE(StatusPopupForm->findChild<QLineEdit *>(QStringLiteral("TextEdit"))->text(),
             QStringLiteral("Emergency"));
    QVERIFY(Console->Alarm().EmergencyTimer->isActive());
}

void TstConsoleHistory::nameThisStationOpensTheDirectoryOnIt()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0\r\n", {1}));
    CreateConsoleWindows();
    QVERIFY(dir.Send(1, Frame("B1012000"))); // a station the directory does not know
    QTRY_VERIFY(Console->LogText().contains(QLatin1String("Call from 101-2000")));
    Console->Hub().FlushHistory();
    Console->Window()->findChild<QAction *>(QStringLiteral("History1"))->trigger();
    QVERIFY(HistoryForm->isVisible());
    auto *grid = HistoryForm->findChild<QTableView *>(QStringLiteral("HistoryGrid"));
    auto *name = HistoryForm->findChild<QAbstractButton *>(QStringLiteral("NameStationBitBtn"));
    grid->selectRow(0);
    QVERIFY(name->isEnabled());
    QString current;
    bool shown = false;
    QTimer::singleShot(0, EUserForm, [&] {
        shown = EUserForm->isVisible();
        current = Console->Session().UserTable()->FieldAsText(QStringLiteral("Name")) + ' ' +
                  Console->Session().UserTable()->FieldAsText(QStringLiteral("Fleet")) + ' ' +
                  Console->Session().UserTable()->FieldAsText(QStringLiteral("Ident"));
        EUserForm->reject();
    });
    name->click();
    QVERIFY(shown);
    QCOMPARE(current, QStringLiteral("101-2000 101 2000"));
}

QTEST_MAIN(TstConsoleHistory)
#include "tst_consolehistory.moc"

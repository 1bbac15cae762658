// The main window with the radio on a pseudo-terminal: the log and its trim,
// every kind of incoming frame with its popup, the emergency flash, the Last menu.

#include "AccessibleNames.h"
#include "AlarmDisplay.h"
#include "Anipopup.h"
#include "Application.h"
#include "CommandPort.h"
#include "Console.h"
#include "ConsoleFixture.h"
#include "LogMemo.h"
#include "LogTime.h"
#include "Messagepopup.h"
#include "Popup.h"
#include "Pttidpopup.h"
#include "Speechpopup.h"
#include "StatusPanels.h"
#include "Statuspopup.h"

#include <QAbstractButton>
#include <QAbstractTextDocumentLayout>
#include <QAction>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTextBlock>
#include <QTimer>

namespace {

// The log's entries without their time stamps, top first. Continuation lines
// (the tab lines of status and message entries) are kept as they are.
QStringList LogLines()
{
    QStringList lines;
    for (const QString &line : Console->LogText().split(QLatin1Char('\n'))) {
        const int rx = line.indexOf(QLatin1String(" RX: "));
        lines << (rx > 0 ? line.mid(rx) : line);
    }
    return lines;
}

QPlainTextEdit *Log()
{
    return Console->Window()->findChild<QPlainTextEdit *>(QStringLiteral("LogMemo"));
}

QWidget *PopupByName(const QString &name)
{
    const QList<QWidget *> popups{SpeechPopupForm, StatusPopupForm, MessagePopupForm,
                                  PttidPopupForm,  AniPopupForm,    PopupForm};
    for (QWidget *w : popups)
        if (w->objectName() == name)
            return w;
    return nullptr;
}

QStringList VisiblePopups()
{
    QStringList names;
    for (QWidget *w : {static_cast<QWidget *>(SpeechPopupForm), static_cast<QWidget *>(StatusPopupForm),
                       static_cast<QWidget *>(MessagePopupForm), static_cast<QWidget *>(PttidPopupForm),
                       static_cast<QWidget *>(AniPopupForm), static_cast<QWidget *>(PopupForm)})
        if (w->isVisible())
            names << w->objectName();
    return names;
}

QString Field(const QString &window, const char *field)
{
    QWidget *w = PopupByName(window);
    if (!w)
        return QStringLiteral("<no window %1>").arg(window);
    if (auto *edit = w->findChild<QLineEdit *>(QLatin1String(field)))
        return edit->text();
    if (auto *memo = w->findChild<QPlainTextEdit *>(QLatin1String(field)))
        return memo->toPlainText();
    return QStringLiteral("<no field %1>").arg(QLatin1String(field));
}

QColor LogBase()
{
    return Log()->palette().color(QPalette::Base);
}

QColor NormalLogBase()
{
    return QApplication::palette(Log()).color(QPalette::Base);
}

QColor StatusPopupColour()
{
    return StatusPopupForm->palette().color(QPalette::Window);
}

// Fills the log with one-line entries L01 (oldest, bottom) .. Ln (top).
void FillLog(int n)
{
    for (int i = 1; i <= n; ++i)
        Console->Log().InsertEntry(QStringLiteral("L%1").arg(i, 2, 10, QLatin1Char('0')));
}

// Visual lines of the log as laid out at its width, measured by block heights.
int MeasuredLines()
{
    QPlainTextEdit *memo = Log();
    QAbstractTextDocumentLayout *layout = memo->document()->documentLayout();
    qreal height = 0;
    for (QTextBlock b = memo->document()->begin(); b.isValid(); b = b.next())
        height += layout->blockBoundingRect(b).height();
    return qRound(height / QFontMetricsF(memo->font()).lineSpacing());
}

// A widget's pixels as the window holds them for the screen (what earlier paints,
// moves and partial repaints left there), and as one full paint of it draws them now.
QImage Shown(QWidget *w)
{
    const QPoint at = w->mapTo(Console->Window(), QPoint(0, 0));
    return Console->Window()
        ->screen()
        ->grabWindow(Console->Window()->winId(), at.x(), at.y(), w->width(), w->height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

QImage Painted(QWidget *w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QLabel *ClockPanel()
{
    for (QLabel *label : Console->Window()->statusBar()->findChildren<QLabel *>())
        if (label->accessibleDescription() == QLatin1String("Date and time"))
            return label;
    return nullptr;
}

} // namespace

class TstMainForm : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TConsoleDir> dir;
    void Start(unsigned popupFlags);
    // Sends the frames and an acknowledgement after them, and waits until the
    // acknowledgement is logged, so that frames that log nothing are known to be
    // handled too; entries is the number of log entries the frames make.
    void SendAndSettle(const QByteArray &frames, int entries = 1);

private slots:
    void init();
    void cleanup();

    void windowAtStartUp();
    void frameShownAndPopupOpened_data();
    void frameShownAndPopupOpened();
    void statusNumberDecidesEmergency_data();
    void statusNumberDecidesEmergency();
    void secondEmergencyKeepsPhase();
    void closingStatusPopupRestoresColours();
    void emergencyNotOverwrittenByOrdinaryStatus();
    void lastMenuBeforeAnyEvent();
    void lastMenuShowsNewest();

    void logTrimsToThirtyLines_data();
    void logTrimsToThirtyLines();
    void logTrimsWrappedEntry();
    void logTrimCutsThroughWrappedEntry();
    void logShowsWhatItHolds_data();
    void logShowsWhatItHolds();
    void logDrawnWhenWindowRepaints();
    void clockShowsDateAndTime();
    void clearLog();
    void windowGrowsWithItsLog();
    void screenReaderHearsWhatIsShown();
};

void TstMainForm::Start(unsigned popupFlags)
{
    QVERIFY(dir->Prepare(QStringLiteral("COM=1\r\nPOPUP=%1\r\n").arg(popupFlags).toLatin1(), {1}));
    // A status of 94 in the directory, next to the sample's emergencies 95 and 99.
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("tst_mainform"));
        db.setDatabaseName(dir->Path(QStringLiteral("Status.db")));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("INSERT INTO \"Status\" (\"No.\", \"Text\") VALUES (94, 'Injured')")));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("tst_mainform"));
    CreateConsoleWindows();
    Console->Window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(Console->Window()));
    QVERIFY(VisiblePopups().isEmpty());
}

void TstMainForm::SendAndSettle(const QByteArray &frames, int entries)
{
    const int before = Console->LogText().count(QLatin1String(" RX: "));
    QVERIFY(dir->Send(1, frames + Frame("0")));
    QTRY_COMPARE(Console->LogText().count(QLatin1String(" RX: ")), before + entries + 1);
    // The acknowledgement is on top; take it away again.
    QTextBlock first = Log()->document()->firstBlock();
    QVERIFY(first.text().endsWith(QLatin1String(" RX: Success")));
    QTextCursor c(first);
    if (first.next().isValid())
        c.setPosition(first.next().position(), QTextCursor::KeepAnchor);
    else
        c.select(QTextCursor::Document);
    c.removeSelectedText();
}

void TstMainForm::init()
{
    dir = std::make_unique<TConsoleDir>();
}

void TstMainForm::cleanup()
{
    dir.reset();
    QVERIFY(!Console);
}

void TstMainForm::windowAtStartUp()
{
    Start(0x1F);
    QCOMPARE(Console->Window()->windowTitle(), QStringLiteral("Corvalink Demonstration Software"));
    QCOMPARE(Console->Window()->size(), QSize(640, 480));
    QPlainTextEdit *memo = Log();
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(memo->font().pixelSize(), 19);
    QCOMPARE(memo->font().family(), QStringLiteral("Arial"));
    QVERIFY(memo->toPlainText().isEmpty());
    QVERIFY(LogTrimGuard);
    QVERIFY(!Console->Alarm().EmergencyTimer->isActive());
    QVERIFY(Console->Panels().Clock->isActive());
    QVERIFY(!Console->Panels().Text(2).isEmpty());
    QVERIFY(Console->Panels().Text(1).isEmpty());
    // Radio text is plain text everywhere: markup arrives as it was sent.
    SendAndSettle(Frame("F1001000<b>bold</b>"));
    QCOMPARE(LogLines(), (QStringList{" RX: Short Message from Base", "\t\"<b>bold</b>\""}));
}

void TstMainForm::frameShownAndPopupOpened_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QString>("popup"); // the window expected visible, or none
    QTest::addColumn<QString>("window");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("value");

    const unsigned all = 0x1F;
    const QString noPopup;
    QTest::newRow("ack 0") << Frame("0") << all << QStringList{" RX: Success"} << noPopup << QString()
                           << QByteArray() << QString();
    QTest::newRow("ack 1") << Frame("1") << all << QStringList{" RX: Fail"} << noPopup << QString()
                           << QByteArray() << QString();
    QTest::newRow("ack 2") << Frame("2") << all << QStringList{" RX: Busy"} << noPopup << QString()
                           << QByteArray() << QString();
    QTest::newRow("ack 3 after noise")
        << QByteArray("xyz") + Frame("3") << all << QStringList{" RX: Command NG"} << noPopup << QString()
        << QByteArray() << QString();
    QTest::newRow("B known, voice on")
        << Frame("B1001001") << all << QStringList{" RX: Call from Yard"} << "SpeechPopupForm"
        << "SpeechPopupForm" << QByteArray("NameEdit") << "Yard";
    QTest::newRow("B known, voice off")
        << Frame("B1001001") << (all & ~0x01u) << QStringList{" RX: Call from Yard"} << noPopup
        << "SpeechPopupForm" << QByteArray("IdentEdit") << "1001";
    QTest::newRow("B unknown") << Frame("B1052000") << all << QStringList{" RX: Call from 105-2000"}
                               << "SpeechPopupForm"
                               << "SpeechPopupForm" << QByteArray("NameEdit") << "105-2000";
    QTest::newRow("D known") << Frame("D1001000") << all << QStringList{" RX: Call end from Base"} << noPopup
                             << QString() << QByteArray() << QString();
    QTest::newRow("D unknown") << Frame("D1052000") << all << QStringList{" RX: Call end from 105-2000"}
                               << noPopup << QString() << QByteArray() << QString();
    QTest::newRow("E known, status on")
        << Frame("E100100020") << all << QStringList{" RX: Status:20 from Base", "\t\"On duty\""}
        << "StatusPopupForm"
        << "StatusPopupForm" << QByteArray("TextEdit") << "On duty";
    QTest::newRow("E known, status off")
        << Frame("E100100121") << (all & ~0x02u) << QStringList{" RX: Status:21 from Yard", "\t\"Arrived\""}
        << noPopup << "StatusPopupForm" << QByteArray("NameEdit") << "Yard";
    QTest::newRow("E unknown number")
        << Frame("E100100033") << all << QStringList{" RX: Status:33 from Base", "\t\"Status:33\""}
        << "StatusPopupForm"
        << "StatusPopupForm" << QByteArray("TextEdit") << "Status:33";
    QTest::newRow("E unknown 97 is no emergency")
        << Frame("E100100097") << 0u << QStringList{" RX: Status:97 from Base", "\t\"Status:97\""} << noPopup
        << "StatusPopupForm" << QByteArray("TextEdit") << "Status:97";
    QTest::newRow("F with CR LF") << Frame("F1001000Hello\r\nWorld") << all
                                  << QStringList{" RX: Short Message from Base", "\t\"Hello World\""}
                                  << "MessagePopupForm"
                                  << "MessagePopupForm" << QByteArray("MessageMemo") << "Hello\nWorld";
    QTest::newRow("F, message off") << Frame("F1052000Hi") << (all & ~0x04u)
                                    << QStringList{" RX: Short Message from 105-2000", "\t\"Hi\""} << noPopup
                                    << "MessagePopupForm" << QByteArray("MessageMemo") << "Hi";
    const QByteArray long4000 = QByteArray("0123456789").repeated(400);
    QTest::newRow("G 4000 characters")
        << Frame("G1001001" + long4000) << all
        << QStringList{" RX: Long Message from Yard", "\t\"012345678901234567890123456789...\""}
        << "MessagePopupForm"
        << "MessagePopupForm" << QByteArray("MessageMemo") << QString::fromLatin1(long4000);
    QTest::newRow("I PTT connect") << Frame("I11001000"
                                            "1001000")
                                   << all << QStringList{" RX: PTT ID Connect from Base"} << "PttidPopupForm"
                                   << "PttidPopupForm" << QByteArray("NameEdit") << "Base";
    QTest::newRow("I PTT connect, off") << Frame("I11001001"
                                                 "1001001")
                                        << (all & ~0x08u) << QStringList{" RX: PTT ID Connect from Yard"}
                                        << noPopup << "PttidPopupForm" << QByteArray("FleetEdit") << "100";
    QTest::newRow("I PTT disconnect") << Frame("I01001000"
                                               "1001000")
                                      << all << QStringList{" RX: PTT ID Disconnect from Base"} << noPopup
                                      << "PttidPopupForm" << QByteArray("NameEdit") << QString();
    QTest::newRow("I call start") << Frame("I11001000"
                                           "1001001")
                                  << all << QStringList{" RX: Call start from Base to Yard"} << "AniPopupForm"
                                  << "AniPopupForm" << QByteArray("Name2Edit") << "Yard";
    QTest::newRow("I call start, off")
        << Frame("I11001000"
                 "1052000")
        << (all & ~0x10u) << QStringList{" RX: Call start from Base to 105-2000"} << noPopup << "AniPopupForm"
        << QByteArray("Ident2Edit") << "2000";
    QTest::newRow("I call end") << Frame("I01001001"
                                         "1001000")
                                << all << QStringList{" RX: Call end from Yard to Base"} << noPopup
                                << "AniPopupForm" << QByteArray("NameEdit") << "Yard";
    QTest::newRow("H ignored") << Frame("H1001000") << all << QStringList{QString()} << noPopup << QString()
                               << QByteArray() << QString();
}

void TstMainForm::frameShownAndPopupOpened()
{
    QFETCH(QByteArray, frame);
    QFETCH(unsigned, flags);
    QFETCH(QStringList, log);
    QFETCH(QString, popup);
    QFETCH(QString, window);
    QFETCH(QByteArray, field);
    QFETCH(QString, value);

    Start(flags);
    SendAndSettle(frame, log == QStringList{QString()} ? 0 : 1);
    QCOMPARE(LogLines(), log);
    QCOMPARE(VisiblePopups(), popup.isEmpty() ? QStringList() : QStringList{popup});
    if (!window.isEmpty())
        QCOMPARE(Field(window, field.constData()), value);
    if (frame.startsWith("\x02I1") && frame.mid(3, 7) == frame.mid(10, 7))
        QCOMPARE(PttidPopupForm->windowTitle(), QStringLiteral("PTT ID Connect"));
    if (frame.startsWith("\x02I0") && frame.mid(3, 7) == frame.mid(10, 7))
        QCOMPARE(PttidPopupForm->windowTitle(), QStringLiteral("PTT ID Disconnect"));
    QVERIFY(!Console->Alarm().EmergencyTimer->isActive());
    QVERIFY(dir->boxes.isEmpty());
}

void TstMainForm::statusNumberDecidesEmergency_data()
{
    QTest::addColumn<QByteArray>("number");
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("emergency");

    QTest::newRow("94, status on") << QByteArray("94") << 0x02u << true << false;
    QTest::newRow("94, status off") << QByteArray("94") << 0u << false << false;
    QTest::newRow("95, status on") << QByteArray("95") << 0x02u << true << true;
    QTest::newRow("95, status off") << QByteArray("95") << 0x1Du << true << true;
    QTest::newRow("99, no flags") << QByteArray("99") << 0u << true << true;
}

void TstMainForm::statusNumberDecidesEmergency()
{
    QFETCH(QByteArray, number);
    QFETCH(unsigned, flags);
    QFETCH(bool, shown);
    QFETCH(bool, emergency);

    Start(flags);
    SendAndSettle(Frame("E1001000" + number));
    QCOMPARE(StatusPopupForm->isVisible(), shown);
    QCOMPARE(Console->Alarm().EmergencyTimer->isActive(), emergency);
    QCOMPARE(Field("StatusPopupForm", "FleetEdit"), QStringLiteral("100"));
    if (!emergency)
        return;
    // The first tick paints the normal colours, the second red, and so on.
    QSignalSpy ticks(Console->Alarm().EmergencyTimer, &QTimer::timeout);
    QVERIFY(ticks.wait(2000));
    QVERIFY(Console->Alarm().EmergencyFlash());
    QCOMPARE(LogBase(), NormalLogBase());
    QVERIFY(ticks.wait(2000));
    QVERIFY(!Console->Alarm().EmergencyFlash());
    QCOMPARE(LogBase(), QColor(Qt::red));
    QCOMPARE(StatusPopupColour(), QColor(Qt::red));
}

void TstMainForm::secondEmergencyKeepsPhase()
{
    Start(0);
    SendAndSettle(Frame("E100100095"));
    QSignalSpy ticks(Console->Alarm().EmergencyTimer, &QTimer::timeout);
    QVERIFY(ticks.wait(2000));
    QVERIFY(Console->Alarm().EmergencyFlash());
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTest::qWait(400); // part of the way into the second
    SendAndSettle(Frame("E100100199"));
    if (ticks.count() > 1)
        QSKIP("the machine is too slow to see the phase: the next tick came before the frame was handled");
    QCOMPARE(Field("StatusPopupForm", "TextEdit"), QStringLiteral("Officer down"));
    QCOMPARE(Field("StatusPopupForm", "NameEdit"), QStringLiteral("Yard"));
    QVERIFY(Console->Alarm().EmergencyTimer->isActive());
    QVERIFY(Console->Alarm().EmergencyFlash());
    // A restarted timer would have a whole second left.
    const int left = Console->Alarm().EmergencyTimer->remainingTime();
    QVERIFY2(left <= 1000 - 300, qPrintable(QString::number(left)));
    QVERIFY(ticks.wait(2000));
    QVERIFY2(sinceTick.elapsed() < 1300, qPrintable(QString::number(sinceTick.elapsed())));
    QCOMPARE(LogBase(), QColor(Qt::red));
}

void TstMainForm::closingStatusPopupRestoresColours()
{
    Start(0x02);
    SendAndSettle(Frame("E100100095"));
    QSignalSpy ticks(Console->Alarm().EmergencyTimer, &QTimer::timeout);
    QVERIFY(ticks.wait(2000));
    QVERIFY(ticks.wait(2000));
    QCOMPARE(LogBase(), QColor(Qt::red));
    QCOMPARE(StatusPopupColour(), QColor(Qt::red));

    // Between ticks: both colours come back at once, and no tick follows.
    StatusPopupForm->findChild<QAbstractButton *>(QStringLiteral("CloseBitBtn"))->click();
    QVERIFY(!StatusPopupForm->isVisible());
    QVERIFY(!Console->Alarm().EmergencyTimer->isActive());
    QVERIFY(!Console->Alarm().EmergencyFlash());
    QCOMPARE(LogBase(), NormalLogBase());
    QCOMPARE(StatusPopupColour(), QWidget().palette().color(QPalette::Window));
    QVERIFY(!ticks.wait(1200));

    // The Last menu shows it again without restarting the flash.
    Console->Window()->findChild<QAction *>(QStringLiteral("Status2"))->trigger();
    QVERIFY(StatusPopupForm->isVisible());
    QVERIFY(!Console->Alarm().EmergencyTimer->isActive());
    QCOMPARE(Field("StatusPopupForm", "TextEdit"), QStringLiteral("Emergency"));

    // The next emergency starts with the normal colours again; the close box ends it too.
    SendAndSettle(Frame("E100100099"));
    QVERIFY(ticks.wait(2000));
    QCOMPARE(LogBase(), NormalLogBase());
    QVERIFY(Console->Alarm().EmergencyFlash());
    StatusPopupForm->close();
    QVERIFY(!Console->Alarm().EmergencyTimer->isActive());
    QVERIFY(!Console->Alarm().EmergencyFlash());

    // Closing it when no emergency runs leaves the colours alone.
    Console->Window()->findChild<QAction *>(QStringLiteral("Status2"))->trigger();
    StatusPopupForm->close();
    QCOMPARE(LogBase(), NormalLogBase());
}

// The station in trouble stays on the status window while the flash runs; an
// ordinary status meanwhile is logged, and shown there once the alarm is closed.
void TstMainForm::emergencyNotOverwrittenByOrdinaryStatus()
{
    Start(0x02);
    SendAndSettle(Frame("E101110295"));
    SendAndSettle(Frame("E101110122"));
    QVERIFY(LogLines().contains(QStringLiteral("\t\"Departed\"")));
    QVERIFY(Console->Alarm().EmergencyTimer->isActive());
    QCOMPARE(Field("StatusPopupForm", "NameEdit"), QStringLiteral("Car 2"));
    QCOMPARE(Field("StatusPopupForm", "IdentEdit"), QStringLiteral("1102"));
    QCOMPARE(Field("StatusPopupForm", "TextEdit"), QStringLiteral("Emergency"));

    // Another emergency does take over, and the held ordinary status is older than it.
    SendAndSettle(Frame("E101110122"));
    SendAndSettle(Frame("E100100099"));
    QCOMPARE(Field("StatusPopupForm", "NameEdit"), QStringLiteral("Base"));
    QCOMPARE(Field("StatusPopupForm", "TextEdit"), QStringLiteral("Officer down"));
    SendAndSettle(Frame("E101110221"));
    QCOMPARE(Field("StatusPopupForm", "NameEdit"), QStringLiteral("Base"));

    // Closing acknowledges Base's alarm; Car 2's is still open and comes back on the
    // window with the flash; closing that one ends the emergency.
    StatusPopupForm->findChild<QAbstractButton *>(QStringLiteral("CloseBitBtn"))->click();
    QVERIFY(Console->Alarm().EmergencyTimer->isActive());
    QTRY_VERIFY(StatusPopupForm->isVisible());
    QCOMPARE(Field("StatusPopupForm", "NameEdit"), QStringLiteral("Car 2"));
    QCOMPARE(Field("StatusPopupForm", "TextEdit"), QStringLiteral("Emergency"));
    StatusPopupForm->findChild<QAbstractButton *>(QStringLiteral("CloseBitBtn"))->click();
    QVERIFY(!Console->Alarm().EmergencyTimer->isActive());
    Console->Window()->findChild<QAction *>(QStringLiteral("Status2"))->trigger();
    QCOMPARE(Field("StatusPopupForm", "NameEdit"), QStringLiteral("Car 2"));
    QCOMPARE(Field("StatusPopupForm", "TextEdit"), QStringLiteral("Arrived"));

    // With no emergency, ordinary statuses fill the window as always.
    SendAndSettle(Frame("E101110122"));
    QCOMPARE(Field("StatusPopupForm", "NameEdit"), QStringLiteral("Car 1"));
}

void TstMainForm::lastMenuBeforeAnyEvent()
{
    Start(0x1F);
    const struct {
        const char *action;
        const char *window;
        QList<QByteArray> fields;
    } items[] = {
        {"Speech2", "SpeechPopupForm", {"NameEdit", "FleetEdit", "IdentEdit"}},
        {"Status2", "StatusPopupForm", {"NameEdit", "FleetEdit", "IdentEdit", "TextEdit"}},
        {"Message2", "MessagePopupForm", {"NameEdit", "FleetEdit", "IdentEdit", "MessageMemo"}},
        {"ANI1", "PttidPopupForm", {"NameEdit", "FleetEdit", "IdentEdit"}},
        {"ANI2",
         "AniPopupForm",
         {"NameEdit", "FleetEdit", "IdentEdit", "Name2Edit", "Fleet2Edit", "Ident2Edit"}},
    };
    for (const auto &item : items) {
        Console->Window()->findChild<QAction *>(QLatin1String(item.action))->trigger();
        QWidget *w = PopupByName(QLatin1String(item.window));
        QVERIFY2(w && w->isVisible(), item.window);
        for (const QByteArray &field : item.fields)
            QCOMPARE(Field(QLatin1String(item.window), field.constData()), QString());
    }
    QCOMPARE(PttidPopupForm->windowTitle(), QStringLiteral("PTT ID"));
    QVERIFY(!PopupForm->isVisible());
}

void TstMainForm::lastMenuShowsNewest()
{
    Start(0);
    SendAndSettle(Frame("B1001000") + Frame("B1001001") +
                      Frame("I11001000"
                            "1001001") +
                      Frame("I01052000"
                            "1001000") +
                      Frame("F1001001one") + Frame("F1001000two"),
                  6);
    QVERIFY(VisiblePopups().isEmpty());
    Console->Window()->findChild<QAction *>(QStringLiteral("Speech2"))->trigger();
    QCOMPARE(Field("SpeechPopupForm", "NameEdit"), QStringLiteral("Yard"));
    Console->Window()->findChild<QAction *>(QStringLiteral("ANI2"))->trigger();
    // The call end changed only the From fields.
    QCOMPARE(Field("AniPopupForm", "NameEdit"), QStringLiteral("105-2000"));
    QCOMPARE(Field("AniPopupForm", "Name2Edit"), QStringLiteral("Yard"));
    Console->Window()->findChild<QAction *>(QStringLiteral("Message2"))->trigger();
    QCOMPARE(Field("MessagePopupForm", "MessageMemo"), QStringLiteral("two"));
    QCOMPARE(Field("MessagePopupForm", "NameEdit"), QStringLiteral("Base"));
    QCOMPARE(VisiblePopups(), (QStringList{"SpeechPopupForm", "MessagePopupForm", "AniPopupForm"}));
}

void TstMainForm::logTrimsToThirtyLines_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("bottom"); // the oldest line left

    QTest::newRow("30 + one line") << 30 << "new"
                                   << "L02";
    QTest::newRow("30 + two lines") << 30 << "new\r\n\t\"text\""
                                    << "L03";
    QTest::newRow("29 + two lines") << 29 << "new\r\n\t\"text\""
                                    << "L02";
    QTest::newRow("29 + one line") << 29 << "new"
                                   << "L01";
}

void TstMainForm::logTrimsToThirtyLines()
{
    QFETCH(int, before);
    QFETCH(QString, entry);
    QFETCH(QString, bottom);

    Start(0);
    FillLog(before);
    QCOMPARE(LogMemoLines::VisualLineCount(Log()), std::min(before, 30));
    Console->Log().InsertEntry(entry);
    const QStringList lines = Console->LogText().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 30);
    QCOMPARE(MeasuredLines(), 30);
    QCOMPARE(lines.first(), QStringLiteral("new"));
    QCOMPARE(lines.last(), bottom);
    QCOMPARE(lines[entry.contains('\n') ? 2 : 1], QStringLiteral("L%1").arg(before, 2, 10, QLatin1Char('0')));
}

void TstMainForm::logTrimsWrappedEntry()
{
    Start(0);
    QPlainTextEdit *memo = Log();
    // Words enough for three lines at the log's width.
    const int width = memo->viewport()->width();
    QVERIFY(width > 400);
    QString wrapped;
    const QFontMetrics metrics(memo->font());
    while (metrics.horizontalAdvance(wrapped) < width * 5 / 2)
        wrapped += QStringLiteral("word%1 ").arg(wrapped.size());
    wrapped = wrapped.trimmed();

    Console->Log().InsertEntry(wrapped);
    QCOMPARE(MeasuredLines(), 3);
    QCOMPARE(LogMemoLines::VisualLineCount(memo), 3);
    Console->Window()->findChild<QAction *>(QStringLiteral("LogClear1"))->trigger();

    // On top of 30 lines it pushes out the three oldest.
    FillLog(30);
    Console->Log().InsertEntry(wrapped);
    QCOMPARE(MeasuredLines(), 30);
    QCOMPARE(LogMemoLines::VisualLineCount(memo), 30);
    QStringList blocks = Console->LogText().split(QLatin1Char('\n'));
    QCOMPARE(blocks.size(), 28);
    QCOMPARE(blocks.first(), wrapped);
    QCOMPARE(blocks.last(), QStringLiteral("L04"));

    // Grown old at the bottom, it loses its lower lines one at a time, upper part kept.
    Console->Window()->findChild<QAction *>(QStringLiteral("LogClear1"))->trigger();
    Console->Log().InsertEntry(wrapped);
    FillLog(27);
    QCOMPARE(MeasuredLines(), 30);
    Console->Log().InsertEntry(QStringLiteral("one"));
    QCOMPARE(MeasuredLines(), 30);
    blocks = Console->LogText().split(QLatin1Char('\n'));
    QCOMPARE(blocks.size(), 29);
    QVERIFY(blocks.last().size() < wrapped.size());
    QVERIFY(wrapped.startsWith(blocks.last()));
    QCOMPARE(memo->document()->lastBlock().layout()->lineCount(), 2);
    Console->Log().InsertEntry(QStringLiteral("two"));
    Console->Log().InsertEntry(QStringLiteral("three"));
    QCOMPARE(MeasuredLines(), 30);
    blocks = Console->LogText().split(QLatin1Char('\n'));
    QCOMPARE(blocks.size(), 30);
    QCOMPARE(blocks.last(), QStringLiteral("L01"));
}

void TstMainForm::logTrimCutsThroughWrappedEntry()
{
    Start(0);
    QPlainTextEdit *memo = Log();
    const int width = memo->viewport()->width();
    QString wrapped;
    const QFontMetrics metrics(memo->font());
    while (metrics.horizontalAdvance(wrapped) < width * 5 / 2)
        wrapped += QStringLiteral("word%1 ").arg(wrapped.size());
    wrapped = wrapped.trimmed();

    // Bottom up: L01, the three-line entry, L02..L27: 30 lines.
    Console->Log().InsertEntry(QStringLiteral("L01"));
    Console->Log().InsertEntry(wrapped);
    for (int i = 2; i <= 27; ++i)
        Console->Log().InsertEntry(QStringLiteral("L%1").arg(i, 2, 10, QLatin1Char('0')));
    QCOMPARE(MeasuredLines(), 30);
    // Two lines more on top: L01 goes, and the wrapped entry's bottom line.
    Console->Log().InsertEntry(QStringLiteral("new\r\n\t\"text\""));
    QCOMPARE(MeasuredLines(), 30);
    QCOMPARE(LogMemoLines::VisualLineCount(memo), 30);
    QStringList blocks = Console->LogText().split(QLatin1Char('\n'));
    QCOMPARE(blocks.size(), 29);
    QCOMPARE(blocks.first(), QStringLiteral("new"));
    QCOMPARE(blocks[blocks.size() - 2], QStringLiteral("L02"));
    QVERIFY(wrapped.startsWith(blocks.last()));
    QVERIFY(blocks.last().size() < wrapped.size());
    QCOMPARE(memo->document()->lastBlock().layout()->lineCount(), 2);
    // Five lines more: the rest of it and L02..L04 go at once.
    Console->Log().InsertEntry(wrapped);
    Console->Log().InsertEntry(QStringLiteral("one\r\n\t\"two\""));
    QCOMPARE(MeasuredLines(), 30);
    blocks = Console->LogText().split(QLatin1Char('\n'));
    QCOMPARE(blocks.last(), QStringLiteral("L05"));
    QCOMPARE(blocks.size(), 28);
}

void TstMainForm::logShowsWhatItHolds_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("scrollAfter"); // entries after which the view is scrolled to the bottom, or -1
    QTest::addColumn<bool>("flash");      // the emergency colour on the log while entries come
    QTest::addColumn<int>("together");    // entries that come between two looks at the window

    QStringList single, pairs, wrapped, mixed;
    for (int i = 0; i < 40; ++i)
        single << QStringLiteral("12:00:%1 RX: Call from Yard gjpqy|%1").arg(i, 2, 10, QLatin1Char('0'));
    for (int i = 0; i < 25; ++i)
        pairs << QStringLiteral("12:01:%1 RX: Status:20 from Base\r\n\t\"On duty\"")
                     .arg(i, 2, 10, QLatin1Char('0'));
    const QString words =
        QStringLiteral("Road closed at the bridge, use the north gate, then wait. ").repeated(3);
    for (int i = 0; i < 20; ++i)
        wrapped << QStringLiteral("12:02:%1 RX: %2").arg(i).arg(words.left(40 + 9 * i));
    for (int i = 0; i < 45; ++i)
        mixed << (i % 3 == 0 ? single[i % 40] : i % 3 == 1 ? pairs[i % 25] : wrapped[i % 20]);

    QTest::newRow("one-line entries") << single << -1 << false << 1;
    QTest::newRow("two-line entries") << pairs << -1 << false << 1;
    QTest::newRow("wrapped entries") << wrapped << -1 << false << 1;
    QTest::newRow("mixed entries") << mixed << -1 << false << 1;
    QTest::newRow("mixed, view scrolled down") << mixed << 20 << false << 1;
    QTest::newRow("mixed, emergency colour") << mixed << -1 << true << 1;
    // Faster than the log is drawn: the entries share one move of the drawn lines.
    QTest::newRow("mixed, in bursts") << mixed << -1 << false << 4;
    QTest::newRow("mixed, in bursts, scrolled down mid-burst") << mixed << 22 << false << 4;
}

void TstMainForm::logShowsWhatItHolds()
{
    QFETCH(QStringList, entries);
    QFETCH(int, scrollAfter);
    QFETCH(bool, flash);
    QFETCH(int, together);

    Start(0);
    QPlainTextEdit *memo = Log();
    if (flash)
        Console->Alarm().PaintEmergency(true);
    for (int i = 0; i < entries.size(); ++i) {
        if (i == scrollAfter)
            memo->verticalScrollBar()->setValue(memo->verticalScrollBar()->maximum());
        Console->Log().InsertEntry(entries[i]);
        if ((i + 1) % together != 0 && i + 1 < entries.size())
            continue;
        // What the window shows, once the log has been drawn, must be what a full
        // paint of the log draws.
        QTRY_COMPARE(Shown(memo->viewport()), Painted(memo->viewport()));
    }
    QCOMPARE(MeasuredLines(), 30);
    QCOMPARE(LogMemoLines::VisualLineCount(memo), 30);
    QVERIFY(Console->LogText().startsWith(
        QString(entries.last()).replace(QLatin1String("\r\n"), QLatin1String("\n"))));
    if (flash)
        Console->Alarm().PaintEmergency(false);
}

// A repaint of anything else in the window brings a log that waits for its next
// drawing up to date in the same pass, so the window never shows two states of it.
void TstMainForm::logDrawnWhenWindowRepaints()
{
    Start(0);
    QPlainTextEdit *memo = Log();
    for (int round = 0; round < 12; ++round) {
        for (int i = 0; i < 3; ++i)
            Console->Log().InsertEntry(QStringLiteral("12:03:%1 RX: Call from Yard %2").arg(round).arg(i));
        ClockPanel()->update();
        QCoreApplication::processEvents();
        QCOMPARE(Shown(memo->viewport()), Painted(memo->viewport()));
    }
}

void TstMainForm::clockShowsDateAndTime()
{
    Start(0);
    QLabel *clock = ClockPanel();
    QVERIFY(clock);
    const QRect bar = Console->Window()->statusBar()->geometry();
    const QRect place = clock->geometry();
    const QLocale locale = QLocale::system();
    const QString format =
        locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') + LongTimeFormat(locale);
    // The panel reads as the local date and time, and follows the clock.
    const auto shownTime = [&] { return locale.toDateTime(clock->text(), format); };
    QVERIFY2(shownTime().isValid(), qPrintable(clock->text()));
    const QString first = clock->text();
    QTRY_VERIFY_WITH_TIMEOUT(clock->text() != first, 3000);
    QVERIFY2(qAbs(shownTime().secsTo(QDateTime::currentDateTime())) <= 1, qPrintable(clock->text()));
    // Ticking moves nothing in the status bar, and the window shows each new text.
    const QString second = clock->text();
    QTRY_VERIFY_WITH_TIMEOUT(clock->text() != second, 3000);
    QCOMPARE(clock->geometry(), place);
    QCOMPARE(Console->Window()->statusBar()->geometry(), bar);
    QTRY_COMPARE(Shown(Console->Window()->statusBar()), Painted(Console->Window()->statusBar()));
}

void TstMainForm::clearLog()
{
    Start(0);
    Console->Window()->findChild<QAction *>(QStringLiteral("LogClear1"))->trigger(); // empty: nothing happens
    QVERIFY(Console->LogText().isEmpty());
    SendAndSettle(Frame("B1001000") + Frame("E100100020"), 2);
    QCOMPARE(LogLines().size(), 3);
    Console->Window()->findChild<QAction *>(QStringLiteral("LogClear1"))->trigger();
    QVERIFY(Console->LogText().isEmpty());
    QCOMPARE(LogMemoLines::VisualLineCount(Log()), 0);
    // The next entry starts a fresh log, no empty line below it.
    SendAndSettle(Frame("D1001000"));
    QCOMPARE(LogLines(), QStringList{" RX: Call end from Base"});
    QVERIFY(dir->boxes.isEmpty());
}

// The log is what an operator wants more of: the window grows, and the log with
// it; 640 x 480 stays the size it opens at and the least it takes.
void TstMainForm::windowGrowsWithItsLog()
{
    Start(0);
    QCOMPARE(Console->Window()->minimumSize(), QSize(640, 480));
    QVERIFY(Console->Window()->maximumWidth() > 640 && Console->Window()->maximumHeight() > 480);
    const QSize logBefore = Log()->size();
    Console->Window()->resize(900, 700);
    QTRY_COMPARE(Console->Window()->size(), QSize(900, 700));
    QTRY_COMPARE(Log()->width(), logBefore.width() + 260);
    QCOMPARE(Log()->height(), logBefore.height() + 220);
    Console->Window()->resize(300, 200);
    QTRY_COMPARE(Console->Window()->size(), QSize(640, 480));
}

void TstMainForm::screenReaderHearsWhatIsShown()
{
    Start(0);
    const QString faults = AccessibleNameFaults(Console->Window());
    QVERIFY2(faults.isEmpty(), qPrintable(faults));
    const QList<QLabel *> panels =
        Console->Window()->findChild<QStatusBar *>(QStringLiteral("StatusBar1"))->findChildren<QLabel *>();
    QStringList heard;
    for (QLabel *panel : panels)
        heard << HeardName(panel);
    QVERIFY2(heard.contains(QStringLiteral("Com1")), qPrintable(heard.join('|')));
    QVERIFY2(heard.contains(Console->Panels().Text(2)), qPrintable(heard.join('|')));
}

int main(int argc, char *argv[])
{
    TApplication app(argc, argv);
    TApplication::setQuitOnLastWindowClosed(false);
    TstMainForm test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainform.moc"

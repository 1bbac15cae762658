// The radio talks while a modal window runs its own event loop: the real message
// boxes and dialogs (not a stand-in that answers at once), with frames written to
// the pseudo-terminal while each one is open and the window closed from a timer,
// as an operator's hand would.

#include "AlarmSound.h"
#include "Application.h"
#include "Config.h"
#include "Console.h"
#include "ConsoleFixture.h"
#include "ConsoleMessageBox.h"
#include "ConsoleSession.h"
#include "EmergenciesWindow.h"
#include "ErrorReport.h"
#include "FileChoice.h"
#include "Frame.h"
#include "RadioLink.h"
#include "SendCommand.h"
#include "Statuspopup.h"
#include "TrafficHub.h"
#include "Zcomm.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QMainWindow>
#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>
#include <QWindow>
#include <functional>
#include <stdexcept>

namespace {

const QByteArray Ini = QByteArrayLiteral("COM=1\r\nPOPUP=0x001F\r\n");

// One of each kind of station traffic, an unknown station among them (its
// sighting adds a row to the user table while the window is open).
const QList<QByteArray> Traffic{BuildFrame("B1001000"), BuildFrame("E101110295"), BuildFrame("F1021203Hello"),
                                BuildFrame("B3001234"), BuildFrame("I110010001011102")};
const QStringList Expected{QStringLiteral("Call from Base"), QStringLiteral("Status:95 from Car 2"),
                           QStringLiteral("Message from Truck 3"), QStringLiteral("Call from 300-1234"),
                           QStringLiteral("from Base to Car 2")};

// Where each expected entry is in the log (newest on top), -1 when it is missing.
QList<int> EntryLines(const QString &log)
{
    QList<int> at;
    for (const QString &e : Expected)
        at << log.indexOf(e);
    return at;
}

bool AllLoggedInOrder(const QString &log)
{
    const QList<int> at = EntryLines(log);
    for (int i = 0; i < at.size(); ++i)
        if (at[i] < 0 || (i > 0 && at[i] > at[i - 1]))
            return false; // newest on top: each later frame above the one before
    return true;
}

// The operator's hand: once a modal window is up, the radio sends its traffic;
// the window stays open until the entries are in the log (or, during start-up,
// for a while), then it is closed with its cancel path.
class TOperatorHand final : public QObject {
public:
    TOperatorHand(TConsoleDir &dir, bool waitForLog) : dir_(dir), waitForLog_(waitForLog)
    {
        connect(&timer_, &QTimer::timeout, this, &TOperatorHand::Tick);
        timer_.start(10);
    }

    bool sawModal = false;
    bool loggedWhileOpen = false;
    // With the traffic in, the operator's mouse on the alarm windows behind the
    // modal one: Mute in the Emergencies window, then OK on the status popup.
    bool mutedWhileOpen = false;
    bool acknowledgedWhileOpen = false;
    QString modalTitle;

private:
    void Tick()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (!sawModal) {
            sawModal = true;
            modalTitle = modal->windowTitle();
            for (const QByteArray &frame : Traffic)
                QVERIFY(dir_.Send(1, frame));
            deadline_ = QDeadlineTimer(waitForLog_ ? 10000 : 500);
            return;
        }
        if (waitForLog_ && Console && AllLoggedInOrder(Console->LogText())) {
            loggedWhileOpen = true;
            ClickAlarmWindows();
        } else if (!deadline_.hasExpired()) {
            return;
        }
        timer_.stop();
        if (auto *dialog = qobject_cast<QDialog *>(modal))
            dialog->reject();
        else
            modal->close();
    }

    // As the window system delivers a click: to the window, where a modal
    // window that blocks it keeps the click away.
    static void ClickThroughWindow(QWidget *window, const char *button)
    {
        auto *target = window->findChild<QAbstractButton *>(QLatin1String(button));
        const QPoint at = target->mapTo(window, target->rect().center());
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, at);
        QCoreApplication::processEvents();
    }

    void ClickAlarmWindows()
    {
        TAlarmList &alarms = Console->Hub().Alarms();
        if (alarms.OpenCount() != 1 || !StatusPopupForm->isVisible() || !EmergenciesForm->isVisible())
            return;
        ClickThroughWindow(EmergenciesForm, "MuteBitBtn");
        mutedWhileOpen = alarms.Muted();
        ClickThroughWindow(StatusPopupForm, "CloseBitBtn");
        acknowledgedWhileOpen = alarms.OpenCount() == 0;
    }

    TConsoleDir &dir_;
    bool waitForLog_;
    QTimer timer_;
    QDeadlineTimer deadline_;
};

} // namespace

class TstModalLoops : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { DeleteConsoleWindows(); }
    void startUpPortWarning();
    void framesDuringModal_data();
    void framesDuringModal();
};

// The box "COM1 is used." runs while the main window is being built and before
// any popup exists: frames that come then wait, and are decoded in order once
// every window is there.
void TstModalLoops::startUpPortWarning()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=3\r\nPOPUP=0x001F\r\n", {1}));
    InstallConsoleMessageBox();
    TOperatorHand hand(dir, false);
    CreateConsoleWindows();
    QVERIFY(hand.sawModal);
    QCOMPARE(hand.modalTitle, QStringLiteral("Comport Warning"));
    QVERIFY(Console && !Console->EndRequested());
    QTRY_VERIFY2(AllLoggedInOrder(Console->LogText()), qPrintable(Console->LogText()));
    // The popups the frames opened are the real, finished windows.
    QTRY_VERIFY(Console->LogText().count(QLatin1String(" RX: ")) == Traffic.size());
}

void TstModalLoops::framesDuringModal_data()
{
    using TOpen = std::function<void()>;
    QTest::addColumn<TOpen>("open");
    QTest::addColumn<QString>("title");
    QTest::newRow("Config: port fallback box") << TOpen([] {
        QTimer::singleShot(0, ConfigForm, [] {
            ConfigForm->findChild<QRadioButton *>(QStringLiteral("Com3RadioButton"))->click();
            ConfigForm->findChild<QAbstractButton *>(QStringLiteral("BitBtn1"))->click();
        });
        Console->Window()->findChild<QAbstractButton *>(QStringLiteral("ConfigBitBtn"))->click();
    }) << "Comport Warning";
    QTest::newRow("Config window") << TOpen([] {
        Console->Window()->findChild<QAbstractButton *>(QStringLiteral("ConfigBitBtn"))->click();
    }) << "Configuration";
    QTest::newRow("Warning box") << TOpen([] {
        GuardedCall([] {
            SendCommand(Console->Session().CommandContext(), 'B', QStringLiteral("1"),
                        QStringLiteral("1000"));
        });
    }) << "Warning";
    QTest::newRow("End") << TOpen([] { Console->Window()->close(); }) << "End";
    QTest::newRow("Edit User") << TOpen([] {
        Console->Window()->findChild<QAbstractButton *>(QStringLiteral("EUserBitBtn"))->click();
    }) << "User";
    QTest::newRow("Edit Status") << TOpen([] {
        Console->Window()->findChild<QAbstractButton *>(QStringLiteral("EstatusBitBtn"))->click();
    }) << "Status";
    QTest::newRow("error box") << TOpen([] {
        ReportError(std::make_exception_ptr(std::runtime_error("disk full")));
    }) << "Error";
    QTest::newRow("Version") << TOpen([] {
        Console->Window()->findChild<QAction *>(QStringLiteral("Version1"))->trigger();
    }) << "Version";
    QTest::newRow("file dialog") << TOpen([] {
        ChooseFile(Console->Window(), FileChoice::Open, QStringLiteral("Import users"), QDir::currentPath());
    }) << "Import users";
}

void TstModalLoops::framesDuringModal()
{
    using TOpen = std::function<void()>;
    QFETCH(TOpen, open);
    QFETCH(QString, title);
    TConsoleDir dir;
    QVERIFY(dir.Prepare(Ini, {1}));
    InstallConsoleMessageBox();
    CreateConsoleWindows();
    QVERIFY(Console && !Console->EndRequested());
    Console->Window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(Console->Window()));
    QVERIFY(dir.Send(1, Frame("0")));
    QTRY_VERIFY(Console->LogText().contains(QLatin1String(" RX: Success")));

    Console->Sound().SetDeviceAvailable(true); // Mute is offered only with a sound device
    Console->Window()->findChild<QAction *>(QStringLiteral("Emergencies1"))->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(EmergenciesForm));

    TOperatorHand hand(dir, true);
    open();
    QVERIFY(hand.sawModal);
    QCOMPARE(hand.modalTitle, title);
    // Handled as ever while the window was open: logged, in order, nothing lost.
    QVERIFY2(hand.loggedWhileOpen, qPrintable(Console->LogText()));
    // The alarm windows answered the mouse behind it.
    QVERIFY(hand.mutedWhileOpen);
    QVERIFY(hand.acknowledgedWhileOpen);
    QVERIFY(Console->Window()->isVisible());
    QVERIFY(Console->Link().Port()->GetPortStatus());
}

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TstModalLoops test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_modalloops.moc"

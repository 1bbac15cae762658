// The console started in-process in a scratch directory: start-up and its
// failures, port selection through the real serial component, the Config window,
// the exit sequence, and the error box fed from the reader thread.

#include "Application.h"
#include "Config.h"
#include "Console.h"
#include "ConsoleFixture.h"
#include "End.h"
#include "ErrorReport.h"
#include "RadioLink.h"
#include "Speechpopup.h"
#include "StatusPanels.h"
#include "Version.h"
#include "Zcomm.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QEventLoop>
#include <QMainWindow>
#include <QRadioButton>
#include <QTimer>
#include <memory>

Q_DECLARE_METATYPE(QList<int>)

namespace {

const QByteArray Ini15 = QByteArrayLiteral("COM=1\r\nPOPUP=0x001F\r\n");

// A fresh component's verdict on a port: free again when no one holds it.
bool PortIsFree(const QString &name)
{
    TZComm probe;
    return probe.CheckCommportValid(name);
}

// Answers the modal window that is about to open by clicking one of its buttons.
void ClickWhenShown(QWidget *window, const char *button)
{
    QTimer::singleShot(0, window, [window, button] {
        if (auto *b = window->findChild<QAbstractButton *>(QLatin1String(button)))
            b->click();
    });
}

void CloseMainWithAnswer(const char *endButton, bool &closed)
{
    ClickWhenShown(EndForm, endButton);
    closed = Console->Window()->close();
}

} // namespace

class TstConsole : public QObject {
    Q_OBJECT
private slots:
    void cleanup();

    void startUpSelectsPort_data();
    void startUpSelectsPort();
    void noUsablePortEndsWithoutWriting();
    void startUpFailures_data();
    void startUpFailures();
    void failedStartUpLeavesNothingBehind();

    void exitWritesSettings_data();
    void exitWritesSettings();
    void exitCancelKeepsRunning();
    void exitEndsProgramWithWindowsOpen();
    void exitWithUnwritableFileKeepsConsole();

    void configShowsSettingsInForce();
    void configChangesPort_data();
    void configChangesPort();
    void configCancelChangesNothing();
    void configWithNoPortLeftEnds();
    void tableGoneWhileRunning();

    void readerErrorsShownOneAtATime();
    void burstAndSplitFrames();
};

void TstConsole::cleanup()
{
    DeleteConsoleWindows();
    QVERIFY(!Console && !EndForm && !ConfigForm);
}

void TstConsole::startUpSelectsPort_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QList<int>>("ports");
    QTest::addColumn<int>("port");
    QTest::addColumn<unsigned>("flags");
    QTest::addColumn<QString>("box");

    QTest::newRow("wanted COM3 usable")
        << QByteArray("COM=3\r\nPOPUP=0x0005\r\n") << QList<int>{1, 3} << 3 << 5u << QString();
    QTest::newRow("COM3 missing, falls back")
        << QByteArray("COM=3\r\nPOPUP=0x0005\r\n") << QList<int>{1} << 1 << 5u << "COM1 is used.";
    QTest::newRow("fallback takes the first usable")
        << QByteArray("COM=1\r\nPOPUP=0\r\n") << QList<int>{2, 4} << 2 << 0u << "COM2 is used.";
    QTest::newRow("names in any case")
        << QByteArray("com=2\r\nPopup=0x10\r\n") << QList<int>{1, 2} << 2 << 0x10u << QString();
    QTest::newRow("first matching line wins") << QByteArray("COM=2\r\nCOM=1\r\npopup=$3F\r\nPOPUP=0\r\n")
                                              << QList<int>{1, 2} << 2 << 0x3Fu << QString();
    QTest::newRow("blank before = is another name")
        << QByteArray("COM =1\r\nCOM=2\r\nPOPUP =1\r\nPOPUP=x7\r\n") << QList<int>{1, 2} << 2 << 7u
        << QString();
    QTest::newRow("extra lines, LF and CR endings")
        << QByteArray("[radio]\nNAME=Depot\rCOM=4\nno value here\r\nPOPUP=  31\n") << QList<int>{4} << 4
        << 31u << QString();
    QTest::newRow("value keeps leading spaces, signed decimal")
        << QByteArray("COM=  +1\r\nPOPUP=-1\r\n") << QList<int>{1} << 1 << 0xFFFFFFFFu << QString();
}

void TstConsole::startUpSelectsPort()
{
    QFETCH(QByteArray, ini);
    QFETCH(QList<int>, ports);
    QFETCH(int, port);
    QFETCH(unsigned, flags);
    QFETCH(QString, box);

    TConsoleDir dir;
    QVERIFY(dir.Prepare(ini, ports));
    CreateConsoleWindows();
    QVERIFY(Console);
    QVERIFY(!Console->EndRequested());
    QCOMPARE(Console->Link().Settings().CurrentComPort, port);
    QCOMPARE(Console->Link().Settings().PopupFlags, flags);
    QVERIFY(Console->Link().Port()->GetPortStatus());
    QCOMPARE(Console->Link().Port()->DeviceName(), QStringLiteral("COM%1").arg(port));
    QCOMPARE(Console->Panels().Text(0), QStringLiteral("Com%1").arg(port));
    if (box.isEmpty()) {
        QCOMPARE(dir.boxes.size(), 0);
    } else {
        QCOMPARE(dir.boxes.size(), 1);
        QCOMPARE(dir.boxes[0].text, box);
        QCOMPARE(dir.boxes[0].caption, QStringLiteral("Comport Warning"));
        QCOMPARE(dir.boxes[0].icon, MsgIcon::Warning);
    }
    // The port is really held: nobody else gets it, and the radio's bytes arrive.
    QVERIFY(!PortIsFree(QStringLiteral("COM%1").arg(port)));
    QVERIFY(dir.Send(port, Frame("0")));
    QTRY_VERIFY(Console->LogText().endsWith(QLatin1String(" RX: Success")));
    // The settings file is read, never written, at start-up.
    QCOMPARE(dir.ReadFile("CorvalinkDemo.ini"), ini);
}

void TstConsole::noUsablePortEndsWithoutWriting()
{
    TConsoleDir dir;
    const QByteArray ini("COM=2\r\nPOPUP=0x001F\r\n");
    QVERIFY(dir.Prepare(ini, {}));
    CreateConsoleWindows();
    QVERIFY(Console);
    QVERIFY(Console->EndRequested());
    QCOMPARE(dir.boxes.size(), 1);
    QCOMPARE(dir.boxes[0].text, QStringLiteral("All COMs are invalid.\nPlease check the COM"));
    QCOMPARE(dir.boxes[0].caption, QStringLiteral("Comport error"));
    QCOMPARE(dir.boxes[0].icon, MsgIcon::Stop);
    QCOMPARE(Console->Link().Settings().CurrentComPort, 0);
    QCOMPARE(Console->Link().Settings().PopupFlags, 0u); // not read after the port failed
    QCOMPARE(Console->Panels().Text(0), QStringLiteral("Com1"));
    QVERIFY(!Console->Link().Port()->GetPortStatus());
    // The program ends without the close sequence: closing asks nothing, writes nothing.
    QVERIFY(EndForm && VersionForm); // the remaining windows are still created
    QVERIFY(Console->Window()->close());
    QVERIFY(!EndForm->isVisible());
    QCOMPARE(dir.ReadFile("CorvalinkDemo.ini"), ini);
}

void TstConsole::startUpFailures_data()
{
    QTest::addColumn<QByteArray>("ini"); // null: no file
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message"); // a part of the error's text

    const QByteArray ok = Ini15;
    QTest::newRow("no settings file") << QByteArray() << QString() << "CorvalinkDemo.ini";
    QTest::newRow("settings file unreadable") << ok << "ini is a directory"
                                              << "CorvalinkDemo.ini";
    QTest::newRow("COM missing") << QByteArray("POPUP=0x1F\r\n") << QString()
                                 << "'' is not a valid integer value";
    QTest::newRow("COM not a number")
        << QByteArray("COM=abc\r\nPOPUP=0x1F\r\n") << QString() << "'abc' is not a valid integer value";
    QTest::newRow("COM with blank before =")
        << QByteArray("COM =1\r\nPOPUP=0x1F\r\n") << QString() << "'' is not a valid integer value";
    QTest::newRow("COM out of 32 bits")
        << QByteArray("COM=2147483648\r\nPOPUP=0\r\n") << QString() << "'2147483648'";
    QTest::newRow("POPUP missing") << QByteArray("COM=1\r\n") << QString()
                                   << "'' is not a valid integer value";
    QTest::newRow("POPUP with blanks around =")
        << QByteArray("COM=1\r\nPOPUP = 0x10\r\n") << QString() << "'' is not a valid integer value";
    QTest::newRow("POPUP bad hex") << QByteArray("COM=1\r\nPOPUP=0x1G\r\n") << QString() << "'0x1G'";
    QTest::newRow("POPUP nine hex digits")
        << QByteArray("COM=1\r\nPOPUP=0x100000000\r\n") << QString() << "'0x100000000'";
    QTest::newRow("POPUP trailing blank") << QByteArray("COM=1\r\nPOPUP=5 \r\n") << QString() << "'5 '";
    QTest::newRow("user table missing") << ok << "remove User.DB"
                                        << "User.DB";
    QTest::newRow("status table corrupt") << ok << "garble Status.db"
                                          << "Status.db";
    QTest::newRow("user table not a table") << ok << "empty User.DB"
                                            << "User.DB";
}

void TstConsole::startUpFailures()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, damage);
    QFETCH(QString, message);

    TConsoleDir dir;
    QVERIFY(dir.Prepare(ini, {1}));
    if (damage == QLatin1String("ini is a directory")) {
        QVERIFY(QFile::remove(dir.Path("CorvalinkDemo.ini")));
        QVERIFY(QDir(dir.Path(".")).mkdir("CorvalinkDemo.ini"));
    } else if (damage == QLatin1String("remove User.DB")) {
        QVERIFY(QFile::remove(dir.Path("User.DB")));
    } else if (damage == QLatin1String("garble Status.db")) {
        QVERIFY(dir.WriteFile("Status.db", QByteArray(4096, 'x')));
    } else if (damage == QLatin1String("empty User.DB")) {
        QVERIFY(dir.WriteFile("User.DB", QByteArray()));
    }
    const QByteArray users = dir.ReadFile("User.DB");
    const QByteArray statuses = dir.ReadFile("Status.db");

    QString error;
    try {
        CreateConsoleWindows();
    } catch (...) {
        error = ExceptionMessage(std::current_exception());
    }
    QVERIFY2(error.contains(message), qPrintable(error));
    // No window is left to show, the port is given back, nothing is written.
    QVERIFY(!Console && !EndForm && !ConfigForm && !VersionForm);
    QVERIFY(dir.boxes.isEmpty());
    QVERIFY(PortIsFree(QStringLiteral("COM1")));
    QCOMPARE(dir.ReadFile("CorvalinkDemo.ini"), damage.startsWith("ini") ? QByteArray() : ini);
    QCOMPARE(QFile::exists(dir.Path("CorvalinkDemo.ini")), !ini.isNull());
    QCOMPARE(dir.ReadFile("User.DB"), users);
    QCOMPARE(dir.ReadFile("Status.db"), statuses);
    QCOMPARE(QFile::exists(dir.Path("User.DB")), damage != QLatin1String("remove User.DB"));
    QCOMPARE(dir.Received(1, 50), QByteArray());
}

void TstConsole::failedStartUpLeavesNothingBehind()
{
    // A value error after the port was opened: the windows made so far are
    // deleted again; a second start in the same process then works normally.
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=bad\r\n", {1}));
    QVERIFY_THROWS_EXCEPTION(std::exception, CreateConsoleWindows());
    QVERIFY(!Console);
    // Radio traffic arriving now has nowhere to go and must not reach a dead window.
    QVERIFY(dir.Send(1, Frame("0") + Frame("B1001000")));
    QVERIFY(PortIsFree(QStringLiteral("COM1")));

    QVERIFY(dir.WriteFile("CorvalinkDemo.ini", Ini15));
    CreateConsoleWindows();
    QVERIFY(Console && Console->Link().Port()->GetPortStatus());
    QVERIFY(dir.Send(1, Frame("1")));
    QTRY_COMPARE(Console->LogText().count(QLatin1String(" RX: ")), 1);
    QVERIFY(Console->LogText().endsWith(QLatin1String(" RX: Fail")));
}

void TstConsole::exitWritesSettings_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QList<int>>("ports");
    QTest::addColumn<QByteArray>("written");

    QTest::newRow("decimal POPUP written as hex")
        << QByteArray("COM=1\r\nPOPUP=31\r\n") << QList<int>{1} << QByteArray("COM=1\r\nPOPUP=0x001F\r\n");
    QTest::newRow("extra lines dropped")
        << QByteArray("; radio\r\ncom=2\r\nNAME=Depot\r\npopup=$5\r\nCOM=9\r\n") << QList<int>{2}
        << QByteArray("COM=2\r\nPOPUP=0x0005\r\n");
    QTest::newRow("fallback port written") << QByteArray("COM=3\r\nPOPUP=0x0005\r\n") << QList<int>{1}
                                           << QByteArray("COM=1\r\nPOPUP=0x0005\r\n");
    QTest::newRow("high bits kept") << QByteArray("COM=4\r\nPOPUP=0x12345678\r\n") << QList<int>{4}
                                    << QByteArray("COM=4\r\nPOPUP=0x12345678\r\n");
}

void TstConsole::exitWritesSettings()
{
    QFETCH(QByteArray, ini);
    QFETCH(QList<int>, ports);
    QFETCH(QByteArray, written);

    TConsoleDir dir;
    QVERIFY(dir.Prepare(ini, ports));
    CreateConsoleWindows();
    Console->Window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(Console->Window()));
    const int port = Console->Link().Settings().CurrentComPort;

    bool closed = false;
    CloseMainWithAnswer("BitBtn2", closed); // OK
    QVERIFY(closed);
    QVERIFY(!Console->Link().Port()->GetPortStatus());
    QVERIFY(PortIsFree(QStringLiteral("COM%1").arg(port)));
    QCOMPARE(dir.ReadFile("CorvalinkDemo.ini"), written);
    // Replaced whole, no temporary file left beside it.
    QCOMPARE(QDir(dir.Path(".")).entryList({"*.ini*", "*.tmp", "*~"}, QDir::Files | QDir::Hidden),
             QStringList{"CorvalinkDemo.ini"});
}

void TstConsole::exitCancelKeepsRunning()
{
    TConsoleDir dir;
    const QByteArray ini("COM=1\r\nPOPUP=31\r\n");
    QVERIFY(dir.Prepare(ini, {1}));
    CreateConsoleWindows();
    Console->Window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(Console->Window()));

    for (const char *how : {"Cancel button", "close box of End", "Exit button", "File Exit"}) {
        bool closed = true;
        if (QByteArray(how) == "Cancel button") {
            CloseMainWithAnswer("BitBtn1", closed);
        } else if (QByteArray(how) == "close box of End") {
            QTimer::singleShot(0, EndForm, [] { EndForm->close(); });
            closed = Console->Window()->close();
        } else if (QByteArray(how) == "Exit button") {
            ClickWhenShown(EndForm, "BitBtn1");
            Console->Window()->findChild<QAbstractButton *>("ExitBitBtn")->click();
            closed = !Console->Window()->isVisible();
        } else {
            ClickWhenShown(EndForm, "BitBtn1");
            Console->Window()->findChild<QAction *>("Exit1")->trigger();
            closed = !Console->Window()->isVisible();
        }
        QVERIFY2(!closed, how);
        QVERIFY2(Console->Window()->isVisible(), how);
        QVERIFY2(Console->Link().Port()->GetPortStatus(), how);
    }
    QCOMPARE(dir.ReadFile("CorvalinkDemo.ini"), ini);
    QVERIFY(dir.Send(1, Frame("2")));
    QTRY_VERIFY(Console->LogText().endsWith(QLatin1String(" RX: Busy")));
}

void TstConsole::exitEndsProgramWithWindowsOpen()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare(Ini15, {1}));
    CreateConsoleWindows();
    Console->Window()->show();
    QVERIFY(dir.Send(1, Frame("B1001000")));
    QTRY_VERIFY(SpeechPopupForm->isVisible());
    Console->Window()->findChild<QAbstractButton *>(QStringLiteral("MessageBitBtn"))->click();

    // The program's own message loop, ended by Exit and OK; a program that stays
    // alive is ended by the guard with another code.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(7); });
    guard.start(5000);
    QTimer::singleShot(0, Console->Window(), [] {
        ClickWhenShown(EndForm, "BitBtn2");
        Console->Window()->findChild<QAbstractButton *>("ExitBitBtn")->click();
    });
    const int code = QCoreApplication::exec();
    guard.stop();
    QCOMPARE(code, 0);
    QVERIFY(!Console->Window()->isVisible());
    QVERIFY(!Console->Link().Port()->GetPortStatus());
}

void TstConsole::exitWithUnwritableFileKeepsConsole()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare(Ini15, {1}));
    CreateConsoleWindows();
    Console->Window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(Console->Window()));
    // A directory in the file's place cannot be replaced by a file, even by root.
    QVERIFY(QFile::remove(dir.Path("CorvalinkDemo.ini")));
    QVERIFY(QDir(dir.Path(".")).mkdir("CorvalinkDemo.ini"));

    bool portOpenAtError = true;
    dir.onBox = [&](const TRecordedBox &) { portOpenAtError = Console->Link().Port()->GetPortStatus(); };
    bool closed = true;
    CloseMainWithAnswer("BitBtn2", closed);
    QVERIFY(!closed);
    QCOMPARE(dir.boxes.size(), 1);
    QVERIFY2(dir.boxes[0].text.contains(QLatin1String("CorvalinkDemo.ini")), qPrintable(dir.boxes[0].text));
    QCOMPARE(dir.boxes[0].icon, MsgIcon::Stop);
    // The port was closed before the write was tried...
    QVERIFY(!portOpenAtError);
    // ...and the console goes on with it afterwards.
    QVERIFY(Console->Window()->isVisible());
    QVERIFY(Console->Link().Port()->GetPortStatus());
    QVERIFY(QFileInfo(dir.Path("CorvalinkDemo.ini")).isDir());
    QVERIFY(dir.Send(1, Frame("3")));
    QTRY_VERIFY(Console->LogText().endsWith(QLatin1String(" RX: Command NG")));

    // Once the file can be written the exit completes.
    QVERIFY(QDir(dir.Path(".")).rmdir("CorvalinkDemo.ini"));
    dir.onBox = {};
    CloseMainWithAnswer("BitBtn2", closed);
    QVERIFY(closed);
    QCOMPARE(dir.ReadFile("CorvalinkDemo.ini"), Ini15);
}

namespace {

QStringList CheckedBoxes()
{
    QStringList names;
    for (QCheckBox *box : ConfigForm->findChildren<QCheckBox *>())
        if (box->isChecked())
            names << box->objectName();
    names.sort();
    return names;
}

QString CheckedPort()
{
    for (QRadioButton *item : ConfigForm->findChildren<QRadioButton *>())
        if (item->isChecked())
            return item->text();
    return QString();
}

} // namespace

void TstConsole::configShowsSettingsInForce()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=3\r\nPOPUP=0x0005\r\n", {3}));
    CreateConsoleWindows();
    QString port;
    QStringList checked;
    QTimer::singleShot(0, ConfigForm, [&] {
        port = CheckedPort();
        checked = CheckedBoxes();
        ConfigForm->findChild<QAbstractButton *>("BitBtn2")->click();
    });
    Console->Window()->findChild<QAbstractButton *>("ConfigBitBtn")->click();
    QCOMPARE(port, QStringLiteral("Com3"));
    QCOMPARE(checked, (QStringList{"MessageCheckBox", "SpeechCheckBox"}));
    QVERIFY(!ConfigForm->findChild<QCheckBox *>("PhotoCheckBox")->isVisibleTo(ConfigForm));
}

void TstConsole::configChangesPort_data()
{
    QTest::addColumn<QList<int>>("ports");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("aniOff");
    QTest::addColumn<unsigned>("flags");

    // The file holds 0x4000003F: the six boxes checked (Photograph among them,
    // though never visible) and a bit above them that OK drops.
    QTest::newRow("OK without changes") << QList<int>{1, 2} << QString() << 1 << QString() << false << 0x3Fu;
    QTest::newRow("another port, ANI off")
        << QList<int>{1, 2} << "Com2RadioButton" << 2 << QString() << true << 0x2Fu;
    QTest::newRow("unusable port falls back")
        << QList<int>{1, 2} << "Com3RadioButton" << 1 << "COM1 is used." << false << 0x3Fu;
}

void TstConsole::configChangesPort()
{
    QFETCH(QList<int>, ports);
    QFETCH(QString, choice);
    QFETCH(int, port);
    QFETCH(QString, box);
    QFETCH(bool, aniOff);
    QFETCH(unsigned, flags);

    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0x4000003F\r\n", ports));
    CreateConsoleWindows();
    const int handle = Console->Link().Port()->Handle();
    QTimer::singleShot(0, ConfigForm, [&] {
        if (!choice.isEmpty())
            ConfigForm->findChild<QRadioButton *>(choice)->click();
        if (aniOff)
            ConfigForm->findChild<QCheckBox *>("AniCheckBox")->click();
        ConfigForm->findChild<QAbstractButton *>("BitBtn1")->click();
    });
    Console->Window()->findChild<QAbstractButton *>(QStringLiteral("ConfigBitBtn"))->click();

    QCOMPARE(Console->Link().Settings().PopupFlags, flags);
    QCOMPARE(Console->Link().Settings().CurrentComPort, port);
    QCOMPARE(Console->Panels().Text(0), QStringLiteral("Com%1").arg(port));
    QVERIFY(Console->Link().Port()->GetPortStatus());
    QCOMPARE(Console->Link().Port()->DeviceName(), QStringLiteral("COM%1").arg(port));
    if (choice.isEmpty())
        QCOMPARE(Console->Link().Port()->Handle(), handle); // not touched
    QCOMPARE(dir.boxes.size(), box.isEmpty() ? 0 : 1);
    if (!box.isEmpty())
        QCOMPARE(dir.boxes[0].text, box);
    QVERIFY(!Console->EndRequested());
    // The radio on the port now in use is heard.
    QVERIFY(dir.Send(port, Frame("0")));
    QTRY_VERIFY(Console->LogText().endsWith(QLatin1String(" RX: Success")));
    // Config writes nothing.
    QCOMPARE(dir.ReadFile("CorvalinkDemo.ini"), QByteArray("COM=1\r\nPOPUP=0x4000003F\r\n"));

    // The next opening shows the port in force.
    QString shown;
    QTimer::singleShot(0, ConfigForm, [&] {
        shown = CheckedPort();
        ConfigForm->findChild<QAbstractButton *>("BitBtn2")->click();
    });
    Console->Window()->findChild<QAbstractButton *>(QStringLiteral("ConfigBitBtn"))->click();
    QCOMPARE(shown, QStringLiteral("Com%1").arg(port));
}

void TstConsole::configCancelChangesNothing()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0x40000003\r\n", {1, 2}));
    CreateConsoleWindows();
    const int handle = Console->Link().Port()->Handle();
    QTimer::singleShot(0, ConfigForm, [&] {
        ConfigForm->findChild<QRadioButton *>("Com2RadioButton")->click();
        ConfigForm->findChild<QCheckBox *>("SpeechCheckBox")->click();
        ConfigForm->findChild<QAbstractButton *>("BitBtn2")->click();
    });
    Console->Window()->findChild<QAbstractButton *>(QStringLiteral("ConfigBitBtn"))->click();
    QCOMPARE(Console->Link().Settings().PopupFlags, 0x40000003u);
    QCOMPARE(Console->Link().Settings().CurrentComPort, 1);
    QCOMPARE(Console->Link().Port()->Handle(), handle);
    QVERIFY(dir.boxes.isEmpty());

    QString port;
    QStringList checked;
    QTimer::singleShot(0, ConfigForm, [&] {
        port = CheckedPort();
        checked = CheckedBoxes();
        ConfigForm->findChild<QAbstractButton *>("BitBtn2")->click();
    });
    Console->Window()->findChild<QAbstractButton *>(QStringLiteral("ConfigBitBtn"))->click();
    QCOMPARE(port, QStringLiteral("Com1"));
    QCOMPARE(checked, (QStringList{"SpeechCheckBox", "StatusCheckBox"}));
}

void TstConsole::configWithNoPortLeftEnds()
{
    TConsoleDir dir;
    const QByteArray ini("COM=1\r\nPOPUP=0x001F\r\n");
    QVERIFY(dir.Prepare(ini, {1}));
    CreateConsoleWindows();
    // COM1 goes away under the running console; nothing else is there.
    QVERIFY(QFile::remove(dir.Path("COM1")));
    QVERIFY(QFile::link("/nonexistent/corvalink-no-port", dir.Path("COM1")));
    QTimer::singleShot(0, ConfigForm, [] {
        ConfigForm->findChild<QRadioButton *>("Com2RadioButton")->click();
        ConfigForm->findChild<QAbstractButton *>("BitBtn1")->click();
    });
    Console->Window()->findChild<QAbstractButton *>(QStringLiteral("ConfigBitBtn"))->click();
    QCOMPARE(dir.boxes.size(), 1);
    QCOMPARE(dir.boxes[0].text, QStringLiteral("All COMs are invalid.\nPlease check the COM"));
    QVERIFY(Console->EndRequested());
    QVERIFY(!Console->Link().Port()->GetPortStatus());
    // The console ends without the exit question and without writing the file.
    QVERIFY(Console->Window()->close());
    QVERIFY(!EndForm->isVisible());
    QCOMPARE(dir.ReadFile("CorvalinkDemo.ini"), ini);
}

void TstConsole::tableGoneWhileRunning()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare(Ini15, {1}));
    CreateConsoleWindows();
    Console->Window()->show();
    QVERIFY(dir.Send(1, Frame("B1001000")));
    QTRY_VERIFY(Console->LogText().contains(QLatin1String(" RX: Call from Base")));

    // The user table is replaced by something that is not a table: the frame from
    // a new station, which must be added to it, is reported naming the file, and
    // the console goes on.
    QVERIFY(QFile::remove(dir.Path("User.DB")));
    QVERIFY(dir.WriteFile("User.DB", QByteArray(2048, 'x')));
    QVERIFY(dir.Send(1, Frame("B1052000")));
    QTRY_COMPARE(dir.boxes.size(), 1);
    QVERIFY2(dir.boxes[0].text.contains(QLatin1String("User.DB")), qPrintable(dir.boxes[0].text));
    QVERIFY(!Console->LogText().contains(QLatin1String("105-2000")));
    QVERIFY(dir.Send(1, Frame("0")));
    QTRY_VERIFY(Console->LogText().split(QLatin1Char('\n')).first().endsWith(QLatin1String(" RX: Success")));
    QVERIFY(Console->Window()->isVisible());
    Console->Window()->findChild<QAction *>(QStringLiteral("Speech2"))->trigger();
    QVERIFY(SpeechPopupForm->isVisible());
}

void TstConsole::readerErrorsShownOneAtATime()
{
    TApplication *app = TApplication::Instance();
    QVERIFY(app);
    TConsoleDir dir;
    QVERIFY(dir.Prepare(Ini15, {1}));
    CreateConsoleWindows();
    Console->Window()->show();

    // A box open with events running, as a real modal box is: nothing may open
    // inside it.
    int depth = 0, deepest = 0;
    bool holdBoxes = false; // keep each box open until the flood is through
    dir.onBox = [&](const TRecordedBox &) {
        deepest = std::max(deepest, ++depth);
        if (depth > 1) { // nested: note it and get out, a real box would pile up here
            --depth;
            return;
        }
        QDeadlineTimer deadline(5000);
        do
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        while (holdBoxes && !Console->LogText().contains(QLatin1String(" RX: Success")) &&
               !deadline.hasExpired());
        --depth;
    };
    const int shownBefore = app->ShownErrors();
    const int droppedBefore = app->DroppedErrors();

    // One bad frame: one box quoting the value, nothing logged for the frame.
    QVERIFY(dir.Send(1, Frame("Babc1000")));
    QTRY_COMPARE(dir.boxes.size(), 1);
    QTRY_COMPARE(depth, 0);
    QCOMPARE(dir.boxes[0].text, QStringLiteral("'abc' is not a valid integer value"));
    QCOMPARE(dir.boxes[0].caption, TApplication::ErrorCaption());
    QCOMPARE(dir.boxes[0].icon, MsgIcon::Stop);
    QVERIFY(Console->LogText().isEmpty());

    // A flood of them while the operator reads the first box: the repeats are
    // dropped instead of stacking up boxes.
    dir.boxes.clear();
    holdBoxes = true;
    QByteArray flood;
    for (int i = 0; i < 1000; ++i)
        flood += Frame("Babc1000");
    flood += Frame("0");
    QVERIFY(dir.Send(1, flood));
    QTRY_VERIFY_WITH_TIMEOUT(Console->LogText().contains(QLatin1String(" RX: Success")), 15000);
    QTRY_COMPARE(depth, 0);
    QCOMPARE(deepest, 1);
    QVERIFY2(dir.boxes.size() >= 1 && dir.boxes.size() <= 3, qPrintable(QString::number(dir.boxes.size())));
    QCOMPARE(app->ShownErrors() - shownBefore, 1 + dir.boxes.size());
    QCOMPARE(app->ShownErrors() - shownBefore + app->DroppedErrors() - droppedBefore, 1001);
    QVERIFY2(app->DroppedErrors() - droppedBefore >= 900, qPrintable(QString::number(app->DroppedErrors())));
    for (const TRecordedBox &box : std::as_const(dir.boxes))
        QCOMPARE(box.caption, TApplication::ErrorCaption());
    QCOMPARE(Console->LogText().count(QLatin1Char('\n')), 0);

    // The console goes on.
    QVERIFY(dir.Send(1, Frame("B1001000")));
    QTRY_VERIFY(Console->LogText().contains(QLatin1String(" RX: Call from Base")));
}

void TstConsole::burstAndSplitFrames()
{
    TConsoleDir dir;
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=0\r\n", {1}));
    CreateConsoleWindows();

    // Two frames in one write: both, in order (the newer on top).
    QVERIFY(dir.Send(1, Frame("B1001000") + Frame("D1001001")));
    QTRY_COMPARE(Console->LogText().count(QLatin1String(" RX: ")), 2);
    QStringList lines = Console->LogText().split(QLatin1Char('\n'));
    QVERIFY(lines[0].endsWith(QLatin1String(" RX: Call end from Yard")));
    QVERIFY(lines[1].endsWith(QLatin1String(" RX: Call from Base")));

    // A frame cut in two: its first half comes behind a whole frame, so the
    // comm event reads it with that one; the rest comes with the next event.
    const QByteArray frame = Frame("F1001000Hello");
    QVERIFY(dir.Send(1, QByteArray("noise") + Frame("0") + frame.left(7)));
    QTRY_VERIFY(Console->LogText().contains(QLatin1String(" RX: Success")));
    QVERIFY(dir.Send(1, frame.mid(7) + Frame("1")));
    QTRY_VERIFY(Console->LogText().contains(QLatin1String(" RX: Fail")));
    QCOMPARE(Console->LogText().count(QLatin1String(" RX: ")), 5);
    QCOMPARE(Console->LogText().count(QLatin1String(" RX: Short Message from Base")), 1);
    lines = Console->LogText().split(QLatin1Char('\n'));
    QVERIFY(lines[0].endsWith(QLatin1String(" RX: Fail")));
    QVERIFY(lines[1].endsWith(QLatin1String(" RX: Short Message from Base")));
    QCOMPARE(lines[2], QStringLiteral("\t\"Hello\""));
    QVERIFY(lines[3].endsWith(QLatin1String(" RX: Success")));
}

int main(int argc, char *argv[])
{
    TApplication app(argc, argv);
    TApplication::setQuitOnLastWindowClosed(false);
    TstConsole test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_console.moc"

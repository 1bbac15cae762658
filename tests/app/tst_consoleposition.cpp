#include "AlarmDisplay.h"
#include "Broker.h"
#include "Console.h"
#include "ConsoleFiles.h"
#include "ConsoleFixture.h"
#include "FeedOwner.h"
#include "PositionLink.h"
#include "TrafficHub.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTest>
#include <memory>

// The console's own windows as a control-room position: no port of its own, the
// radio's owner (the console's core on a pseudo-terminal radio) through a
// mosquitto of the test's own.
class TstConsolePosition : public QObject {
    Q_OBJECT
private slots:
    void followsTheOwnerThroughItsWindows();
};

void TstConsolePosition::followsTheOwnerThroughItsWindows()
{
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedOwner owner;
    QVERIFY2(owner.Open("Broker=" + broker.Url().toUtf8() + "\nRadio=r1\n").isEmpty(), "owner");
    TConsoleDir dir;
    // The position's own settings name COM1, which it must never open.
    QVERIFY(dir.Prepare("COM=1\r\nPOPUP=31\r\n", {1}));
    QVERIFY(dir.WriteFile(PreferencesFileName, "[Bus]\nBroker=" + broker.Url().toUtf8() + "\nRadio=r1\n"));
    CreateConsoleWindows(QStringLiteral("desk1"));
    QVERIFY(Console && Console->Position());
    QMainWindow *window = Console->Window();
    window->show();

    QVERIFY(window->windowTitle().endsWith(QStringLiteral(" \u2014 position desk1")));
    // The port and its line are the owner's.
    for (const char *name : {"Config2", "LineMonitor1"}) {
        auto *action = window->findChild<QAction *>(QLatin1String(name));
        QVERIFY2(action && !action->isEnabled(), name);
    }
    QVERIFY(!window->findChild<QAbstractButton *>(QStringLiteral("ConfigBitBtn"))->isEnabled());
    const QString follows = QStringLiteral("r1 via 127.0.0.1:%1").arg(broker.Port());
    const auto panelSays = [window](const QString &text) {
        const QList<QLabel *> labels = window->statusBar()->findChildren<QLabel *>();
        return std::any_of(labels.begin(), labels.end(), [&](QLabel *l) { return l->text() == text; });
    };
    QVERIFY(panelSays(follows));
    QTRY_COMPARE(Console->Position()->RadioState(), QStringLiteral("online"));
    QTest::qWait(200);

    // The owner's traffic in the position's log; its emergency flashes here and
    // is acknowledged from here at the owner.
    QVERIFY(owner.Radio().Write(Frame("B1001000") + Frame("E100100099")));
    QTRY_VERIFY(Console->LogText().contains(QLatin1String(" RX: Call from Base")));
    QTRY_VERIFY(Console->Alarm().EmergencyFlash());
    QCOMPARE(Console->Hub().Alarms().OpenCount(), 1);
    QTRY_COMPARE(owner.hub->Alarms().OpenCount(), 1);
    const qint64 local = Console->Hub().Alarms().Alarms().constLast().id;
    QVERIFY(Console->Hub().AcknowledgeAlarm(local, TTrafficHub::ByEmergenciesWindow));
    QTRY_COMPARE(owner.hub->Alarms().OpenCount(), 0);
    QVERIFY(owner.hub->Alarms().Alarms().constLast().acknowledgedBy.endsWith(QLatin1String("at desk1")));
    QTRY_VERIFY(!Console->Alarm().EmergencyFlash());

    // The owner's feed ends: said in the status bar, the window stays.
    owner.desk.reset();
    owner.feed.reset();
    QTRY_VERIFY(panelSays(QStringLiteral("radio r1 offline")));
    DeleteConsoleWindows();
    owner.dir.MakeCurrent(); // the owner saves its settings where it read them
    owner.Close();
}

QTEST_MAIN(TstConsolePosition)
#include "tst_consoleposition.moc"

#include "Broker.h"
#include "PositionCore.h"
#include "ScratchDir.h"

#include <QFile>
#include <QProcess>
#include <QTest>
#include <csignal>

// The headless owner as it runs on a radio-room machine: its own process in a
// working directory with the radio on COM1, publishing to a broker, stopped by
// SIGTERM as systemd stops it.
class TstHub : public QObject {
    Q_OBJECT
private slots:
    void trafficOnBrokerThenSigterm();
    void badBusPreferencesLeaveTheRadioRunning();
    void ownerKilledPositionSeesOfflineThenFollowsAgain();
};

namespace {

QByteArray Frame(const QByteArray &payload)
{
    return '\x02' + payload + '\x03';
}

} // namespace

void TstHub::trafficOnBrokerThenSigterm()
{
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedReader reader(broker.Port(), QStringLiteral("hub-reader"));
    QTRY_VERIFY(reader.Subscribed());
    TScratchDir dir;
    QVERIFY(dir.Prepare(TScratchDir::Settings(1, 0x1F), {1}).isEmpty());
    QVERIFY(dir.WriteFile("CorvalinkPreferences.ini",
                          "[Bus]\nBroker=" + broker.Url().toUtf8() + "\nRadio=room\n"));

    QProcess hub;
    hub.setWorkingDirectory(dir.Path());
    hub.start(QStringLiteral(CORVALINK_HUB_PATH), {});
    QVERIFY(hub.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!reader.On("/state").isEmpty(), 10000);
    QCOMPARE(reader.On("/state").last().topic, QByteArray("corvalink/room/state"));
    QCOMPARE(reader.On("/state").last().Json().value("state").toString(), QStringLiteral("online"));

    // No display library in the running program.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(hub.processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray loaded = maps.readAll();
    QVERIFY(loaded.contains("libQt6Core"));
    QVERIFY(!loaded.contains("libQt6Gui"));
    QVERIFY(!loaded.contains("libQt6Widgets"));

    QVERIFY(dir.Line(1)->Write(Frame("B1001000") + Frame("E100100099") + Frame("F1001001Hello")));
    QTRY_COMPARE_WITH_TIMEOUT(reader.On("/traffic").size(), 3, 10000);
    QStringList kinds;
    for (const TFeedReader::TMessage &message : reader.On("/traffic"))
        kinds << message.Json().value("kind").toString();
    QCOMPARE(kinds, (QStringList{"call", "status", "short message"}));
    QTRY_COMPARE(reader.On("/alarm").size(), 1);

    hub.terminate();
    QVERIFY(hub.waitForFinished(10000));
    QCOMPARE(hub.exitStatus(), QProcess::NormalExit);
    QCOMPARE(hub.exitCode(), 0);
    // A clean goodbye, the log on standard error, the port closed and the
    // settings written as the console writes them at exit.
    QTRY_COMPARE(reader.On("/state").last().Json().value("state").toString(), QStringLiteral("offline"));
    const QByteArray errors = hub.readAllStandardError();
    QVERIFY2(errors.contains("RX: Call from Base"), errors.constData());
    QVERIFY(errors.contains("stopped"));
    // (The scratch file had "0X001F"; the console writes "0x001F".)
    QCOMPARE(dir.ReadFile("CorvalinkDemo.ini"), QByteArray("COM=1\r\nPOPUP=0x001F\r\n"));
    QVERIFY(QFile::exists(dir.Path("history.db")));
}

void TstHub::badBusPreferencesLeaveTheRadioRunning()
{
    TScratchDir dir;
    QVERIFY(dir.Prepare(TScratchDir::Settings(1, 0), {1}).isEmpty());
    QVERIFY(dir.WriteFile("CorvalinkPreferences.ini", "[Bus]\nBroker=mqtt://broker.example\nRadio=room\n"));
    QProcess hub;
    hub.start(QStringLiteral(CORVALINK_HUB_PATH), {QStringLiteral("-C"), dir.Path()});
    QVERIFY(hub.waitForStarted());
    QByteArray errors;
    QTRY_VERIFY_WITH_TIMEOUT((errors += hub.readAllStandardError()).contains("running on"), 10000);
    QVERIFY2(errors.contains("another machine reached without TLS"), errors.constData());
    QVERIFY(dir.Line(1)->Write(Frame("B1001000")));
    QTRY_VERIFY((errors += hub.readAllStandardError()).contains("RX: Call from Base"));
    hub.terminate();
    QVERIFY(hub.waitForFinished(10000));
    QCOMPARE(hub.exitCode(), 0);
}

void TstHub::ownerKilledPositionSeesOfflineThenFollowsAgain()
{
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TScratchDir dir;
    QVERIFY(dir.Prepare(TScratchDir::Settings(1, 0x1F), {1}).isEmpty());
    QVERIFY(
        dir.WriteFile("CorvalinkPreferences.ini", "[Bus]\nBroker=" + broker.Url().toUtf8() + "\nRadio=r1\n"));
    const auto start = [&dir](QProcess &hub) {
        hub.setWorkingDirectory(dir.Path());
        hub.start(QStringLiteral(CORVALINK_HUB_PATH), {});
        return hub.waitForStarted();
    };
    QProcess hub;
    QVERIFY(start(hub));
    TPositionCore desk;
    QCOMPARE(desk.Open(broker.Port(), QStringLiteral("desk1")), QString());
    QTRY_VERIFY_WITH_TIMEOUT(desk.Following(), 10000);
    QVERIFY(dir.Line(1)->Write(Frame("B1001000")));
    QTRY_COMPARE(desk.log.entries.size(), 1);

    // Killed: no goodbye of its own; the broker says "offline" for it.
    ::kill(pid_t(hub.processId()), SIGKILL);
    QVERIFY(hub.waitForFinished(5000));
    QTRY_COMPARE_WITH_TIMEOUT(desk.position->RadioState(), QStringLiteral("offline"), 10000);
    // The radio goes on talking while nobody reads the line: the new owner's port
    // starts empty (as it always opens), so neither it nor the desk shows a stale
    // or half frame from then.
    QVERIFY(dir.Line(1)->Write(Frame("E100100021") + Frame("E100100022").left(6)));

    // Started again (a new boot, its numbers from 1): followed again, nothing
    // taken for a gap or a repeat.
    QProcess again;
    QVERIFY(start(again));
    QTRY_COMPARE_WITH_TIMEOUT(desk.position->RadioState(), QStringLiteral("online"), 10000);
    QVERIFY(dir.Line(1)->Write(Frame("D1001000")));
    QTRY_COMPARE_WITH_TIMEOUT(desk.log.entries.size(), 2, 10000);
    // The entry is the new owner's own, as it logged it.
    QByteArray said;
    QTRY_VERIFY(
        (said += again.readAllStandardError()).contains(desk.log.entries.first().simplified().toUtf8()));
    QCOMPARE(desk.position->Missed(), 0u);
    QTest::qWait(500);
    QCOMPARE(desk.log.entries.size(), 2);
    QVERIFY(desk.log.entries.first().contains(QLatin1String("Call end")));
    again.terminate();
    QVERIFY(again.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TstHub)
#include "tst_hub.moc"

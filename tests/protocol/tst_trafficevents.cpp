#include "Decoder.h"
#include "MemoryTable.h"
#include "Recorders.h"
#include "SendCommand.h"
#include "TrafficEvent.h"

#include <QTest>

namespace {

QString Num(std::optional<int> v)
{
    return v ? QString::number(*v) : QStringLiteral("-");
}

// Every field of an event but its time, in one readable line.
QString Describe(const TTrafficEvent &e)
{
    const QString station = QString(Num(e.fleet) + '/' + Num(e.ident) + ' ' + e.name).trimmed();
    const QString station2 = QString(Num(e.fleet2) + '/' + Num(e.ident2) + ' ' + e.name2).trimmed();
    const QString status =
        QString(Num(e.status) + ' ' + e.statusText + (e.statusKnown ? " known" : "")).trimmed();
    return QStringList{
        TrafficDirectionText(e.direction), TrafficKindText(e.kind), station, station2, status, e.text}
        .join(QLatin1String(" | "));
}

} // namespace

class TestTrafficEvents : public QObject {
    Q_OBJECT
private slots:
    void incoming_data();
    void incoming();
    void emergency_data();
    void emergency();
    void longMessageKeptWhole();
    void outgoing_data();
    void outgoing();
    void refusedStationIsAWarning();
    void failedWriteTellsNobody();
};

void TestTrafficEvents::incoming_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("event");
    // 100/1000 is Yard, status 5 is On scene and 95 Emergency; 101/2000 is unknown.
    QTest::newRow("success") << QByteArray::fromHex("023003")
                             << "in | acknowledgement | -/- | -/- | - | Success";
    QTest::newRow("fail") << QByteArray::fromHex("023103") << "in | acknowledgement | -/- | -/- | - | Fail";
    QTest::newRow("busy") << QByteArray::fromHex("023203") << "in | acknowledgement | -/- | -/- | - | Busy";
    QTest::newRow("ng") << QByteArray::fromHex("023303")
                        << "in | acknowledgement | -/- | -/- | - | Command NG";
    QTest::newRow("call") << QByteArray("\x02"
                                        "B1001000\x03")
                          << "in | call | 100/1000 Yard | -/- | - | ";
    QTest::newRow("call end") << QByteArray("\x02"
                                            "D1012000\x03")
                              << "in | call end | 101/2000 101-2000 | -/- | - | ";
    QTest::newRow("status known") << QByteArray("\x02"
                                                "E100100005\x03")
                                  << "in | status | 100/1000 Yard | -/- | 5 On scene known | ";
    QTest::newRow("status unknown") << QByteArray("\x02"
                                                  "E100100007\x03")
                                    << "in | status | 100/1000 Yard | -/- | 7 Status:07 | ";
    QTest::newRow("short message")
        << QByteArray("\x02"
                      "F1001000Hello, \"you\"\r\nthere\x03")
        << "in | short message | 100/1000 Yard | -/- | - | Hello, \"you\"\r\nthere";
    QTest::newRow("long message") << QByteArray("\x02"
                                                "G1001000abc\x03")
                                  << "in | long message | 100/1000 Yard | -/- | - | abc";
    QTest::newRow("ptt connect") << QByteArray("\x02I110010001001000\x03")
                                 << "in | PTT ID | 100/1000 Yard | 100/1000 Yard | - | Connect";
    QTest::newRow("ptt disconnect") << QByteArray("\x02I010010001001000\x03")
                                    << "in | PTT ID | 100/1000 Yard | 100/1000 Yard | - | Disconnect";
    QTest::newRow("call start") << QByteArray("\x02I110010001012000\x03")
                                << "in | call decode | 100/1000 Yard | 101/2000 101-2000 | - | start";
    QTest::newRow("call decode end") << QByteArray("\x02I010010001012000\x03")
                                     << "in | call decode | 100/1000 Yard | 101/2000 101-2000 | - | end";
}

void TestTrafficEvents::incoming()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, event);
    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"Yard", "100", "1000"});
    TMemoryTable statuses = TMemoryTable::Statuses();
    statuses.AddRow({"5", "On scene"});
    statuses.AddRow({"95", "Emergency"});
    const TDecodeResult r = DecodeReceivedFrame(frame, users, statuses, QStringLiteral("14:05:33"));
    QVERIFY(r.logEntry);
    QVERIFY(r.event);
    QCOMPARE(Describe(*r.event), event);
    QCOMPARE(r.event->frame, frame);
}

void TestTrafficEvents::emergency_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("emergency");
    QTest::newRow("95 known") << QByteArray("\x02"
                                            "E100100095\x03")
                              << true;
    QTest::newRow("99 unknown") << QByteArray("\x02"
                                              "E100100099\x03")
                                << false;
    QTest::newRow("94 known") << QByteArray("\x02"
                                            "E100100094\x03")
                              << false;
    QTest::newRow("call") << QByteArray("\x02"
                                        "B1001000\x03")
                          << false;
}

void TestTrafficEvents::emergency()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, emergency);
    TMemoryTable users = TMemoryTable::Users();
    TMemoryTable statuses = TMemoryTable::Statuses();
    statuses.AddRow({"94", "Low fuel"});
    statuses.AddRow({"95", "Emergency"});
    const TDecodeResult r = DecodeReceivedFrame(frame, users, statuses, QStringLiteral("14:05:33"));
    QVERIFY(r.event);
    QCOMPARE(r.event->IsEmergency(), emergency);
}

void TestTrafficEvents::longMessageKeptWhole()
{
    // The log shows 30 characters; the event keeps the message up to its limit.
    TMemoryTable users = TMemoryTable::Users();
    TMemoryTable statuses = TMemoryTable::Statuses();
    const QByteArray text(4100, 'x');
    const TDecodeResult r =
        DecodeReceivedFrame("\x02G1001000" + text + "\x03", users, statuses, QStringLiteral("14:05:33"));
    QVERIFY(r.event);
    QCOMPARE(r.event->text.size(), TrafficTextLimit);
    QVERIFY(r.logEntry->endsWith(QStringLiteral("...\"")));
}

void TestTrafficEvents::outgoing_data()
{
    QTest::addColumn<char>("letter");
    QTest::addColumn<QString>("fleet");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("event");
    QTest::newRow("connect") << 'B' << "100"
                             << ""
                             << ""
                             << ""
                             << "out | call | 100/1000 Base | -/- | - | ";
    QTest::newRow("disconnect") << 'D' << "+100"
                                << ""
                                << ""
                                << ""
                                << "out | call end | 100/1000 Base | -/- | - | ";
    QTest::newRow("status") << 'E' << "100"
                            << "12"
                            << "Arrived"
                            << ""
                            << "out | status | 100/1000 Base | -/- | 12 Arrived known | ";
    QTest::newRow("status request") << 'H' << "100"
                                    << ""
                                    << ""
                                    << ""
                                    << "out | status request | 100/1000 Base | -/- | - | ";
    QTest::newRow("short message") << 'F' << "100"
                                   << ""
                                   << ""
                                   << "Hi,\r\nyou\r\n"
                                   << "out | short message | 100/1000 Base | -/- | - | Hi,\r\nyou";
    QTest::newRow("long message") << 'G' << "100"
                                  << ""
                                  << "" << QString(60, QLatin1Char('y'))
                                  << "out | long message | 100/1000 Base | -/- | - | " + QString(60, 'y');
}

void TestTrafficEvents::outgoing()
{
    QFETCH(char, letter);
    QFETCH(QString, fleet);
    QFETCH(QString, number);
    QFETCH(QString, statusText);
    QFETCH(QString, message);
    QFETCH(QString, event);
    TRecordingPort port;
    TRecordingLog log;
    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"Base", "100", "1000"});
    TRecordingTraffic traffic;
    TCommandContext context{&port, &log, &users, [] { return QStringLiteral("14:05:09"); }, &traffic};
    SendCommand(context, letter, fleet, QStringLiteral("1000"), {number, statusText, message});
    QCOMPARE(log.entries.size(), 1);
    QCOMPARE(traffic.events.size(), 1);
    QCOMPARE(Describe(traffic.events[0]), event);
    QCOMPARE(traffic.events[0].frame, port.Joined());
}

void TestTrafficEvents::refusedStationIsAWarning()
{
    TBoxRecorder boxes;
    TRecordingPort port;
    TRecordingLog log;
    TMemoryTable users = TMemoryTable::Users();
    TRecordingTraffic traffic;
    TCommandContext context{&port, &log, &users, {}, &traffic};
    SendCommand(context, 'B', QStringLiteral("99"), QStringLiteral("1000"));
    QVERIFY(port.writes.isEmpty());
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(traffic.events.size(), 1);
    QCOMPARE(Describe(traffic.events[0]), "local | warning | 99/1000 | -/- | - | " + boxes.boxes[0].text);
}

void TestTrafficEvents::failedWriteTellsNobody()
{
    // Nothing went out and nothing is logged: the history must not claim otherwise.
    TRecordingPort port;
    port.failAtWrite = 1;
    TRecordingLog log;
    TMemoryTable users = TMemoryTable::Users();
    TRecordingTraffic traffic;
    TCommandContext context{&port, &log, &users, {}, &traffic};
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, SendCommand(context, 'B', "100", "1000"));
    QVERIFY(traffic.events.isEmpty());
}

QTEST_GUILESS_MAIN(TestTrafficEvents)
#include "tst_trafficevents.moc"

#include "Broker.h"
#include "CommandMessage.h"
#include "FeedOwner.h"
#include "HistoryQuery.h"
#include "PositionCore.h"
#include "StationBoard.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <mosquitto.h>

// Control-room positions against the radio's owner through a mosquitto of the
// test's own: the owner is the console's core on a pseudo-terminal radio, each
// position the same core with no radio, its traffic from the bus.
class TstPositions : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void mirroredInOrder();
    void commandGoesOnceAnswerToSenderOnly();
    void acknowledgedEverywhere();
    void lateStarterGetsOpenAlarms();
    void badCommands_data();
    void badCommands();
    void flood();
    void awayAndBack();
    void gapFetchedFromOwner_data();
    void gapFetchedFromOwner();
    void acknowledgedWhileAway();
    void restartedWhereItStood();
    void brokerRestartFeedResumes_data();
    void brokerRestartFeedResumes();
    void wrongClock();
    void overTls();
    void cleanupTestCase();

private:
    std::unique_ptr<TBroker> broker_;
    std::unique_ptr<TFeedOwner> owner_;
    std::unique_ptr<TFeedReader> reader_;
};

namespace {

QByteArray BusSection(int port, const QByteArray &extra = {})
{
    return "Broker=mqtt://127.0.0.1:" + QByteArray::number(port) + "\nRadio=r1\n" + extra;
}

// A plain client that publishes one payload on a topic (a position that does
// not follow the rules).
void PublishRaw(int port, const QByteArray &topic, const QByteArray &payload)
{
    mosquitto *m = mosquitto_new(nullptr, true, nullptr);
    mosquitto_connect(m, "127.0.0.1", port, 10);
    int mid = 0;
    mosquitto_publish(m, &mid, topic.constData(), int(payload.size()), payload.constData(), 1, false);
    for (int i = 0; i < 50; ++i)
        mosquitto_loop(m, 20, 1);
    mosquitto_disconnect(m);
    mosquitto_destroy(m);
}

// The history's rows, oldest first.
template <typename TCore> QList<TTrafficEvent> Stored(TCore &owner)
{
    owner.hub->FlushHistory();
    QList<TTrafficEvent> events;
    THistoryQuery query(owner.dir.Path(HistoryFileName));
    const QList<THistoryRow> rows = query.Page({}, std::nullopt, 100000);
    for (auto row = rows.crbegin(); row != rows.crend(); ++row)
        events << row->event;
    return events;
}

QByteArray Frame(const QByteArray &payload)
{
    return '\x02' + payload + '\x03';
}

// What the owner writes to the radio, n bytes at most, the event loop running
// meanwhile (the owner lives on this thread).
QByteArray Wire(TFeedOwner &owner, qsizetype n, int waitMs = 5000)
{
    QByteArray got;
    const QDeadlineTimer deadline(waitMs);
    while (got.size() < n && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        got += owner.Radio().Receive(n - got.size(), 10);
    }
    return got;
}

// Opens the position desk1, waits until it follows the owner and has the
// entry of one frame the radio sends; empty when it does, else what failed.
QString FollowOneFrame(TPositionCore &position, TFeedOwner &owner, int port, const QByteArray &bus = {})
{
    if (const QString problem = position.Open(port, QStringLiteral("desk1"), bus); !problem.isEmpty())
        return problem;
    if (!QTest::qWaitFor([&] { return position.Following(); }))
        return QStringLiteral("the position does not follow the owner");
    if (!owner.Radio().Write(Frame("B1001000")))
        return QStringLiteral("the radio's frame was not written");
    if (!QTest::qWaitFor([&] { return position.log.entries.size() == 1; }))
        return QStringLiteral("the position's log has %1 entries, not 1").arg(position.log.entries.size());
    return {};
}
} // namespace

void TstPositions::initTestCase()
{
    mosquitto_lib_init();
}

void TstPositions::mirroredInOrder()
{
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker.Port())).isEmpty(), "owner");
    TPositionCore p1, p2;
    QCOMPARE(p1.Open(broker.Port(), "desk1"), QString());
    QCOMPARE(p2.Open(broker.Port(), "desk2"), QString());
    QTRY_VERIFY(p1.Following() && p2.Following());

    // Every common kind, an emergency among them, and a command typed at the owner.
    QByteArray frames;
    const QList<QByteArray> kinds = {"B1001000", "E100100021", "F1001001Hello yard", "D1001000",
                                     "E100100099"};
    for (int i = 0; i < 30; ++i)
        frames += Frame(kinds.at(i % kinds.size()));
    QVERIFY(owner.Radio().Write(frames));
    QTRY_COMPARE(owner.log.entries.size(), 30);
    owner.session->Send('H', QStringLiteral("100"), QStringLiteral("1001"));
    const QStringList expected = owner.log.entries;
    QCOMPARE(expected.size(), 31);

    // The same entries in the same order, the owner's time stamps in them; the
    // same popups as the owner's decoder asked for; the emergency raised here.
    for (TPositionCore *p : {&p1, &p2}) {
        QTRY_COMPARE(p->log.entries.size(), expected.size());
        QCOMPARE(p->log.entries, expected);
        QVERIFY(p->popups.calls.contains(QStringLiteral("emergency")));
        QCOMPARE(p->hub->Alarms().OpenCount(), 1);
        QCOMPARE(p->hub->Alarms().Alarms().first().count, 6);
    }
    QCOMPARE(p1.popups.calls, p2.popups.calls);
}

void TstPositions::commandGoesOnceAnswerToSenderOnly()
{
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker.Port(), "PositionsMaySend=true\n")).isEmpty(), "owner");
    TPositionCore p1, p2;
    QCOMPARE(p1.Open(broker.Port(), "desk1"), QString());
    QCOMPARE(p2.Open(broker.Port(), "desk2"), QString());
    QTRY_VERIFY(p1.Following() && p2.Following());
    QSignalSpy answered1(p1.position.get(), &TPositionLink::Answered);
    QSignalSpy answered2(p2.position.get(), &TPositionLink::Answered);
    QSignalSpy refused2(p2.position.get(), &TPositionLink::Refused);

    // Sent as the Status window sends it on position 2, through the same function.
    TCommandTexts texts;
    texts.statusNumber = QStringLiteral("21");
    texts.statusText = QStringLiteral("On scene");
    SendCommand(p2.session->CommandContext(), 'E', QStringLiteral("100"), QStringLiteral("1001"), texts);
    QByteArray wire = Wire(owner, Frame("E100100121").size());
    QCOMPARE(refused2.size(), 0);
    QCOMPARE(wire, Frame("E100100121"));
    // Two more from both positions wait for the radio's answer: one at a time.
    p1.session->Send('H', QStringLiteral("100"), QStringLiteral("1000"));
    QTest::qWait(100);
    p2.session->Send('B', QStringLiteral("100"), QStringLiteral("1000"));
    QCOMPARE(Wire(owner, 1, 300), QByteArray());
    QVERIFY(owner.desk->Queue().Busy());

    QVERIFY(owner.Radio().Write(Frame("0"))); // the radio: Success
    QTRY_COMPARE(answered2.size(), 1);
    QCOMPARE(answered2.first().at(1).toString(), QStringLiteral("Success"));
    wire = Wire(owner, Frame("H1001000").size());
    QCOMPARE(wire, Frame("H1001000"));
    QVERIFY(owner.Radio().Write(Frame("1"))); // Fail, to position 1
    QTRY_COMPARE(answered1.size(), 1);
    QCOMPARE(answered1.first().at(1).toString(), QStringLiteral("Fail"));
    QCOMPARE(Wire(owner, Frame("B1001000").size()), Frame("B1001000"));
    QVERIFY(owner.Radio().Write(Frame("0")));
    QTRY_COMPARE(answered2.size(), 2);
    QCOMPARE(answered1.size(), 1);
    QCOMPARE(Wire(owner, 1, 300), QByteArray()); // each went out exactly once

    // The owner logged each as typed there, and its history names the position.
    const QList<TTrafficEvent> stored = Stored(owner);
    QStringList sentBy;
    for (const TTrafficEvent &event : stored)
        if (event.direction == TrafficDirection::Out)
            sentBy << event.position;
    QCOMPARE(sentBy, QStringList({"desk2", "desk1", "desk2"}));
    QTRY_COMPARE(p1.log.entries.size(), owner.log.entries.size());
    QCOMPARE(p1.log.entries, owner.log.entries);
}

void TstPositions::acknowledgedEverywhere()
{
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker.Port())).isEmpty(), "owner");
    TPositionCore p1, p2;
    QCOMPARE(p1.Open(broker.Port(), "desk1"), QString());
    QCOMPARE(p2.Open(broker.Port(), "desk2"), QString());
    QTRY_VERIFY(p1.Following() && p2.Following());

    QVERIFY(owner.Radio().Write(Frame("E100100099")));
    QTRY_COMPARE(p1.hub->Alarms().OpenCount(), 1);
    QTRY_COMPARE(p2.hub->Alarms().OpenCount(), 1);
    QCOMPARE(owner.hub->Alarms().OpenCount(), 1);

    // Position 1's operator closes the status popup: acknowledged there, at the
    // owner (the audit row naming position 1) and on position 2.
    QVERIFY(p1.hub->AcknowledgeAlarm(p1.hub->Alarms().Alarms().first().id));
    QTRY_COMPARE(owner.hub->Alarms().OpenCount(), 0);
    QTRY_COMPARE(p2.hub->Alarms().OpenCount(), 0);
    QCOMPARE(p2.hub->Alarms().Alarms().first().acknowledgedBy, QStringLiteral("popup at desk1"));
    bool audited = false;
    for (const TTrafficEvent &event : Stored(owner))
        audited |=
            event.kind == TrafficKind::EmergencyAcknowledged && event.position == QLatin1String("desk1");
    QVERIFY(audited);
}

void TstPositions::lateStarterGetsOpenAlarms()
{
    // desk3 has never been started: its session begins after the emergency, so
    // the alarm's transitions went by; the retained snapshot still brings it.
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker.Port())).isEmpty(), "owner");
    QVERIFY(owner.Radio().Write(Frame("E100100099")));
    QTRY_COMPARE(owner.hub->Alarms().OpenCount(), 1);
    TPositionCore late;
    QCOMPARE(late.Open(broker.Port(), "desk3"), QString());
    QTRY_VERIFY(late.Following());
    QTRY_COMPARE(late.hub->Alarms().OpenCount(), 1);
    const TAlarm shown = late.hub->Alarms().Alarms().first();
    QCOMPARE(shown.status, 99);
    QCOMPARE(shown.fleet, std::optional<int>(100));
    // Acknowledged there, it is acknowledged at the owner.
    QVERIFY(late.hub->AcknowledgeAlarm(shown.id));
    QTRY_COMPARE(owner.hub->Alarms().OpenCount(), 0);
}

void TstPositions::badCommands_data()
{
    QTest::addColumn<QByteArray>("topic");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("reason"); // a piece of the reply's reason

    const QByteArray topic = "corvalink/r1/command/desk9";
    QTest::newRow("not json") << topic << QByteArray("{\"v\":1,\"id\":\"a\",") << "not JSON";
    QTest::newRow("array") << topic << QByteArray("[1,2]") << "not a JSON object";
    QTest::newRow("no id") << topic << QByteArray(R"({"v":1,"command":"call","fleet":"100","ident":"1001"})")
                           << "'id' is missing";
    QTest::newRow("schema") << topic
                            << QByteArray(R"({"v":7,"id":"a","command":"call","fleet":"100","ident":"1001"})")
                            << "'v' is not 1";
    QTest::newRow("unknown command") << topic << QByteArray(R"({"v":1,"id":"a","command":"reboot"})")
                                     << "'reboot' is no command";
    QTest::newRow("fleet wrong type")
        << topic << QByteArray(R"({"v":1,"id":"a","command":"call","fleet":[100],"ident":"1001"})")
        << "'fleet' is of the wrong type";
    QTest::newRow("unknown station")
        << topic << QByteArray(R"({"v":1,"id":"a","command":"call","fleet":"999","ident":"1001"})")
        << "999-1001 is no station";
    QTest::newRow("text wrong type")
        << topic
        << QByteArray(R"({"v":1,"id":"a","command":"short message","fleet":"100","ident":"1001","text":5})")
        << "'text' is of the wrong type";
    QTest::newRow("text too long")
        << topic
        << QByteArray(R"({"v":1,"id":"a","command":"short message","fleet":"100","ident":"1001","text":")") +
               QByteArray(49, 'x') + "\"}"
        << "the radio takes 48";
    QTest::newRow("status out of range")
        << topic
        << QByteArray(R"({"v":1,"id":"a","command":"status","fleet":"100","ident":"1001","status":"300"})")
        << "status 300";
    QTest::newRow("one megabyte") << topic << QByteArray(1 << 20, '{') << "more than 16384";

    QTest::newRow("no such alarm") << topic
                                   << QByteArray(R"({"v":1,"id":"a","command":"acknowledge","alarm":77})")
                                   << "no alarm 77";
    QTest::newRow("fetch backwards")
        << topic << QByteArray(R"({"v":1,"id":"a","command":"fetch","boot":"b","from":9,"to":3})")
        << "'to' is before 'from'";
    QTest::newRow("fetch negative")
        << topic << QByteArray(R"({"v":1,"id":"a","command":"fetch","boot":"b","from":-4,"to":3})")
        << "'from' is not a traffic number";
    QTest::newRow("sending off") << QByteArray("corvalink/r1/command/desk8")
                                 << QByteArray(
                                        R"({"v":1,"id":"a","command":"call","fleet":"100","ident":"1001"})")
                                 << "does not send for positions";
}

void TstPositions::badCommands()
{
    QFETCH(QByteArray, topic);
    QFETCH(QByteArray, payload);
    QFETCH(QString, reason);
    if (!broker_) {
        // One broker and owner for the whole table.
        broker_ = std::make_unique<TBroker>();
        QVERIFY2(broker_->Start().isEmpty(), "broker");
        owner_ = std::make_unique<TFeedOwner>();
        QVERIFY2(owner_->Open(BusSection(broker_->Port())).isEmpty(), "owner");
        QTRY_VERIFY(owner_->feed->Client().Connected());
        reader_ = std::make_unique<TFeedReader>(broker_->Port(), "reader-replies");
        QTRY_VERIFY(reader_->Subscribed());
    }
    TBroker *broker = broker_.get();
    TFeedOwner *owner = owner_.get();
    TFeedReader *reader = reader_.get();
    const bool sending = !topic.endsWith("desk8");
    // Sending on for desk9 only: the owner's preference is read from its desk.
    owner->desk.reset();
    owner->desk = std::make_unique<TCommandDesk>(*owner->feed, *owner->session, *owner->hub, sending);
    QTest::qWait(100); // the desk's subscription

    const int replies = reader->On("/reply/" + topic.mid(topic.lastIndexOf('/') + 1)).size();
    PublishRaw(broker->Port(), topic, payload);
    QTRY_COMPARE(reader->On("/reply/" + topic.mid(topic.lastIndexOf('/') + 1)).size(), replies + 1);
    const QJsonObject reply = reader->On("/reply/" + topic.mid(topic.lastIndexOf('/') + 1)).last().Json();
    QCOMPARE(reply.value("result").toString(), QStringLiteral("refused"));
    QVERIFY2(reply.value("reason").toString().contains(reason), qPrintable(reply.value("reason").toString()));
    // Nothing went to the radio, and the refusal is in the owner's history.
    QCOMPARE(Wire(*owner, 1, 200), QByteArray());
    const QList<TTrafficEvent> stored = Stored(*owner);
    QVERIFY(!stored.isEmpty());
    QCOMPARE(stored.last().kind, TrafficKind::CommandRefused);
    QCOMPARE(stored.last().text, reply.value("reason").toString());
}

void TstPositions::flood()
{
    // A position that sends without end: each refused on its own (the station
    // is no station) until the flood, then one refusal for the rest; nothing sent.
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker.Port(), "PositionsMaySend=true\n")).isEmpty(), "owner");
    QTRY_VERIFY(owner.feed->Client().Connected());
    TFeedReader reader(broker.Port(), "reader-flood");
    QTRY_VERIFY(reader.Subscribed());
    QSignalSpy refused(owner.desk.get(), &TCommandDesk::Refused);
    mosquitto *m = mosquitto_new(nullptr, true, nullptr);
    QCOMPARE(mosquitto_connect(m, "127.0.0.1", broker.Port(), 10), 0);
    const QByteArray command = R"({"v":1,"id":"f","command":"call","fleet":"100","ident":"999"})";
    for (int i = 0; i < 200; ++i)
        mosquitto_publish(m, nullptr, "corvalink/r1/command/desk7", int(command.size()), command.constData(),
                          1, false);
    for (int i = 0; i < 100; ++i)
        mosquitto_loop(m, 10, 1);
    mosquitto_disconnect(m);
    mosquitto_destroy(m);
    QTRY_VERIFY(refused.size() >= TCommandDesk::FloodLimit + 1);
    QTest::qWait(500);
    QCOMPARE(refused.size(), TCommandDesk::FloodLimit + 1);
    QVERIFY(refused.last().at(1).toString().startsWith(QLatin1String("more than 20 commands")));
    QTRY_COMPARE(reader.On("/reply/desk7").size(), TCommandDesk::FloodLimit + 1);
    QCOMPARE(Wire(owner, 1, 200), QByteArray());
}

void TstPositions::awayAndBack()
{
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker.Port())).isEmpty(), "owner");
    TPositionCore p1;
    QCOMPARE(FollowOneFrame(p1, owner, broker.Port()), QString());

    // Away: its session stays with the broker, which keeps what comes meanwhile.
    p1.Close();
    QByteArray frames;
    for (int i = 0; i < 200; ++i)
        frames += Frame(i % 2 ? "D1001000" : "B1001000");
    QVERIFY(owner.Radio().Write(frames));
    QTRY_COMPARE(owner.log.entries.size(), 201);
    QTest::qWait(300);

    TPositionCore back;
    QCOMPARE(back.Open(broker.Port(), "desk1"), QString());
    QTRY_COMPARE(back.log.entries.size(), 200);
    QCOMPARE(back.log.entries, owner.log.entries.mid(0, 200));
    QCOMPARE(back.position->Missed(), 0u);
    QTest::qWait(200);
    QCOMPARE(back.log.entries.size(), 200); // no duplicate came after
}

void TstPositions::gapFetchedFromOwner_data()
{
    QTest::addColumn<int>("journal");
    QTest::addColumn<bool>("tls");
    QTest::newRow("the owner has it all") << 20000 << false;
    QTest::newRow("the owner has the last 40") << 40 << false;
    QTest::newRow("the owner has it all, over TLS") << 20000 << true;
}

// The broker keeps 20 messages for a position that is away; the owner's journal
// gives the rest, and what it no longer has is said once, in its place.
void TstPositions::gapFetchedFromOwner()
{
    QFETCH(int, journal);
    QFETCH(bool, tls);
    TBroker broker(20);
    if (tls)
        broker.UseTls();
    QVERIFY2(broker.Start().isEmpty(), "broker");
    const QByteArray bus = "Broker=" + broker.Url().toUtf8() + '\n' +
                           (tls ? "CaFile=" + TBroker::TestCaFile().toUtf8() + '\n' : QByteArray());
    TFeedOwner owner;
    QVERIFY2(owner.Open(bus + "Radio=r1\nJournal=" + QByteArray::number(journal) + "\n").isEmpty(), "owner");
    TPositionCore p1;
    QCOMPARE(FollowOneFrame(p1, owner, broker.Port(), bus), QString());

    p1.Close();
    QByteArray frames;
    for (int i = 0; i < 150; ++i)
        frames += Frame("F1001001away " + QByteArray::number(i));
    QVERIFY(owner.Radio().Write(frames));
    QTRY_COMPARE(owner.log.entries.size(), 151);
    QTest::qWait(300);

    TPositionCore back;
    QCOMPARE(back.Open(broker.Port(), "desk1", bus), QString());
    QTRY_VERIFY(back.Following());
    QTest::qWait(300); // what the broker kept
    QVERIFY(owner.Radio().Write(Frame("F1001001the last one")));
    QTRY_COMPARE(back.position->At(), 152u);
    // The log's entries are newest first: oldest first here, the one before away left out.
    const auto oldestFirst = [](QStringList entries) {
        std::reverse(entries.begin(), entries.end());
        return entries;
    };
    const QStringList expected = oldestFirst(owner.log.entries).mid(1);
    const auto texts = [](const QList<TTrafficEvent> &events) {
        QStringList texts;
        for (const TTrafficEvent &event : events)
            texts << event.text;
        return texts;
    };
    const QStringList sent = texts(Stored(owner)).mid(1), got = texts(Stored(back));
    QCOMPARE(sent.size(), 151);
    QVERIFY(back.position->Fetched() > 0);
    const QStringList entries = oldestFirst(back.log.entries);
    if (journal >= 151) {
        QCOMPARE(entries, expected);
        QCOMPARE(got, sent);
        QCOMPARE(back.position->Missed(), 0u);
        return;
    }
    // Before the note: what the broker kept; after it: the owner's last 40.
    const auto note = std::find_if(entries.cbegin(), entries.cend(), [](const QString &e) {
        return e.contains(QLatin1String("BUS: missed from"));
    });
    QVERIFY(note != entries.cend());
    const qsizetype before = note - entries.cbegin();
    const qsizetype after = entries.size() - before - 1;
    QCOMPARE(entries.mid(0, before), expected.mid(0, before));
    QCOMPARE(entries.mid(before + 1), expected.mid(expected.size() - after));
    QCOMPARE(after, journal);
    QCOMPARE(back.position->Missed(), quint64(expected.size() - before - after));
    QCOMPARE(got, sent.mid(0, before) + sent.mid(sent.size() - after));
    QVERIFY(note->contains(QStringLiteral("(%1 entries the broker and the radio's owner no longer held)")
                               .arg(back.position->Missed())));
}

// Two emergencies while the position is away behind a broker that keeps 20
// messages: their traffic is fetched and opens both here; the one the owner
// acknowledged meanwhile (its transition lost) is closed, the other stays open.
void TstPositions::acknowledgedWhileAway()
{
    TBroker broker(20);
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker.Port())).isEmpty(), "owner");
    TPositionCore p1;
    QCOMPARE(FollowOneFrame(p1, owner, broker.Port()), QString());

    p1.Close();
    QByteArray frames;
    for (int i = 0; i < 30; ++i)
        frames += Frame("F1001001filler " + QByteArray::number(i));
    QVERIFY(owner.Radio().Write(frames + Frame("E100100099") + Frame("E100100199")));
    QTRY_COMPARE(owner.hub->Alarms().OpenCount(), 2);
    const qint64 first = owner.hub->Alarms().Alarms().constFirst().id;
    QVERIFY(owner.hub->AcknowledgeAlarm(first, TTrafficHub::ByPopup));
    QVERIFY(owner.Radio().Write(frames));
    QTRY_COMPARE(owner.log.entries.size(), 63);
    QTest::qWait(300);

    TPositionCore back;
    QCOMPARE(back.Open(broker.Port(), "desk1"), QString());
    QTRY_VERIFY(back.Following());
    QTest::qWait(300);
    QVERIFY(owner.Radio().Write(Frame("D1001000")));
    QTRY_COMPARE(back.position->At(), 64u);
    QCOMPARE(back.position->Missed(), 0u);
    QTRY_COMPARE(back.hub->Alarms().Alarms().size(), 2);
    QTRY_COMPARE(back.hub->Alarms().OpenCount(), 1);
    const TAlarm &closed = back.hub->Alarms().Alarms().constFirst();
    QCOMPARE(closed.ident, 1000);
    QCOMPARE(closed.acknowledgedBy, QStringLiteral("at the radio's owner"));
    QVERIFY(back.hub->Alarms().Alarms().constLast().IsOpen());
    // Nothing went back: the owner's record is its own.
    QTest::qWait(300);
    QCOMPARE(owner.hub->Alarms().Find(first)->acknowledgedBy, TTrafficHub::ByPopup);
    QCOMPARE(owner.hub->Alarms().OpenCount(), 1);
}

// A position closed, then its broker restarted without its store (the session
// gone) while the owner went on: started again in the same directory, it knows
// where it stood, fetches what went by and repeats nothing.
void TstPositions::restartedWhereItStood()
{
    TBroker broker(100000, false);
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker.Port())).isEmpty(), "owner");
    TPositionCore p1;
    QCOMPARE(FollowOneFrame(p1, owner, broker.Port()), QString());
    p1.Close();

    broker.Stop();
    QVERIFY2(broker.Start().isEmpty(), "broker again");
    QTRY_VERIFY_WITH_TIMEOUT(owner.feed->Client().Connected(), 15000);
    QByteArray frames;
    for (int i = 0; i < 30; ++i)
        frames += Frame("F1001001meanwhile " + QByteArray::number(i));
    QVERIFY(owner.Radio().Write(frames));
    QTRY_COMPARE(owner.log.entries.size(), 31);
    QTRY_COMPARE(owner.feed->Client().Queued(), 0);

    p1.log.entries.clear();
    QCOMPARE(p1.Open(broker.Port(), "desk1"), QString());
    QTRY_VERIFY(p1.Following());
    QVERIFY(owner.Radio().Write(Frame("D1001000")));
    QTRY_COMPARE(p1.position->At(), 32u);
    QCOMPARE(p1.log.entries, owner.log.entries.mid(0, 31));
    QCOMPARE(p1.position->Fetched(), 30u);
    QCOMPARE(p1.position->Missed(), 0u);
}

void TstPositions::brokerRestartFeedResumes_data()
{
    QTest::addColumn<bool>("persistent");
    QTest::newRow("the broker keeps its store") << true;
    // The position's session is gone with the broker: it has applied nothing
    // yet, and still sees what it did not get.
    QTest::newRow("the broker forgets every session") << false;
}

void TstPositions::brokerRestartFeedResumes()
{
    QFETCH(bool, persistent);
    TBroker broker(100000, persistent);
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker.Port())).isEmpty(), "owner");
    // The position reaches the broker through a relay: it comes back only after
    // the owner's queue went to the broker.
    TRelay relay(broker.Port());
    QVERIFY2(relay.Start().isEmpty(), "relay");
    TPositionCore p1;
    QCOMPARE(p1.Open(relay.Port(), "desk1"), QString());
    QTRY_VERIFY(p1.Following());
    QTest::qWait(300); // where the feed stands

    broker.Stop();
    relay.Stop();
    QTRY_COMPARE(p1.position->RadioState(), QStringLiteral("no broker"));
    // The radio goes on meanwhile: nothing is lost at the owner.
    QByteArray frames;
    for (int i = 0; i < 20; ++i)
        frames += Frame("F1001001while down " + QByteArray::number(i));
    QVERIFY(owner.Radio().Write(frames));
    QTRY_COMPARE(owner.log.entries.size(), 20);
    QVERIFY2(broker.Start().isEmpty(), "broker again");
    QTRY_VERIFY_WITH_TIMEOUT(owner.feed->Client().Connected(), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(owner.feed->Client().Queued(), 0, 15000);
    QVERIFY2(relay.Start().isEmpty(), "relay again");
    QTRY_VERIFY_WITH_TIMEOUT(p1.Following(), 30000);
    // The feed resumes: the next frame reaches the position, and whatever the
    // broker lost of the owner's queue is fetched from the owner. Never a gap.
    QVERIFY(owner.Radio().Write(Frame("D1001000")));
    QTRY_COMPARE_WITH_TIMEOUT(p1.position->At(), 21u, 30000);
    QCOMPARE(p1.log.entries, owner.log.entries);
    QCOMPARE(p1.position->Missed(), 0u);
    // A broker that forgot the session: all of it from the owner.
    if (!persistent)
        QCOMPARE(p1.position->Fetched(), 20u);
}

// A position whose clock is an hour ahead counts the stations by the owner's:
// heard just now is not overdue, and is due in five minutes.
void TstPositions::wrongClock()
{
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker.Port())).isEmpty(), "owner");
    TPositionCore p1;
    QCOMPARE(p1.Open(broker.Port(), "desk1"), QString());
    const auto ahead = [] { return QDateTime::currentDateTimeUtc().addSecs(3600); };
    p1.position->SetLocalClock(ahead);
    TStationBoard board(nullptr, [&p1] { return p1.position->OwnerNow(); });
    QObject::connect(p1.session.get(), &TConsoleSession::Traffic, &board, &TStationBoard::TrafficEvent);
    QObject::connect(p1.position.get(), &TPositionLink::OwnerClockLearned, &board,
                     &TStationBoard::ClockMoved);
    TCheckinSettings rules;
    rules.all = TCheckinRule{5, QDateTime::currentDateTimeUtc().addSecs(-60)};
    board.SetCheckins(rules);
    QTRY_VERIFY(p1.Following());

    QVERIFY(owner.Radio().Write(Frame("B1001000")));
    QTRY_COMPARE(p1.log.entries.size(), 1);
    QVERIFY(qAbs(p1.position->OwnerNow().msecsTo(QDateTime::currentDateTimeUtc())) < 2000);
    board.CheckDeadlines();
    const int row = board.RowOf({100, 1000});
    QVERIFY(row >= 0);
    QVERIFY(!board.OverdueAt(row));
    const qint64 due = QDateTime::currentDateTimeUtc().secsTo(board.NextDeadline());
    QVERIFY2(due > 4 * 60 && due <= 5 * 60, qPrintable(QString::number(due)));
}

// The owner and a position through a broker that takes only TLS: a burst and
// then a single frame each arrive at once (nothing waits in the TLS layer for
// the next packet or the keep-alive).
void TstPositions::overTls()
{
    TBroker broker;
    broker.UseTls();
    QVERIFY2(broker.Start().isEmpty(), "broker");
    const QByteArray bus =
        "Broker=" + broker.Url().toUtf8() + "\nCaFile=" + TBroker::TestCaFile().toUtf8() + '\n';
    TFeedOwner owner;
    QVERIFY2(owner.Open(bus + "Radio=r1\n").isEmpty(), "owner");
    TPositionCore p1;
    QCOMPARE(p1.Open(broker.Port(), "desk1", bus), QString());
    QTRY_VERIFY(p1.Following());

    QByteArray frames;
    for (int i = 0; i < 30; ++i)
        frames += Frame("F1001001burst " + QByteArray::number(i));
    QVERIFY(owner.Radio().Write(frames));
    QTRY_COMPARE_WITH_TIMEOUT(p1.log.entries.size(), 30, 3000);
    QTest::qWait(1000);
    QElapsedTimer single;
    single.start();
    QVERIFY(owner.Radio().Write(Frame("D1001000")));
    QTRY_COMPARE_WITH_TIMEOUT(p1.log.entries.size(), 31, 3000);
    QVERIFY2(single.elapsed() < 1000, qPrintable(QString::number(single.elapsed())));
    QCOMPARE(p1.log.entries, owner.log.entries);
}

void TstPositions::cleanupTestCase()
{
    reader_.reset();
    owner_.reset();
    broker_.reset();
}

QTEST_GUILESS_MAIN(TstPositions)
#include "tst_positions.moc"

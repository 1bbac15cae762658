#include "Broker.h"
#include "BusPreferences.h"
#include "FeedOwner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <iostream>

// The feed from the radio's owner through a mosquitto of the test's own: the
// owner is the console's core on a pseudo-terminal radio; readers are plain
// clients of the broker.
Q_DECLARE_METATYPE(TTrafficEvent)
Q_DECLARE_METATYPE(QList<TWindowEffect>)

class TstBusFeed : public QObject {
    Q_OBJECT
private slots:
    void preferences_data();
    void preferences();
    void trafficPayloadAsQtWritesIt_data();
    void trafficPayloadAsQtWritesIt();
    void noBrokerNoFeed();
    void trafficInOrderWithStates();
    void lastWillWhenOwnerKilled();
    void brokerRestart_data();
    void brokerRestart();
    void asleepWhileBrokerAway();
};

namespace {

QByteArray BusSection(const TBroker &broker, const QByteArray &extra = {})
{
    return "Broker=" + broker.Url().toUtf8() + "\nRadio=r1\n" + extra;
}

// Checks that the messages are the traffic events numbered first..first+n-1
// of one boot, and returns what failed.
QString CheckNumbering(const QList<TFeedReader::TMessage> &messages, qint64 first)
{
    QString boot;
    for (int i = 0; i < messages.size(); ++i) {
        const QJsonObject o = messages.at(i).Json();
        if (o.value("v").toInt() != FeedSchemaVersion)
            return QStringLiteral("message %1 has schema %2").arg(i).arg(o.value("v").toInt());
        if (o.value("seq").toInteger() != first + i)
            return QStringLiteral("message %1 has seq %2, not %3")
                .arg(i)
                .arg(o.value("seq").toInteger())
                .arg(first + i);
        if (i == 0)
            boot = o.value("boot").toString();
        else if (o.value("boot").toString() != boot)
            return QStringLiteral("message %1 is of another boot").arg(i);
    }
    return {};
}

int ThreadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

// How often the client's network thread (there is one) went to sleep so far;
// -1 when there is none.
qint64 NetworkThreadWakes()
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &entry : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(entry + QStringLiteral("/comm")));
        QFile status(tasks.filePath(entry + QStringLiteral("/status")));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != TMqttClient::ThreadName ||
            !status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                return line.mid(24).trimmed().toLongLong();
    }
    return -1;
}

} // namespace

void TstBusFeed::preferences_data()
{
    QTest::addColumn<QByteArray>("bus");
    QTest::addColumn<QString>("refusal"); // a piece of the message; empty: accepted
    QTest::addColumn<int>("port");

    QTest::newRow("loopback plain") << QByteArray("Broker=mqtt://127.0.0.1:1884\nRadio=r1") << QString()
                                    << 1884;
    QTest::newRow("localhost default port")
        << QByteArray("Broker=mqtt://localhost\nRadio=r1") << QString() << 1883;
    QTest::newRow("tls default port")
        << QByteArray("Broker=mqtts://broker.example\nRadio=r1") << QString() << 8883;
    QTest::newRow("remote plain allowed")
        << QByteArray("Broker=mqtt://broker.example:1883\nRadio=r1\nAllowPlainText=true") << QString()
        << 1883;
    QTest::newRow("user with password file")
        << QByteArray("Broker=mqtt://127.0.0.1\nRadio=r1\nUser=hub\nPasswordFile=secret") << QString()
        << 1883;
    QTest::newRow("remote plain") << QByteArray("Broker=mqtt://broker.example:1883\nRadio=r1")
                                  << "another machine reached without TLS" << 0;
    QTest::newRow("allow not a flag")
        << QByteArray("Broker=mqtt://broker.example\nRadio=r1\nAllowPlainText=maybe")
        << "Bus/AllowPlainText is 'maybe'" << 0;
    QTest::newRow("other scheme") << QByteArray("Broker=http://127.0.0.1\nRadio=r1") << "not mqtt://host:port"
                                  << 0;
    QTest::newRow("no host") << QByteArray("Broker=mqtt://:1883\nRadio=r1") << "not mqtt://host:port" << 0;
    QTest::newRow("port too large") << QByteArray("Broker=mqtt://127.0.0.1:70000\nRadio=r1") << "Bus/Broker"
                                    << 0;
    QTest::newRow("path") << QByteArray("Broker=mqtt://127.0.0.1/feed\nRadio=r1") << "not mqtt://host:port"
                          << 0;
    QTest::newRow("user in url") << QByteArray("Broker=mqtt://hub:pw@127.0.0.1\nRadio=r1")
                                 << "not mqtt://host:port" << 0;
    QTest::newRow("password in preferences")
        << QByteArray("Broker=mqtt://127.0.0.1\nRadio=r1\nUser=hub\nPassword=pw")
        << "never from the preferences" << 0;
    QTest::newRow("password file missing")
        << QByteArray("Broker=mqtt://127.0.0.1\nRadio=r1\nUser=hub\nPasswordFile=nothing") << "cannot be read"
        << 0;
    QTest::newRow("password file empty")
        << QByteArray("Broker=mqtt://127.0.0.1\nRadio=r1\nUser=hub\nPasswordFile=empty")
        << "holds no password" << 0;
    QTest::newRow("password file without user")
        << QByteArray("Broker=mqtt://127.0.0.1\nRadio=r1\nPasswordFile=secret") << "without Bus/User" << 0;
    QTest::newRow("ca file without tls")
        << QByteArray("Broker=mqtt://127.0.0.1\nRadio=r1\nCaFile=secret") << "not mqtts://" << 0;
    QTest::newRow("ca file missing") << QByteArray("Broker=mqtts://127.0.0.1\nRadio=r1\nCaFile=nothing")
                                     << "cannot be read" << 0;
    QTest::newRow("radio missing") << QByteArray("Broker=mqtt://127.0.0.1") << "Bus/Radio is ''" << 0;
    QTest::newRow("radio with level")
        << QByteArray("Broker=mqtt://127.0.0.1\nRadio=a/b") << "Bus/Radio is 'a/b'" << 0;
    QTest::newRow("radio wildcard") << QByteArray("Broker=mqtt://127.0.0.1\nRadio=r+") << "Bus/Radio is 'r+'"
                                    << 0;
    QTest::newRow("queue limit zero")
        << QByteArray("Broker=mqtt://127.0.0.1\nRadio=r1\nQueueLimit=0") << "Bus/QueueLimit is '0'" << 0;
    QTest::newRow("queue limit text") << QByteArray("Broker=mqtt://127.0.0.1\nRadio=r1\nQueueLimit=many")
                                      << "Bus/QueueLimit is 'many'" << 0;
    QTest::newRow("journal too long") << QByteArray("Broker=mqtt://127.0.0.1\nRadio=r1\nJournal=2000000")
                                      << "Bus/Journal is '2000000'" << 0;
}

void TstBusFeed::preferences()
{
    QFETCH(QByteArray, bus);
    QFETCH(QString, refusal);
    QFETCH(int, port);
    TScratchDir dir;
    QVERIFY(dir.Prepare({}, {}).isEmpty());
    QVERIFY(dir.WriteFile("secret", "s3cret pass\nsecond line\n"));
    QVERIFY(dir.WriteFile("empty", "\n"));
    QVERIFY(dir.WriteFile(PreferencesFileName, "[Alarms]\nSound=on\n[Bus]\n" + bus + '\n'));
    QString problem;
    const std::optional<TBusPreferences> loaded = LoadBusPreferences(dir.Path(PreferencesFileName), &problem);
    if (refusal.isEmpty()) {
        QVERIFY2(loaded, qPrintable(problem));
        QVERIFY(problem.isEmpty());
        QCOMPARE(loaded->port, port);
        QCOMPARE(loaded->radio, QStringLiteral("r1"));
        if (!loaded->user.isEmpty())
            QCOMPARE(loaded->password, QStringLiteral("s3cret pass"));
    } else {
        QVERIFY(!loaded);
        QVERIFY2(problem.contains(refusal), qPrintable(problem));
        QVERIFY(problem.startsWith(QLatin1String("The feed to the broker is off: in ")));
    }
}

namespace {

// The traffic message as a QJsonObject through QJsonDocument (how the feed
// wrote it first): the bytes the feed's own writer must give.
QByteArray TrafficThroughQJson(const TFeedOrigin &origin, quint64 seq, const TTrafficEvent &event,
                               const QString &entry, const QList<TWindowEffect> &effects)
{
    QJsonObject o{
        {"v", FeedSchemaVersion}, {"radio", origin.radio}, {"boot", origin.boot}, {"seq", qint64(seq)}};
    const auto number = [&o](const char *key, std::optional<int> value) {
        if (value)
            o.insert(QLatin1String(key), *value);
    };
    const auto text = [&o](const char *key, const QString &value) {
        if (!value.isEmpty())
            o.insert(QLatin1String(key), value);
    };
    o.insert("time", FeedTime(event.time));
    o.insert("direction", TrafficDirectionText(event.direction));
    o.insert("kind", TrafficKindText(event.kind));
    number("fleet", event.fleet);
    number("ident", event.ident);
    text("name", event.name);
    number("fleet2", event.fleet2);
    number("ident2", event.ident2);
    text("name2", event.name2);
    if (event.status) {
        o.insert("status", *event.status);
        o.insert("statusKnown", event.statusKnown);
        text("statusText", event.statusText);
    }
    text("text", event.text);
    if (event.IsEmergency())
        o.insert("emergency", true);
    if (!event.frame.isEmpty())
        o.insert("frame", QString::fromLatin1(event.frame));
    text("position", event.position);
    text("entry", entry);
    QJsonArray list;
    for (const TWindowEffect &effect : effects) {
        if (const auto *e = std::get_if<TPopupRequest>(&effect))
            list.append(QJsonObject{{"effect", "popup"},
                                    {"popup", int(e->kind)},
                                    {"fleet", e->fleet},
                                    {"ident", e->ident},
                                    {"name", e->name},
                                    {"fleet2", e->fleet2},
                                    {"ident2", e->ident2},
                                    {"name2", e->name2},
                                    {"text", e->text}});
        else if (const auto *e = std::get_if<TSetPttIdCaption>(&effect))
            list.append(QJsonObject{{"effect", "pttCaption"}, {"caption", e->caption}});
        else if (const auto *e = std::get_if<TSetCallDecodeFrom>(&effect))
            list.append(QJsonObject{
                {"effect", "callDecodeFrom"}, {"name", e->name}, {"fleet", e->fleet}, {"ident", e->ident}});
        else
            list.append(
                QJsonObject{{"effect", "messageText"}, {"text", std::get<TAppendMessageText>(effect).text}});
    }
    if (!list.isEmpty())
        o.insert("effects", list);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

} // namespace

void TstBusFeed::trafficPayloadAsQtWritesIt_data()
{
    QTest::addColumn<TTrafficEvent>("event");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QList<TWindowEffect>>("effects");

    const QDateTime time(QDate(2026, 12, 10), QTime(1, 2, 3, 456), Qt::UTC);
    TTrafficEvent status;
    status.time = time;
    status.kind = TrafficKind::Status;
    status.fleet = 100;
    status.ident = 1000;
    status.name = QStringLiteral("Base");
    status.status = 99;
    status.statusKnown = true;
    status.statusText = QStringLiteral("Officer down");
    status.frame = "\x02"
                   "E100100099\x03";
    QTest::newRow("emergency with its popup")
        << status << QStringLiteral("01:02:03 RX: Status from Base\r\n\t\"Officer down\"")
        << QList<TWindowEffect>{
               TPopupRequest{PopupKind::Status, "100", "1000", "Base", "", "", "99", "Officer down"}};

    TTrafficEvent decode;
    decode.time = time.addMSecs(-time.time().msecsSinceStartOfDay()); // midnight
    decode.kind = TrafficKind::CallDecode;
    decode.fleet = 0;
    decode.ident = 0;
    decode.fleet2 = 349;
    decode.ident2 = 4999;
    decode.name2 = QStringLiteral("Truck 9");
    decode.text = QStringLiteral("start");
    decode.position = QStringLiteral("desk2");
    QTest::newRow("call decode, no frame, a position")
        << decode << QString()
        << QList<TWindowEffect>{TSetCallDecodeFrom{"Truck 9", "349", "4999"}, TSetPttIdCaption{"PTT ID"}};

    // Every byte a frame can hold, and texts with what JSON escapes, characters
    // outside Latin-1, a pair of surrogates and lone ones.
    TTrafficEvent message;
    message.time = time.addYears(-50);
    message.kind = TrafficKind::LongMessage;
    message.direction = TrafficDirection::Out;
    message.fleet = 100;
    message.ident = 1001;
    for (int byte = 0; byte < 256; ++byte)
        message.frame += char(byte);
    message.text = QStringLiteral("quote \" back \\ slash / tab\t nul") + QChar(0) + QChar(0x1f) +
                   QChar(0x7f) + QStringLiteral("\u00e9\u20ac\u2028\ufeff\uffff") +
                   QString::fromUtf8("\xF0\x9F\x98\x80") + QChar(0xd800) + QLatin1Char('x') + QChar(0xdc00);
    message.name = message.text;
    QTest::newRow("escapes and every byte")
        << message << message.text << QList<TWindowEffect>{TAppendMessageText{message.text}};

    TTrafficEvent lost;
    lost.kind = TrafficKind::PortLost;
    lost.direction = TrafficDirection::Local;
    lost.text = QStringLiteral("COM1");
    QTest::newRow("port lost, no time, no station") << lost << QString() << QList<TWindowEffect>{};

    TTrafficEvent unknown = status;
    unknown.time = QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
    unknown.status = 21;
    unknown.statusKnown = false;
    unknown.statusText.clear();
    unknown.name.clear();
    QTest::newRow("unknown status, the last time of year 9999")
        << unknown << QString() << QList<TWindowEffect>{};

    TTrafficEvent ancient = unknown;
    ancient.time = QDateTime(QDate(1969, 12, 31), QTime(23, 59, 59, 1), Qt::UTC);
    QTest::newRow("a time before 1970") << ancient << QString() << QList<TWindowEffect>{};
}

void TstBusFeed::trafficPayloadAsQtWritesIt()
{
    QFETCH(TTrafficEvent, event);
    QFETCH(QString, entry);
    QFETCH(QList<TWindowEffect>, effects);
    const TFeedOrigin origin{QStringLiteral("radio \"room\""), QStringLiteral("0b6f-boot")};
    for (const quint64 seq : {quint64(1), quint64(1) << 40}) {
        const QByteArray written = TrafficPayload(origin, seq, event, entry, effects);
        QCOMPARE(written, TrafficThroughQJson(origin, seq, event, entry, effects));
        const std::optional<TFeedTraffic> read = ReadTraffic(written);
        QVERIFY(read);
        QCOMPARE(read->seq, seq);
        QCOMPARE(read->event.frame, event.frame);
        QCOMPARE(read->effects, effects);
    }
}

void TstBusFeed::noBrokerNoFeed()
{
    // Preferences without [Bus]: no feed and no thread of the library's.
    TFeedOwner owner;
    QVERIFY(owner.dir.Prepare({}, {}).isEmpty());
    QVERIFY(owner.dir.WriteFile(PreferencesFileName, "[Alarms]\nSound=off\n"));
    const int threads = ThreadCount();
    QString problem;
    QVERIFY(!TFeedPublisher::FromPreferences(owner.dir.Path(PreferencesFileName), &problem));
    QVERIFY(problem.isEmpty());
    QCOMPARE(ThreadCount(), threads);
    QVERIFY(!TFeedPublisher::FromPreferences(owner.dir.Path("absent.ini"), &problem));
    QVERIFY(problem.isEmpty());
}

void TstBusFeed::trafficInOrderWithStates()
{
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedReader reader(broker.Port(), "reader-order");
    QTRY_VERIFY(reader.Subscribed());
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker)).isEmpty(), "owner");
    QTRY_VERIFY(owner.feed->Client().Connected());
    QList<TTrafficEvent> events;
    connect(owner.session.get(), &TConsoleSession::Traffic, this,
            [&events](const TTrafficEvent &event) { events << event; });

    // Forty frames of every common kind, two stations, one emergency among them.
    QByteArray frames;
    const QList<QByteArray> kinds = {"B1001000", "E100100021", "F1001001Hello yard", "D1001000",
                                     "E100100099"};
    for (int i = 0; i < 40; ++i)
        frames += RadioFrame(kinds.at(i % kinds.size()));
    QVERIFY(owner.Radio().Write(frames));
    QTRY_COMPARE(owner.log.entries.size(), 40);
    owner.session->Send('B', QStringLiteral("100"), QStringLiteral("1001"));
    QCOMPARE(events.size(), 41);

    QTRY_COMPARE(reader.On("/traffic").size(), 41);
    const QList<TFeedReader::TMessage> traffic = reader.On("/traffic");
    QCOMPARE(CheckNumbering(traffic, 1), QString());
    for (int i = 0; i < events.size(); ++i) {
        const QJsonObject o = traffic.at(i).Json();
        QCOMPARE(traffic.at(i).topic, QByteArray("corvalink/r1/traffic"));
        QCOMPARE(o.value("kind").toString(), TrafficKindText(events.at(i).kind));
        QCOMPARE(o.value("direction").toString(), TrafficDirectionText(events.at(i).direction));
        QCOMPARE(o.value("frame").toString().toLatin1(), events.at(i).frame);
        QCOMPARE(o.value("time").toString(), FeedTime(events.at(i).time));
        QCOMPARE(o.value("name").toString(), events.at(i).name);
        QCOMPARE(o.value("emergency").toBool(), events.at(i).IsEmergency());
    }
    QCOMPARE(traffic.last().Json().value("direction").toString(), QStringLiteral("out"));

    // Eight emergencies from one station: one alarm opened, seven repeats folded
    // into it; acknowledging it publishes that.
    QTRY_COMPARE(reader.On("/alarm").size(), 8);
    const qint64 firstAlarm = reader.On("/alarm").first().Json().value("id").toInteger();
    for (int i = 0; i < 8; ++i) {
        const QJsonObject o = reader.On("/alarm").at(i).Json();
        QCOMPARE(o.value("transition").toString(),
                 i == 0 ? QStringLiteral("opened") : QStringLiteral("repeated"));
        QCOMPARE(o.value("id").toInteger(), firstAlarm);
        QCOMPARE(o.value("count").toInt(), i + 1);
    }
    QVERIFY(owner.hub->AcknowledgeAlarm(firstAlarm));
    QTRY_COMPARE(reader.On("/alarm").size(), 9);
    const QJsonObject acknowledged = reader.On("/alarm").last().Json();
    QCOMPARE(acknowledged.value("transition").toString(), QStringLiteral("acknowledged"));
    QCOMPARE(acknowledged.value("id").toInteger(), firstAlarm);
    QCOMPARE(acknowledged.value("seq").toInteger(), 9);
    QCOMPARE(acknowledged.value("status").toInt(), 99);

    // A reader that comes late gets the link's state and each station's last word.
    TFeedReader late(broker.Port(), "reader-late");
    QTRY_COMPARE(late.On("/state").size(), 1);
    const TFeedReader::TMessage state = late.On("/state").first();
    QVERIFY(state.retained);
    QCOMPARE(state.Json().value("state").toString(), QStringLiteral("online"));
    QCOMPARE(state.Json().value("port").toString(), QStringLiteral("open"));
    QCOMPARE(state.Json().value("device").toString(), QStringLiteral("COM1"));
    QTRY_COMPARE(late.On("/station/100-1000").size(), 1);
    const QJsonObject base = late.On("/station/100-1000").first().Json();
    QCOMPARE(base.value("name").toString(), QStringLiteral("Base"));
    QCOMPARE(base.value("status").toInt(), 99); // the last status it sent
    QCOMPARE(base.value("emergency").toBool(), true);
    QCOMPARE(base.value("lastHeard").toString(), FeedTime(events.at(39).time));
    QTRY_COMPARE(late.On("/station/100-1001").size(), 1);
    QVERIFY(!late.On("/station/100-1001").first().Json().contains("status"));
    QVERIFY(late.On("/traffic").isEmpty());

    // The radio unplugged: the retained state says so.
    owner.Radio().Close();
    QTRY_VERIFY(!late.On("/state").isEmpty() &&
                late.On("/state").last().Json().value("port").toString() == QLatin1String("lost"));
    QTRY_COMPARE(reader.On("/traffic").last().Json().value("kind").toString(), QStringLiteral("port lost"));
    QCOMPARE(owner.feed->DropCount(), 0u);

    // A clean exit says "offline" itself.
    owner.Close();
    QTRY_COMPARE(late.On("/state").last().Json().value("state").toString(), QStringLiteral("offline"));
}

void TstBusFeed::lastWillWhenOwnerKilled()
{
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedReader reader(broker.Port(), "reader-will");
    QTRY_VERIFY(reader.Subscribed());
    QProcess owner;
    owner.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    owner.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--owner"), broker.Url()});
    QVERIFY(owner.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!reader.On("/traffic").isEmpty(), 10000);
    const QString boot = reader.On("/traffic").first().Json().value("boot").toString();
    QCOMPARE(reader.On("/state").last().Json().value("state").toString(), QStringLiteral("online"));

    ::kill(pid_t(owner.processId()), SIGKILL);
    QVERIFY(owner.waitForFinished());
    QCOMPARE(owner.exitStatus(), QProcess::CrashExit);
    QTRY_COMPARE_WITH_TIMEOUT(reader.On("/state").last().Json().value("state").toString(),
                              QStringLiteral("offline"), 10000);
    QCOMPARE(reader.On("/state").last().Json().value("boot").toString(), boot);
    // Kept for whoever comes later.
    TFeedReader late(broker.Port(), "reader-will-late");
    QTRY_COMPARE(late.On("/state").size(), 1);
    QVERIFY(late.On("/state").first().retained);
    QCOMPARE(late.On("/state").first().Json().value("state").toString(), QStringLiteral("offline"));
}

void TstBusFeed::brokerRestart_data()
{
    QTest::addColumn<int>("queueLimit");
    QTest::addColumn<int>("whileDown");
    QTest::addColumn<int>("dropped");
    QTest::newRow("within the bound") << 100 << 60 << 0;
    QTest::newRow("past the bound") << 40 << 60 << 20;
}

void TstBusFeed::brokerRestart()
{
    QFETCH(int, queueLimit);
    QFETCH(int, whileDown);
    QFETCH(int, dropped);
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    TFeedReader reader(broker.Port(), "reader-restart");
    QTRY_VERIFY(reader.Subscribed());
    // The owner reaches the broker through a relay, so that after the restart
    // it comes back only once the reader has subscribed again.
    TRelay relay(broker.Port());
    QVERIFY2(relay.Start().isEmpty(), "relay");
    TFeedOwner owner;
    QVERIFY2(owner
                 .Open("Broker=" + relay.Url().toUtf8() +
                       "\nRadio=r1\nQueueLimit=" + QByteArray::number(queueLimit))
                 .isEmpty(),
             "owner");
    QTRY_VERIFY(owner.feed->Client().Connected());
    QSignalSpy drops(owner.feed.get(), &TFeedPublisher::DropCountChanged);

    const auto send = [&owner](int count) {
        QByteArray frames;
        for (int i = 0; i < count; ++i)
            frames += RadioFrame("E1001000" + QByteArray::number(10 + i % 80));
        return owner.Radio().Write(frames);
    };
    QVERIFY(send(10));
    QTRY_COMPARE(reader.On("/traffic").size(), 10);
    QTRY_COMPARE(owner.feed->Client().Queued(), 0);

    broker.Stop();
    relay.Stop();
    QTRY_VERIFY(!owner.feed->Client().Connected());
    // The radio goes on at full speed with the broker gone.
    QVERIFY(send(whileDown));
    QTRY_COMPARE(owner.log.entries.size(), 10 + whileDown);
    QCOMPARE(owner.feed->TrafficSeq(), quint64(10 + whileDown));
    QCOMPARE(owner.feed->DropCount(), quint64(dropped));
    QCOMPARE(drops.size(), dropped);
    QVERIFY(owner.feed->Client().Queued() <= queueLimit + 1); // the traffic and the one station

    QVERIFY2(broker.Start().isEmpty(), "broker again");
    QTRY_COMPARE_WITH_TIMEOUT(reader.Subscriptions(), 2, 10000);
    QVERIFY2(relay.Start().isEmpty(), "relay again");
    // The library's back-off: 1 s doubling, 30 s at most.
    QTRY_VERIFY_WITH_TIMEOUT(owner.feed->Client().Connected(), 40000);
    const int expected = 10 + whileDown - dropped;
    QTest::qWaitFor([&] { return reader.On("/traffic").size() >= expected; }, 20000);
    QStringList seqs;
    for (const TFeedReader::TMessage &message : reader.On("/traffic"))
        seqs << QString::number(message.Json().value("seq").toInteger());
    QVERIFY2(seqs.size() == expected,
             qPrintable(QStringLiteral("%1 of %2 arrived (owner: %3 queued, connected %4): %5")
                            .arg(seqs.size())
                            .arg(expected)
                            .arg(owner.feed->Client().Queued())
                            .arg(owner.feed->Client().Connected())
                            .arg(seqs.join(' '))));
    // Nothing twice, nothing out of order; a drop takes the newest, so what
    // arrived is numbered without a gap and the gap comes after it.
    QCOMPARE(CheckNumbering(reader.On("/traffic"), 1), QString());
    QVERIFY(send(1));
    QTRY_COMPARE(reader.On("/traffic").size(), 11 + whileDown - dropped);
    QCOMPARE(reader.On("/traffic").last().Json().value("seq").toInteger(), 11 + whileDown);
    QTRY_COMPARE(owner.feed->Client().Queued(), 0);
}

void TstBusFeed::asleepWhileBrokerAway()
{
    // An owner started while its broker is down: the network thread sleeps
    // between the attempts (1 s, then 2 s, ...), it does not poll; the radio
    // goes on.
    TBroker broker;
    QVERIFY2(broker.Start().isEmpty(), "broker");
    broker.Stop();
    TFeedOwner owner;
    QVERIFY2(owner.Open(BusSection(broker)).isEmpty(), "owner");
    const qint64 wakes = NetworkThreadWakes();
    QVERIFY(wakes >= 0);
    QVERIFY(owner.Radio().Write(RadioFrame("E100100021")));
    QTest::qWait(1500);
    QVERIFY2(NetworkThreadWakes() - wakes <= 10, qPrintable(QString::number(NetworkThreadWakes() - wakes)));
    QCOMPARE(owner.log.entries.size(), 1);
    QVERIFY(!owner.feed->Client().Connected());
}

namespace {

// The owner as a process of its own, for the test that kills it: runs the core
// and the feed on a pseudo-terminal radio and sends a call now and then.
int RunOwner(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    TFeedOwner owner;
    const QString problem = owner.Open("Broker=" + QByteArray(argv[2]) + "\nRadio=r1\n");
    if (!problem.isEmpty()) {
        std::cerr << qPrintable(problem) << '\n';
        return 1;
    }
    QTimer calls;
    QObject::connect(&calls, &QTimer::timeout, &app,
                     [&owner] { owner.Radio().Write(RadioFrame("B1001000")); });
    calls.start(100);
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--owner") == 0)
        return RunOwner(argc, argv);
    QCoreApplication app(argc, argv);
    TstBusFeed test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_busfeed.moc"

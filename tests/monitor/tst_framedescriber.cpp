#include "FrameDescriber.h"

#include <QTest>

namespace {

TLineFrame Frame(TLineDirection direction, const QByteArray &bytes, TNoiseReason reason = TNoiseReason::None)
{
    TLineFrame f;
    f.direction = direction;
    f.reason = reason;
    f.bytes = bytes;
    return f;
}

QByteArray Wire(const QByteArray &payload)
{
    return '\x02' + payload + '\x03';
}

// Car 2 and Base are known; 95 is an emergency text, 5 a plain one.
TMonitorDirectory Directory()
{
    TMonitorDirectory d;
    d.stationName = [](int fleet, int ident) {
        if (fleet == 101 && ident == 1102)
            return QStringLiteral("Car 2");
        if (fleet == 100 && ident == 1000)
            return QStringLiteral("Base");
        return QString();
    };
    d.statusText = [](int number) {
        if (number == 95)
            return QStringLiteral("Emergency");
        if (number == 5)
            return QStringLiteral("On scene");
        return QString();
    };
    return d;
}

} // namespace

class TstFrameDescriber : public QObject {
    Q_OBJECT
private slots:
    void describe_data();
    void describe();
    void acknowledgements_data();
    void acknowledgements();
    void textInTheCodePage();
    void withoutDirectory();
};

void TstFrameDescriber::describe_data()
{
    QTest::addColumn<bool>("outgoing");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("reason");
    QTest::addColumn<QString>("meaning");
    const int frame = int(TNoiseReason::None);
    auto in = [&](const char *name, const QByteArray &payload, const char *meaning) {
        QTest::newRow(name) << false << Wire(payload) << frame << QString::fromUtf8(meaning);
    };
    auto out = [&](const char *name, const QByteArray &payload, const char *meaning) {
        QTest::newRow(name) << true << Wire(payload) << frame << QString::fromUtf8(meaning);
    };
    in("ack 0", "0", "ack: Success");
    in("ack 1", "1", "ack: Fail");
    in("ack 2", "2", "ack: Busy");
    in("ack 3", "3", "ack: Command NG");
    in("ack with more bytes", "2xyz", "ack: Busy");
    in("voice call", "B1011102", "Voice call from Car 2");
    in("voice call, unknown station", "B1103000", "Voice call from 110-3000");
    in("call end", "D1001000", "Call end from Base");
    in("status emergency", "E101110295", "Status 95 from Car 2: Emergency");
    in("status with leading zero", "E101110205", "Status 5 from Car 2: On scene");
    in("status not in the directory", "E101110242", "Status 42 from Car 2 (not in the status directory)");
    in("status without its number", "E1011102",
       "status with a status number '' that is not a number: the console acts on none of it");
    in("status number cut short", "E10111029",
       "Status 9 from Car 2 (not in the status directory) (cut short: 11 "
       "of 12 bytes)");
    in("status number not a number", "E10111029x",
       "status with a status number '9x' that is not a number: the console acts on none of it");
    in("status fleet with a sign", "E+10110295", "Status 95 from +10-1102: Emergency");
    in("status with bytes beyond", "E101110295zz", "Status 95 from Car 2: Emergency (2 bytes more, ignored)");
    in("short message", "F1011102Hi\r\nthere", "Short message from Car 2: \"Hi there\"");
    in("short message, empty", "F1011102", "Short message from Car 2: \"\"");
    in("long message", "G1001000" + QByteArray(60, 'x'),
       "Long message from Base, 60 bytes: \"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...\"");
    in("message cut short", "F10111", "Short message from 101-11 (cut short: 8 of 10 bytes): \"\"");
    in("ptt id connect", "I110111021011102", "PTT ID connect from Car 2");
    in("ptt id disconnect", "I010111021011102", "PTT ID disconnect from Car 2");
    in("call start", "I110111021001000", "Call start from Car 2 to Base");
    in("call end between two", "I010111021103000", "Call end from Car 2 to 110-3000");
    in("call decode cut short", "I1101110210010",
       "Call start from Car 2 to 100-10 (cut short: 16 of 18 bytes)");
    in("fleet not a number", "B1a11102",
       "voice call with a Fleet '1a1' that is not a number: the console acts on none of it");
    in("ident with a leading blank", "D101 102", "Call end from 101- 102");
    in("ident with a blank inside", "D1011 02",
       "call end with an Ident '1 02' that is not a number: the console acts on none of it");
    in("voice call cut short", "B10111", "Voice call from 101-11 (cut short: 8 of 10 bytes)");
    in("voice call without an ident", "B101",
       "voice call with an Ident '' that is not a number: the console acts on none of it");
    in("voice call too long", "B10111020", "Voice call from Car 2 (1 byte more, ignored)");
    in("unknown letter", "H1011102", "unknown command 'H', ignored");
    in("unknown control byte", "\x7f", "unknown command 0x7F, ignored");
    in("empty frame", "", "empty frame");
    out("connect", "B1011102", "Connect to Car 2");
    out("disconnect", "D1001000", "Disconnect to Base");
    out("status", "E10111025", "Status 5 to Car 2: On scene");
    out("status unknown number", "E101110242", "Status 42 to Car 2");
    out("status request", "H1011102", "Status request to Car 2");
    out("short message out", "F1001000On my way", "Short message to Base: \"On my way\"");
    out("long message out", "G1011102" + QByteArray(49, 'y'),
        "Long message to Car 2, 49 bytes: \"yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy...\"");
    out("ack letter is not a command", "0", "unknown command '0'");

    auto noise = [&](const char *name, const QByteArray &bytes, TNoiseReason reason, const char *meaning) {
        QTest::newRow(name) << false << bytes << int(reason) << QString::fromUtf8(meaning);
    };
    noise("noise before STX", "xyz", TNoiseReason::BeforeStx, "not a frame: 3 bytes before STX dropped");
    noise("one byte before STX", "\x03", TNoiseReason::BeforeStx, "not a frame: 1 byte before STX dropped");
    noise("noise without STX", "abcd", TNoiseReason::NoStx, "not a frame: 4 bytes without STX dropped");
    noise("frame without ETX",
          "\x02"
          "B10",
          TNoiseReason::NewStx, "not a frame: 4 bytes without ETX dropped (a new STX came)");
    noise("too long", QByteArray(4096, 'a'), TNoiseReason::TooLong,
          "not a frame: no ETX within 4096 bytes, dropped");
    noise("rest of a frame begun unseen", "1102\x03", TNoiseReason::Joined,
          "rest of a frame that began before the monitor opened (or was cleared): 5 bytes");
    noise("cut when the intake started over",
          "\x02"
          "E1011",
          TNoiseReason::Cut, "not a frame: 6 bytes dropped, cut off when the console started reading afresh");
    noise("cut by a gap",
          "\x02"
          "F1",
          TNoiseReason::Gap, "not a frame: 3 bytes cut off by bytes not shown");
}

void TstFrameDescriber::describe()
{
    QFETCH(bool, outgoing);
    QFETCH(QByteArray, bytes);
    QFETCH(int, reason);
    QFETCH(QString, meaning);
    const TLineFrame f =
        Frame(outgoing ? TLineDirection::Out : TLineDirection::In, bytes, TNoiseReason(reason));
    QCOMPARE(DescribeLineFrame(f, Directory(), 1252), meaning);
}

void TstFrameDescriber::acknowledgements_data()
{
    QTest::addColumn<bool>("outgoing");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("ack");
    QTest::newRow("Success") << false << Wire("0") << 0 << true;
    QTest::newRow("Command NG") << false << Wire("3") << 0 << true;
    QTest::newRow("status is not") << false << Wire("E101110295") << 0 << false;
    QTest::newRow("4 is not") << false << Wire("4") << 0 << false;
    QTest::newRow("outgoing 0 is not") << true << Wire("0") << 0 << false;
    QTest::newRow("noise that looks like one is not")
        << false << Wire("0") << int(TNoiseReason::Gap) << false;
    QTest::newRow("empty frame is not") << false << Wire("") << 0 << false;
}

void TstFrameDescriber::acknowledgements()
{
    QFETCH(bool, outgoing);
    QFETCH(QByteArray, bytes);
    QFETCH(int, reason);
    QFETCH(bool, ack);
    QCOMPARE(IsAcknowledgement(
                 Frame(outgoing ? TLineDirection::Out : TLineDirection::In, bytes, TNoiseReason(reason))),
             ack);
}

void TstFrameDescriber::textInTheCodePage()
{
    // The same bytes read in the console's code page: 1252 and 932 (Shift JIS).
    const TLineFrame latin = Frame(TLineDirection::In, Wire("F1011102Caf\xe9"));
    QCOMPARE(DescribeLineFrame(latin, Directory(), 1252),
             QString::fromUtf8("Short message from Car 2: \"Café\""));
    const TLineFrame japanese = Frame(TLineDirection::In, Wire("F1011102\x93\xfa\x96\x7b"));
    QCOMPARE(DescribeLineFrame(japanese, Directory(), 932),
             QString::fromUtf8("Short message from Car 2: \"日本\""));
}

void TstFrameDescriber::withoutDirectory()
{
    // No tables at hand: stations by number, status without text.
    const TLineFrame f = Frame(TLineDirection::In, Wire("E101110295"));
    QCOMPARE(DescribeLineFrame(f, TMonitorDirectory{}, 1252), QStringLiteral("Status 95 from 101-1102"));
}

QTEST_GUILESS_MAIN(TstFrameDescriber)
#include "tst_framedescriber.moc"

#include "AckPolicy.h"
#include "ConsoleFrame.h"
#include "DemoScenario.h"
#include "SimCommand.h"
#include "WireText.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>
#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray Hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// Reads until `count` bytes came or the deadline passed.
QByteArray ReadBytes(int fd, qsizetype count, int timeoutMs = 3000)
{
    QByteArray got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, n);
    }
    return got;
}

// Opens the link as the console does: exclusive, raw, 8N2.
int OpenAsConsole(const QString &path)
{
    const int fd = open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return fd;
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tio.c_cflag |= CSTOPB | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
    return fd;
}

// A TCP connection to the loopback port, as socat makes it; -1 when refused.
int ConnectLoopback(quint16 port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

} // namespace

class TestRadioSim : public QObject {
    Q_OBJECT

private slots:
    void commandFrames_data();
    void commandFrames();
    void refusals_data();
    void refusals();
    void otherCommands_data();
    void otherCommands();
    void ackArguments_data();
    void ackArguments();
    void escapes_data();
    void escapes();
    void consoleFrames_data();
    void consoleFrames();
    void splitter();
    void ackPolicyOrder();
    void ackPolicyRates();
    void demoScenario();
    void demoMatchesSampleTables();
    void programOnPty();
    void programEndsWithInput();
    void programDeliversBeforeEnding();
    void programOnTcp();
    void tcpOptions_data();
    void tcpOptions();

private:
    WireCodec codec_;
};

void TestRadioSim::commandFrames_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("call") << "call 100 1000" << Hex("02 42 3130 30 31303030 03");
    QTest::newRow("call-upper-case-padded") << "CALL 0 0" << Hex("02 42 303030 30303030 03");
    QTest::newRow("call-edges") << "call 349 4999" << Hex("02 42 333439 34393939 03");
    QTest::newRow("callend") << "callend 100 1000" << Hex("02 44 313030 31303030 03");
    QTest::newRow("status-two-digits") << "status 100 1000 5" << Hex("02 45 313030 31303030 3035 03");
    QTest::newRow("status-emergency") << "status 100 1000 95" << Hex("02 45 313030 31303030 3935 03");
    QTest::newRow("status-zero") << "status 101 2000 0" << Hex("02 45 313031 32303030 3030 03");
    QTest::newRow("status-leading-zeros") << "status 100 1000 007" << Hex("02 45 313030 31303030 3037 03");
    QTest::newRow("msg-short") << "msg 100 1000 Hello" << Hex("02 46 313030 31303030 48656C6C6F 03");
    QTest::newRow("msg-line-break") << "msg 100 1000 Hi\\nAll"
                                    << Hex("02 46 313030 31303030 4869 0D0A 416C6C 03");
    QTest::newRow("msg-inner-and-trailing-blanks")
        << "msg   100 1000   a  b " << Hex("02 46 313030 31303030 61 2020 62 20 03");
    QTest::newRow("msg-escapes") << "msg 100 1000 \\t\\\\\\x41\\r"
                                 << Hex("02 46 313030 31303030 09 5C 41 0D 03");
    QTest::newRow("msg-empty") << "msg 100 1000" << Hex("02 46 313030 31303030 03");
    QTest::newRow("msg-cp1252") << QStringLiteral("msg 100 1000 caf\u00e9 \u20ac")
                                << Hex("02 46 313030 31303030 636166E9 20 80 03");
    QTest::newRow("msg-48-is-short") << "msg 100 1000 " + QString(48, QLatin1Char('x'))
                                     << QByteArray("\x02"
                                                   "F1001000" +
                                                   QByteArray(48, 'x') + "\x03");
    QTest::newRow("msg-49-is-long") << "msg 100 1000 " + QString(49, QLatin1Char('x'))
                                    << QByteArray("\x02"
                                                  "G1001000" +
                                                  QByteArray(49, 'x') + "\x03");
    QTest::newRow("msg-break-counts-two-bytes") << "msg 100 1000 " + QString(46, QLatin1Char('x')) + "\\ny"
                                                << QByteArray("\x02"
                                                              "G1001000" +
                                                              QByteArray(46, 'x') + "\r\ny\x03");
    QTest::newRow("msg-long-explicit") << "msg long 100 1000 Hi" << Hex("02 47 313030 31303030 4869 03");
    QTest::newRow("msg-short-explicit") << "msg SHORT 100 1000 Hi" << Hex("02 46 313030 31303030 4869 03");
    QTest::newRow("msg-long-4000") << "msg 100 1000 " + QString(4000, QLatin1Char('y'))
                                   << QByteArray("\x02"
                                                 "G1001000" +
                                                 QByteArray(4000, 'y') + "\x03");
    QTest::newRow("ptt-on") << "ptt 100 1000 on" << Hex("02 49 31 313030 31303030 313030 31303030 03");
    QTest::newRow("ptt-off") << "ptt 100 1000 OFF" << Hex("02 49 30 313030 31303030 313030 31303030 03");
    QTest::newRow("ani-start") << "ani start 100 1000 101 2000"
                               << Hex("02 49 31 313030 31303030 313031 32303030 03");
    QTest::newRow("ani-end") << "ani end 100 1000 101 2000"
                             << Hex("02 49 30 313030 31303030 313031 32303030 03");
    QTest::newRow("ani-same-fleet") << "ani start 100 1000 100 1001"
                                    << Hex("02 49 31 313030 31303030 313030 31303031 03");
    QTest::newRow("raw-pairs") << "raw 02 30 03" << Hex("023003");
    QTest::newRow("raw-run") << "raw 023003 78" << Hex("02300378");
    QTest::newRow("raw-lower-case") << "raw 0a ff" << Hex("0AFF");
}

void TestRadioSim::commandFrames()
{
    QFETCH(QString, line);
    QFETCH(QByteArray, frame);
    const SimCommand cmd = ParseCommandLine(line, codec_);
    QCOMPARE(cmd.kind, SimCommand::Kind::Send);
    QCOMPARE(cmd.frame.toHex(' '), frame.toHex(' '));
    QVERIFY(!cmd.summary.isEmpty());
}

void TestRadioSim::refusals_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("message"); // a piece the message must hold

    QTest::newRow("unknown-command") << "frobnicate 1"
                                     << "unknown command 'frobnicate'";
    QTest::newRow("call-too-few") << "call 100"
                                  << "call takes 2 arguments (1 given)";
    QTest::newRow("call-too-many") << "call 100 1000 5"
                                   << "call takes 2 arguments (3 given)";
    QTest::newRow("fleet-99") << "call 99 1000"
                              << "Fleet 99 is out of range";
    QTest::newRow("fleet-350") << "callend 350 1000"
                               << "Fleet 350 is out of range";
    QTest::newRow("ident-999") << "call 100 999"
                               << "Ident 999 is out of range";
    QTest::newRow("ident-5000") << "call 100 5000"
                                << "Ident 5000 is out of range";
    QTest::newRow("fleet-not-number") << "call abc 1000"
                                      << "Fleet 'abc' is not a number";
    QTest::newRow("fleet-negative") << "call -100 1000"
                                    << "Fleet '-100' is not a number";
    QTest::newRow("fleet-plus") << "call +100 1000"
                                << "Fleet '+100' is not a number";
    QTest::newRow("fleet-huge") << "call 99999999999 1000"
                                << "Fleet '99999999999' is not a number";
    QTest::newRow("status-100") << "status 100 1000 100"
                                << "status number 100 is out of range";
    QTest::newRow("status-missing") << "status 100 1000"
                                    << "status takes 3 arguments (2 given)";
    QTest::newRow("status-text") << "status 100 1000 x1"
                                 << "status number 'x1' is not a number";
    QTest::newRow("msg-no-ident") << "msg 100"
                                  << "msg takes FLEET IDENT";
    QTest::newRow("msg-short-49") << "msg short 100 1000 " + QString(49, QLatin1Char('x'))
                                  << "the text is 49 bytes; a short message holds at most 48";
    QTest::newRow("msg-4001") << "msg 100 1000 " + QString(4001, QLatin1Char('x'))
                              << "the text is 4001 bytes; a long message holds at most 4000";
    QTest::newRow("msg-bad-escape") << "msg 100 1000 a\\qb"
                                    << "unknown escape '\\q'";
    QTest::newRow("msg-cut-hex") << "msg 100 1000 a\\x4"
                                 << "\\x needs two hex digits";
    QTest::newRow("msg-bad-hex") << "msg 100 1000 \\xg1"
                                 << "\\x needs two hex digits";
    QTest::newRow("msg-lone-backslash") << "msg 100 1000 end\\"
                                        << "lone backslash";
    QTest::newRow("msg-etx") << "msg 100 1000 a\\x03b"
                             << "may not hold STX";
    QTest::newRow("msg-stx") << "msg 100 1000 \\x02"
                             << "may not hold STX";
    QTest::newRow("msg-not-in-codepage")
        << QStringLiteral("msg 100 1000 snow \u2603") << "has no place in code page";
    QTest::newRow("ptt-bad-state") << "ptt 100 1000 maybe"
                                   << "'maybe' is neither on nor off";
    QTest::newRow("ptt-too-few") << "ptt 100 1000"
                                 << "ptt takes 3 arguments (2 given)";
    QTest::newRow("ani-same-station") << "ani start 100 1000 100 1000"
                                      << "use ptt";
    QTest::newRow("ani-bad-kind") << "ani go 100 1000 101 2000"
                                  << "'go' is neither start nor end";
    QTest::newRow("ani-second-fleet") << "ani end 100 1000 400 2000"
                                      << "Fleet 400 is out of range";
    QTest::newRow("raw-empty") << "raw"
                               << "raw takes hex bytes";
    QTest::newRow("raw-odd") << "raw 02 3"
                             << "'3' is not hex bytes";
    QTest::newRow("raw-not-hex") << "raw 02 zz"
                                 << "'zz' is not hex bytes";
    QTest::newRow("raw-prefix") << "raw 0x02"
                                << "'0x02' is not hex bytes";
    QTest::newRow("sleep-missing") << "sleep"
                                   << "sleep takes 1 argument (0 given)";
    QTest::newRow("sleep-negative") << "sleep -1"
                                    << "'-1' is not a number of seconds";
    QTest::newRow("sleep-text") << "sleep soon"
                                << "'soon' is not a number of seconds";
    QTest::newRow("sleep-too-long") << "sleep 100000"
                                    << "more than a day";
    QTest::newRow("wait-two") << "wait 1 2"
                              << "wait takes at most 1 argument";
    QTest::newRow("ack-bad-result") << "ack maybe"
                                    << "'maybe' is not an answer";
    QTest::newRow("ack-bad-letter") << "ack fail X"
                                    << "'X' is neither command letters";
    QTest::newRow("ack-two-amounts") << "ack fail E 2 3"
                                     << "unexpected '3' after '2'";
    QTest::newRow("ack-letters-after-amount") << "ack fail 2 E"
                                              << "unexpected 'E' after '2'";
    QTest::newRow("ack-zero-count") << "ack fail 0"
                                    << "a count must be 1 or more";
    QTest::newRow("ack-success-rate") << "ack success 20%"
                                      << "a rate applies to fail, busy, ng or none";
    QTest::newRow("ack-rate-over-100") << "ack fail 150%"
                                       << "the rate 150% is over 100 %";
    QTest::newRow("ack-delay-missing") << "ack delay"
                                       << "ack delay takes 1 argument";
    QTest::newRow("ack-delay-too-long") << "ack delay 70000"
                                        << "from 0 to 60000";
    QTest::newRow("ack-reset-extra") << "ack reset now"
                                     << "ack reset takes no arguments";
    QTest::newRow("demo-bad") << "demo maybe"
                              << "demo takes on or off";
    QTest::newRow("quit-extra") << "quit now"
                                << "quit takes no arguments";
}

void TestRadioSim::refusals()
{
    QFETCH(QString, line);
    QFETCH(QString, message);
    try {
        ParseCommandLine(line, codec_);
        QFAIL("the line was accepted");
    } catch (const SimCommandError &e) {
        const QString what = QString::fromUtf8(e.what());
        QVERIFY2(what.contains(message), qPrintable(what));
    }
}

void TestRadioSim::otherCommands_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<bool>("on");

    using K = SimCommand::Kind;
    QTest::newRow("empty") << "" << int(K::Nothing) << 0.0 << true;
    QTest::newRow("blanks") << "   \t " << int(K::Nothing) << 0.0 << true;
    QTest::newRow("comment") << "  # call 99 1" << int(K::Nothing) << 0.0 << true;
    QTest::newRow("sleep") << "sleep 1.5" << int(K::Sleep) << 1.5 << true;
    QTest::newRow("sleep-zero") << "sleep 0" << int(K::Sleep) << 0.0 << true;
    QTest::newRow("wait") << "wait" << int(K::Wait) << 0.0 << true;
    QTest::newRow("wait-limited") << "wait 10" << int(K::Wait) << 10.0 << true;
    QTest::newRow("demo") << "demo" << int(K::Demo) << 0.0 << true;
    QTest::newRow("demo-off") << "demo off" << int(K::Demo) << 0.0 << false;
    QTest::newRow("help") << "help" << int(K::Help) << 0.0 << true;
    QTest::newRow("quit") << "quit" << int(K::Quit) << 0.0 << true;
    QTest::newRow("exit") << "EXIT" << int(K::Quit) << 0.0 << true;
}

void TestRadioSim::otherCommands()
{
    QFETCH(QString, line);
    QFETCH(int, kind);
    QFETCH(double, seconds);
    QFETCH(bool, on);
    const SimCommand cmd = ParseCommandLine(line, codec_);
    QCOMPARE(int(cmd.kind), kind);
    QCOMPARE(cmd.seconds, seconds);
    QCOMPARE(cmd.on, on);
    QVERIFY(cmd.frame.isEmpty());
}

void TestRadioSim::ackArguments_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("letters");
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("percent");
    QTest::addColumn<int>("delayMs");

    using K = AckRequest::Kind;
    using R = AckResult;
    QTest::newRow("show") << "ack" << int(K::Show) << int(R::Success) << QByteArray("BDEFGH") << 1 << 0.0
                          << 0;
    QTest::newRow("next-one") << "ack busy" << int(K::Count) << int(R::Busy) << QByteArray("BDEFGH") << 1
                              << 0.0 << 0;
    QTest::newRow("count-letter") << "ack fail E 2" << int(K::Count) << int(R::Fail) << QByteArray("E") << 2
                                  << 0.0 << 0;
    QTest::newRow("always-letters") << "ack NG fgF always" << int(K::Always) << int(R::CommandNG)
                                    << QByteArray("FG") << 1 << 0.0 << 0;
    QTest::newRow("success-always") << "ack ok always" << int(K::Always) << int(R::Success)
                                    << QByteArray("BDEFGH") << 1 << 0.0 << 0;
    QTest::newRow("rate") << "ack none B 12.5%" << int(K::Rate) << int(R::None) << QByteArray("B") << 1
                          << 12.5 << 0;
    QTest::newRow("delay") << "ack delay 250" << int(K::Delay) << int(R::Success) << QByteArray("BDEFGH") << 1
                           << 0.0 << 250;
    QTest::newRow("reset") << "ack reset" << int(K::Reset) << int(R::Success) << QByteArray("BDEFGH") << 1
                           << 0.0 << 0;
}

void TestRadioSim::ackArguments()
{
    QFETCH(QString, line);
    QFETCH(int, kind);
    QFETCH(int, result);
    QFETCH(QByteArray, letters);
    QFETCH(int, count);
    QFETCH(double, percent);
    QFETCH(int, delayMs);
    const SimCommand cmd = ParseCommandLine(line, codec_);
    QCOMPARE(cmd.kind, SimCommand::Kind::Ack);
    QCOMPARE(int(cmd.ack.kind), kind);
    QCOMPARE(int(cmd.ack.result), result);
    QCOMPARE(cmd.ack.letters, letters);
    QCOMPARE(cmd.ack.count, count);
    QCOMPARE(cmd.ack.percent, percent);
    QCOMPARE(cmd.ack.delayMs, delayMs);
}

void TestRadioSim::escapes_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain") << QByteArray("Hello") << "Hello";
    QTest::newRow("crlf") << QByteArray("a\r\nb") << "a\\nb";
    QTest::newRow("lone-cr") << QByteArray("a\rb") << "a\\rb";
    QTest::newRow("lone-lf") << QByteArray("a\nb") << "a\\x0Ab";
    QTest::newRow("tab-backslash") << QByteArray("\t\\") << "\\t\\\\";
    QTest::newRow("nul-and-del") << QByteArray("x\0y\x7F", 4) << "x\\x00y\\x7F";
    QTest::newRow("cp1252") << QByteArray("caf\xE9 \x80") << QStringLiteral("caf\u00e9 \u20ac");
    QTest::newRow("undefined-in-cp1252") << QByteArray("a\x81z") << "a\\x81z";
}

void TestRadioSim::escapes()
{
    QFETCH(QByteArray, wire);
    QFETCH(QString, shown);
    QCOMPARE(EscapeWireText(wire, codec_), shown);
    // What is shown can be typed back and gives the same bytes.
    QCOMPARE(UnescapeText(shown, codec_).toHex(' '), wire.toHex(' '));
}

void TestRadioSim::consoleFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("wellFormed");
    QTest::addColumn<QString>("text");

    QTest::newRow("connect") << Hex("02 42 313030 31303030 03") << true << "B Connect  Fleet 100  Ident 1000";
    QTest::newRow("disconnect") << Hex("02 44 303030 30303030 03") << true
                                << "D Disconnect  Fleet 000  Ident 0000";
    QTest::newRow("status-12") << Hex("02 45 313030 31303030 3132 03") << true
                               << "E Status  Fleet 100  Ident 1000  status 12";
    QTest::newRow("status-5") << Hex("02 45 313030 31303030 35 03") << true
                              << "E Status  Fleet 100  Ident 1000  status 5";
    QTest::newRow("short-message")
        << Hex("02 46 313030 31303030 4869 0D0A 416C6C 03") << true
        << "F Short message  Fleet 100  Ident 1000  text (7 bytes, 2 lines): \"Hi\\nAll\"";
    QTest::newRow("long-message") << QByteArray("\x02G3494999" + QByteArray(49, 'z') + "\x03") << true
                                  << "G Long message  Fleet 349  Ident 4999  text (49 bytes): \"" +
                                         QString(49, QLatin1Char('z')) + "\"";
    QTest::newRow("status-request") << Hex("02 48 313030 31303030 03") << true
                                    << "H Status request  Fleet 100  Ident 1000";
    QTest::newRow("unknown-letter") << Hex("02 5A 313030 31303030 03") << false
                                    << "unknown command 5A: 02 5A 31";
    QTest::newRow("empty") << Hex("02 03") << false << "empty frame";
    QTest::newRow("short-digits") << Hex("02 42 313030 313030 03") << false
                                  << "B Connect without Fleet and Ident";
    QTest::newRow("letters-for-digits")
        << Hex("02 42 313030 3130 4130 03") << false << "B Connect without Fleet and Ident";
    QTest::newRow("fleet-350") << Hex("02 42 333530 31303030 03") << false << "malformed: Fleet out of range";
    QTest::newRow("ident-999") << Hex("02 42 313030 30393939 03") << false << "malformed: Ident out of range";
    QTest::newRow("connect-with-tail")
        << Hex("02 42 313030 31303030 35 03") << false << "malformed: 1 unexpected bytes after Ident: 35";
    QTest::newRow("status-three-digits")
        << Hex("02 45 313030 31303030 313233 03") << false << "status number not 1 or 2 digits";
    QTest::newRow("status-none") << Hex("02 45 313030 31303030 03") << false
                                 << "status number not 1 or 2 digits";
    QTest::newRow("short-over-48") << QByteArray("\x02"
                                                 "F1001000" +
                                                 QByteArray(49, 'x') + "\x03")
                                   << false << "a short message over 48 bytes";
}

void TestRadioSim::consoleFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(bool, wellFormed);
    QFETCH(QString, text);
    const ConsoleCommand cmd = DescribeConsoleFrame(frame, codec_);
    QCOMPARE(cmd.wellFormed, wellFormed);
    if (wellFormed)
        QCOMPARE(cmd.text, text);
    else
        QVERIFY2(cmd.text.contains(text), qPrintable(cmd.text));
}

void TestRadioSim::splitter()
{
    FrameSplitter s;
    // Junk before a frame, a frame cut across two reads, then two frames in one read.
    auto pieces = s.Feed(Hex("78797A 02 42 3130"));
    QCOMPARE(pieces.size(), 1);
    QVERIFY(!pieces.at(0).isFrame);
    QCOMPARE(pieces.at(0).bytes, QByteArray("xyz"));
    QCOMPARE(s.Pending(), 4);
    pieces = s.Feed(Hex("30 31303030 03 02 48 313030 31303030 03 02 30"));
    QCOMPARE(pieces.size(), 2);
    QCOMPARE(pieces.at(0).bytes, Hex("02 42 313030 31303030 03"));
    QCOMPARE(pieces.at(1).bytes, Hex("02 48 313030 31303030 03"));
    QVERIFY(pieces.at(0).isFrame && pieces.at(1).isFrame);
    // A new start byte: the unfinished frame before it is junk.
    pieces = s.Feed(Hex("31 02 44 303030 30303030 03"));
    QCOMPARE(pieces.size(), 2);
    QCOMPARE(pieces.at(0).isFrame, false);
    QCOMPARE(pieces.at(0).bytes, Hex("02 30 31"));
    QCOMPARE(pieces.at(1).bytes, Hex("02 44 303030 30303030 03"));
    // A frame that never ends is dropped at the limit, and the next one is whole.
    pieces = s.Feed('\x02' + QByteArray(FrameSplitter::kMaxFrame - 1, 'a'));
    QCOMPARE(pieces.size(), 1);
    QCOMPARE(pieces.at(0).isFrame, false);
    QCOMPARE(pieces.at(0).bytes.size(), FrameSplitter::kMaxFrame);
    pieces = s.Feed(QByteArray("aaa") + Hex("02 30 03"));
    QCOMPARE(pieces.size(), 2);
    QCOMPARE(pieces.at(1).bytes, Hex("02 30 03"));
    QCOMPARE(s.Pending(), 0);
}

void TestRadioSim::ackPolicyOrder()
{
    AckPolicy policy([] { return 0.5; });
    auto apply = [&](const char *args) {
        policy.Apply(
            ParseAckArguments(QString::fromLatin1(args).split(QLatin1Char(' '), Qt::SkipEmptyParts)));
    };
    auto answers = [&](const char *letters) {
        QString out;
        for (const char *p = letters; *p; ++p) {
            const AckResult r = policy.Next(*p);
            out += r == AckResult::None ? QLatin1Char('-') : QLatin1Char(AckByte(r));
        }
        return out;
    };
    QCOMPARE(answers("BDEFGH"), QStringLiteral("000000"));
    QCOMPARE(policy.Next('Z'), AckResult::CommandNG);
    // Counted requests in the order given, each for its own letters.
    apply("busy E 2");
    apply("fail");
    QCOMPARE(answers("BEBEEB"), QStringLiteral("120200"));
    // A standing answer per letter, under the counted ones.
    apply("none B always");
    apply("ng 1");
    QCOMPARE(answers("BBD"), QStringLiteral("3-0"));
    apply("success B always");
    QCOMPARE(answers("B"), QStringLiteral("0"));
    apply("fail always");
    apply("busy 1");
    apply("reset");
    QCOMPARE(answers("BH"), QStringLiteral("00"));
}

void TestRadioSim::ackPolicyRates()
{
    QList<double> draws;
    AckPolicy policy([&draws] { return draws.takeFirst(); });
    auto rate = [&](AckResult result, double percent, QByteArray letters = "BDEFGH") {
        AckRequest r;
        r.kind = AckRequest::Kind::Rate;
        r.result = result;
        r.percent = percent;
        r.letters = letters;
        policy.Apply(r);
    };
    rate(AckResult::Fail, 20);
    rate(AckResult::Busy, 10);
    rate(AckResult::None, 30, "E");
    // One draw per command: below 20 % Fail, the next 10 % Busy, for E the next 30 % no answer,
    // the rest the standing answer.
    draws = {0.0, 0.1999, 0.2, 0.2999, 0.3, 0.45};
    QCOMPARE(policy.Next('B'), AckResult::Fail);
    QCOMPARE(policy.Next('D'), AckResult::Fail);
    QCOMPARE(policy.Next('F'), AckResult::Busy);
    QCOMPARE(policy.Next('G'), AckResult::Busy);
    QCOMPARE(policy.Next('H'), AckResult::Success);
    QCOMPARE(policy.Next('E'), AckResult::None);
    QVERIFY(draws.isEmpty());
    // Rates over 100 % for a letter are refused and change nothing.
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, rate(AckResult::CommandNG, 50, "EB"));
    draws = {0.65};
    QCOMPARE(policy.Next('B'), AckResult::Success);
    // Counted requests come before the rates and take no draw.
    policy.Apply(ParseAckArguments({QStringLiteral("ng")}));
    QCOMPARE(policy.Next('B'), AckResult::CommandNG);
    QVERIFY(draws.isEmpty());
    // A rate of 0 % removes it.
    rate(AckResult::Fail, 0);
    rate(AckResult::Busy, 0);
    rate(AckResult::None, 0, "E");
    QCOMPARE(policy.Next('E'), AckResult::Success);
    QVERIFY(policy.Describe().contains(QStringLiteral("standing answer")));
}

void TestRadioSim::demoScenario()
{
    const auto &steps = DemoScenario();
    QSet<char> letters;
    bool emergency = false;
    bool multiLine = false;
    for (const auto &step : steps) {
        QVERIFY2(step.delayMs >= 2000 && step.delayMs <= 15000, qPrintable(step.line));
        SimCommand cmd;
        try {
            cmd = ParseCommandLine(step.line, codec_);
        } catch (const SimCommandError &e) {
            QFAIL(qPrintable(step.line + QStringLiteral(": ") + QString::fromUtf8(e.what())));
        }
        if (cmd.kind != SimCommand::Kind::Send)
            continue;
        letters.insert(cmd.frame.at(1));
        if (cmd.frame.at(1) == 'I')
            letters.insert(cmd.frame.mid(3, 7) == cmd.frame.mid(10, 7) ? 'P' : 'A');
        emergency = emergency || (cmd.frame.at(1) == 'E' && cmd.frame.mid(9, 2).toInt() >= 95);
        multiLine = multiLine || cmd.frame.contains("\r\n");
    }
    for (char l : {'B', 'D', 'E', 'F', 'G', 'P', 'A'})
        QVERIFY2(letters.contains(l), &l);
    QVERIFY(emergency);
    QVERIFY(multiLine);
    QVERIFY(DemoScenarioLengthMs() >= 120000 && DemoScenarioLengthMs() <= 300000);
}

namespace {

// The rows of a sample table's SQL script: each "(...)" tuple after VALUES, split at commas.
QList<QStringList> SampleRows(const QString &sqlFile)
{
    QFile file(QStringLiteral(SAMPLE_SQL_DIR "/") + sqlFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString sql = QString::fromUtf8(file.readAll());
    QList<QStringList> rows;
    static const QRegularExpression tuple(
        QStringLiteral(R"(\(\s*('[^']*'|-?\d+)(\s*,\s*('[^']*'|-?\d+))*\s*\))"));
    const qsizetype values = sql.indexOf(QStringLiteral("VALUES"));
    auto it = tuple.globalMatch(sql, values < 0 ? sql.size() : values);
    while (it.hasNext()) {
        QString row = it.next().captured(0);
        row = row.mid(1, row.size() - 2);
        QStringList fields;
        for (const QString &f : row.split(QLatin1Char(',')))
            fields << f.trimmed().remove(QLatin1Char('\''));
        rows << fields;
    }
    return rows;
}

} // namespace

void TestRadioSim::demoMatchesSampleTables()
{
    // The demonstration is played against the sample tables: its statuses have texts there
    // and most of its stations have names, with a few strangers among them.
    QSet<int> statuses;
    for (const QStringList &row : SampleRows(QStringLiteral("Status.sql")))
        statuses.insert(row.at(0).toInt());
    QSet<QByteArray> known;
    for (const QStringList &row : SampleRows(QStringLiteral("User.sql")))
        known.insert(QStringLiteral("%1%2")
                         .arg(row.at(1).toInt(), 3, 10, QLatin1Char('0'))
                         .arg(row.at(2).toInt(), 4, 10, QLatin1Char('0'))
                         .toLatin1());
    QVERIFY(statuses.contains(95));
    QVERIFY(known.contains("1011101"));
    QVERIFY(known.contains("1021203"));

    QSet<QByteArray> namedSeen, unknownSeen;
    for (const auto &step : DemoScenario()) {
        const SimCommand cmd = ParseCommandLine(step.line, codec_);
        if (cmd.kind != SimCommand::Kind::Send)
            continue;
        const char letter = cmd.frame.at(1);
        QList<QByteArray> stations;
        if (letter == 'I')
            stations << cmd.frame.mid(3, 7) << cmd.frame.mid(10, 7);
        else
            stations << cmd.frame.mid(2, 7);
        if (letter == 'E')
            QVERIFY2(statuses.contains(cmd.frame.mid(9, 2).toInt()), qPrintable(step.line));
        for (const QByteArray &s : stations)
            (known.contains(s) ? namedSeen : unknownSeen).insert(s);
    }
    QVERIFY2(namedSeen.size() >= known.size() - 2, qPrintable(QString::number(namedSeen.size())));
    QVERIFY(!unknownSeen.isEmpty());
    QVERIFY(unknownSeen.size() <= 2);
}

void TestRadioSim::programOnPty()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("COM1"));
    QProcess sim;
    sim.setProgram(QStringLiteral(RADIOSIM_PATH));
    sim.setArguments(
        {QStringLiteral("--dir"), dir.path(), QStringLiteral("--ack-delay"), QStringLiteral("20")});
    sim.start();
    QVERIFY(sim.waitForStarted());
    const auto stop = qScopeGuard([&sim] {
        sim.kill();
        sim.waitForFinished();
    });
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 5000);

    int fd = OpenAsConsole(link);
    QVERIFY(fd >= 0);
    QCOMPARE(ioctl(fd, TIOCEXCL), 0); // as the console does
    const QByteArray connect = Hex("02 42 313030 31303030 03");
    QCOMPARE(write(fd, connect.constData(), connect.size()), connect.size());
    QCOMPARE(ReadBytes(fd, 3).toHex(' '), Hex("02 30 03").toHex(' '));

    // A refused command leaves it running; incoming traffic reaches the console.
    sim.write("call 99 1000\ncall 100 1000\nack busy H\n");
    QVERIFY(sim.waitForBytesWritten(5000));
    QCOMPARE(ReadBytes(fd, 10).toHex(' '), CallFrame(100, 1000).toHex(' '));
    QByteArray err;
    QTRY_VERIFY((err += sim.readAllStandardError()).contains("Fleet 99 is out of range"));

    // The console closes and comes back later: the simulator carries on, on a fresh line that
    // does not keep the exclusive flag of the console before (which would refuse a user who is
    // not root).
    const QString firstLine = QFileInfo(link).symLinkTarget();
    close(fd);
    QByteArray out;
    QTRY_VERIFY((out += sim.readAllStandardOutput()).contains("console closed COM1"));
    QTRY_VERIFY(QFileInfo(link).symLinkTarget() != firstLine);
    // A port check opens and closes the line and the console opens it again at once: the
    // line stays the one the link names, so the console is not left on an abandoned line.
    const QString secondLine = QFileInfo(link).symLinkTarget();
    fd = OpenAsConsole(link);
    QVERIFY(fd >= 0);
    close(fd);
    fd = OpenAsConsole(link);
    QTest::qWait(800); // longer than the simulator's pause before it renews a closed line
    QCOMPARE(QFileInfo(link).symLinkTarget(), secondLine);
    QVERIFY(fd >= 0);
    int exclusive = -1;
    QCOMPARE(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    QCOMPARE(exclusive, 0);
    const QByteArray request = Hex("02 48 313030 31303030 03");
    QCOMPARE(write(fd, request.constData(), request.size()), request.size());
    QCOMPARE(ReadBytes(fd, 3).toHex(' '), Hex("02 32 03").toHex(' '));
    close(fd);

    sim.terminate(); // SIGTERM
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestRadioSim::programEndsWithInput()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A stale link from a run that was killed is replaced.
    const QString link = dir.filePath(QStringLiteral("COM3"));
    QVERIFY(QFile::link(QStringLiteral("/dev/pts/does-not-exist"), link));
    QProcess sim;
    sim.setProgram(QStringLiteral(RADIOSIM_PATH));
    sim.setArguments({QStringLiteral("--dir"), dir.path(), QStringLiteral("--port"), QStringLiteral("COM3")});
    sim.start();
    QVERIFY(sim.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).exists(), 5000);
    sim.write("status 100 1000 95\n");
    QVERIFY(sim.waitForBytesWritten(5000));
    sim.closeWriteChannel();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
    const QByteArray out = sim.readAllStandardOutput();
    QVERIFY2(out.contains("not sent: no console has COM3 open"), out.constData());
}

void TestRadioSim::programDeliversBeforeEnding()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("COM1"));
    QProcess sim;
    sim.setProgram(QStringLiteral(RADIOSIM_PATH));
    sim.setArguments({QStringLiteral("--dir"), dir.path()});
    sim.start();
    QVERIFY(sim.waitForStarted());
    const auto stop = qScopeGuard([&sim] {
        sim.kill();
        sim.waitForFinished();
    });
    // The whole input is there before the console comes: the frame goes out when it opens and
    // the input has ended, yet the console still gets it before the line goes away.
    sim.write("wait\nstatus 100 1000 95\n");
    QVERIFY(sim.waitForBytesWritten(5000));
    sim.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(link).isSymLink(), 5000);
    const int fd = OpenAsConsole(link);
    QVERIFY(fd >= 0);
    QCOMPARE(ReadBytes(fd, 12).toHex(' '), StatusFrame(100, 1000, 95).toHex(' '));
    close(fd);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

// The radio's end served over TCP as a serial server does: frames both ways, one
// connection at a time, and a new connection after the first one went.
void TestRadioSim::programOnTcp()
{
    QProcess sim;
    sim.setProgram(QStringLiteral(RADIOSIM_PATH));
    sim.setArguments(
        {QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--ack-delay"), QStringLiteral("20")});
    sim.start();
    QVERIFY(sim.waitForStarted());
    const auto stop = qScopeGuard([&sim] {
        sim.kill();
        sim.waitForFinished();
    });
    QByteArray out;
    const QRegularExpression listening(QStringLiteral("radio on tcp 127\\.0\\.0\\.1:(\\d+) "));
    QTRY_VERIFY_WITH_TIMEOUT(
        listening.match(QString::fromUtf8(out += sim.readAllStandardOutput())).hasMatch(), 5000);
    const auto port = static_cast<quint16>(listening.match(QString::fromUtf8(out)).captured(1).toUInt());
    QVERIFY(port != 0);

    int fd = ConnectLoopback(port);
    QVERIFY(fd >= 0);
    QTRY_VERIFY((out += sim.readAllStandardOutput()).contains("console opened tcp 127.0.0.1:"));
    const QByteArray connect = Hex("02 42 313030 31303030 03");
    QCOMPARE(write(fd, connect.constData(), connect.size()), connect.size());
    QCOMPARE(ReadBytes(fd, 3).toHex(' '), Hex("02 30 03").toHex(' '));
    sim.write("call 100 1000\n");
    QVERIFY(sim.waitForBytesWritten(5000));
    QCOMPARE(ReadBytes(fd, 10).toHex(' '), CallFrame(100, 1000).toHex(' '));

    // A second connection would split the line's bytes between two consoles: it is closed.
    const int second = ConnectLoopback(port);
    QVERIFY(second >= 0);
    QCOMPARE(ReadBytes(second, 1), QByteArray());
    close(second);
    QByteArray err;
    QTRY_VERIFY((err += sim.readAllStandardError()).contains("refused a connection from 127.0.0.1:"));

    close(fd);
    QTRY_VERIFY((out += sim.readAllStandardOutput()).contains("console closed tcp 127.0.0.1:"));
    fd = ConnectLoopback(port);
    QVERIFY(fd >= 0);
    const QByteArray request = Hex("02 48 313030 31303030 03");
    QCOMPARE(write(fd, request.constData(), request.size()), request.size());
    QCOMPARE(ReadBytes(fd, 3).toHex(' '), Hex("02 30 03").toHex(' '));
    close(fd);

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
}

void TestRadioSim::tcpOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("not loopback") << QStringList{"--tcp", "0", "--tcp-host", "192.168.1.20"} << 1
                                  << "192.168.1.20 is not a loopback address";
    QTest::newRow("any address") << QStringList{"--tcp", "0", "--tcp-host", "0.0.0.0"} << 1
                                 << "0.0.0.0 is not a loopback address";
    QTest::newRow("a name") << QStringList{"--tcp", "0", "--tcp-host", "radio-host"} << 1
                            << "'radio-host' is not an address";
    QTest::newRow("port too big") << QStringList{"--tcp", "65536"} << 2 << "not a port number";
    QTest::newRow("link options") << QStringList{"--tcp", "0", "--port", "COM2"} << 2
                                  << "--port names the pseudo-terminal's link";
    QTest::newRow("host without tcp") << QStringList{"--tcp-host", "::1"} << 2 << "--tcp-host needs --tcp";
}

void TestRadioSim::tcpOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QProcess sim;
    sim.start(QStringLiteral(RADIOSIM_PATH), arguments);
    sim.closeWriteChannel();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), exitCode);
    const QString err = QString::fromUtf8(sim.readAllStandardError());
    QVERIFY2(err.contains(message), qPrintable(err));
}

QTEST_GUILESS_MAIN(TestRadioSim)
#include "tst_radiosim.moc"

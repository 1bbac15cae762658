#pragma once

#include "AckPolicy.h"
#include "ConsoleFrame.h"
#include "SimCommand.h"
#include "WireText.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <deque>
#include <optional>
#include <random>

struct SimOptions {
    QString dir = QStringLiteral(".");
    QString port = QStringLiteral("COM1");
    QString script; // empty or "-": standard input
    bool demo = false;
    bool stay = false;
    bool force = false;
    bool hex = false;
    int ackDelayMs = 100;
    QList<AckRequest> ackRequests;
    QByteArray codepage = "CP1252";
    std::optional<quint32> seed;
    // Serve the radio's end on a TCP listener instead of a pseudo-terminal, as a serial
    // server on the radio's machine does; port 0 takes a free one (printed at start).
    std::optional<quint16> tcpPort;
    QString tcpHost = QStringLiteral("127.0.0.1");
};

// The radio's side of the line on a pseudo-terminal (or one TCP connection at a time), run
// by one poll() loop over the signals, the input, the line and the link's open/close notices; every wait is a
// deadline in poll()'s time-out, so the program sleeps when nothing is due.
class RadioSim final {
public:
    explicit RadioSim(SimOptions options);
    ~RadioSim();
    RadioSim(const RadioSim &) = delete;
    RadioSim &operator=(const RadioSim &) = delete;

    // Returns the exit status. Throws std::runtime_error when the line cannot be set up.
    int Run();

private:
    using Clock = std::chrono::steady_clock;
    struct PendingAck {
        Clock::time_point due;
        char byte;
        char letter;
    };

    void OpenLine();
    void OpenListener();
    void AcceptConnection();
    bool Tcp() const { return options_.tcpPort.has_value(); }
    // The line as messages name it: the link's name, or the listener's address.
    QString LineName() const;
    void CreateLink();
    void PointLink();
    void RenewLine();
    void RemoveLink();
    void ReadInput();
    void RunInputLines();
    QString InputName() const;
    void RunLine(const QString &line, const QString &where, bool fromDemo);
    void ReadConsole();
    void ConsoleOpened();
    void ConsoleClosed();
    void Send(const QByteArray &bytes);
    void FlushOutput();
    void RunDue();
    void StartDemo();
    int TimeoutMs() const;
    void Print(const QString &text);
    void Warn(const QString &text);

    SimOptions options_;
    WireCodec codec_;
    std::mt19937 random_;
    AckPolicy policy_;
    FrameSplitter splitter_;

    // The console's end: the pseudo-terminal's master, or the accepted TCP connection.
    int master_ = -1;
    int listener_ = -1;
    QString listenName_;
    int inotify_ = -1;
    int signals_ = -1;
    int input_ = -1;
    QString slaveName_;
    QString linkPath_;
    bool linkCreated_ = false;

    bool consoleOpen_ = false;
    bool watchMaster_ = true;
    QByteArray output_;
    std::deque<PendingAck> acks_;
    std::optional<Clock::time_point> lastSent_;

    QByteArray inputBuffer_;
    qint64 lineNumber_ = 0;
    bool inputEnded_ = false;
    bool discarding_ = false;
    std::optional<Clock::time_point> sleepUntil_;
    bool waiting_ = false;
    std::optional<Clock::time_point> waitUntil_;

    bool demoOn_ = false;
    qsizetype demoIndex_ = 0;
    std::optional<Clock::time_point> demoDue_;
    // A console's open counts once it has lasted this long: the console probes the port
    // (open, close) before it opens it for good.
    std::optional<Clock::time_point> settleUntil_;
    // When the line is renewed after the console closed it, unless it opens again first.
    std::optional<Clock::time_point> renewDue_;

    bool quitting_ = false;
    std::optional<Clock::time_point> quitBy_;
    bool stop_ = false;
};

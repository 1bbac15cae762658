#include "RadioSim.h"

#include "DemoScenario.h"
#include "Frame.h"
#include "SimHelp.h"

#include <QDir>
#include <QFileInfo>
#include <QTime>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qsizetype kMaxOutput = 1 << 20;
constexpr qsizetype kMaxLine = 64 * 1024; // a 4000-byte message written all in \xHH is 16000

constexpr int kDemoLeadInMs = 2000; // time for the console to set up its line before traffic
constexpr int kSettleMs = 300;      // a port check opens and closes the line within this
constexpr int kRenewGraceMs = 500;  // a console that closed the line to reopen it does so within this
// Closing the master throws away what the console has not read yet, so at the end of the input
// the last frames get this long to be read.
constexpr std::chrono::milliseconds kLinger{1000};

[[noreturn]] void SystemError(const QString &what)
{
    throw std::runtime_error(
        QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno))).toStdString());
}

QByteArray Local(const QString &path)
{
    return QFile::encodeName(path);
}

QString ReadLink(const QString &path)
{
    char buffer[4096];
    const ssize_t n = readlink(Local(path).constData(), buffer, sizeof buffer - 1);
    if (n < 0)
        return QString();
    return QFile::decodeName(QByteArray(buffer, n));
}

QString AddressText(const sockaddr_storage &address)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET6) {
        const auto &a6 = reinterpret_cast<const sockaddr_in6 &>(address);
        inet_ntop(AF_INET6, &a6.sin6_addr, text, sizeof text);
        return QStringLiteral("[%1]:%2").arg(QString::fromLatin1(text)).arg(ntohs(a6.sin6_port));
    }
    const auto &a4 = reinterpret_cast<const sockaddr_in &>(address);
    inet_ntop(AF_INET, &a4.sin_addr, text, sizeof text);
    return QStringLiteral("%1:%2").arg(QString::fromLatin1(text)).arg(ntohs(a4.sin_port));
}

} // namespace

RadioSim::RadioSim(SimOptions options)
    : options_(std::move(options)), codec_(options_.codepage),
      random_(options_.seed ? *options_.seed : std::random_device{}()),
      policy_([this] { return std::uniform_real_distribution<double>(0.0, 1.0)(random_); })
{
    for (const auto &request : options_.ackRequests) {
        if (request.kind == AckRequest::Kind::Delay)
            options_.ackDelayMs = request.delayMs;
        policy_.Apply(request);
    }
}

RadioSim::~RadioSim()
{
    RemoveLink();
    for (int fd : {master_, listener_, inotify_, signals_})
        if (fd >= 0)
            close(fd);
    if (input_ > 0)
        close(input_);
}

void RadioSim::OpenLine()
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0)
        SystemError(QStringLiteral("cannot open a pseudo-terminal"));
    if (grantpt(master_) != 0 || unlockpt(master_) != 0)
        SystemError(QStringLiteral("cannot unlock the pseudo-terminal"));
    char name[256];
    if (ptsname_r(master_, name, sizeof name) != 0)
        SystemError(QStringLiteral("cannot name the pseudo-terminal"));
    slaveName_ = QFile::decodeName(name);

    // The radio's line: 9600 bit/s, 8 data bits, no parity, 2 stop bits, no handshake, and
    // completely raw, or the line discipline would take the frame's end byte 0x03 for an
    // interrupt, 0x0D for a line end, 0x11/0x13 for flow control. Settings made through the
    // master apply to the console's side; the console sets its own on top when it opens.
    termios tio{};
    if (tcgetattr(master_, &tio) != 0)
        SystemError(QStringLiteral("cannot read the line settings"));
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                                          IXOFF | IXANY | INPCK | IMAXBEL | IUTF8);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &=
        ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
    for (int c :
         {VINTR, VQUIT, VSUSP, VSTART, VSTOP, VLNEXT, VDISCARD, VREPRINT, VWERASE, VKILL, VERASE, VEOF})
        tio.c_cc[c] = _POSIX_VDISABLE;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(master_, TCSANOW, &tio) != 0)
        SystemError(QStringLiteral("cannot set the line settings"));

    // The console's opening and closing of the line shows here. A closed line makes the master
    // report a hang-up for as long as it stays closed, so the master is watched only while the
    // console has it open; these notices say when to look again.
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0 || inotify_add_watch(inotify_, name, IN_OPEN | IN_CLOSE) < 0)
        SystemError(QStringLiteral("cannot watch %1").arg(slaveName_));
}

QString RadioSim::LineName() const
{
    return Tcp() ? QStringLiteral("tcp ") + listenName_ : options_.port;
}

void RadioSim::OpenListener()
{
    // Loopback only: the simulator has no access control, and whoever connects is the
    // console. A radio really served to other machines is a serial server's job.
    QString host = options_.tcpHost.trimmed();
    if (host == QLatin1String("localhost"))
        host = QStringLiteral("127.0.0.1");
    const QByteArray hostBytes = host.toLatin1();
    sockaddr_storage address{};
    socklen_t length = 0;
    auto &a4 = reinterpret_cast<sockaddr_in &>(address);
    auto &a6 = reinterpret_cast<sockaddr_in6 &>(address);
    if (inet_pton(AF_INET, hostBytes.constData(), &a4.sin_addr) == 1) {
        a4.sin_family = AF_INET;
        a4.sin_port = htons(*options_.tcpPort);
        length = sizeof a4;
        if ((ntohl(a4.sin_addr.s_addr) >> 24) != 127)
            length = 0;
    } else if (inet_pton(AF_INET6, hostBytes.constData(), &a6.sin6_addr) == 1) {
        a6.sin6_family = AF_INET6;
        a6.sin6_port = htons(*options_.tcpPort);
        length = IN6_IS_ADDR_LOOPBACK(&a6.sin6_addr) ? sizeof a6 : 0;
    } else {
        throw std::runtime_error(QStringLiteral("--tcp-host: '%1' is not an address; give 127.0.0.1 or ::1")
                                     .arg(options_.tcpHost)
                                     .toStdString());
    }
    if (length == 0)
        throw std::runtime_error(QStringLiteral("--tcp-host: %1 is not a loopback address; the simulator "
                                                "serves only this machine (127.0.0.1 or ::1)")
                                     .arg(options_.tcpHost)
                                     .toStdString());
    listener_ = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        SystemError(QStringLiteral("cannot open a TCP socket"));
    const int one = 1;
    // A restarted simulator gets its port back at once, without waiting out TIME_WAIT.
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(listener_, reinterpret_cast<const sockaddr *>(&address), length) != 0)
        SystemError(QStringLiteral("cannot listen on %1 port %2").arg(host).arg(*options_.tcpPort));
    if (listen(listener_, 1) != 0)
        SystemError(QStringLiteral("cannot listen on %1 port %2").arg(host).arg(*options_.tcpPort));
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    if (getsockname(listener_, reinterpret_cast<sockaddr *>(&bound), &boundLength) != 0)
        SystemError(QStringLiteral("cannot name the TCP listener"));
    listenName_ = AddressText(bound);
}

void RadioSim::AcceptConnection()
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd =
        accept4(listener_, reinterpret_cast<sockaddr *>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
            Warn(QStringLiteral("accepting a connection failed: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    const QString from = AddressText(peer);
    if (master_ >= 0) {
        // A serial line has two ends; a second console would get half the frames.
        Warn(QStringLiteral("refused a connection from %1: the line is in use").arg(from));
        close(fd);
        return;
    }
    const int one = 1;
    // Frames are small and an acknowledgement is awaited: no waiting to fill a segment.
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    master_ = fd;
    Print(QStringLiteral("connection from %1").arg(from));
    ConsoleOpened();
}

void RadioSim::CreateLink()
{
    const QString port = options_.port;
    if (port.isEmpty() || port.contains(QLatin1Char('/')) || port == QLatin1String(".") ||
        port == QLatin1String(".."))
        throw std::runtime_error(
            QStringLiteral("'%1' is not a port name; use a plain name like COM1").arg(port).toStdString());
    const QFileInfo dirInfo(options_.dir);
    if (!dirInfo.isDir())
        throw std::runtime_error(QStringLiteral("'%1' is not a directory").arg(options_.dir).toStdString());
    linkPath_ = QDir(dirInfo.absoluteFilePath()).filePath(port);

    struct stat st {};
    if (lstat(Local(linkPath_).constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            throw std::runtime_error(
                QStringLiteral("%1 exists and is not a link; it is left alone. Use --port with another name")
                    .arg(linkPath_)
                    .toStdString());
        const QString target = ReadLink(linkPath_);
        struct stat targetStat {};
        const bool dangling = stat(Local(linkPath_).constData(), &targetStat) != 0;
        if (!dangling && !options_.force)
            throw std::runtime_error(
                QStringLiteral("%1 already links to %2; another simulator or a radio may be "
                               "using it. Use --port NAME, or --force to replace the link")
                    .arg(linkPath_, target)
                    .toStdString());
        Print(QStringLiteral("replacing the %1 link %2 -> %3")
                  .arg(dangling ? QStringLiteral("stale") : QStringLiteral("existing"), linkPath_, target));
    }
    PointLink();
    linkCreated_ = true;
}

void RadioSim::PointLink()
{
    // Made under a temporary name and renamed over the old one, so the console never finds the
    // name missing or half made.
    const QFileInfo link(linkPath_);
    const QString temporary =
        link.dir().filePath(QStringLiteral(".%1.radiosim.%2").arg(link.fileName()).arg(getpid()));
    unlink(Local(temporary).constData());
    if (symlink(Local(slaveName_).constData(), Local(temporary).constData()) != 0)
        SystemError(QStringLiteral("cannot create the link %1").arg(linkPath_));
    if (rename(Local(temporary).constData(), Local(linkPath_).constData()) != 0) {
        const int saved = errno;
        unlink(Local(temporary).constData());
        errno = saved;
        SystemError(QStringLiteral("cannot create the link %1").arg(linkPath_));
    }
}

void RadioSim::RenewLine()
{
    // A pseudo-terminal keeps the exclusive-use flag that the console set (TIOCEXCL) after the
    // console closes it, for as long as the master is open, so a console that is not root could
    // never open it again. Each console therefore gets a fresh line: no such flag, no settings
    // and no bytes left from the one before.
    const int oldMaster = master_;
    const int oldNotify = inotify_;
    const QString oldName = slaveName_;
    try {
        OpenLine();
        PointLink();
    } catch (const std::exception &e) {
        if (master_ != oldMaster)
            close(master_);
        if (inotify_ != oldNotify)
            close(inotify_);
        master_ = oldMaster;
        inotify_ = oldNotify;
        slaveName_ = oldName;
        Warn(QStringLiteral("cannot make a fresh line, keeping %1: %2")
                 .arg(oldName, QString::fromUtf8(e.what())));
        tcflush(master_, TCIOFLUSH);
        return;
    }
    close(oldMaster);
    close(oldNotify);
    watchMaster_ = true; // a line never opened reports no hang-up
}

void RadioSim::RemoveLink()
{
    // Only our own link: someone may have replaced it meanwhile.
    if (linkCreated_ && ReadLink(linkPath_) == slaveName_)
        unlink(Local(linkPath_).constData());
    linkCreated_ = false;
}

void RadioSim::Print(const QString &text)
{
    const QByteArray line = (QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")) +
                             QLatin1String("  ") + text + QLatin1Char('\n'))
                                .toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

void RadioSim::Warn(const QString &text)
{
    std::fflush(stdout);
    const QByteArray line = (QStringLiteral("corvalink-radiosim: ") + text + QLatin1Char('\n')).toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
    std::fflush(stderr);
}

void RadioSim::Send(const QByteArray &bytes)
{
    if (output_.size() + bytes.size() > kMaxOutput) {
        Warn(QStringLiteral("the console is not reading; %1 bytes dropped").arg(bytes.size()));
        return;
    }
    output_ += bytes;
    lastSent_ = Clock::now();
    FlushOutput();
}

void RadioSim::FlushOutput()
{
    if (master_ < 0)
        return;
    while (!output_.isEmpty()) {
        const ssize_t n = write(master_, output_.constData(), static_cast<size_t>(output_.size()));
        if (n > 0) {
            output_.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // A connection that went away shows on the next read; EPIPE is that too.
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EIO && errno != EPIPE &&
            errno != ECONNRESET)
            Warn(QStringLiteral("write to the line failed: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return; // the rest goes when the line can take it
    }
}

void RadioSim::ConsoleOpened()
{
    watchMaster_ = true;
    if (consoleOpen_)
        return;
    consoleOpen_ = true;
    renewDue_.reset();
    Print(QStringLiteral("console opened %1").arg(LineName()));
    // Lines held by a wait go once the open has lasted: a port check opens and closes
    // the line at once, and what was sent then would be lost.
    if (waiting_)
        settleUntil_ = Clock::now() + std::chrono::milliseconds(kSettleMs);
    if (demoOn_)
        StartDemo();
}

void RadioSim::ConsoleClosed()
{
    // Nobody has the line open any more.
    watchMaster_ = false;
    const bool wasOpen = consoleOpen_;
    const qsizetype unanswered = static_cast<qsizetype>(acks_.size());
    consoleOpen_ = false;
    acks_.clear();
    output_.clear();
    splitter_ = FrameSplitter();
    demoDue_.reset();
    settleUntil_.reset();
    if (Tcp()) {
        // The next connection is a new line.
        if (master_ >= 0)
            close(master_);
        master_ = -1;
    } else {
        // The console's port check closes the line and opens it again at once; renewing the
        // line in between would leave the console on the old one. Renew only after a pause.
        renewDue_ = Clock::now() + std::chrono::milliseconds(kRenewGraceMs);
    }
    if (wasOpen)
        Print(QStringLiteral("console closed %1%2")
                  .arg(LineName(),
                       unanswered ? QStringLiteral("; %1 answer(s) not sent").arg(unanswered) : QString()));
}

void RadioSim::StartDemo()
{
    demoIndex_ = 0;
    demoDue_ = Clock::now() + std::chrono::milliseconds(kDemoLeadInMs);
    Print(QStringLiteral("demonstration traffic starts (%1 events, %2 s a pass, then again)")
              .arg(DemoScenario().size() - 1)
              .arg(DemoScenarioLengthMs() / 1000));
}

void RadioSim::ReadConsole()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) { // EIO or end: nobody has the line open any more
            ConsoleClosed();
            return;
        }
        if (!consoleOpen_)
            ConsoleOpened();
        const QByteArray bytes(buffer, n);
        for (const auto &piece : splitter_.Feed(bytes)) {
            if (!piece.isFrame) {
                Print(QStringLiteral("console> %1 byte(s) outside a frame, ignored: %2")
                          .arg(piece.bytes.size())
                          .arg(QString::fromLatin1(piece.bytes.toHex(' ').toUpper())));
                continue;
            }
            const ConsoleCommand command = DescribeConsoleFrame(piece.bytes, codec_);
            Print(QStringLiteral("console> ") + command.text);
            if (options_.hex)
                Print(QStringLiteral("          %1")
                          .arg(QString::fromLatin1(piece.bytes.toHex(' ').toUpper())));
            const AckResult result = command.wellFormed ? policy_.Next(command.letter) : AckResult::CommandNG;
            if (result == AckResult::None) {
                Print(QStringLiteral("radio>   (no answer, as asked)"));
                continue;
            }
            acks_.push_back({Clock::now() + std::chrono::milliseconds(options_.ackDelayMs), AckByte(result),
                             command.letter});
        }
    }
}

void RadioSim::ReadInput()
{
    char buffer[4096];
    const ssize_t n = read(input_, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (n <= 0) {
        if (n < 0)
            Warn(QStringLiteral("reading the commands failed: %1")
                     .arg(QString::fromLocal8Bit(std::strerror(errno))));
        inputEnded_ = true;
        if (!inputBuffer_.isEmpty()) // a last line without a line end
            inputBuffer_ += '\n';
    } else if (discarding_) {
        // The rest of an overlong line.
        const QByteArray chunk(buffer, n);
        const qsizetype end = chunk.indexOf('\n');
        if (end >= 0) {
            discarding_ = false;
            inputBuffer_ += chunk.mid(end + 1);
        }
    } else {
        inputBuffer_.append(buffer, n);
        if (!inputBuffer_.contains('\n') && inputBuffer_.size() > kMaxLine) {
            ++lineNumber_;
            Warn(QStringLiteral("%1 %2: longer than %3 bytes (refused)")
                     .arg(InputName())
                     .arg(lineNumber_)
                     .arg(kMaxLine));
            inputBuffer_.clear();
            discarding_ = true;
        }
    }
    RunInputLines();
}

QString RadioSim::InputName() const
{
    return options_.script.isEmpty() || options_.script == QLatin1String("-") ? QStringLiteral("line")
                                                                              : options_.script;
}

void RadioSim::RunInputLines()
{
    const QString where = InputName();
    while (!stop_ && !sleepUntil_ && !waiting_) {
        const qsizetype end = inputBuffer_.indexOf('\n');
        if (end < 0)
            break;
        QByteArray raw = inputBuffer_.left(end);
        inputBuffer_.remove(0, end + 1);
        if (raw.endsWith('\r'))
            raw.chop(1);
        ++lineNumber_;
        RunLine(QString::fromUtf8(raw), QStringLiteral("%1 %2").arg(where).arg(lineNumber_), false);
    }
    if (inputEnded_ && inputBuffer_.isEmpty() && !sleepUntil_ && !waiting_ && !quitting_ && !options_.stay &&
        !demoOn_) {
        quitting_ = true;
        quitBy_ = Clock::now() + std::chrono::milliseconds(options_.ackDelayMs) + 2 * kLinger;
    }
}

void RadioSim::RunLine(const QString &line, const QString &where, bool fromDemo)
{
    SimCommand cmd;
    try {
        cmd = ParseCommandLine(line, codec_);
    } catch (const SimCommandError &e) {
        Warn(QStringLiteral("%1: %2 (refused)").arg(where, QString::fromUtf8(e.what())));
        return;
    }
    switch (cmd.kind) {
    case SimCommand::Kind::Nothing:
        return;
    case SimCommand::Kind::Send:
        if (!consoleOpen_) {
            Print(QStringLiteral("radio>   %1  -- not sent: no console has %2 open")
                      .arg(cmd.summary, LineName()));
            return;
        }
        Print((fromDemo ? QStringLiteral("demo>    ") : QStringLiteral("radio>   ")) + cmd.summary);
        if (options_.hex)
            Print(QStringLiteral("          %1").arg(QString::fromLatin1(cmd.frame.toHex(' ').toUpper())));
        Send(cmd.frame);
        return;
    case SimCommand::Kind::Sleep:
        sleepUntil_ = Clock::now() + std::chrono::microseconds(static_cast<qint64>(cmd.seconds * 1e6));
        return;
    case SimCommand::Kind::Wait:
        if (consoleOpen_)
            return;
        waiting_ = true;
        if (cmd.seconds > 0)
            waitUntil_ = Clock::now() + std::chrono::microseconds(static_cast<qint64>(cmd.seconds * 1e6));
        Print(QStringLiteral("waiting for a console to open %1").arg(LineName()));
        return;
    case SimCommand::Kind::Ack:
        try {
            policy_.Apply(cmd.ack);
        } catch (const std::exception &e) {
            Warn(QStringLiteral("%1: %2 (refused)").arg(where, QString::fromUtf8(e.what())));
            return;
        }
        if (cmd.ack.kind == AckRequest::Kind::Delay)
            options_.ackDelayMs = cmd.ack.delayMs;
        Print(QStringLiteral("answers (after %1 ms):\n%2").arg(options_.ackDelayMs).arg(policy_.Describe()));
        return;
    case SimCommand::Kind::Demo:
        if (cmd.on == demoOn_)
            return;
        demoOn_ = cmd.on;
        if (!demoOn_) {
            demoDue_.reset();
            Print(QStringLiteral("demonstration traffic stopped"));
        } else if (consoleOpen_) {
            StartDemo();
        } else {
            Print(QStringLiteral("demonstration traffic starts when a console opens %1").arg(LineName()));
        }
        return;
    case SimCommand::Kind::Help:
        std::fputs(CommandLanguageHelp().toUtf8().constData(), stdout);
        std::fflush(stdout);
        return;
    case SimCommand::Kind::Quit:
        stop_ = true;
        return;
    }
}

void RadioSim::RunDue()
{
    const auto now = Clock::now();
    while (!acks_.empty() && acks_.front().due <= now) {
        const PendingAck ack = acks_.front();
        acks_.pop_front();
        const AckResult result = ack.byte == '0'   ? AckResult::Success
                                 : ack.byte == '1' ? AckResult::Fail
                                 : ack.byte == '2' ? AckResult::Busy
                                                   : AckResult::CommandNG;
        Print(QStringLiteral("radio>   %1 %2 (answer to %3)")
                  .arg(QString(QLatin1Char(ack.byte)), AckName(result),
                       ack.letter > 0x20 && ack.letter < 0x7F ? QString(QLatin1Char(ack.letter))
                                                              : QStringLiteral("the frame")));
        Send(BuildFrame(QByteArray(1, ack.byte)));
    }
    if (sleepUntil_ && *sleepUntil_ <= now) {
        sleepUntil_.reset();
        RunInputLines();
    }
    if (renewDue_ && *renewDue_ <= now) {
        renewDue_.reset();
        if (!consoleOpen_)
            RenewLine();
    }
    if (waiting_ && settleUntil_ && *settleUntil_ <= now && consoleOpen_) {
        waiting_ = false;
        waitUntil_.reset();
        settleUntil_.reset();
    }
    if (waiting_ && waitUntil_ && *waitUntil_ <= now) {
        waiting_ = false;
        waitUntil_.reset();
        Warn(QStringLiteral("no console opened %1 in time; going on").arg(LineName()));
        RunInputLines();
    }
    // Lines held back by a wait that a console's arrival ended.
    if (!sleepUntil_ && !waiting_ && inputBuffer_.contains('\n'))
        RunInputLines();
    while (demoOn_ && demoDue_ && *demoDue_ <= Clock::now()) {
        const auto &steps = DemoScenario();
        RunLine(steps.at(demoIndex_).line, QStringLiteral("demo step %1").arg(demoIndex_ + 1), true);
        demoIndex_ = (demoIndex_ + 1) % steps.size();
        if (demoDue_)
            *demoDue_ += std::chrono::milliseconds(steps.at(demoIndex_).delayMs);
    }
}

int RadioSim::TimeoutMs() const
{
    std::optional<Clock::time_point> next;
    auto consider = [&next](const std::optional<Clock::time_point> &t) {
        if (t && (!next || *t < *next))
            next = t;
    };
    if (!acks_.empty())
        consider(acks_.front().due);
    consider(sleepUntil_);
    consider(renewDue_);
    if (waiting_) {
        consider(waitUntil_);
        consider(settleUntil_);
    }
    if (demoOn_)
        consider(demoDue_);
    if (quitting_) {
        consider(quitBy_);
        if (lastSent_ && consoleOpen_)
            consider(*lastSent_ + kLinger);
    }
    if (!next)
        return -1;
    const auto left = *next - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    // Rounded up, so the loop never wakes a moment early and spins until the deadline.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

int RadioSim::Run()
{
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &mask, nullptr) != 0)
        SystemError(QStringLiteral("cannot block signals"));
    signals_ = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signals_ < 0)
        SystemError(QStringLiteral("cannot watch signals"));
    std::signal(SIGPIPE, SIG_IGN);

    if (options_.script.isEmpty() || options_.script == QLatin1String("-")) {
        input_ = STDIN_FILENO;
    } else {
        input_ = open(Local(options_.script).constData(), O_RDONLY | O_CLOEXEC);
        if (input_ < 0)
            SystemError(QStringLiteral("cannot open the script %1").arg(options_.script));
    }

    if (Tcp()) {
        OpenListener();
        Print(QStringLiteral("radio on %1 (one connection at a time); answers after %2 ms; type help for the "
                             "commands")
                  .arg(LineName())
                  .arg(options_.ackDelayMs));
    } else {
        OpenLine();
        CreateLink();
        Print(QStringLiteral(
                  "radio on %1 -> %2 (9600 8N2, raw); answers after %3 ms; type help for the commands")
                  .arg(linkPath_, slaveName_)
                  .arg(options_.ackDelayMs));
    }
    if (options_.demo) {
        demoOn_ = true;
        Print(QStringLiteral("demonstration traffic starts when a console opens %1").arg(LineName()));
    }

    while (!stop_) {
        RunDue();
        if (stop_)
            break;
        if (quitting_) {
            const auto now = Clock::now();
            const bool read = !consoleOpen_ || !lastSent_ || now >= *lastSent_ + kLinger;
            if ((acks_.empty() && output_.isEmpty() && read) || now >= *quitBy_)
                break;
        }

        pollfd fds[5];
        nfds_t count = 0;
        fds[count++] = {signals_, POLLIN, 0};
        fds[count++] = {inotify_, POLLIN, 0}; // -1 on TCP: poll() passes over it
        fds[count++] = {listener_, POLLIN, 0};
        const int masterSlot = watchMaster_ && master_ >= 0 ? static_cast<int>(count) : -1;
        if (masterSlot >= 0)
            fds[count++] = {master_, static_cast<short>(POLLIN | (output_.isEmpty() ? 0 : POLLOUT)), 0};
        const bool wantInput = !inputEnded_ && !sleepUntil_ && !waiting_;
        const int inputSlot = wantInput ? static_cast<int>(count) : -1;
        if (wantInput)
            fds[count++] = {input_, POLLIN, 0};

        const int ready = poll(fds, count, TimeoutMs());
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            SystemError(QStringLiteral("poll"));
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
                Print(QStringLiteral("%1: ending")
                          .arg(QString::fromLatin1(sigabbrev_np(static_cast<int>(info.ssi_signo)))));
                break;
            }
        }
        bool opened = false;
        if (fds[1].revents & POLLIN) {
            alignas(inotify_event) char events[4096];
            ssize_t n;
            while ((n = read(inotify_, events, sizeof events)) > 0) {
                for (char *p = events; p < events + n;) {
                    const auto *e = reinterpret_cast<const inotify_event *>(p);
                    opened = opened || (e->mask & IN_OPEN);
                    p += sizeof(inotify_event) + e->len;
                }
            }
            // Any notice: look at the master again; a hang-up there tells that all closed.
            watchMaster_ = true;
            if (opened)
                ConsoleOpened();
        }
        if (fds[2].revents & POLLIN)
            AcceptConnection();
        if (masterSlot >= 0 && fds[masterSlot].fd == master_) {
            const short revents = fds[masterSlot].revents;
            if (revents & POLLIN)
                ReadConsole();
            if ((revents & POLLOUT) && consoleOpen_)
                FlushOutput();
            // After a fresh open the hang-up may be from before it; the next poll tells.
            if ((revents & (POLLHUP | POLLERR)) && !(revents & POLLIN) && !opened)
                ConsoleClosed();
        }
        if (inputSlot >= 0 && (fds[inputSlot].revents & (POLLIN | POLLHUP | POLLERR)))
            ReadInput();
    }
    RemoveLink();
    return 0;
}

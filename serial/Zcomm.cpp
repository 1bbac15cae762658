#include "Zcomm.h"

#include "LineSpeed.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

const char *const NotStarted = "Have not started communications";
const char *const OpenFailed = "CommOpen Error,invalid HANDLE:0xFFFFFFFF";
const char *const ReadError = "Communication Read Error  ErrorMask=%d";
const char *const WriteError = "Communication Write Error  ErrorMask=%d";

constexpr uint8_t XonChar = 0x11;
constexpr uint8_t XoffChar = 0x13;

// Line time-outs: 1000 ms between two received bytes; 5 ms per byte plus 1000 ms in all.
constexpr milliseconds ReadInterval{1000};
constexpr int64_t TotalPerByteMs = 5;
constexpr int64_t TotalConstantMs = 1000;

constexpr unsigned BitRates[] = {600,   1200,  2400,  4800,  9600,   14400,
                                 19200, 38400, 56000, 57600, 115200, 128000};

Clock::time_point TotalDeadline(uint32_t count)
{
    return Clock::now() + milliseconds(TotalPerByteMs * int64_t(count) + TotalConstantMs);
}

int PollTimeout(Clock::time_point deadline)
{
    auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<int64_t>(left, 0, 1 << 30));
}

} // namespace

TReadThread::TReadThread(TZComm *owner, int handle) : Handle(handle), Owner(owner)
{
    WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (WakeFd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    Thread = std::thread([this] { Run(); });
}

TReadThread::~TReadThread()
{
    if (Thread.joinable())
        Thread.join();
    if (WakeFd >= 0)
        close(WakeFd);
}

void TReadThread::Terminate()
{
    Terminated = true;
    // The counter is never drained, so every later poll sees it too.
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(WakeFd, &one, sizeof one);
}

void TReadThread::WaitFor()
{
    if (Thread.joinable() && !IsCurrentThread())
        Thread.join();
}

void TReadThread::FreeOnTerminate()
{
    FreeOnEnd = true;
    Thread.detach();
}

void TReadThread::Run()
{
    RunningId = std::this_thread::get_id();
    Execute();
    if (FreeOnEnd)
        delete this;
}

void TReadThread::Execute()
{
    bool watching = true;
    uint8_t chunk[4096];
    while (!Terminated) {
        pollfd fds[2] = {{WakeFd, POLLIN, 0}, {watching ? Handle : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            // Nothing sensible is left to wait on; stop rather than spin.
            return;
        }
        if (Terminated)
            break;
        if (!watching)
            continue;

        bool gotData = false;
        bool lost = false;
        // Take everything there is before looking at a hang-up: bytes that came
        // before the other side went away are still the radio's. With VMIN = 0
        // a read of an empty queue returns 0, not EAGAIN.
        while (!Terminated) {
            // No more than the receive queue has room for, and the event raised
            // after each read: the handler drains the queue before more is taken,
            // and what does not fit yet waits in the device (holding a fast sender
            // back) instead of being dropped as an overrun. A full queue that no
            // event drains still takes the bytes, and loses them, rather than
            // leave the device readable and spin.
            const size_t room = Owner->InQueueRoom();
            const size_t want = room > 0 ? std::min(room, sizeof chunk) : sizeof chunk;
            ssize_t n = read(Handle, chunk, want);
            if (n > 0) {
                Owner->Received(chunk, size_t(n));
                gotData = true;
                try {
                    Owner->CreateCommEvent();
                } catch (...) {
                    Owner->ReportError(std::current_exception());
                }
                // Less than asked for: the device is empty. A line that delivers
                // byte by byte would otherwise cost a second read (of nothing) for
                // every byte; a hang-up still shows in the next poll.
                if (size_t(n) < want)
                    break;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                lost = true; // EIO: the device or the other side has gone
            break;
        }
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
            lost = true;
        // Readable but nothing to read would wake poll again at once: a device
        // in that state is as good as gone, and watching it would spin.
        if ((fds[1].revents & POLLIN) && !gotData)
            lost = true;

        if (lost && !Terminated) {
            watching = false;
            Owner->DeviceLost();
        }
    }
}

TZComm::TZComm(QObject *owner) : QObject(owner) {}

TZComm::~TZComm()
{
    CloseCommport();
}

void TZComm::SetCommPort(TCommPort value)
{
    if (value == FCommPort)
        return;
    FCommPort = value;
    FDeviceName = QStringLiteral("COM%1").arg(int(value) + 1);
}

void TZComm::SetBaudRate(TBaudRate value)
{
    FBaudRate = value;
    ApplyBaudRate();
}

void TZComm::SetParity(TParity value)
{
    FParity = value;
    ApplyParity();
}

void TZComm::SetByteSize(TByteSize value)
{
    FByteSize = value;
    ApplyByteSize();
}

void TZComm::SetStopBits(TStopBits value)
{
    FStopBits = value;
    ApplyStopBits();
}

void TZComm::SetFlowControl(TFlowControl value)
{
    FFlowControl = value;
    ApplyFlowControl();
}

void TZComm::SetEventType(TEventType value)
{
    FEventType = value;
}

void TZComm::SetInBuffSize(uint32_t value)
{
    FInBuffSize = value;
}

void TZComm::SetOutBuffSize(uint32_t value)
{
    FOutBuffSize = value;
}

void TZComm::SetRxThreshold(uint32_t value)
{
    FRxThreshold = value;
}

void TZComm::SetXonSendSize(uint16_t value)
{
    FRxStartSize = value;
}

void TZComm::SetXoffSendSize(uint16_t value)
{
    FRxStopSize = value;
}

void TZComm::SetEventChar(uint16_t value)
{
    // Linux has no driver event character: the reader thread compares each byte
    // with the current value, so a change counts from the next byte on.
    FEventChar = value;
}

void TZComm::SetErrorReport(TErrorReport routine)
{
    std::lock_guard guard(FReportLock);
    FErrorReport = std::move(routine);
}

void TZComm::SetOutQueueProbe(TOutQueueProbe probe)
{
    std::lock_guard guard(FWriteLock);
    FOutQueueProbe = std::move(probe);
}

void TZComm::SetLineTap(ILineTap *tap)
{
    std::lock_guard guard(FLock);
    FTap = tap;
}

void TZComm::ReportError(std::exception_ptr error)
{
    TErrorReport routine;
    {
        std::lock_guard guard(FReportLock);
        routine = FErrorReport;
    }
    if (routine) {
        try {
            routine(error);
        } catch (...) {
            // A failing report routine must not take the reader thread down.
        }
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "unknown error on the serial reader thread\n");
    }
}

QString TZComm::ResolveDevicePath(const QString &name)
{
    static const QString comNames[] = {QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                                       QStringLiteral("COM4")};
    for (int i = 0; i < 4; ++i) {
        if (name.compare(comNames[i], Qt::CaseInsensitive) != 0)
            continue;
        // Device names are case-blind, as on the radio's original platform; an
        // entry spelled exactly wins over one in another case.
        const QStringList entries =
            QDir::current().entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        QString found;
        for (const QString &entry : entries) {
            if (entry == comNames[i]) {
                found = entry;
                break;
            }
            if (found.isEmpty() && entry.compare(comNames[i], Qt::CaseInsensitive) == 0)
                found = entry;
        }
        if (!found.isEmpty())
            return QDir::current().filePath(found);
        return QStringLiteral("/dev/ttyS%1").arg(i);
    }
    return name;
}

int TZComm::OpenDevice(const QString &name)
{
    return OpenPath(ResolveDevicePath(name));
}

int TZComm::OpenPath(const QString &devicePath)
{
    const QByteArray path = QFile::encodeName(devicePath);
    int fd = open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    // flock keeps out a second open even by root, in this process or another;
    // TIOCEXCL also keeps out programs that do not lock.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool TZComm::CheckCommportValid(const QString &name)
{
    if (FOpen && name == FDeviceName)
        return true;
    int fd = OpenDevice(name);
    if (fd < 0)
        return false;
    ioctl(fd, TIOCNXCL);
    close(fd);
    return true;
}

void TZComm::OpenCommport()
{
    OpenAt(ResolveDevicePath(FDeviceName));
}

void TZComm::ReopenCommport()
{
    QString path;
    {
        std::lock_guard guard(FLock);
        path = FOpenPath;
    }
    if (path.isEmpty())
        throw ECommError(OpenFailed);
    OpenAt(path);
}

void TZComm::OpenAt(const QString &path)
{
    if (FHandle >= 0)
        return;
    int fd = OpenPath(path);
    if (fd < 0)
        throw ECommError(OpenFailed);
    {
        std::lock_guard guard(FLock);
        FHandle = fd;
        FOpenName = FDeviceName;
        FOpenPath = path;
        FInCapacity = FInBuffSize;
        FClosing = false;
        FGone = false;
    }
    // Settings the device refuses keep its previous ones, without a report
    // (a pseudo-terminal refuses the modem lines).
    ApplyRawMode();
    ApplyBaudRate();
    ApplyParity();
    ApplyByteSize();
    ApplyStopBits();
    ApplyFlowControl();
    ApplyEventChar();
    Purge();
    try {
        auto *thread = new TReadThread(this, fd);
        std::lock_guard guard(FLock);
        FReadThread = thread;
    } catch (...) {
        std::lock_guard guard(FLock);
        FHandle = -1;
        close(fd);
        throw ECommError(OpenFailed);
    }
    std::lock_guard guard(FLock);
    FOpen = true;
    ++FOpenCount;
}

void TZComm::CloseCommport()
{
    if (FHandle < 0)
        return;
    {
        std::lock_guard guard(FLock);
        FClosing = true;
    }
    FArrived.notify_all(); // a read waiting for bytes gives up
    TReadThread *thread;
    {
        std::lock_guard guard(FLock);
        thread = FReadThread;
        FReadThread = nullptr;
    }
    thread->Terminate(); // also ends a write waiting for room
    const bool fromHandler = thread->IsCurrentThread();
    if (fromHandler) {
        // Closed from inside the handler: the thread cannot join itself. It ends
        // when the handler returns and frees itself.
        thread->FreeOnTerminate();
    } else {
        thread->WaitFor();
    }
    // A write on another thread has been woken by the signal above; once it has
    // let go, its wake-up descriptor and the device can be released.
    std::lock_guard writing(FWriteLock);
    if (!fromHandler)
        delete thread;
    int fd;
    {
        std::lock_guard guard(FLock);
        fd = FHandle;
        FHandle = -1;
        FOpen = false;
        FInQueue.clear();
        FCharSeen = false;
        FErrorBits = 0;
    }
    tcflush(fd, TCIOFLUSH);
    ioctl(fd, TIOCNXCL);
    close(fd);
}

bool TZComm::GetPortStatus() const
{
    std::lock_guard guard(FLock);
    return FOpen;
}

int TZComm::Handle() const
{
    std::lock_guard guard(FLock);
    return FHandle;
}

void TZComm::ApplyRawMode()
{
    termios line{};
    if (tcgetattr(FHandle, &line) != 0)
        return;
    // Nothing may interpret the radio's bytes: ETX (0x03) would be an interrupt,
    // 0x11/0x13 flow control, CR a newline.
    line.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                              IXON | IXOFF | IXANY | IMAXBEL | IUCLC);
    line.c_oflag &= ~tcflag_t(OPOST);
    line.c_lflag &= ~tcflag_t(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | ECHOPRT | ISIG |
                              IEXTEN | NOFLSH | TOSTOP);
    line.c_cflag &= ~tcflag_t(HUPCL);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    tcsetattr(FHandle, TCSANOW, &line);
}

void TZComm::ApplyBaudRate()
{
    if (FHandle < 0 || size_t(FBaudRate) >= std::size(BitRates))
        return;
    SetLineSpeed(FHandle, BitRates[size_t(FBaudRate)]);
}

void TZComm::ApplyParity()
{
    termios line{};
    if (FHandle < 0 || FParity > TParity::Space || tcgetattr(FHandle, &line) != 0)
        return;
    line.c_cflag &= ~tcflag_t(PARENB | PARODD | CMSPAR);
    switch (FParity) {
    case TParity::None:
        break;
    case TParity::Odd:
        line.c_cflag |= PARENB | PARODD;
        break;
    case TParity::Even:
        line.c_cflag |= PARENB;
        break;
    case TParity::Mark:
        line.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case TParity::Space:
        line.c_cflag |= PARENB | CMSPAR;
        break;
    }
    tcsetattr(FHandle, TCSANOW, &line);
}

void TZComm::ApplyByteSize()
{
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    termios line{};
    if (FHandle < 0 || size_t(FByteSize) >= std::size(sizes) || tcgetattr(FHandle, &line) != 0)
        return;
    line.c_cflag = (line.c_cflag & ~tcflag_t(CSIZE)) | sizes[size_t(FByteSize)];
    tcsetattr(FHandle, TCSANOW, &line);
}

void TZComm::ApplyStopBits()
{
    termios line{};
    if (FHandle < 0 || FStopBits > TStopBits::_2bit || tcgetattr(FHandle, &line) != 0)
        return;
    // termios knows one or two stop bits; one and a half (used with 5 data bits)
    // is what UARTs send for CSTOPB with 5-bit characters.
    if (FStopBits == TStopBits::_1bit)
        line.c_cflag &= ~tcflag_t(CSTOPB);
    else
        line.c_cflag |= CSTOPB;
    tcsetattr(FHandle, TCSANOW, &line);
}

void TZComm::ApplyFlowControl()
{
    termios line{};
    if (FHandle < 0 || FFlowControl > TFlowControl::RtsCts || tcgetattr(FHandle, &line) != 0)
        return;
    line.c_cflag &= ~tcflag_t(CRTSCTS);
    line.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY);
    if (FFlowControl == TFlowControl::RtsCts)
        line.c_cflag |= CRTSCTS;
    if (FFlowControl == TFlowControl::XonXoff)
        line.c_iflag |= IXON | IXOFF;
    line.c_cc[VSTART] = XonChar;
    line.c_cc[VSTOP] = XoffChar;
    tcsetattr(FHandle, TCSANOW, &line);

    // RTS is held on unless the handshake owns it; DTR likewise, but Linux has
    // no DTR/DSR handshake, so DTR stays on in every mode.
    int lines = TIOCM_DTR;
    if (FFlowControl != TFlowControl::RtsCts)
        lines |= TIOCM_RTS;
    ioctl(FHandle, TIOCMBIS, &lines);
}

void TZComm::ApplyEventChar()
{
    // Applied by the reader thread byte by byte; nothing to tell the device.
}

void TZComm::Purge()
{
    if (FHandle >= 0)
        tcflush(FHandle, TCIOFLUSH);
    std::lock_guard guard(FLock);
    FInQueue.clear();
    FCharSeen = false;
}

void TZComm::Received(const uint8_t *data, size_t size)
{
    const uint8_t eventChar = uint8_t(FEventChar.load() & 0xFF);
    {
        std::lock_guard guard(FLock);
        for (size_t i = 0; i < size; ++i) {
            // Seen even when the queue is full: the handler must still be woken
            // to drain it, or the queue would stay full for good.
            if (data[i] == eventChar)
                FCharSeen = true;
            if (FInQueue.size() < FInCapacity)
                FInQueue.push_back(data[i]);
            else
                FErrorBits |= 2; // overrun: the newest bytes are lost
        }
        FLastArrival = Clock::now();
        if (ILineTap *tap = FTap.load(std::memory_order_relaxed))
            tap->Received(data, size);
    }
    FArrived.notify_all();
}

size_t TZComm::InQueueRoom() const
{
    std::lock_guard guard(FLock);
    return FInQueue.size() < FInCapacity ? FInCapacity - FInQueue.size() : 0;
}

void TZComm::DeviceLost()
{
    QString name;
    {
        std::lock_guard guard(FLock);
        FGone = true;
        name = FOpenName;
    }
    FArrived.notify_all();
    ReportError(std::make_exception_ptr(
        ECommError(QStringLiteral("Communication lost: %1 disconnected").arg(name).toStdString())));
    emit Lost();
}

bool TZComm::IsLost() const
{
    std::lock_guard guard(FLock);
    return FOpen && FGone;
}

bool TZComm::DeviceBack() const
{
    QString name, path;
    {
        std::lock_guard guard(FLock);
        if (!FGone)
            return false;
        name = FOpenName;
        path = FOpenPath;
    }
    // Only the device the port was opened on counts: with its COMn entry gone the
    // name would lead to /dev/ttySn, another port and maybe another radio.
    if (ResolveDevicePath(name) != path)
        return false;
    // A USB adapter plugged back in is a new device node; a radio's new
    // pseudo-terminal is a new link target. The dead descriptor still held does
    // not lock either of them.
    const int fd = OpenPath(path);
    if (fd < 0)
        return false;
    ioctl(fd, TIOCNXCL);
    close(fd);
    return true;
}

uint32_t TZComm::TakeErrorBits()
{
    uint32_t bits = FErrorBits;
    FErrorBits = 0;
    return bits;
}

void TZComm::CreateCommEvent()
{
    uint32_t size = 0;
    {
        std::lock_guard guard(FLock);
        if (FHandle < 0 || FClosing)
            return;
        size = uint32_t(FInQueue.size());
        const bool charSeen = FCharSeen;
        FCharSeen = false;
        if (size == 0)
            return;
        switch (FEventType.load()) {
        case TEventType::RxEvent:
            if (size < FRxThreshold)
                return;
            break;
        case TEventType::CharEvent:
            // A full queue raises the event too: bytes with no event character
            // (a frame whose end was lost, noise) longer than the queue would
            // otherwise sit there with nothing to drain them, and everything
            // after them, good frames included, would be lost as an overrun.
            if (!charSeen && size < FInCapacity)
                return;
            break;
        default:
            return;
        }
    }
    if (OnCommEvent)
        OnCommEvent(this, size);
}

void TZComm::ReadData(void *buffer, uint32_t count)
{
    std::unique_lock lock(FLock);
    if (FHandle < 0 || FClosing)
        throw ECommError(NotStarted);
    const auto start = Clock::now();
    const auto total = TotalDeadline(count);
    // All or nothing: on a time-out the bytes that did come stay queued for the
    // next read instead of being handed out as if the read had succeeded.
    while (FInQueue.size() < count) {
        if (FClosing || FHandle < 0)
            throw ECommError(NotStarted);
        if (FGone)
            throw ECommError(ReadError, int(TakeErrorBits()));
        auto deadline = total;
        if (FLastArrival > start)
            deadline = std::min(deadline, FLastArrival + ReadInterval);
        if (Clock::now() >= deadline)
            throw ECommError("Read data Timeout");
        FArrived.wait_until(lock, deadline);
    }
    auto *out = static_cast<uint8_t *>(buffer);
    std::copy_n(FInQueue.begin(), count, out);
    FInQueue.erase(FInQueue.begin(), FInQueue.begin() + count);
}

QByteArray TZComm::ReadStringData(uint32_t count)
{
    QByteArray bytes(qsizetype(count), '\0');
    ReadData(bytes.data(), count);
    bytes.replace('\0', QByteArray());
    return bytes;
}

void TZComm::WriteData(const void *buffer, uint32_t count)
{
    std::lock_guard writing(FWriteLock);
    int fd;
    int wakeFd;
    {
        std::lock_guard guard(FLock);
        if (FHandle < 0 || FClosing || !FReadThread)
            throw ECommError(NotStarted);
        if (FGone)
            throw ECommError(WriteError, int(TakeErrorBits()));
        fd = FHandle;
        wakeFd = FReadThread->WakeHandle();
    }
    int queued = FOutQueueProbe ? FOutQueueProbe(fd) : -1;
    if (!FOutQueueProbe && ioctl(fd, TIOCOUTQ, &queued) != 0)
        queued = 0;
    const uint32_t size = FOutBuffSize;
    const uint32_t waiting = queued > 0 ? uint32_t(queued) : 0;
    // Strictly smaller than the free room; a queue fuller than OutBuffSize has no room.
    const uint32_t room = waiting >= size ? 0 : size - waiting;
    if (room <= count)
        throw ECommError("Too much write data");

    const auto deadline = TotalDeadline(count);
    const auto *data = static_cast<const uint8_t *>(buffer);
    uint32_t sent = 0;
    while (sent < count) {
        ssize_t n = write(fd, data + sent, count - sent);
        if (n > 0) {
            // Without a tap this costs one load; the lock keeps a tap being removed alive.
            if (FTap.load(std::memory_order_relaxed)) {
                std::lock_guard guard(FLock);
                if (ILineTap *tap = FTap.load(std::memory_order_relaxed))
                    tap->Sent(data + sent, size_t(n));
            }
            sent += uint32_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
            int ready = poll(fds, 2, PollTimeout(deadline));
            if (ready < 0 && errno != EINTR)
                break;
            if (fds[1].revents & POLLIN)
                throw ECommError(NotStarted);
            if (ready == 0 && Clock::now() >= deadline)
                throw ECommError("Write data Timeout");
            continue;
        }
        break;
    }
    if (sent < count) {
        std::lock_guard guard(FLock);
        throw ECommError(WriteError, int(TakeErrorBits()));
    }
}

void TZComm::WriteStringData(const QByteArray &text)
{
    WriteData(text.constData(), uint32_t(text.size()));
}

void TZComm::WriteStop()
{
    if (FHandle >= 0)
        ioctl(FHandle, TIOCSBRK);
}

void TZComm::WriteRestart()
{
    if (FHandle >= 0)
        ioctl(FHandle, TIOCCBRK);
}

void TZComm::ClearInBuff()
{
    if (FHandle < 0)
        return;
    tcflush(FHandle, TCIFLUSH);
    std::lock_guard guard(FLock);
    FInQueue.clear();
    FCharSeen = false;
}

void TZComm::ClearOutBuff()
{
    if (FHandle >= 0)
        tcflush(FHandle, TCOFLUSH);
}

int TZComm::CountInBuff()
{
    std::lock_guard guard(FLock);
    if (FHandle < 0)
        return -1;
    FErrorBits = 0; // fetching the status clears the error state, as the driver does
    return int(FInQueue.size());
}

int TZComm::CountOutBuff()
{
    std::lock_guard writing(FWriteLock);
    int fd = Handle();
    if (fd < 0)
        return -1;
    {
        std::lock_guard guard(FLock);
        FErrorBits = 0;
    }
    if (FOutQueueProbe)
        return FOutQueueProbe(fd);
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
}

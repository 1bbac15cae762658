#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

// The serial port component: one RS-232 port, opened exclusively, with its own
// receive queue fed by a reader thread that raises OnCommEvent.
//
// "COM1".."COM4" (any letter case) name an entry of that name in the working
// directory (usually a symbolic link to the device), else /dev/ttyS0../dev/ttyS3.

class ECommError : public std::runtime_error {
public:
    explicit ECommError(const std::string &message) : std::runtime_error(message) {}
    explicit ECommError(const char *message) : std::runtime_error(message) {}
    // printf-like: ECommError("Communication Read Error  ErrorMask=%d", bits)
    template <typename A, typename... Args>
    ECommError(const char *format, A first, Args... rest) : std::runtime_error(Format(format, first, rest...))
    {
    }

private:
    template <typename... Args> static std::string Format(const char *format, Args... args)
    {
        char text[512];
        std::snprintf(text, sizeof text, format, args...);
        return text;
    }
};

enum class TCommPort : uint8_t { Com1, Com2, Com3, Com4 };
enum class TBaudRate : uint8_t {
    ____600bps,
    ___1200bps,
    ___2400bps,
    ___4800bps,
    ___9600bps,
    __14400bps,
    __19200bps,
    __38400bps,
    __56000bps,
    __57600bps,
    _115200bps,
    _128000bps
};
enum class TParity : uint8_t { None, Odd, Even, Mark, Space };
enum class TByteSize : uint8_t { _5bit, _6bit, _7bit, _8bit };
enum class TStopBits : uint8_t { _1bit, _1_5bit, _2bit };
enum class TFlowControl : uint8_t { Disable, DtrDsr, XonXoff, RtsCts };
enum class TEventType : uint8_t { RxEvent, CharEvent };

class TZComm;

// Sees every byte the port moves, on the thread that moved it: Received on the
// reader thread, Sent on the writing one. Called with the port's lock held, so it
// must only copy the bytes away, never call back into the port.
class ILineTap {
public:
    virtual ~ILineTap() = default;
    virtual void Received(const uint8_t *data, size_t size) = 0;
    virtual void Sent(const uint8_t *data, size_t size) = 0;
};

// Waits on the device and on a wake-up descriptor; moves what arrives into the
// owner's receive queue and asks the owner to raise its event.
class TReadThread final {
public:
    TReadThread(TZComm *owner, int handle);
    ~TReadThread();
    TReadThread(const TReadThread &) = delete;
    TReadThread &operator=(const TReadThread &) = delete;

    // Sets the stop request and wakes the thread wherever it waits.
    void Terminate();
    // Joins the thread; a handler that is running finishes first.
    void WaitFor();
    // For a stop requested on the thread itself: the object deletes itself when the body returns.
    void FreeOnTerminate();
    bool IsCurrentThread() const { return std::this_thread::get_id() == RunningId.load(); }
    int WakeHandle() const { return WakeFd; }

private:
    void Execute();
    void Run();

    int Handle;
    TZComm *Owner;
    int WakeFd = -1;
    std::atomic<bool> Terminated{false};
    std::atomic<bool> FreeOnEnd{false};
    std::atomic<std::thread::id> RunningId{};
    std::thread Thread;
};

class TZComm : public QObject {
    Q_OBJECT
public:
    // Called on the reader thread; size is the number of bytes waiting (a change to it is ignored).
    using TCommEvent = std::function<void(TZComm *Sender, uint32_t &size)>;
    // Receives failures raised on the reader thread (handler exceptions, a device gone away).
    using TErrorReport = std::function<void(std::exception_ptr error)>;
    // Returns the bytes still queued for output on the device, or -1 when unknown.
    using TOutQueueProbe = std::function<int(int handle)>;

    explicit TZComm(QObject *owner = nullptr);
    ~TZComm() override;

    TCommPort CommPort() const { return FCommPort; }
    TBaudRate BaudRate() const { return FBaudRate; }
    TParity Parity() const { return FParity; }
    TByteSize ByteSize() const { return FByteSize; }
    TStopBits StopBits() const { return FStopBits; }
    TFlowControl FlowControl() const { return FFlowControl; }
    TEventType EventType() const { return FEventType; }
    uint32_t InBuffSize() const { return FInBuffSize; }
    uint32_t OutBuffSize() const { return FOutBuffSize; }
    uint32_t RxThreshold() const { return FRxThreshold; }
    uint16_t RxStartSize() const { return FRxStartSize; }
    uint16_t RxStopSize() const { return FRxStopSize; }
    uint16_t EventChar() const { return FEventChar; }

    virtual void SetCommPort(TCommPort value);
    virtual void SetBaudRate(TBaudRate value);
    virtual void SetParity(TParity value);
    virtual void SetByteSize(TByteSize value);
    virtual void SetStopBits(TStopBits value);
    virtual void SetFlowControl(TFlowControl value);
    virtual void SetEventType(TEventType value);
    virtual void SetInBuffSize(uint32_t value);
    virtual void SetOutBuffSize(uint32_t value);
    virtual void SetRxThreshold(uint32_t value);
    virtual void SetXonSendSize(uint16_t value);
    virtual void SetXoffSendSize(uint16_t value);
    virtual void SetEventChar(uint16_t value);

    // Assign while the port is closed; it is called on the reader thread.
    TCommEvent OnCommEvent;

    // Default: the message is printed on stderr.
    void SetErrorReport(TErrorReport routine);
    // Default: TIOCOUTQ on the device.
    void SetOutQueueProbe(TOutQueueProbe probe);
    // nullptr removes it. Once this returns, the previous tap is no longer called.
    void SetLineTap(ILineTap *tap);

    bool CheckCommportValid(const QString &name);
    void OpenCommport();
    void CloseCommport();
    bool GetPortStatus() const;
    void ReadData(void *buffer, uint32_t count);
    QByteArray ReadStringData(uint32_t count);
    void WriteData(const void *buffer, uint32_t count);
    void WriteStringData(const QByteArray &text);
    void WriteStop();
    void WriteRestart();
    void ClearInBuff();
    void ClearOutBuff();
    int CountInBuff();
    int CountOutBuff();
    void CreateCommEvent();

    // Whether the open port's device went away (the reader reported it lost).
    bool IsLost() const;
    // For a lost port (open, or closed again since): whether the device it was
    // opened on is there again, by the same path, and can be opened. The port is
    // not touched; the caller closes it and calls ReopenCommport.
    bool DeviceBack() const;
    // Opens the port on the path of its last open (never a fallback device).
    void ReopenCommport();

    // The device name in use ("COM1".."COM4") and the descriptor while open (-1 closed).
    QString DeviceName() const { return FDeviceName; }
    int Handle() const;
    // How many times the port has been opened: bytes the device held when it was
    // closed are gone with the close, and a reader of the line can tell when.
    uint64_t OpenCount() const { return FOpenCount.load(); }
    // Where a device name leads on this machine: a working-directory entry or /dev/ttySn.
    static QString ResolveDevicePath(const QString &name);

signals:
    // The open port's device went away. Emitted on the reader thread, once per open.
    void Lost();

private:
    friend class TReadThread;

    static int OpenDevice(const QString &name);
    static int OpenPath(const QString &devicePath);
    void OpenAt(const QString &path);
    void ApplyRawMode();
    void ApplyBaudRate();
    void ApplyParity();
    void ApplyByteSize();
    void ApplyStopBits();
    void ApplyFlowControl();
    void ApplyEventChar();
    void Purge();
    void ReportError(std::exception_ptr error);
    // Reader thread side: bytes arrived; returns whether an event may be due.
    void Received(const uint8_t *data, size_t size);
    // Reader thread side: bytes the receive queue can still take.
    size_t InQueueRoom() const;
    void DeviceLost();
    uint32_t TakeErrorBits();

    TReadThread *FReadThread = nullptr;
    int FHandle = -1;
    QString FDeviceName = QStringLiteral("COM1");
    bool FOpen = false;

    TCommPort FCommPort = TCommPort::Com1;
    TBaudRate FBaudRate = TBaudRate::___9600bps;
    TParity FParity = TParity::None;
    TByteSize FByteSize = TByteSize::_8bit;
    TStopBits FStopBits = TStopBits::_1bit;
    TFlowControl FFlowControl = TFlowControl::Disable;
    std::atomic<uint32_t> FInBuffSize{4096};
    std::atomic<uint32_t> FOutBuffSize{4096};
    std::atomic<uint32_t> FRxThreshold{256};
    std::atomic<uint64_t> FOpenCount{0};
    uint16_t FRxStartSize = 1024;
    uint16_t FRxStopSize = 2048;
    std::atomic<uint16_t> FEventChar{65};
    std::atomic<TEventType> FEventType{TEventType::RxEvent};

    // Receive side, shared between the reader thread and the readers.
    mutable std::mutex FLock;
    std::condition_variable FArrived;
    std::deque<uint8_t> FInQueue;
    size_t FInCapacity = 4096;
    QString FOpenName;       // the name the open port was opened by
    QString FOpenPath;       // and the path it led to then (kept after a close)
    bool FCharSeen = false;  // the event character came since the last event
    bool FClosing = false;   // a close is under way: waits end
    bool FGone = false;      // the device went away
    uint32_t FErrorBits = 0; // 2 = overrun
    std::chrono::steady_clock::time_point FLastArrival{};

    std::atomic<ILineTap *> FTap{nullptr}; // changed under FLock

    std::mutex FWriteLock;
    std::mutex FReportLock;
    TErrorReport FErrorReport;
    TOutQueueProbe FOutQueueProbe;
};

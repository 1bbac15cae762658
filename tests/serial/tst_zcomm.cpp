#include "RadioLine.h"
#include "Zcomm.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Runs the test in a fresh working directory holding COMn links.
struct WorkDir {
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    WorkDir() { QDir::setCurrent(dir.path()); }
    ~WorkDir() { QDir::setCurrent(previous); }
    bool Link(const QString &name, const QString &target) const
    {
        return QFile::link(target, dir.filePath(name));
    }
};

// What the reader thread hands over: handler sizes and reported errors.
struct Recorder {
    std::mutex lock;
    std::vector<uint32_t> sizes;
    QStringList errors;

    void Attach(TZComm &comm)
    {
        comm.OnCommEvent = [this](TZComm *, uint32_t &size) {
            std::lock_guard guard(lock);
            sizes.push_back(size);
        };
        comm.SetErrorReport([this](std::exception_ptr error) {
            std::lock_guard guard(lock);
            try {
                std::rethrow_exception(error);
            } catch (const std::exception &e) {
                errors << QString::fromUtf8(e.what());
            }
        });
    }
    std::vector<uint32_t> Sizes()
    {
        std::lock_guard guard(lock);
        return sizes;
    }
    QStringList Errors()
    {
        std::lock_guard guard(lock);
        return errors;
    }
};

int ThreadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

QString ErrorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const ECommError &e) {
        return QString::fromUtf8(e.what());
    }
    return QStringLiteral("<no error>");
}

QByteArray AllBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

} // namespace

class TstZComm : public QObject {
    Q_OBJECT

private slots:
    void defaults();
    void errorFormat();
    void devicePath_data();
    void devicePath();
    void allBytesBothWays();
    void lineSettings();
    void exclusiveOpen_data();
    void exclusiveOpen();
    void exclusiveAgainstChildProcess();
    void checkCommportValid();
    void openFailures_data();
    void openFailures();
    void closedPort();
    void writeLimit();
    void zeroLengthWrite();
    void readTimeoutKeepsBytes();
    void writeTimeoutAndCloseDuringWrite();
    void eventRule_data();
    void eventRule();
    void framesQueuedDuringHandlerRaiseOneCall();
    void handlerExceptionReportedOnce();
    void closeWhileWaiting();
    void closeWaitsForRunningHandler();
    void closeFromInsideHandler();
    void otherSideCloses();
    void overrunIsReported();
    void readStringDropsZeroBytes();
};

void TstZComm::defaults()
{
    TZComm comm;
    QCOMPARE(comm.CommPort(), TCommPort::Com1);
    QCOMPARE(comm.BaudRate(), TBaudRate::___9600bps);
    QCOMPARE(comm.StopBits(), TStopBits::_1bit);
    QCOMPARE(comm.EventType(), TEventType::RxEvent);
    QCOMPARE(comm.InBuffSize(), 4096u);
    QCOMPARE(comm.RxThreshold(), 256u);
    QCOMPARE(comm.EventChar(), uint16_t(65));
    QCOMPARE(comm.DeviceName(), QStringLiteral("COM1"));
    comm.SetCommPort(TCommPort::Com3);
    QCOMPARE(comm.DeviceName(), QStringLiteral("COM3"));
    QVERIFY(!comm.GetPortStatus());
}

void TstZComm::errorFormat()
{
    QCOMPARE(QString::fromUtf8(ECommError("Communication Read Error  ErrorMask=%d", 10).what()),
             QStringLiteral("Communication Read Error  ErrorMask=10"));
    QCOMPARE(QString::fromUtf8(ECommError("Read data Timeout").what()), QStringLiteral("Read data Timeout"));
}

void TstZComm::devicePath_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // relative to the working directory unless absolute
    QTest::newRow("no entry") << QStringList{} << "COM1"
                              << "/dev/ttyS0";
    QTest::newRow("no entry, lower case") << QStringList{} << "com4"
                                          << "/dev/ttyS3";
    QTest::newRow("entry in another case") << QStringList{"Com2"} << "COM2"
                                           << "Com2";
    QTest::newRow("exact spelling wins") << QStringList{"com3", "COM3"} << "COM3"
                                         << "COM3";
    QTest::newRow("other names are paths") << QStringList{} << "/dev/ttyUSB0"
                                           << "/dev/ttyUSB0";
}

void TstZComm::devicePath()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    WorkDir wd;
    for (const QString &entry : entries)
        QVERIFY(wd.Link(entry, "/dev/null"));
    const QString path = TZComm::ResolveDevicePath(name);
    QCOMPARE(path, expected.startsWith('/') ? expected : QDir::current().filePath(expected));
}

void TstZComm::allBytesBothWays()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    comm.OpenCommport();
    QVERIFY(comm.GetPortStatus());

    const QByteArray all = AllBytes();
    QVERIFY(peer.Write(all));
    QTRY_COMPARE(comm.CountInBuff(), 256);
    QByteArray got(256, '\0');
    comm.ReadData(got.data(), 256);
    QCOMPARE(got, all);
    QCOMPARE(comm.CountInBuff(), 0);

    comm.WriteData(all.constData(), 256);
    QCOMPARE(peer.Receive(256, 2000), all);
}

void TstZComm::lineSettings()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    comm.SetStopBits(TStopBits::_2bit);
    comm.SetBaudRate(TBaudRate::___1200bps); // closed: only stored, applied by the open
    comm.OpenCommport();
    termios line{};
    QCOMPARE(tcgetattr(comm.Handle(), &line), 0);
    // Anything the kernel would act on (0x03 as interrupt, 0x11/0x13, CR) must be off.
    QCOMPARE(line.c_lflag & (ICANON | ISIG | IEXTEN | ECHO | ECHONL), tcflag_t(0));
    QCOMPARE(line.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), tcflag_t(0));
    QCOMPARE(line.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(line.c_cflag & (CSIZE | CSTOPB | PARENB | CLOCAL | CREAD | HUPCL | CRTSCTS),
             tcflag_t(CS8 | CSTOPB | CLOCAL | CREAD));
    QCOMPARE(cfgetospeed(&line), speed_t(B1200));

    // While open each setter reaches the device at once.
    comm.SetBaudRate(TBaudRate::__19200bps);
    comm.SetParity(TParity::Mark);
    comm.SetByteSize(TByteSize::_7bit);
    comm.SetFlowControl(TFlowControl::XonXoff);
    QCOMPARE(tcgetattr(comm.Handle(), &line), 0);
    QCOMPARE(cfgetospeed(&line), speed_t(B19200));
    // A pseudo-terminal forces CS8 and clears PARENB; the rest of the parity stays visible.
    QCOMPARE(line.c_cflag & (PARODD | CMSPAR), tcflag_t(PARODD | CMSPAR));
    QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    QCOMPARE(int(line.c_cc[VSTART]), 0x11);
    QCOMPARE(int(line.c_cc[VSTOP]), 0x13);
    comm.SetFlowControl(TFlowControl::RtsCts);
    QCOMPARE(tcgetattr(comm.Handle(), &line), 0);
    QCOMPARE(line.c_iflag & (IXON | IXOFF), tcflag_t(0));
    QCOMPARE(line.c_cflag & CRTSCTS, tcflag_t(CRTSCTS));
}

void TstZComm::exclusiveOpen_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QString>("second");
    QTest::newRow("same name") << "COM1"
                               << "COM1";
    QTest::newRow("other link to same device") << "COM1"
                                               << "COM2";
    QTest::newRow("lower-case entry") << "COM1"
                                      << "com3";
}

void TstZComm::exclusiveOpen()
{
    QFETCH(QString, holder);
    QFETCH(QString, second);
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    QVERIFY(wd.Link("COM2", peer.SlavePath()));
    QVERIFY(wd.Link("com3", peer.SlavePath()));
    auto port = [](const QString &name) { return TCommPort(name.right(1).toInt() - 1); };

    TZComm first;
    first.SetCommPort(port(holder));
    first.OpenCommport();
    TZComm other;
    other.SetCommPort(port(second));
    QCOMPARE(ErrorOf([&] { other.OpenCommport(); }),
             QStringLiteral("CommOpen Error,invalid HANDLE:0xFFFFFFFF"));
    QVERIFY(!other.GetPortStatus());
    QCOMPARE(other.CountInBuff(), -1);
    QCOMPARE(other.OpenCount(), 0u); // a refused open is no open

    first.CloseCommport();
    other.OpenCommport(); // free again once the holder lets go
    QVERIFY(other.GetPortStatus());
    QCOMPARE(other.OpenCount(), 1u);
    QCOMPARE(first.OpenCount(), 1u);
}

void TstZComm::exclusiveAgainstChildProcess()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm holder;
    holder.OpenCommport();

    pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        // The same link, another spelling and the device's own path must all be refused.
        TZComm comm;
        int failures = 0;
        try {
            comm.OpenCommport();
        } catch (const ECommError &) {
            ++failures;
        }
        failures += comm.CheckCommportValid(QStringLiteral("com1")) ? 0 : 1;
        failures += comm.CheckCommportValid(peer.SlavePath()) ? 0 : 1;
        _exit(failures == 3 ? 0 : 1);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);
}

void TstZComm::checkCommportValid()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    QVERIFY(comm.CheckCommportValid("COM1")); // free: the probe opens and lets go
    QVERIFY(comm.CheckCommportValid("com1"));
    QVERIFY(wd.Link("COM2", "/nonexistent/device"));
    QVERIFY(!comm.CheckCommportValid("COM2"));
    comm.OpenCommport();                       // the probe left nothing behind
    QVERIFY(comm.CheckCommportValid("COM1"));  // its own name, not touched
    QVERIFY(!comm.CheckCommportValid("com1")); // another spelling is probed: in use
    QVERIFY(!comm.CheckCommportValid(peer.SlavePath()));
}

void TstZComm::openFailures_data()
{
    QTest::addColumn<QString>("entry"); // what COM1 in the working directory is
    QTest::newRow("dangling link") << "link:/nonexistent/device";
    QTest::newRow("not a terminal") << "file";
    QTest::newRow("held by a lock") << "locked";
}

void TstZComm::openFailures()
{
    QFETCH(QString, entry);
    TRadioLine peer;
    WorkDir wd;
    int lockFd = -1;
    if (entry.startsWith("link:")) {
        QVERIFY(wd.Link("COM1", entry.mid(5)));
    } else if (entry == "file") {
        QFile file(wd.dir.filePath("COM1"));
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        // Another program that takes the same lock (even as root the lock holds).
        QVERIFY(wd.Link("COM1", peer.SlavePath()));
        lockFd = open(peer.SlavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        QVERIFY(lockFd >= 0);
        QCOMPARE(flock(lockFd, LOCK_EX), 0);
    }
    TZComm comm;
    QCOMPARE(ErrorOf([&] { comm.OpenCommport(); }),
             QStringLiteral("CommOpen Error,invalid HANDLE:0xFFFFFFFF"));
    QVERIFY(!comm.GetPortStatus());
    QCOMPARE(comm.Handle(), -1);
    QVERIFY(!comm.CheckCommportValid("COM1"));
    if (lockFd >= 0)
        close(lockFd);
}

void TstZComm::closedPort()
{
    TZComm comm;
    char byte = 0;
    const QString notStarted = QStringLiteral("Have not started communications");
    QCOMPARE(ErrorOf([&] { comm.ReadData(&byte, 0); }), notStarted);
    QCOMPARE(ErrorOf([&] { comm.ReadData(&byte, 1); }), notStarted);
    QCOMPARE(ErrorOf([&] { comm.WriteData(&byte, 0); }), notStarted);
    QCOMPARE(ErrorOf([&] { comm.WriteStringData("B"); }), notStarted);
    QCOMPARE(comm.CountInBuff(), -1);
    QCOMPARE(comm.CountOutBuff(), -1);
    comm.WriteStop(); // nothing to do, nothing to fail
    comm.ClearInBuff();
    comm.CloseCommport();
    QVERIFY(!comm.GetPortStatus());
}

void TstZComm::writeLimit()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    comm.SetOutQueueProbe([](int) { return 4000; });
    comm.OpenCommport();
    QCOMPARE(comm.CountOutBuff(), 4000);
    const QByteArray data(96, 'x');
    QCOMPARE(ErrorOf([&] { comm.WriteData(data.constData(), 96); }), QStringLiteral("Too much write data"));
    QCOMPARE(peer.Receive(1, 200), QByteArray()); // nothing of the refused write went out
    comm.WriteData(data.constData(), 95);
    QCOMPARE(peer.Receive(95, 2000), QByteArray(95, 'x'));

    // A queue reported fuller than OutBuffSize leaves no room at all.
    comm.SetOutQueueProbe([](int) { return 5000; });
    QCOMPARE(ErrorOf([&] { comm.WriteData(data.constData(), 1); }), QStringLiteral("Too much write data"));
}

void TstZComm::zeroLengthWrite()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    comm.OpenCommport();
    comm.WriteData("", 0);
    comm.WriteStringData("AB");
    QCOMPARE(peer.Receive(2, 2000), QByteArray("AB")); // nothing came before the two bytes
    QCOMPARE(peer.Receive(1, 100), QByteArray());
}

void TstZComm::readTimeoutKeepsBytes()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    comm.OpenCommport();
    QVERIFY(peer.Write("Z"));
    QTRY_COMPARE(comm.CountInBuff(), 1);
    char buffer[2] = {};
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(ErrorOf([&] { comm.ReadData(buffer, 2); }), QStringLiteral("Read data Timeout"));
    const qint64 took = timer.elapsed();
    QVERIFY2(took >= 900 && took < 5000, qPrintable(QString::number(took)));
    QCOMPARE(comm.CountInBuff(), 1); // the byte that came is still there
    comm.ReadData(buffer, 1);
    QCOMPARE(buffer[0], 'Z');
}

void TstZComm::writeTimeoutAndCloseDuringWrite()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    comm.SetOutQueueProbe([](int) { return 0; }); // let the device's own queue fill up
    comm.OpenCommport();
    // Nobody reads the other side: the pseudo-terminal's buffers fill and a write stalls.
    const QByteArray chunk(100, 'w');
    const QString none = ErrorOf([] {});
    QString error = none;
    QElapsedTimer timer;
    for (int i = 0; i < 10000 && error == none; ++i) {
        timer.start();
        error = ErrorOf([&] { comm.WriteData(chunk.constData(), 100); });
    }
    QCOMPARE(error, QStringLiteral("Write data Timeout"));
    QVERIFY2(timer.elapsed() >= 1400 && timer.elapsed() < 6000, qPrintable(QString::number(timer.elapsed())));

    // A write stalled on another thread is ended by the close, not by its time-out.
    std::atomic<bool> done{false};
    QString stalled;
    std::thread writer([&] {
        // The line discipline can make room again a little later: a write that
        // goes through is followed by the next, until one stalls and the close ends it.
        do
            stalled = ErrorOf([&] { comm.WriteData(chunk.constData(), 100); });
        while (stalled == none);
        done = true;
    });
    QTest::qWait(100); // let the writer reach its wait
    timer.start();
    comm.CloseCommport();
    writer.join();
    QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(stalled, QStringLiteral("Have not started communications"));
}

void TstZComm::eventRule_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("threshold");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("calls");
    QTest::addColumn<int>("size");
    QTest::newRow("char: no ETX, nothing") << int(TEventType::CharEvent) << 1
                                           << QByteArray("\x02"
                                                         "B0100")
                                           << 0 << 0;
    QTest::newRow("char: ETX after partial frame") << int(TEventType::CharEvent) << 1
                                                   << QByteArray("\x02"
                                                                 "B01\x02"
                                                                 "B0100\x03")
                                                   << 1 << 11;
    QTest::newRow("char: two frames at once") << int(TEventType::CharEvent) << 1
                                              << QByteArray("\x02"
                                                            "0\x03\x02"
                                                            "1\x03")
                                              << 1 << 6;
    QTest::newRow("char: no ETX, queue full")
        << int(TEventType::CharEvent) << 1 << QByteArray(4096, 'n') << 1 << 4096;
    QTest::newRow("rx: below threshold") << int(TEventType::RxEvent) << 256 << QByteArray(100, 'a') << 0 << 0;
    QTest::newRow("rx: at threshold") << int(TEventType::RxEvent) << 256 << QByteArray(256, 'a') << 1 << 256;
}

void TstZComm::eventRule()
{
    QFETCH(int, type);
    QFETCH(int, threshold);
    QFETCH(QByteArray, sent);
    QFETCH(int, calls);
    QFETCH(int, size);
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    Recorder rec;
    rec.Attach(comm);
    comm.SetEventType(TEventType(type));
    comm.SetEventChar(3);
    comm.SetRxThreshold(uint32_t(threshold));
    comm.OpenCommport();
    QVERIFY(peer.Write(sent));
    QTRY_COMPARE(comm.CountInBuff(), int(sent.size()));
    QTRY_COMPARE(int(rec.Sizes().size()), calls);
    if (calls)
        QCOMPARE(int(rec.Sizes().front()), size);

    // Drain; bytes without the event character (or below the threshold) raise nothing more.
    comm.ClearInBuff();
    QVERIFY(peer.Write("xy"));
    QTRY_COMPARE(comm.CountInBuff(), 2);
    QCOMPARE(int(rec.Sizes().size()), calls);
    QVERIFY(rec.Errors().isEmpty());
}

void TstZComm::framesQueuedDuringHandlerRaiseOneCall()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    // Declared before the port: its close joins the reader, which may still be in
    // the handler using them when a check fails.
    std::mutex lock;
    std::condition_variable cv;
    bool release = false;
    std::vector<uint32_t> sizes;
    TZComm comm;
    comm.SetEventType(TEventType::CharEvent);
    comm.SetEventChar(3);
    comm.OnCommEvent = [&](TZComm *sender, uint32_t &size) {
        std::unique_lock guard(lock);
        sizes.push_back(size);
        cv.notify_all();
        cv.wait(guard, [&] { return release; });
        QByteArray all(int(size), '\0'); // drain like the console's handler
        sender->ReadData(all.data(), size);
    };
    comm.OpenCommport();
    QVERIFY(peer.Write("\x02"
                       "0\x03"));
    {
        std::unique_lock guard(lock);
        QVERIFY(cv.wait_for(guard, 2s, [&] { return sizes.size() == 1; }));
    }
    // Two frames reach the device while the handler still runs.
    QVERIFY(peer.Write("\x02"
                       "1\x03"));
    QVERIFY(peer.Write("\x02"
                       "22\x03"));
    const int fd = comm.Handle();
    auto waiting = [&] {
        int n = -1;
        ioctl(fd, FIONREAD, &n);
        return n;
    };
    auto letGo = [&] {
        std::lock_guard guard(lock);
        release = true;
        cv.notify_all();
    };
    // Let the handler go even when a check below fails, or the close would wait forever.
    std::unique_ptr<void, std::function<void(void *)>> releaseOnExit(&release, [&](void *) { letGo(); });
    QTRY_COMPARE(waiting(), 7);
    letGo();
    // The receive queue is also empty for a moment before the reader takes the
    // waiting bytes: wait for the second call, which comes once they are taken.
    auto calls = [&] {
        std::lock_guard guard(lock);
        return sizes.size();
    };
    QTRY_COMPARE(calls(), std::size_t(2));
    QTRY_COMPARE(comm.CountInBuff(), 0);
    std::lock_guard guard(lock);
    QCOMPARE(waiting(), 0);
    QCOMPARE(sizes, (std::vector<uint32_t>{3, 7}));
}

void TstZComm::handlerExceptionReportedOnce()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    Recorder rec;
    rec.Attach(comm);
    comm.SetEventType(TEventType::CharEvent);
    comm.SetEventChar(3);
    std::atomic<int> calls{0};
    comm.OnCommEvent = [&](TZComm *sender, uint32_t &size) {
        QByteArray all(int(size), '\0');
        sender->ReadData(all.data(), size);
        if (++calls == 1)
            throw ECommError("Read data Timeout");
    };
    comm.OpenCommport();
    QVERIFY(peer.Write("\x02"
                       "0\x03"));
    QTRY_COMPARE(rec.Errors(), QStringList{"Read data Timeout"});
    QVERIFY(peer.Write("\x02"
                       "1\x03"));
    QTRY_COMPARE(calls.load(), 2);
    QCOMPARE(rec.Errors().size(), 1);
}

void TstZComm::closeWhileWaiting()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    const int before = ThreadCount();
    TZComm comm;
    Recorder rec;
    rec.Attach(comm);
    comm.SetRxThreshold(1);
    comm.OpenCommport();
    QCOMPARE(ThreadCount(), before + 1);
    QElapsedTimer timer;
    timer.start();
    comm.CloseCommport();
    QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
    QTRY_COMPARE(ThreadCount(), before); // a joined thread leaves /proc a moment later
    QVERIFY(!comm.GetPortStatus());
    QCOMPARE(comm.Handle(), -1);
    comm.CloseCommport(); // twice: nothing

    comm.OpenCommport();
    QCOMPARE(ThreadCount(), before + 1);
    comm.OpenCommport(); // while open: no second thread
    QCOMPARE(ThreadCount(), before + 1);
    QVERIFY(peer.Write("abc"));
    QTRY_VERIFY(!rec.Sizes().empty());
    QVERIFY(rec.Errors().isEmpty());
}

void TstZComm::closeWaitsForRunningHandler()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    comm.SetRxThreshold(1);
    std::atomic<bool> started{false}, finished{false};
    QString readError;
    comm.OnCommEvent = [&](TZComm *sender, uint32_t &) {
        started = true;
        // A read for more than will come: the close must end it, not its time-out.
        char buffer[64];
        readError = ErrorOf([&] { sender->ReadData(buffer, sizeof buffer); });
        finished = true;
    };
    comm.OpenCommport();
    QVERIFY(peer.Write("a"));
    QTRY_VERIFY(started.load());
    QElapsedTimer timer;
    timer.start();
    comm.CloseCommport();
    QVERIFY(finished.load());
    QVERIFY2(timer.elapsed() < 500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(readError, QStringLiteral("Have not started communications"));
}

void TstZComm::closeFromInsideHandler()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    const int before = ThreadCount();
    TZComm comm;
    comm.SetRxThreshold(1);
    std::atomic<int> calls{0};
    comm.OnCommEvent = [&](TZComm *sender, uint32_t &) {
        ++calls;
        sender->CloseCommport();
    };
    comm.OpenCommport();
    QVERIFY(peer.Write("a"));
    QTRY_VERIFY(!comm.GetPortStatus());
    QTRY_COMPARE(ThreadCount(), before);
    comm.OnCommEvent = [&](TZComm *, uint32_t &) { ++calls; };
    comm.OpenCommport();
    QVERIFY(peer.Write("b"));
    QTRY_COMPARE(calls.load(), 2);
}

void TstZComm::otherSideCloses()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    Recorder rec;
    rec.Attach(comm);
    comm.SetEventType(TEventType::CharEvent);
    comm.SetEventChar(3);
    comm.OpenCommport();
    QVERIFY(peer.Write("\x02"
                       "0"));
    QTRY_COMPARE(comm.CountInBuff(), 2);
    peer.Close();
    QTRY_COMPARE(rec.Errors().size(), 1);
    QCOMPARE(rec.Errors().front(), QStringLiteral("Communication lost: COM1 disconnected"));

    // The thread must now sleep, not spin on the hung-up device.
    const double cpuBefore = ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(1000);
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    qInfo("CPU after hang-up: %.1f ms in %lld ms", cpu * 1000, wall.elapsed());
    QVERIFY2(cpu < 0.3, qPrintable(QString::number(cpu)));
    QCOMPARE(rec.Errors().size(), 1);

    // Bytes that came before the hang-up are still delivered; more fail at once.
    char buffer[4] = {};
    comm.ReadData(buffer, 2);
    QCOMPARE(QByteArray(buffer, 2), QByteArray("\x02"
                                               "0"));
    QVERIFY(ErrorOf([&] { comm.ReadData(buffer, 1); }).startsWith("Communication Read Error  ErrorMask="));
    QVERIFY(ErrorOf([&] { comm.WriteData("x", 1); }).startsWith("Communication Write Error  ErrorMask="));
    const int before = ThreadCount();
    comm.CloseCommport();
    QTRY_COMPARE(ThreadCount(), before - 1);
}

void TstZComm::overrunIsReported()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    Recorder rec;
    rec.Attach(comm);
    comm.SetInBuffSize(16);
    comm.SetEventType(TEventType::CharEvent);
    comm.SetEventChar(3);
    comm.OpenCommport();
    // A full queue wakes the handler (and so does the event character among the
    // dropped bytes), so it gets drained.
    QVERIFY(peer.Write(QByteArray(20, 'a') + "\x03"));
    QTRY_VERIFY(!rec.Sizes().empty());
    for (uint32_t size : rec.Sizes())
        QCOMPARE(size, 16u);
    char buffer[32];
    comm.ReadData(buffer, 16);
    QCOMPARE(QByteArray(buffer, 16), QByteArray(16, 'a'));
    peer.Close();
    QTRY_COMPARE(rec.Errors().size(), 1);
    QCOMPARE(ErrorOf([&] { comm.ReadData(buffer, 1); }),
             QStringLiteral("Communication Read Error  ErrorMask=2"));
}

void TstZComm::readStringDropsZeroBytes()
{
    TRadioLine peer;
    WorkDir wd;
    QVERIFY(wd.Link("COM1", peer.SlavePath()));
    TZComm comm;
    comm.OpenCommport();
    QVERIFY(peer.Write(QByteArray("A\0B", 3)));
    QTRY_COMPARE(comm.CountInBuff(), 3);
    QCOMPARE(comm.ReadStringData(3), QByteArray("AB"));
}

QTEST_GUILESS_MAIN(TstZComm)
#include "tst_zcomm.moc"

// What a wake-up costs on this machine: the floor under the console's receiving
// cost. Two parts:
//  1. A reader of a pseudo-terminal that the radio feeds one byte every 1.146 ms
//     (9600 bit/s, 11 bits a character), frames of 21 bytes ending in ETX, read
//     four ways: poll on the device and a stop descriptor then read (as the port
//     reads), epoll then read, a blocking read (VMIN 1), and the line discipline's
//     canonical mode with ETX as end of line (one wake a frame; the kernel then
//     holds a frame's bytes until its ETX and drops what a line holds beyond 4095).
//  2. An idle Qt event loop woken by a timer, as the clock and each frame wake
//     the console's user-interface thread.
// Prints figures; never fails on a slow machine.
//
// Usage: bench_wake [bytes per reader, default 2016]
#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

enum class TReader { Poll, Epoll, Blocking, Lines };

void MeasureReader(TReader way, const char *name, int bytes)
{
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return;
    }
    termios line{};
    tcgetattr(slave, &line);
    cfmakeraw(&line);
    line.c_cc[VMIN] = way == TReader::Blocking ? 1 : 0;
    line.c_cc[VTIME] = 0;
    if (way == TReader::Lines) {
        line.c_lflag |= ICANON;
        for (cc_t &c : line.c_cc)
            c = _POSIX_VDISABLE;
        line.c_cc[VEOL] = 3;
    }
    tcsetattr(slave, TCSANOW, &line);

    std::atomic<int> got{0};
    int wakes = 0;
    double cpuMs = 0;
    std::thread reader([&] {
        const double start = ThreadCpuMs();
        const int stop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        const int ep = epoll_create1(EPOLL_CLOEXEC);
        epoll_event ev{};
        ev.events = EPOLLIN;
        epoll_ctl(ep, EPOLL_CTL_ADD, slave, &ev);
        epoll_ctl(ep, EPOLL_CTL_ADD, stop, &ev);
        char chunk[4096];
        while (got.load() < bytes) {
            if (way == TReader::Poll || way == TReader::Lines) {
                pollfd fds[2] = {{stop, POLLIN, 0}, {slave, POLLIN, 0}};
                poll(fds, 2, -1);
            } else if (way == TReader::Epoll) {
                epoll_event e{};
                epoll_wait(ep, &e, 1, -1);
            }
            const ssize_t n = read(slave, chunk, sizeof chunk);
            if (n > 0)
                got += int(n);
            ++wakes;
        }
        cpuMs = ThreadCpuMs() - start;
        close(ep);
        close(stop);
    });
    auto next = std::chrono::steady_clock::now();
    for (int i = 0; i < bytes; ++i) {
        const char c = i % 21 == 20 ? '\x03' : i % 21 == 0 ? '\x02' : 'a';
        if (write(master, &c, 1) != 1)
            break;
        next += std::chrono::microseconds(1146);
        std::this_thread::sleep_until(next);
    }
    reader.join();
    close(slave);
    close(master);
    const double perByteUs = cpuMs * 1000.0 / bytes;
    std::printf("  %-34s %5d wakes  %7.1f ms CPU  %6.2f us a byte  %6.3f %% of a core at 9600 bit/s\n", name,
                wakes, cpuMs, perByteUs, perByteUs * 872.7 / 1e4);
}

// Woken by its own timer, or (posted) by another thread, as the port's reader
// wakes it for each frame.
void MeasureLoop(int argc, char **argv, int intervalMs, int wakes, bool posted)
{
    QCoreApplication app(argc, argv);
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(intervalMs);
    int n = 0;
    double start = 0;
    const auto wake = [&] {
        if (n == 0)
            start = ThreadCpuMs(); // start-up is not counted
        if (++n > wakes)
            app.quit();
    };
    std::atomic<bool> done{false};
    std::thread poster;
    if (posted) {
        poster = std::thread([&] {
            auto next = std::chrono::steady_clock::now();
            while (!done.load()) {
                next += std::chrono::milliseconds(intervalMs);
                std::this_thread::sleep_until(next);
                QMetaObject::invokeMethod(&app, wake, Qt::QueuedConnection);
            }
        });
    } else {
        QObject::connect(&timer, &QTimer::timeout, &app, wake);
        timer.start();
    }
    app.exec();
    const double cpuMs = ThreadCpuMs() - start;
    done = true;
    if (poster.joinable())
        poster.join();
    std::printf("  %-30s every %4d ms: %4d wakes, %6.1f ms CPU, %6.1f us a wake\n",
                posted ? "event posted by a thread" : "own timer", intervalMs, wakes, cpuMs,
                cpuMs * 1000.0 / wakes);
}

} // namespace

int main(int argc, char **argv)
{
    const int bytes = argc > 1 ? std::max(210, std::atoi(argv[1]) / 21 * 21) : 2016;
    std::printf("reader of a pseudo-terminal, one byte every 1.146 ms, frames of 21 bytes, %d bytes:\n",
                bytes);
    MeasureReader(TReader::Poll, "poll (device + stop) then read", bytes);
    MeasureReader(TReader::Epoll, "epoll then read", bytes);
    MeasureReader(TReader::Blocking, "blocking read (VMIN 1)", bytes);
    MeasureReader(TReader::Lines, "canonical, ETX ends a line", bytes);
    std::printf("idle Qt event loop (the platform's default dispatcher):\n");
    MeasureLoop(argc, argv, 26, 400, true);
    MeasureLoop(argc, argv, 26, 400, false);
    MeasureLoop(argc, argv, 1000, 10, false);
    return 0;
}

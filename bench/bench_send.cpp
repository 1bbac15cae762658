// CPU time of writing a 4000-byte long message: SendCommand through the serial
// component to a pseudo-terminal whose other side a thread drains, as the radio
// would. Prints figures; never fails on a slow machine.
#include "MemoryTable.h"
#include "PortAdapters.h"
#include "Recorders.h"
#include "ScratchDir.h"
#include "SendCommand.h"
#include "Zcomm.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <poll.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

double CpuSeconds(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

    TScratchDir dir;
    if (const QString error = dir.Prepare(QByteArray(), {1}); !error.isEmpty() || !dir.MakeCurrent()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const int master = dir.Line(1)->Master();

    // The radio's side: reads everything, counting bytes, until told to stop.
    std::atomic<bool> stop{false};
    std::atomic<long long> received{0};
    std::thread drain([&] {
        char buffer[8192];
        while (!stop.load()) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0)
                received += n;
        }
    });

    TZComm comm;
    comm.SetStopBits(TStopBits::_2bit);
    comm.OpenCommport();
    TZCommCommandPort port(&comm);
    TCountingLog log;
    TMemoryTable users = TMemoryTable::Users();
    users.AddRow({"Base", "100", "1000"});
    TCommandContext context{&port, &log, &users, [] { return QStringLiteral("12:00:00"); }};
    TCommandTexts texts;
    texts.message = QString(4000, u'x');
    for (int i = 0; i < 4000; i += 80)
        texts.message[i] = u' ';
    const long long frameBytes = 1 + 8 + 4000 + 1; // STX, G and the station, the text, ETX

    std::vector<double> threadMs, processMs, wallMs;
    for (int r = 0; r < rounds; ++r) {
        // Wait until the previous frame has been read off, so each write starts empty.
        const long long want = frameBytes * r;
        while (received.load() < want)
            std::this_thread::yield();
        timespec w0{}, w1{};
        clock_gettime(CLOCK_MONOTONIC, &w0);
        const double t0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const double p0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        SendCommand(context, 'G', QStringLiteral("100"), QStringLiteral("1000"), texts);
        const double t1 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const double p1 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        clock_gettime(CLOCK_MONOTONIC, &w1);
        threadMs.push_back((t1 - t0) * 1e3);
        processMs.push_back((p1 - p0) * 1e3);
        wallMs.push_back(double(w1.tv_sec - w0.tv_sec) * 1e3 + double(w1.tv_nsec - w0.tv_nsec) / 1e6);
    }
    while (received.load() < frameBytes * rounds)
        std::this_thread::yield();
    comm.CloseCommport();
    stop = true;
    drain.join();

    const auto report = [](const char *what, std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::printf("%-48s median %7.3f ms  max %7.3f ms\n", what, v[v.size() / 2], v.back());
    };
    std::printf("4000-byte long message (frame of %lld bytes), %d writes, %lld bytes read back\n", frameBytes,
                rounds, received.load());
    report("CPU, sending thread (SendCommand)", threadMs);
    report("CPU, whole process (includes the drain thread)", processMs);
    report("wall time of SendCommand", wallMs);
    std::printf("target: < 50 ms CPU\n");
    return 0;
}

// The running console's cost: CPU time of the real program (offscreen, its port
// open on a pseudo-terminal) read from /proc, first at rest, then while the radio
// sends a realistic mix of traffic at the line's full rate (9600 bit/s). Prints
// figures; never fails on a slow machine.
//
// Usage: bench_rest [seconds of each measurement, default 60]
#include "RunningConsole.h"

#include <QCoreApplication>
#include <atomic>
#include <thread>

namespace {

void PrintThreads(const QList<QPair<QString, qint64>> &before, const QList<QPair<QString, qint64>> &after,
                  double seconds)
{
    for (const auto &[name, ns] : after) {
        qint64 was = 0;
        for (const auto &b : before)
            if (b.first == name)
                was = b.second;
        std::printf("    thread %-28s %9.1f ms  %6.3f %% of a core\n", qPrintable(name),
                    double(ns - was) / 1e6, double(ns - was) / 1e7 / seconds);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;

    TConsoleDir dir(0x0000);
    TConsoleProcess console(dir);
    if (!console.WaitForPortOpen())
        TConsoleDir::Fail("the console did not open its port");
    // Start-up is over once the process has been quiet for a while.
    console.WaitIdle(20'000'000);

    std::printf("corvalink-demo, offscreen, COM1 open on a pseudo-terminal, POPUP=0x0000\n");
    {
        const QString load = LoadAverage();
        const auto threads = console.ThreadCpuNs();
        const qint64 before = console.CpuNs();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const qint64 spent = console.CpuNs() - before;
        std::printf("at rest, %d s: %.1f ms CPU = %.3f %% of a core (target < 0.5 %%)   load %s\n", seconds,
                    double(spent) / 1e6, double(spent) / 1e7 / seconds, qPrintable(load));
        PrintThreads(threads, console.ThreadCpuNs(), seconds);
    }
    {
        // About 21 bytes a frame: enough frames for the whole time at the line's rate.
        std::vector<TSentFrame> frames = MakeTrafficMix(int(seconds * 872.7 / 21.0 * 1.2), 5, 400);
        qint64 bytes = 0;
        const QString load = LoadAverage();
        const auto threads = console.ThreadCpuNs();
        const qint64 before = console.CpuNs();
        const auto start = SteadyClock::now();
        std::vector<TSentFrame> part;
        for (const auto &f : frames) {
            if ((bytes += f.bytes.size()) > qint64(seconds * 872.7))
                break;
            part.push_back(f);
        }
        WriteFrames(dir.Line(), part, 9600);
        const double wall = std::chrono::duration<double>(SteadyClock::now() - start).count();
        const qint64 spent = console.CpuNs() - before;
        std::printf(
            "receiving at 9600 bit/s, %.1f s, %zu frames: %.1f ms CPU = %.3f %% of a core   load %s\n", wall,
            part.size(), double(spent) / 1e6, double(spent) / 1e7 / wall, qPrintable(load));
        PrintThreads(threads, console.ThreadCpuNs(), wall);
    }
    return 0;
}

// Start-up and memory of the real program (offscreen, in a scratch directory with
// the sample tables and COM1 on a pseudo-terminal): the time from starting the
// process to the main window's first paint, ten times; then the resident memory
// after start and over a soak of 10,000 incoming frames. Prints figures; never
// fails on a slow machine.
//
// Usage: bench_startup [runs, default 10] [soak frames, default 10000]
#include "RunningConsole.h"

#include <QCoreApplication>
#include <algorithm>
#include <thread>

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : (n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int soak = argc > 2 ? std::max(1000, std::atoi(argv[2])) : 10000;

    // CORVALINK_BENCH_POPUPS: the POPUP value of the settings file (default every popup on).
    bool flagsOk = false;
    const unsigned flags = qEnvironmentVariable("CORVALINK_BENCH_POPUPS").toUInt(&flagsOk, 0);
    const unsigned popupFlags = flagsOk ? flags : 0x001F;
    TConsoleDir dir(popupFlags);
    std::printf(
        "start-up: process start to the main window's first paint (corvalink-demo --benchmark-startup), "
        "offscreen\n");
    std::vector<double> outside, inside;
    const QString startLoad = LoadAverage();
    for (int i = 0; i < runs; ++i) {
        dir.NewLine();
        TConsoleProcess console(dir, {QStringLiteral("--benchmark-startup")});
        QProcess &p = console.Process();
        QByteArray out;
        while (!out.contains('\n') && p.waitForReadyRead(20000))
            out += p.readAllStandardOutput();
        const double ms = double(console.Elapsed()) / 1e6;
        // "main window shown after 123.4 ms": the part after main() began.
        const double own = out.split(' ').value(4).toDouble();
        if (!out.startsWith("main window shown")) {
            std::fprintf(stderr, "unexpected output: %s\n", out.constData());
            return 1;
        }
        p.waitForFinished(10000);
        outside.push_back(ms);
        inside.push_back(own);
        std::printf("  run %2d: %7.1f ms (from main(): %7.1f ms)\n", i + 1, ms, own);
    }
    std::printf(
        "median of %d: %.1f ms (from main(): %.1f ms); min %.1f, max %.1f (target < 500 ms)   load %s\n",
        runs, Median(outside), Median(inside), *std::min_element(outside.begin(), outside.end()),
        *std::max_element(outside.begin(), outside.end()), qPrintable(startLoad));

    std::printf("\nresident memory, POPUP=0x%04X\n", popupFlags);
    dir.NewLine();
    TConsoleProcess console(dir);
    if (!console.WaitForPortOpen())
        TConsoleDir::Fail("the console did not open its port");
    console.WaitIdle(20'000'000);
    const qint64 startKb = console.StatusKb("VmRSS");
    std::printf("  after start:            VmRSS %7.1f MB   load %s\n", double(startKb) / 1024,
                qPrintable(LoadAverage()));

    // The soak: the traffic mix at 115200-bit/s pacing, in steps of a tenth, with
    // the memory read once the console has worked off each step.
    std::vector<TSentFrame> frames = MakeTrafficMix(soak, 11, 400);
    const int step = soak / 10;
    qint64 firstStepKb = 0, lowKb = 0, highKb = 0;
    for (int done = 0; done < soak; done += step) {
        std::vector<TSentFrame> part(frames.begin() + done, frames.begin() + std::min(soak, done + step));
        WriteFrames(dir.Line(), part, 115200);
        console.WaitIdle(20'000'000, 300);
        const qint64 kb = console.StatusKb("VmRSS");
        if (done == 0)
            firstStepKb = lowKb = highKb = kb;
        lowKb = std::min(lowKb, kb);
        highKb = std::max(highKb, kb);
        std::printf("  after %5d frames:     VmRSS %7.1f MB\n", done + int(part.size()), double(kb) / 1024);
        std::fflush(stdout);
    }
    const qint64 endKb = console.StatusKb("VmRSS");
    std::printf("  after the soak:         VmRSS %7.1f MB, VmHWM %.1f MB; change over the soak %+.1f MB "
                "(from the first %d frames %+.1f MB, spread %.1f MB)   load %s\n",
                double(endKb) / 1024, double(console.StatusKb("VmHWM")) / 1024,
                double(endKb - startKb) / 1024, step, double(endKb - firstStepKb) / 1024,
                double(highKb - lowKb) / 1024, qPrintable(LoadAverage()));
    std::printf("targets: < 80 MB, flat within 2 MB over the soak\n");
    return 0;
}

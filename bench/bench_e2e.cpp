// End to end over a pseudo-terminal: the whole console in-process (offscreen),
// its COM1 linked to a pseudo-terminal whose master a writer thread feeds with a
// realistic mix of frames, at 9600-bit/s pacing (11 bits a character), at
// 115200-bit/s pacing, and in back-to-back bursts. Every frame that reaches the
// log is counted, and the time from the frame's last byte written to its entry at
// the top of the log is measured. Prints figures; never fails on a slow machine.
//
// Usage: bench_e2e [--monitor] [--export ROWS] [seconds of wire time for each 9600 run, default 10]
//   --monitor      the line monitor window open (Tools > Line Monitor) during every run
//   --export ROWS  a History window exporting a history of ROWS entries to CSV during
//                  every run, started again whenever it ends
#include "Application.h"
#include "Console.h"
#include "ConsoleHarness.h"
#include "HistoryStore.h"
#include "HistoryWindow.h"
#include "LineMonitor.h"

#include <QAction>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono;

struct TPlan {
    const char *name;
    int bitRate;     // pacing of single bytes; 0 writes each frame at once, back to back
    int frames;      // in all
    int burst;       // frames per burst (back to back only)
    int pauseMs;     // between bursts
    int maxLongText; // longest long message
    unsigned popupFlags;
};

struct TResult {
    int sent = 0;
    int logged = 0;
    int lost = 0;
    int boxes = 0;
    qint64 bytes = 0;
    double wallSeconds = 0;  // first byte written to last entry logged
    double consoleCpuMs = 0; // the process less the writer thread
    double uiCpuMs = 0;      // of that, the user-interface thread
    double p50 = 0, p99 = 0, max = 0;
    double warmUpMax = 0;      // the first sighting of each station, before the run
    int exports = -1;          // exports finished during the run (-1: none running)
    qint64 exportedRows = 0;   // rows they wrote
    qint64 monitorFrames = -1; // frames the line monitor showed coming in (-1: closed)
    double monitorCpuMs = 0, monitorLongestMs = 0;
    int monitorPieces = 0;
};

QString LoadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The user-interface thread's time in the line monitor's own work: its batch
// timer and the painting of its widgets. Each such event is delivered again from
// inside the filter (past this one), so that its whole handling is timed.
class TMonitorCost final : public QObject {
public:
    explicit TMonitorCost(QWidget *window)
    {
        for (QWidget *w : window->findChildren<QWidget *>())
            w->installEventFilter(this);
        window->installEventFilter(this);
        for (QTimer *t : window->findChildren<QTimer *>())
            t->installEventFilter(this);
    }
    std::map<QString, double> byKind; // CPU ms by receiver class and event
    double cpuMs = 0;                 // thread CPU time
    double longestMs = 0;             // the longest single piece, wall clock
    int pieces = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (inside_ || (event->type() != QEvent::Paint && event->type() != QEvent::Timer))
            return false;
        inside_ = true;
        const double cpu = ThreadCpuMs();
        const auto wall = SteadyClock::now();
        QCoreApplication::sendEvent(watched, event); // through the other filters (a scroll area's viewport)
        longestMs =
            std::max(longestMs, std::chrono::duration<double, std::milli>(SteadyClock::now() - wall).count());
        const double used = ThreadCpuMs() - cpu;
        cpuMs += used;
        byKind[QLatin1String(watched->metaObject()->className()) +
               QLatin1String(event->type() == QEvent::Paint ? " paint" : " timer")] += used;
        ++pieces;
        inside_ = false;
        return true;
    }

private:
    bool inside_ = false;
};

// Time the main thread has spent runnable but waiting for a CPU (schedstat's second field).
double RunQueueWaitMs()
{
    QFile file(QStringLiteral("/proc/self/task/%1/schedstat").arg(getpid()));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return double(file.readAll().split(' ').value(1).toLongLong()) / 1e6;
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t i = std::min(values.size() - 1, std::size_t(p * double(values.size() - 1) + 0.5));
    return values[i];
}

// A history of `rows` entries for the export runs, made once and kept in /tmp
// (a million rows take a minute to write).
QString ExportHistory(int rows)
{
    const QString path = QStringLiteral("/tmp/corvalink-bench-e2e-history-%1.db").arg(rows);
    if (QFile::exists(path))
        return path;
    std::fprintf(stderr, "writing %d history rows to %s\n", rows, qPrintable(path));
    THistoryOptions options;
    options.retentionDays = 0;
    options.maxBatch = 20000;
    THistoryStore store(path, {}, options);
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-rows);
    for (int i = 0; i < rows; ++i) {
        TTrafficEvent e;
        e.time = start.addSecs(i);
        e.kind = i % 3 ? TrafficKind::ShortMessage : TrafficKind::Status;
        e.fleet = 101;
        e.ident = 1100 + i % 60;
        e.name = QStringLiteral("Car %1").arg(i % 60);
        e.text = QStringLiteral("message %1 on the way, 10 minutes").arg(i);
        e.frame = e.text.toLatin1();
        store.TrafficEvent(e);
        if (i % 100000 == 99999)
            store.Flush(std::chrono::minutes(5));
    }
    store.Flush(std::chrono::minutes(5));
    return path;
}

TResult Run(const TPlan &plan, unsigned seed, bool monitor, const QString &exportHistory)
{
    TResult r;
    TConsoleHarness console(plan.popupFlags);
    if (!console.Error().isEmpty()) {
        std::fprintf(stderr, "console did not start: %s\n", qPrintable(console.Error()));
        std::exit(1);
    }
    if (monitor) {
        Console->Window()->findChild<QAction *>(QStringLiteral("LineMonitor1"))->trigger();
        if (!LineMonitorForm || !LineMonitorForm->Tapping()) {
            std::fprintf(stderr, "the line monitor did not open\n");
            std::exit(1);
        }
    }
    TBoxRecorder boxes;
    TLogWatch log(console.LogMemo());
    std::vector<TSentFrame> frames = MakeTrafficMix(plan.frames, seed, plan.maxLongText);
    for (const auto &f : frames)
        r.bytes += f.bytes.size();

    // Let the windows settle (first paint) before the clock starts, and name each
    // station once: the first sighting of an unknown one is a commit to disk.
    {
        QEventLoop settle;
        QTimer::singleShot(300, &settle, &QEventLoop::quit);
        settle.exec();
        std::vector<TSentFrame> warm = MakeWarmUp();
        WriteFrames(console.Line(0), warm, 9600);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &settle, [&] {
            if (log.entries.size() >= warm.size())
                settle.quit();
        });
        poll.start(5);
        QTimer::singleShot(10000, &settle, &QEventLoop::quit);
        settle.exec();
        const std::vector<int> match = MatchEntries(warm, log.entries);
        for (std::size_t i = 0; i < warm.size(); ++i)
            if (match[i] >= 0)
                r.warmUpMax =
                    std::max(r.warmUpMax, duration<double, std::milli>(log.entries[std::size_t(match[i])].at -
                                                                       warm[i].written)
                                              .count());
        log.entries.clear();
    }

    // The History window's export, over and over while the frames come: the same
    // window class the console opens, on a history of its own.
    std::unique_ptr<THistoryForm> exporter;
    if (!exportHistory.isEmpty()) {
        exporter = std::make_unique<THistoryForm>(exportHistory);
        exporter->show();
        r.exports = 0;
        // CORVALINK_BENCH_EXPORT_DIR puts the CSV elsewhere (a tmpfs: the disk taken out).
        const QString csv =
            qEnvironmentVariable("CORVALINK_BENCH_EXPORT_DIR", console.Dir()) + QStringLiteral("/export.csv");
        auto *timer = new QTimer(exporter.get());
        QObject::connect(timer, &QTimer::timeout, exporter.get(), [&r, csv, form = exporter.get()] {
            if (form->Exporting())
                return;
            const QString label = form->findChild<QLabel *>(QStringLiteral("RowsLabel"))->text();
            if (label.contains(QLatin1String("exported"))) {
                ++r.exports;
                r.exportedRows += label.section(QLatin1Char(' '), 0, 0).toLongLong();
            }
            form->ExportTo(csv);
        });
        timer->start(50);
    }
    std::unique_ptr<TMonitorCost> monitorCost;
    if (monitor)
        monitorCost = std::make_unique<TMonitorCost>(LineMonitorForm);
    const double cpuBefore = ProcessCpuMs();
    const double uiBefore = MainThreadCpuMs();
    const double queueBefore = RunQueueWaitMs();
    const auto begin = SteadyClock::now();
    std::atomic<bool> done{false};
    double writerCpu = 0;
    std::thread writer([&] {
        WriteFrames(console.Line(0), frames, plan.bitRate, plan.burst, plan.pauseMs);
        writerCpu = ThreadCpuMs();
        done = true;
    });

    // Until every frame is logged, or nothing more has come for three seconds.
    QEventLoop wait;
    QTimer poll;
    std::size_t seen = 0;
    auto lastChange = SteadyClock::now();
    QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
        if (log.entries.size() != seen) {
            seen = log.entries.size();
            lastChange = SteadyClock::now();
        }
        if (done && (seen >= frames.size() || SteadyClock::now() - lastChange > seconds(3)))
            wait.quit();
    });
    poll.start(20);
    wait.exec();
    writer.join();
    r.consoleCpuMs = ProcessCpuMs() - cpuBefore - writerCpu;
    r.uiCpuMs = MainThreadCpuMs() - uiBefore;

    const std::vector<int> match = MatchEntries(frames, log.entries);
    std::vector<double> latency;
    auto last = begin;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ++r.sent;
        if (match[i] < 0) {
            ++r.lost;
            continue;
        }
        ++r.logged;
        const auto at = log.entries[std::size_t(match[i])].at;
        last = std::max(last, at);
        latency.push_back(duration<double, std::milli>(at - frames[i].written).count());
    }
    if (qEnvironmentVariableIsSet("CORVALINK_BENCH_SLOWEST")) {
        std::printf("    user-interface thread: %.1f ms waiting for a CPU while runnable, %.1f ms on one\n",
                    RunQueueWaitMs() - queueBefore, MainThreadCpuMs() - uiBefore);
        // The slowest frames, to see what they have in common.
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i < frames.size(); ++i)
            if (match[i] >= 0)
                order.push_back(i);
        const auto ms = [&](std::size_t i) {
            return duration<double, std::milli>(log.entries[std::size_t(match[i])].at - frames[i].written)
                .count();
        };
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return ms(a) > ms(b); });
        for (std::size_t k = 0; k < std::min<std::size_t>(order.size(), 12); ++k)
            std::printf(
                "    #%-5zu %8.3f ms  at %8.3f s  %s\n", order[k], ms(order[k]),
                duration<double>(frames[order[k]].written - begin).count(),
                qPrintable(frames[order[k]].expect.left(60).replace(QLatin1Char('\n'), QLatin1Char('|'))));
    }
    r.wallSeconds = duration<double>(last - begin).count();
    r.p50 = Percentile(latency, 0.50);
    r.p99 = Percentile(latency, 0.99);
    r.max = latency.empty() ? 0 : *std::max_element(latency.begin(), latency.end());
    r.boxes = int(boxes.boxes.size());
    exporter.reset(); // cancels the export under way
    if (monitorCost) {
        if (qEnvironmentVariableIsSet("CORVALINK_BENCH_SLOWEST"))
            for (const auto &[kind, ms] : monitorCost->byKind)
                std::printf("    line monitor, %s: %.0f ms\n", qPrintable(kind), ms);
        r.monitorCpuMs = monitorCost->cpuMs;
        r.monitorLongestMs = monitorCost->longestMs;
        r.monitorPieces = monitorCost->pieces;
        monitorCost.reset();
    }
    if (monitor) {
        // After the figures: the monitor's last batch is at most one period behind.
        QEventLoop settle;
        QTimer::singleShot(3 * TLineMonitorForm::BatchMs, &settle, &QEventLoop::quit);
        settle.exec();
        r.monitorFrames = qint64(LineMonitorForm->Counts().frames[std::size_t(TLineDirection::In)]);
    }
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    // The offscreen platform warns at every raise() of a popup; the console's
    // real platforms do not. Printing those would be measured as the console's work.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (!text.contains(QLatin1String("does not support raise()")))
            std::fprintf(stderr, "%s%s\n", type == QtWarningMsg ? "warning: " : "", qPrintable(text));
    });
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    bool monitor = false;
    int exportRows = 0;
    double paced = 10.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--monitor") == 0)
            monitor = true;
        else if (std::strcmp(argv[i], "--export") == 0 && i + 1 < argc)
            exportRows = std::atoi(argv[++i]);
        else
            paced = std::max(1.0, std::atof(argv[i]));
    }
    // The mix averages about 21 bytes a frame; the frame counts give about the
    // wanted wire time at each pacing.
    const int slow = int(paced * 872.7 / 21.0);
    const int fast = int(paced * 3 * 10472.7 / 21.0);

    const TPlan plans[] = {
        {"9600 bit/s pacing", 9600, slow, 0, 0, 400, 0x0000},
        {"9600 bit/s pacing", 9600, slow, 0, 0, 400, 0x001F},
        {"115200 bit/s pacing", 115200, fast, 0, 0, 400, 0x0000},
        {"115200 bit/s pacing", 115200, fast, 0, 0, 400, 0x001F},
        {"bursts of 1000, back to back", 0, 10000, 1000, 250, 400, 0x0000},
        {"bursts of 1000, back to back", 0, 10000, 1000, 250, 400, 0x001F},
        {"bursts of 200 with 4000-byte messages", 0, 2000, 200, 250, 4000, 0x0000},
    };

    const QString exportHistory = exportRows > 0 ? ExportHistory(exportRows) : QString();
    std::printf("end to end: offscreen console, COM1 on a pseudo-terminal; latency = last byte written "
                "to the entry at the top of the log; line monitor %s\n",
                monitor ? "open" : "closed");
    std::printf("%-38s %6s %6s %6s %4s %5s %6s %7s %7s %7s %7s %6s %6s %5s  %s\n", "run", "popups", "frames",
                "logged", "lost", "boxes", "wall s", "p50 ms", "p99 ms", "max ms", "cpu ms", "ui ms", "cpu %",
                "1st ms", "load (1/5/15 min)");
    // CORVALINK_BENCH_ONLY=n runs the nth row alone (from 1), e.g. under a profiler.
    const int only = qEnvironmentVariableIntValue("CORVALINK_BENCH_ONLY");
    unsigned seed = 1;
    for (const TPlan &plan : plans) {
        if (only > 0 && int(seed) != only) {
            ++seed;
            continue;
        }
        const QString load = LoadAverage();
        const TResult r = Run(plan, seed++, monitor, exportHistory);
        std::printf("%-38s 0x%04X %6d %6d %4d %5d %6.2f %7.3f %7.3f %7.2f %7.0f %6.0f %6.1f %5.1f  %s\n",
                    plan.name, plan.popupFlags, r.sent, r.logged, r.lost, r.boxes, r.wallSeconds, r.p50,
                    r.p99, r.max, r.consoleCpuMs, r.uiCpuMs,
                    r.wallSeconds > 0 ? r.consoleCpuMs / 10.0 / r.wallSeconds : 0.0, r.warmUpMax,
                    qPrintable(load));
        if (r.exports >= 0)
            std::printf(
                "    History window exporting %d rows meanwhile: %d exports finished, %lld rows written\n",
                exportRows, r.exports, r.exportedRows);
        if (r.monitorFrames >= 0)
            std::printf(
                "    line monitor: %lld frames in (the warm-up's included); its batches and painting took "
                "%.0f ms of the user-interface thread's CPU in %d pieces, the longest %.2f ms\n",
                r.monitorFrames, r.monitorCpuMs, r.monitorPieces, r.monitorLongestMs);
        std::fflush(stdout);
    }
    std::printf(
        "cpu ms: the console (the process less the writer thread); ui ms: its user-interface thread; "
        "1st ms: the slowest first sighting of a station, sent before the run (an unknown station adds a "
        "user-table row, committed to disk)\n");
    std::printf(
        "targets: zero frames lost at every rate; p99 under 1.15 ms (one character) at 9600 pacing\n");
    return 0;
}

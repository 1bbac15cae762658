// The radio owner's cost of the feed: the console's core on a pseudo-terminal
// radio at 87 frames/s (the line's rate at 9600 bit/s for 10-byte status
// frames), run three times: without a feed, with the feed and the broker up, and
// with the feed while the broker is down. Prints the process's CPU per second of
// traffic (the reader thread, the decoding and the library's network thread; the
// broker is another process) and the delay from writing a frame at the radio to
// its Traffic event at the owner.
#include "Broker.h"
#include "FeedOwner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <deque>
#include <unistd.h>

namespace {

constexpr double FramesPerSecond = 87.0;

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// CPU seconds of this process's threads whose name starts with prefix.
double ThreadsCpuSeconds(const QByteArray &prefix)
{
    double total = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (!comm.open(QIODevice::ReadOnly) || !comm.readAll().startsWith(prefix))
            continue;
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // After the name in parentheses: field 14 and 15 (utime, stime) are the 12th and 13th.
        const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
        if (fields.size() > 12)
            total += double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) /
                     double(sysconf(_SC_CLK_TCK));
    }
    return total;
}

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct TResult {
    int frames = 0;
    double cpuPercent = 0;     // of one core
    double libraryPercent = 0; // the library's network thread
    double p50Ms = 0, p99Ms = 0, maxMs = 0;
    quint64 drops = 0;
    int queued = 0;
};

TResult Run(const QByteArray &busSection, double seconds)
{
    TFeedOwner owner;
    const QString problem = owner.Open(busSection);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "bench_bus: %s\n", qPrintable(problem));
        std::exit(1);
    }
    if (owner.feed) {
        // Up: wait for the connection; down: nothing to wait for.
        QElapsedTimer wait;
        wait.start();
        while (!owner.feed->Client().Connected() && wait.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QElapsedTimer clock;
    std::deque<qint64> written;
    std::vector<double> delays;
    QObject::connect(owner.session.get(), &TConsoleSession::Traffic, qApp, [&](const TTrafficEvent &) {
        if (written.empty())
            return;
        delays.push_back(double(clock.nsecsElapsed() - written.front()) / 1e6);
        written.pop_front();
    });
    const int total = int(seconds * FramesPerSecond);
    int sent = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, qApp, [&] {
        const int due = std::min(total, int(double(clock.elapsed()) * FramesPerSecond / 1000.0));
        for (; sent < due; ++sent) {
            written.push_back(clock.nsecsElapsed());
            owner.Radio().Write(RadioFrame("E1001000" + QByteArray::number(10 + sent % 80)));
        }
    });
    const double cpu0 = ProcessCpuSeconds();
    const double library0 = ThreadsCpuSeconds("mosquitto loop");
    clock.start();
    tick.start(2);
    while (int(delays.size()) < total && clock.elapsed() < qint64(seconds * 1000) + 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double elapsed = double(clock.elapsed()) / 1000.0;
    const double cpu = ProcessCpuSeconds() - cpu0;
    tick.stop();

    TResult result;
    result.frames = int(delays.size());
    result.cpuPercent = 100.0 * cpu / elapsed;
    result.libraryPercent = 100.0 * (ThreadsCpuSeconds("mosquitto loop") - library0) / elapsed;
    std::sort(delays.begin(), delays.end());
    if (!delays.empty()) {
        result.p50Ms = delays[delays.size() / 2];
        result.p99Ms = delays[std::min(delays.size() - 1, delays.size() * 99 / 100)];
        result.maxMs = delays.back();
    }
    if (owner.feed) {
        result.drops = owner.feed->DropCount();
        result.queued = owner.feed->Client().Queued();
    }
    return result;
}

void Print(const char *mode, const TResult &r)
{
    std::printf("%-22s %6d frames  CPU %6.2f %% of a core (library thread %5.2f %%)  delay p50 %6.2f ms  p99 "
                "%6.2f ms  max %7.2f ms  "
                "queued %5d  dropped %llu\n",
                mode, r.frames, r.cpuPercent, r.libraryPercent, r.p50Ms, r.p99Ms, r.maxMs, r.queued,
                static_cast<unsigned long long>(r.drops));
}

// What the owner's thread spends per event on the feed: the JSON, the
// station's state and the queue (the broker down, so nothing leaves).
double PublishMicroseconds(const QByteArray &bus)
{
    TFeedOwner owner;
    if (!owner.Open(bus).isEmpty())
        return -1;
    TTrafficEvent event;
    event.time = QDateTime::currentDateTimeUtc();
    event.kind = TrafficKind::Status;
    event.fleet = 100;
    event.ident = 1000;
    event.name = QStringLiteral("Base");
    event.status = 21;
    event.statusText = QStringLiteral("On scene");
    event.statusKnown = true;
    event.frame = RadioFrame("E100100021");
    constexpr int count = 5000;
    const double t0 = ThreadCpuSeconds();
    for (int i = 0; i < count; ++i)
        owner.feed->PublishTraffic(event);
    return (ThreadCpuSeconds() - t0) / count * 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? QByteArray(argv[1]).toDouble() : 20.0;
    qputenv("QT_LOGGING_RULES", "*.info=false");

    TBroker broker;
    if (const QString problem = broker.Start(); !problem.isEmpty()) {
        std::fprintf(stderr, "bench_bus: %s\n", qPrintable(problem));
        return 1;
    }
    TFeedReader reader(broker.Port(), QStringLiteral("bench-reader"));
    const QByteArray bus = "Broker=" + broker.Url().toUtf8() + "\nRadio=bench\n";

    std::printf("%.0f s at %.0f frames/s each\n", seconds, FramesPerSecond);
    const TResult none = Run(QByteArray(), seconds);
    Print("no feed", none);
    const TResult up = Run(bus, seconds);
    Print("feed, broker up", up);
    broker.Stop();
    const TResult down = Run(bus, seconds);
    Print("feed, broker down", down);
    const double publish = PublishMicroseconds(bus);
    std::printf("owner's thread per event: %.1f us (x %.0f/s = %.3f %% of a core)\n", publish,
                FramesPerSecond, publish * FramesPerSecond / 1e4);
    std::printf("feed's own CPU, broker up: %.3f %% of a core (owner's thread + library thread)\n",
                publish * FramesPerSecond / 1e4 + up.libraryPercent);
    std::printf("extra CPU for the feed: broker up %+.2f %%, broker down %+.2f %% of a core\n",
                up.cpuPercent - none.cpuPercent, down.cpuPercent - none.cpuPercent);
    std::printf("messages at the reader: %lld\n", static_cast<long long>(reader.On("/traffic").size()));
    return 0;
}

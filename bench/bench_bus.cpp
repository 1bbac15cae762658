// The radio owner's cost of the feed: the console's core on a pseudo-terminal
// radio at 87 frames/s (the line's rate at 9600 bit/s for 10-byte status
// frames), run three times a round: without a feed, with the feed and the
// broker up, and with the feed while the broker is down. Prints the CPU and the
// wake-ups of the owner's thread and of the feed's network thread, the whole
// process's CPU (the broker is another process), and the delay from writing a
// frame at the radio to its Traffic event at the owner.
//   bench_bus [seconds a run, default 20] [rounds, default 3]
#include "Broker.h"
#include "FeedOwner.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

constexpr double FramesPerSecond = 87.0;

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// One thread of this process: its name, its CPU time to the nanosecond (the
// thread's CPU clock, as pthread_getcpuclockid makes it from the thread id) and
// how often it went to sleep (each is one wake-up later).
struct TThreadSample {
    QByteArray name;
    double cpu = 0;
    qint64 wakes = 0;
};

QHash<int, TThreadSample> SampleThreads()
{
    QHash<int, TThreadSample> threads;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &entry : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const int tid = entry.toInt();
        TThreadSample sample;
        QFile comm(tasks.filePath(entry + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly))
            sample.name = comm.readAll().trimmed();
        const clockid_t clock = clockid_t((~unsigned(tid) << 3) | 6); // per thread, scheduler's clock
        timespec t{};
        if (clock_gettime(clock, &t) != 0)
            continue;
        sample.cpu = double(t.tv_sec) + double(t.tv_nsec) / 1e9;
        QFile status(tasks.filePath(entry + QStringLiteral("/status")));
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray &line : status.readAll().split('\n'))
                if (line.startsWith("voluntary_ctxt_switches:"))
                    sample.wakes = line.mid(24).trimmed().toLongLong();
        threads.insert(tid, sample);
    }
    return threads;
}

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct TResult {
    int frames = 0;
    double cpuPercent = 0;  // the whole process, of one core
    double mainPercent = 0; // the owner's thread (decoding, the log, the feed's JSON and queue)
    double mainWakes = 0;   // a second
    // The threads the feed started (the library's network thread): CPU and wake-ups a second.
    double feedPercent = 0, feedWakes = 0;
    QByteArray feedThreads;
    double p50Ms = 0, p99Ms = 0, maxMs = 0;
    quint64 drops = 0;
    int queued = 0;
};

TResult Run(const QByteArray &busSection, double seconds)
{
    const QHash<int, TThreadSample> before = SampleThreads();
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
    // The radio writes from a thread of its own, so that the owner's thread
    // does only what the console does.
    QElapsedTimer clock;
    std::mutex writtenMutex;
    std::deque<qint64> written;
    std::vector<double> delays;
    QObject::connect(owner.session.get(), &TConsoleSession::Traffic, qApp, [&](const TTrafficEvent &) {
        const std::lock_guard lock(writtenMutex);
        if (written.empty())
            return;
        delays.push_back(double(clock.nsecsElapsed() - written.front()) / 1e6);
        written.pop_front();
    });
    const int total = int(seconds * FramesPerSecond);
    const auto frames = [&] {
        const std::lock_guard lock(writtenMutex);
        return int(delays.size());
    };
    const QHash<int, TThreadSample> start = SampleThreads();
    const double cpu0 = ProcessCpuSeconds();
    clock.start();
    std::thread radio([&] {
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        const long step = long(1e9 / FramesPerSecond);
        for (int sent = 0; sent < total; ++sent) {
            next.tv_nsec += step;
            if (next.tv_nsec >= 1000000000L) {
                next.tv_nsec -= 1000000000L;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            {
                const std::lock_guard lock(writtenMutex);
                written.push_back(clock.nsecsElapsed());
            }
            owner.Radio().Write(RadioFrame("E1001000" + QByteArray::number(10 + sent % 80)));
        }
    });
    QTimer deadline; // ends the wait below if frames went missing
    deadline.setSingleShot(true);
    deadline.start(qint64(seconds * 1000) + 10000);
    while (frames() < total && deadline.isActive())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    radio.join();
    const double elapsed = double(clock.elapsed()) / 1000.0;
    const double cpu = ProcessCpuSeconds() - cpu0;
    const QHash<int, TThreadSample> end = SampleThreads();

    TResult result;
    result.frames = int(delays.size());
    result.cpuPercent = 100.0 * cpu / elapsed;
    const int mainTid = int(getpid());
    result.mainPercent = 100.0 * (end.value(mainTid).cpu - start.value(mainTid).cpu) / elapsed;
    result.mainWakes = double(end.value(mainTid).wakes - start.value(mainTid).wakes) / elapsed;
    // The feed's threads: those its library started (the benchmark's own
    // reader of the feed, another client, was there before).
    for (auto it = end.cbegin(); it != end.cend(); ++it) {
        if (before.contains(it.key()) || !start.contains(it.key()) ||
            it.value().name != TMqttClient::ThreadName)
            continue;
        result.feedPercent += 100.0 * (it.value().cpu - start.value(it.key()).cpu) / elapsed;
        result.feedWakes += double(it.value().wakes - start.value(it.key()).wakes) / elapsed;
    }
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
    std::printf(
        "%-18s %5d frames  process %5.2f %%  owner's thread %5.2f %% %4.0f wakes/s  feed's thread %5.3f %% "
        "%4.0f wakes/s  frame->event p50 %5.2f p99 %5.2f max %6.2f ms  queued %4d dropped %llu\n",
        mode, r.frames, r.cpuPercent, r.mainPercent, r.mainWakes, r.feedPercent, r.feedWakes, r.p50Ms,
        r.p99Ms, r.maxMs, r.queued, static_cast<unsigned long long>(r.drops));
    std::fflush(stdout);
}

double LoadAverage()
{
    double load = 0;
    getloadavg(&load, 1);
    return load;
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
    const int rounds = argc > 2 ? QByteArray(argv[2]).toInt() : 3;
    qputenv("QT_LOGGING_RULES", "*.info=false");

    TBroker broker;
    TFeedReader *reader = nullptr;
    std::printf("%.0f s at %.0f frames/s each, %d rounds; %% of one core\n", seconds, FramesPerSecond,
                rounds);
    std::vector<double> feedOwn;
    for (int round = 1; round <= rounds; ++round) {
        if (const QString problem = broker.Start(); !problem.isEmpty()) {
            std::fprintf(stderr, "bench_bus: %s\n", qPrintable(problem));
            return 1;
        }
        // A reader of the feed on the broker, as a position would be (another
        // client; its library thread is not counted as the feed's).
        if (!reader)
            reader = new TFeedReader(broker.Port(), QStringLiteral("bench-reader"));
        const QByteArray bus = "Broker=" + broker.Url().toUtf8() + "\nRadio=bench\n";
        std::printf("round %d, load average %.2f\n", round, LoadAverage());
        const TResult none = Run(QByteArray(), seconds);
        Print("no feed", none);
        const TResult up = Run(bus, seconds);
        Print("feed, broker up", up);
        broker.Stop();
        const TResult down = Run(bus, seconds);
        Print("feed, broker down", down);
        // The feed's own CPU: what the owner's thread spends more than without
        // a feed (the payloads, the queue, the batch's timer), plus its thread.
        const double own = up.mainPercent - none.mainPercent + up.feedPercent;
        feedOwn.push_back(own);
        std::printf(
            "feed's own CPU, broker up: %.3f %% (owner's thread %+.3f %%, feed's thread %.3f %%); broker "
            "down: owner's thread %+.3f %%, feed's thread %.3f %%\n",
            own, up.mainPercent - none.mainPercent, up.feedPercent, down.mainPercent - none.mainPercent,
            down.feedPercent);
    }
    const QByteArray bus = "Broker=" + broker.Url().toUtf8() + "\nRadio=bench\n";
    const double publish = PublishMicroseconds(bus);
    std::printf("owner's thread per event, in a loop: %.1f us (x %.0f/s = %.3f %% of a core)\n", publish,
                FramesPerSecond, publish * FramesPerSecond / 1e4);
    std::sort(feedOwn.begin(), feedOwn.end());
    std::printf("feed's own CPU, broker up, %d rounds: %.3f to %.3f %% of a core; load average now %.2f\n",
                rounds, feedOwn.front(), feedOwn.back(), LoadAverage());
    std::printf("messages at the reader: %lld\n", static_cast<long long>(reader->On("/traffic").size()));
    delete reader;
    return 0;
}

// Positions following the radio's owner through a mosquitto on loopback: the
// owner's core on a pseudo-terminal radio at 87 frames/s and eight positions'
// cores in this process (one thread for all nine: a pessimistic stand-in for
// eight machines). Prints the delay from writing a frame at the radio to its
// entry in each position's log; from an alarm acknowledged on one position to
// its alarm closed on all (what stops each one's flash and sound); and the
// catch-up of a position away while the traffic went on, with a broker that
// keeps it all and with one that keeps 1000 messages (the rest fetched).
//   bench_positions [positions] [seconds] [away seconds]
#include "Broker.h"
#include "FeedOwner.h"
#include "PositionCore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <deque>
#include <vector>

namespace {

constexpr double FramesPerSecond = 87.0;

void Fail(const QString &what)
{
    std::fprintf(stderr, "bench_positions: %s\n", qPrintable(what));
    std::exit(1);
}

template <typename Predicate> bool Wait(Predicate done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

struct TFigures {
    double p50 = 0, p99 = 0, max = 0;
    std::size_t n = 0;
};

TFigures Figures(std::vector<double> values)
{
    TFigures f;
    std::sort(values.begin(), values.end());
    f.n = values.size();
    if (!values.empty()) {
        f.p50 = values[values.size() / 2];
        f.p99 = values[std::min(values.size() - 1, values.size() * 99 / 100)];
        f.max = values.back();
    }
    return f;
}

// Sends frames at the radio's rate for seconds; frame(i) gives the i-th.
template <typename Frame>
void Drive(TFeedOwner &owner, QElapsedTimer &clock, std::vector<qint64> &written, double seconds, Frame frame)
{
    const int total = int(seconds * FramesPerSecond);
    const qint64 start = clock.elapsed();
    int sent = 0;
    while (sent < total) {
        const int due = std::min(total, int(double(clock.elapsed() - start) * FramesPerSecond / 1000.0));
        for (; sent < due; ++sent) {
            written.push_back(clock.nsecsElapsed());
            owner.Radio().Write(RadioFrame(frame(sent)));
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int positions = argc > 1 ? std::max(1, atoi(argv[1])) : 8;
    const double seconds = argc > 2 ? atof(argv[2]) : 20.0;
    const double away = argc > 3 ? atof(argv[3]) : 60.0;

    TBroker broker;
    if (const QString problem = broker.Start(); !problem.isEmpty())
        Fail(problem);
    TFeedOwner owner;
    if (const QString problem = owner.Open("Broker=" + broker.Url().toUtf8() + "\nRadio=r1\n");
        !problem.isEmpty())
        Fail(problem);
    std::vector<std::unique_ptr<TPositionCore>> desks;
    for (int i = 0; i < positions; ++i) {
        desks.push_back(std::make_unique<TPositionCore>());
        if (const QString problem = desks.back()->Open(broker.Port(), QStringLiteral("desk%1").arg(i + 1));
            !problem.isEmpty())
            Fail(problem);
    }
    if (!Wait(
            [&] {
                return std::all_of(desks.begin(), desks.end(), [](const auto &d) { return d->Following(); });
            },
            10000))
        Fail(QStringLiteral("the positions do not follow the owner"));

    // 1. ETX at the owner -> the entry in each position's log.
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> written;
    std::vector<double> delays;
    for (auto &desk : desks) {
        auto *seen = new std::size_t(0);
        desk->log.onEntry = [&, seen](const QString &) {
            if (*seen < written.size())
                delays.push_back(double(clock.nsecsElapsed() - written[(*seen)++]) / 1e6);
        };
    }
    Drive(owner, clock, written, seconds,
          [](int i) -> QByteArray { return "E1001000" + QByteArray::number(10 + i % 80); });
    Wait([&] { return delays.size() >= written.size() * desks.size(); }, 20000);
    const TFigures log = Figures(delays);
    std::printf("%d positions, %zu frames at %.0f/s: ETX at the owner -> entry in each position's log: "
                "p50 %.2f ms  p99 %.2f ms  max %.2f ms  (%zu of %zu entries)\n",
                positions, written.size(), FramesPerSecond, log.p50, log.p99, log.max, log.n,
                written.size() * desks.size());
    for (auto &desk : desks)
        desk->log.onEntry = nullptr;

    // 2. An alarm acknowledged on desk 1 -> closed on every desk.
    std::vector<double> acks;
    for (int round = 0; round < 20; ++round) {
        owner.Radio().Write(RadioFrame("E100" + QByteArray::number(1000 + round) + "99"));
        if (!Wait(
                [&] {
                    return std::all_of(desks.begin(), desks.end(),
                                       [](const auto &d) { return d->hub->Alarms().OpenCount() == 1; });
                },
                5000))
            Fail(QStringLiteral("the alarm did not open on every position"));
        QElapsedTimer ack;
        ack.start();
        const TAlarm *open = desks.front()->hub->Alarms().OldestOpen();
        desks.front()->hub->AcknowledgeAlarm(open->id);
        if (!Wait(
                [&] {
                    return std::all_of(desks.begin(), desks.end(),
                                       [](const auto &d) { return d->hub->Alarms().OpenCount() == 0; });
                },
                5000))
            Fail(QStringLiteral("the acknowledgement did not reach every position"));
        acks.push_back(double(ack.nsecsElapsed()) / 1e6);
    }
    const TFigures ack = Figures(acks);
    std::printf("alarm acknowledged on desk1 -> closed on all %d (through the owner): p50 %.2f ms  p99 %.2f "
                "ms  max %.2f ms  "
                "(%zu rounds)\n",
                positions, ack.p50, ack.p99, ack.max, ack.n);

    // 3. desk1 away while the radio goes on at its rate, then back.
    const int before = int(owner.log.entries.size());
    desks.front()->Close();
    std::vector<qint64> ignored;
    Drive(owner, clock, ignored, away,
          [](int i) -> QByteArray { return "B100" + QByteArray::number(1000 + i % 50); });
    const int missed = int(owner.log.entries.size()) - before;
    auto back = std::make_unique<TPositionCore>();
    QElapsedTimer catchUp;
    catchUp.start();
    if (const QString problem = back->Open(broker.Port(), QStringLiteral("desk1")); !problem.isEmpty())
        Fail(problem);
    // Caught up: its newest entry is the owner's newest.
    Wait(
        [&] {
            return !back->log.entries.isEmpty() && back->log.entries.first() == owner.log.entries.first();
        },
        60000);
    const double took = double(catchUp.nsecsElapsed()) / 1e9;
    const bool same = back->log.entries == owner.log.entries.mid(0, int(back->log.entries.size()));
    std::printf("desk1 away %.0f s (%d entries): caught up in %.2f s, %lld entries, %llu missed, %s\n", away,
                missed, took, static_cast<long long>(back->log.entries.size()),
                static_cast<unsigned long long>(back->position->Missed()),
                same ? "the same as the owner's, in order" : "NOT the owner's entries");

    // 4. The same absence with a broker that keeps only 1000 messages for a
    // position away: the rest is fetched from the owner's journal.
    back.reset();
    desks.clear();
    TBroker small(1000);
    if (const QString problem = small.Start(); !problem.isEmpty())
        Fail(problem);
    TFeedOwner owner2;
    if (const QString problem = owner2.Open("Broker=" + small.Url().toUtf8() + "\nRadio=r1\n");
        !problem.isEmpty())
        Fail(problem);
    auto desk = std::make_unique<TPositionCore>();
    if (const QString problem = desk->Open(small.Port(), QStringLiteral("desk1")); !problem.isEmpty())
        Fail(problem);
    if (!Wait([&] { return desk->Following(); }, 10000))
        Fail(QStringLiteral("the position does not follow the second owner"));
    owner2.Radio().Write(RadioFrame("B1001000"));
    Wait([&] { return desk->log.entries.size() == 1; }, 5000);
    desk->Close();
    Drive(owner2, clock, ignored, away,
          [](int i) -> QByteArray { return "F1001001away " + QByteArray::number(i); });
    Wait([&] { return owner2.log.entries.size() == std::size_t(away * FramesPerSecond) + 1; }, 10000);
    desk = std::make_unique<TPositionCore>();
    QElapsedTimer fetchClock;
    fetchClock.start();
    if (const QString problem = desk->Open(small.Port(), QStringLiteral("desk1")); !problem.isEmpty())
        Fail(problem);
    // The broker's 1000, then one frame more shows the gap, which is fetched.
    Wait([&] { return desk->position->At() >= 1000; }, 30000);
    owner2.Radio().Write(RadioFrame("B1001000"));
    Wait([&] { return desk->position->At() == owner2.feed->TrafficSeq(); }, 60000);
    const double fetchTook = double(fetchClock.nsecsElapsed()) / 1e9;
    const QStringList expected = owner2.log.entries.mid(0, owner2.log.entries.size() - 1);
    std::printf("desk1 away %.0f s, the broker keeping 1000: caught up in %.2f s, %llu fetched from the "
                "owner, %llu missed, %s\n",
                away, fetchTook, static_cast<unsigned long long>(desk->position->Fetched()),
                static_cast<unsigned long long>(desk->position->Missed()),
                desk->log.entries == expected ? "the same as the owner's, in order"
                                              : "NOT the owner's entries");
    return 0;
}

// The station board at a thousand stations: the rebuild from a million-row
// history.db (with and without the index the board would like), a row's update
// at the line's top rate with the Stations window open, the board's CPU share open
// and hidden, the cost of the ages' once-a-second repaint, and how late an overdue
// check-in is raised.
#include "BoardHistory.h"
#include "HistoryDatabase.h"
#include "StationBoard.h"
#include "StationsWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Stations = 1000;
constexpr int QuietFrom = 950; // stations that only call: no status, no message to find
constexpr double FramesPerSecond = 87;

double Ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// This thread's CPU time: the figure that counts on a machine shared with builds.
double CpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

TStationKey StationKey(int n)
{
    return {100 + n / 100, 1000 + n % 100};
}

// The mix of the history bench over a thousand stations.
TTrafficEvent MakeEvent(QRandomGenerator &random, const QDateTime &time)
{
    TTrafficEvent e;
    e.time = time;
    const int n = int(random.bounded(Stations));
    const TStationKey key = StationKey(n);
    e.fleet = key.fleet;
    e.ident = key.ident;
    e.name = n < 10 ? QStringLiteral("Car %1").arg(n) : QStringLiteral("%1-%2").arg(key.fleet).arg(key.ident);
    e.direction = random.bounded(4) == 0 ? TrafficDirection::Out : TrafficDirection::In;
    int pick = int(random.bounded(100));
    if (n >= QuietFrom && pick >= 24)
        pick = 30;
    if (pick < 24) {
        e.kind = TrafficKind::Acknowledgement;
        e.fleet.reset();
        e.ident.reset();
        e.name.clear();
        e.text = QStringLiteral("Success");
    } else if (pick < 42) {
        e.kind = random.bounded(2) ? TrafficKind::Call : TrafficKind::CallEnd;
    } else if (pick < 62) {
        e.kind = TrafficKind::Status;
        e.status = 20 + int(random.bounded(5));
        e.statusText = QStringLiteral("On duty");
        e.statusKnown = true;
    } else if (pick < 78) {
        e.kind = pick < 74 ? TrafficKind::ShortMessage : TrafficKind::LongMessage;
        e.text = QStringLiteral("back at base in 10 minutes, %1").arg(random.bounded(1000));
    } else if (pick < 88) {
        e.kind = TrafficKind::PttId;
        e.fleet2 = e.fleet;
        e.ident2 = e.ident;
        e.text = QStringLiteral("Connect");
    } else {
        e.kind = TrafficKind::CallDecode;
        const TStationKey other = StationKey(int(random.bounded(Stations)));
        e.fleet2 = other.fleet;
        e.ident2 = other.ident;
        e.name2 = QStringLiteral("%1-%2").arg(other.fleet).arg(other.ident);
        e.text = QStringLiteral("start");
    }
    return e;
}

QVariant Optional(std::optional<int> value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Int));
}

void Check(QSqlQuery &query)
{
    if (!query.exec()) {
        std::fprintf(stderr, "%s\n", qPrintable(query.lastError().text()));
        std::exit(1);
    }
}

// Rows straight into the file's own schema in big transactions: the store's
// writer thread would take half a minute for the same file (bench_history).
void Fill(const QString &file, int rows)
{
    THistoryConnection connection(file, THistoryConnection::TMode::Write);
    QSqlDatabase &db = connection.Database();
    QSqlQuery insert(db), station(db), alarm(db);
    insert.prepare(QStringLiteral(
        "INSERT INTO event (time, direction, kind, fleet, ident, name, fleet2, ident2, name2, status, "
        "status_text, status_known, text, frame) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    station.prepare(QStringLiteral("INSERT OR IGNORE INTO station (fleet, ident, name) VALUES (?,?,?)"));
    alarm.prepare(QStringLiteral("INSERT INTO alarm (time, fleet, ident, name, status, status_text) VALUES "
                                 "(?,?,?,?,?,?)"));
    QRandomGenerator random(24);
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-89);
    const qint64 stepMs = qint64(89) * 24 * 3600 * 1000 / rows;
    db.transaction();
    for (int i = 0; i < rows; ++i) {
        const TTrafficEvent e = MakeEvent(random, start.addMSecs(stepMs * i));
        insert.addBindValue(HistoryTime(e.time));
        insert.addBindValue(int(e.direction));
        insert.addBindValue(int(e.kind));
        insert.addBindValue(Optional(e.fleet));
        insert.addBindValue(Optional(e.ident));
        insert.addBindValue(e.name);
        insert.addBindValue(Optional(e.fleet2));
        insert.addBindValue(Optional(e.ident2));
        insert.addBindValue(e.name2);
        insert.addBindValue(Optional(e.status));
        insert.addBindValue(e.statusText);
        insert.addBindValue(e.statusKnown ? 1 : 0);
        insert.addBindValue(e.text);
        insert.addBindValue(QByteArray("\x02X\x03"));
        Check(insert);
        if (e.fleet && i < 100000) { // every station is named long before the end
            station.addBindValue(*e.fleet);
            station.addBindValue(*e.ident);
            station.addBindValue(e.name);
            Check(station);
        }
        if (i % 100000 == 99999) {
            db.commit();
            db.transaction();
        }
    }
    for (int i = 0; i < 20; ++i) {
        const TStationKey key = StationKey(i * 37);
        alarm.addBindValue(HistoryTime(start.addDays(88)));
        alarm.addBindValue(key.fleet);
        alarm.addBindValue(key.ident);
        alarm.addBindValue(QString());
        alarm.addBindValue(97);
        alarm.addBindValue(QStringLiteral("Help"));
        Check(alarm);
    }
    db.commit();
}

// Drops the file's pages from the page cache: a start-up after a reboot.
void Evict(const QString &file)
{
    for (const QString &name : QStringList{file, file + QStringLiteral("-wal")}) {
        const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

void TimeRebuild(const QString &file, const char *label)
{
    for (int pass = 0; pass < 3; ++pass) {
        if (pass == 0)
            Evict(file);
        QElapsedTimer t;
        t.start();
        const double cpu = CpuMs();
        const QList<TStationTraffic> traffic = ReadStationTraffic(file);
        TStationBoard board;
        board.Rebuild(traffic);
        std::printf("rebuild %-22s %s: %4d stations in %7.1f ms (cpu %6.1f ms)\n", label,
                    pass == 0 ? "cold" : "warm", board.rowCount(), Ms(t), CpuMs() - cpu);
    }
}

double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(p * double(values.size())))];
}

// Frames at the line's top rate from the event loop, for `seconds`; the main
// thread's CPU in that time.
double Drive(TStationBoard *board, std::vector<TTrafficEvent> &frames, double seconds)
{
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    std::size_t next = 0;
    QElapsedTimer clock;
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        // Catch up on the schedule, as frames queued behind a slow pass would.
        const auto due = std::size_t(double(clock.nsecsElapsed()) / 1e9 * FramesPerSecond);
        for (; next < due && next < frames.size(); ++next) {
            frames[next].time = QDateTime::currentDateTimeUtc();
            if (board)
                board->TrafficEvent(frames[next]);
        }
    });
    clock.start();
    tick.start(int(1000 / FramesPerSecond));
    const double cpu = CpuMs();
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
    return CpuMs() - cpu;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    const double seconds = argc > 2 ? QByteArray(argv[2]).toDouble() : 20;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("history.db"));

    // 1. The rebuild from a million rows, without and with the index.
    {
        QElapsedTimer t;
        t.start();
        Fill(file, rows);
        std::printf("fill: %d rows, %.1f MB, %.0f ms\n", rows, double(QFileInfo(file).size()) / 1e6, Ms(t));
    }
    TimeRebuild(file, "(today's indexes)");
    {
        THistoryConnection connection(file, THistoryConnection::TMode::Write);
        QElapsedTimer t;
        t.start();
        connection.Exec(QStringLiteral("CREATE INDEX IF NOT EXISTS event_heard ON event(fleet, ident, kind) "
                                       "WHERE direction = 1"));
        std::printf("index event_heard: made in %.0f ms, file now %.1f MB\n", Ms(t),
                    double(QFileInfo(file).size()) / 1e6);
    }
    TimeRebuild(file, "(with event_heard)");

    // 2. Live: a thousand stations, 87 frames a second.
    QRandomGenerator random(87);
    std::vector<TTrafficEvent> frames;
    frames.reserve(std::size_t(seconds * FramesPerSecond * 4) + 1000);
    while (frames.size() < frames.capacity()) {
        const TTrafficEvent e = MakeEvent(random, {});
        if (e.fleet && e.direction == TrafficDirection::In)
            frames.push_back(e);
    }
    TStationBoard board;
    QList<TDirectoryStation> directory;
    for (int n = 0; n < 10; ++n)
        directory.append({QStringLiteral("Car %1").arg(n), StationKey(n).fleet, StationKey(n).ident});
    board.SetDirectory(directory);
    for (int n = 0; n < Stations; ++n) {
        TTrafficEvent e = MakeEvent(random, QDateTime::currentDateTimeUtc().addSecs(-n));
        e.direction = TrafficDirection::In;
        e.kind = TrafficKind::Call;
        e.fleet = StationKey(n).fleet;
        e.ident = StationKey(n).ident;
        board.TrafficEvent(e);
    }
    // The model's own work for one frame, in a tight loop (no event loop, no view).
    {
        TStationBoard bare;
        for (int n = 0; n < Stations; ++n)
            bare.TrafficEvent(frames[std::size_t(n)]);
        const int count = 200000;
        const double cpu = CpuMs();
        for (int i = 0; i < count; ++i) {
            TTrafficEvent &e = frames[std::size_t(i) % frames.size()];
            bare.TrafficEvent(e);
        }
        const double us = (CpuMs() - cpu) * 1000 / count;
        std::printf("model update: %.2f us a frame (%.4f %% of a core at 87 frames/s)\n", us,
                    us * FramesPerSecond / 1e4);
    }
    TStationsForm form(board);
    form.resize(1200, 700);
    form.Grid()->sortByColumn(TStationBoard::AgeColumn, Qt::AscendingOrder);

    const double idle = Drive(nullptr, frames, seconds);
    std::printf("feeding loop alone: %.1f ms cpu in %.0f s\n", idle, seconds);
    const double hidden = Drive(&board, frames, seconds);
    std::printf("board, window hidden: %.1f ms cpu in %.0f s: %.3f %% of a core above the loop\n", hidden,
                seconds, (hidden - idle) / (seconds * 10));
    form.show();
    QApplication::processEvents();
    for (const int column : {int(TStationBoard::NameColumn), int(TStationBoard::AgeColumn)}) {
        form.Grid()->sortByColumn(column, Qt::AscendingOrder);
        const double open = Drive(&board, frames, seconds);
        std::printf("board, window open (sorted by %s, %d rows visible): %.1f ms cpu in %.0f s: %.3f %% of a "
                    "core above the loop\n",
                    qPrintable(board.headerData(column, Qt::Horizontal).toString()),
                    form.Grid()->viewport()->height() / form.Grid()->rowHeight(0), open, seconds,
                    (open - idle) / (seconds * 10));
    }

    // A frame's row on screen: the model update and a full repaint of the grid.
    {
        std::vector<double> latency;
        for (int i = 0; i < int(FramesPerSecond * 10); ++i) {
            TTrafficEvent &e = frames[std::size_t(i)];
            e.time = QDateTime::currentDateTimeUtc();
            QElapsedTimer t;
            t.start();
            board.TrafficEvent(e);
            form.Grid()->viewport()->repaint();
            latency.push_back(Ms(t));
        }
        std::printf("frame to row repainted: p50 %.3f ms, p99 %.3f ms, max %.3f ms (%zu frames)\n",
                    Percentile(latency, 0.5), Percentile(latency, 0.99), Percentile(latency, 1.0),
                    latency.size());
    }

    // 3. The ages' repaint, the window open after the busy minute (sorted by age:
    // rows scattered against the board's order). CPU of one tick and the paint it
    // causes: the window's own repaint of its age cells; for comparison the board's
    // dataChanged over the whole column through the sorted proxy, and a full repaint.
    {
        const auto perTick = [&](const std::function<void()> &tick) {
            QApplication::processEvents();
            const double cpu = CpuMs();
            constexpr int Ticks = 50;
            for (int i = 0; i < Ticks; ++i) {
                tick();
                QApplication::processEvents();
            }
            return (CpuMs() - cpu) / Ticks;
        };
        int ranges = 0;
        const auto probe =
            QObject::connect(form.Proxy(), &QAbstractItemModel::dataChanged, &form, [&] { ++ranges; });
        const double nothing = perTick([] {});
        const double window = perTick([&] { form.Grid()->RepaintAges(); });
        ranges = 0;
        const double model = perTick([&] {
            emit board.dataChanged(board.index(0, TStationBoard::AgeColumn),
                                   board.index(board.rowCount() - 1, TStationBoard::AgeColumn),
                                   {Qt::DisplayRole});
        });
        const int modelRanges = ranges / 50;
        const double full = perTick([&] { form.Grid()->viewport()->update(); });
        QObject::disconnect(probe);
        std::printf(
            "ages once a second, 1,000 rows: the window's age cells %.3f ms a tick (%.4f %% of a core); "
            "through the board's dataChanged and the proxy %.3f ms (%d ranges a tick); a full repaint "
            "%.3f ms\n",
            window - nothing, (window - nothing) / 10, model - nothing, modelRanges, full - nothing);
    }

    // 4. Overdue check-ins: a thousand deadlines over the next ten seconds. The
    // board's clock is moved on 59 s after the frames, so the wait is real time.
    {
        qint64 offsetMs = 0;
        TStationBoard timed(nullptr, [&] { return QDateTime::currentDateTimeUtc().addMSecs(offsetMs); });
        std::vector<double> late;
        QObject::connect(&timed, &TStationBoard::OverdueRaised, &timed, [&](const TOverdue &o) {
            late.push_back(double(o.deadline.msecsTo(QDateTime::currentDateTimeUtc().addMSecs(offsetMs))));
        });
        TCheckinSettings settings;
        settings.all = TCheckinRule{1, QDateTime::currentDateTimeUtc()};
        timed.SetCheckins(settings);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        for (int n = 0; n < Stations; ++n) {
            TTrafficEvent e = frames[std::size_t(n)];
            e.fleet = StationKey(n).fleet;
            e.ident = StationKey(n).ident;
            e.time = now.addMSecs(n * 10);
            timed.TrafficEvent(e);
        }
        offsetMs = 59000;
        timed.CheckDeadlines();
        QEventLoop loop;
        QTimer::singleShot(13000, &loop, &QEventLoop::quit);
        loop.exec();
        std::printf("overdue raised after its deadline: p50 %.0f ms, p99 %.0f ms, max %.0f ms (%zu of %d)\n",
                    Percentile(late, 0.5), Percentile(late, 0.99), Percentile(late, 1.0), late.size(),
                    Stations);
    }
    return 0;
}

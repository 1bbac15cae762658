// The traffic history at a million rows: how fast the writer fills it, how soon
// the History window shows its first page, how fast filters answer, and how long
// the CSV export of everything takes.
#include "ConsoleFiles.h"
#include "HistoryModel.h"
#include "HistoryQuery.h"
#include "HistoryStore.h"
#include "HistoryWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>

using namespace std::chrono_literals;

namespace {

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

// A fleet's traffic: 60 stations, 10 of them named; the mix of the decode bench.
TTrafficEvent MakeEvent(QRandomGenerator &random, const QDateTime &time)
{
    static const char *const names[] = {"Base",    "Car 1", "Car 2", "Car 3",  "Truck 7",
                                        "Medic 4", "Yard",  "Tower", "Bus 12", "Harbour"};
    static const char *const words[] = {"fuel",       "arrived",     "on the way",   "need help",
                                        "clear",      "road closed", "back at base", "copy that",
                                        "10 minutes", "standing by"};
    TTrafficEvent e;
    e.time = time;
    const int station = int(random.bounded(60));
    e.fleet = 100 + station / 10;
    e.ident = 1000 + station;
    e.name = station < 10 ? QString::fromLatin1(names[station])
                          : QStringLiteral("%1-%2").arg(*e.fleet).arg(*e.ident);
    e.direction = random.bounded(4) == 0 ? TrafficDirection::Out : TrafficDirection::In;
    const int pick = int(random.bounded(100));
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
        QString text;
        const int count = pick < 74 ? 3 : 30;
        for (int i = 0; i < count; ++i)
            text += QString::fromLatin1(words[random.bounded(10)]) + QLatin1Char(' ');
        e.text = text.trimmed();
    } else if (pick < 88) {
        e.kind = TrafficKind::PttId;
        e.text = QStringLiteral("Connect");
    } else {
        e.kind = TrafficKind::CallDecode;
        e.fleet2 = 101;
        e.ident2 = 1011;
        e.name2 = QStringLiteral("Car 1");
        e.text = QStringLiteral("start");
    }
    e.frame = QByteArray("\x02"
                         "E100100021\x03");
    return e;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    QTemporaryDir dir;
    const QString file = dir.filePath(HistoryFileName);

    // 1. Fill through the store as the console does (90 days of traffic).
    {
        QRandomGenerator random(12);
        const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-89);
        const qint64 stepMs = qint64(89) * 24 * 3600 * 1000 / rows;
        THistoryOptions options;
        THistoryStore store(
            file, [](const QString &m) { std::fprintf(stderr, "%s\n", qPrintable(m)); }, options);
        QElapsedTimer t;
        t.start();
        double queueMs = 0;
        for (int i = 0; i < rows; ++i) {
            const TTrafficEvent e = MakeEvent(random, start.addMSecs(stepMs * i));
            QElapsedTimer q;
            q.start();
            store.TrafficEvent(e);
            queueMs += Ms(q);
            // Faster than any radio: let the writer keep up, or its queue limit drops events.
            if (i % 50000 == 49999)
                store.Flush(600s);
        }
        store.Flush(600s);
        std::printf(
            "fill: %d rows in %.0f ms (%.0f rows/s), %llu commits; caller's queue cost %.2f us/event\n", rows,
            Ms(t), rows / (Ms(t) / 1000), static_cast<unsigned long long>(store.Batches()),
            queueMs * 1000 / rows);
    }
    std::printf("file: %.1f MB\n", double(QFileInfo(file).size()) / 1e6);

    // 2. The window: from show() to the first page on screen.
    {
        QElapsedTimer t;
        t.start();
        THistoryForm form(file);
        form.show();
        QApplication::processEvents();
        std::printf("History window: first page (%d rows) shown %.1f ms after opening\n",
                    form.Model()->rowCount(), Ms(t));
        // Scrolling to the end of what is loaded fetches the next page.
        t.restart();
        form.Model()->fetchMore({});
        std::printf("next page: %.1f ms\n", Ms(t));
    }

    // 3. Filters: the first page of each, as the window asks for it.
    THistoryQuery query(file);
    struct TCase {
        const char *label;
        THistoryFilter filter;
    };
    THistoryFilter byName, byNumber, byUnnamed, byText, rareText, noMatch, byKind, byDay;
    byName.station = QStringLiteral("Truck");
    byNumber.station = QStringLiteral("102-1025");
    byUnnamed.station = QStringLiteral("105");
    byText.text = QStringLiteral("need help");
    rareText.text = QStringLiteral("road closed clear fuel");
    noMatch.station = QStringLiteral("Nobody");
    byKind.kind = TrafficKind::LongMessage;
    byDay.since = QDateTime::currentDateTime().addDays(-30);
    byDay.until = QDateTime::currentDateTime().addDays(-29);
    const TCase cases[] = {{"station name 'Truck'", byName},  {"station 102-1025", byNumber},
                           {"station number 105", byUnnamed}, {"text 'need help'", byText},
                           {"text, rare", rareText},          {"station with no rows (whole scan)", noMatch},
                           {"kind long message", byKind},     {"one day a month ago", byDay}};
    for (const TCase &c : cases) {
        QElapsedTimer t;
        t.start();
        const QList<THistoryRow> page = query.Page(c.filter, std::nullopt, THistoryModel::PageSize);
        std::printf("filter %-36s %4lld rows  %7.1f ms\n", c.label, static_cast<long long>(page.size()),
                    Ms(t));
    }

    // 4. Export of everything.
    {
        QFile out(dir.filePath(QStringLiteral("all.csv")));
        out.open(QIODevice::WriteOnly);
        QElapsedTimer t;
        t.start();
        const double cpu = CpuMs();
        const qint64 written = query.ExportCsv({}, out);
        out.close();
        std::printf("export: %lld rows, %.1f MB of CSV in %.0f ms (cpu %.0f ms)\n",
                    static_cast<long long>(written), double(out.size()) / 1e6, Ms(t), CpuMs() - cpu);
    }
    // 5. The retention: a 9-day KeepDays deletes about 90 % of the 89 days, in one
    // transaction, then gives the pages back.
    {
        const auto bytes = [&] {
            return QFileInfo(file).size() + QFileInfo(file + QStringLiteral("-wal")).size();
        };
        const qint64 before = bytes();
        THistoryOptions options;
        options.retentionDays = 9;
        QElapsedTimer t;
        t.start();
        qint64 kept = 0;
        {
            THistoryStore store(
                file, [](const QString &m) { std::fprintf(stderr, "%s\n", qPrintable(m)); }, options);
            store.Flush(600s);
            std::printf("purge to 9 days: %.0f ms\n", Ms(t));
            THistoryQuery query(file);
            std::optional<qint64> last;
            for (QList<THistoryRow> page; !(page = query.Page({}, last, 100000)).isEmpty();
                 last = page.last().id)
                kept += page.size();
        }
        std::printf("file %.1f MB before, %.1f MB after, %lld of %d rows kept (%.1f %% of the file gone)\n",
                    double(before) / 1e6, double(bytes()) / 1e6, static_cast<long long>(kept), rows,
                    100.0 * double(before - bytes()) / double(before));
    }
    return 0;
}

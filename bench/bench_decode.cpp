// Intake + decode + name lookup as the reader thread runs them, without windows:
// a realistic mix of frames is fed to TFrameIntake in reads of a fixed size,
// every frame is decoded and applied to a popup host and a log that only count.
// Prints figures; never fails on a slow machine.
#include "ConsoleFiles.h"
#include "Decoder.h"
#include "Frame.h"
#include "FrameIntake.h"
#include "MemoryTable.h"
#include "PopupDispatch.h"
#include "Recorders.h"
#include "SampleTables.h"
#include "StationId.h"
#include "Table.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <random>
#include <time.h>

namespace {

struct TMix {
    QByteArray stream; // the frames back to back, with a little line noise
    int frames = 0;
    int events = 0; // frames other than acknowledgements
    QMap<QString, int> kinds;
};

QByteArray Station(std::mt19937 &rng)
{
    // Mostly stations of the sample directory, some the directory does not know.
    static const char *known[] = {"1001000", "1001001", "1011101", "1011102", "1021203"};
    static const char *unknown[] = {"1103000", "1103001", "2004000", "2004001", "3494999", "1501500"};
    if (rng() % 10 < 8)
        return known[rng() % std::size(known)];
    return unknown[rng() % std::size(unknown)];
}

QByteArray Text(std::mt19937 &rng, int length)
{
    static const char words[] = "Return to base. Road closed at the bridge, use the north gate.\r\n";
    QByteArray text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text += words[(i + int(rng() % 3)) % (sizeof words - 1)];
    return text;
}

TMix MakeMix(int count)
{
    std::mt19937 rng(7);
    TMix mix;
    const auto add = [&](const char *kind, const QByteArray &payload, bool event) {
        mix.stream += BuildFrame(payload);
        ++mix.frames;
        mix.events += event ? 1 : 0;
        ++mix.kinds[QString::fromLatin1(kind)];
        if (rng() % 50 == 0)
            mix.stream += "\x00\xff"; // noise between frames, dropped by the intake
    };
    static const char *statuses[] = {"10", "20", "21", "23", "25", "30", "95", "99", "07", "58"};
    for (int i = 0; i < count; ++i) {
        const unsigned pick = rng() % 100;
        if (pick < 25) {
            add("ack", QByteArray(1, char('0' + rng() % 4)), false);
        } else if (pick < 35) {
            add("voice call", "B" + Station(rng), true);
        } else if (pick < 43) {
            add("call end", "D" + Station(rng), true);
        } else if (pick < 63) {
            const char *number = statuses[rng() % std::size(statuses)]; // the last two are unknown
            add("status", "E" + Station(rng) + number, true);
        } else if (pick < 75) {
            add("short message", "F" + Station(rng) + Text(rng, 5 + int(rng() % 60)), true);
        } else if (pick < 79) {
            // Long messages: mostly a few hundred bytes, now and then the full 4000.
            const int length = rng() % 8 == 0 ? 4000 : 100 + int(rng() % 900);
            add("long message", "G" + Station(rng) + Text(rng, length), true);
        } else if (pick < 89) {
            const QByteArray s = Station(rng);
            add("ptt id", "I" + QByteArray(rng() % 2 ? "1" : "0") + s + s, true);
        } else {
            QByteArray from = Station(rng), to = Station(rng);
            if (from == to)
                to = "1021203";
            add("call decode", "I" + QByteArray(rng() % 2 ? "1" : "0") + from + to, true);
        }
    }
    return mix;
}

struct TRun {
    qint64 frames = 0;
    qint64 events = 0;
    qint64 nanoseconds = 0;    // wall time
    qint64 cpuNanoseconds = 0; // this thread's CPU time: the figure that counts on a shared machine
};

qint64 ThreadCpuNanoseconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Feeds the stream passes times in reads of readSize bytes.
TRun Run(const TMix &mix, int passes, qsizetype readSize, ITableCursor *users, ITableCursor *statuses,
         TCountingLog &log)
{
    TCountingHost host;
    TFrameIntake intake;
    TRun run;
    QElapsedTimer timer;
    timer.start();
    const qint64 cpuStart = ThreadCpuNanoseconds();
    for (int p = 0; p < passes; ++p) {
        for (qsizetype off = 0; off < mix.stream.size(); off += readSize) {
            const QByteArrayView read =
                QByteArrayView(mix.stream).sliced(off, std::min(readSize, mix.stream.size() - off));
            for (const QByteArray &frame : intake.Feed(read)) {
                ++run.frames;
                if (!users)
                    continue;
                const TDecodeResult result = DecodeReceivedFrame(frame, *users, *statuses);
                ApplyDecodeResult(result, host, 0xFF, log);
            }
        }
    }
    run.nanoseconds = timer.nsecsElapsed();
    run.cpuNanoseconds = ThreadCpuNanoseconds() - cpuStart;
    run.events = qint64(mix.events) * passes;
    return run;
}

void Print(const char *what, const TRun &run)
{
    const double cpu = double(run.cpuNanoseconds) / 1e9;
    const double wall = double(run.nanoseconds) / 1e9;
    std::printf("%-44s %7lld frames  CPU %7.3f s  wall %7.3f s  %9.0f event frames/s  %9.0f frames/s  %7.2f "
                "us/frame\n",
                what, static_cast<long long>(run.frames), cpu, wall, double(run.events) / cpu,
                double(run.frames) / cpu, cpu * 1e6 / double(run.frames));
}

QString CopySample(const QString &name, const QDir &dir)
{
    const QString target = CopySampleTable(name, dir);
    if (target.isEmpty()) {
        std::fprintf(stderr, "cannot copy the sample table %s\n", qPrintable(name));
        std::exit(1);
    }
    return target;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int passes = 20;
    if (argc > 1)
        passes = std::max(1, std::atoi(argv[1]));
    const TMix mix = MakeMix(10000);
    std::printf("mix: %d frames (%d events), %lld bytes per pass, %d passes; read size 256 bytes\n",
                mix.frames, mix.events, static_cast<long long>(mix.stream.size()), passes);
    for (auto it = mix.kinds.cbegin(); it != mix.kinds.cend(); ++it)
        std::printf("  %-14s %5d\n", qPrintable(it.key()), it.value());
    std::printf("\n");

    TCountingLog log;
    Print("intake only", Run(mix, passes, 256, nullptr, nullptr, log));

    {
        TMemoryTable users = TMemoryTable::Users();
        for (const auto &row : QList<QStringList>{{"Base", "100", "1000"},
                                                  {"Yard", "100", "1001"},
                                                  {"Car 1", "101", "1101"},
                                                  {"Car 2", "101", "1102"},
                                                  {"Truck 3", "102", "1203"},
                                                  {"Other", "0", "0"}})
            users.AddRow(row);
        TMemoryTable statuses = TMemoryTable::Statuses();
        for (const auto &row : QList<QStringList>{{"10", "Default"},
                                                  {"20", "On duty"},
                                                  {"21", "Arrived"},
                                                  {"22", "Departed"},
                                                  {"23", "At scene"},
                                                  {"24", "Returning"},
                                                  {"25", "Available"},
                                                  {"30", "On break"},
                                                  {"40", "Off duty"},
                                                  {"95", "Emergency"},
                                                  {"99", "Officer down"}})
            statuses.AddRow(row);
        Print("intake + decode, in-memory tables", Run(mix, passes, 256, &users, &statuses, log));
    }

    {
        QTemporaryDir dir;
        const QDir d(dir.path());
        TTable users(CopySample(UserFileName, d), UserTableDef());
        TTable statuses(CopySample(StatusFileName, d), StatusTableDef());
        const int before = users.RecordCount();
        // The first pass writes the stations the directory lacks (each a committed row).
        Print("intake + decode, SQLite tables, first pass", Run(mix, 1, 256, &users, &statuses, log));
        std::printf("  (%d new stations written to User.DB in the first pass)\n",
                    users.RecordCount() - before);
        Print("intake + decode, SQLite tables", Run(mix, passes, 256, &users, &statuses, log));
    }
    std::printf("\nlog entries: %lld\ntarget: >= 90000 event frames/s (per second of CPU time)\n",
                static_cast<long long>(log.entries));
    return 0;
}

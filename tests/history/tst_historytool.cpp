#include "HistoryFixture.h"
#include "HistoryQuery.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace std::chrono_literals;

class TestHistoryTool : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void matchesLibraryExport_data();
    void matchesLibraryExport();
    void standardOutput();
    void formulasNeutralisedUnlessRaw();
    void refused_data();
    void refused();
    void readOnlyMount();
    void fullDiskKeepsTheOldFile_data();
    void fullDiskKeepsTheOldFile();
    void specialFilesWrittenInPlace_data();
    void specialFilesWrittenInPlace();

private:
    struct TRun {
        int exitCode = -1;
        QByteArray out, err;
    };
    TRun Run(const QStringList &args);
    QByteArray Expected(const THistoryFilter &filter = {});
    QTemporaryDir dir_;
};

TestHistoryTool::TRun TestHistoryTool::Run(const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(dir_.path());
    p.start(QStringLiteral(CORVALINK_HISTORY_TOOL), args);
    TRun r;
    if (!p.waitForFinished(30000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

void TestHistoryTool::initTestCase()
{
    QVERIFY(dir_.isValid());
    TFailures failures;
    THistoryStore store(dir_.filePath(QStringLiteral("history.db")), failures.Sink());
    // Two days of traffic around local midnights, so the day options are exercised.
    const QDateTime day1(QDate(2026, 12, 8), QTime(0, 0)); // local
    const char *names[] = {"Car 1", "Car 2", "Truck \"7\", north", "Ærø"};
    for (int i = 0; i < 200; ++i) {
        const TrafficKind kind = TrafficKind(1 + i % 13);
        TTrafficEvent e = MakeEvent(kind, 101, 1101 + i % 4, QString::fromUtf8(names[i % 4]),
                                    day1.addSecs(i * 900).toUTC(), QStringLiteral("msg %1,\r\nline").arg(i));
        if (kind == TrafficKind::Status) {
            e.status = 90 + i % 10;
            e.statusText = QStringLiteral("Status text");
        }
        store.TrafficEvent(e);
    }
    QVERIFY(store.Flush(10s));
}

void TestHistoryTool::matchesLibraryExport_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("station");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QDateTime>("since");
    QTest::addColumn<QDateTime>("until");
    const QDateTime none;
    QTest::newRow("all") << QStringList{} << "" << 0 << none << none;
    QTest::newRow("station name") << QStringList{"--station", "truck"} << "truck" << 0 << none << none;
    QTest::newRow("station number") << QStringList{"--station", "101-1102"} << "101-1102" << 0 << none
                                    << none;
    QTest::newRow("kind") << QStringList{"--kind", "short message"} << "" << int(TrafficKind::ShortMessage)
                          << none << none;
    QTest::newRow("kind other case") << QStringList{"--kind", "ptt id"} << "" << int(TrafficKind::PttId)
                                     << none << none;
    // --until a day includes that whole day.
    QTest::newRow("days") << QStringList{"--since", "2026-12-08", "--until", "2026-12-08"} << "" << 0
                          << QDateTime(QDate(2026, 12, 8), QTime(0, 0))
                          << QDateTime(QDate(2026, 12, 9), QTime(0, 0));
    QTest::newRow("moments") << QStringList{"--since", "2026-12-08T06:00:00", "--until",
                                            "2026-12-08T07:00:00"}
                             << "" << 0 << QDateTime(QDate(2026, 12, 8), QTime(6, 0))
                             << QDateTime(QDate(2026, 12, 8), QTime(7, 0));
    QTest::newRow("all options") << QStringList{"--station", "Car 1",   "--kind",
                                                "call",      "--since", "2026-12-08"}
                                 << "Car 1" << int(TrafficKind::Call)
                                 << QDateTime(QDate(2026, 12, 8), QTime(0, 0)) << none;
}

void TestHistoryTool::matchesLibraryExport()
{
    QFETCH(QStringList, options);
    QFETCH(QString, station);
    QFETCH(int, kind);
    QFETCH(QDateTime, since);
    QFETCH(QDateTime, until);
    const QString out = dir_.filePath(QStringLiteral("out.csv"));
    QFile::remove(out);
    const TRun run = Run(QStringList{"export"} + options + QStringList{"--csv", out});
    QVERIFY2(run.exitCode == 0, run.err.constData());

    THistoryFilter filter;
    filter.station = station;
    if (kind)
        filter.kind = TrafficKind(kind);
    filter.since = since;
    filter.until = until;
    THistoryQuery query(dir_.filePath(QStringLiteral("history.db")));
    QBuffer expected;
    expected.open(QIODevice::WriteOnly);
    const qint64 rows = query.ExportCsv(filter, expected);
    QVERIFY(rows > 0); // every row of the table selects something
    if (!options.isEmpty())
        QVERIFY(rows < 200);

    QFile got(out);
    QVERIFY(got.open(QIODevice::ReadOnly));
    QCOMPARE(got.readAll(), expected.data());
    QVERIFY(run.err.contains(QByteArray(QByteArray::number(rows) + " rows")));
}

void TestHistoryTool::standardOutput()
{
    const TRun run = Run({"export", "--kind", "warning", "--csv", "-"});
    QCOMPARE(run.exitCode, 0);
    THistoryQuery query(dir_.filePath(QStringLiteral("history.db")));
    QBuffer expected;
    expected.open(QIODevice::WriteOnly);
    THistoryFilter filter;
    filter.kind = TrafficKind::Warning;
    query.ExportCsv(filter, expected);
    QCOMPARE(run.out, expected.data());
}

void TestHistoryTool::formulasNeutralisedUnlessRaw()
{
    const QString path = dir_.filePath(QStringLiteral("formulas.db"));
    {
        TFailures failures;
        THistoryStore store(path, failures.Sink());
        store.TrafficEvent(MakeEvent(TrafficKind::ShortMessage, 101, 1102, "+10-1102",
                                     QDateTime(QDate(2026, 12, 9), QTime(10, 0), Qt::UTC), "=1+2"));
        QVERIFY(store.Flush(5s));
    }
    const QByteArray safe = Run({"export", "--history", path, "--csv", "-"}).out;
    const QByteArray raw = Run({"export", "--history", path, "--raw", "--csv", "-"}).out;
    QVERIFY2(safe.contains(",'+10-1102,") && safe.contains(",'=1+2,"), safe.constData());
    QVERIFY2(raw.contains(",+10-1102,") && raw.contains(",=1+2,"), raw.constData());
    QCOMPARE(QByteArray(safe).replace('\'', ""), raw);
}

void TestHistoryTool::refused_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("no command") << QStringList{} << 2 << "Usage";
    QTest::newRow("other command") << QStringList{"import"} << 2 << "Usage";
    QTest::newRow("no csv") << QStringList{"export"} << 2 << "--csv FILE is required";
    QTest::newRow("bad date") << QStringList{"export", "--since", "yesterday", "--csv", "x.csv"} << 2
                              << "'yesterday' is not a date";
    QTest::newRow("bad kind") << QStringList{"export", "--kind", "fax", "--csv", "x.csv"} << 2
                              << "'fax' is not a kind";
    QTest::newRow("option without value") << QStringList{"export", "--csv"} << 2 << "needs a value";
    QTest::newRow("missing history") << QStringList{"export", "--history", "none.db", "--csv", "x.csv"} << 1
                                     << "none.db";
    QTest::newRow("a directory") << QStringList{"export", "--csv", "."} << 1 << ". is a directory";
    QTest::newRow("unwritable output")
        << QStringList{"export", "--csv", "no/such/dir/x.csv"} << 1 << "no/such/dir/x.csv";
}

void TestHistoryTool::refused()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const TRun run = Run(args);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(QString::fromLocal8Bit(run.err).contains(message), run.err.constData());
    // A reader: nothing about the console going on without its history.
    QVERIFY2(!run.err.contains("console goes on"), run.err.constData());
    QVERIFY(!QFile::exists(dir_.filePath(QStringLiteral("x.csv"))));
}

QByteArray TestHistoryTool::Expected(const THistoryFilter &filter)
{
    THistoryQuery query(dir_.filePath(QStringLiteral("history.db")));
    QBuffer expected;
    expected.open(QIODevice::WriteOnly);
    query.ExportCsv(filter, expected);
    return expected.data();
}

void TestHistoryTool::readOnlyMount()
{
    // A copy of the console's history on a read-only medium, as the console left it.
    TSmallDisk disk(dir_.filePath(QStringLiteral("readonly")), "size=4m");
    if (!disk.Mounted())
        QSKIP("mounting a tmpfs is not permitted here");
    const QString copy = disk.FilePath(QStringLiteral("history.db"));
    QVERIFY(QFile::copy(dir_.filePath(QStringLiteral("history.db")), copy));
    QVERIFY(disk.MakeReadOnly());
    const TRun run = Run({"export", "--history", copy, "--csv", "-"});
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(run.out, Expected());
}

void TestHistoryTool::fullDiskKeepsTheOldFile_data()
{
    QTest::addColumn<int>("freeBytes");
    QTest::newRow("full before the export") << 0;
    QTest::newRow("full during the export") << 8192;
}

void TestHistoryTool::fullDiskKeepsTheOldFile()
{
    QFETCH(int, freeBytes);
    TSmallDisk disk(dir_.filePath(QStringLiteral("small")));
    if (!disk.Mounted())
        QSKIP("mounting a tmpfs is not permitted here");
    QVERIFY(Expected().size() > 2 * freeBytes);
    const QString out = disk.FilePath(QStringLiteral("old.csv"));
    {
        QFile old(out);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old contents\r\n");
    }
    QVERIFY(disk.Fill(freeBytes));
    const TRun run = Run({"export", "--csv", out});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(out.toLocal8Bit()) && run.err.contains("No space left on device"),
             run.err.constData());
    QFile old(out);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old contents\r\n"));
    QCOMPARE(QDir(disk.FilePath({})).entryList(QDir::Files | QDir::Hidden),
             (QStringList{".filler", "old.csv"}));
}

void TestHistoryTool::specialFilesWrittenInPlace_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("FIFO") << "fifo" << 0;
    QTest::newRow("device that discards") << "null" << 0;
    QTest::newRow("device that is always full") << "full" << 1;
    QTest::newRow("standard output by name") << "/dev/stdout" << 0;
}

void TestHistoryTool::specialFilesWrittenInPlace()
{
    QFETCH(QString, target);
    QFETCH(int, exitCode);
    const QString path = target.startsWith('/') ? target : dir_.filePath(target);
    const QByteArray native = QFile::encodeName(path);
    int fifo = -1;
    if (target == QStringLiteral("fifo")) {
        // The reader is there before the tool; the export fits the pipe's buffer.
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        fifo = ::open(native.constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(fifo >= 0);
    } else if (!target.startsWith('/') &&
               ::mknod(native.constData(), S_IFCHR | 0600, makedev(1, target == "null" ? 3 : 7)) != 0) {
        QSKIP("making a device node is not permitted here");
    }
    const TRun run = Run({"export", "--csv", path});
    QByteArray read;
    if (fifo >= 0) {
        char chunk[4096];
        for (ssize_t n; (n = ::read(fifo, chunk, sizeof chunk)) > 0;)
            read.append(chunk, n);
        ::close(fifo);
    }
    QCOMPARE(run.exitCode, exitCode);
    if (target == QStringLiteral("fifo"))
        QCOMPARE(read, Expected());
    if (target == QStringLiteral("/dev/stdout"))
        QCOMPARE(run.out, Expected());
    if (exitCode)
        QVERIFY2(run.err.contains("No space left on device"), run.err.constData());
    // Still what it was: not replaced by a plain file.
    struct stat st {};
    QCOMPARE(::stat(native.constData(), &st), 0);
    QVERIFY(!S_ISREG(st.st_mode));
    if (!target.startsWith('/'))
        QFile::remove(path);
}

QTEST_GUILESS_MAIN(TestHistoryTool)
#include "tst_historytool.moc"

#include "HistoryDatabase.h"
#include "HistoryFixture.h"
#include "HistoryQuery.h"
#include "HistoryStore.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const QDateTime Now(QDate(2026, 12, 9), QTime(12, 0), Qt::UTC);

// Rows apartSecs apart, newest first, each with a text, and an
// acknowledged alarm from long ago.
void Fill(const QString &path, int rows, const QDateTime &newest, qint64 apartSecs = 60, int padding = 0)
{
    TFailures failures;
    THistoryOptions options;
    options.retentionDays = 0;
    options.maxBatch = 20000;
    THistoryStore store(path, failures.Sink(), options);
    for (int i = 0; i < rows; ++i)
        store.TrafficEvent(MakeEvent(TrafficKind::ShortMessage, 101, 1000 + i % 50, QStringLiteral("Car"),
                                     newest.addSecs(-qint64(i) * apartSecs),
                                     QStringLiteral("message number %1 ").arg(i) + QString(padding, 'x')));
    store.AlarmOpened(
        {1, newest.addDays(-200), 101, 1000, "Car", 95, "Emergency", newest.addDays(-199), false});
    QVERIFY(store.Flush(60s));
    QVERIFY(failures.Messages().isEmpty());
}

qint64 FileBytes(const QString &path)
{
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

int Count(const QString &path, const QString &table = QStringLiteral("event"))
{
    return HistoryScalar(path, QStringLiteral("SELECT count(*) FROM ") + table).toInt();
}

} // namespace

class TestHistoryRetention : public QObject {
    Q_OBJECT
private slots:
    void init();
    void killedDuringPurge_data();
    void killedDuringPurge();
    void textIndexOutOfStepIsRebuilt();
    void purgeGivesSpaceBack_data();
    void purgeGivesSpaceBack();
    void clockFarOffNeverDeletes_data();
    void clockFarOffNeverDeletes();

private:
    QString Path() const { return dir_->filePath(QStringLiteral("history.db")); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestHistoryRetention::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestHistoryRetention::killedDuringPurge_data()
{
    // -1: the moment another program first sees the purge's work in the file.
    QTest::addColumn<int>("killAfterMs");
    QTest::newRow("at the first change seen") << -1;
    QTest::newRow("after 20 ms") << 20;
    QTest::newRow("after 80 ms") << 80;
    QTest::newRow("after 250 ms") << 250;
}

void TestHistoryRetention::killedDuringPurge()
{
    QFETCH(int, killAfterMs);
    // 40,000 minutes: 27.8 days kept of a 30-day retention would keep all; the
    // clock below is 10 days on, so 40,000 - 28,800 rows go.
    constexpr int Rows = 40000;
    Fill(Path(), Rows, Now);
    const QDateTime later = Now.addDays(10);
    const int indexed = Count(Path(), QStringLiteral("event_text_docsize"));
    QCOMPARE(indexed, Rows);

    const pid_t child = fork();
    if (child == 0) {
        THistoryOptions options;
        options.retentionDays = 30;
        options.clock = [later] { return later; };
        THistoryStore store(Path(), {}, options);
        for (;;)
            pause();
    }
    QVERIFY(child > 0);
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (killAfterMs >= 0
                ? timer.elapsed() >= killAfterMs
                : Count(Path(), QStringLiteral("event_text_docsize")) < indexed || Count(Path()) < Rows)
            break;
        if (timer.elapsed() > 30000)
            break;
        QTest::qSleep(killAfterMs >= 0 ? 1 : 0);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY(WIFSIGNALED(status));

    // Either all of the purge happened or none of it.
    const int left = Count(Path());
    QVERIFY2(left == Rows || left == 28801, qPrintable(QString::number(left)));
    QVERIFY(TextIndexInStep(Path()));

    // The next start purges what is left to purge and goes on storing.
    TFailures failures;
    THistoryOptions options;
    options.retentionDays = 30;
    options.clock = [later] { return later; };
    {
        THistoryStore store(Path(), failures.Sink(), options);
        store.TrafficEvent(MakeEvent(TrafficKind::ShortMessage, 101, 1000, "Car", later, "after the kill"));
        QVERIFY(store.Flush(30s));
    }
    QVERIFY2(failures.Messages().isEmpty(), qPrintable(failures.Messages().join('\n')));
    QCOMPARE(Count(Path()), 28802);
    THistoryQuery query(Path());
    THistoryFilter filter;
    filter.text = QStringLiteral("after the kill");
    QCOMPARE(query.Page(filter, std::nullopt, 10).size(), 1);
    filter.text = QStringLiteral("message number 39999");
    QVERIFY(query.Page(filter, std::nullopt, 10).isEmpty());
}

void TestHistoryRetention::textIndexOutOfStepIsRebuilt()
{
    // What a kill between an older console's separate purge steps left: the index
    // has forgotten rows the table still holds.
    Fill(Path(), 3000, Now);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("damage"));
        db.setDatabaseName(Path());
        QVERIFY(db.open());
        QSqlQuery damage(db);
        QVERIFY(damage.exec(
            QStringLiteral("INSERT INTO event_text (event_text, rowid, text, status_text) "
                           "SELECT 'delete', id, text, status_text FROM event WHERE id <= 2000")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("damage"));
    QVERIFY(!TextIndexInStep(Path()));

    TFailures failures;
    THistoryOptions options;
    options.retentionDays = 1; // 1,560 of the rows are older than a day
    options.clock = [] { return Now; };
    {
        THistoryStore store(Path(), failures.Sink(), options);
        store.TrafficEvent(MakeEvent(TrafficKind::ShortMessage, 101, 1000, "Car", Now, "stored again"));
        QVERIFY(store.Flush(30s));
        QVERIFY(store.Working());
    }
    QVERIFY2(failures.Messages().isEmpty(), qPrintable(failures.Messages().join('\n')));
    QVERIFY(TextIndexInStep(Path()));
    QCOMPARE(Count(Path()), 1441 + 1);
    THistoryQuery query(Path());
    THistoryFilter filter;
    filter.text = QStringLiteral("message number 1440");
    QCOMPARE(query.Page(filter, std::nullopt, 10).size(), 1);
    filter.text = QStringLiteral("stored again");
    QCOMPARE(query.Page(filter, std::nullopt, 10).size(), 1);
}

void TestHistoryRetention::purgeGivesSpaceBack_data()
{
    QTest::addColumn<bool>("madeBeforeVacuum");
    QTest::newRow("new file") << false;
    QTest::newRow("file made before, converted when idle") << true;
}

void TestHistoryRetention::purgeGivesSpaceBack()
{
    QFETCH(bool, madeBeforeVacuum);
    // 20,000 rows 21.6 minutes apart: a 30-day retention keeps 2,001 of them (10 %).
    Fill(Path(), 20000, Now, 1296, 200);
    if (madeBeforeVacuum) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
        db.setDatabaseName(Path());
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("PRAGMA auto_vacuum=NONE")) && q.exec(QStringLiteral("VACUUM")));
        q = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("old"));
    QCOMPARE(HistoryScalar(Path(), QStringLiteral("PRAGMA auto_vacuum")).toInt(), madeBeforeVacuum ? 0 : 2);
    const qint64 before = FileBytes(Path());
    TFailures failures;
    THistoryOptions options;
    options.retentionDays = 30;
    options.clock = [] { return Now; };
    options.idleBeforeConversion = 300ms;
    {
        THistoryStore store(Path(), failures.Sink(), options);
        QVERIFY2(store.Flush(30s),
                 (QTest::qWait(100), qPrintable(failures.Messages().join(QLatin1Char(10)))));
        QVERIFY2(failures.Messages().isEmpty(), qPrintable(failures.Messages().join(QLatin1Char(10))));
        QCOMPARE(Count(Path()), 2001);
        // While the console runs: the purge (or the conversion after it) gave the pages back.
        QTRY_VERIFY_WITH_TIMEOUT(FileBytes(Path()) <= before / 5, 20000);
        qInfo("%lld bytes before, %lld after deleting 90 %% of the rows", before, FileBytes(Path()));
        QCOMPARE(HistoryScalar(Path(), QStringLiteral("PRAGMA auto_vacuum")).toInt(), 2);
        // And the file still takes traffic.
        store.TrafficEvent(MakeEvent(TrafficKind::Call, 101, 1000, "Car", Now));
        QVERIFY(store.Flush(10s));
    }
    QVERIFY(failures.Messages().isEmpty());
    QVERIFY(TextIndexInStep(Path()));
    QVERIFY(FileBytes(Path()) <= before / 5);
}

void TestHistoryRetention::clockFarOffNeverDeletes_data()
{
    // Relative to the newest row; the retention is 30 days and the rows span 100.
    QTest::addColumn<int>("clockDays");
    QTest::addColumn<int>("kept");
    QTest::addColumn<int>("keptNextDay"); // with a row stored at the clock's time
    QTest::addColumn<int>("messages");
    QTest::newRow("right") << 0 << 31 << 30 << 0;
    QTest::newRow("a day on") << 1 << 30 << 29 << 0;
    QTest::newRow("retention on") << 30 << 1 << 1 << 0;
    QTest::newRow("beyond retention") << 31 << 101 << 102 << 1;
    QTest::newRow("5000 days ahead") << 5000 << 101 << 102 << 1;
    QTest::newRow("a day behind, then right") << -1 << 101 << 31 << 1;
    QTest::newRow("years behind") << -3000 << 101 << 102 << 1;
}

void TestHistoryRetention::clockFarOffNeverDeletes()
{
    QFETCH(int, clockDays);
    QFETCH(int, kept);
    QFETCH(int, keptNextDay);
    QFETCH(int, messages);
    {
        TFailures failures;
        THistoryOptions options;
        options.retentionDays = 0;
        THistoryStore store(Path(), failures.Sink(), options);
        for (int day = 0; day <= 100; ++day)
            store.TrafficEvent(MakeEvent(TrafficKind::Call, 101, 1000, "Car", Now.addDays(-day)));
        store.AlarmOpened({1, Now.addDays(-90), 101, 1000, "Car", 95, "Emergency", Now.addDays(-89), false});
        QVERIFY(store.Flush(10s));
    }
    TFailures failures;
    std::atomic<qint64> clock{HistoryTime(Now.addDays(clockDays))};
    THistoryOptions options;
    options.retentionDays = 30;
    options.clock = [&clock] { return HistoryDateTime(clock.load()); };
    {
        THistoryStore store(Path(), failures.Sink(), options);
        QVERIFY(store.Flush(10s));
        QCOMPARE(Count(Path()), kept);
        QCOMPARE(Count(Path(), QStringLiteral("alarm")), kept == 101 ? 1 : 0);
        // A day later, with traffic stored at the clock's time: a clock still off is
        // not believed for the rows it stamped itself, nor said again.
        clock += 24LL * 3600 * 1000 + 1;
        store.TrafficEvent(MakeEvent(TrafficKind::Call, 101, 1000, "Car", HistoryDateTime(clock.load())));
        QVERIFY(store.Flush(10s));
        QCOMPARE(Count(Path()), keptNextDay);
    }
    QCOMPARE(failures.Messages().size(), messages);
    if (messages)
        QVERIFY2(failures.Messages()[0].contains(QStringLiteral("keeps its old entries")),
                 qPrintable(failures.Messages()[0]));
}

QTEST_GUILESS_MAIN(TestHistoryRetention)
#include "tst_historyretention.moc"

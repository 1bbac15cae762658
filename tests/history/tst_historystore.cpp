#include "HistoryColumns.h"
#include "HistoryDatabase.h"
#include "HistoryFixture.h"
#include "HistoryQuery.h"
#include "HistoryStore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

class TestHistoryStore : public QObject {
    Q_OBJECT
private slots:
    void init();
    void everyFieldStored_data();
    void everyFieldStored();
    void burstCommitsInFewBatches();
    void filters_data();
    void filters();
    void pagesByKey();
    void quietAndBusyStationsAmongManyRows();
    void lockedFileDoesNotStopTheCaller();
    void unusableFile_data();
    void unusableFile();
    void removedWhileRunning();
    void retentionAtStartup();
    void alarmsKeptAcrossRuns();
    void readOnlyQueryNeverCreatesTheFile();
    void fileFromTodayOpensAfterAColumnIsAdded();

private:
    QString Path() const { return dir_->filePath(QStringLiteral("history.db")); }
    std::unique_ptr<QTemporaryDir> dir_;
};

void TestHistoryStore::init()
{
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
}

void TestHistoryStore::everyFieldStored_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("direction");
    for (int k = int(TrafficKind::Call); k <= int(TrafficKind::Warning); ++k)
        for (int d = 0; d <= 2; ++d)
            QTest::addRow("%s %s", qPrintable(TrafficKindText(TrafficKind(k))),
                          qPrintable(TrafficDirectionText(TrafficDirection(d))))
                << k << d;
}

void TestHistoryStore::everyFieldStored()
{
    QFETCH(int, kind);
    QFETCH(int, direction);
    TTrafficEvent e;
    e.time = QDateTime(QDate(2026, 12, 9), QTime(14, 5, 33, 250), Qt::UTC);
    e.direction = TrafficDirection(direction);
    e.kind = TrafficKind(kind);
    e.fleet = 101;
    e.ident = 1102;
    e.name = QStringLiteral("Car 2 – Ærø");
    e.fleet2 = 0;
    e.ident2 = 4999;
    e.name2 = QStringLiteral("000-4999");
    e.status = 95;
    e.statusText = QStringLiteral("Emergency");
    e.statusKnown = true;
    e.text = QStringLiteral("line 1\r\nline \"2\", end");
    e.frame = QByteArray::fromHex("0245313031313130323935ff0003");
    TTrafficEvent bare; // no numbers at all: stored as absent, not as zero
    bare.time = e.time;
    bare.kind = e.kind;
    bare.direction = e.direction;
    {
        TFailures failures;
        THistoryStore store(Path(), failures.Sink());
        store.TrafficEvent(e);
        store.TrafficEvent(bare);
        QVERIFY(store.Flush(5s));
        QVERIFY(failures.Messages().isEmpty());
    }
    THistoryQuery query(Path());
    const QList<THistoryRow> rows = query.Page({}, std::nullopt, 10);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[1].event, e);
    QCOMPARE(rows[0].event, bare);
    QVERIFY(!rows[0].event.fleet && !rows[0].event.status);
}

void TestHistoryStore::burstCommitsInFewBatches()
{
    TFailures failures;
    THistoryOptions options;
    options.batchWindow = 200ms;
    THistoryStore store(Path(), failures.Sink(), options);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 5000; ++i)
        store.TrafficEvent(MakeEvent(TrafficKind::Call, 100, 1000 + i % 10, QStringLiteral("n")));
    // Queuing is all the caller pays: no disk wait per event.
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(store.Flush(10s));
    QVERIFY2(store.Batches() <= 10, qPrintable(QString::number(store.Batches())));
    THistoryQuery query(Path());
    QCOMPARE(query.Page({}, std::nullopt, 10000).size(), 5000);
}

void TestHistoryStore::filters_data()
{
    QTest::addColumn<QString>("station");
    QTest::addColumn<int>("kind"); // 0: any
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sinceHour"); // -1: open
    QTest::addColumn<int>("untilHour");
    QTest::addColumn<QStringList>("texts"); // newest first
    const QStringList all{"e5", "e4", "e3", "e2", "e1"};
    QTest::newRow("everything") << "" << 0 << "" << -1 << -1 << all;
    QTest::newRow("name part any case") << "car" << 0 << "" << -1 << -1 << QStringList{"e4", "e2", "e1"};
    QTest::newRow("second station name") << "Base" << 0 << "" << -1 << -1 << QStringList{"e5", "e3"};
    QTest::newRow("fleet-ident") << "101-1102" << 0 << "" << -1 << -1 << QStringList{"e4", "e2"};
    QTest::newRow("shown label") << "Car 2 (101-1102)" << 0 << "" << -1 << -1 << QStringList{"e4", "e2"};
    QTest::newRow("second station number") << "100-1000" << 0 << "" << -1 << -1 << QStringList{"e5", "e3"};
    QTest::newRow("one number") << "1101" << 0 << "" << -1 << -1 << QStringList{"e1"};
    QTest::newRow("kind") << "" << int(TrafficKind::ShortMessage) << "" << -1 << -1
                          << QStringList{"e4", "e2"};
    QTest::newRow("text any case") << "" << 0 << "HELLO" << -1 << -1 << QStringList{"e2"};
    QTest::newRow("text percent is literal") << "" << 0 << "50%" << -1 << -1 << QStringList{"e4"};
    QTest::newRow("status text") << "" << 0 << "emerg" << -1 << -1 << QStringList{"e1"};
    QTest::newRow("date range") << "" << 0 << "" << 11 << 13 << QStringList{"e3", "e2"};
    QTest::newRow("combined") << "car" << int(TrafficKind::ShortMessage) << "50" << 12 << -1
                              << QStringList{"e4"};
    QTest::newRow("no match") << "Nobody" << 0 << "" << -1 << -1 << QStringList{};
    // The station that was "Truck" and later "Été 7": a name finds the station.
    QTest::newRow("non-ASCII name, other case")
        << QString::fromUtf8("ÉTÉ") << 0 << "" << -1 << -1 << QStringList{"e5", "e3"};
    QTest::newRow("non-ASCII name, lower case")
        << QString::fromUtf8("été 7") << 0 << "" << -1 << -1 << QStringList{"e5", "e3"};
}

void TestHistoryStore::filters()
{
    QFETCH(QString, station);
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(int, sinceHour);
    QFETCH(int, untilHour);
    QFETCH(QStringList, texts);
    const auto at = [](int hour) { return QDateTime(QDate(2026, 12, 9), QTime(hour, 0), Qt::UTC); };
    {
        TFailures failures;
        THistoryStore store(Path(), failures.Sink());
        TTrafficEvent e1 = MakeEvent(TrafficKind::Status, 101, 1101, "Car 1", at(10), "e1");
        e1.status = 95;
        e1.statusText = "Emergency";
        store.TrafficEvent(e1);
        store.TrafficEvent(MakeEvent(TrafficKind::ShortMessage, 101, 1102, "Car 2", at(11), "e2 hello"));
        TTrafficEvent e3 = MakeEvent(TrafficKind::CallDecode, 102, 2000, "Truck", at(12), "e3");
        e3.fleet2 = 100;
        e3.ident2 = 1000;
        e3.name2 = "Base";
        store.TrafficEvent(e3);
        store.TrafficEvent(MakeEvent(TrafficKind::ShortMessage, 101, 1102, "Car 2", at(13), "e4 50%"));
        TTrafficEvent e5 = e3;
        e5.time = at(14);
        e5.text = "e5 500";
        e5.name = QString::fromUtf8("Été 7");
        store.TrafficEvent(e5);
        QVERIFY(store.Flush(5s));
    }
    THistoryFilter filter;
    filter.station = station;
    if (kind)
        filter.kind = TrafficKind(kind);
    filter.text = text;
    if (sinceHour >= 0)
        filter.since = at(sinceHour);
    if (untilHour >= 0)
        filter.until = at(untilHour);
    THistoryQuery query(Path());
    QStringList got;
    for (const THistoryRow &row : query.Page(filter, std::nullopt, 100))
        got << row.event.text.section(' ', 0, 0);
    QCOMPARE(got, texts);
}

void TestHistoryStore::pagesByKey()
{
    {
        TFailures failures;
        THistoryStore store(Path(), failures.Sink());
        for (int i = 0; i < 25; ++i)
            store.TrafficEvent(MakeEvent(TrafficKind::Call, 100, 1000, "A", {}, QString::number(i)));
        QVERIFY(store.Flush(5s));
    }
    THistoryQuery query(Path());
    QStringList seen;
    std::optional<qint64> before;
    for (;;) {
        const QList<THistoryRow> page = query.Page({}, before, 10);
        if (page.isEmpty())
            break;
        for (const THistoryRow &row : page)
            seen << row.event.text;
        before = page.last().id;
    }
    QStringList expected;
    for (int i = 24; i >= 0; --i)
        expected << QString::number(i);
    QCOMPARE(seen, expected);
}

void TestHistoryStore::quietAndBusyStationsAmongManyRows()
{
    // More rows than the newest stretch a station filter looks at first: a quiet
    // station is then found through its index, a busy one from the newest rows.
    constexpr int Rows = 25000;
    {
        TFailures failures;
        THistoryStore store(Path(), failures.Sink());
        for (int i = 0; i < Rows; ++i) {
            TTrafficEvent e = i < 3 ? MakeEvent(TrafficKind::Call, 101, 1101, "Quiet", {}, QString::number(i))
                                    : MakeEvent(TrafficKind::Call, 100, 1000, "Busy", {}, QString::number(i));
            if (i == 4) { // the quiet one as the second station of a call decode
                e.kind = TrafficKind::CallDecode;
                e.fleet2 = 101;
                e.ident2 = 1101;
                e.name2 = "Quiet";
            }
            store.TrafficEvent(e);
        }
        QVERIFY(store.Flush(60s));
    }
    THistoryQuery query(Path());
    for (const QString &station :
         {QStringLiteral("quiet"), QStringLiteral("101-1101"), QStringLiteral("1101")}) {
        THistoryFilter filter;
        filter.station = station;
        QStringList texts;
        for (const THistoryRow &row : query.Page(filter, std::nullopt, 200))
            texts << row.event.text;
        QCOMPARE(texts, (QStringList{"4", "2", "1", "0"}));
    }
    THistoryFilter busy;
    busy.station = QStringLiteral("Busy");
    QList<THistoryRow> page = query.Page(busy, std::nullopt, 200);
    QCOMPARE(page.size(), 200);
    QCOMPARE(page.first().event.text, QString::number(Rows - 1));
    // Paging down to the oldest busy rows, past the quiet ones.
    int seen = 0;
    std::optional<qint64> before;
    while (!(page = query.Page(busy, before, 5000)).isEmpty()) {
        seen += int(page.size());
        before = page.last().id;
    }
    QCOMPARE(seen, Rows - 3); // the call decode has Busy as its first station
}

void TestHistoryStore::lockedFileDoesNotStopTheCaller()
{
    {
        TFailures failures;
        THistoryStore create(Path(), failures.Sink());
        QVERIFY(create.Flush(5s));
    }
    // Another program holds the file's write lock for longer than the store waits,
    // from before the store starts, and again later.
    QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
    other.setDatabaseName(Path());
    QVERIFY(other.open());
    const auto lock = [&] {
        QSqlQuery q(other);
        return q.exec(QStringLiteral("BEGIN EXCLUSIVE")) &&
               q.exec(QStringLiteral("INSERT INTO event (time, direction, kind) VALUES (1, 1, 13)"));
    };
    const auto unlock = [&] { return QSqlQuery(other).exec(QStringLiteral("ROLLBACK")); };
    QVERIFY(lock());
    const QDateTime t(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC);
    {
        TFailures failures;
        THistoryOptions options;
        options.busyTimeoutMs = 100;
        options.retryFirst = 50ms;
        options.retryLongest = 200ms;
        options.maxQueue = 500;
        THistoryStore store(Path(), failures.Sink(), options);
        QElapsedTimer timer;
        timer.start();
        store.AlarmOpened({7, t, 101, 1102, "Car 2", 95, "Emergency", {}, false});
        for (int i = 0; i < 1000; ++i)
            store.TrafficEvent(MakeEvent(TrafficKind::Call, 100, 1000, "A", t, QString::number(i)));
        store.AlarmAcknowledged(7, t.addSecs(30));
        QVERIFY(timer.elapsed() < 500);
        QTRY_COMPARE_WITH_TIMEOUT(failures.Messages().size(), 1, 5000);
        QVERIFY2(failures.Messages()[0].contains(QFileInfo(Path()).absoluteFilePath()) &&
                     failures.Messages()[0].contains(QStringLiteral("locked")),
                 qPrintable(failures.Messages()[0]));
        QVERIFY(!store.Flush(500ms));
        QVERIFY(store.Working());

        QVERIFY(unlock());
        QVERIFY(store.Flush(10s));
        // The newest 500 calls, the alarm and its acknowledgement, and a row saying
        // how many calls were lost.
        QCOMPARE(store.Dropped(), 500u);
        THistoryQuery query(Path());
        const QList<THistoryRow> rows = query.Page({}, std::nullopt, 1000);
        QCOMPARE(rows.size(), 501);
        QCOMPARE(rows[0].event.kind, TrafficKind::Warning);
        QVERIFY2(rows[0].event.text.startsWith(QStringLiteral("500 entries were not stored")),
                 qPrintable(rows[0].event.text));
        QCOMPARE(rows[1].event.text, QStringLiteral("999"));
        QCOMPARE(rows[500].event.text, QStringLiteral("500"));
        QVERIFY(THistoryStore::LoadOpenAlarms(Path()).isEmpty());

        // Locked again later: nothing lost within the bound, and no second box.
        QVERIFY(lock());
        for (int i = 0; i < 100; ++i)
            store.TrafficEvent(MakeEvent(TrafficKind::Call, 100, 1000, "A", t, QStringLiteral("again")));
        QVERIFY(!store.Flush(400ms));
        QVERIFY(unlock());
        QVERIFY(store.Flush(10s));
        THistoryFilter again;
        again.text = QStringLiteral("again");
        QCOMPARE(query.Page(again, std::nullopt, 1000).size(), 100);
        QCOMPARE(failures.Messages().size(), 1);
    }
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("locker"));
}

void TestHistoryStore::unusableFile_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QByteArray>("content"); // written first when not empty
    QTest::addColumn<QString>("reason");
    QTest::newRow("directory missing") << "gone/history.db" << QByteArray() << "";
    QTest::newRow("not a database") << "history.db" << QByteArray(4096, 'x') << "not a database";
    QTest::newRow("a directory") << "dir.db" << QByteArray() << "";
}

void TestHistoryStore::unusableFile()
{
    QFETCH(QString, relative);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString path = dir_->filePath(relative);
    if (!content.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    if (relative == QStringLiteral("dir.db"))
        QVERIFY(QDir(dir_->path()).mkdir(relative));
    TFailures failures;
    THistoryStore store(path, failures.Sink());
    store.TrafficEvent(MakeEvent(TrafficKind::Call, 100, 1000, "A"));
    QTRY_COMPARE_WITH_TIMEOUT(failures.Messages().size(), 1, 5000);
    const QString message = failures.Messages()[0];
    QVERIFY2(message.contains(QFileInfo(path).absoluteFilePath()), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));
    QVERIFY(!store.Working());
    if (!content.isEmpty()) {
        // The file is left as it was: nothing of the operator's is overwritten.
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
    }
}

void TestHistoryStore::removedWhileRunning()
{
    TFailures failures;
    THistoryStore store(Path(), failures.Sink());
    store.TrafficEvent(MakeEvent(TrafficKind::Call, 100, 1000, "A"));
    QVERIFY(store.Flush(5s));
    QVERIFY(QFile::remove(Path()));
    store.TrafficEvent(MakeEvent(TrafficKind::Call, 100, 1000, "A"));
    QVERIFY(!store.Flush(5s));
    QTRY_COMPARE(failures.Messages().size(), 1); // reported from the writer thread
    QVERIFY2(failures.Messages()[0].contains(QStringLiteral("removed")), qPrintable(failures.Messages()[0]));
}

void TestHistoryStore::retentionAtStartup()
{
    const QDateTime now(QDate(2026, 12, 9), QTime(12, 0), Qt::UTC);
    {
        TFailures failures;
        THistoryOptions options;
        options.retentionDays = 0; // keep all while filling
        THistoryStore store(Path(), failures.Sink(), options);
        store.TrafficEvent(MakeEvent(TrafficKind::Call, 100, 1000, "A", now.addDays(-31), "old"));
        store.TrafficEvent(MakeEvent(TrafficKind::Call, 100, 1000, "A", now.addDays(-29), "recent"));
        store.TrafficEvent(MakeEvent(TrafficKind::Call, 100, 1000, "A", now.addSecs(-60), "new"));
        TAlarm open{1, now.addDays(-40), 100, 1000, "A", 95, "Emergency", {}, false};
        TAlarm acked{2, now.addDays(-40), 100, 1000, "A", 96, "Fire", now.addDays(-39), false};
        store.AlarmOpened(open);
        store.AlarmOpened(acked);
        QVERIFY(store.Flush(5s));
    }
    {
        TFailures failures;
        THistoryOptions options;
        options.retentionDays = 30;
        options.clock = [now] { return now; };
        THistoryStore store(Path(), failures.Sink(), options);
        store.TrafficEvent(MakeEvent(TrafficKind::Call, 100, 1000, "A", now, "today"));
        QVERIFY(store.Flush(5s));
    }
    THistoryQuery query(Path());
    QStringList texts;
    for (const THistoryRow &row : query.Page({}, std::nullopt, 10))
        texts << row.event.text;
    QCOMPARE(texts, (QStringList{"today", "new", "recent"}));
    THistoryFilter byText;
    byText.text = QStringLiteral("old");
    QVERIFY(query.Page(byText, std::nullopt, 10).isEmpty());
    byText.text = QStringLiteral("recent");
    QCOMPARE(query.Page(byText, std::nullopt, 10).size(), 1);
    {
        // The text index was told about every row that went.
        QSqlDatabase check = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        check.setDatabaseName(Path());
        QVERIFY(check.open());
        QSqlQuery integrity(check);
        QVERIFY2(integrity.exec(QStringLiteral("INSERT INTO event_text (event_text, rank) VALUES "
                                               "('integrity-check', 1)")),
                 qPrintable(integrity.lastError().text()));
        integrity = QSqlQuery();
        check.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    // An alarm nobody acknowledged outlives the retention; an acknowledged one does not.
    const QList<TAlarm> alarms = THistoryStore::LoadOpenAlarms(Path());
    QCOMPARE(alarms.size(), 1);
    QCOMPARE(alarms[0].id, 1);
}

void TestHistoryStore::alarmsKeptAcrossRuns()
{
    const QDateTime t(QDate(2026, 12, 9), QTime(9, 0), Qt::UTC);
    {
        TFailures failures;
        THistoryStore store(Path(), failures.Sink());
        store.AlarmOpened({7, t, 101, 1102, "Car 2", 95, "Emergency", {}, false});
        store.AlarmOpened({8, t.addSecs(5), 101, 1101, "Car 1", 96, "Fire", {}, false});
        store.AlarmOpened({9, t.addSecs(9), 102, 2000, "Truck", 97, "Medic", {}, false});
        store.AlarmAcknowledged(8, t.addSecs(30));
        QVERIFY(store.Flush(5s));
    }
    const QList<TAlarm> alarms = THistoryStore::LoadOpenAlarms(Path());
    QCOMPARE(alarms.size(), 2);
    QCOMPARE(alarms[0].id, 7);
    QCOMPARE(alarms[0].name, QStringLiteral("Car 2"));
    QCOMPARE(alarms[0].statusText, QStringLiteral("Emergency"));
    QCOMPARE(alarms[0].time, t);
    QVERIFY(alarms[0].restored);
    QCOMPARE(alarms[1].id, 9);
}

void TestHistoryStore::readOnlyQueryNeverCreatesTheFile()
{
    QVERIFY_THROWS_EXCEPTION(EHistoryError, THistoryQuery query(Path()));
    QVERIFY(!QFile::exists(Path()));
    QVERIFY(THistoryStore::LoadOpenAlarms(Path()).isEmpty());
    QVERIFY(!QFile::exists(Path()));
}

void TestHistoryStore::fileFromTodayOpensAfterAColumnIsAdded()
{
    // history.db as the console of December 2026 made it (schema version 1), with a
    // message and an open alarm in it.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("today"));
        db.setDatabaseName(Path());
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const char *sql :
             {"PRAGMA journal_mode=WAL",
              "CREATE TABLE event (id INTEGER PRIMARY KEY, time INTEGER NOT NULL, direction INTEGER NOT "
              "NULL, "
              "kind INTEGER NOT NULL, fleet INTEGER, ident INTEGER, name TEXT, fleet2 INTEGER, ident2 "
              "INTEGER, "
              "name2 TEXT, status INTEGER, status_text TEXT, status_known INTEGER NOT NULL DEFAULT 0, text "
              "TEXT, "
              "frame BLOB)",
              "CREATE INDEX event_time ON event(time)", "CREATE INDEX event_station ON event(fleet, ident)",
              "CREATE INDEX event_kind ON event(kind)",
              "CREATE INDEX event_station2 ON event(fleet2, ident2) WHERE fleet2 IS NOT NULL",
              "CREATE TABLE station (fleet INTEGER NOT NULL, ident INTEGER NOT NULL, name TEXT NOT NULL, "
              "UNIQUE (fleet, ident, name))",
              "CREATE VIRTUAL TABLE event_text USING fts5(text, status_text, content='event', "
              "content_rowid='id', tokenize='trigram')",
              "CREATE TABLE alarm (id INTEGER PRIMARY KEY, time INTEGER NOT NULL, fleet INTEGER, ident "
              "INTEGER, "
              "name TEXT, status INTEGER, status_text TEXT, acknowledged INTEGER)",
              "PRAGMA user_version = 1",
              "INSERT INTO event VALUES (1, 1796000000000, 1, 5, 101, 1102, 'Car 2', NULL, NULL, NULL, NULL, "
              "'', 0, 'old message', X'02410D03')",
              "INSERT INTO event_text (rowid, text, status_text) VALUES (1, 'old message', '')",
              "INSERT INTO station VALUES (101, 1102, 'Car 2')",
              "INSERT INTO alarm VALUES (4, 1796000000000, 101, 1102, 'Car 2', 95, 'Emergency', NULL)"})
            QVERIFY2(q.exec(QLatin1String(sql)), qPrintable(q.lastError().text()));
        q = QSqlQuery();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("today"));
    const auto oldRow = [&] {
        THistoryQuery query(Path());
        THistoryFilter filter;
        filter.text = QStringLiteral("old mess");
        filter.station = QStringLiteral("car 2");
        const QList<THistoryRow> rows = query.Page(filter, std::nullopt, 10);
        return rows.size() == 1 ? THistoryQuery::CsvFields(rows[0]).mid(1) : QStringList();
    };
    const QStringList expected{"in", "short message", "101",        "1102", "Car 2", "", "", "", "",
                               "",   "old message",   "02 41 0d 03"};
    QCOMPARE(oldRow(), expected);

    // This console stores into it and keeps its alarm.
    {
        TFailures failures;
        THistoryStore store(Path(), failures.Sink());
        store.TrafficEvent(MakeEvent(TrafficKind::Call, 101, 1101, "Car 1"));
        QVERIFY(store.Flush(5s));
    }
    QCOMPARE(THistoryStore::LoadOpenAlarms(Path()).size(), 1);

    // A console with one column more opens the same file: the column is added, the
    // rows stay, and the schema version says so.
    std::vector<THistoryColumn> more(HistoryColumns().begin(), HistoryColumns().end());
    more.push_back({"operator", "TEXT NOT NULL DEFAULT ''", HistorySchemaVersion() + 1,
                    [](const TTrafficEvent &) { return QVariant(QStringLiteral("desk 2")); },
                    [](TTrafficEvent &, const QVariant &) {},
                    [](const QVariant &v) { return v.toString(); }});
    {
        THistoryConnection connection(Path(), THistoryConnection::TMode::Write);
        PrepareHistorySchema(connection, more);
        QVERIFY(EventColumnsOf(connection).contains(QStringLiteral("operator")));
        QSqlQuery q(connection.Database());
        QVERIFY(q.exec(QStringLiteral("SELECT count(*), min(operator) FROM event")) && q.next());
        QCOMPARE(q.value(0).toInt(), 2);
        QCOMPARE(q.value(1).toString(), QString());
        // Opening again changes nothing.
        PrepareHistorySchema(connection, more);
    }
    QCOMPARE(HistoryScalar(Path(), QStringLiteral("PRAGMA user_version")).toInt(),
             HistorySchemaVersion() + 1);
    QCOMPARE(oldRow(), expected);
    // This console, older than the file now, reads it but never writes to it.
    TFailures failures;
    THistoryStore store(Path(), failures.Sink());
    QVERIFY(!store.Flush(5s));
    QVERIFY(failures.Messages().value(0).contains(QStringLiteral("newer console")));
}

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "tst_historystore.moc"

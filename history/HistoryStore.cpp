#include "HistoryStore.h"

#include "HistoryColumns.h"
#include "HistoryDatabase.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <limits>
#include <memory>

namespace {

QVariant Optional(std::optional<int> value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Int));
}

std::optional<int> OptionalInt(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional<int>(value.toInt());
}

void ExecOrThrow(QSqlQuery &query, const QString &fileName)
{
    if (!query.exec())
        ThrowHistoryError(fileName, query.lastError());
}

constexpr qint64 DayMs = 24LL * 60 * 60 * 1000;
// A clock stepped back by a few minutes (a time server's correction) is no reason
// to skip the day's purge.
constexpr qint64 ClockSlackMs = 10LL * 60 * 1000;

template <typename TItems> std::size_t TrafficIn(const TItems &items)
{
    return std::size_t(std::count_if(items.begin(), items.end(), [](const auto &item) {
        return std::holds_alternative<TTrafficEvent>(item);
    }));
}

QString LockedText(const QString &fileName, std::size_t kept)
{
    return QStringLiteral("The traffic history %1 is locked by another program. The console keeps new "
                          "entries in memory (up to %2) and writes them as soon as the file is free.")
        .arg(QFileInfo(fileName).absoluteFilePath())
        .arg(kept);
}

QString ClockText(const QString &fileName, const QDateTime &now, const QDateTime &newest)
{
    return QStringLiteral("The traffic history %1 keeps its old entries for now: the clock says %2, "
                          "the newest entry is from %3. Old entries are removed when the clock is right.")
        .arg(QFileInfo(fileName).absoluteFilePath(), now.toString(Qt::ISODate), newest.toString(Qt::ISODate));
}

// The text index must list exactly the rows that have a text: an index left out of
// step (a kill in an older console's purge) makes every later delete fail with
// "database disk image is malformed". Counting both is a scan of the table, once
// at start-up; the rebuild reads every text again.
void RepairTextIndexOf(THistoryConnection &connection)
{
    QSqlQuery check(connection.Database());
    if (!check.exec(QStringLiteral(
            "SELECT (SELECT count(*) FROM event_text_docsize) = (SELECT count(*) FROM event WHERE "
            "coalesce(text, '') <> '' OR coalesce(status_text, '') <> '')")) ||
        !check.next())
        ThrowHistoryError(connection.FileName(), check.lastError());
    if (check.value(0).toInt() == 1)
        return;
    check = QSqlQuery();
    // The rebuild indexes every row; rows without a text are taken out again, as the
    // writer never indexes them.
    connection.Exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        connection.Exec(QStringLiteral("INSERT INTO event_text (event_text) VALUES ('rebuild')"));
        connection.Exec(QStringLiteral(
            "INSERT INTO event_text (event_text, rowid, text, status_text) SELECT 'delete', id, text, "
            "status_text FROM event WHERE coalesce(text, '') = '' AND coalesce(status_text, '') = ''"));
        connection.Exec(QStringLiteral("COMMIT"));
    } catch (...) {
        QSqlQuery(connection.Database()).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

} // namespace

QString StationLabel(const QString &name, std::optional<int> fleet, std::optional<int> ident)
{
    if (!fleet || !ident)
        return name;
    const QString number =
        QStringLiteral("%1-%2").arg(*fleet, 3, 10, QLatin1Char('0')).arg(*ident, 4, 10, QLatin1Char('0'));
    if (name.isEmpty() || name == number || name == QStringLiteral("%1-%2").arg(*fleet).arg(*ident))
        return number;
    return name + QStringLiteral(" (") + number + QLatin1Char(')');
}

THistoryStore::THistoryStore(const QString &fileName, TFailure onFailure, THistoryOptions options)
    : fileName_(fileName), onFailure_(std::move(onFailure)), options_(std::move(options))
{
    thread_ = std::thread([this] { Run(); });
}

THistoryStore::~THistoryStore()
{
    {
        std::lock_guard guard(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

QDateTime THistoryStore::Now() const
{
    return options_.clock ? options_.clock() : QDateTime::currentDateTimeUtc();
}

void THistoryStore::TrafficEvent(const TTrafficEvent &event)
{
    if (!working_.load())
        return;
    TTrafficEvent stamped = event;
    if (!stamped.time.isValid())
        stamped.time = Now();
    {
        std::lock_guard guard(lock_);
        queue_.push_back(std::move(stamped));
        ++queued_;
        ++trafficWaiting_;
        DropBeyondBound();
    }
    wake_.notify_one();
}

void THistoryStore::DropBeyondBound()
{
    // A file that has stalled must not take the console's memory with it: the oldest
    // traffic goes, counted; alarms and acknowledgements are never dropped.
    for (auto it = queue_.begin(); trafficWaiting_ > options_.maxQueue && it != queue_.end();) {
        if (!std::holds_alternative<TTrafficEvent>(*it)) {
            ++it;
            continue;
        }
        it = queue_.erase(it);
        --trafficWaiting_;
        ++committed_;
        dropped_.fetch_add(1);
    }
}

void THistoryStore::AlarmOpened(const TAlarm &alarm)
{
    if (!working_.load())
        return;
    {
        std::lock_guard guard(lock_);
        queue_.push_back(alarm);
        ++queued_;
    }
    wake_.notify_one();
}

void THistoryStore::AlarmAcknowledged(qint64 id, const QDateTime &when)
{
    if (!working_.load())
        return;
    {
        std::lock_guard guard(lock_);
        queue_.push_back(TAck{id, when});
        ++queued_;
    }
    wake_.notify_one();
}

bool THistoryStore::Flush(std::chrono::milliseconds timeout)
{
    std::unique_lock guard(lock_);
    const quint64 target = queued_;
    hurry_ = true;
    wake_.notify_one();
    return done_.wait_for(guard, timeout, [&] {
        return (ready_ && committed_ >= target) || !working_.load();
    }) && working_.load();
}

void THistoryStore::Fail(const QString &message)
{
    {
        std::lock_guard guard(lock_);
        working_.store(false);
        committed_ += queue_.size();
        queue_.clear();
        trafficWaiting_ = 0;
    }
    // Said before the waiters wake: whoever sees storing stopped can read why.
    if (onFailure_)
        onFailure_(message);
    done_.notify_all();
}

// The writer thread's connection, its prepared statements and the retention's
// state. Every step throws EHistoryBusy when another program holds the file's lock
// (the caller tries again later) and EHistoryError for anything else.
class THistoryStore::TWriter {
public:
    TWriter(const QString &fileName, const THistoryOptions &options, const TFailure &report)
        : connection_(fileName, THistoryConnection::TMode::Write, options.busyTimeoutMs), options_(options),
          report_(report)
    {
        QSqlDatabase &db = connection_.Database();
        insertEvent_ = QSqlQuery(db);
        insertText_ = QSqlQuery(db);
        insertStation_ = QSqlQuery(db);
        insertAlarm_ = QSqlQuery(db);
        ackAlarm_ = QSqlQuery(db);
        insertText_.prepare(
            QStringLiteral("INSERT INTO event_text (rowid, text, status_text) VALUES (?,?,?)"));
        insertStation_.prepare(
            QStringLiteral("INSERT OR IGNORE INTO station (fleet, ident, name) VALUES (?,?,?)"));
        QStringList names, marks;
        for (const THistoryColumn &column : HistoryColumns()) {
            names << QLatin1String(column.name);
            marks << QStringLiteral("?");
        }
        insertEvent_.prepare(QStringLiteral("INSERT INTO event (%1) VALUES (%2)")
                                 .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(','))));
        insertAlarm_.prepare(QStringLiteral("INSERT OR REPLACE INTO alarm (id, time, fleet, ident, name, "
                                            "status, status_text, acknowledged) VALUES (?,?,?,?,?,?,?,?)"));
        ackAlarm_.prepare(QStringLiteral("UPDATE alarm SET acknowledged = ? WHERE id = ?"));
    }

    void RepairTextIndex() { RepairTextIndexOf(connection_); }

    // Old rows go at start-up and once a day, in one transaction: a kill between the
    // text index and the rows would leave an index that names rows it no longer holds.
    void Purge(qint64 now)
    {
        if (options_.retentionDays <= 0 || (lastPurge_ && now - *lastPurge_ < DayMs))
            return;
        QSqlDatabase &db = connection_.Database();
        const QString &fileName = connection_.FileName();
        const qint64 keepMs = qint64(options_.retentionDays) * DayMs;
        QSqlQuery del(db);
        if (!del.exec(QStringLiteral("SELECT max(time) FROM event")))
            ThrowHistoryError(fileName, del.lastError());
        std::optional<qint64> newest = clockAnchor_;
        if (!newest && del.next() && !del.value(0).isNull())
            newest = del.value(0).toLongLong();
        // A clock far off would take the whole history with it: wait for the next day
        // rather than trust it, and say so once.
        if (newest && (now < *newest - ClockSlackMs || now > *newest + keepMs)) {
            if (!clockAnchor_ && report_)
                report_(ClockText(fileName, HistoryDateTime(now), HistoryDateTime(*newest)));
            clockAnchor_ = newest;
            lastPurge_ = now;
            return;
        }
        clockAnchor_.reset();
        const qint64 cutoff = now - keepMs;
        if (!db.transaction())
            ThrowHistoryError(fileName, db.lastError());
        try {
            // The text index keeps no copy of the texts: it is told what it indexed.
            del.prepare(QStringLiteral(
                "INSERT INTO event_text (event_text, rowid, text, status_text) SELECT 'delete', "
                "id, text, status_text FROM event WHERE time < ? AND (coalesce(text, '') <> '' "
                "OR coalesce(status_text, '') <> '')"));
            del.addBindValue(cutoff);
            ExecOrThrow(del, fileName);
            del.prepare(QStringLiteral("DELETE FROM event WHERE time < ?"));
            del.addBindValue(cutoff);
            ExecOrThrow(del, fileName);
            del.prepare(
                QStringLiteral("DELETE FROM alarm WHERE acknowledged IS NOT NULL AND acknowledged < ?"));
            del.addBindValue(cutoff);
            ExecOrThrow(del, fileName);
            if (!db.commit())
                ThrowHistoryError(fileName, db.lastError());
        } catch (...) {
            db.rollback();
            throw;
        }
        lastPurge_ = now;
        GiveSpaceBack();
    }

    // A file from before incremental vacuum keeps every page it ever had.
    bool NeedsConversion()
    {
        if (conversionDone_)
            return false;
        QSqlQuery mode(connection_.Database());
        conversionDone_ =
            !mode.exec(QStringLiteral("PRAGMA auto_vacuum")) || !mode.next() || mode.value(0).toInt() != 0;
        return !conversionDone_;
    }

    // Rewrites the whole file once. Failing here (no room for the copy) costs only the
    // space; storing goes on, and the next start tries again. A lock throws EHistoryBusy.
    void Convert()
    {
        try {
            connection_.Exec(QStringLiteral("PRAGMA auto_vacuum=INCREMENTAL"));
            connection_.Exec(QStringLiteral("VACUUM"));
            connection_.Exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        } catch (const EHistoryBusy &) {
            throw;
        } catch (const EHistoryError &) {
        }
        conversionDone_ = true;
    }

private:
    // Free pages go back to the file system; the checkpoint moves the shortened file
    // out of the WAL. A reader holding an old snapshot only delays the truncation.
    void GiveSpaceBack()
    {
        QSqlDatabase &db = connection_.Database();
        QSqlQuery vacuum(db);
        if (!vacuum.exec(QStringLiteral("PRAGMA freelist_count")) || !vacuum.next())
            ThrowHistoryError(connection_.FileName(), vacuum.lastError());
        const int freePages = vacuum.value(0).toInt();
        if (freePages > 0) {
            // Each step of the pragma frees one page, and Qt steps a statement without
            // result columns only once: one step per page, all in one transaction.
            if (!db.transaction())
                ThrowHistoryError(connection_.FileName(), db.lastError());
            vacuum.prepare(QStringLiteral("PRAGMA incremental_vacuum"));
            for (int page = 0; page < freePages; ++page) {
                if (!vacuum.exec()) {
                    db.rollback();
                    ThrowHistoryError(connection_.FileName(), vacuum.lastError());
                }
                vacuum.finish(); // resets the statement, which still has pages to go
            }
            if (!db.commit())
                ThrowHistoryError(connection_.FileName(), db.lastError());
        }
        vacuum.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    }

public:
    // The batch in one transaction: all of it or none.
    void Write(const std::vector<TItem> &batch)
    {
        QSqlDatabase &db = connection_.Database();
        const QString &fileName = connection_.FileName();
        // A file deleted under the console would swallow every later write unseen.
        if (!QFileInfo::exists(fileName))
            throw EHistoryError(
                HistoryFailureText(fileName, QStringLiteral("the file has been removed")).toStdString());
        if (!db.transaction())
            ThrowHistoryError(fileName, db.lastError());
        try {
            for (const TItem &item : batch) {
                if (const auto *e = std::get_if<TTrafficEvent>(&item))
                    WriteEvent(*e);
                else if (const auto *a = std::get_if<TAlarm>(&item))
                    WriteAlarm(*a);
                else if (const auto *k = std::get_if<TAck>(&item)) {
                    ackAlarm_.addBindValue(HistoryTime(k->when));
                    ackAlarm_.addBindValue(k->id);
                    ExecOrThrow(ackAlarm_, fileName);
                }
            }
            if (!db.commit())
                ThrowHistoryError(fileName, db.lastError());
        } catch (...) {
            db.rollback();
            throw;
        }
    }

private:
    void WriteEvent(const TTrafficEvent &e)
    {
        const QString &fileName = connection_.FileName();
        for (const THistoryColumn &column : HistoryColumns())
            insertEvent_.addBindValue(column.get(e));
        ExecOrThrow(insertEvent_, fileName);
        const QString text = e.text.left(TrafficTextLimit);
        if (!text.isEmpty() || !e.statusText.isEmpty()) {
            insertText_.addBindValue(insertEvent_.lastInsertId());
            insertText_.addBindValue(text);
            insertText_.addBindValue(e.statusText);
            ExecOrThrow(insertText_, fileName);
        }
        const auto station = [&](std::optional<int> fleet, std::optional<int> ident, const QString &name) {
            if (!fleet || !ident)
                return;
            insertStation_.addBindValue(*fleet);
            insertStation_.addBindValue(*ident);
            insertStation_.addBindValue(name.isNull() ? QString(QLatin1String("")) : name);
            ExecOrThrow(insertStation_, fileName);
        };
        station(e.fleet, e.ident, e.name);
        station(e.fleet2, e.ident2, e.name2);
    }

    void WriteAlarm(const TAlarm &a)
    {
        insertAlarm_.addBindValue(a.id);
        insertAlarm_.addBindValue(HistoryTime(a.time));
        insertAlarm_.addBindValue(Optional(a.fleet));
        insertAlarm_.addBindValue(Optional(a.ident));
        insertAlarm_.addBindValue(a.name);
        insertAlarm_.addBindValue(a.status);
        insertAlarm_.addBindValue(a.statusText);
        insertAlarm_.addBindValue(a.acknowledged.isValid() ? QVariant(HistoryTime(a.acknowledged))
                                                           : QVariant(QMetaType(QMetaType::LongLong)));
        ExecOrThrow(insertAlarm_, connection_.FileName());
    }

    THistoryConnection connection_;
    const THistoryOptions &options_;
    const TFailure &report_;
    QSqlQuery insertEvent_, insertText_, insertStation_, insertAlarm_, ackAlarm_;
    std::optional<qint64> lastPurge_;
    // The newest row when the clock was first found far off: rows stored since carry
    // the wrong clock's times and prove nothing about it.
    std::optional<qint64> clockAnchor_;
    bool conversionDone_ = false;
};

bool THistoryStore::TakeBatch(std::vector<TItem> &batch)
{
    std::unique_lock guard(lock_);
    wake_.wait(guard, [&] { return stop_ || !queue_.empty(); });
    if (queue_.empty())
        return false; // stopping, and all written
    // Let a burst gather so that one commit carries it.
    if (!stop_ && !hurry_ && queue_.size() < std::size_t(options_.maxBatch))
        wake_.wait_for(guard, options_.batchWindow,
                       [&] { return stop_ || hurry_ || queue_.size() >= std::size_t(options_.maxBatch); });
    hurry_ = false;
    const std::size_t take = std::min(queue_.size(), std::size_t(options_.maxBatch));
    batch.assign(std::make_move_iterator(queue_.begin()),
                 std::make_move_iterator(queue_.begin() + qsizetype(take)));
    queue_.erase(queue_.begin(), queue_.begin() + qsizetype(take));
    trafficWaiting_ -= TrafficIn(batch);
    return true;
}

bool THistoryStore::WaitIdle(std::chrono::milliseconds idle)
{
    std::unique_lock guard(lock_);
    return !wake_.wait_for(guard, idle, [&] { return stop_ || !queue_.empty(); });
}

void THistoryStore::Settle(std::size_t items)
{
    {
        std::lock_guard guard(lock_);
        committed_ += items;
        ready_ = true;
    }
    done_.notify_all();
}

void THistoryStore::Run()
{
    std::unique_ptr<TWriter> writer;
    bool repaired = false, started = false, lockReported = false;
    quint64 dropsWritten = 0;
    std::chrono::milliseconds backOff = options_.retryFirst;
    std::vector<TItem> batch;
    std::size_t written = 0; // committed, not yet settled
    for (;;) {
        try {
            if (!writer)
                writer = std::make_unique<TWriter>(fileName_, options_, onFailure_);
            if (!repaired) {
                writer->RepairTextIndex();
                repaired = true;
            }
            if (!started) {
                writer->Purge(HistoryTime(Now()));
                started = true;
                Settle(0);
            }
            if (batch.empty() && writer->NeedsConversion() && WaitIdle(options_.idleBeforeConversion))
                writer->Convert();
            if (batch.empty() && !TakeBatch(batch))
                break;
            const quint64 drops = dropped_.load();
            if (drops > dropsWritten) {
                // What the bound on the queue cost while the file was locked, in the
                // history itself.
                TTrafficEvent lost;
                lost.time = Now();
                lost.direction = TrafficDirection::Local;
                lost.kind = TrafficKind::Warning;
                lost.text = QStringLiteral("%1 entries were not stored: the traffic history was locked and "
                                           "more were waiting than are kept in memory")
                                .arg(drops - dropsWritten);
                batch.push_back(std::move(lost));
                dropsWritten = drops;
                std::lock_guard guard(lock_);
                ++queued_;
            }
            writer->Write(batch);
            written = batch.size();
            batch.clear();
            batches_.fetch_add(1);
            backOff = options_.retryFirst;
            // After the batch: its rows tell the clock check what "now" has been.
            writer->Purge(HistoryTime(Now()));
            Settle(std::exchange(written, 0));
        } catch (const EHistoryBusy &) {
            Settle(std::exchange(written, 0));
            // Another program holds the lock (a backup, sqlite3 left open): keep the
            // entries and the alarms' acknowledgements, say so once, try again.
            if (!lockReported && onFailure_)
                onFailure_(LockedText(fileName_, options_.maxQueue));
            lockReported = true;
            std::unique_lock guard(lock_);
            // The batch waits with the rest, under the same bound.
            trafficWaiting_ += TrafficIn(batch);
            queue_.insert(queue_.begin(), std::make_move_iterator(batch.begin()),
                          std::make_move_iterator(batch.end()));
            batch.clear();
            DropBeyondBound();
            if (stop_) {
                // Closing: what cannot be written now is lost, as after a kill.
                committed_ += queue_.size();
                queue_.clear();
                trafficWaiting_ = 0;
                guard.unlock();
                done_.notify_all();
                break;
            }
            wake_.wait_for(guard, backOff, [&] { return stop_; });
            backOff = std::min(backOff * 2, options_.retryLongest);
        } catch (const EHistoryError &error) {
            Fail(QString::fromUtf8(error.what()));
            Settle(std::exchange(written, 0) + batch.size());
            break;
        }
    }
}

QList<TAlarm> THistoryStore::LoadOpenAlarms(const QString &fileName)
{
    QList<TAlarm> alarms;
    if (!QFileInfo::exists(fileName))
        return alarms;
    THistoryConnection connection(fileName, THistoryConnection::TMode::ReadOnly, 2000);
    {
        QSqlQuery query(connection.Database());
        if (!query.exec(QStringLiteral("SELECT id, time, fleet, ident, name, status, status_text FROM alarm "
                                       "WHERE acknowledged IS NULL ORDER BY time, id")))
            throw EHistoryError(HistoryFailureText(fileName, query.lastError().databaseText()).toStdString());
        while (query.next()) {
            TAlarm alarm;
            alarm.id = query.value(0).toLongLong();
            alarm.time = HistoryDateTime(query.value(1).toLongLong());
            alarm.fleet = OptionalInt(query.value(2));
            alarm.ident = OptionalInt(query.value(3));
            alarm.name = query.value(4).toString();
            alarm.status = query.value(5).toInt();
            alarm.statusText = query.value(6).toString();
            alarm.restored = true;
            alarms.append(alarm);
        }
    }
    return alarms;
}

#include "HistoryStore.h"

#include "HistoryDatabase.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
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
void RepairTextIndex(THistoryConnection &connection)
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
        // A file that has stalled must not take the console's memory with it.
        while (queue_.size() > options_.maxQueue) {
            queue_.pop_front();
            ++committed_;
        }
    }
    wake_.notify_one();
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
    }
    done_.notify_all();
    if (onFailure_)
        onFailure_(message);
}

void THistoryStore::Run()
{
    std::unique_ptr<THistoryConnection> connection;
    try {
        connection = std::make_unique<THistoryConnection>(fileName_, THistoryConnection::TMode::Write,
                                                          options_.busyTimeoutMs);
    } catch (const EHistoryError &error) {
        Fail(QString::fromUtf8(error.what()));
        return;
    }
    QSqlDatabase &db = connection->Database();
    QSqlQuery insertEvent(db), insertAlarm(db), ackAlarm(db), insertText(db), insertStation(db);
    insertText.prepare(QStringLiteral("INSERT INTO event_text (rowid, text, status_text) VALUES (?,?,?)"));
    insertStation.prepare(
        QStringLiteral("INSERT OR IGNORE INTO station (fleet, ident, name) VALUES (?,?,?)"));
    insertEvent.prepare(QStringLiteral(
        "INSERT INTO event (time, direction, kind, fleet, ident, name, fleet2, ident2, name2, status, "
        "status_text, status_known, text, frame) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
    insertAlarm.prepare(QStringLiteral("INSERT OR REPLACE INTO alarm (id, time, fleet, ident, name, status, "
                                       "status_text, acknowledged) VALUES (?,?,?,?,?,?,?,?)"));
    ackAlarm.prepare(QStringLiteral("UPDATE alarm SET acknowledged = ? WHERE id = ?"));

    std::optional<qint64> lastPurge;
    // The newest row when the clock was first found far off: rows stored since carry
    // the wrong clock's times and prove nothing about it.
    std::optional<qint64> clockAnchor;
    // Old rows go at start-up and once a day, in one transaction: a kill between the
    // text index and the rows would leave an index that names rows it no longer holds.
    const auto purge = [&] {
        const qint64 now = HistoryTime(Now());
        if (options_.retentionDays <= 0 || (lastPurge && now - *lastPurge < DayMs))
            return;
        lastPurge = now;
        const qint64 keepMs = qint64(options_.retentionDays) * DayMs;
        QSqlQuery del(db);
        if (!del.exec(QStringLiteral("SELECT max(time) FROM event")))
            ThrowHistoryError(fileName_, del.lastError());
        std::optional<qint64> newest = clockAnchor;
        if (!newest && del.next() && !del.value(0).isNull())
            newest = del.value(0).toLongLong();
        // A clock far off would take the whole history with it: wait for the next day
        // rather than trust it, and say so once.
        if (newest && (now < *newest - ClockSlackMs || now > *newest + keepMs)) {
            if (!clockAnchor && onFailure_)
                onFailure_(ClockText(fileName_, HistoryDateTime(now), HistoryDateTime(*newest)));
            clockAnchor = newest;
            return;
        }
        clockAnchor.reset();
        const qint64 cutoff = now - keepMs;
        if (!db.transaction())
            ThrowHistoryError(fileName_, db.lastError());
        try {
            // The text index keeps no copy of the texts: it is told what it indexed.
            del.prepare(QStringLiteral(
                "INSERT INTO event_text (event_text, rowid, text, status_text) SELECT 'delete', "
                "id, text, status_text FROM event WHERE time < ? AND (coalesce(text, '') <> '' "
                "OR coalesce(status_text, '') <> '')"));
            del.addBindValue(cutoff);
            ExecOrThrow(del, fileName_);
            del.prepare(QStringLiteral("DELETE FROM event WHERE time < ?"));
            del.addBindValue(cutoff);
            ExecOrThrow(del, fileName_);
            del.prepare(
                QStringLiteral("DELETE FROM alarm WHERE acknowledged IS NOT NULL AND acknowledged < ?"));
            del.addBindValue(cutoff);
            ExecOrThrow(del, fileName_);
            if (!db.commit())
                ThrowHistoryError(fileName_, db.lastError());
        } catch (...) {
            db.rollback();
            throw;
        }
    };

    try {
        RepairTextIndex(*connection);
        purge();
    } catch (const EHistoryError &error) {
        Fail(QString::fromUtf8(error.what()));
        return;
    }
    {
        std::lock_guard guard(lock_);
        ready_ = true;
    }
    done_.notify_all();

    std::vector<TItem> batch;
    for (;;) {
        {
            std::unique_lock guard(lock_);
            wake_.wait(guard, [&] { return stop_ || !queue_.empty(); });
            if (queue_.empty() && stop_)
                break;
            // Let a burst gather so that one commit carries it.
            if (!stop_ && !hurry_ && queue_.size() < std::size_t(options_.maxBatch))
                wake_.wait_for(guard, options_.batchWindow, [&] {
                    return stop_ || hurry_ || queue_.size() >= std::size_t(options_.maxBatch);
                });
            hurry_ = false;
            const std::size_t take = std::min(queue_.size(), std::size_t(options_.maxBatch));
            batch.assign(std::make_move_iterator(queue_.begin()),
                         std::make_move_iterator(queue_.begin() + qsizetype(take)));
            queue_.erase(queue_.begin(), queue_.begin() + qsizetype(take));
        }
        try {
            // A file deleted under the console would swallow every later write unseen.
            if (!QFileInfo::exists(fileName_))
                throw EHistoryError(
                    HistoryFailureText(fileName_, QStringLiteral("the file has been removed")).toStdString());
            if (!db.transaction())
                throw EHistoryError(
                    HistoryFailureText(fileName_, db.lastError().databaseText()).toStdString());
            for (const TItem &item : batch) {
                if (const auto *e = std::get_if<TTrafficEvent>(&item)) {
                    insertEvent.addBindValue(HistoryTime(e->time));
                    insertEvent.addBindValue(static_cast<int>(e->direction));
                    insertEvent.addBindValue(static_cast<int>(e->kind));
                    insertEvent.addBindValue(Optional(e->fleet));
                    insertEvent.addBindValue(Optional(e->ident));
                    insertEvent.addBindValue(e->name);
                    insertEvent.addBindValue(Optional(e->fleet2));
                    insertEvent.addBindValue(Optional(e->ident2));
                    insertEvent.addBindValue(e->name2);
                    insertEvent.addBindValue(Optional(e->status));
                    insertEvent.addBindValue(e->statusText);
                    insertEvent.addBindValue(e->statusKnown ? 1 : 0);
                    const QString text = e->text.left(TrafficTextLimit);
                    insertEvent.addBindValue(text);
                    insertEvent.addBindValue(e->frame);
                    ExecOrThrow(insertEvent, fileName_);
                    if (!text.isEmpty() || !e->statusText.isEmpty()) {
                        insertText.addBindValue(insertEvent.lastInsertId());
                        insertText.addBindValue(text);
                        insertText.addBindValue(e->statusText);
                        ExecOrThrow(insertText, fileName_);
                    }
                    const auto station = [&](std::optional<int> fleet, std::optional<int> ident,
                                             const QString &name) {
                        if (!fleet || !ident)
                            return;
                        insertStation.addBindValue(*fleet);
                        insertStation.addBindValue(*ident);
                        insertStation.addBindValue(name.isNull() ? QString(QLatin1String("")) : name);
                        ExecOrThrow(insertStation, fileName_);
                    };
                    station(e->fleet, e->ident, e->name);
                    station(e->fleet2, e->ident2, e->name2);
                } else if (const auto *a = std::get_if<TAlarm>(&item)) {
                    insertAlarm.addBindValue(a->id);
                    insertAlarm.addBindValue(HistoryTime(a->time));
                    insertAlarm.addBindValue(Optional(a->fleet));
                    insertAlarm.addBindValue(Optional(a->ident));
                    insertAlarm.addBindValue(a->name);
                    insertAlarm.addBindValue(a->status);
                    insertAlarm.addBindValue(a->statusText);
                    insertAlarm.addBindValue(a->acknowledged.isValid()
                                                 ? QVariant(HistoryTime(a->acknowledged))
                                                 : QVariant(QMetaType(QMetaType::LongLong)));
                    ExecOrThrow(insertAlarm, fileName_);
                } else if (const auto *k = std::get_if<TAck>(&item)) {
                    ackAlarm.addBindValue(HistoryTime(k->when));
                    ackAlarm.addBindValue(k->id);
                    ExecOrThrow(ackAlarm, fileName_);
                }
            }
            if (!db.commit())
                throw EHistoryError(
                    HistoryFailureText(fileName_, db.lastError().databaseText()).toStdString());
            // After the batch: its rows tell the clock check what "now" has been.
            purge();
        } catch (const EHistoryError &error) {
            db.rollback();
            Fail(QString::fromUtf8(error.what()));
            break;
        }
        batches_.fetch_add(1);
        {
            std::lock_guard guard(lock_);
            committed_ += batch.size();
        }
        batch.clear();
        done_.notify_all();
    }
    insertEvent = QSqlQuery();
    insertText = QSqlQuery();
    insertStation = QSqlQuery();
    insertAlarm = QSqlQuery();
    ackAlarm = QSqlQuery();
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

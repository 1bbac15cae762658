#include "HistoryDatabase.h"

#include "HistoryColumns.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <cerrno>
#include <unistd.h>

namespace {

QAtomicInteger<quint64> connectionCounter;

// Besides the event table (made from the column list): the indexes serve the History
// window's filters and the retention purge. Events are kept in insertion order by id.
const char *const SchemaStatements[] = {
    "CREATE INDEX IF NOT EXISTS event_time ON event(time)",
    "CREATE INDEX IF NOT EXISTS event_station ON event(fleet, ident)",
    // (kind, id): a kind's newest rows come in order, however rare the kind.
    "CREATE INDEX IF NOT EXISTS event_kind ON event(kind)",
    "CREATE INDEX IF NOT EXISTS event_station2 ON event(fleet2, ident2) WHERE fleet2 IS NOT NULL",
    // What each station last sent, by kind: the station board's rebuild at start-up
    // (1M rows: 0.3 s with it, 1.2-2.2 s without; built once, 1.6-2.0 s, on an old file).
    "CREATE INDEX IF NOT EXISTS event_heard ON event(fleet, ident, kind) WHERE direction = 1",
    // Every station and name seen: a name filter becomes a lookup of a few stations.
    "CREATE TABLE IF NOT EXISTS station (fleet INTEGER NOT NULL, ident INTEGER NOT NULL, name TEXT NOT NULL,"
    " UNIQUE (fleet, ident, name))",
    // Substrings of the message and status texts, any case, without reading every row.
    "CREATE VIRTUAL TABLE IF NOT EXISTS event_text USING fts5(text, status_text, content='event',"
    " content_rowid='id', tokenize='trigram')",
    "CREATE TABLE IF NOT EXISTS alarm ("
    " id INTEGER PRIMARY KEY,"
    " time INTEGER NOT NULL,"
    " fleet INTEGER, ident INTEGER, name TEXT,"
    " status INTEGER, status_text TEXT,"
    " acknowledged INTEGER)",
};

} // namespace

QString HistoryFailureText(const QString &fileName, const QString &reason)
{
    return QStringLiteral("The traffic history %1 cannot be used: %2.\nThe console goes on without storing "
                          "its history.")
        .arg(QFileInfo(fileName).absoluteFilePath(), reason);
}

QString HistoryReadFailureText(const QString &fileName, const QString &reason)
{
    return QStringLiteral("The traffic history %1 cannot be read: %2.")
        .arg(QFileInfo(fileName).absoluteFilePath(), reason);
}

void ThrowHistoryError(const QString &fileName, const QSqlError &error)
{
    QString reason = error.databaseText();
    if (reason.isEmpty())
        reason = error.text();
    const std::string message = HistoryFailureText(fileName, reason).toStdString();
    // SQLITE_BUSY and SQLITE_LOCKED, with or without their extended codes.
    const int code = error.nativeErrorCode().toInt();
    if ((code & 0xff) == 5 || (code & 0xff) == 6)
        throw EHistoryBusy(message);
    throw EHistoryError(message);
}

qint64 HistoryTime(const QDateTime &time)
{
    return time.toMSecsSinceEpoch();
}

QDateTime HistoryDateTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

THistoryConnection::THistoryConnection(const QString &fileName, TMode mode, int busyTimeoutMs)
    : fileName_(fileName),
      connectionName_(QStringLiteral("corvalink-history-%1").arg(connectionCounter.fetchAndAddRelaxed(1)))
{
    const auto failure = [&](const QString &reason) {
        return (mode == TMode::ReadOnly ? HistoryReadFailureText(fileName, reason)
                                        : HistoryFailureText(fileName, reason))
            .toStdString();
    };
    if (mode == TMode::ReadOnly && !QFileInfo::exists(fileName))
        throw EHistoryError(failure(QStringLiteral("the file does not exist")));
    db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
    db_.setDatabaseName(fileName);
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs);
    if (mode == TMode::ReadOnly) {
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
        // A WAL file needs its shared-memory file beside it, which a read-only mount
        // (a copy on a CD, a backup mounted read-only) cannot hold. Nothing writes
        // there, so the file can be read as it stands.
        const QFileInfo info(fileName);
        if (::access(QFile::encodeName(info.absolutePath()).constData(), W_OK) != 0 && errno == EROFS) {
            db_.setDatabaseName(QUrl::fromLocalFile(info.absoluteFilePath()).toString(QUrl::FullyEncoded) +
                                QStringLiteral("?immutable=1"));
            options += QStringLiteral(";QSQLITE_OPEN_URI");
        }
    }
    db_.setConnectOptions(options);
    if (!db_.open()) {
        const QString reason = db_.lastError().text();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName_);
        throw EHistoryError(failure(reason));
    }
    try {
        if (mode == TMode::Write) {
            // Pages freed by the purge go back to the file system after it (incremental
            // vacuum). SQLite takes this only before the first table: a new file gets it
            // here, an older one is converted by the writer when it is idle.
            Exec(QStringLiteral("PRAGMA auto_vacuum=INCREMENTAL"));
            // WAL lets the History window read while the writer commits; NORMAL
            // sync loses nothing committed when the process dies, only on power loss.
            Exec(QStringLiteral("PRAGMA journal_mode=WAL"));
            Exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
            // The writer only appends: a small page cache keeps the console's memory
            // flat (SQLite's default would grow it by 2 MB over the first hours).
            Exec(QStringLiteral("PRAGMA cache_size=-256"));
            PrepareHistorySchema(*this, HistoryColumns());
        } else {
            // Reading a file that is not a history (or not a database) fails here,
            // not on the first page.
            QSqlQuery probe(db_);
            if (!probe.exec(QStringLiteral("SELECT id FROM event LIMIT 1")))
                throw EHistoryError(failure(probe.lastError().text()));
        }
    } catch (...) {
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName_);
        throw;
    }
}

THistoryConnection::~THistoryConnection()
{
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

QStringList EventColumnsOf(THistoryConnection &connection)
{
    QSqlQuery info(connection.Database());
    if (!info.exec(QStringLiteral("PRAGMA table_info(event)")))
        ThrowHistoryError(connection.FileName(), info.lastError());
    QStringList names;
    while (info.next())
        names << info.value(1).toString();
    return names;
}

void PrepareHistorySchema(THistoryConnection &connection, std::span<const THistoryColumn> columns)
{
    const QString &fileName = connection.FileName();
    const int current = HistorySchemaVersion(columns);
    QSqlQuery version(connection.Database());
    if (!version.exec(QStringLiteral("PRAGMA user_version")) || !version.next())
        ThrowHistoryError(fileName, version.lastError());
    const int found = version.value(0).toInt();
    version = QSqlQuery();
    if (found > current)
        throw EHistoryError(
            HistoryFailureText(fileName, QStringLiteral("it was written by a newer console")).toStdString());
    // All of it or nothing: a kill in the middle leaves the file as it was.
    connection.Exec(QStringLiteral("BEGIN IMMEDIATE"));
    try {
        const QStringList present = EventColumnsOf(connection);
        if (present.isEmpty()) {
            QStringList definitions{QStringLiteral("id INTEGER PRIMARY KEY")};
            for (const THistoryColumn &column : columns)
                definitions << QStringLiteral("%1 %2").arg(QLatin1String(column.name),
                                                           QLatin1String(column.type));
            connection.Exec(
                QStringLiteral("CREATE TABLE event (%1)").arg(definitions.join(QStringLiteral(", "))));
        } else {
            // The migration: columns added since the file was made.
            for (const THistoryColumn &column : columns)
                if (!present.contains(QLatin1String(column.name)))
                    connection.Exec(QStringLiteral("ALTER TABLE event ADD COLUMN %1 %2")
                                        .arg(QLatin1String(column.name), QLatin1String(column.type)));
        }
        for (const char *statement : SchemaStatements)
            connection.Exec(QLatin1String(statement));
        if (found != current)
            connection.Exec(QStringLiteral("PRAGMA user_version = %1").arg(current));
        connection.Exec(QStringLiteral("COMMIT"));
    } catch (...) {
        QSqlQuery(connection.Database()).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
}

void THistoryConnection::Exec(const QString &sql)
{
    QSqlQuery query(db_);
    if (!query.exec(sql))
        ThrowHistoryError(fileName_, query.lastError());
}

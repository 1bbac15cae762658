#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <span>
#include <stdexcept>

// A history file that cannot be used: the message names the file and says why.
class EHistoryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file is held by another program's lock: worth trying again later.
class EHistoryBusy : public EHistoryError {
public:
    using EHistoryError::EHistoryError;
};

class QSqlError;
// Throws EHistoryBusy for a lock, EHistoryError otherwise; the message names the file.
[[noreturn]] void ThrowHistoryError(const QString &fileName, const QSqlError &error);

// One connection to history.db for the calling thread, closed when this goes.
// Writable opens create the file and its tables; read-only ones require them.
class THistoryConnection {
public:
    enum class TMode { ReadOnly, Write };
    THistoryConnection(const QString &fileName, TMode mode, int busyTimeoutMs = 2000);
    ~THistoryConnection();
    THistoryConnection(const THistoryConnection &) = delete;
    THistoryConnection &operator=(const THistoryConnection &) = delete;

    QSqlDatabase &Database() { return db_; }
    const QString &FileName() const { return fileName_; }

    // Runs one statement; throws EHistoryError naming the file on failure.
    void Exec(const QString &sql);

private:
    QString fileName_;
    QString connectionName_;
    QSqlDatabase db_;
};

struct THistoryColumn;
// Makes the tables of a new file, or brings an older file up to the columns given
// (in one transaction), and sets its schema version. A file of a newer version is
// refused. Throws EHistoryError (EHistoryBusy for a lock).
void PrepareHistorySchema(THistoryConnection &connection, std::span<const THistoryColumn> columns);
// The columns the file's event table has.
QStringList EventColumnsOf(THistoryConnection &connection);

// The message for a failure of the console's history writer: names the file, gives
// the reason, says the console goes on.
QString HistoryFailureText(const QString &fileName, const QString &reason);
// The same for a reader (the History window, corvalink-history).
QString HistoryReadFailureText(const QString &fileName, const QString &reason);

// Times are stored as milliseconds since 1970 UTC.
qint64 HistoryTime(const QDateTime &time);
QDateTime HistoryDateTime(qint64 ms);

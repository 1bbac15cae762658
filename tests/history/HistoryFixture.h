#pragma once

#include "HistoryStore.h"
#include "TrafficEvent.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTest>
#include <mutex>

// Collects the store's failure reports (they arrive on the writer thread).
class TFailures {
public:
    THistoryStore::TFailure Sink()
    {
        return [this](const QString &message) {
            std::lock_guard guard(lock_);
            messages_ << message;
        };
    }
    QStringList Messages()
    {
        std::lock_guard guard(lock_);
        return messages_;
    }

private:
    std::mutex lock_;
    QStringList messages_;
};

inline TTrafficEvent MakeEvent(TrafficKind kind, int fleet, int ident, const QString &name,
                               const QDateTime &time = {}, const QString &text = {})
{
    TTrafficEvent e;
    e.time = time;
    e.kind = kind;
    e.direction = TrafficDirection::In;
    e.fleet = fleet;
    e.ident = ident;
    e.name = name;
    e.text = text;
    e.frame = QByteArray("\x02X\x03");
    return e;
}

// One value read from the file through a connection of its own (a second program
// looking at it).
inline QVariant HistoryScalar(const QString &fileName, const QString &sql)
{
    static int counter = 0;
    const QString name = QStringLiteral("scalar-%1").arg(++counter);
    QVariant value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(fileName);
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next())
                value = query.value(0);
        }
    }
    QSqlDatabase::removeDatabase(name);
    return value;
}

// The text index lists exactly the rows that have a text.
inline bool TextIndexInStep(const QString &fileName)
{
    return HistoryScalar(fileName,
                         QStringLiteral("SELECT (SELECT count(*) FROM event_text_docsize) = "
                                        "(SELECT count(*) FROM event WHERE coalesce(text, '') <> '' "
                                        "OR coalesce(status_text, '') <> '')"))
               .toInt() == 1;
}

#include "BoardHistory.h"

#include "HistoryDatabase.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <map>

namespace {

// Incoming kinds that carry a frame from the station itself.
const QString HeardKinds = QStringLiteral("1,2,3,5,6,7,8");

class TReader {
public:
    explicit TReader(THistoryConnection &connection) : connection_(connection) {}

    QSqlQuery Prepare(const QString &sql)
    {
        QSqlQuery query(connection_.Database());
        query.setForwardOnly(true);
        if (!query.prepare(sql))
            Fail(query);
        return query;
    }
    // Runs a prepared query for one station; true when it found a row.
    bool First(QSqlQuery &query, TStationKey key)
    {
        query.bindValue(0, key.fleet);
        query.bindValue(1, key.ident);
        if (!query.exec())
            Fail(query);
        return query.next();
    }
    void Exec(QSqlQuery &query, const QString &sql)
    {
        query.setForwardOnly(true);
        if (!query.exec(sql))
            Fail(query);
    }
    [[noreturn]] void Fail(const QSqlQuery &query)
    {
        QString reason = query.lastError().databaseText();
        if (reason.isEmpty())
            reason = query.lastError().text();
        throw EHistoryError(HistoryFailureText(connection_.FileName(), reason).toStdString());
    }

private:
    THistoryConnection &connection_;
};

} // namespace

QList<TStationTraffic> ReadStationTraffic(const QString &historyFile)
{
    QList<TStationTraffic> result;
    if (!QFileInfo::exists(historyFile))
        return result;
    THistoryConnection connection(historyFile, THistoryConnection::TMode::ReadOnly);
    TReader reader(connection);
    std::map<TStationKey, TStationTraffic> stations;
    {
        // Every station the file names is in its small station table; each one's
        // newest rows are then found through the (fleet, ident) indexes, newest first.
        QSqlQuery list(connection.Database());
        reader.Exec(list, QStringLiteral("SELECT DISTINCT fleet, ident FROM station"));
        while (list.next())
            stations[{list.value(0).toInt(), list.value(1).toInt()}].key = {list.value(0).toInt(),
                                                                            list.value(1).toInt()};
    }
    QSqlQuery heard = reader.Prepare(
        QStringLiteral("SELECT id, time, name FROM event WHERE fleet = ? AND ident = ? AND direction = 1 AND "
                       "kind IN (%1) ORDER BY id DESC LIMIT 1")
            .arg(HeardKinds));
    QSqlQuery heardSecond = reader.Prepare(QStringLiteral(
        "SELECT id, time, name2 FROM event WHERE fleet2 = ? AND ident2 = ? AND direction = 1 AND "
        "kind = 8 ORDER BY id DESC LIMIT 1"));
    QSqlQuery status = reader.Prepare(QStringLiteral(
        "SELECT time, status, status_text, status_known FROM event WHERE fleet = ? AND ident = ? "
        "AND direction = 1 AND kind = 3 ORDER BY id DESC LIMIT 1"));
    QSqlQuery message =
        reader.Prepare(QStringLiteral("SELECT time, text FROM event WHERE fleet = ? AND ident = ? AND "
                                      "direction = 1 AND kind IN (5,6) ORDER BY id DESC LIMIT 1"));
    for (auto &[key, t] : stations) {
        qint64 heardId = -1;
        if (reader.First(heard, key)) {
            heardId = heard.value(0).toLongLong();
            t.lastHeard = HistoryDateTime(heard.value(1).toLongLong());
            t.heardName = heard.value(2).toString();
        }
        if (reader.First(heardSecond, key) && heardSecond.value(0).toLongLong() > heardId) {
            t.lastHeard = HistoryDateTime(heardSecond.value(1).toLongLong());
            t.heardName = heardSecond.value(2).toString();
        }
        if (reader.First(status, key)) {
            t.statusTime = HistoryDateTime(status.value(0).toLongLong());
            if (!status.value(1).isNull())
                t.status = status.value(1).toInt();
            t.statusText = status.value(2).toString();
            t.statusKnown = status.value(3).toInt() != 0;
        }
        if (reader.First(message, key)) {
            t.messageTime = HistoryDateTime(message.value(0).toLongLong());
            t.lastMessage = message.value(1).toString();
        }
    }
    {
        QSqlQuery alarms(connection.Database());
        reader.Exec(alarms, QStringLiteral("SELECT fleet, ident, status, status_text FROM alarm WHERE "
                                           "acknowledged IS NULL AND fleet IS NOT NULL AND ident IS NOT NULL "
                                           "ORDER BY time, id"));
        while (alarms.next()) {
            const TStationKey key{alarms.value(0).toInt(), alarms.value(1).toInt()};
            TStationTraffic &t = stations[key];
            t.key = key;
            t.emergencies.append({alarms.value(2).toInt(), alarms.value(3).toString()});
        }
    }
    for (auto &[key, t] : stations)
        if (t.lastHeard.isValid() || !t.emergencies.isEmpty())
            result.append(std::move(t));
    return result;
}

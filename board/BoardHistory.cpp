#include "BoardHistory.h"

#include "HistoryDatabase.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <map>

namespace {

// Incoming kinds that carry a frame from the station itself.
const QString HeardKinds = QStringLiteral("1,2,3,5,6,7,8");
bool IsHeardKind(int kind)
{
    return kind >= 1 && kind <= 8 && kind != int(TrafficKind::StatusRequest);
}

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

QList<TStationTraffic> ReadStationTraffic(const QString &historyFile, int scanRows)
{
    QList<TStationTraffic> result;
    if (!QFileInfo::exists(historyFile))
        return result;
    THistoryConnection connection(historyFile, THistoryConnection::TMode::ReadOnly);
    TReader reader(connection);
    std::map<TStationKey, TStationTraffic> stations;
    struct TFound {
        bool heard = false, status = false, message = false;
        bool Complete() const { return heard && status && message; }
    };
    std::map<TStationKey, TFound> found;
    {
        QSqlQuery list(connection.Database());
        reader.Exec(list, QStringLiteral("SELECT DISTINCT fleet, ident FROM station"));
        while (list.next()) {
            const TStationKey key{list.value(0).toInt(), list.value(1).toInt()};
            stations[key].key = key;
            found[key];
        }
    }
    // The newest rows first, read in file order: on a busy line they hold every
    // station's last frame, status and message, and reading them in a row costs
    // far less than seeking each station's rows through the indexes (on a cold
    // start, a disk seek each).
    {
        QSqlQuery scan(connection.Database());
        reader.Exec(scan,
                    QStringLiteral("SELECT kind, time, fleet, ident, name, fleet2, ident2, name2, status, "
                                   "status_text, status_known, text FROM event WHERE direction = 1 ORDER BY "
                                   "id DESC LIMIT %1")
                        .arg(std::max(0, scanRows)));
        std::size_t complete = 0;
        const auto entry = [&](TStationKey key) -> std::pair<TStationTraffic &, TFound &> {
            TStationTraffic &t = stations[key];
            t.key = key;
            return {t, found[key]};
        };
        while (complete < found.size() && scan.next()) {
            const int kind = scan.value(0).toInt();
            if (!IsHeardKind(kind) || scan.value(2).isNull() || scan.value(3).isNull())
                continue;
            const TStationKey key{scan.value(2).toInt(), scan.value(3).toInt()};
            const QDateTime time = HistoryDateTime(scan.value(1).toLongLong());
            auto [t, f] = entry(key);
            const bool wasComplete = f.Complete();
            if (!f.heard) {
                f.heard = true;
                t.lastHeard = time;
                t.heardName = scan.value(4).toString();
            }
            if (kind == int(TrafficKind::Status) && !f.status) {
                f.status = true;
                t.statusTime = time;
                if (!scan.value(8).isNull())
                    t.status = scan.value(8).toInt();
                t.statusText = scan.value(9).toString();
                t.statusKnown = scan.value(10).toInt() != 0;
            }
            if ((kind == int(TrafficKind::ShortMessage) || kind == int(TrafficKind::LongMessage)) &&
                !f.message) {
                f.message = true;
                t.messageTime = time;
                t.lastMessage = scan.value(11).toString();
            }
            complete += !wasComplete && f.Complete();
            if (kind == int(TrafficKind::CallDecode) && !scan.value(5).isNull() && !scan.value(6).isNull()) {
                const TStationKey second{scan.value(5).toInt(), scan.value(6).toInt()};
                if (second == key)
                    continue;
                auto [t2, f2] = entry(second);
                if (!f2.heard) {
                    f2.heard = true;
                    t2.lastHeard = time;
                    t2.heardName = scan.value(7).toString();
                    complete += f2.Complete();
                }
            }
        }
    }
    // What the newest rows did not hold (a quiet station, one that never sent a
    // message): each station's own rows through the indexes, newest first.
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
        reader.Prepare(QStringLiteral("SELECT id, time, text FROM event WHERE fleet = ? AND ident = ? AND "
                                      "direction = 1 AND kind = ? ORDER BY id DESC LIMIT 1"));
    for (auto &[key, f] : found) {
        TStationTraffic &t = stations[key];
        if (!f.heard) {
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
        }
        if (!f.status && reader.First(status, key)) {
            t.statusTime = HistoryDateTime(status.value(0).toLongLong());
            if (!status.value(1).isNull())
                t.status = status.value(1).toInt();
            t.statusText = status.value(2).toString();
            t.statusKnown = status.value(3).toInt() != 0;
        }
        // One kind at a time: each is then a single seek in an index on (fleet, ident, kind).
        qint64 messageId = -1;
        for (const TrafficKind kind : {TrafficKind::ShortMessage, TrafficKind::LongMessage}) {
            if (f.message)
                break;
            message.bindValue(2, int(kind));
            if (reader.First(message, key) && message.value(0).toLongLong() > messageId) {
                messageId = message.value(0).toLongLong();
                t.messageTime = HistoryDateTime(message.value(1).toLongLong());
                t.lastMessage = message.value(2).toString();
            }
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

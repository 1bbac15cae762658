#include "HistoryQuery.h"

#include "Alarm.h"
#include "HistoryCsv.h"
#include "HistoryDatabase.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

const QString Columns =
    QStringLiteral("e.id, e.time, e.direction, e.kind, e.fleet, e.ident, e.name, e.fleet2, "
                   "e.ident2, e.name2, e.status, e.status_text, e.status_known, e.text, e.frame");

std::optional<int> OptionalInt(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional<int>(value.toInt());
}

QString LikePattern(const QString &part)
{
    QString escaped = part;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('%'), QLatin1String("\\%"));
    escaped.replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + escaped + QLatin1Char('%');
}

using TPairs = QList<std::pair<int, int>>;

// The FROM, WHERE and ORDER BY of a filter, with their values. A text of three
// characters or more is looked up in the trigram index, which then drives the
// query in id order; shorter texts are matched row by row.
struct TSelect {
    bool textIndex = false;
    QStringList terms;
    QVariantList values;

    QString Key() const { return textIndex ? QStringLiteral("t.rowid") : QStringLiteral("e.id"); }
    QString Sql(const QString &order) const
    {
        QString sql = textIndex ? QStringLiteral(" FROM event_text AS t JOIN event AS e ON e.id = t.rowid")
                                : QStringLiteral(" FROM event AS e");
        if (!terms.isEmpty())
            sql += QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
        return sql + QStringLiteral(" ORDER BY ") + Key() + QLatin1Char(' ') + order;
    }
};

QString Placeholders(qsizetype pairs)
{
    QStringList list;
    for (qsizetype i = 0; i < pairs; ++i)
        list << QStringLiteral("(?,?)");
    return list.join(QLatin1Char(','));
}

// Events of the given stations, found through the station indexes rather than by
// reading every row.
void AddStations(TSelect &select, const TPairs &pairs, bool byIndex)
{
    if (pairs.isEmpty()) {
        select.terms << QStringLiteral("0");
        return;
    }
    const QString values = Placeholders(pairs.size());
    if (!byIndex) {
        select.terms << QStringLiteral(
                            "((e.fleet, e.ident) IN (VALUES %1) OR (e.fleet2, e.ident2) IN (VALUES %1))")
                            .arg(values);
        for (int round = 0; round < 2; ++round)
            for (const auto &[fleet, ident] : pairs)
                select.values << fleet << ident;
        return;
    }
    select.terms << QStringLiteral(
                        "e.id IN (SELECT id FROM event WHERE (fleet, ident) IN (VALUES %1) "
                        "UNION ALL SELECT id FROM event WHERE fleet2 IS NOT NULL AND (fleet2, ident2) IN "
                        "(VALUES %1))")
                        .arg(values);
    for (int round = 0; round < 2; ++round)
        for (const auto &[fleet, ident] : pairs)
            select.values << fleet << ident;
}

TSelect BuildSelect(const THistoryFilter &filter, QSqlDatabase &db, const QString &fileName,
                    bool stationsByIndex = true)
{
    TSelect select;
    const QString station = filter.station.trimmed();
    if (!station.isEmpty()) {
        static const QRegularExpression pair(QStringLiteral("^(?:.*\\()?\\s*(\\d+)\\s*-\\s*(\\d+)\\s*\\)?$"));
        static const QRegularExpression single(QStringLiteral("^\\d+$"));
        const QRegularExpressionMatch m = pair.match(station);
        if (m.hasMatch()) {
            AddStations(select, {{m.captured(1).toInt(), m.captured(2).toInt()}}, stationsByIndex);
        } else {
            // A name or one number: the stations it means, from the small table of
            // every station and name seen.
            QSqlQuery stations(db);
            stations.setForwardOnly(true);
            if (single.match(station).hasMatch()) {
                stations.prepare(
                    QStringLiteral("SELECT DISTINCT fleet, ident FROM station WHERE fleet = ? OR ident = ?"));
                stations.addBindValue(station.toInt());
                stations.addBindValue(station.toInt());
            } else {
                stations.prepare(QStringLiteral(
                    "SELECT DISTINCT fleet, ident FROM station WHERE name LIKE ? ESCAPE '\\'"));
                stations.addBindValue(LikePattern(station));
            }
            if (!stations.exec())
                throw EHistoryError(
                    HistoryFailureText(fileName, stations.lastError().databaseText()).toStdString());
            TPairs pairs;
            while (stations.next())
                pairs.append({stations.value(0).toInt(), stations.value(1).toInt()});
            AddStations(select, pairs, stationsByIndex);
        }
    }
    if (filter.kind) {
        select.terms << QStringLiteral("e.kind = ?");
        select.values << static_cast<int>(*filter.kind);
    }
    if (!filter.text.isEmpty()) {
        if (filter.text.size() >= 3) {
            select.textIndex = true;
            QString phrase = filter.text;
            phrase.replace(QLatin1Char('"'), QLatin1String("\"\""));
            select.terms << QStringLiteral("event_text MATCH ?");
            select.values << QString(QLatin1Char('"') + phrase + QLatin1Char('"'));
        } else {
            select.terms << QStringLiteral("(e.text LIKE ? ESCAPE '\\' OR e.status_text LIKE ? ESCAPE '\\')");
            select.values << LikePattern(filter.text) << LikePattern(filter.text);
        }
    }
    if (filter.since.isValid()) {
        select.terms << QStringLiteral("e.time >= ?");
        select.values << HistoryTime(filter.since);
    }
    if (filter.until.isValid()) {
        select.terms << QStringLiteral("e.time < ?");
        select.values << HistoryTime(filter.until);
    }
    return select;
}

THistoryRow ReadRow(const QSqlQuery &query)
{
    THistoryRow row;
    row.id = query.value(0).toLongLong();
    TTrafficEvent &e = row.event;
    e.time = HistoryDateTime(query.value(1).toLongLong());
    e.direction = static_cast<TrafficDirection>(query.value(2).toInt());
    e.kind = static_cast<TrafficKind>(query.value(3).toInt());
    e.fleet = OptionalInt(query.value(4));
    e.ident = OptionalInt(query.value(5));
    e.name = query.value(6).toString();
    e.fleet2 = OptionalInt(query.value(7));
    e.ident2 = OptionalInt(query.value(8));
    e.name2 = query.value(9).toString();
    e.status = OptionalInt(query.value(10));
    e.statusText = query.value(11).toString();
    e.statusKnown = query.value(12).toInt() != 0;
    e.text = query.value(13).toString();
    e.frame = query.value(14).toByteArray();
    return row;
}

QString Number(std::optional<int> value)
{
    return value ? QString::number(*value) : QString();
}

// Local time with its offset ("2026-12-09T16:10:00.123+01:00", "Z" for UTC), each
// row by the zone's own rules: an offset cached for an hour or a day would print
// the half hour after a change (America/St_Johns changes at :30 UTC) with the
// offset of before, and the same row differently under another filter.
// localtime_r costs about what a QDateTime conversion costs, without its allocations.
QString LocalTimeText(qint64 ms)
{
    const qint64 msPart = ((ms % 1000) + 1000) % 1000;
    const std::time_t seconds = std::time_t((ms - msPart) / 1000);
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        return HistoryDateTime(ms).toString(Qt::ISODateWithMs);
    char text[64];
    int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", local.tm_year + 1900,
                          local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                          int(msPart));
    const long offset = local.tm_gmtoff;
    if (offset == 0)
        std::snprintf(text + n, sizeof text - std::size_t(n), "Z");
    else
        std::snprintf(text + n, sizeof text - std::size_t(n), "%c%02ld:%02ld", offset < 0 ? '-' : '+',
                      std::labs(offset) / 3600, std::labs(offset) % 3600 / 60);
    return QString::fromLatin1(text);
}

} // namespace

THistoryQuery::THistoryQuery(const QString &fileName)
    : connection_(std::make_unique<THistoryConnection>(fileName, THistoryConnection::TMode::ReadOnly))
{
}

THistoryQuery::~THistoryQuery() = default;

QList<THistoryRow> THistoryQuery::Page(const THistoryFilter &filter, std::optional<qint64> beforeId,
                                       int limit)
{
    QSqlDatabase &db = connection_->Database();
    const auto run = [&](TSelect select, std::optional<qint64> from) {
        if (beforeId) {
            select.terms << select.Key() + QStringLiteral(" < ?");
            select.values << *beforeId;
        }
        if (from) {
            select.terms << select.Key() + QStringLiteral(" >= ?");
            select.values << *from;
        }
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT ") + Columns + select.Sql(QStringLiteral("DESC LIMIT ?")));
        for (const QVariant &value : select.values)
            query.addBindValue(value);
        query.addBindValue(limit);
        if (!query.exec())
            throw EHistoryError(
                HistoryFailureText(connection_->FileName(), query.lastError().databaseText()).toStdString());
        QList<THistoryRow> rows;
        while (query.next())
            rows.append(ReadRow(query));
        return rows;
    };
    const TSelect byIndex = BuildSelect(filter, db, connection_->FileName());
    if (!filter.station.trimmed().isEmpty() && !byIndex.textIndex) {
        // A station that talks often fills a page from the newest rows at once; its
        // index would first collect and sort all of its rows. Only a quiet station
        // needs the index.
        constexpr qint64 Window = 20000;
        qint64 top = beforeId.value_or(0);
        if (!beforeId) {
            QSqlQuery max(db);
            if (max.exec(QStringLiteral("SELECT max(id) FROM event")) && max.next())
                top = max.value(0).toLongLong() + 1;
        }
        const QList<THistoryRow> recent =
            run(BuildSelect(filter, db, connection_->FileName(), false), top - Window);
        if (recent.size() >= limit || top - Window <= 0)
            return recent;
    }
    return run(byIndex, std::nullopt);
}

qint64 THistoryQuery::ExportCsv(const THistoryFilter &filter, QIODevice &device, TCsvCells cells)
{
    const TSelect where = BuildSelect(filter, connection_->Database(), connection_->FileName());
    QSqlQuery query(connection_->Database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT ") + Columns + where.Sql(QStringLiteral("ASC")));
    for (const QVariant &value : where.values)
        query.addBindValue(value);
    if (!query.exec())
        throw EHistoryError(
            HistoryFailureText(connection_->FileName(), query.lastError().databaseText()).toStdString());
    // The same fields as CsvFields, written straight from the columns into a
    // buffer: a million rows must not cost a million lists of strings.
    QByteArray buffer = CsvRecord(CsvHeader());
    buffer.reserve(1 << 20);
    bool ok = true;
    QString writeFailure;
    const auto flush = [&] {
        errno = 0;
        if (ok && device.write(buffer) != buffer.size()) {
            ok = false;
            // QSaveFile reports a failed write without its reason: the system has it.
            writeFailure = errno ? QString::fromLocal8Bit(std::strerror(errno)) : device.errorString();
        }
        buffer.clear();
    };
    const auto number = [&](const QVariant &value) {
        if (!value.isNull())
            buffer += QByteArray::number(value.toInt());
        buffer += ',';
    };
    const auto text = [&](const QVariant &value) {
        buffer += CsvField(value.toString(), cells);
        buffer += ',';
    };
    qint64 count = 0;
    while (ok && query.next()) {
        buffer += LocalTimeText(query.value(1).toLongLong()).toLatin1();
        buffer += ',';
        buffer += TrafficDirectionText(static_cast<TrafficDirection>(query.value(2).toInt())).toLatin1();
        buffer += ',';
        buffer += CsvField(TrafficKindText(static_cast<TrafficKind>(query.value(3).toInt())));
        buffer += ',';
        number(query.value(4));
        number(query.value(5));
        text(query.value(6));
        number(query.value(7));
        number(query.value(8));
        text(query.value(9));
        number(query.value(10));
        text(query.value(11));
        text(query.value(13));
        buffer += query.value(14).toByteArray().toHex(' ');
        buffer += "\r\n";
        ++count;
        if (buffer.size() >= (1 << 20) - 16384)
            flush();
    }
    flush();
    if (!ok)
        throw EHistoryWriteError(writeFailure.toStdString());
    if (query.lastError().isValid())
        throw EHistoryError(
            HistoryFailureText(connection_->FileName(), query.lastError().databaseText()).toStdString());
    return count;
}

QStringList THistoryQuery::CsvHeader()
{
    return {QStringLiteral("time"),   QStringLiteral("direction"),   QStringLiteral("kind"),
            QStringLiteral("fleet"),  QStringLiteral("ident"),       QStringLiteral("name"),
            QStringLiteral("fleet2"), QStringLiteral("ident2"),      QStringLiteral("name2"),
            QStringLiteral("status"), QStringLiteral("status_text"), QStringLiteral("text"),
            QStringLiteral("frame")};
}

QStringList THistoryQuery::CsvFields(const THistoryRow &row)
{
    const TTrafficEvent &e = row.event;
    // Local time with its offset: readable, and still one exact moment.
    return {LocalTimeText(HistoryTime(e.time)),
            TrafficDirectionText(e.direction),
            TrafficKindText(e.kind),
            Number(e.fleet),
            Number(e.ident),
            e.name,
            Number(e.fleet2),
            Number(e.ident2),
            e.name2,
            Number(e.status),
            e.statusText,
            e.text,
            QString::fromLatin1(e.frame.toHex(' '))};
}

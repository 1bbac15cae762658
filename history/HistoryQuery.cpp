#include "HistoryQuery.h"

#include "Alarm.h"
#include "HistoryCsv.h"
#include "HistoryDatabase.h"

#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const QString Columns =
    QStringLiteral("id, time, direction, kind, fleet, ident, name, fleet2, ident2, name2, status, "
                   "status_text, status_known, text, frame");

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

// The WHERE clause and its values for a filter.
struct TWhere {
    QStringList terms;
    QVariantList values;

    QString Sql() const
    {
        return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(" AND ");
    }
};

TWhere BuildWhere(const THistoryFilter &filter)
{
    TWhere where;
    const QString station = filter.station.trimmed();
    if (!station.isEmpty()) {
        static const QRegularExpression pair(QStringLiteral("^(?:.*\\()?\\s*(\\d+)\\s*-\\s*(\\d+)\\s*\\)?$"));
        static const QRegularExpression single(QStringLiteral("^\\d+$"));
        const QRegularExpressionMatch m = pair.match(station);
        if (m.hasMatch()) {
            where.terms << QStringLiteral("((fleet = ? AND ident = ?) OR (fleet2 = ? AND ident2 = ?))");
            where.values << m.captured(1).toInt() << m.captured(2).toInt() << m.captured(1).toInt()
                         << m.captured(2).toInt();
        } else if (single.match(station).hasMatch()) {
            const int n = station.toInt();
            where.terms << QStringLiteral("(fleet = ? OR ident = ? OR fleet2 = ? OR ident2 = ?)");
            where.values << n << n << n << n;
        } else {
            where.terms << QStringLiteral("(name LIKE ? ESCAPE '\\' OR name2 LIKE ? ESCAPE '\\')");
            where.values << LikePattern(station) << LikePattern(station);
        }
    }
    if (filter.kind) {
        where.terms << QStringLiteral("kind = ?");
        where.values << static_cast<int>(*filter.kind);
    }
    if (!filter.text.isEmpty()) {
        where.terms << QStringLiteral("(text LIKE ? ESCAPE '\\' OR status_text LIKE ? ESCAPE '\\')");
        where.values << LikePattern(filter.text) << LikePattern(filter.text);
    }
    if (filter.since.isValid()) {
        where.terms << QStringLiteral("time >= ?");
        where.values << HistoryTime(filter.since);
    }
    if (filter.until.isValid()) {
        where.terms << QStringLiteral("time < ?");
        where.values << HistoryTime(filter.until);
    }
    return where;
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

} // namespace

THistoryQuery::THistoryQuery(const QString &fileName)
    : connection_(std::make_unique<THistoryConnection>(fileName, THistoryConnection::TMode::ReadOnly))
{
}

THistoryQuery::~THistoryQuery() = default;

QList<THistoryRow> THistoryQuery::Page(const THistoryFilter &filter, std::optional<qint64> beforeId,
                                       int limit)
{
    TWhere where = BuildWhere(filter);
    if (beforeId) {
        where.terms << QStringLiteral("id < ?");
        where.values << *beforeId;
    }
    QSqlQuery query(connection_->Database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT ") + Columns + QStringLiteral(" FROM event") + where.Sql() +
                  QStringLiteral(" ORDER BY id DESC LIMIT ?"));
    for (const QVariant &value : where.values)
        query.addBindValue(value);
    query.addBindValue(limit);
    if (!query.exec())
        throw EHistoryError(
            HistoryFailureText(connection_->FileName(), query.lastError().databaseText()).toStdString());
    QList<THistoryRow> rows;
    while (query.next())
        rows.append(ReadRow(query));
    return rows;
}

qint64 THistoryQuery::ExportCsv(const THistoryFilter &filter, QIODevice &device)
{
    const TWhere where = BuildWhere(filter);
    QSqlQuery query(connection_->Database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT ") + Columns + QStringLiteral(" FROM event") + where.Sql() +
                  QStringLiteral(" ORDER BY id"));
    for (const QVariant &value : where.values)
        query.addBindValue(value);
    if (!query.exec())
        throw EHistoryError(
            HistoryFailureText(connection_->FileName(), query.lastError().databaseText()).toStdString());
    TCsvWriter csv(device);
    csv.Write(CsvHeader());
    qint64 count = 0;
    while (query.next() && csv.Write(CsvFields(ReadRow(query))))
        ++count;
    if (!csv.Ok())
        throw EHistoryError(
            QStringLiteral("The export could not be written: %1").arg(device.errorString()).toStdString());
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
    QDateTime local = e.time.toLocalTime();
    local.setOffsetFromUtc(local.offsetFromUtc());
    return {local.toString(Qt::ISODateWithMs),
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

#include "HistoryQuery.h"

#include "Alarm.h"
#include "HistoryColumns.h"
#include "HistoryCsv.h"
#include "HistoryDatabase.h"

#include <QRegularExpression>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>

namespace {

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
                // SQLite's LIKE ignores case for ASCII only ("ÉTÉ" would miss "été"):
                // the names are matched here, the table holds a few hundred at most.
                stations.prepare(QStringLiteral("SELECT fleet, ident, name FROM station"));
            }
            if (!stations.exec())
                throw EHistoryError(
                    HistoryReadFailureText(fileName, stations.lastError().databaseText()).toStdString());
            TPairs pairs;
            QSet<std::pair<int, int>> seen;
            const bool byName = stations.record().count() == 3;
            while (stations.next()) {
                const std::pair<int, int> pair{stations.value(0).toInt(), stations.value(1).toInt()};
                if ((!byName || stations.value(2).toString().contains(station, Qt::CaseInsensitive)) &&
                    !seen.contains(pair)) {
                    seen.insert(pair);
                    pairs.append(pair);
                }
            }
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

// The SELECT's columns: the id, then each listed column, empty where a file made
// before lacks it.
QString SelectColumns(const QStringList &present)
{
    QStringList list{QStringLiteral("e.id")};
    for (const THistoryColumn &column : HistoryColumns()) {
        const QLatin1String name(column.name);
        list << (present.contains(name) ? QStringLiteral("e.") + name : QStringLiteral("NULL AS ") + name);
    }
    return list.join(QStringLiteral(", "));
}

THistoryRow ReadRow(const QSqlQuery &query)
{
    THistoryRow row;
    row.id = query.value(0).toLongLong();
    int i = 1;
    for (const THistoryColumn &column : HistoryColumns())
        column.set(row.event, query.value(i++));
    return row;
}

} // namespace

THistoryQuery::THistoryQuery(const QString &fileName)
    : connection_(std::make_unique<THistoryConnection>(fileName, THistoryConnection::TMode::ReadOnly)),
      columns_(SelectColumns(EventColumnsOf(*connection_)))
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
        query.prepare(QStringLiteral("SELECT ") + columns_ + select.Sql(QStringLiteral("DESC LIMIT ?")));
        for (const QVariant &value : select.values)
            query.addBindValue(value);
        query.addBindValue(limit);
        if (!query.exec())
            throw EHistoryError(
                HistoryReadFailureText(connection_->FileName(), query.lastError().databaseText())
                    .toStdString());
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

qint64 THistoryQuery::ExportCsv(const THistoryFilter &filter, QIODevice &device, TCsvCells cells,
                                const std::function<bool(int permille)> &progress)
{
    ResetLocalTimeZone();
    // Rows come in id order: the id's place between the first and the last is the
    // progress, without counting the selection first.
    qint64 firstId = 0, lastId = 0;
    if (progress) {
        QSqlQuery range(connection_->Database());
        if (range.exec(QStringLiteral("SELECT min(id), max(id) FROM event")) && range.next()) {
            firstId = range.value(0).toLongLong();
            lastId = range.value(1).toLongLong();
        }
    }
    const TSelect where = BuildSelect(filter, connection_->Database(), connection_->FileName());
    QSqlQuery query(connection_->Database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT ") + columns_ + where.Sql(QStringLiteral("ASC")));
    for (const QVariant &value : where.values)
        query.addBindValue(value);
    if (!query.exec())
        throw EHistoryError(
            HistoryReadFailureText(connection_->FileName(), query.lastError().databaseText()).toStdString());
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
    // The same fields as CsvFields, from the stored values.
    std::vector<const THistoryColumn *> exported;
    for (const THistoryColumn &column : HistoryColumns())
        if (column.csv)
            exported.push_back(&column);
    std::vector<int> at;
    int index = 1;
    for (const THistoryColumn &column : HistoryColumns()) {
        if (column.csv)
            at.push_back(index);
        ++index;
    }
    qint64 count = 0;
    while (ok && query.next()) {
        for (std::size_t c = 0; c < exported.size(); ++c) {
            if (c)
                buffer += ',';
            buffer += CsvField(exported[c]->csv(query.value(at[c])), cells);
        }
        buffer += "\r\n";
        ++count;
        if (buffer.size() >= (1 << 20) - 16384)
            flush();
        if (progress && count % 1024 == 0 &&
            !progress(int((query.value(0).toLongLong() - firstId) * 1000 /
                          std::max<qint64>(1, lastId - firstId + 1))))
            throw EHistoryCancelled();
    }
    flush();
    if (progress && ok && !progress(1000))
        throw EHistoryCancelled();
    if (!ok)
        throw EHistoryWriteError(writeFailure.toStdString());
    if (query.lastError().isValid())
        throw EHistoryError(
            HistoryReadFailureText(connection_->FileName(), query.lastError().databaseText()).toStdString());
    return count;
}

QStringList THistoryQuery::CsvHeader()
{
    QStringList header;
    for (const THistoryColumn &column : HistoryColumns())
        if (column.csv)
            header << QLatin1String(column.name);
    return header;
}

QStringList THistoryQuery::CsvFields(const THistoryRow &row)
{
    ResetLocalTimeZone();
    QStringList fields;
    for (const THistoryColumn &column : HistoryColumns())
        if (column.csv)
            fields << column.csv(column.get(row.event));
    return fields;
}

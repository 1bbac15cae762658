#include "HistoryModel.h"

#include "Alarm.h"
#include "HistoryDatabase.h"

#include <QLocale>
#include <algorithm>

THistoryModel::THistoryModel(QObject *parent) : QAbstractTableModel(parent) {}

THistoryModel::~THistoryModel() = default;

void THistoryModel::Open(const QString &fileName)
{
    auto query = std::make_unique<THistoryQuery>(fileName);
    beginResetModel();
    query_ = std::move(query);
    rows_.clear();
    atEnd_ = false;
    endResetModel();
}

void THistoryModel::SetFilter(const THistoryFilter &filter)
{
    beginResetModel();
    filter_ = filter;
    rows_.clear();
    atEnd_ = query_ == nullptr;
    try {
        if (query_) {
            rows_ = query_->Page(filter_, std::nullopt, PageSize);
            atEnd_ = rows_.size() < PageSize;
        }
    } catch (...) {
        atEnd_ = true;
        endResetModel();
        throw;
    }
    endResetModel();
}

namespace {

QList<THistoryRow> NewerRows(THistoryQuery *query, const THistoryFilter &filter,
                             const QList<THistoryRow> &rows)
{
    if (!query)
        return {};
    QList<THistoryRow> page = query->Page(filter, std::nullopt, THistoryModel::PageSize);
    if (!rows.isEmpty()) {
        const qint64 top = rows.first().id;
        page.erase(
            std::find_if(page.begin(), page.end(), [top](const THistoryRow &r) { return r.id <= top; }),
            page.end());
    }
    return page;
}

} // namespace

int THistoryModel::Newer() const
{
    try {
        return int(NewerRows(query_.get(), filter_, rows_).size());
    } catch (const EHistoryError &) {
        return 0;
    }
}

int THistoryModel::PrependNewer()
{
    QList<THistoryRow> page;
    try {
        page = NewerRows(query_.get(), filter_, rows_);
    } catch (const EHistoryError &) {
        return 0;
    }
    if (page.size() >= PageSize) {
        SetFilter(filter_);
        return int(page.size());
    }
    if (!page.isEmpty()) {
        beginInsertRows({}, 0, int(page.size()) - 1);
        rows_ = page + rows_;
        endInsertRows();
    }
    return int(page.size());
}

int THistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int THistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

bool THistoryModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !atEnd_ && query_;
}

void THistoryModel::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    QList<THistoryRow> page;
    try {
        page =
            query_->Page(filter_, rows_.isEmpty() ? std::nullopt : std::optional(rows_.last().id), PageSize);
    } catch (...) {
        // A view asks for more on its own; a failing file ends the list here.
        atEnd_ = true;
        return;
    }
    atEnd_ = page.size() < PageSize;
    if (page.isEmpty())
        return;
    beginInsertRows({}, int(rows_.size()), int(rows_.size() + page.size() - 1));
    rows_.append(page);
    endInsertRows();
}

QString THistoryModel::StationOf(const TTrafficEvent &event)
{
    return StationLabel(event.name, event.fleet, event.ident);
}

QString THistoryModel::TextOf(const TTrafficEvent &event)
{
    QString text;
    switch (event.kind) {
    case TrafficKind::Status:
    case TrafficKind::EmergencyAcknowledged:
        text = event.status ? QString::number(*event.status) + QLatin1Char(' ') + event.statusText
                            : event.statusText;
        break;
    case TrafficKind::CallDecode:
        text = event.text + QStringLiteral(", to ") + StationLabel(event.name2, event.fleet2, event.ident2);
        break;
    default:
        text = event.text;
        break;
    }
    // One line in the table; the whole text shows below it.
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text;
}

QVariant THistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const TTrafficEvent &e = rows_[index.row()].event;
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
        case TimeColumn: {
            // Shown in local time, with seconds whatever the locale's short form.
            const QDateTime local = e.time.toLocalTime();
            return QString(QLocale::system().toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                           local.time().toString(QStringLiteral("HH:mm:ss")));
        }
        case DirectionColumn:
            return TrafficDirectionText(e.direction);
        case KindColumn:
            return TrafficKindText(e.kind);
        case StationColumn:
            return StationOf(e);
        case TextColumn:
            return TextOf(e);
        }
    } else if (role == Qt::ToolTipRole && index.column() == TimeColumn) {
        return e.time.toLocalTime().toString(Qt::ISODateWithMs);
    }
    return {};
}

QVariant THistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return QStringLiteral("Time");
    case DirectionColumn:
        return QStringLiteral("Direction");
    case KindColumn:
        return QStringLiteral("Kind");
    case StationColumn:
        return QStringLiteral("Station");
    case TextColumn:
        return QStringLiteral("Text");
    }
    return {};
}

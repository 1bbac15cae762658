#include "AlarmTableModel.h"

#include "AlarmList.h"

#include <QLocale>
#include <algorithm>

namespace {

QString LocalText(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    return QLocale::system().toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           local.time().toString(QStringLiteral("HH:mm:ss"));
}

// Where index sits in a sorted list, -1 when it is not there.
int Position(const QList<int> &sorted, int index)
{
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), index);
    return it != sorted.end() && *it == index ? int(it - sorted.begin()) : -1;
}

} // namespace

TAlarmTableModel::TAlarmTableModel(const TAlarmList &alarms, QObject *parent)
    : QAbstractTableModel(parent), alarms_(alarms)
{
    connect(&alarms_, &TAlarmList::Added, this, &TAlarmTableModel::AlarmAdded);
    connect(&alarms_, &TAlarmList::Updated, this, &TAlarmTableModel::AlarmUpdated);
    connect(&alarms_, &TAlarmList::Changed, this, &TAlarmTableModel::ListChanged);
    Reload();
}

int TAlarmTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(open_.size() + closed_.size());
}

int TAlarmTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

int TAlarmTableModel::ListIndexAt(int row) const
{
    return row < open_.size() ? open_[row] : closed_[row - open_.size()];
}

const TAlarm &TAlarmTableModel::AlarmAt(int row) const
{
    return alarms_.Alarms()[ListIndexAt(row)];
}

int TAlarmTableModel::RowOf(qint64 id) const
{
    const int index = alarms_.IndexOf(id);
    if (index < 0)
        return -1;
    if (const int at = Position(open_, index); at >= 0)
        return at;
    const int at = Position(closed_, index);
    return at < 0 ? -1 : int(open_.size()) + at;
}

QVariant TAlarmTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return {};
    const TAlarm &alarm = AlarmAt(index.row());
    switch (role) {
    case Qt::DisplayRole:
        ++formatCount_;
        return CellText(alarm, index.column());
    case IdRole:
        return alarm.id;
    case OpenRole:
        return alarm.IsOpen();
    default:
        return {};
    }
}

QString TAlarmTableModel::CellText(const TAlarm &a, int column) const
{
    switch (column) {
    case TimeColumn:
        return LocalText(a.time) + (a.restored ? QStringLiteral(" (earlier run)") : QString());
    case StationColumn:
        return StationLabel(a.name, a.fleet, a.ident);
    case StatusColumn:
        if (!a.IsEmergency())
            return a.statusText;
        return QString::number(a.status) + QLatin1Char(' ') + a.statusText +
               (a.count > 1 ? QStringLiteral(" (%1 times, last %2)")
                                  .arg(a.count)
                                  .arg(a.last.toLocalTime().toString(QStringLiteral("HH:mm:ss")))
                            : QString());
    default:
        return a.IsOpen() ? QStringLiteral("open")
                          : LocalText(a.acknowledged) + (a.acknowledgedBy.isEmpty()
                                                             ? QString()
                                                             : QStringLiteral(" (%1)").arg(a.acknowledgedBy));
    }
}

QVariant TAlarmTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return QStringLiteral("Time");
    case StationColumn:
        return QStringLiteral("Station");
    case StatusColumn:
        return QStringLiteral("Status");
    default:
        return QStringLiteral("Acknowledged");
    }
}

void TAlarmTableModel::AlarmAdded(int index)
{
    // A new alarm is the newest: it ends its section.
    const bool open = alarms_.Alarms()[index].IsOpen();
    const int row = open ? int(open_.size()) : rowCount();
    beginInsertRows({}, row, row);
    (open ? open_ : closed_).append(index);
    endInsertRows();
}

void TAlarmTableModel::AlarmUpdated(int index)
{
    const int openAt = Position(open_, index);
    if (openAt >= 0 && !alarms_.Alarms()[index].IsOpen()) {
        // Acknowledged: the row leaves the open ones for its place among the
        // acknowledged ones, which keep their order of arrival.
        const int closedAt = int(std::lower_bound(closed_.begin(), closed_.end(), index) - closed_.begin());
        const int before = int(open_.size()) + closedAt; // in the rows as they are now
        const bool moves = beginMoveRows({}, openAt, openAt, {}, before);
        open_.removeAt(openAt);
        closed_.insert(closedAt, index);
        if (moves) {
            endMoveRows();
            const int row = int(open_.size()) + closedAt;
            emit dataChanged(this->index(row, 0), this->index(row, ColumnCount - 1));
            return;
        }
    }
    const int row = RowOf(alarms_.Alarms()[index].id);
    if (row >= 0)
        emit dataChanged(this->index(row, 0), this->index(row, ColumnCount - 1));
}

void TAlarmTableModel::ListChanged()
{
    // Added and Updated come before their Changed; a count that differs is a
    // reload (alarms restored from an earlier run, the list re-sorted).
    if (rowCount() != alarms_.Alarms().size())
        Reload();
}

void TAlarmTableModel::Reload()
{
    beginResetModel();
    open_.clear();
    closed_.clear();
    const QList<TAlarm> &list = alarms_.Alarms();
    for (int i = 0; i < list.size(); ++i)
        (list[i].IsOpen() ? open_ : closed_).append(i);
    endResetModel();
}

#pragma once

#include <QAbstractTableModel>
#include <QList>

class TAlarmList;
struct TAlarm;

// The alarms as the Emergencies window lists them: the open ones first in order
// of arrival, then the acknowledged ones, also in order of arrival. It follows
// the list one alarm at a time (a row inserted, one row changed, a row moved
// down when acknowledged) so that a session with thousands of alarms pays for
// the one that changed, not for all of them; texts are made only when asked.
class TAlarmTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, StationColumn, StatusColumn, AcknowledgedColumn, ColumnCount };
    enum Role { IdRole = Qt::UserRole, OpenRole };

    explicit TAlarmTableModel(const TAlarmList &alarms, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    const TAlarm &AlarmAt(int row) const;
    // The row of an alarm, -1 when it is not listed.
    int RowOf(qint64 id) const;
    int OpenRows() const { return int(open_.size()); }
    // How many cell texts were made: what a window that nobody looks at must
    // not spend.
    qint64 FormatCount() const { return formatCount_; }

private:
    void AlarmAdded(int index);
    void AlarmUpdated(int index);
    void ListChanged();
    void Reload();
    int ListIndexAt(int row) const;
    QString CellText(const TAlarm &alarm, int column) const;

    const TAlarmList &alarms_;
    // Positions in the list, ascending: rows 0.. are open_, then closed_.
    QList<int> open_;
    QList<int> closed_;
    mutable qint64 formatCount_ = 0;
};

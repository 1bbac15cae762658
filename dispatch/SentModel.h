#pragma once

#include <QAbstractTableModel>

class TOutbox;

// The outbox's commands as rows, newest last, following its signals.
class TSentModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { TimeColumn, ToColumn, KindColumn, TextColumn, StateColumn, PositionColumn, ColumnCount };

    explicit TSentModel(const TOutbox &outbox, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The command's id on a row (0 for none).
    qint64 IdAt(int row) const;

private:
    const TOutbox &outbox_;
};

#include "SentModel.h"

#include "Outbox.h"
#include "StationId.h"

TSentModel::TSentModel(const TOutbox &outbox, QObject *parent) : QAbstractTableModel(parent), outbox_(outbox)
{
    connect(&outbox, &TOutbox::AboutToAdd, this, [this](int row) { beginInsertRows({}, row, row); });
    connect(&outbox, &TOutbox::Added, this, [this] { endInsertRows(); });
    connect(&outbox, &TOutbox::AboutToDrop, this, [this](int count) { beginRemoveRows({}, 0, count - 1); });
    connect(&outbox, &TOutbox::Dropped, this, [this] { endRemoveRows(); });
    connect(&outbox, &TOutbox::Changed, this,
            [this](int row) { emit dataChanged(index(row, 0), index(row, ColumnCount - 1)); });
}

int TSentModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(outbox_.Commands().size());
}

int TSentModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

qint64 TSentModel::IdAt(int row) const
{
    return row >= 0 && row < rowCount() ? outbox_.Commands()[row].id : 0;
}

QVariant TSentModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const TSentCommand &command = outbox_.Commands()[index.row()];
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case TimeColumn:
        return command.time.toLocalTime().toString(
            role == Qt::ToolTipRole ? QStringLiteral("yyyy-MM-dd HH:mm:ss") : QStringLiteral("HH:mm:ss"));
    case ToColumn: {
        const QString number = command.fleet && command.ident
                                   ? ZeroPad3(*command.fleet) + QLatin1Char('-') + ZeroPad4(*command.ident)
                                   : command.command.fleet + QLatin1Char('-') + command.command.ident;
        return command.name.isEmpty() || command.name == number
                   ? number
                   : command.name + QLatin1String(" (") + number + QLatin1Char(')');
    }
    case KindColumn:
        return TrafficKindText(command.kind);
    case TextColumn: {
        QString text = command.text;
        return role == Qt::ToolTipRole ? text : text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    }
    case StateColumn:
        return command.writes > 1
                   ? DescribeState(command) + QStringLiteral(" (written %1 times)").arg(command.writes)
                   : DescribeState(command);
    case PositionColumn:
        return command.origin;
    }
    return {};
}

QVariant TSentModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const names[ColumnCount] = {"Time", "To", "Kind", "Text", "State", "Position"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(names[section]) : QVariant();
}

#include "BoardCsv.h"

#include "HistoryCsv.h"
#include "SaveFile.h"
#include "StationBoard.h"

#include <QAbstractItemModel>
#include <QDateTime>
#include <QFileInfo>
#include <QSaveFile>

QString NeutralisedCell(const QString &cell)
{
    static const QString risky = QStringLiteral("=+-@\t\r");
    if (!cell.isEmpty() && risky.contains(cell.front()))
        return QLatin1Char('\'') + cell;
    return cell;
}

QString ExportBoardCsv(const QAbstractItemModel &model, const QString &fileName)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1 cannot be written: %2")
            .arg(QFileInfo(fileName).absoluteFilePath(), file.errorString());
    TCsvWriter writer(file);
    QStringList header;
    for (int column = 0; column < model.columnCount(); ++column)
        if (column != TStationBoard::AgeColumn)
            header << model.headerData(column, Qt::Horizontal).toString();
    writer.Write(header);
    for (int row = 0; row < model.rowCount() && writer.Ok(); ++row) {
        QStringList fields;
        for (int column = 0; column < model.columnCount(); ++column) {
            if (column == TStationBoard::AgeColumn)
                continue;
            const QModelIndex index = model.index(row, column);
            QString text = model.data(index).toString();
            if (column == TStationBoard::StatusTimeColumn || column == TStationBoard::HeardColumn) {
                const qint64 ms = model.data(index, TStationBoard::SortRole).toLongLong();
                text = ms < 0 ? QString()
                              : QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC)
                                    .toLocalTime()
                                    .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            } else if (column == TStationBoard::MessageColumn) {
                text = model.data(index, Qt::ToolTipRole).toString(); // the whole message
            }
            fields << NeutralisedCell(text);
        }
        writer.Write(fields);
    }
    // A failed write leaves its error on the file: this reports it and keeps the old file.
    const QString failure = FinishSaveFile(file);
    if (!failure.isEmpty())
        return QStringLiteral("%1 cannot be written: %2")
            .arg(QFileInfo(fileName).absoluteFilePath(), failure);
    return {};
}

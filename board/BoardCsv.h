#pragma once

#include <QString>

class QAbstractItemModel;

// A cell as a spreadsheet takes it as text: one that starts with = + - @, a tab or
// a carriage return would be read as a formula, so it gets a leading apostrophe.
QString NeutralisedCell(const QString &cell);

// Writes the board's rows as a view shows them (sorted, filtered) to a CSV file:
// UTF-8, a header, times in full, cells neutralised. The ages are left out (they
// are out of date as soon as written; the time heard is there). The file is
// replaced only when every byte reached the disk. Returns an empty string, or why
// the file could not be written.
QString ExportBoardCsv(const QAbstractItemModel &model, const QString &fileName);

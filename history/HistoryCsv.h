#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QStringList>

// CSV as RFC 4180 has it: UTF-8, fields separated by commas, records ended by
// CR LF, and a field holding a comma, a quote mark, CR or LF (or edge blanks,
// which spreadsheets would eat) quoted with its quote marks doubled.
//
// A spreadsheet takes a cell beginning with = + - @ TAB or CR for a formula (and
// "+10-1102" for a number): anyone on the channel could put one in a message or a
// name. Neutralised cells get a leading apostrophe, which spreadsheets show as text;
// Raw leaves every cell as it was.
enum class TCsvCells { Raw, Neutralised };
QByteArray CsvField(const QString &field, TCsvCells cells = TCsvCells::Raw);
QByteArray CsvRecord(const QStringList &fields, TCsvCells cells = TCsvCells::Raw);

// Writes records to a device; reports the first write failure.
class TCsvWriter {
public:
    explicit TCsvWriter(QIODevice &device) : device_(device) {}
    bool Write(const QStringList &fields);
    bool Ok() const { return ok_; }

private:
    QIODevice &device_;
    bool ok_ = true;
};

#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QStringList>

// CSV as RFC 4180 has it: UTF-8, fields separated by commas, records ended by
// CR LF, and a field holding a comma, a quote mark, CR or LF (or edge blanks,
// which spreadsheets would eat) quoted with its quote marks doubled.
QByteArray CsvField(const QString &field);
QByteArray CsvRecord(const QStringList &fields);

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

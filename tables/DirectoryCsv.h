#pragma once

#include "Table.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <stdexcept>

// A directory file that cannot be read or written: the message names the file and,
// for a fault in its text, the line. what() is UTF-8.
class EDirectoryFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One record of a CSV text and the line it starts on (1-based; a quoted field may
// run over several lines).
struct CsvRecord {
    int line = 0;
    QStringList fields;
};

// A directory file is small: a full status table is well under this.
inline constexpr qint64 MaxDirectoryFileSize = 8 * 1024 * 1024;

// RFC 4180 text in UTF-8 (a leading byte order mark is skipped). Records end with
// CR LF, LF or CR; quoted fields keep their line breaks as written. Empty lines are
// skipped. Throws EDirectoryFileError naming fileName and the line for a zero byte,
// text that is not UTF-8, a quote inside an unquoted field, text after a closing
// quote, or a quoted field that never closes.
QList<CsvRecord> ParseCsv(const QByteArray &data, const QString &fileName);

// Records as RFC 4180 text in UTF-8, each ended by CR LF. A field is quoted when it
// holds a comma, a quote or a line break.
QByteArray FormatCsv(const QList<QStringList> &records);

// The header a table's file starts with: its field names in order ("Name,Fleet,Ident").
QStringList CsvHeader(const TableDef &def);

// Reads a table's file: size, text, header and the number of fields in every record
// are checked; returns the records after the header. Throws EDirectoryFileError.
QList<CsvRecord> ReadDirectoryFile(const QString &fileName, const TableDef &def);

// Writes the header and the rows (texts in field order) to fileName; the old file is
// replaced only once the new one is complete. Throws EDirectoryFileError.
void WriteDirectoryFile(const QString &fileName, const TableDef &def, const QList<QStringList> &rows);

// The rows of a cursor as texts in field order; a pending edit shows, a pending
// appended row does not.
QList<QStringList> TableTexts(const TTable &table);

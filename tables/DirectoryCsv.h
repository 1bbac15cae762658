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

class ECsvTooManyRecords : public EDirectoryFileError {
public:
    using EDirectoryFileError::EDirectoryFileError;
};

// One record of a CSV text and the line it starts on (1-based; a quoted field may
// run over several lines).
struct TCsvRecord {
    int line = 0;
    QStringList fields;
    // Fields the record has; more than `fields` holds when the parse kept only the first ones.
    int fieldCount = 0;
};

// What a parse keeps. A file with more records is refused as soon as the parse passes
// the limit; fields of a record beyond maxFields are counted, not kept. Either way the
// memory a file can take stays bounded whatever its lines look like.
struct TCsvLimits {
    qsizetype maxRecords = -1;
    int maxFields = -1;
};

// A directory file is small: a full status table is well under this.
inline constexpr qint64 MaxDirectoryFileSize = 8 * 1024 * 1024;

// RFC 4180 text in UTF-8 (a leading byte order mark is skipped). Records end with
// CR LF, LF or CR; quoted fields keep their line breaks as written. Empty lines are
// skipped. Throws EDirectoryFileError naming fileName and the line for a zero byte,
// text that is not UTF-8, a quote inside an unquoted field, text after a closing
// quote, or a quoted field that never closes; a UTF-16 file is named as such.
QList<TCsvRecord> ParseCsv(const QByteArray &data, const QString &fileName, const TCsvLimits &limits = {});

// Records as RFC 4180 text in UTF-8, each ended by CR LF. A field is quoted when it
// holds a comma, a quote or a line break.
QByteArray FormatCsv(const QList<QStringList> &records);

// The header a table's file starts with: its field names in order ("Name,Fleet,Ident").
QStringList CsvHeader(const TTableDef &def);

// The most records a table's file may hold before it is refused unread: the user
// directory holds 10 stations, the status directory one row per 16-bit number.
qsizetype MaxFileRecords(const TTableDef &def);

// Reads a table's file: size, text, header and number of records are checked; returns
// the records after the header (a record with the wrong number of fields is for the
// import plan to refuse, so that every such line is reported). A text field written
// with a leading apostrophe that keeps a spreadsheet from taking it for a formula
// comes back without it. Throws EDirectoryFileError.
QList<TCsvRecord> ReadDirectoryFile(const QString &fileName, const TTableDef &def);

// Writes the header and the rows (texts in field order) to fileName; the old file is
// replaced only once the new one is complete. A text field beginning with = + - @, a
// tab or a carriage return gets a leading apostrophe, so that a spreadsheet shows it as
// text instead of running it as a formula. Throws EDirectoryFileError.
void WriteDirectoryFile(const QString &fileName, const TTableDef &def, const QList<QStringList> &rows);

// A text field as a directory file holds it, and back.
QString NeutraliseCell(const QString &text);
QString RestoreCell(const QString &text);

// The rows of a cursor as texts in field order; a pending edit shows, a pending
// appended row does not.
QList<QStringList> TableTexts(const TTable &table);

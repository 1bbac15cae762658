#pragma once

#include "DirectoryCsv.h"
#include "Table.h"

#include <QList>
#include <QString>
#include <QStringList>

// What importing a directory file would do to a table, row by row, worked out before
// anything is written. Rows are matched on their key: a user on Fleet and Ident (the
// station's address, which the name lookup finds it by), a status on its number. A
// matched row whose other fields differ is changed; an unmatched one is added; rows of
// the table that the file does not mention stay as they are. A station the radio
// cannot call is skipped unless the operator asks for it.
enum class ImportAction { Add, Change, Keep, Refuse, Skip };

struct TImportRow {
    int line = 0;
    // The values as they will be stored (numbers normalised); as read when refused.
    QStringList texts;
    // The table's values before a change.
    QStringList before;
    ImportAction action = ImportAction::Refuse;
    // The table row a change writes over.
    qint64 id = 0;
    // Why the row is refused.
    QString reason;
    // Accepted, but worth knowing (a station the radio cannot call).
    QString warning;
};

// Refused lines listed one by one; beyond, they are counted.
inline constexpr int MaxListedRefusals = 100;

struct TImportOptions {
    // Add stations the radio cannot call (Fleet or Ident outside its range) too.
    bool uncallable = false;
};

struct TImportPlan {
    QString fileName;
    TImportOptions options;
    QList<TImportRow> rows;
    // Refused lines not in rows (beyond MaxListedRefusals).
    int unlistedRefusals = 0;

    // Refusals include the unlisted ones.
    int Count(ImportAction action) const;
    int Warnings() const;
    // All or nothing: nothing is written while any row is refused, nor when nothing changes.
    bool Writable() const;
    // The rows to write, in file order.
    QList<TTable::RowWrite> Writes(const TTableDef &def) const;
    // Same actions on the same rows and table rows: the plan still holds.
    bool SameAs(const TImportPlan &other) const;
};

struct TTableRowTexts {
    qint64 id = 0;
    QStringList texts;
};

// The user directory's limit, as the editor enforces it.
inline constexpr int MaxImportUsers = 10;

QList<TTableRowTexts> CurrentRows(const TTable &table);

// Plans the import of records (as ReadDirectoryFile gives them) into a table that holds
// `current`. The user table is limited to MaxImportUsers rows, counting what would be
// written. Blanks around a number are ignored; a line break in a station's name, or a
// record without the header's number of fields, is refused.
TImportPlan PlanImport(const TTableDef &def, const QList<TTableRowTexts> &current,
                       const QList<TCsvRecord> &records, const QString &fileName,
                       const TImportOptions &options = {});

QString ImportActionText(ImportAction action);

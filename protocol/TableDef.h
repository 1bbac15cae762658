#pragma once

#include <QList>
#include <QString>
#include <QVariant>
#include <stdexcept>

// The two directory tables and the rules every cursor on them keeps: the SQLite
// cursor of the console (tables/) and the in-memory one of the tests and the
// fuzzer (MemoryTable) both take them from here, so that a test that passes on
// the one cannot rely on a rule the other does not have.

// Errors of the table store: a missing or foreign file (the message names it), a
// refused value, a failed write, an unknown field. what() is UTF-8.
class ETableError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class FieldType { Text, Int16 };

struct TFieldDef {
    QString name;
    FieldType type;
};

// One directory table: the SQL table inside the file and its fields, in order.
// Each table also has a hidden "id INTEGER PRIMARY KEY" that keeps insertion order.
struct TTableDef {
    QString table;
    QList<TFieldDef> fields;
};

// "User" in User.DB: "Name" text, "Fleet" and "Ident" 16-bit integers.
const TTableDef &UserTableDef();
// "Status" in Status.db: "No." 16-bit integer, "Text" text.
const TTableDef &StatusTableDef();

// Characters (Unicode code points, not UTF-16 units) a text field holds.
inline constexpr int MaxTextLength = 255;

// A table or field name quoted for SQL ("No." -> "\"No.\"").
QString QuoteName(const QString &identifier);
// The statement that makes the table of a new file, as the sample tables are made.
QString CreateTableSql(const TTableDef &def);

// A field is named exactly, case and all: -1 for an unknown name.
int FindField(const TTableDef &def, const QString &name);
// As FindField, but an unknown field throws ETableError naming the table and `where` (the file).
int RequireField(const TTableDef &def, const QString &name, const QString &where);

// The error of an edit or a delete ("edit", "delete from") with no current row.
ETableError EmptyTableError(const char *doing, const TTableDef &def, const QString &where);

// A field's text as the table stores it (null for an empty field); throws
// ETableError for a text too long or a number outside -32768..32767, and
// EConvertError for a text that is not a whole number.
QVariant ConvertFieldText(const TFieldDef &field, const QString &text);
// A stored value as a text; a null one is an empty text.
QString FieldValueText(const QVariant &value);

// What a Locate looks for: the fields and the values converted to their types.
// A number no row can hold (outside the 16-bit range) makes the key impossible:
// it matches nothing rather than throwing.
struct TLocateKey {
    QList<int> fields;
    QVariantList wanted;
    bool possible = true;
};
// Throws ETableError for an unknown field or a count of values that does not fit,
// and EConvertError for a text that is not a whole number.
TLocateKey MakeLocateKey(const TTableDef &def, const QString &where, const QString &fields,
                         const QVariantList &values);
bool RowMatches(const TTableDef &def, const TLocateKey &key, const QVariantList &row, bool caseInsensitive);

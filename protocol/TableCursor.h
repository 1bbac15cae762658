#pragma once

#include <QString>
#include <QVariantList>

// The table operations the radio logic needs from a directory table. The
// SQLite cursor (tables/) implements it; tests may use the in-memory one.
// Every operation reports failure by throwing an exception derived from
// std::exception whose what() is a UTF-8 message.
class ITableCursor {
public:
    virtual ~ITableCursor() = default;

    // Fields separated by ';' ("Fleet;Ident"), one value per field. Values given as
    // texts are converted to the field's type (a text that does not convert throws
    // EConvertError). On a match the first matching row in table order becomes
    // current and true is returned. caseInsensitive applies to text fields only.
    virtual bool Locate(const QString &fields, const QVariantList &values, bool caseInsensitive = false) = 0;
    // The current row's field as text; an empty (NULL) field gives an empty text.
    virtual QString FieldAsText(const QString &field) const = 0;
    // Rows in the table, a newly appended one counted once posted.
    virtual int RecordCount() const = 0;
    // Starts a new empty row after the last one; it becomes current, in insert state.
    virtual void Append() = 0;
    // Sets a field of the pending row from a text, converted to the field's type.
    virtual void SetFieldText(const QString &field, const QString &text) = 0;
    // Whether the current row holds edits not yet written.
    virtual bool Modified() const = 0;
    // Writes the pending insert or edit, committed at once.
    virtual void Post() = 0;
    // Throws the pending insert or edit away (an appended row disappears).
    virtual void Cancel() = 0;
    virtual void First() = 0;
    virtual void Last() = 0;
    // Deletes the current row; the next row becomes current.
    virtual void Delete() = 0;
};

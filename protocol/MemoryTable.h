#pragma once

#include "TableCursor.h"
#include "TableDef.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// A directory table held in memory, for tests and the fuzzer. It keeps the rules
// of the console's SQLite cursor (TTableDef.h: exact field names, text length in
// characters, 16-bit numbers, a Locate on a number no row can hold matching
// nothing) and its cursor states: an appended or edited row stays pending until
// Post or a move, a move writes a changed pending row and drops an appended row
// that got no input. tst_tablecursor runs the same cases on both.
class TMemoryTable final : public ITableCursor {
public:
    explicit TMemoryTable(const TTableDef &def);

    // The user table ("Name", "Fleet", "Ident") and the status table ("No.", "Text").
    static TMemoryTable Users();
    static TMemoryTable Statuses();

    // Adds a posted row from texts, one per field in field order, as if written
    // elsewhere. Throws while a row is pending.
    void AddRow(const QStringList &texts);
    // The row's field as text (for checks).
    QString Cell(int row, const QString &field) const;

    bool Locate(const QString &fields, const QVariantList &values, bool caseInsensitive = false) override;
    QString FieldAsText(const QString &field) const override;
    int RecordCount() const override;
    void Append() override;
    void SetFieldText(const QString &field, const QString &text) override;
    bool Modified() const override;
    void Post() override;
    void Cancel() override;
    void First() override;
    void Last() override;
    void Delete() override;

    // How often Post wrote a row.
    int PostCount() const { return posts_; }

private:
    enum class State { Browse, Edit, Insert };

    int RequireField(const QString &name) const;
    void CheckBrowseMode();

    TTableDef def_;
    QList<QVariantList> rows_; // with a pending appended row last
    QVariantList saved_;       // the current row before a pending edit
    State state_ = State::Browse;
    bool modified_ = false;
    int current_ = -1;
    int posts_ = 0;
};

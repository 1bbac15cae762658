#pragma once

#include "TableCursor.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// A table held in memory with the cursor operations of the directory tables:
// integer fields are 16-bit signed and converted from texts as the table store
// does, text fields hold up to 255 characters. For tests and the fuzzer.
class TMemoryTable final : public ITableCursor {
public:
    enum class FieldType { Text, Int16 };
    struct TField {
        QString name;
        FieldType type;
    };

    explicit TMemoryTable(QList<TField> fields);

    // The user table ("Name", "Fleet", "Ident") and the status table ("No.", "Text").
    static TMemoryTable Users();
    static TMemoryTable Statuses();

    // Adds a posted row from texts, one per field in field order.
    void AddRow(const QStringList &texts);
    // The posted row's field as text (for checks).
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
    int PostCount() const { return m_posts; }

private:
    int FieldIndex(const QString &name) const;
    QVariant Convert(int field, const QVariant &value) const;

    QList<TField> m_fields;
    QList<QVariantList> m_rows;
    QVariantList m_pending;
    bool m_inserting = false;
    bool m_modified = false;
    int m_current = -1;
    int m_posts = 0;
};

#include "MemoryTable.h"

#include "Convert.h"

#include <stdexcept>

TMemoryTable::TMemoryTable(QList<TField> fields) : m_fields(std::move(fields)) {}

TMemoryTable TMemoryTable::Users()
{
    return TMemoryTable({{QStringLiteral("Name"), FieldType::Text},
                         {QStringLiteral("Fleet"), FieldType::Int16},
                         {QStringLiteral("Ident"), FieldType::Int16}});
}

TMemoryTable TMemoryTable::Statuses()
{
    return TMemoryTable(
        {{QStringLiteral("No."), FieldType::Int16}, {QStringLiteral("Text"), FieldType::Text}});
}

int TMemoryTable::FieldIndex(const QString &name) const
{
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_fields[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    throw std::runtime_error(
        QString(QLatin1String("Field '") + name + QLatin1String("' not found")).toStdString());
}

QVariant TMemoryTable::Convert(int field, const QVariant &value) const
{
    if (value.isNull())
        return {};
    if (m_fields[field].type == FieldType::Text) {
        const QString text = value.toString();
        if (text.size() > 255)
            throw std::runtime_error("Text longer than 255 characters");
        return text;
    }
    const int n = value.typeId() == QMetaType::QString ? StrToInt(value.toString()) : value.toInt();
    if (n < -32768 || n > 32767)
        throw std::runtime_error("Value " + std::to_string(n) + " out of range");
    return n;
}

void TMemoryTable::AddRow(const QStringList &texts)
{
    QVariantList row;
    for (int i = 0; i < m_fields.size(); ++i)
        row.append(i < texts.size() && !texts[i].isEmpty() ? Convert(i, texts[i]) : QVariant());
    m_rows.append(row);
}

QString TMemoryTable::Cell(int row, const QString &field) const
{
    return m_rows.at(row).at(FieldIndex(field)).toString();
}

bool TMemoryTable::Locate(const QString &fields, const QVariantList &values, bool caseInsensitive)
{
    const QStringList names = fields.split(QLatin1Char(';'));
    if (names.size() != values.size())
        throw std::runtime_error("Locate: one value per field");
    QList<int> index;
    QVariantList wanted;
    for (int i = 0; i < names.size(); ++i) {
        index.append(FieldIndex(names[i]));
        wanted.append(Convert(index.back(), values[i]));
    }
    for (int r = 0; r < m_rows.size(); ++r) {
        bool match = true;
        for (int i = 0; i < index.size() && match; ++i) {
            const QVariant &have = m_rows[r][index[i]];
            if (m_fields[index[i]].type == FieldType::Text)
                match =
                    have.toString().compare(wanted[i].toString(),
                                            caseInsensitive ? Qt::CaseInsensitive : Qt::CaseSensitive) == 0;
            else
                match = !have.isNull() && !wanted[i].isNull() && have.toInt() == wanted[i].toInt();
        }
        if (match) {
            m_current = r;
            return true;
        }
    }
    return false;
}

QString TMemoryTable::FieldAsText(const QString &field) const
{
    const int f = FieldIndex(field);
    if (m_inserting)
        return m_pending[f].toString();
    if (m_current < 0 || m_current >= m_rows.size())
        return {};
    return m_rows[m_current][f].toString();
}

int TMemoryTable::RecordCount() const
{
    return static_cast<int>(m_rows.size());
}

void TMemoryTable::Append()
{
    m_pending = QVariantList(m_fields.size());
    m_inserting = true;
    m_modified = false;
}

void TMemoryTable::SetFieldText(const QString &field, const QString &text)
{
    if (!m_inserting)
        throw std::runtime_error("Table is not in insert state");
    const int f = FieldIndex(field);
    m_pending[f] = text.isEmpty() ? QVariant() : Convert(f, text);
    m_modified = true;
}

bool TMemoryTable::Modified() const
{
    return m_modified;
}

void TMemoryTable::Post()
{
    if (!m_inserting)
        return;
    m_rows.append(m_pending);
    m_current = static_cast<int>(m_rows.size()) - 1;
    m_inserting = false;
    m_modified = false;
    ++m_posts;
}

void TMemoryTable::Cancel()
{
    m_inserting = false;
    m_modified = false;
}

void TMemoryTable::First()
{
    m_inserting = false;
    m_current = m_rows.isEmpty() ? -1 : 0;
}

void TMemoryTable::Last()
{
    m_inserting = false;
    m_current = static_cast<int>(m_rows.size()) - 1;
}

void TMemoryTable::Delete()
{
    if (m_current < 0 || m_current >= m_rows.size())
        return;
    m_rows.removeAt(m_current);
    if (m_current >= m_rows.size())
        m_current = static_cast<int>(m_rows.size()) - 1;
}

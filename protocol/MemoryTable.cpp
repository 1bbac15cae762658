#include "MemoryTable.h"

namespace {

// Where the error messages say the table is, as the SQLite cursor names its file.
const QString &Where()
{
    static const QString where = QStringLiteral("memory");
    return where;
}

} // namespace

TMemoryTable::TMemoryTable(const TableDef &def) : m_def(def) {}

TMemoryTable TMemoryTable::Users()
{
    return TMemoryTable(UserTableDef());
}

TMemoryTable TMemoryTable::Statuses()
{
    return TMemoryTable(StatusTableDef());
}

int TMemoryTable::RequireField(const QString &name) const
{
    return ::RequireField(m_def, name, Where());
}

void TMemoryTable::AddRow(const QStringList &texts)
{
    if (m_state != State::Browse)
        throw ETableError("AddRow while a row is pending");
    QVariantList row;
    for (int i = 0; i < m_def.fields.size(); ++i)
        row.append(ConvertFieldText(m_def.fields.at(i), texts.value(i)));
    m_rows.append(row);
}

QString TMemoryTable::Cell(int row, const QString &field) const
{
    return FieldValueText(m_rows.at(row).at(RequireField(field)));
}

void TMemoryTable::CheckBrowseMode()
{
    if (m_state == State::Insert && !m_modified)
        Cancel();
    else if (m_state != State::Browse)
        Post();
}

bool TMemoryTable::Locate(const QString &fields, const QVariantList &values, bool caseInsensitive)
{
    const LocateKey key = MakeLocateKey(m_def, Where(), fields, values);
    CheckBrowseMode();
    if (!key.possible)
        return false;
    for (int r = 0; r < m_rows.size(); ++r) {
        if (RowMatches(m_def, key, m_rows.at(r), caseInsensitive)) {
            m_current = r;
            return true;
        }
    }
    return false;
}

QString TMemoryTable::FieldAsText(const QString &field) const
{
    const int f = RequireField(field);
    if (m_current < 0 || m_current >= m_rows.size())
        return {};
    return FieldValueText(m_rows.at(m_current).at(f));
}

int TMemoryTable::RecordCount() const
{
    return static_cast<int>(m_rows.size()) - (m_state == State::Insert ? 1 : 0);
}

void TMemoryTable::Append()
{
    CheckBrowseMode();
    m_rows.append(QVariantList(m_def.fields.size()));
    m_state = State::Insert;
    m_modified = false;
    m_current = static_cast<int>(m_rows.size()) - 1;
}

void TMemoryTable::SetFieldText(const QString &field, const QString &text)
{
    const int f = RequireField(field);
    if (m_current < 0)
        throw ETableError(QStringLiteral("Cannot edit the empty table \"%1\" in \"%2\"")
                              .arg(m_def.table, Where())
                              .toStdString());
    const QVariant value = ConvertFieldText(m_def.fields.at(f), text);
    auto &row = m_rows[m_current];
    if (m_state == State::Browse) {
        m_saved = row;
        m_state = State::Edit;
    }
    row[f] = value;
    m_modified = true;
}

bool TMemoryTable::Modified() const
{
    return m_state != State::Browse && m_modified;
}

void TMemoryTable::Post()
{
    if (m_state == State::Browse)
        return;
    m_state = State::Browse;
    m_modified = false;
    m_saved.clear();
    ++m_posts;
}

void TMemoryTable::Cancel()
{
    if (m_state == State::Insert) {
        m_rows.removeLast();
        m_current = static_cast<int>(m_rows.size()) - 1;
    } else if (m_state == State::Edit) {
        m_rows[m_current] = m_saved;
        m_saved.clear();
    }
    m_state = State::Browse;
    m_modified = false;
}

void TMemoryTable::First()
{
    CheckBrowseMode();
    m_current = m_rows.isEmpty() ? -1 : 0;
}

void TMemoryTable::Last()
{
    CheckBrowseMode();
    m_current = static_cast<int>(m_rows.size()) - 1;
}

void TMemoryTable::Delete()
{
    if (m_state == State::Insert) {
        Cancel();
        return;
    }
    if (m_current < 0)
        throw ETableError(QStringLiteral("Cannot delete from the empty table \"%1\" in \"%2\"")
                              .arg(m_def.table, Where())
                              .toStdString());
    // A delete takes the row as it was before a pending edit.
    m_rows.removeAt(m_current);
    m_state = State::Browse;
    m_modified = false;
    m_saved.clear();
    m_current = qMin(m_current, static_cast<int>(m_rows.size()) - 1);
}

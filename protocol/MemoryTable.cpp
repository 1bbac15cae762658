#include "MemoryTable.h"

namespace {

// Where the error messages say the table is, as the SQLite cursor names its file.
const QString &Where()
{
    static const QString where = QStringLiteral("memory");
    return where;
}

} // namespace

TMemoryTable::TMemoryTable(const TTableDef &def) : def_(def) {}

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
    return ::RequireField(def_, name, Where());
}

void TMemoryTable::AddRow(const QStringList &texts)
{
    if (state_ != State::Browse)
        throw ETableError("AddRow while a row is pending");
    QVariantList row;
    for (int i = 0; i < def_.fields.size(); ++i)
        row.append(ConvertFieldText(def_.fields.at(i), texts.value(i)));
    rows_.append(row);
}

QString TMemoryTable::Cell(int row, const QString &field) const
{
    return FieldValueText(rows_.at(row).at(RequireField(field)));
}

void TMemoryTable::CheckBrowseMode()
{
    if (state_ == State::Insert && !modified_)
        Cancel();
    else if (state_ != State::Browse)
        Post();
}

bool TMemoryTable::Locate(const QString &fields, const QVariantList &values, bool caseInsensitive)
{
    const TLocateKey key = MakeLocateKey(def_, Where(), fields, values);
    CheckBrowseMode();
    if (!key.possible)
        return false;
    for (int r = 0; r < rows_.size(); ++r) {
        if (RowMatches(def_, key, rows_.at(r), caseInsensitive)) {
            current_ = r;
            return true;
        }
    }
    return false;
}

QString TMemoryTable::FieldAsText(const QString &field) const
{
    const int f = RequireField(field);
    if (current_ < 0 || current_ >= rows_.size())
        return {};
    return FieldValueText(rows_.at(current_).at(f));
}

int TMemoryTable::RecordCount() const
{
    return static_cast<int>(rows_.size()) - (state_ == State::Insert ? 1 : 0);
}

void TMemoryTable::Append()
{
    CheckBrowseMode();
    rows_.append(QVariantList(def_.fields.size()));
    state_ = State::Insert;
    modified_ = false;
    current_ = static_cast<int>(rows_.size()) - 1;
}

void TMemoryTable::SetFieldText(const QString &field, const QString &text)
{
    const int f = RequireField(field);
    if (current_ < 0)
        throw EmptyTableError("edit", def_, Where());
    const QVariant value = ConvertFieldText(def_.fields.at(f), text);
    auto &row = rows_[current_];
    if (state_ == State::Browse) {
        saved_ = row;
        state_ = State::Edit;
    }
    row[f] = value;
    modified_ = true;
}

bool TMemoryTable::Modified() const
{
    return state_ != State::Browse && modified_;
}

void TMemoryTable::Post()
{
    if (state_ == State::Browse)
        return;
    state_ = State::Browse;
    modified_ = false;
    saved_.clear();
    ++posts_;
}

void TMemoryTable::Cancel()
{
    if (state_ == State::Insert) {
        rows_.removeLast();
        current_ = static_cast<int>(rows_.size()) - 1;
    } else if (state_ == State::Edit) {
        rows_[current_] = saved_;
        saved_.clear();
    }
    state_ = State::Browse;
    modified_ = false;
}

void TMemoryTable::First()
{
    CheckBrowseMode();
    current_ = rows_.isEmpty() ? -1 : 0;
}

void TMemoryTable::Last()
{
    CheckBrowseMode();
    current_ = static_cast<int>(rows_.size()) - 1;
}

void TMemoryTable::Delete()
{
    if (state_ == State::Insert) {
        Cancel();
        return;
    }
    if (current_ < 0)
        throw EmptyTableError("delete from", def_, Where());
    // A delete takes the row as it was before a pending edit.
    rows_.removeAt(current_);
    state_ = State::Browse;
    modified_ = false;
    saved_.clear();
    current_ = qMin(current_, static_cast<int>(rows_.size()) - 1);
}

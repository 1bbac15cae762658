#include "LookupBinding.h"

#include "DBLookupComboBox.h"
#include "Table.h"
#include "WindowKit.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <exception>

void AcceptIntegerCharacters(QLineEdit *edit, int maxTyped)
{
    // The length limit is the validator's, not the box's maxLength: maxLength would
    // also cut a value the directory puts there, and a shortened Ident addresses
    // another radio. setText() bypasses the validator, so a stored 12345 shows whole
    // (and is refused when sent), while the operator still types at most maxTyped.
    const QString pattern =
        maxTyped > 0 ? QStringLiteral("[+\\-0-9]{0,%1}").arg(maxTyped) : QStringLiteral("[+\\-0-9]*");
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), edit));
}

TLookupBinding::TLookupBinding(TTable *table, const QString &listField, TDBLookupComboBox *list,
                               QObject *parent)
    : QObject(parent), table_(table), listField_(table->FieldIndex(listField)), list_(list)
{
    list_->setModel(table_->Model());
    list_->setModelColumn(table_->ModelColumn(listField));
    // Nothing is chosen yet: the list shows no text.
    list_->setCurrentIndex(-1);
    connect(list_, &QComboBox::activated, this, &TLookupBinding::ListActivated);
    connect(list_, &TDBLookupComboBox::DropDown, this, &TLookupBinding::ListDropDown);
    connect(table_, &TTable::CurrentRowChanged, this, &TLookupBinding::ShowCurrentRow);
}

void TLookupBinding::BindEdit(QLineEdit *edit, const QString &field)
{
    edits_.append({edit, table_->FieldIndex(field)});
    shownId_ = {};
    ShowCurrentRow();
}

bool TLookupBinding::Choose(const QString &text)
{
    for (int row = 0; row < table_->RowCount(); ++row) {
        if (table_->FieldText(row, listField_) == text) {
            table_->SetCurrentRow(row);
            list_->setCurrentIndex(row);
            return true;
        }
    }
    return false;
}

void TLookupBinding::ListActivated(int index)
{
    if (index >= 0)
        Choose(list_->itemText(index));
}

void TLookupBinding::ListDropDown()
{
    const bool chosen = list_->currentIndex() >= 0;
    try {
        table_->Refresh();
    } catch (const std::exception &e) {
        // The list opens with the rows read before; the operator learns why it is stale.
        ShowTableError(QString::fromUtf8(e.what()));
    }
    // Re-reading resets the list's own selection; it follows the cursor again.
    list_->setCurrentIndex(chosen ? table_->CurrentRow() : -1);
}

void TLookupBinding::ShowCurrentRow()
{
    const int row = table_->CurrentRow();
    const QVariant id = row >= 0 ? table_->Model()->index(row, 0).data() : QVariant();
    const bool sameRow = shownId_.isValid() && id == shownId_;
    for (const auto &bound : edits_) {
        // Typed values stay while the row is the same one (the directory was only
        // re-read); they give way when another row is chosen.
        if (sameRow && !bound.edit->isReadOnly())
            continue;
        bound.edit->setText(row >= 0 ? table_->FieldText(row, bound.field) : QString());
    }
    shownId_ = id;
}

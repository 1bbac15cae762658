#include "DBGrid.h"

#include "MessageBox.h"
#include "Table.h"
#include "WindowKit.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QStyledItemDelegate>
#include <QTimer>
#include <exception>

namespace {

// Every cell is edited as text, so that the table's own conversion judges what
// was typed (a spin box would silently clamp or refuse characters).
class TextDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &,
                          const QModelIndex &index) const override
    {
        auto *edit = new QLineEdit(parent);
        edit->setFrame(false);
        edit->setAlignment(Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt()));
        return edit;
    }
    void setEditorData(QWidget *editor, const QModelIndex &index) const override
    {
        static_cast<QLineEdit *>(editor)->setText(index.data(Qt::EditRole).toString());
    }
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override
    {
        model->setData(index, static_cast<QLineEdit *>(editor)->text(), Qt::EditRole);
    }
};

} // namespace

TDBGrid::TDBGrid(QWidget *parent) : QTableView(parent)
{
    setItemDelegate(new TextDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::DoubleClicked |
                    QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setTabKeyNavigation(true);
    verticalHeader()->hide();
    // Rows as tight as a list: the windows are small and show ten users at once.
    verticalHeader()->setMinimumSectionSize(fontMetrics().height() + 4);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
}

template <typename F> bool TDBGrid::Guard(F &&operation)
{
    try {
        operation();
        return true;
    } catch (const std::exception &e) {
        ShowTableError(QString::fromUtf8(e.what()));
        return false;
    }
}

void TDBGrid::SetTable(TTable *table)
{
    table_ = table;
    setModel(table->Model());
    setColumnHidden(0, true);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this, &TDBGrid::ViewCurrentRowChanged);
    connect(table, &TTable::CurrentRowChanged, this, &TDBGrid::TableCurrentRowChanged);
    connect(table, &TTable::UpdateRecord, this, &TDBGrid::TableUpdateRecord);
    // A reset forgets the view's current cell; put it back on the cursor's row.
    connect(table->Model(), &QAbstractItemModel::modelReset, this,
            [this] { TableCurrentRowChanged(table_->CurrentRow()); });
    TableCurrentRowChanged(table->CurrentRow());
}

void TDBGrid::SetColumnWidth(const QString &field, int width)
{
    setColumnWidth(table_->ModelColumn(field), width);
}

QString TDBGrid::FieldOfColumn(int column) const
{
    return table_->Model()->headerData(column, Qt::Horizontal).toString();
}

void TDBGrid::ViewCurrentRowChanged(const QModelIndex &current)
{
    if (!current.isValid() || current.row() == table_->CurrentRow())
        return;
    // Moving the cursor writes the row left behind; if that fails the cursor stays
    // there, and so must the view.
    if (!Guard([&] { table_->SetCurrentRow(current.row()); }))
        QMetaObject::invokeMethod(
            this, [this] { TableCurrentRowChanged(table_->CurrentRow()); }, Qt::QueuedConnection);
}

// Someone else (the name lookup, the status lookup) writes or leaves the row: the
// text in an open cell editor goes with it, if the table takes it.
void TDBGrid::TableUpdateRecord()
{
    if (state() != EditingState || !editing_.isValid() || editing_.row() != table_->CurrentRow())
        return;
    auto *edit = qobject_cast<QLineEdit *>(indexWidget(editing_));
    if (!edit || !table_->CheckFieldText(FieldOfColumn(editing_.column()), edit->text()).isEmpty())
        return;
    QTableView::commitData(edit);
    closeEditor(edit, QAbstractItemDelegate::NoHint);
}

void TDBGrid::TableCurrentRowChanged(int row)
{
    // The cursor left the row of an open editor (what it held that the table would
    // take was handed over already): the editor must not write into the old row,
    // which would pull the cursor back.
    if (state() == EditingState && editing_.isValid() && editing_.row() != row) {
        if (QWidget *editor = indexWidget(editing_))
            closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    }
    if (row < 0) {
        selectionModel()->clearCurrentIndex();
        return;
    }
    if (currentIndex().isValid() && currentIndex().row() == row)
        return;
    const int column = currentIndex().isValid() ? currentIndex().column() : 1;
    setCurrentIndex(model()->index(row, column));
}

bool TDBGrid::edit(const QModelIndex &index, EditTrigger trigger, QEvent *event)
{
    const bool started = QTableView::edit(index, trigger, event);
    if (started)
        editing_ = index;
    return started;
}

void TDBGrid::commitData(QWidget *editor)
{
    auto *edit = qobject_cast<QLineEdit *>(editor);
    // The editor closing under the refusal's own box: that box says it already,
    // and the cell is opened again after it.
    if (reporting_)
        return;
    if (!edit || !editing_.isValid()) {
        QTableView::commitData(editor);
        return;
    }
    const QString text = edit->text();
    const QString error = table_->CheckFieldText(FieldOfColumn(editing_.column()), text);
    if (error.isEmpty()) {
        QTableView::commitData(editor);
        return;
    }
    // Refused: the editor is closing now (focus left it, or the current cell
    // moved). Open it again on the same cell with the same text once the view is
    // done, and say why.
    refusedIndex_ = editing_;
    refusedText_ = text;
    refusedError_ = error;
    QMetaObject::invokeMethod(this, &TDBGrid::ReopenRefusedCell, Qt::QueuedConnection);
}

void TDBGrid::ReopenRefusedCell()
{
    const QPersistentModelIndex index = refusedIndex_;
    const QString text = refusedText_;
    const QString error = refusedError_;
    if (error.isEmpty())
        return;
    // The cell was refused because another window's box (the line lost, a frame
    // that did not decode) took the focus from it: say why only once that box is
    // gone, not in a second box on top of it.
    if (QWidget *modal = QApplication::activeModalWidget(); modal && modal != window()) {
        QTimer::singleShot(100, this, &TDBGrid::ReopenRefusedCell);
        return;
    }
    refusedIndex_ = QPersistentModelIndex();
    refusedError_.clear();
    reporting_ = true;
    ShowTableError(error);
    reporting_ = false;
    if (!index.isValid() || !isVisible())
        return;
    setCurrentIndex(index);
    if (currentIndex() != QModelIndex(index))
        return;
    if (state() != EditingState)
        edit(index);
    if (auto *editor = qobject_cast<QLineEdit *>(indexWidget(index))) {
        editor->setText(text);
        editor->setFocus();
    }
}

bool TDBGrid::WritePendingRow()
{
    try {
        if (!FinishEditing())
            return false;
        if (table_ && table_->Modified())
            table_->Post();
    } catch (const std::exception &e) {
        ShowTableError(QString::fromUtf8(e.what()));
    }
    return true;
}

bool TDBGrid::FinishEditing()
{
    // A cell refused a moment ago (its editor lost the focus to whatever called
    // us): say so now and put the editor back, instead of going on without it.
    if (!refusedError_.isEmpty()) {
        ReopenRefusedCell();
        return false;
    }
    if (state() != EditingState || !editing_.isValid())
        return true;
    QWidget *editor = indexWidget(editing_);
    auto *edit = qobject_cast<QLineEdit *>(editor);
    if (!edit)
        return true;
    const QString error = table_->CheckFieldText(FieldOfColumn(editing_.column()), edit->text());
    if (!error.isEmpty()) {
        // The box takes the focus and the view closes the editor meanwhile: say
        // it once, then put the editor back with the text, as for a refused cell.
        refusedIndex_ = editing_;
        refusedText_ = edit->text();
        refusedError_ = error;
        ReopenRefusedCell();
        return false;
    }
    QTableView::commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
    return true;
}

void TDBGrid::AppendRow()
{
    if (!FinishEditing())
        return;
    Guard([this] { table_->Append(); });
}

void TDBGrid::DeleteRow()
{
    if (table_->RowCount() == 0)
        return;
    if (ShowMessageBox(QStringLiteral("Delete record?"), QStringLiteral("Confirm"), MsgIcon::Question,
                       MsgButtons::OkCancel) != MsgAnswer::Ok)
        return;
    if (state() == EditingState) {
        if (QWidget *editor = indexWidget(editing_))
            closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    }
    Guard([this] { table_->Delete(); });
}

void TDBGrid::keyPressEvent(QKeyEvent *event)
{
    emit KeyDown(event->key(), event->modifiers());
    if (!table_) {
        QTableView::keyPressEvent(event);
        return;
    }
    const auto mods = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Down && mods == Qt::NoModifier && currentIndex().isValid() &&
        currentIndex().row() == model()->rowCount() - 1) {
        // Past the last row: a new row, unless the last one is already a new row
        // that nothing was typed into.
        if (!(table_->Inserting() && !table_->Modified()))
            AppendRow();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Insert && mods == Qt::NoModifier) {
        AppendRow();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Delete && mods == Qt::ControlModifier) {
        DeleteRow();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape && mods == Qt::NoModifier && state() != EditingState &&
        (table_->Inserting() || table_->Modified())) {
        // Esc throws the row's unwritten changes away, as in the cell editor.
        table_->Cancel();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

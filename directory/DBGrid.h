#pragma once

#include <QPersistentModelIndex>
#include <QTableView>

class TTable;

// A grid over a table cursor: edits cells in place, appends past the last row
// (Down) and on Insert, deletes with Ctrl+Delete after a question, and keeps the
// view's current row and the cursor's current row the same. A cell whose text the
// table refuses keeps the focus, with the table's error shown; no exception leaves
// the grid's event handling.
class TDBGrid final : public QTableView {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget *parent = nullptr);
    using QTableView::edit;

    void SetTable(TTable *table);
    TTable *Table() const { return table_; }
    // Sets the width of a field's column.
    void SetColumnWidth(const QString &field, int width);
    // Hands an open cell editor's text to the table (as leaving the cell would).
    // False when the table refused it: the error was shown and the editor keeps the focus.
    bool FinishEditing();
    // What pressing a Close button does: hands an open cell's text over and writes the
    // pending row. False only when the cell was refused (the error was shown); a failed
    // write is shown too, here, since this runs inside a button's mouse handling.
    bool WritePendingRow();

signals:
    // Every key pressed in the grid, before the grid handles it.
    void KeyDown(int key, Qt::KeyboardModifiers modifiers);

protected:
    bool edit(const QModelIndex &index, EditTrigger trigger, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

protected slots:
    void commitData(QWidget *editor) override;

private:
    void ViewCurrentRowChanged(const QModelIndex &current);
    void TableCurrentRowChanged(int row);
    void TableUpdateRecord();
    void AppendRow();
    void DeleteRow();
    void ReopenRefusedCell();
    QString FieldOfColumn(int column) const;
    // Runs a table operation; an error is shown instead of leaving the event handler.
    template <typename F> bool Guard(F &&operation);

    TTable *table_ = nullptr;
    QPersistentModelIndex editing_;
    QPersistentModelIndex refusedIndex_;
    QString refusedText_;
    QString refusedError_;
    bool reporting_ = false; // a refusal's box is open
};

#pragma once

#include <QList>
#include <QObject>
#include <QVariant>

class QLineEdit;
class TDBLookupComboBox;
class TTable;

// Binds a lookup list and edit boxes to one window's own table instance: the
// list shows one field of every row and moves the cursor to the first row with
// the chosen text; each edit box shows a field of the current row.
//
// Nothing is written back: what the operator types into an editable box (the
// "Other" station) is sent as typed and the row stays as it is in the directory.
// Lets a box take only the characters of an integer field: digits and a sign.
// Whether they make a number is judged when the text is used. maxTyped > 0 limits
// what can be typed, never what is put there by the program.
void AcceptIntegerCharacters(QLineEdit *edit, int maxTyped = 0);

class TLookupBinding final : public QObject {
    Q_OBJECT
public:
    TLookupBinding(TTable *table, const QString &listField, TDBLookupComboBox *list, QObject *parent);

    // The box shows field of the current row from now on.
    void BindEdit(QLineEdit *edit, const QString &field);

    TTable *Table() const { return table_; }

    // Moves the cursor to the first row whose list field is text and shows it in
    // the list, as choosing it does; false when no row has it.
    bool Choose(const QString &text);

private slots:
    void ListActivated(int index);
    void ListDropDown();
    void ShowCurrentRow();

private:
    struct TBoundEdit {
        QLineEdit *edit;
        int field;
    };

    TTable *table_;
    int listField_;
    TDBLookupComboBox *list_;
    QList<TBoundEdit> edits_;
    QVariant shownId_; // the hidden id of the row the boxes show
};

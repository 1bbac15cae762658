#include "CallWindow.h"

#include "DBLookupComboBox.h"
#include "LookupBinding.h"
#include "Table.h"
#include "WindowKit.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <exception>

TLookupBinding *BindStationPicker(TTable *users, TDBLookupComboBox *names, QLineEdit *fleet, QLineEdit *ident,
                                  QWidget *window)
{
    auto *binding = new TLookupBinding(users, QStringLiteral("Name"), names, window);
    AcceptIntegerCharacters(fleet, 3);
    AcceptIntegerCharacters(ident, 4);
    for (QLineEdit *box : {fleet, ident}) {
        // A value from the directory is shown whole, however long.
        box->setMaxLength(32767);
        box->setReadOnly(true);
    }
    binding->BindEdit(fleet, QStringLiteral("Fleet"));
    binding->BindEdit(ident, QStringLiteral("Ident"));
    return binding;
}

void UnlockForOther(const TDBLookupComboBox *names, QLineEdit *fleet, QLineEdit *ident)
{
    const bool other = names->currentText() == QLatin1String("Other");
    fleet->setReadOnly(!other);
    ident->setReadOnly(!other);
}

void HoldStationInPicker(TLookupBinding *binding, TDBLookupComboBox *names, QLineEdit *fleet,
                         QLineEdit *ident, int fleetNumber, int identNumber)
{
    TTable *users = binding->Table();
    try {
        // The window's own cursor: rows the directory gained since it was read show.
        users->Refresh();
    } catch (const std::exception &e) {
        ShowTableError(QString::fromUtf8(e.what()));
    }
    if (const int row = StationRow(*users, fleetNumber, identNumber); row >= 0) {
        users->SetCurrentRow(row);
        names->setCurrentIndex(row);
        UnlockForOther(names, fleet, ident);
        return;
    }
    if (!binding->Choose(QStringLiteral("Other")))
        names->setCurrentIndex(-1);
    UnlockForOther(names, fleet, ident);
    fleet->setText(QString::number(fleetNumber));
    ident->setText(QString::number(identNumber));
}

void EnterClicksButtons(std::initializer_list<QAbstractButton *> buttons, QWidget *window)
{
    auto *filter = new TEnterClicksFocusedButton(window);
    for (QAbstractButton *button : buttons)
        button->installEventFilter(filter);
}

void CentreOnFirstShow(QWidget *window, bool &centred)
{
    if (centred)
        return;
    centred = true;
    CentreOnScreen(window);
}

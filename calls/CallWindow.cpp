#include "CallWindow.h"

#include "DBLookupComboBox.h"
#include "LookupBinding.h"
#include "WindowKit.h"

#include <QAbstractButton>
#include <QLineEdit>

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

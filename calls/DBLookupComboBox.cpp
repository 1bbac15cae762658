#include "DBLookupComboBox.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QMetaObject>

TDBLookupComboBox::TDBLookupComboBox(QWidget *parent) : QComboBox(parent)
{
    // The list window can also disappear without hidePopup (the window loses focus).
    view()->window()->installEventFilter(this);
}

void TDBLookupComboBox::showPopup()
{
    emit DropDown();
    open_ = true;
    QComboBox::showPopup();
}

void TDBLookupComboBox::hidePopup()
{
    QComboBox::hidePopup();
    ListClosed();
}

bool TDBLookupComboBox::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Hide && watched == view()->window())
        ListClosed();
    return QComboBox::eventFilter(watched, event);
}

void TDBLookupComboBox::ListClosed()
{
    if (!open_)
        return;
    open_ = false;
    // A click or Enter in the list closes it first and reports the chosen row
    // afterwards; queued, the close-up sees the new choice.
    QMetaObject::invokeMethod(this, &TDBLookupComboBox::CloseUp, Qt::QueuedConnection);
}

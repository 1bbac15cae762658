#pragma once

#include <QObject>

class QString;
class QWidget;

// Shows a table error the way the application shows errors (stop icon, OK).
void ShowTableError(const QString &message);

// Places a window in the middle of the screen it is on (the primary one before
// it has been shown).
void CentreOnScreen(QWidget *window);

// Makes the window visible and brings it to the front, without making it modal.
// A window that is already visible comes to the front with its new contents.
void ShowPopupWindow(QWidget *window);

// Enter or Return on a focused button clicks it, as on the operator's other
// systems; picture buttons (tool buttons) otherwise answer only to Space.
class TEnterClicksFocusedButton final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

class QAbstractButton;
class QKeyEvent;

// Enter or Return in a dialog: a focused push or picture button is clicked, as
// the operator expects; anywhere else the default button is clicked. Returns
// true when the key was used.
bool ClickForEnter(QWidget *dialog, QKeyEvent *event, QAbstractButton *defaultButton);

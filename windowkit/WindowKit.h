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

// Installed on the application: a modal dialog or box that has a parent window
// is made modal to that window (and its parents) instead of to the whole
// application, so that windows of their own (the status popup with an alarm,
// the Emergencies window) stay usable while it is open. One without a parent
// stays application-modal.
class TDialogsModalToTheirWindow final : public QObject {
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

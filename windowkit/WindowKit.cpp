#include "WindowKit.h"

#include "MessageBox.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

void CentreOnScreen(QWidget *window)
{
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = window->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft());
}

void ShowPopupWindow(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

bool TEnterClicksFocusedButton::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            key->modifiers() == Qt::NoModifier) {
            if (auto *button = qobject_cast<QAbstractButton *>(watched); button && button->isEnabled()) {
                button->click();
                return true;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

bool TDialogsModalToTheirWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The show event comes before the window reaches the window system, where
    // its modality takes effect; exec() has just made it application-modal.
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto *window = static_cast<QWidget *>(watched);
        if (window->isWindow() && window->parentWidget() && window->testAttribute(Qt::WA_ShowModal) &&
            window->windowModality() == Qt::ApplicationModal) {
            window->setWindowModality(Qt::WindowModal);
            // The native window took its modality when it was made.
            if (QWindow *handle = window->windowHandle())
                handle->setModality(Qt::WindowModal);
        }
    }
    return QObject::eventFilter(watched, event);
}

bool ClickForEnter(QWidget *dialog, QKeyEvent *event, QAbstractButton *defaultButton)
{
    if ((event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter) ||
        (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    // Check boxes and radio buttons are checkable: Enter there means the default.
    auto *focused = qobject_cast<QAbstractButton *>(dialog->focusWidget());
    QAbstractButton *target =
        focused && !focused->isCheckable() && focused->isVisible() ? focused : defaultButton;
    if (!target || !target->isEnabled())
        return false;
    target->click();
    return true;
}

void ShowTableError(const QString &message)
{
    ShowMessageBox(message, QStringLiteral("Error"), MsgIcon::Stop, MsgButtons::Ok);
}

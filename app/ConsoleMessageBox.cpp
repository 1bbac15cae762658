#include "ConsoleMessageBox.h"

#include "MessageBox.h"

#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>

namespace {

// The window a box belongs to: the modal one open now, else the main window
// (never a popup or the Emergencies window that happens to be active, which it
// would block), else the active one. A box with a parent blocks only that
// window and its parents.
QWidget *BoxParent()
{
    if (QWidget *modal = QApplication::activeModalWidget())
        return modal;
    for (QWidget *window : QApplication::topLevelWidgets())
        if (qobject_cast<QMainWindow *>(window) && window->isVisible())
            return window;
    return QApplication::activeWindow();
}

} // namespace

void InstallConsoleMessageBox()
{
    SetMessageBoxRoutine([](const QString &text, const QString &caption, MsgIcon icon, MsgButtons buttons) {
        QMessageBox box(BoxParent());
        box.setTextFormat(Qt::PlainText);
        box.setText(text);
        box.setWindowTitle(caption);
        switch (icon) {
        case MsgIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MsgIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MsgIcon::Stop:
            box.setIcon(QMessageBox::Critical);
            break;
        case MsgIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        }
        if (buttons == MsgButtons::OkCancel) {
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
            box.setEscapeButton(QMessageBox::Cancel);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
        }
        return box.exec() == QMessageBox::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
    });
}

#include "Application.h"

#include "MessageBox.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <algorithm>

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("corvalink-demo"));
    // No display name: X11 and Wayland would append it to every window title, and
    // each title bar is to show exactly its caption. The desktop entry carries the
    // association with the menu entry and icon instead.
    setDesktopFileName(QStringLiteral("corvalink-demo"));
    SetErrorReportRoutine([this](const QString &message) { ShowError(message); });
}

TApplication::~TApplication()
{
    SetErrorReportRoutine({});
}

TApplication *TApplication::Instance()
{
    return qobject_cast<TApplication *>(QCoreApplication::instance());
}

QString TApplication::ErrorCaption()
{
    return QStringLiteral("Error");
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowException(std::current_exception());
    }
    return false;
}

void TApplication::ShowException(std::exception_ptr error)
{
    ShowError(ExceptionMessage(error));
}

void TApplication::ShowError(const QString &message)
{
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, message] { ShowError(message); }, Qt::QueuedConnection);
        return;
    }
    if (showing_ || waiting_) {
        const bool repeat = std::find(pending_.begin(), pending_.end(), message) != pending_.end();
        if (repeat || pending_.size() >= MaxPending)
            ++dropped_;
        else
            pending_.push_back(message);
        return;
    }
    pending_.push_back(message);
    ShowNext();
}

void TApplication::ShowNext()
{
    // A box of another window is open (a refused cell, a question): a second box
    // on top of it would hide it, so the error waits until it is gone.
    if (OpenMessageBoxes() > 0 && !pending_.empty()) {
        if (!waiting_) {
            waiting_ = true;
            QTimer::singleShot(100, this, [this] {
                waiting_ = false;
                ShowNext();
            });
        }
        return;
    }
    while (!pending_.empty()) {
        const QString message = pending_.front();
        pending_.pop_front();
        showing_ = true;
        ++shown_;
        ShowMessageBox(message, ErrorCaption(), MsgIcon::Stop, MsgButtons::Ok);
        showing_ = false;
    }
}

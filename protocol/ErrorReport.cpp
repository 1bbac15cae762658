#include "ErrorReport.h"

#include "MessageBox.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <cstdio>
#include <mutex>
#include <utility>

namespace {

std::mutex routineMutex;

ErrorReportRoutine &Routine()
{
    static ErrorReportRoutine routine;
    return routine;
}

// Without an installed routine: the message-box routine, on the thread that owns
// the application object (or stderr when there is none).
void DefaultReport(const QString &message)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        return;
    }
    auto show = [message] {
        ShowMessageBox(message, QStringLiteral("Error"), MsgIcon::Stop, MsgButtons::Ok);
    };
    if (QThread::currentThread() == app->thread())
        show();
    else
        QMetaObject::invokeMethod(app, show, Qt::QueuedConnection);
}

} // namespace

ErrorReportRoutine SetErrorReportRoutine(ErrorReportRoutine routine)
{
    std::lock_guard lock(routineMutex);
    return std::exchange(Routine(), std::move(routine));
}

QString ExceptionMessage(std::exception_ptr error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
    return {};
}

void ReportError(const QString &message)
{
    ErrorReportRoutine routine;
    {
        std::lock_guard lock(routineMutex);
        routine = Routine();
    }
    if (routine)
        routine(message);
    else
        DefaultReport(message);
}

void ReportError(std::exception_ptr error)
{
    ReportError(ExceptionMessage(error));
}

#pragma once

#include <QObject>
#include <QString>
#include <exception>
#include <functional>

// Where failures go that nobody up the call chain can handle: a window's handler,
// the serial reader thread. The console installs its error box; callable from any
// thread. Qt's widget code is not exception-safe, so window handlers catch at
// their own edge (GuardedCall) instead of letting an exception unwind through it.
using ErrorReportRoutine = std::function<void(const QString &message)>;

ErrorReportRoutine SetErrorReportRoutine(ErrorReportRoutine routine);

// The message of an exception as the error box shows it (what() as UTF-8).
QString ExceptionMessage(std::exception_ptr error);

void ReportError(const QString &message);
void ReportError(std::exception_ptr error);

// Runs f; an exception it throws is reported, not propagated.
template <typename F> void GuardedCall(F &&f)
{
    try {
        f();
    } catch (...) {
        ReportError(std::current_exception());
    }
}

// Connects signal to a handler of receiver that runs under GuardedCall: what the
// handler throws goes to the error box, not through Qt's event loop.
template <typename Sender, typename Signal, typename Receiver>
void ConnectGuarded(const Sender *sender, Signal signal, Receiver *receiver, void (Receiver::*handler)())
{
    QObject::connect(sender, signal, receiver,
                     [receiver, handler] { GuardedCall([receiver, handler] { (receiver->*handler)(); }); });
}

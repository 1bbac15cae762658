#include "MessageBox.h"

#include <utility>

namespace {
MessageBoxRoutine &Routine()
{
    static MessageBoxRoutine routine;
    return routine;
}
} // namespace

MsgAnswer ShowMessageBox(const QString &text, const QString &caption, MsgIcon icon, MsgButtons buttons)
{
    const MessageBoxRoutine &routine = Routine();
    if (!routine)
        return MsgAnswer::Ok;
    return routine(text, caption, icon, buttons);
}

MessageBoxRoutine SetMessageBoxRoutine(MessageBoxRoutine routine)
{
    return std::exchange(Routine(), std::move(routine));
}

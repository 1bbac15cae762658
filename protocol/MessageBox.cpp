#include "MessageBox.h"

#include <utility>

namespace {
MessageBoxRoutine &Routine()
{
    static MessageBoxRoutine routine;
    return routine;
}

int openBoxes = 0; // boxes are shown on the user-interface thread only
} // namespace

MsgAnswer ShowMessageBox(const QString &text, const QString &caption, MsgIcon icon, MsgButtons buttons)
{
    const MessageBoxRoutine &routine = Routine();
    if (!routine)
        return MsgAnswer::Ok;
    struct TOpen {
        TOpen() { ++openBoxes; }
        ~TOpen() { --openBoxes; }
    } open;
    return routine(text, caption, icon, buttons);
}

int OpenMessageBoxes()
{
    return openBoxes;
}

MessageBoxRoutine SetMessageBoxRoutine(MessageBoxRoutine routine)
{
    return std::exchange(Routine(), std::move(routine));
}

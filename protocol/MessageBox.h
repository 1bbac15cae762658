#pragma once

#include <QString>
#include <functional>

// Every message box of the console goes through this one routine, so that logic
// never opens a window itself and tests can record the box and give the answer.
enum class MsgIcon { Information, Warning, Stop, Question };
enum class MsgButtons { Ok, OkCancel };
enum class MsgAnswer { Ok, Cancel };

using MessageBoxRoutine =
    std::function<MsgAnswer(const QString &text, const QString &caption, MsgIcon icon, MsgButtons buttons)>;

// Shows a box through the installed routine. With no routine installed the box is
// answered Ok at once (a console without windows has nobody to ask).
MsgAnswer ShowMessageBox(const QString &text, const QString &caption, MsgIcon icon,
                         MsgButtons buttons = MsgButtons::Ok);

// Installs the routine; returns the one it replaces.
MessageBoxRoutine SetMessageBoxRoutine(MessageBoxRoutine routine);

// How many boxes are open now, one inside another's event loop counting twice.
int OpenMessageBoxes();

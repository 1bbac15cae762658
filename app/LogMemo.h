#pragma once

#include <QString>

class QPlainTextEdit;

// The main window's log trim is on (off while the trim itself edits the log).
extern bool LogTrimGuard;

// The traffic log: newest entry on top, held to a number of lines as the control
// shows them (a wrapped entry counts as several lines).
namespace LogMemoLines {

// The lines the main window's log keeps.
inline constexpr int LogLines = 30;

// Inserts one entry as line 0. CR LF inside the entry (status and message entries)
// starts a new line; entries are shown as plain text, never as rich text.
void InsertEntry(QPlainTextEdit *memo, const QString &entry);

// Lines as the control shows them, after word wrap.
int VisualLineCount(QPlainTextEdit *memo);

// Deletes the bottom line until at most maxLines remain; a wrapped entry may lose
// only its lower part.
void Trim(QPlainTextEdit *memo, int maxLines);

} // namespace LogMemoLines

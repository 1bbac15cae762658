#pragma once

#include <QString>
#include <functional>

class QWidget;

// The file dialogs of the directory editors go through one routine, so that tests pick
// the file instead of a person. An empty answer means the operator cancelled.
enum class FileChoice { Open, Save };

using FileChoiceRoutine = std::function<QString(QWidget *parent, FileChoice kind, const QString &caption,
                                                const QString &suggestion)>;

QString ChooseFile(QWidget *parent, FileChoice kind, const QString &caption, const QString &suggestion);

// Installs the routine; returns the one it replaces. An empty routine restores the dialogs.
FileChoiceRoutine SetFileChoiceRoutine(FileChoiceRoutine routine);

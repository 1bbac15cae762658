#include "FileChoice.h"

#include <QFileDialog>

namespace {

FileChoiceRoutine &Routine()
{
    static FileChoiceRoutine routine;
    return routine;
}

} // namespace

QString ChooseFile(QWidget *parent, FileChoice kind, const QString &caption, const QString &suggestion)
{
    if (Routine())
        return Routine()(parent, kind, caption, suggestion);
    const QString filter = QStringLiteral("CSV files (*.csv);;All files (*)");
    if (kind == FileChoice::Open)
        return QFileDialog::getOpenFileName(parent, caption, suggestion, filter);
    return QFileDialog::getSaveFileName(parent, caption, suggestion, filter);
}

FileChoiceRoutine SetFileChoiceRoutine(FileChoiceRoutine routine)
{
    FileChoiceRoutine previous = std::move(Routine());
    Routine() = std::move(routine);
    return previous;
}

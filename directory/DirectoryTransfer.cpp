#include "DirectoryTransfer.h"

#include "DirectoryCsv.h"
#include "FileChoice.h"
#include "ImportPlan.h"
#include "ImportPreview.h"
#include "MessageBox.h"
#include "Table.h"

namespace {

bool IsUsers(const TTable &table)
{
    return table.Definition().table == UserTableDef().table;
}

void FileError(const QString &caption, const std::exception &e)
{
    ShowMessageBox(QString::fromUtf8(e.what()), caption, MsgIcon::Stop, MsgButtons::Ok);
}

} // namespace

void ImportDirectoryFile(QWidget *parent, TTable *table)
{
    const TableDef &def = table->Definition();
    const QString caption =
        IsUsers(*table) ? QStringLiteral("Import Users") : QStringLiteral("Import Statuses");
    const QString fileName = ChooseFile(parent, FileChoice::Open, caption, {});
    if (fileName.isEmpty())
        return;
    QList<CsvRecord> records;
    try {
        records = ReadDirectoryFile(fileName, def);
    } catch (const EDirectoryFileError &e) {
        FileError(caption, e);
        return;
    }
    const ImportPlan plan = PlanImport(def, CurrentRows(*table), records, fileName);
    TImportPreviewForm preview(plan, def, parent);
    if (preview.exec() != QDialog::Accepted || !plan.Writable())
        return;
    // Radio traffic goes on while the preview is open: the name lookup may have added a
    // station meanwhile, and then the plan no longer says what would happen.
    if (!PlanImport(def, CurrentRows(*table), records, fileName).SameAs(plan)) {
        ShowMessageBox(
            QStringLiteral("The directory changed while the preview was open; nothing was imported. "
                           "Import the file again to see the changes it makes now."),
            caption, MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    table->WriteRows(plan.Writes(def));
}

void ExportDirectoryFile(QWidget *parent, TTable *table)
{
    const QString caption =
        IsUsers(*table) ? QStringLiteral("Export Users") : QStringLiteral("Export Statuses");
    const QString suggestion = IsUsers(*table) ? QStringLiteral("Users.csv") : QStringLiteral("Statuses.csv");
    const QString fileName = ChooseFile(parent, FileChoice::Save, caption, suggestion);
    if (fileName.isEmpty())
        return;
    try {
        WriteDirectoryFile(fileName, table->Definition(), TableTexts(*table));
    } catch (const EDirectoryFileError &e) {
        FileError(caption, e);
    }
}

#include "DirectoryTransfer.h"

#include "DirectoryCsv.h"
#include "FileChoice.h"
#include "ImportPlan.h"
#include "ImportPreview.h"
#include "MessageBox.h"
#include "Table.h"

#include <QScopeGuard>

namespace {

bool IsUsers(const TTable &table)
{
    return table.Definition().table == UserTableDef().table;
}

void FileError(const QString &caption, const std::exception &e)
{
    ShowMessageBox(QString::fromUtf8(e.what()), caption, MsgIcon::Stop, MsgButtons::Ok);
}

// The editor waits on the import: a file another program holds locked is said
// within a moment instead of after the driver's five seconds.
constexpr int ImportBusyMs = 300;

template <typename F> void Briefly(TTable &table, F &&step)
{
    const int before = table.SetBusyTimeout(ImportBusyMs);
    const auto restore = qScopeGuard([&] { table.SetBusyTimeout(before); });
    step();
}

} // namespace

void ImportDirectoryFile(QWidget *parent, TTable *table)
{
    const TTableDef &def = table->Definition();
    const bool users = IsUsers(*table);
    const QString caption = users ? QStringLiteral("Import Users") : QStringLiteral("Import Statuses");
    const QString fileName = ChooseFile(parent, FileChoice::Open, caption, {});
    if (fileName.isEmpty())
        return;
    QList<TCsvRecord> records;
    try {
        records = ReadDirectoryFile(fileName, def);
    } catch (const EDirectoryFileError &e) {
        FileError(caption, e);
        return;
    }
    try {
        // The plan is made against the file as it is now: another program may have
        // written to it since the editor read it.
        Briefly(*table, [table] { table->Refresh(); });
        const QList<TTableRowTexts> current = CurrentRows(*table);
        TImportPreviewForm preview(
            [&](const TImportOptions &options) {
                return PlanImport(def, current, records, fileName, options);
            },
            def, parent);
        if (preview.exec() != QDialog::Accepted || !preview.Plan().Writable())
            return;
        const TImportPlan &plan = preview.Plan();
        // Radio traffic and other programs go on while the preview is open: a station
        // added meanwhile, or a row changed, and the plan no longer says what would happen.
        Briefly(*table, [table] { table->Refresh(); });
        if (!PlanImport(def, CurrentRows(*table), records, fileName, plan.options).SameAs(plan)) {
            ShowMessageBox(
                QStringLiteral("The directory changed while the preview was open; nothing was imported. "
                               "Import the file again to see the changes it makes now."),
                caption, MsgIcon::Warning, MsgButtons::Ok);
            return;
        }
        // The write checks again inside its transaction: the changed rows still as
        // planned, and no more users than the limit.
        Briefly(*table, [&] { table->WriteRows(plan.Writes(def), users ? MaxImportUsers : -1); });
    } catch (const ETableError &e) {
        FileError(caption, e);
    }
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

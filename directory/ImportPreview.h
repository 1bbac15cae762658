#pragma once

#include "ImportPlan.h"

#include <QDialog>

namespace Ui {
class TImportPreviewForm;
}

// Shows what importing a file would change, row by row, before anything is written.
// Accepted (Import) only when the plan can be written as a whole.
class TImportPreviewForm final : public QDialog {
    Q_OBJECT
public:
    TImportPreviewForm(const ImportPlan &plan, const TableDef &def, QWidget *parent = nullptr);
    ~TImportPreviewForm() override;

    // The line that sums the plan up, as the window shows it.
    static QString Summary(const ImportPlan &plan);

private slots:
    void ImportButtonClick();
    void CancelButtonClick();

private:
    void Fill(const ImportPlan &plan, const TableDef &def);

    Ui::TImportPreviewForm *ui;
};

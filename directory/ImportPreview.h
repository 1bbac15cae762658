#pragma once

#include "ImportPlan.h"

#include <QDialog>
#include <functional>

namespace Ui {
class TImportPreviewForm;
}
class TImportPlanModel;

// Shows what importing a file would change, row by row, before anything is written.
// Accepted (Import) only when the plan can be written as a whole. The planner makes
// the plan again when the operator changes an option.
class TImportPreviewForm final : public QDialog {
    Q_OBJECT
public:
    using TPlanner = std::function<ImportPlan(const ImportOptions &)>;

    TImportPreviewForm(TPlanner planner, const TableDef &def, QWidget *parent = nullptr);
    ~TImportPreviewForm() override;

    // The plan shown, the one Import accepts.
    const ImportPlan &Plan() const { return plan_; }

    // The line that sums the plan up, as the window shows it.
    static QString Summary(const ImportPlan &plan);

private slots:
    void ImportButtonClick();
    void CancelButtonClick();
    void UncallableCheckBoxClick(bool checked);

private:
    void Show(const ImportOptions &options);

    Ui::TImportPreviewForm *ui;
    TPlanner planner_;
    ImportPlan plan_;
    TImportPlanModel *model_;
};

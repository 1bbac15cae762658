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
    using TPlanner = std::function<TImportPlan(const TImportOptions &)>;

    TImportPreviewForm(TPlanner planner, const TTableDef &def, QWidget *parent = nullptr);
    ~TImportPreviewForm() override;

    // The plan shown, the one Import accepts.
    const TImportPlan &Plan() const { return plan_; }

    // The line that sums the plan up, as the window shows it.
    static QString Summary(const TImportPlan &plan);

private slots:
    void ImportButtonClick();
    void CancelButtonClick();
    void UncallableCheckBoxClick(bool checked);

private:
    void Show(const TImportOptions &options);

    Ui::TImportPreviewForm *ui;
    TPlanner planner_;
    TImportPlan plan_;
    TImportPlanModel *model_;
};

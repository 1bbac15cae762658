#include "ImportPreview.h"

#include "ui_ImportPreview.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QFileInfo>
#include <QFont>
#include <QHeaderView>
#include <QPushButton>

namespace {

QColor ActionColour(ImportAction action)
{
    switch (action) {
    case ImportAction::Add:
        return QColor(0xDF, 0xF5, 0xDF);
    case ImportAction::Change:
        return QColor(0xFF, 0xF3, 0xC4);
    case ImportAction::Keep:
        return {};
    case ImportAction::Refuse:
        break;
    }
    return QColor(0xFA, 0xD4, 0xD4);
}

// A cell shows the start of a long field: laying out megabytes of text in one
// cell takes seconds and hundreds of megabytes.
QString Shortened(const QString &text, qsizetype chars)
{
    return text.size() > chars ? text.left(chars) + QChar(0x2026) : text;
}

QString Quoted(const QString &text)
{
    return QStringLiteral("\u201C%1\u201D").arg(text);
}

} // namespace

// The plan's rows as the preview shows them: line, result, the fields, the note. Made
// on demand, so that a file of many thousand lines shows at once.
class TImportPlanModel final : public QAbstractTableModel {
public:
    TImportPlanModel(const TTableDef &def, QObject *parent) : QAbstractTableModel(parent), def_(def) {}

    void SetPlan(const TImportPlan *plan)
    {
        beginResetModel();
        plan_ = plan;
        endResetModel();
    }
    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() || !plan_ ? 0 : int(plan_->rows.size());
    }
    int columnCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(def_.fields.size()) + 3;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        if (section == 0)
            return QStringLiteral("Line");
        if (section == 1)
            return QStringLiteral("Result");
        if (section - 2 < def_.fields.size())
            return def_.fields.at(section - 2).name;
        return QStringLiteral("Reason or note");
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!plan_ || !index.isValid())
            return {};
        const TImportRow &row = plan_->rows.at(index.row());
        const int field = index.column() - 2;
        const bool changed = row.action == ImportAction::Change && field >= 0 && field < def_.fields.size() &&
                             row.before.value(field) != row.texts.value(field);
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            if (index.column() == 0)
                return row.line;
            if (index.column() == 1)
                return ImportActionText(row.action);
            if (field < def_.fields.size())
                return Shortened(row.texts.value(field), role == Qt::DisplayRole ? 80 : 1000);
            return Shortened(Note(row), role == Qt::DisplayRole ? 400 : 2000);
        case Qt::FontRole:
            if (changed) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        case Qt::BackgroundRole: {
            const QColor colour = ActionColour(row.action);
            return colour.isValid() ? QVariant(colour) : QVariant();
        }
        default:
            return {};
        }
    }

private:
    QString Note(const TImportRow &row) const
    {
        QStringList notes;
        if (!row.reason.isEmpty())
            notes << row.reason;
        if (row.action == ImportAction::Change) {
            for (int f = 0; f < def_.fields.size(); ++f) {
                if (row.before.value(f) != row.texts.value(f))
                    notes << QStringLiteral("%1 was %2")
                                 .arg(def_.fields.at(f).name, Quoted(row.before.value(f)));
            }
        }
        if (!row.warning.isEmpty())
            notes << row.warning;
        return notes.join(QStringLiteral("; "));
    }

    TTableDef def_;
    const TImportPlan *plan_ = nullptr;
};

TImportPreviewForm::TImportPreviewForm(TPlanner planner, const TTableDef &def, QWidget *parent)
    : QDialog(parent), ui(new Ui::TImportPreviewForm), planner_(std::move(planner)),
      model_(new TImportPlanModel(def, this))
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Import %1 directory").arg(def.table));
    QTableView *grid = ui->PreviewGrid;
    grid->setModel(model_);
    // Fixed row heights: a long file costs the rows on screen, not a measurement of each.
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->horizontalHeader()->setStretchLastSection(true);
    const bool users = def.table == UserTableDef().table;
    Show({});
    // The option matters only for a user file that names such a station.
    ui->UncallableCheckBox->setVisible(users && plan_.Count(ImportAction::Skip) > 0);

    connect(ui->ImportButton, &QPushButton::clicked, this, &TImportPreviewForm::ImportButtonClick);
    connect(ui->CancelButton, &QPushButton::clicked, this, &TImportPreviewForm::CancelButtonClick);
    connect(ui->UncallableCheckBox, &QCheckBox::toggled, this, &TImportPreviewForm::UncallableCheckBoxClick);
}

TImportPreviewForm::~TImportPreviewForm()
{
    delete ui;
}

void TImportPreviewForm::Show(const TImportOptions &options)
{
    model_->SetPlan(nullptr);
    plan_ = planner_(options);
    model_->SetPlan(&plan_);
    ui->SummaryLabel->setText(Summary(plan_));
    QTableView *grid = ui->PreviewGrid;
    grid->resizeColumnsToContents();
    // Long names and reasons stay readable without widening the window past the screen.
    for (int c = 0; c + 1 < model_->columnCount(); ++c)
        grid->setColumnWidth(c, qMin(grid->columnWidth(c), 220));
    ui->ImportButton->setEnabled(plan_.Writable());
    ui->ImportButton->setDefault(plan_.Writable());
    ui->CancelButton->setDefault(!plan_.Writable());
}

QString TImportPreviewForm::Summary(const TImportPlan &plan)
{
    QString text = QStringLiteral("%1: %2 to add, %3 to change, %4 unchanged, %5 refused")
                       .arg(QFileInfo(plan.fileName).fileName())
                       .arg(plan.Count(ImportAction::Add))
                       .arg(plan.Count(ImportAction::Change))
                       .arg(plan.Count(ImportAction::Keep))
                       .arg(plan.Count(ImportAction::Refuse));
    if (const int skipped = plan.Count(ImportAction::Skip))
        text += QStringLiteral(", %1 skipped (the radio cannot call them)").arg(skipped);
    if (const int warnings = plan.Warnings() - plan.Count(ImportAction::Skip))
        text += QStringLiteral(", %1 with a warning").arg(warnings);
    text += QStringLiteral(".\n");
    if (plan.unlistedRefusals > 0)
        text += QStringLiteral("The first %1 refused lines are listed; %2 more are not.\n")
                    .arg(MaxListedRefusals)
                    .arg(plan.unlistedRefusals);
    if (plan.Count(ImportAction::Refuse) > 0)
        text += QStringLiteral("Nothing will be written while a line is refused: correct the file and import "
                               "it again.");
    else if (!plan.Writable())
        text += QStringLiteral("The directory already holds everything in the file.");
    else
        text += QStringLiteral("Import writes every added and changed row at once.");
    return text;
}

void TImportPreviewForm::UncallableCheckBoxClick(bool checked)
{
    TImportOptions options;
    options.uncallable = checked;
    Show(options);
}

void TImportPreviewForm::ImportButtonClick()
{
    accept();
}

void TImportPreviewForm::CancelButtonClick()
{
    reject();
}

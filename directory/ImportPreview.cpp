#include "ImportPreview.h"

#include "ui_ImportPreview.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidgetItem>

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

QTableWidgetItem *Cell(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

QString Quoted(const QString &text)
{
    return QStringLiteral("\u201C%1\u201D").arg(text);
}

} // namespace

TImportPreviewForm::TImportPreviewForm(const ImportPlan &plan, const TableDef &def, QWidget *parent)
    : QDialog(parent), ui(new Ui::TImportPreviewForm)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Import %1 directory").arg(def.table));
    ui->SummaryLabel->setText(Summary(plan));
    Fill(plan, def);
    ui->ImportButton->setEnabled(plan.Writable());
    if (plan.Writable())
        ui->ImportButton->setDefault(true);
    else
        ui->CancelButton->setDefault(true);

    connect(ui->ImportButton, &QPushButton::clicked, this, &TImportPreviewForm::ImportButtonClick);
    connect(ui->CancelButton, &QPushButton::clicked, this, &TImportPreviewForm::CancelButtonClick);
}

TImportPreviewForm::~TImportPreviewForm()
{
    delete ui;
}

QString TImportPreviewForm::Summary(const ImportPlan &plan)
{
    QString text = QStringLiteral("%1: %2 to add, %3 to change, %4 unchanged, %5 refused")
                       .arg(QFileInfo(plan.fileName).fileName())
                       .arg(plan.Count(ImportAction::Add))
                       .arg(plan.Count(ImportAction::Change))
                       .arg(plan.Count(ImportAction::Keep))
                       .arg(plan.Count(ImportAction::Refuse));
    if (const int warnings = plan.Warnings())
        text += QStringLiteral(", %1 with a warning").arg(warnings);
    text += QStringLiteral(".\n");
    if (plan.Count(ImportAction::Refuse) > 0)
        text += QStringLiteral("Nothing will be written while a line is refused: correct the file and import "
                               "it again.");
    else if (!plan.Writable())
        text += QStringLiteral("The directory already holds everything in the file.");
    else
        text += QStringLiteral("Import writes every added and changed row at once.");
    return text;
}

void TImportPreviewForm::Fill(const ImportPlan &plan, const TableDef &def)
{
    QTableWidget *grid = ui->PreviewGrid;
    QStringList heads{QStringLiteral("Line"), QStringLiteral("Result")};
    for (const auto &f : def.fields)
        heads << f.name;
    heads << QStringLiteral("Reason or note");
    grid->setColumnCount(static_cast<int>(heads.size()));
    grid->setHorizontalHeaderLabels(heads);
    grid->setRowCount(static_cast<int>(plan.rows.size()));
    const int noteColumn = static_cast<int>(heads.size()) - 1;
    for (int r = 0; r < plan.rows.size(); ++r) {
        const ImportRow &row = plan.rows.at(r);
        grid->setItem(r, 0, Cell(QString::number(row.line)));
        grid->setItem(r, 1, Cell(ImportActionText(row.action)));
        QStringList notes;
        for (int f = 0; f < def.fields.size(); ++f) {
            QTableWidgetItem *item = Cell(row.texts.value(f));
            if (row.action == ImportAction::Change && row.before.value(f) != row.texts.value(f)) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
                notes << QStringLiteral("%1 was %2").arg(def.fields.at(f).name, Quoted(row.before.value(f)));
            }
            grid->setItem(r, 2 + f, item);
        }
        if (!row.reason.isEmpty())
            notes.prepend(row.reason);
        if (!row.warning.isEmpty())
            notes << row.warning;
        grid->setItem(r, noteColumn, Cell(notes.join(QStringLiteral("; "))));
        const QColor colour = ActionColour(row.action);
        if (colour.isValid()) {
            for (int c = 0; c < grid->columnCount(); ++c)
                grid->item(r, c)->setBackground(colour);
        }
    }
    grid->resizeColumnsToContents();
    grid->horizontalHeader()->setStretchLastSection(true);
    // Long names and reasons stay readable without widening the window past the screen.
    for (int c = 0; c < noteColumn; ++c)
        grid->setColumnWidth(c, qMin(grid->columnWidth(c), 220));
}

void TImportPreviewForm::ImportButtonClick()
{
    accept();
}

void TImportPreviewForm::CancelButtonClick()
{
    reject();
}

#include "Estatus.h"

#include "DBGrid.h"
#include "DirectoryTransfer.h"
#include "ErrorReport.h"
#include "Pictures.h"
#include "Table.h"
#include "WindowKit.h"
#include "ui_Estatus.h"

#include <QFont>
#include <utility>

TEStatusForm *EStatusForm = nullptr;

TEStatusForm::TEStatusForm(TTable *statusTable, QWidget *parent)
    : QDialog(parent), ui(new Ui::TEStatusForm), table_(statusTable)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    table_->SetFieldReadOnly(QStringLiteral("No."), true);
    ui->StatusGrid->SetTable(table_);
    ui->StatusGrid->SetColumnWidth(QStringLiteral("No."), 40);
    ui->StatusGrid->SetColumnWidth(QStringLiteral("Text"), 200);
    QFont italic(QStringLiteral("Arial"));
    italic.setPixelSize(13);
    italic.setItalic(true);
    ui->Label1->setFont(italic);
    ui->Label2->setFont(italic);
    MakePictureButton(ui->CloseBitBtn, QStringLiteral("close"));

    ConnectGuarded(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TEStatusForm::CloseBitBtnClick);
    ConnectGuarded(ui->ImportButton, &QAbstractButton::clicked, this, &TEStatusForm::ImportButtonClick);
    ConnectGuarded(ui->ExportButton, &QAbstractButton::clicked, this, &TEStatusForm::ExportButtonClick);
    connect(ui->StatusGrid, &TDBGrid::KeyDown, this, &TEStatusForm::StatusGridKeyDown);
    ui->CloseBitBtn->installEventFilter(this);
    // Panel2 stays on the right edge of the bottom panel.
    ui->Panel1->installEventFilter(this);
}

TEStatusForm::~TEStatusForm()
{
    delete ui;
}

void TEStatusForm::showEvent(QShowEvent *event)
{
    CentreOnScreen(this);
    QDialog::showEvent(event);
}

bool TEStatusForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->CloseBitBtn && event->type() == QEvent::MouseButtonPress)
        CloseBitBtnMouseDown();
    if (watched == ui->Panel1 && event->type() == QEvent::Resize)
        ui->Panel2->setGeometry(ui->Panel1->width() - ui->Panel2->width(), 0, ui->Panel2->width(),
                                ui->Panel1->height());
    return QDialog::eventFilter(watched, event);
}

void TEStatusForm::StatusGridKeyDown(int, Qt::KeyboardModifiers) {}

// Import and export work on what the table holds: the row being edited is written first.
void TEStatusForm::ImportButtonClick()
{
    if (!ui->StatusGrid->FinishEditing())
        return;
    if (table_->Modified())
        table_->Post();
    ImportDirectoryFile(this, table_);
}

void TEStatusForm::ExportButtonClick()
{
    if (!ui->StatusGrid->FinishEditing())
        return;
    if (table_->Modified())
        table_->Post();
    ExportDirectoryFile(this, table_);
}

void TEStatusForm::CloseBitBtnMouseDown()
{
    // A refused cell was shown once; the click that completes this press then does nothing.
    closeRefused_ = !ui->StatusGrid->WritePendingRow();
}

void TEStatusForm::CloseBitBtnClick()
{
    if (std::exchange(closeRefused_, false))
        return;
    if (!ui->StatusGrid->FinishEditing())
        return;
    if (table_->Modified())
        table_->Post();
    while (table_->Locate(QStringLiteral("No."), {QStringLiteral("0")}))
        table_->Delete();
    close();
}

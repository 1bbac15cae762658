#include "Euser.h"

#include "DBGrid.h"
#include "DirectoryTransfer.h"
#include "ErrorReport.h"
#include "MessageBox.h"
#include "Pictures.h"
#include "StationId.h"
#include "Table.h"
#include "WindowKit.h"
#include "ui_Euser.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <utility>

TEUserForm *EUserForm = nullptr;

TEUserForm::TEUserForm(TTable *userTable, QWidget *parent)
    : QDialog(parent), ui(new Ui::TEUserForm), table_(userTable)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    ui->DBGrid1->SetTable(table_);
    ui->DBGrid1->SetColumnWidth(QStringLiteral("Name"), 130);
    ui->DBGrid1->SetColumnWidth(QStringLiteral("Fleet"), 40);
    ui->DBGrid1->SetColumnWidth(QStringLiteral("Ident"), 40);
    MakePictureButton(ui->AddBitBtn, QStringLiteral("add"));
    MakePictureButton(ui->DeleteBitBtn, QStringLiteral("delete"));
    MakePictureButton(ui->CloseBitBtn, QStringLiteral("close"));

    ConnectGuarded(ui->AddBitBtn, &QAbstractButton::clicked, this, &TEUserForm::AddBitBtnClick);
    ConnectGuarded(ui->DeleteBitBtn, &QAbstractButton::clicked, this, &TEUserForm::DeleteBitBtnClick);
    ConnectGuarded(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TEUserForm::CloseBitBtnClick);
    ConnectGuarded(ui->ImportButton, &QAbstractButton::clicked, this, &TEUserForm::ImportButtonClick);
    ConnectGuarded(ui->ExportButton, &QAbstractButton::clicked, this, &TEUserForm::ExportButtonClick);
    // Any mouse button pressed on Close writes the pending row, even if the click
    // never completes.
    ui->CloseBitBtn->installEventFilter(this);
}

TEUserForm::~TEUserForm()
{
    delete ui;
}

void TEUserForm::showEvent(QShowEvent *event)
{
    CentreOnScreen(this);
    QDialog::showEvent(event);
}

bool TEUserForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->CloseBitBtn && event->type() == QEvent::MouseButtonPress)
        CloseBitBtnMouseDown();
    return QDialog::eventFilter(watched, event);
}

void TEUserForm::AddBitBtnClick()
{
    if (!ui->DBGrid1->FinishEditing())
        return;
    if (table_->Modified())
        table_->Post();
    if (table_->RecordCount() < MaxUserEntries) {
        table_->Append();
        ui->DBGrid1->setCurrentIndex(
            table_->Model()->index(table_->CurrentRow(), table_->ModelColumn("Name")));
        ui->DBGrid1->setFocus();
    } else {
        ShowMessageBox(QStringLiteral("You can use up to 10 IDs."),
                       QStringLiteral("Corvalink Demonstration Software"), MsgIcon::Stop, MsgButtons::Ok);
    }
}

// Import and export work on what the table holds: the row being edited is written first.
void TEUserForm::ImportButtonClick()
{
    if (!ui->DBGrid1->FinishEditing())
        return;
    if (table_->Modified())
        table_->Post();
    ImportDirectoryFile(this, table_);
}

void TEUserForm::ExportButtonClick()
{
    if (!ui->DBGrid1->FinishEditing())
        return;
    if (table_->Modified())
        table_->Post();
    ExportDirectoryFile(this, table_);
}

void TEUserForm::DeleteBitBtnClick()
{
    table_->Delete();
}

void TEUserForm::CloseBitBtnMouseDown()
{
    // A refused cell was shown once; the click that completes this press then does nothing.
    closeRefused_ = !ui->DBGrid1->WritePendingRow();
}

void TEUserForm::CloseBitBtnClick()
{
    if (std::exchange(closeRefused_, false))
        return;
    close();
}

void TEUserForm::FormCloseQuery(bool &canClose)
{
    if (!ui->DBGrid1->FinishEditing()) {
        canClose = false;
        return;
    }
    if (table_->Modified())
        table_->Post();
    if (table_->RecordCount() <= MaxUserEntries) {
        canClose = true;
        return;
    }
    if (ShowMessageBox(QStringLiteral("The IDs over 10 will be deleted."),
                       QStringLiteral("Corvalink Demonstration Software"), MsgIcon::Warning,
                       MsgButtons::OkCancel) != MsgAnswer::Ok) {
        canClose = false;
        return;
    }
    // The rows added last go.
    while (table_->RecordCount() > MaxUserEntries) {
        table_->Last();
        table_->Delete();
    }
    canClose = true;
}

void TEUserForm::closeEvent(QCloseEvent *event)
{
    bool canClose = true;
    try {
        FormCloseQuery(canClose);
    } catch (const std::exception &e) {
        ShowTableError(QString::fromUtf8(e.what()));
        canClose = false;
    }
    if (!canClose) {
        event->ignore();
        return;
    }
    event->accept();
    QDialog::done(QDialog::Rejected);
}

void TEUserForm::reject()
{
    close();
}

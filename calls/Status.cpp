#include "Status.h"

#include "CallWindow.h"
#include "ConsoleFiles.h"
#include "DBLookupComboBox.h"
#include "ErrorReport.h"
#include "LookupBinding.h"
#include "Pictures.h"
#include "Table.h"
#include "ui_Status.h"

TStatusForm *StatusForm = nullptr;

TStatusForm::TStatusForm(const TCommandContext &context, QWidget *parent)
    : QWidget(parent, FixedCallWindowFlags), context_(context)
{
    // The tables open before the form is built: when one fails, nothing is left to undo.
    UserTable = TTable::OpenUserTable(UserFileName, this);
    StatusTable = TTable::OpenStatusTable(StatusFileName, this);
    ui = std::make_unique<Ui::TStatusForm>();
    ui->setupUi(this);
    setFixedSize(size());
    userSource_ =
        BindStationPicker(UserTable, ui->NameDBLookupComboBox, ui->FleetDBEdit, ui->IdentDBEdit, this);
    statusSource_ = new TLookupBinding(StatusTable, QStringLiteral("Text"), ui->StatusDBLookupComboBox, this);
    ui->StatusDBEdit->setReadOnly(true);
    statusSource_->BindEdit(ui->StatusDBEdit, QStringLiteral("No."));
    MakePictureButton(ui->SendBitBtn, QStringLiteral("send"));
    MakePictureButton(ui->RequestBitBtn, QStringLiteral("request"));
    MakePictureButton(ui->BitBtn1, QStringLiteral("close"));
    EnterClicksButtons({ui->SendBitBtn, ui->RequestBitBtn, ui->BitBtn1}, this);

    connect(ui->NameDBLookupComboBox, &TDBLookupComboBox::CloseUp, this,
            &TStatusForm::NameDBLookupComboBoxCloseUp);
    ConnectGuarded(ui->SendBitBtn, &QAbstractButton::clicked, this, &TStatusForm::SendBitBtnClick);
    ConnectGuarded(ui->RequestBitBtn, &QAbstractButton::clicked, this, &TStatusForm::RequestBitBtnClick);
    ConnectGuarded(ui->BitBtn1, &QAbstractButton::clicked, this, &TStatusForm::BitBtn1Click);

    FormCreate();
}

TStatusForm::~TStatusForm() = default;

void TStatusForm::FormCreate()
{
    // Without a "Default" row the cursor stays on the first status. The list
    // itself shows nothing until the operator picks a status.
    StatusTable->Locate(QStringLiteral("Text"), {QStringLiteral("Default")}, true);
}

void TStatusForm::HoldStation(int fleet, int ident)
{
    HoldStationInPicker(userSource_, ui->NameDBLookupComboBox, ui->FleetDBEdit, ui->IdentDBEdit, fleet,
                        ident);
}

void TStatusForm::showEvent(QShowEvent *event)
{
    CentreOnFirstShow(this, centred_);
    QWidget::showEvent(event);
}

void TStatusForm::NameDBLookupComboBoxCloseUp()
{
    UnlockForOther(ui->NameDBLookupComboBox, ui->FleetDBEdit, ui->IdentDBEdit);
}

void TStatusForm::SendBitBtnClick()
{
    TCommandTexts texts;
    texts.statusNumber = ui->StatusDBEdit->text();
    texts.statusText = ui->StatusDBLookupComboBox->currentText();
    SendCommand(context_, 'E', ui->FleetDBEdit->text(), ui->IdentDBEdit->text(), texts);
}

void TStatusForm::RequestBitBtnClick()
{
    SendCommand(context_, 'H', ui->FleetDBEdit->text(), ui->IdentDBEdit->text());
}

void TStatusForm::BitBtn1Click()
{
    close();
}

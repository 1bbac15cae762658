#include "Speech.h"

#include "CallWindow.h"
#include "ConsoleFiles.h"
#include "DBLookupComboBox.h"
#include "ErrorReport.h"
#include "LookupBinding.h"
#include "Pictures.h"
#include "Table.h"
#include "ui_Speech.h"

TSpeechForm *SpeechForm = nullptr;

TSpeechForm::TSpeechForm(const TCommandContext &context, QWidget *parent)
    : QWidget(parent, FixedCallWindowFlags), context_(context)
{
    // The tables open before the form is built: when one fails, nothing is left to undo.
    UserTable = TTable::OpenUserTable(UserFileName, this);
    ui = std::make_unique<Ui::TSpeechForm>();
    ui->setupUi(this);
    setFixedSize(size());
    userSource_ =
        BindStationPicker(UserTable, ui->NameDBLookupComboBox, ui->FleetDBEdit, ui->IdentDBEdit, this);
    MakePictureButton(ui->ConnectBitBtn, QStringLiteral("connect"));
    MakePictureButton(ui->DisconnectBitBtn, QStringLiteral("disconnect"));
    MakePictureButton(ui->BitBtn1, QStringLiteral("close"));
    EnterClicksButtons({ui->ConnectBitBtn, ui->DisconnectBitBtn, ui->BitBtn1}, this);

    connect(ui->NameDBLookupComboBox, &TDBLookupComboBox::CloseUp, this,
            &TSpeechForm::NameDBLookupComboBoxCloseUp);
    ConnectGuarded(ui->ConnectBitBtn, &QAbstractButton::clicked, this, &TSpeechForm::ConnectBitBtnClick);
    ConnectGuarded(ui->DisconnectBitBtn, &QAbstractButton::clicked, this,
                   &TSpeechForm::DisconnectBitBtnClick);
    ConnectGuarded(ui->BitBtn1, &QAbstractButton::clicked, this, &TSpeechForm::BitBtn1Click);
}

TSpeechForm::~TSpeechForm() = default;

void TSpeechForm::HoldStation(int fleet, int ident)
{
    HoldStationInPicker(userSource_, ui->NameDBLookupComboBox, ui->FleetDBEdit, ui->IdentDBEdit, fleet,
                        ident);
}

void TSpeechForm::showEvent(QShowEvent *event)
{
    CentreOnFirstShow(this, centred_);
    QWidget::showEvent(event);
}

void TSpeechForm::NameDBLookupComboBoxCloseUp()
{
    UnlockForOther(ui->NameDBLookupComboBox, ui->FleetDBEdit, ui->IdentDBEdit);
}

void TSpeechForm::ConnectBitBtnClick()
{
    SendCommand(context_, 'B', ui->FleetDBEdit->text(), ui->IdentDBEdit->text());
}

void TSpeechForm::DisconnectBitBtnClick()
{
    SendCommand(context_, 'D', ui->FleetDBEdit->text(), ui->IdentDBEdit->text());
}

void TSpeechForm::BitBtn1Click()
{
    close();
}

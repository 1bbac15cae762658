#include "Gps.h"

#include "CallWindow.h"
#include "ConsoleFiles.h"
#include "DBLookupComboBox.h"
#include "LookupBinding.h"
#include "Pictures.h"
#include "Table.h"
#include "ui_Gps.h"

TGpsForm *GpsForm = nullptr;

TGpsForm::TGpsForm(QWidget *parent) : QWidget(parent, FixedCallWindowFlags)
{
    // The tables open before the form is built: when one fails, nothing is left to undo.
    UserTable = TTable::OpenUserTable(UserFileName, this);
    ui = std::make_unique<Ui::TGpsForm>();
    ui->setupUi(this);
    setFixedSize(size());
    // No close-up handler here: the boxes stay read-only even for "Other".
    userSource_ =
        BindStationPicker(UserTable, ui->NameDBLookupComboBox, ui->FleetDBEdit, ui->IdentDBEdit, this);
    MakePictureButton(ui->GpsBitBtn, QStringLiteral("single"));
    MakePictureButton(ui->BitBtn1, QStringLiteral("start"));
    MakePictureButton(ui->BitBtn2, QStringLiteral("stop"));
    MakePictureButton(ui->CloseBitBtn, QStringLiteral("close"));
    EnterClicksButtons({ui->GpsBitBtn, ui->BitBtn1, ui->BitBtn2, ui->CloseBitBtn}, this);

    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TGpsForm::CloseBitBtnClick);
}

TGpsForm::~TGpsForm() = default;

void TGpsForm::showEvent(QShowEvent *event)
{
    CentreOnFirstShow(this, centred_);
    QWidget::showEvent(event);
}

void TGpsForm::CloseBitBtnClick()
{
    close();
}

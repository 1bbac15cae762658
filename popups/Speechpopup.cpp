#include "Speechpopup.h"

#include "PopupWindow.h"
#include "ui_Speechpopup.h"

TSpeechPopupForm *SpeechPopupForm = nullptr;

TSpeechPopupForm::TSpeechPopupForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TSpeechPopupForm>())
{
    ui->setupUi(this);
    SetUpPopupWindow(this, ui->CloseBitBtn, QStringLiteral("ok"), TPopupSize::Fixed);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TSpeechPopupForm::CloseBitBtnClick);
}

TSpeechPopupForm::~TSpeechPopupForm() = default;

void TSpeechPopupForm::SetStation(const QString &name, const QString &fleet, const QString &ident)
{
    ui->NameEdit->setText(name);
    ui->FleetEdit->setText(fleet);
    ui->IdentEdit->setText(ident);
}

void TSpeechPopupForm::CloseBitBtnClick()
{
    close();
}

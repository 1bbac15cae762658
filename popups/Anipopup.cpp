#include "Anipopup.h"

#include "PopupWindow.h"
#include "ui_Anipopup.h"

TAniPopupForm *AniPopupForm = nullptr;

TAniPopupForm::TAniPopupForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TAniPopupForm>())
{
    ui->setupUi(this);
    SetUpPopupWindow(this, ui->CloseBitBtn, QStringLiteral("ok"), TPopupSize::Fixed);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TAniPopupForm::CloseBitBtnClick);
}

TAniPopupForm::~TAniPopupForm() = default;

void TAniPopupForm::SetStation(const QString &name, const QString &fleet, const QString &ident)
{
    ui->NameEdit->setText(name);
    ui->FleetEdit->setText(fleet);
    ui->IdentEdit->setText(ident);
}

void TAniPopupForm::SetTo(const QString &name, const QString &fleet, const QString &ident)
{
    ui->Name2Edit->setText(name);
    ui->Fleet2Edit->setText(fleet);
    ui->Ident2Edit->setText(ident);
}

void TAniPopupForm::CloseBitBtnClick()
{
    close();
}

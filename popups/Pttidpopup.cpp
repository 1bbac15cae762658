#include "Pttidpopup.h"

#include "PopupWindow.h"
#include "ui_Pttidpopup.h"

TPttidPopupForm *PttidPopupForm = nullptr;

TPttidPopupForm::TPttidPopupForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TPttidPopupForm>())
{
    ui->setupUi(this);
    SetUpPopupWindow(this, ui->CloseBitBtn, QStringLiteral("ok"), TPopupSize::Fixed);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TPttidPopupForm::CloseBitBtnClick);
}

TPttidPopupForm::~TPttidPopupForm() = default;

void TPttidPopupForm::SetStation(const QString &name, const QString &fleet, const QString &ident)
{
    ui->NameEdit->setText(name);
    ui->FleetEdit->setText(fleet);
    ui->IdentEdit->setText(ident);
}

void TPttidPopupForm::SetCaption(const QString &caption)
{
    setWindowTitle(caption);
}

void TPttidPopupForm::CloseBitBtnClick()
{
    close();
}

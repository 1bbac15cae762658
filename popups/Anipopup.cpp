#include "Anipopup.h"

#include "Pictures.h"
#include "WindowKit.h"
#include "ui_Anipopup.h"

TAniPopupForm *AniPopupForm = nullptr;

TAniPopupForm::TAniPopupForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint), ui(new Ui::TAniPopupForm)
{
    ui->setupUi(this);
    setFixedSize(size());
    MakePictureButton(ui->CloseBitBtn, QStringLiteral("ok"));
    ui->CloseBitBtn->installEventFilter(new TEnterClicksFocusedButton(this));
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TAniPopupForm::CloseBitBtnClick);
    CentreOnScreen(this);
}

TAniPopupForm::~TAniPopupForm()
{
    delete ui;
}

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

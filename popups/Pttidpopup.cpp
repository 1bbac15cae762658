#include "Pttidpopup.h"

#include "Pictures.h"
#include "WindowKit.h"
#include "ui_Pttidpopup.h"

TPttidPopupForm *PttidPopupForm = nullptr;

TPttidPopupForm::TPttidPopupForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint), ui(new Ui::TPttidPopupForm)
{
    ui->setupUi(this);
    setFixedSize(size());
    MakePictureButton(ui->CloseBitBtn, QStringLiteral("ok"));
    ui->CloseBitBtn->installEventFilter(new TEnterClicksFocusedButton(this));
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TPttidPopupForm::CloseBitBtnClick);
    CentreOnScreen(this);
}

TPttidPopupForm::~TPttidPopupForm()
{
    delete ui;
}

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

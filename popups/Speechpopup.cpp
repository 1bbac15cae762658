#include "Speechpopup.h"

#include "Pictures.h"
#include "WindowKit.h"
#include "ui_Speechpopup.h"

TSpeechPopupForm *SpeechPopupForm = nullptr;

TSpeechPopupForm::TSpeechPopupForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint), ui(new Ui::TSpeechPopupForm)
{
    ui->setupUi(this);
    setFixedSize(size());
    MakePictureButton(ui->CloseBitBtn, QStringLiteral("ok"));
    ui->CloseBitBtn->installEventFilter(new TEnterClicksFocusedButton(this));
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TSpeechPopupForm::CloseBitBtnClick);
    CentreOnScreen(this);
}

TSpeechPopupForm::~TSpeechPopupForm()
{
    delete ui;
}

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

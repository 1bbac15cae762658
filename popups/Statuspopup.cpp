#include "Statuspopup.h"

#include "PopupWindow.h"
#include "ui_Statuspopup.h"

#include <QCloseEvent>

TStatusPopupForm *StatusPopupForm = nullptr;

TStatusPopupForm::TStatusPopupForm(QWidget *parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::TStatusPopupForm>())
{
    ui->setupUi(this);
    SetUpPopupWindow(this, ui->CloseBitBtn, QStringLiteral("ok"), TPopupSize::Sizeable);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TStatusPopupForm::CloseBitBtnClick);
}

TStatusPopupForm::~TStatusPopupForm() = default;

void TStatusPopupForm::SetStation(const QString &name, const QString &fleet, const QString &ident)
{
    ui->NameEdit->setText(name);
    ui->FleetEdit->setText(fleet);
    ui->IdentEdit->setText(ident);
}

void TStatusPopupForm::SetText(const QString &text)
{
    ui->TextEdit->setText(text);
}

void TStatusPopupForm::SetFlashColour(bool red)
{
    // Only the window's own background flashes; the edits keep their colours.
    setAutoFillBackground(red);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, red ? QColor(Qt::red) : QPalette().color(QPalette::Button));
    setPalette(red ? pal : QPalette());
}

void TStatusPopupForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void TStatusPopupForm::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    FormClose();
}

void TStatusPopupForm::FormResize()
{
    // The left edge is at 8 px; 17 px less than the client width leaves a
    // 9 px margin on the right.
    ui->TextEdit->resize(width() - 17, ui->TextEdit->height());
}

void TStatusPopupForm::FormClose()
{
    emit closed();
}

void TStatusPopupForm::CloseBitBtnClick()
{
    close();
}

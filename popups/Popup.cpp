#include "Popup.h"

#include "PopupWindow.h"
#include "ui_Popup.h"

TPopupForm *PopupForm = nullptr;

namespace {
constexpr int TopBand = 73;
}

TPopupForm::TPopupForm(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      ui(std::make_unique<Ui::TPopupForm>())
{
    ui->setupUi(this);
    SetUpPopupWindow(this, ui->CloseBitBtn, QStringLiteral("close"), TPopupSize::Sizeable);
    remembered_ = size();
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TPopupForm::CloseBitBtnClick);
}

TPopupForm::~TPopupForm() = default;

void TPopupForm::SetRecord(const QString &name, const QString &fleet, const QString &ident)
{
    ui->DBEdit1->setText(name);
    ui->DBEdit2->setText(fleet);
    ui->DBEdit3->setText(ident);
}

void TPopupForm::SetMemoText(const QString &text)
{
    ui->PopupMemo->setPlainText(text);
}

void TPopupForm::SetRememberedSize(int height, int width)
{
    remembered_ = QSize(width, height);
}

void TPopupForm::SetPanelColour(bool red)
{
    QPalette pal = ui->Panel1->palette();
    pal.setColor(QPalette::Window, red ? QColor(Qt::red) : palette().color(QPalette::Button));
    ui->Panel1->setPalette(pal);
}

void TPopupForm::showEvent(QShowEvent *event)
{
    resize(remembered_);
    QWidget::showEvent(event);
}

void TPopupForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Qt delivers a resize made while hidden only at the next show; that one
    // must not overwrite the size the window is about to take.
    if (isVisible())
        remembered_ = size();
    ui->Panel1->resize(width(), TopBand);
    ui->PopupMemo->setGeometry(0, TopBand, width(), qMax(0, height() - TopBand));
}

void TPopupForm::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    emit closed();
}

void TPopupForm::CloseBitBtnClick()
{
    close();
}

#include "Messagepopup.h"

#include "PopupWindow.h"
#include "ui_Messagepopup.h"

TMessagePopupForm *MessagePopupForm = nullptr;

namespace {
constexpr int TopBand = 73;
}

TMessagePopupForm::TMessagePopupForm(QWidget *parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::TMessagePopupForm>())
{
    ui->setupUi(this);
    SetUpPopupWindow(this, ui->CloseBitBtn, QStringLiteral("ok"), TPopupSize::Sizeable);
    setMinimumSize(ui->CloseBitBtn->width() + 16, TopBand + 40);
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TMessagePopupForm::CloseBitBtnClick);
}

TMessagePopupForm::~TMessagePopupForm() = default;

void TMessagePopupForm::SetStation(const QString &name, const QString &fleet, const QString &ident)
{
    ui->NameEdit->setText(name);
    ui->FleetEdit->setText(fleet);
    ui->IdentEdit->setText(ident);
}

void TMessagePopupForm::ClearMessage()
{
    ui->MessageMemo->clear();
}

void TMessagePopupForm::SetMessageText(const QString &text)
{
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    ui->MessageMemo->setPlainText(lines);
}

void TMessagePopupForm::AddMessageLine(const QString &line)
{
    QString lines = line;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
    ui->MessageMemo->appendPlainText(lines);
}

QString TMessagePopupForm::MessageText() const
{
    return ui->MessageMemo->toPlainText();
}

void TMessagePopupForm::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The OK button keeps to the right edge; the memo fills what is below the band.
    ui->CloseBitBtn->move(width() - ui->CloseBitBtn->width() - 8, 8);
    ui->MessageMemo->setGeometry(0, TopBand, width(), height() - TopBand);
}

void TMessagePopupForm::CloseBitBtnClick()
{
    close();
}

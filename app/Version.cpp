#include "Version.h"

#include "Pictures.h"
#include "WindowKit.h"
#include "ui_Version.h"

#include <QKeyEvent>

TVersionForm *VersionForm = nullptr;

namespace {
void SetArial(QLabel *label, int pixels, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    label->setFont(font);
    label->adjustSize();
}
} // namespace

TVersionForm::TVersionForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TVersionForm>())
{
    ui->setupUi(this);
    setFixedSize(size());
    ui->Label3->setText(QStringLiteral("Version " CORVALINK_VERSION_TEXT " beta"));
    SetArial(ui->Label1, 24, true);
    SetArial(ui->Label5, 13, true);
    SetArial(ui->Label2, 16, true);
    SetArial(ui->Label3, 16, true);
    SetArial(ui->Label4, 15, false);
    // The trademark sign sits right after the name, whatever width the font gives it.
    ui->Label5->move(std::max(120, ui->Label1->geometry().right() + 1), 8);
    MakePictureButton(ui->CloseBitBtn, QStringLiteral("ok"));
    connect(ui->CloseBitBtn, &QAbstractButton::clicked, this, &QDialog::accept);
    CentreOnScreen(this);
}

TVersionForm::~TVersionForm() = default;

void TVersionForm::keyPressEvent(QKeyEvent *event)
{
    if (!ClickForEnter(this, event, ui->CloseBitBtn))
        QDialog::keyPressEvent(event);
}

#include "End.h"

#include "Pictures.h"
#include "WindowKit.h"
#include "ui_End.h"

#include <QKeyEvent>

TEndForm *EndForm = nullptr;

TEndForm::TEndForm(const QList<QWidget *> &popupsToClose, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TEndForm>())
{
    ui->setupUi(this);
    setFixedSize(size());
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(16);
    font.setBold(true);
    ui->Label1->setFont(font);
    QPalette pal = ui->Label1->palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    ui->Label1->setPalette(pal);
    MakePictureButton(ui->BitBtn2, QStringLiteral("ok"));
    MakePictureButton(ui->BitBtn1, QStringLiteral("cancel"));
    setTabOrder(ui->BitBtn2, ui->BitBtn1);
    connect(ui->BitBtn2, &QAbstractButton::clicked, this, &TEndForm::BitBtn2Click);
    connect(ui->BitBtn1, &QAbstractButton::clicked, this, &TEndForm::BitBtn1Click);
    CentreOnScreen(this);
    FormCreate(popupsToClose);
}

TEndForm::~TEndForm() = default;

void TEndForm::FormCreate(const QList<QWidget *> &popupsToClose)
{
    // close() runs each popup's own close handling, as the operator's close would.
    for (QWidget *popup : popupsToClose)
        if (popup)
            popup->close();
}

void TEndForm::keyPressEvent(QKeyEvent *event)
{
    if (!ClickForEnter(this, event, ui->BitBtn2))
        QDialog::keyPressEvent(event); // Esc rejects
}

void TEndForm::BitBtn2Click()
{
    accept();
}

void TEndForm::BitBtn1Click()
{
    reject();
}

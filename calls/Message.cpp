#include "Message.h"

#include "AnsiCodec.h"
#include "CallWindow.h"
#include "ConsoleFiles.h"
#include "DBLookupComboBox.h"
#include "ErrorReport.h"
#include "LookupBinding.h"
#include "Pictures.h"
#include "Table.h"
#include "ui_Message.h"

#include <QSignalBlocker>
#include <QTextDocument>

TMessageForm *MessageForm = nullptr;

TMessageForm::TMessageForm(const TCommandContext &context, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint),
      context_(context)
{
    // The tables open before the form is built: when one fails, nothing is left to undo.
    UserTable = TTable::OpenUserTable(UserFileName, this);
    ui = std::make_unique<Ui::TMessageForm>();
    ui->setupUi(this);
    userSource_ =
        BindStationPicker(UserTable, ui->NameDBLookupComboBox, ui->FleetDBEdit, ui->IdentDBEdit, this);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(19);
    ui->MessageMemo->setFont(font);
    MakePictureButton(ui->NewBitBtn, QStringLiteral("new"));
    MakePictureButton(ui->SendBitBtn, QStringLiteral("send"));
    MakePictureButton(ui->CloseBitBtn, QStringLiteral("close"));
    EnterClicksButtons({ui->NewBitBtn, ui->SendBitBtn, ui->CloseBitBtn}, this);

    connect(ui->MessageMemo, &QPlainTextEdit::textChanged, this, &TMessageForm::MessageMemoChange);
    connect(ui->NameDBLookupComboBox, &TDBLookupComboBox::CloseUp, this,
            &TMessageForm::NameDBLookupComboBoxCloseUp);
    ConnectGuarded(ui->NewBitBtn, &QAbstractButton::clicked, this, &TMessageForm::NewBitBtnClick);
    ConnectGuarded(ui->SendBitBtn, &QAbstractButton::clicked, this, &TMessageForm::SendBitBtnClick);
    ConnectGuarded(ui->CloseBitBtn, &QAbstractButton::clicked, this, &TMessageForm::CloseBitBtnClick);
}

TMessageForm::~TMessageForm() = default;

void TMessageForm::HoldStation(int fleet, int ident)
{
    HoldStationInPicker(userSource_, ui->NameDBLookupComboBox, ui->FleetDBEdit, ui->IdentDBEdit, fleet,
                        ident);
}

void TMessageForm::showEvent(QShowEvent *event)
{
    CentreOnFirstShow(this, centred_);
    QWidget::showEvent(event);
}

QString TMessageForm::MessageText() const
{
    // The raw text: toPlainText() would turn a no-break space into a blank and a
    // line separator into a line break. Only the memo's own paragraph breaks are
    // line breaks on the wire.
    QString text = ui->MessageMemo->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return ToCrLf(text);
}

void TMessageForm::MessageMemoChange()
{
    const int n = MessageLength(MessageText());
    QColor colour = Qt::black;
    if (n > BlueLimit)
        colour = QColor(255, 0, 0);
    else if (n > ShortMessageLimit)
        colour = QColor(0, 0, 255);
    QPalette palette = ui->MessageMemo->palette();
    palette.setColor(QPalette::Active, QPalette::Text, colour);
    palette.setColor(QPalette::Inactive, QPalette::Text, colour);
    ui->MessageMemo->setPalette(palette);
    setWindowTitle(QStringLiteral("Message Call (%1)").arg(n));
}

void TMessageForm::NameDBLookupComboBoxCloseUp()
{
    UnlockForOther(ui->NameDBLookupComboBox, ui->FleetDBEdit, ui->IdentDBEdit);
}

void TMessageForm::NewBitBtnClick()
{
    {
        // Clearing an empty memo reports no change; the caption must still show (0).
        const QSignalBlocker blocker(ui->MessageMemo);
        ui->MessageMemo->clear();
    }
    MessageMemoChange();
}

void TMessageForm::SendBitBtnClick()
{
    TCommandTexts texts;
    texts.message = MessageText();
    const int n = MessageLength(texts.message);
    // Longer than the radio takes: nothing is sent, the caption already says why.
    if (n <= ShortMessageLimit)
        SendCommand(context_, 'F', ui->FleetDBEdit->text(), ui->IdentDBEdit->text(), texts);
    else if (n <= LongMessageLimit)
        SendCommand(context_, 'G', ui->FleetDBEdit->text(), ui->IdentDBEdit->text(), texts);
}

void TMessageForm::CloseBitBtnClick()
{
    close();
}

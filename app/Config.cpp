#include "Config.h"

#include "Pictures.h"
#include "PopupDispatch.h"
#include "PopupSupport.h"
#include "Settings.h"
#include "ui_Config.h"

#include <QKeyEvent>

TConfigForm *ConfigForm = nullptr;

TConfigForm::TConfigForm(TSettings &settings, std::function<void()> requestEnd, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ui(new Ui::TConfigForm), settings_(settings), requestEnd_(std::move(requestEnd))
{
    ui->setupUi(this);
    setFixedSize(size());
    comItems_ = {ui->Com1RadioButton, ui->Com2RadioButton, ui->Com3RadioButton, ui->Com4RadioButton};
    // Photograph keeps its bit but is never offered to the operator.
    ui->PhotoCheckBox->hide();
    MakePictureButton(ui->BitBtn1, QStringLiteral("ok"));
    MakePictureButton(ui->BitBtn2, QStringLiteral("cancel"));
    connect(ui->BitBtn1, &QAbstractButton::clicked, this, &TConfigForm::OkPressed);
    connect(ui->BitBtn2, &QAbstractButton::clicked, this, &TConfigForm::BitBtn2Click);
    CentreOnScreen(this);
}

TConfigForm::~TConfigForm()
{
    delete ui;
}

void TConfigForm::showEvent(QShowEvent *event)
{
    FormShow();
    QDialog::showEvent(event);
    ui->BitBtn1->setFocus();
}

void TConfigForm::keyPressEvent(QKeyEvent *event)
{
    if (!ClickForEnter(this, event, ui->BitBtn1))
        QDialog::keyPressEvent(event); // Esc rejects
}

int TConfigForm::ComItemIndex() const
{
    for (int i = 0; i < comItems_.size(); ++i)
        if (comItems_[i]->isChecked())
            return i;
    return -1;
}

void TConfigForm::SetComItemIndex(int index)
{
    // Like a radio group: an index past the last item selects the last one,
    // anything below 0 selects none.
    index = std::min(index, int(comItems_.size()) - 1);
    for (QRadioButton *item : std::as_const(comItems_))
        item->setAutoExclusive(false);
    for (int i = 0; i < comItems_.size(); ++i)
        comItems_[i]->setChecked(i == index);
    for (QRadioButton *item : std::as_const(comItems_))
        item->setAutoExclusive(true);
}

void TConfigForm::FormShow()
{
    SetComItemIndex(settings_.CurrentComPort - 1);
    const std::uint32_t flags = settings_.PopupFlags;
    ui->SpeechCheckBox->setChecked(flags & PopupVoice);
    ui->StatusCheckBox->setChecked(flags & PopupStatus);
    ui->MessageCheckBox->setChecked(flags & PopupMessage);
    ui->PttidCheckBox->setChecked(flags & PopupPttId);
    ui->AniCheckBox->setChecked(flags & PopupCallDecode);
    ui->PhotoCheckBox->setChecked(flags & PopupPhotograph);
}

void TConfigForm::OkPressed()
{
    // The window closes with OK after the handler has run, even when opening
    // the new port failed; the error then goes on to the application.
    try {
        BitBtn1Click();
    } catch (...) {
        accept();
        if (!reportError_)
            throw;
        reportError_(std::current_exception());
        return;
    }
    accept();
}

void TConfigForm::SetErrorReporter(std::function<void(std::exception_ptr)> reporter)
{
    reportError_ = std::move(reporter);
}

void TConfigForm::BitBtn1Click()
{
    const int index = ComItemIndex();
    // The same port is opened again when it is closed or came back after being
    // lost: an adapter pulled and plugged back in needs a fresh open, and OK is
    // what the operator tries first.
    if (index != settings_.CurrentComPort - 1 || settings_.Port().NeedsReopen()) {
        // Closing joins the reader thread, so the port can be opened again at once.
        settings_.Port().CloseCommport();
        settings_.CurrentComPort = index + 1;
        if (!settings_.SelectCommPort(settings_.CurrentComPort) && requestEnd_)
            requestEnd_();
    }
    // Rebuilt from the six boxes: bits above 0x20 read from the file go here.
    std::uint32_t flags = 0;
    if (ui->SpeechCheckBox->isChecked())
        flags |= PopupVoice;
    if (ui->StatusCheckBox->isChecked())
        flags |= PopupStatus;
    if (ui->MessageCheckBox->isChecked())
        flags |= PopupMessage;
    if (ui->PttidCheckBox->isChecked())
        flags |= PopupPttId;
    if (ui->AniCheckBox->isChecked())
        flags |= PopupCallDecode;
    if (ui->PhotoCheckBox->isChecked())
        flags |= PopupPhotograph;
    settings_.PopupFlags = flags;
}

void TConfigForm::BitBtn2Click()
{
    reject();
}

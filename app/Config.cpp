#include "Config.h"

#include "Pictures.h"
#include "PopupDispatch.h"
#include "Settings.h"
#include "WindowKit.h"
#include "ui_Config.h"

#include <QKeyEvent>

TConfigForm *ConfigForm = nullptr;

TConfigForm::TConfigForm(const TSettings &settings, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ui(std::make_unique<Ui::TConfigForm>()), settings_(settings)
{
    ui->setupUi(this);
    setFixedSize(size());
    comItems_ = {ui->Com1RadioButton, ui->Com2RadioButton, ui->Com3RadioButton, ui->Com4RadioButton};
    // Photograph keeps its bit but is never offered to the operator.
    ui->PhotoCheckBox->hide();
    MakePictureButton(ui->BitBtn1, QStringLiteral("ok"));
    MakePictureButton(ui->BitBtn2, QStringLiteral("cancel"));
    connect(ui->BitBtn1, &QAbstractButton::clicked, this, &TConfigForm::BitBtn1Click);
    connect(ui->BitBtn2, &QAbstractButton::clicked, this, &TConfigForm::BitBtn2Click);
    CentreOnScreen(this);
}

TConfigForm::~TConfigForm() = default;

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

TConfigValues TConfigForm::Values() const
{
    TConfigValues values;
    values.comPort = ComItemIndex() + 1;
    // Rebuilt from the six boxes: bits above 0x20 read from the file go here.
    if (ui->SpeechCheckBox->isChecked())
        values.popupFlags |= PopupVoice;
    if (ui->StatusCheckBox->isChecked())
        values.popupFlags |= PopupStatus;
    if (ui->MessageCheckBox->isChecked())
        values.popupFlags |= PopupMessage;
    if (ui->PttidCheckBox->isChecked())
        values.popupFlags |= PopupPttId;
    if (ui->AniCheckBox->isChecked())
        values.popupFlags |= PopupCallDecode;
    if (ui->PhotoCheckBox->isChecked())
        values.popupFlags |= PopupPhotograph;
    return values;
}

void TConfigForm::BitBtn1Click()
{
    accept();
}

void TConfigForm::BitBtn2Click()
{
    reject();
}

bool ApplyConfigValues(TSettings &settings, const TConfigValues &values)
{
    bool usable = true;
    // The same port is opened again when it is closed or came back after being
    // lost: an adapter pulled and plugged back in needs a fresh open, and OK is
    // what the operator tries first.
    if (values.comPort != settings.CurrentComPort || settings.Port().NeedsReopen()) {
        // Closing joins the reader thread, so the port can be opened again at once.
        settings.Port().CloseCommport();
        settings.CurrentComPort = values.comPort;
        usable = settings.SelectCommPort(settings.CurrentComPort);
    }
    settings.PopupFlags = values.popupFlags;
    return usable;
}

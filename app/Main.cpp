#include "Main.h"

#include "Anipopup.h"
#include "Application.h"
#include "Config.h"
#include "Decoder.h"
#include "EmergenciesWindow.h"
#include "End.h"
#include "ErrorReport.h"
#include "Estatus.h"
#include "Euser.h"
#include "HistoryWindow.h"
#include "LineMonitor.h"
#include "LineNotes.h"
#include "LogMemo.h"
#include "LogTime.h"
#include "Message.h"
#include "Messagepopup.h"
#include "Pictures.h"
#include "Popup.h"
#include "PortAdapters.h"
#include "Pttidpopup.h"
#include "Speech.h"
#include "Speechpopup.h"
#include "Status.h"
#include "Statuspopup.h"
#include "Table.h"
#include "Traffic.h"
#include "Version.h"
#include "WindowKit.h"
#include "Zcomm.h"
#include "ui_Main.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QPalette>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>

TMainForm *MainForm = nullptr;
bool LogTrimGuard = false;
bool EmergencyFlash = false;

namespace {

// The line monitor hears what the bytes alone do not show; nothing while it is closed.
void NoteMonitor(TLineNote note, const QString &text)
{
    if (LineMonitorForm)
        LineMonitorForm->NoteLine(note, text);
}

const QString UserFileName = QStringLiteral("User.DB");
const QString StatusFileName = QStringLiteral("Status.db");

// The popup windows as the incoming path drives them.
class TPopupWindows final : public IPopupHost {
public:
    explicit TPopupWindows(TMainForm *main) : main_(main) {}

    void SetStationFields(PopupKind kind, const QString &name, const QString &fleet,
                          const QString &ident) override
    {
        switch (kind) {
        case PopupKind::Voice:
            SpeechPopupForm->SetStation(name, fleet, ident);
            break;
        case PopupKind::Status:
            // A newer status takes the place of one held during an emergency.
            main_->DropHeldStatus();
            StatusPopupForm->SetStation(name, fleet, ident);
            break;
        case PopupKind::Message:
            MessagePopupForm->SetStation(name, fleet, ident);
            break;
        case PopupKind::PttId:
            PttidPopupForm->SetStation(name, fleet, ident);
            break;
        case PopupKind::CallDecode:
            AniPopupForm->SetFrom(name, fleet, ident);
            break;
        }
    }
    void SetCallDecodeTo(const QString &name2, const QString &fleet2, const QString &ident2) override
    {
        AniPopupForm->SetTo(name2, fleet2, ident2);
    }
    void SetStatusText(const QString &text) override { StatusPopupForm->SetText(text); }
    void ClearMessageMemo() override { MessagePopupForm->ClearMessage(); }
    void AppendMessageText(const QString &text) override { MessagePopupForm->AddMessageLine(text); }
    void SetPttIdCaption(const QString &caption) override { PttidPopupForm->SetCaption(caption); }
    void ShowPopup(PopupKind kind) override { ShowPopupWindow(Window(kind)); }
    void StartEmergency() override
    {
        // Enabling a running timer must not restart its phase.
        if (!main_->EmergencyTimer->isActive())
            main_->EmergencyTimer->start();
    }
    bool EmergencyRunning() const override { return main_->EmergencyTimer->isActive(); }
    void HoldStatus(const QString &name, const QString &fleet, const QString &ident,
                    const QString &text) override
    {
        main_->HoldStatus({name, fleet, ident, text});
    }

private:
    static QWidget *Window(PopupKind kind)
    {
        switch (kind) {
        case PopupKind::Voice:
            return SpeechPopupForm;
        case PopupKind::Status:
            return StatusPopupForm;
        case PopupKind::Message:
            return MessagePopupForm;
        case PopupKind::PttId:
            return PttidPopupForm;
        case PopupKind::CallDecode:
            return AniPopupForm;
        }
        return nullptr;
    }
    TMainForm *main_;
};

// The line monitor names stations and statuses from the main window's tables,
// reading rows without moving their cursors (an editor may be using them).
TMonitorDirectory MonitorDirectory(const TTable *users, const TTable *statuses)
{
    TMonitorDirectory directory;
    directory.stationName = [users](int fleet, int ident) {
        const int name = users->FieldIndex(QStringLiteral("Name"));
        const int fleetField = users->FieldIndex(QStringLiteral("Fleet"));
        const int identField = users->FieldIndex(QStringLiteral("Ident"));
        for (int row = 0; row < users->RowCount(); ++row)
            if (users->FieldText(row, fleetField).toInt() == fleet &&
                users->FieldText(row, identField).toInt() == ident)
                return users->FieldText(row, name);
        return QString();
    };
    directory.statusText = [statuses](int number) {
        const int no = statuses->FieldIndex(QStringLiteral("No."));
        const int text = statuses->FieldIndex(QStringLiteral("Text"));
        for (int row = 0; row < statuses->RowCount(); ++row)
            if (statuses->FieldText(row, no).toInt() == number)
                return statuses->FieldText(row, text);
        return QString();
    };
    return directory;
}

void ShowNonModal(QWidget *window)
{
    if (!window)
        return;
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

TMainForm::TMainForm(QWidget *parent) : QMainWindow(parent), ui(new Ui::TMainForm)
{
    try {
        Construct();
    } catch (...) {
        // No destructor runs for a half-built window: the form is ours to delete.
        // The port goes with the members, before the others.
        delete ui;
        throw;
    }
}

void TMainForm::Construct()
{
    ui->setupUi(this);
    // The log grows with the window; 640 x 480 is where it starts and the least
    // the buttons and status panels need.
    resize(640, 480);
    setMinimumSize(640, 480);

    QFont logFont(QStringLiteral("Arial"));
    logFont.setPixelSize(19);
    ui->LogMemo->setFont(logFont);
    ui->LogMemo->setUndoRedoEnabled(false);

    const int panelWidths[3] = {70, 400, 150};
    for (int i = 0; i < 3; ++i) {
        panels_[i] = new QLabel(ui->StatusBar1);
        panels_[i]->setFrameShape(QFrame::Panel);
        panels_[i]->setFrameShadow(QFrame::Sunken);
        panels_[i]->setTextFormat(Qt::PlainText);
        // The empty middle panel gives way so that the clock is never cut off by the
        // status bar's own margins.
        if (i == 1) {
            panels_[i]->setMaximumWidth(panelWidths[i]);
            ui->StatusBar1->addWidget(panels_[i], 1);
        } else {
            panels_[i]->setFixedWidth(panelWidths[i]);
            ui->StatusBar1->addWidget(panels_[i]);
        }
    }
    panels_[0]->setAlignment(Qt::AlignCenter);
    panels_[2]->setAlignment(Qt::AlignCenter);
    panels_[0]->setText(QStringLiteral("Com1"));
    // The panels' own texts are what a screen reader reads; these only say what
    // the text is.
    panels_[0]->setAccessibleDescription(QStringLiteral("Serial port"));
    panels_[1]->setAccessibleDescription(QStringLiteral("Port state"));
    panels_[2]->setAccessibleDescription(QStringLiteral("Date and time"));

    MakePictureButton(ui->SpeechBitBtn, QStringLiteral("voice"));
    MakePictureButton(ui->StatusBitBtn, QStringLiteral("status"));
    MakePictureButton(ui->MessageBitBtn, QStringLiteral("message"));
    MakePictureButton(ui->EUserBitBtn, QStringLiteral("edituser"));
    MakePictureButton(ui->EstatusBitBtn, QStringLiteral("editstatus"));
    MakePictureButton(ui->ConfigBitBtn, QStringLiteral("config"));
    MakePictureButton(ui->ExitBitBtn, QStringLiteral("exit"));

    Clock = new QTimer(this);
    Clock->setInterval(1000);
    EmergencyTimer = new QTimer(this);
    EmergencyTimer->setInterval(1000);
    // Runs only while the port is lost: about once a second, a look for the device.
    reconnectTimer_ = new QTimer(this);
    reconnectTimer_->setInterval(1000);

    // The radio's line: 9600 bit/s, 8 data bits, no parity, 2 stop bits, no
    // handshake; the comm event fires on ETX, the end byte of every frame.
    port_ = std::make_unique<TZComm>(this);
    ZComm1 = port_.get();
    ZComm1->SetStopBits(TStopBits::_2bit);
    ZComm1->SetEventType(TEventType::CharEvent);
    ZComm1->SetRxThreshold(1);
    ZComm1->SetEventChar(3);
    ZComm1->OnCommEvent = [this](TZComm *sender, uint32_t &size) { ZComm1CommEvent(sender, size); };
    ZComm1->SetErrorReport([](std::exception_ptr error) { ReportError(error); });
    connect(ZComm1, &TZComm::Lost, this, &TMainForm::PortLost, Qt::QueuedConnection);

    UserTable = TTable::OpenUserTable(UserFileName, this);
    StatusTable = TTable::OpenStatusTable(StatusFileName, this);
    StatusTable->SetFieldReadOnly(QStringLiteral("No."), true);

    zcommPort_ = std::make_unique<TZCommCommandPort>(ZComm1);
    zcommSelector_ = std::make_unique<TZCommPortSelector>(ZComm1, intake_);
    commandPort_ = std::make_unique<TNotingCommandPort>(*zcommPort_, NoteMonitor);
    portSelector_ = std::make_unique<TNotingPortSelector>(
        *zcommSelector_, [this] { return ZComm1->GetPortStatus(); }, NoteMonitor);
    settings_ = std::make_unique<TSettings>(*portSelector_,
                                            [this](const QString &text) { panels_[0]->setText(text); });
    popupHost_ = std::make_unique<TPopupWindows>(this);
    commandContext_.port = commandPort_.get();
    commandContext_.log = this;
    commandContext_.users = UserTable;

    ConnectHandlers();
    ClockTimer();
    Clock->start();

    if (!settings_->LoadSettings(SettingsFileName))
        RequestEnd();

    LogTrimGuard = true;
}

TMainForm::~TMainForm()
{
    delete ui;
}

void TMainForm::ConnectHandlers()
{
    connect(ui->LogMemo, &QPlainTextEdit::textChanged, this, &TMainForm::LogMemoChange);
    connect(Clock, &QTimer::timeout, this, &TMainForm::ClockTimer);
    connect(EmergencyTimer, &QTimer::timeout, this, &TMainForm::EmergencyTimerTimer);
    connect(reconnectTimer_, &QTimer::timeout, this, &TMainForm::ReconnectTimerTimer);

    connect(ui->SpeechBitBtn, &QAbstractButton::clicked, this, &TMainForm::SpeechBitBtnClick);
    connect(ui->StatusBitBtn, &QAbstractButton::clicked, this, &TMainForm::StatusBitBtnClick);
    connect(ui->MessageBitBtn, &QAbstractButton::clicked, this, &TMainForm::MessageBitBtnClick);
    connect(ui->EUserBitBtn, &QAbstractButton::clicked, this, &TMainForm::EUserBitBtnClick);
    connect(ui->EstatusBitBtn, &QAbstractButton::clicked, this, &TMainForm::EstatusBitBtnClick);
    connect(ui->ConfigBitBtn, &QAbstractButton::clicked, this, &TMainForm::ConfigBitBtnClick);
    connect(ui->ExitBitBtn, &QAbstractButton::clicked, this, &TMainForm::ExitBitBtnClick);

    // Menu items that repeat a button run the button's handler.
    connect(ui->LogClear1, &QAction::triggered, this, &TMainForm::LogClear1Click);
    connect(ui->EditUser1, &QAction::triggered, this, &TMainForm::EUserBitBtnClick);
    connect(ui->EditStatus1, &QAction::triggered, this, &TMainForm::EstatusBitBtnClick);
    connect(ui->Config2, &QAction::triggered, this, &TMainForm::ConfigBitBtnClick);
    connect(ui->Exit1, &QAction::triggered, this, &TMainForm::Exit1Click);
    connect(ui->Speech1, &QAction::triggered, this, &TMainForm::SpeechBitBtnClick);
    connect(ui->Status1, &QAction::triggered, this, &TMainForm::StatusBitBtnClick);
    connect(ui->Message1, &QAction::triggered, this, &TMainForm::MessageBitBtnClick);
    connect(ui->Speech2, &QAction::triggered, this, &TMainForm::Speech2Click);
    connect(ui->Status2, &QAction::triggered, this, &TMainForm::Status2Click);
    connect(ui->Message2, &QAction::triggered, this, &TMainForm::Message2Click);
    connect(ui->ANI1, &QAction::triggered, this, &TMainForm::ANI1Click);
    connect(ui->ANI2, &QAction::triggered, this, &TMainForm::ANI2Click);
    connect(ui->Version1, &QAction::triggered, this, &TMainForm::Version1Click);
    connect(ui->History1, &QAction::triggered, this, &TMainForm::History1Click);
    connect(ui->Emergencies1, &QAction::triggered, this, &TMainForm::Emergencies1Click);
    connect(ui->AlarmSound1, &QAction::triggered, this, &TMainForm::AlarmSound1Click);
    connect(ui->LineMonitor1, &QAction::triggered, this, &TMainForm::LineMonitor1Click);
}

void TMainForm::RequestEnd()
{
    endRequested_ = true;
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TMainForm::InsertEntry(const QString &entry)
{
    LogMemoLines::InsertEntry(ui->LogMemo, entry);
}

QString TMainForm::LogText() const
{
    return ui->LogMemo->toPlainText();
}

QString TMainForm::StatusPanelText(int panel) const
{
    return panel >= 0 && panel < 3 ? panels_[panel]->text() : QString();
}

void TMainForm::LogMemoChange()
{
    if (!LogTrimGuard)
        return;
    LogTrimGuard = false;
    LogMemoLines::Trim(ui->LogMemo, LogLines);
    LogTrimGuard = true;
}

void TMainForm::ZComm1CommEvent(TZComm *Sender, uint32_t &size)
{
    Q_UNUSED(size);
    const int count = Sender->CountInBuff();
    if (count <= 0)
        return;
    QByteArray bytes(count, Qt::Uninitialized);
    Sender->ReadData(bytes.data(), static_cast<uint32_t>(count));
    for (const QByteArray &frame : intake_.Feed(bytes))
        QMetaObject::invokeMethod(
            this, [this, frame] { DeliverFrame(frame); }, Qt::QueuedConnection);
}

void TMainForm::DeliverFrame(const QByteArray &frame)
{
    // Until every window exists (a port warning's box runs the event loop while
    // the main window is still being built), frames wait here in order.
    if (!trafficStarted_) {
        earlyFrames_.push_back(frame);
        return;
    }
    // A frame that does not decode is reported and the next one goes on; the
    // error must not unwind through the toolkit's event dispatch.
    GuardedCall([&] { HandleFrame(frame); });
}

void TMainForm::StartTraffic()
{
    // A box shown while one of these is handled runs the event loop: frames
    // arriving then join the end of the queue, so the order holds.
    while (!earlyFrames_.empty()) {
        const QByteArray frame = earlyFrames_.front();
        earlyFrames_.pop_front();
        GuardedCall([&] { HandleFrame(frame); });
    }
    trafficStarted_ = true;
}

void TMainForm::SetTrafficObserver(ITrafficObserver *observer)
{
    traffic_ = observer;
    commandContext_.traffic = observer;
}

void TMainForm::HandleFrame(const QByteArray &frame)
{
    const TDecodeResult result = DecodeReceivedFrame(frame, *UserTable, *StatusTable);
    ApplyDecodeResult(result, *popupHost_, settings_->PopupFlags, *this);
    if (traffic_ && result.event)
        traffic_->TrafficEvent(*result.event);
}

void TMainForm::WirePopups()
{
    if (StatusPopupForm)
        connect(StatusPopupForm, &TStatusPopupForm::closed, this, &TMainForm::StatusPopupClosed);
    if (PopupForm) {
        PopupForm->SetRememberedSize(100, 230);
        connect(PopupForm, &TPopupForm::closed, this, &TMainForm::PopupClosed);
    }
}

void TMainForm::WireAlarms(TTrafficHub *hub)
{
    alarmHub_ = hub;
    if (!hub)
        return;
    connect(&hub->Alarms(), &TAlarmList::Changed, this, &TMainForm::ShowOldestAlarm);
    // Alarms left open by an earlier run flash from the start.
    ShowOldestAlarm();
}

void TMainForm::ShowOldestAlarm()
{
    const TAlarmList *alarms = alarmHub_ ? &alarmHub_->Alarms() : nullptr;
    const int count = alarms ? int(alarms->Alarms().size()) : 0;
    const bool raised = count > alarmsSeen_;
    alarmsSeen_ = count;
    const TAlarm *alarm = alarms ? alarms->OldestOpen() : nullptr;
    if (!alarm) {
        if (shownAlarm_) {
            shownAlarm_ = 0;
            EndEmergency();
        }
        return;
    }
    if (!StatusPopupForm)
        return;
    if (raised && alarms->Alarms().constLast().IsOpen()) {
        // A new emergency takes over the popup, as it always has.
        alarm = &alarms->Alarms().constLast();
    } else if (const TAlarm *shown = alarms->Find(shownAlarm_); shown && shown->IsOpen()) {
        alarm = shown; // a mute or an acknowledgement elsewhere changes nothing here
    }
    // Otherwise the oldest open alarm: the one shown was acknowledged.
    shownAlarm_ = alarm->id;
    const QString fleet =
        alarm->fleet ? QStringLiteral("%1").arg(*alarm->fleet, 3, 10, QLatin1Char('0')) : QString();
    const QString ident =
        alarm->ident ? QStringLiteral("%1").arg(*alarm->ident, 4, 10, QLatin1Char('0')) : QString();
    StatusPopupForm->SetStation(alarm->name, fleet, ident);
    StatusPopupForm->SetText(alarm->statusText);
    if (!EmergencyTimer->isActive())
        EmergencyTimer->start();
    // Shown from the event loop: this may run inside the popup's own closing.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (shownAlarm_ && StatusPopupForm && !StatusPopupForm->isVisible())
                ShowPopupWindow(StatusPopupForm);
        },
        Qt::QueuedConnection);
    if (!StatusPopupForm->isVisible())
        ShowPopupWindow(StatusPopupForm);
}

void TMainForm::StatusPopupClosed()
{
    // Closing the popup acknowledges the alarm it shows; the list then puts the
    // next oldest on it, or ends the flash when none is left.
    if (alarmHub_ && shownAlarm_ && alarmHub_->AcknowledgeAlarm(shownAlarm_))
        return;
    EndEmergency();
}

void TMainForm::PopupClosed()
{
    // The generic popup ends a running flash too, but restores only its own band.
    if (!EmergencyTimer->isActive())
        return;
    EmergencyTimer->stop();
    PopupForm->SetPanelColour(false);
    EmergencyFlash = false;
}

void TMainForm::PaintEmergency(bool red)
{
    if (StatusPopupForm)
        StatusPopupForm->SetFlashColour(red);
    QPalette palette = ui->LogMemo->palette();
    palette.setColor(QPalette::Base,
                     red ? QColor(Qt::red) : QApplication::palette(ui->LogMemo).color(QPalette::Base));
    ui->LogMemo->setPalette(palette);
}

void TMainForm::EmergencyTimerTimer()
{
    if (EmergencyFlash) {
        PaintEmergency(true);
        EmergencyFlash = false;
    } else {
        PaintEmergency(false);
        EmergencyFlash = true;
    }
}

void TMainForm::EndEmergency()
{
    if (!EmergencyTimer->isActive())
        return;
    EmergencyTimer->stop();
    PaintEmergency(false);
    EmergencyFlash = false;
    ShowHeldStatus();
}

void TMainForm::HoldStatus(const THeldStatus &status)
{
    heldStatus_ = status;
}

void TMainForm::DropHeldStatus()
{
    heldStatus_.reset();
}

void TMainForm::ShowHeldStatus()
{
    // The newest status goes into the window that Last > Status shows.
    if (!heldStatus_ || !StatusPopupForm)
        return;
    const THeldStatus held = *heldStatus_;
    heldStatus_.reset();
    StatusPopupForm->SetStation(held.name, held.fleet, held.ident);
    StatusPopupForm->SetText(held.text);
}

void TMainForm::PortLost()
{
    if (!ZComm1->IsLost())
        return; // closed or opened again meanwhile
    portLost_ = true;
    ReportPort(TrafficKind::PortLost);
    panels_[1]->setText(
        QStringLiteral("%1 disconnected \u2014 waiting for the radio").arg(ZComm1->DeviceName()));
    reconnectTimer_->start();
}

void TMainForm::ReconnectTimerTimer()
{
    if (portLost_ && ZComm1->GetPortStatus() && !ZComm1->IsLost()) {
        PortBack(); // opened again through the Config window
        return;
    }
    if (!portLost_) {
        reconnectTimer_->stop();
        return;
    }
    // The same device only: a COMn entry that is gone does not make the console
    // fall back to /dev/ttySn, where another radio may be.
    if (!ZComm1->DeviceBack())
        return;
    try {
        ZComm1->CloseCommport(); // joins the reader: the intake is ours now
        intake_.Reset();
        NoteMonitor(TLineNote::IntakeReset, {});
        ZComm1->ReopenCommport();
    } catch (...) {
        // Taken by another program in between, or gone again: the next tick
        // tries again, without a box every second.
        return;
    }
    PortBack();
}

void TMainForm::ReportPort(TrafficKind kind)
{
    NoteMonitor(kind == TrafficKind::PortLost ? TLineNote::PortLost : TLineNote::PortBack,
                ZComm1->DeviceName());
    if (!traffic_)
        return;
    TTrafficEvent event;
    event.direction = TrafficDirection::Local;
    event.kind = kind;
    event.text = ZComm1->DeviceName();
    traffic_->TrafficEvent(event);
}

void TMainForm::PortBack()
{
    portLost_ = false;
    ReportPort(TrafficKind::PortBack);
    reconnectTimer_->stop();
    panels_[1]->clear();
}

void TMainForm::ClockTimer()
{
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    QString text = locale.toString(now.date(), QLocale::ShortFormat);
    // The time part is left out at exactly midnight.
    if (now.time() != QTime(0, 0, 0))
        text += QLatin1Char(' ') + LongTimeText(now.time(), locale);
    QLabel *clock = panels_[2];
    // A label fixed in both directions asks nothing of the status bar's layout when
    // its text changes; once shown, it keeps the height the layout gave it.
    if (clock->isVisible() && clock->minimumHeight() != clock->height())
        clock->setFixedHeight(clock->height());
    clock->setText(text);
}

void TMainForm::SpeechBitBtnClick()
{
    ShowNonModal(SpeechForm);
}

void TMainForm::StatusBitBtnClick()
{
    ShowNonModal(StatusForm);
}

void TMainForm::MessageBitBtnClick()
{
    ShowNonModal(MessageForm);
}

void TMainForm::EUserBitBtnClick()
{
    if (EUserForm)
        EUserForm->exec();
}

void TMainForm::EstatusBitBtnClick()
{
    if (EStatusForm)
        EStatusForm->exec();
}

void TMainForm::ConfigBitBtnClick()
{
    if (!ConfigForm || ConfigForm->exec() != QDialog::Accepted)
        return;
    // A port that cannot be opened is reported; the window is closed by then.
    GuardedCall([this] {
        if (!ApplyConfigValues(*settings_, ConfigForm->Values()))
            RequestEnd();
    });
}

void TMainForm::ExitBitBtnClick()
{
    close();
}

void TMainForm::Exit1Click()
{
    close();
}

void TMainForm::LogClear1Click()
{
    ui->LogMemo->clear();
}

void TMainForm::Speech2Click()
{
    ShowPopupWindow(SpeechPopupForm);
}

void TMainForm::Status2Click()
{
    ShowPopupWindow(StatusPopupForm);
}

void TMainForm::Message2Click()
{
    ShowPopupWindow(MessagePopupForm);
}

void TMainForm::ANI1Click()
{
    ShowPopupWindow(PttidPopupForm);
}

void TMainForm::ANI2Click()
{
    ShowPopupWindow(AniPopupForm);
}

void TMainForm::Version1Click()
{
    if (VersionForm)
        VersionForm->exec();
}

void TMainForm::History1Click()
{
    ShowNonModal(HistoryForm);
}

void TMainForm::Emergencies1Click()
{
    ShowNonModal(EmergenciesForm);
}

void TMainForm::AlarmSound1Click(bool on)
{
    if (!TrafficHub)
        return;
    TPreferences preferences = TrafficHub->Preferences();
    preferences.alarmSound = on;
    TrafficHub->SetPreferences(preferences);
}

void TMainForm::LineMonitor1Click()
{
    // Made on first use: until then the port carries no tap at all.
    if (!LineMonitorForm) {
        LineMonitorForm = new TLineMonitorForm(this);
        LineMonitorForm->SetPort(ZComm1);
        LineMonitorForm->SetDirectory(MonitorDirectory(UserTable, StatusTable));
    }
    ShowNonModal(LineMonitorForm);
}

bool TMainForm::FormCloseQuery()
{
    if (!EndForm || EndForm->exec() != QDialog::Accepted)
        return false;
    ZComm1->CloseCommport();
    try {
        settings_->SaveSettings(SettingsFileName);
    } catch (...) {
        // The exit does not complete; the console goes on with its port, as before
        // the question, rather than sit with a closed port.
        ReportError(std::current_exception());
        try {
            portSelector_->OpenCommport();
        } catch (...) {
            ReportError(std::current_exception());
        }
        return false;
    }
    return true;
}

void TMainForm::showEvent(QShowEvent *event)
{
    if (!centred_) {
        CentreOnScreen(this);
        centred_ = true;
    }
    QMainWindow::showEvent(event);
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    if (endRequested_) {
        event->accept();
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    // The confirmed exit ends the program, whatever popup or call window is
    // still open: those are windows of their own and would keep it running
    // without its main window and with its port closed.
    QCoreApplication::quit();
}

#include "Main.h"

#include "Anipopup.h"
#include "Config.h"
#include "ConsoleSession.h"
#include "EmergenciesWindow.h"
#include "End.h"
#include "ErrorReport.h"
#include "Estatus.h"
#include "Euser.h"
#include "HistoryWindow.h"
#include "LineMonitor.h"
#include "ListFileWindow.h"
#include "LogMemo.h"
#include "Message.h"
#include "MessageBox.h"
#include "Messagepopup.h"
#include "Pictures.h"
#include "Pttidpopup.h"
#include "RadioLink.h"
#include "SendToGroup.h"
#include "SentWindow.h"
#include "Speech.h"
#include "Speechpopup.h"
#include "StationsWindow.h"
#include "Status.h"
#include "Statuspopup.h"
#include "Table.h"
#include "TrafficHub.h"
#include "Version.h"
#include "WindowKit.h"
#include "ui_Main.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <algorithm>

TMainForm *MainForm = nullptr;

namespace {

// The line monitor names stations and statuses from the session's tables,
// reading rows without moving their cursors (an editor may be using them).
TMonitorDirectory MonitorDirectory(const TTable *users, const TTable *statuses)
{
    TMonitorDirectory directory;
    directory.stationName = [users](int fleet, int ident) {
        const int row = StationRow(*users, fleet, ident);
        return row < 0 ? QString() : users->FieldText(row, users->FieldIndex(QStringLiteral("Name")));
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

TMainForm::TMainForm(TRadioLink &link, TConsoleSession &session, TTrafficHub &hub, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TMainForm>()), link_(link), session_(session), hub_(hub)
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

    MakePictureButton(ui->SpeechBitBtn, QStringLiteral("voice"));
    MakePictureButton(ui->StatusBitBtn, QStringLiteral("status"));
    MakePictureButton(ui->MessageBitBtn, QStringLiteral("message"));
    MakePictureButton(ui->EUserBitBtn, QStringLiteral("edituser"));
    MakePictureButton(ui->EstatusBitBtn, QStringLiteral("editstatus"));
    MakePictureButton(ui->ConfigBitBtn, QStringLiteral("config"));
    MakePictureButton(ui->ExitBitBtn, QStringLiteral("exit"));

    // Between the buttons and the log, where the eye goes: shown while any
    // emergency is open.
    alarmBanner_ = new QLabel(this);
    alarmBanner_->setObjectName(QStringLiteral("AlarmBanner"));
    alarmBanner_->setTextFormat(Qt::PlainText);
    alarmBanner_->setAlignment(Qt::AlignCenter);
    alarmBanner_->setStyleSheet(
        QStringLiteral("QLabel { background: #c00000; color: white; font-weight: bold; padding: 4px; }"));
    alarmBanner_->hide();
    ui->MainLayout->insertWidget(ui->MainLayout->indexOf(ui->Panel1) + 1, alarmBanner_);

    ConnectHandlers();
    AddDispatchItems();
    LogTrimGuard = true;
}

TMainForm::~TMainForm() = default;

void TMainForm::ConnectHandlers()
{
    connect(ui->LogMemo, &QPlainTextEdit::textChanged, this, &TMainForm::LogMemoChange);

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
    connect(ui->Stations1, &QAction::triggered, this, &TMainForm::Stations1Click);
    connect(ui->AlarmSound1, &QAction::triggered, this, &TMainForm::AlarmSound1Click);
    connect(ui->OverdueSound1, &QAction::triggered, this, &TMainForm::OverdueSound1Click);
    connect(ui->LineMonitor1, &QAction::triggered, this, &TMainForm::LineMonitor1Click);
}

void TMainForm::AddDispatchItems()
{
    // Beside the described panels, at the far right: how many commands the radio
    // has not answered yet.
    pendingPanel_ = new QLabel(this);
    pendingPanel_->setObjectName(QStringLiteral("PendingPanel"));
    pendingPanel_->setFrameShape(QFrame::Panel);
    pendingPanel_->setFrameShadow(QFrame::Sunken);
    pendingPanel_->setTextFormat(Qt::PlainText);
    pendingPanel_->setAlignment(Qt::AlignCenter);
    // Room for three digits and the panel's frame: the text never touches the window's edge.
    pendingPanel_->setMinimumWidth(
        pendingPanel_->fontMetrics().horizontalAdvance(QStringLiteral("Pending 000")) + 12);
    pendingPanel_->setAccessibleDescription(QStringLiteral("Commands waiting for the radio"));
    pendingPanel_->setToolTip(QStringLiteral("Commands waiting for the radio's answer (Tools > Sent)"));
    ui->StatusBar1->addPermanentWidget(pendingPanel_);
    SetPendingCount(0);

    // Added after the described items, each with its key (listed by Help >
    // Keyboard Shortcuts).
    const auto add = [this](QMenu *menu, const char *name, const QString &text, const QString &key) {
        auto *action = new QAction(text, this);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(QKeySequence(key));
        menu->addAction(action);
        return action;
    };
    ui->Tools1->addSeparator();
    connect(add(ui->Tools1, "Sent1", QStringLiteral("&Sent…"), QStringLiteral("Ctrl+E")), &QAction::triggered,
            this, &TMainForm::Sent1Click);
    connect(add(ui->Tools1, "SendToGroup1", QStringLiteral("Send to &Group…"), QStringLiteral("Ctrl+G")),
            &QAction::triggered, this, [this] { SendToGroup1Click(0); });
    connect(add(ui->Tools1, "Groups1", QStringLiteral("Station G&roups…"), QStringLiteral("Ctrl+Shift+G")),
            &QAction::triggered, this, &TMainForm::Groups1Click);
    connect(add(ui->Tools1, "Canned1", QStringLiteral("Ca&nned Messages…"), QStringLiteral("Ctrl+Shift+M")),
            &QAction::triggered, this, &TMainForm::Canned1Click);
    // Ctrl+1..9: Send to Group with that canned message taken, on the group box:
    // a letter of the group and Enter send it.
    for (int n = 1; n <= 9; ++n) {
        auto *action = new QAction(QStringLiteral("Canned message %1 to a group").arg(n), this);
        action->setObjectName(QStringLiteral("CannedToGroup%1").arg(n));
        action->setShortcut(QKeySequence(QStringLiteral("Ctrl+%1").arg(n)));
        addAction(action);
        connect(action, &QAction::triggered, this, [this, n] { SendToGroup1Click(n); });
    }
    connect(add(ui->Help1, "Shortcuts1", QStringLiteral("&Keyboard Shortcuts"), QStringLiteral("F1")),
            &QAction::triggered, this, &TMainForm::Shortcuts1Click);
}

void TMainForm::FollowRemoteRadio(const QString &radio)
{
    const QString why = QStringLiteral("The port and its line are at the radio's owner (%1).").arg(radio);
    for (QAction *action : {ui->Config2, ui->LineMonitor1}) {
        action->setEnabled(false);
        action->setStatusTip(why);
    }
    ui->ConfigBitBtn->setEnabled(false);
    ui->ConfigBitBtn->setToolTip(why);
}

void TMainForm::SetPendingCount(int count)
{
    pendingPanel_->setText(QStringLiteral("Pending %1").arg(count));
}

void TMainForm::RequestEnd()
{
    endRequested_ = true;
    emit Ending();
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

QWidget *TMainForm::LogView() const
{
    return ui->LogMemo;
}

QStatusBar *TMainForm::StatusBar() const
{
    return ui->StatusBar1;
}

void TMainForm::SetAlarmSoundChecked(bool on)
{
    ui->AlarmSound1->setChecked(on);
}

void TMainForm::LogMemoChange()
{
    if (!LogTrimGuard)
        return;
    LogTrimGuard = false;
    LogMemoLines::Trim(ui->LogMemo, LogMemoLines::LogLines);
    LogTrimGuard = true;
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
        if (!ApplyConfigValues(link_.Settings(), ConfigForm->Values()))
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

void TMainForm::Stations1Click()
{
    ShowNonModal(StationsForm);
    // The first time: as wide as its columns (the last message included) where
    // the screen allows, and centred as the call windows are; afterwards where
    // and as the operator left it.
    if (StationsForm && !stationsCentred_) {
        stationsCentred_ = true;
        QTableView *grid = StationsForm->Grid();
        const int columns = grid->horizontalHeader()->length() +
                            grid->verticalScrollBar()->sizeHint().width() + StationsForm->width() -
                            grid->viewport()->width();
        if (const QScreen *screen = StationsForm->screen())
            StationsForm->resize(std::min(columns, screen->availableGeometry().width() * 9 / 10),
                                 StationsForm->height());
        CentreOnScreen(StationsForm);
    }
}

void TMainForm::AlarmSound1Click(bool on)
{
    // Off is for good, across restarts: the operator confirms it first.
    if (!on &&
        ShowMessageBox(QStringLiteral("Turn the alarm sound off? Emergencies make no sound until it is "
                                      "turned on again in File > Alarm Sound."),
                       QStringLiteral("Corvalink Console"), MsgIcon::Question,
                       MsgButtons::OkCancel) != MsgAnswer::Ok) {
        SetAlarmSoundChecked(true);
        return;
    }
    TPreferences preferences = hub_.Preferences();
    preferences.alarmSound = on;
    hub_.SetPreferences(preferences);
}

void TMainForm::SetOverdueSoundChecked(bool on)
{
    ui->OverdueSound1->setChecked(on);
}

void TMainForm::OverdueSound1Click(bool on)
{
    TPreferences preferences = hub_.Preferences();
    preferences.overdueSound = on;
    hub_.SetPreferences(preferences);
}

void TMainForm::LineMonitor1Click()
{
    // Made on first use: until then the port carries no tap at all.
    if (!LineMonitorForm) {
        LineMonitorForm = new TLineMonitorForm(this);
        LineMonitorForm->SetPort(link_.Port());
        LineMonitorForm->SetDirectory(MonitorDirectory(session_.UserTable(), session_.StatusTable()));
    }
    ShowNonModal(LineMonitorForm);
}

void TMainForm::Sent1Click()
{
    const bool first = SentForm && !SentForm->isVisible() && !SentForm->property("shown").toBool();
    ShowNonModal(SentForm);
    if (first) {
        SentForm->setProperty("shown", true);
        CentreOnScreen(SentForm);
    }
}

void TMainForm::SendToGroup1Click(int canned)
{
    if (SendToGroupForm)
        SendToGroupForm->Open(canned);
}

void TMainForm::Groups1Click()
{
    ShowNonModal(GroupsForm);
}

void TMainForm::Canned1Click()
{
    ShowNonModal(CannedForm);
}

void TMainForm::Shortcuts1Click()
{
    ShowMessageBox(QStringLiteral("Main window\n"
                                  "  Ctrl+T: Stations\n"
                                  "  Ctrl+E: Sent (each command and what became of it)\n"
                                  "  Ctrl+G: Send to Group\n"
                                  "  Ctrl+1..9: Send to Group with canned message 1..9\n"
                                  "  Ctrl+Shift+G: Station Groups\n"
                                  "  Ctrl+Shift+M: Canned Messages\n"
                                  "  F1: this list\n"
                                  "\n"
                                  "Send to Group\n"
                                  "  a letter: the group (or command, canned message) it starts\n"
                                  "  Alt+1..9: canned message 1..9\n"
                                  "  Enter: send (Ctrl+Enter in the text)\n"
                                  "  Alt+P: stop the rest\n"
                                  "  Esc: close\n"
                                  "\n"
                                  "Sent\n"
                                  "  Up, Down, Ctrl+Home, Ctrl+End: choose a command\n"
                                  "  Alt+R: resend it\n"
                                  "  Alt+A: cancel its retries\n"
                                  "\n"
                                  "Message window\n"
                                  "  Ctrl+1..9: insert canned message 1..9\n"
                                  "\n"
                                  "Station Groups, Canned Messages\n"
                                  "  Ctrl+S: save"),
                   QStringLiteral("Keyboard Shortcuts"), MsgIcon::Information);
}

bool TMainForm::FormCloseQuery()
{
    if (!EndForm || EndForm->exec() != QDialog::Accepted)
        return false;
    TellOpenAlarmsStay();
    return link_.CloseAndSave();
}

void TMainForm::TellOpenAlarmsStay()
{
    // Exit acknowledges nothing: what is open now opens again at the next start.
    const int open = hub_.Alarms().OpenCount();
    if (open == 0)
        return;
    const QString text =
        open == 1 ? QStringLiteral("1 emergency is still not acknowledged. It stays open and is shown again "
                                   "when the console next starts.")
                  : QStringLiteral("%1 emergencies are still not acknowledged. They stay open and are shown "
                                   "again when the console next starts.")
                        .arg(open);
    ShowMessageBox(text, QStringLiteral("Corvalink Console"), MsgIcon::Warning, MsgButtons::Ok);
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
    emit Ending();
    // The confirmed exit ends the program, whatever popup or call window is
    // still open: those are windows of their own and would keep it running
    // without its main window and with its port closed.
    QCoreApplication::quit();
}

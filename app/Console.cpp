#include "Console.h"

#include "AlarmDisplay.h"
#include "AlarmSound.h"
#include "Anipopup.h"
#include "Config.h"
#include "ConsoleFiles.h"
#include "ConsoleSession.h"
#include "DesktopNotifier.h"
#include "EmergenciesWindow.h"
#include "End.h"
#include "ErrorReport.h"
#include "Estatus.h"
#include "Euser.h"
#include "FeedPublisher.h"
#include "Gps.h"
#include "HistoryWindow.h"
#include "LineMonitor.h"
#include "Main.h"
#include "Message.h"
#include "MessageBox.h"
#include "Messagepopup.h"
#include "Popup.h"
#include "PopupWindows.h"
#include "Pttidpopup.h"
#include "RadioLink.h"
#include "Speech.h"
#include "Speechpopup.h"
#include "StationId.h"
#include "Status.h"
#include "StatusPanels.h"
#include "Statuspopup.h"
#include "Table.h"
#include "TrafficHub.h"
#include "Version.h"
#include "WindowKit.h"

#include <QApplication>

TConsole *Console = nullptr;

namespace {

template <typename T> void Delete(T *&window)
{
    delete window;
    window = nullptr;
}

// "Name this station..." in the History window: the user directory opens on the
// station's row, adding it first while the directory has room.
void NameStation(int fleet, int ident)
{
    if (!Console)
        return;
    TTable *users = Console->Session().UserTable();
    GuardedCall([&] {
        LookupStationName(*users, QString::number(fleet), QString::number(ident));
        if (!users->Locate(QStringLiteral("Fleet;Ident"), QVariantList{fleet, ident})) {
            ShowMessageBox(QStringLiteral("The user directory already holds %1 users. Delete one to name "
                                          "%2-%3.")
                               .arg(MaxUserEntries)
                               .arg(fleet, 3, 10, QLatin1Char('0'))
                               .arg(ident, 4, 10, QLatin1Char('0')),
                           QStringLiteral("Corvalink Demonstration Software"), MsgIcon::Information);
            return;
        }
        if (EUserForm)
            EUserForm->exec();
    });
}

} // namespace

TConsole::TConsole()
{
    Console = this;
    try {
        Build();
    } catch (...) {
        Teardown();
        Console = nullptr;
        throw;
    }
}

TConsole::~TConsole()
{
    Teardown();
    if (Console == this)
        Console = nullptr;
}

void TConsole::Build()
{
    // The console's dialogs block the window they belong to, never the alarm's.
    modality_ = std::make_unique<TDialogsModalToTheirWindow>();
    qApp->installEventFilter(modality_.get());
    // The radio core first: the port, the tables, the settings file (whose port
    // boxes run the event loop: frames that come meanwhile wait in the link),
    // the history and the alarms.
    link_ = std::make_unique<TRadioLink>();
    session_ = std::make_unique<TConsoleSession>(*link_);
    settingsLoaded_ = link_->LoadSettings(SettingsFileName);
    hub_ = std::make_unique<TTrafficHub>(HistoryFileName);
    alarm_ = std::make_unique<TAlarmDisplay>(hub_.get());
    sound_ = std::make_unique<TAlarmSound>();
    notifier_ = std::make_unique<TDesktopNotifier>();

    BuildWindows();
    Connect();

    // Frames from the radio are decoded from the first pass of the event loop
    // on, when every window they may fill exists.
    QMetaObject::invokeMethod(link_.get(), &TRadioLink::StartTraffic, Qt::QueuedConnection);
}

void TConsole::BuildWindows()
{
    MainForm = new TMainForm(*link_, *session_, *hub_);
    panels_ = std::make_unique<TStatusPanels>(MainForm->StatusBar());
    if (!settingsLoaded_)
        MainForm->RequestEnd();
    const TCommandContext &context = session_->CommandContext();
    SpeechForm = new TSpeechForm(context);
    MessageForm = new TMessageForm(context);
    StatusForm = new TStatusForm(context);
    EUserForm = new TEUserForm(session_->UserTable(), MainForm);
    EStatusForm = new TEStatusForm(session_->StatusTable(), MainForm);
    ConfigForm = new TConfigForm(link_->Settings(), MainForm);
    GpsForm = new TGpsForm;
    popups_ = std::make_unique<TPopupWindows>(*alarm_);
    EndForm = new TEndForm(
        {PopupForm, SpeechPopupForm, StatusPopupForm, MessagePopupForm, PttidPopupForm, AniPopupForm},
        MainForm);
    VersionForm = new TVersionForm(MainForm);
    HistoryForm = new THistoryForm(HistoryFileName);
    HistoryForm->SetNameStation(&NameStation);
    TTrafficHub *hub = hub_.get();
    EmergenciesForm = new TEmergenciesForm(
        hub->Alarms(), [hub](qint64 id) { hub->AcknowledgeAlarm(id, TTrafficHub::ByEmergenciesWindow); });
}

void TConsole::Connect()
{
    TRadioLink *link = link_.get();
    TConsoleSession *session = session_.get();
    TTrafficHub *hub = hub_.get();
    TAlarmDisplay *alarm = alarm_.get();
    TAlarmSound *sound = sound_.get();
    TStatusPanels *panels = panels_.get();

    // What the session decodes goes to the popups and the log; the emergency's
    // colours go on the status popup and the log.
    session->SetPopupHost(popups_.get());
    session->SetLog(MainForm);
    alarm->SetWindows(StatusPopupForm, PopupForm, MainForm->LogView());
    alarm->SetBanner(MainForm->AlarmBanner(), sound);
    EmergenciesForm->SetSoundDevice([sound] { return sound->DeviceAvailable(); });
    // Whether the alarm can be heard shows while one is open, as it changes.
    QObject::connect(sound, &TAlarmSound::DeviceChanged, alarm, &TAlarmDisplay::UpdateBanner);
    QObject::connect(hub, &TTrafficHub::PreferencesChanged, alarm, &TAlarmDisplay::UpdateBanner);
    QObject::connect(sound, &TAlarmSound::DeviceChanged, EmergenciesForm, &TEmergenciesForm::Refresh);

    // The port's name and state in the status bar.
    panels->SetPortName(link->PortName());
    QObject::connect(link, &TRadioLink::PortNameChanged, panels, &TStatusPanels::SetPortName);
    QObject::connect(link, &TRadioLink::PortLost, panels, &TStatusPanels::PortLost);
    QObject::connect(link, &TRadioLink::PortBack, panels, &TStatusPanels::PortBack);

    // The line monitor, while it is open, hears what the bytes alone do not show.
    const auto note = [](TLineNote kind, const QString &text) {
        if (LineMonitorForm)
            LineMonitorForm->NoteLine(kind, text);
    };
    QObject::connect(link, &TRadioLink::IntakeReset, MainForm, [note] { note(TLineNote::IntakeReset, {}); });
    QObject::connect(link, &TRadioLink::WriteFailed, MainForm,
                     [note](const QString &reason) { note(TLineNote::WriteFailed, reason); });
    QObject::connect(link, &TRadioLink::PortLost, MainForm,
                     [note](const QString &device) { note(TLineNote::PortLost, device); });
    QObject::connect(link, &TRadioLink::PortBack, MainForm,
                     [note](const QString &device) { note(TLineNote::PortBack, device); });

    // Every event goes to the history and the alarms.
    QObject::connect(session, &TConsoleSession::Traffic, hub, &TTrafficHub::TrafficEvent);

    // The alarm sound follows the open alarms and the preference.
    const auto updateSound = [hub, sound] { sound->SetPlaying(hub->SoundWanted()); };
    QObject::connect(&hub->Alarms(), &TAlarmList::Changed, sound, updateSound);
    QObject::connect(hub, &TTrafficHub::PreferencesChanged, sound, updateSound);
    updateSound();
    MainForm->SetAlarmSoundChecked(hub->Preferences().alarmSound);

    // The status popup stays on an open alarm; closing it acknowledges, and the
    // generic popup's closing ends a flash too.
    QObject::connect(StatusPopupForm, &TStatusPopupForm::closed, alarm, &TAlarmDisplay::StatusPopupClosed);
    // Only the operator acknowledges: the windows closed by the ending console do not.
    QObject::connect(MainForm, &TMainForm::Ending, alarm, &TAlarmDisplay::ConsoleEnding);
    if (MainForm->EndRequested())
        alarm->ConsoleEnding();
    QObject::connect(PopupForm, &TPopupForm::closed, alarm, &TAlarmDisplay::PopupClosed);
    QObject::connect(&hub->Alarms(), &TAlarmList::Changed, alarm, &TAlarmDisplay::ShowOldestAlarm);
    // An alarm left unacknowledged goes to the desktop and the taskbar.
    notifier_->SetWindow(MainForm);
    hub->SetNotifier(notifier_.get());
    // Alarms left open by an earlier run flash from the start.
    alarm->ShowOldestAlarm();

    // The feed to a control room's broker, when the preferences name one.
    QString busProblem;
    feed_ = TFeedPublisher::FromPreferences(PreferencesFileName, &busProblem);
    if (feed_)
        feed_->Attach(*link, *session, *hub);
    if (!busProblem.isEmpty())
        QMetaObject::invokeMethod(
            MainForm,
            [busProblem] {
                ShowMessageBox(busProblem, QStringLiteral("Corvalink Console"), MsgIcon::Warning);
            },
            Qt::QueuedConnection);
}

void TConsole::Teardown()
{
    // The feed says goodbye while the session and the hub it follows still exist.
    feed_.reset();
    // Nothing decoded from here on reaches a window that is going.
    if (session_) {
        session_->SetLog(nullptr);
        session_->SetPopupHost(nullptr);
    }
    if (alarm_) {
        alarm_->SetWindows(nullptr, nullptr, nullptr);
        alarm_->SetBanner(nullptr, nullptr);
    }
    // Children of the main window (editors, Config, End, Version) go with it.
    EUserForm = nullptr;
    EStatusForm = nullptr;
    ConfigForm = nullptr;
    EndForm = nullptr;
    VersionForm = nullptr;
    Delete(EmergenciesForm);
    Delete(HistoryForm);
    popups_.reset();
    Delete(GpsForm);
    Delete(StatusForm);
    Delete(MessageForm);
    Delete(SpeechForm);
    panels_.reset();
    Delete(MainForm);
    sound_.reset();
    alarm_.reset();
    if (hub_)
        hub_->SetNotifier(nullptr);
    notifier_.reset();
    // Its writer commits what is queued before it goes.
    hub_.reset();
    session_.reset();
    // The port closes last: its reader thread is joined before the link goes.
    link_.reset();
    modality_.reset();
}

QMainWindow *TConsole::Window() const
{
    return MainForm;
}

ILog &TConsole::Log()
{
    return *MainForm;
}

QString TConsole::LogText() const
{
    return MainForm ? MainForm->LogText() : QString();
}

bool TConsole::EndRequested() const
{
    return MainForm && MainForm->EndRequested();
}

void CreateConsoleWindows()
{
    // The constructor deletes what it made when it fails.
    Console = new TConsole;
}

void DeleteConsoleWindows()
{
    delete Console;
}

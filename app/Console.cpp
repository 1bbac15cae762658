#include "Console.h"

#include "AlarmDisplay.h"
#include "AlarmSound.h"
#include "Anipopup.h"
#include "BoardHistory.h"
#include "BusPreferences.h"
#include "CommandDesk.h"
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
#include "HistoryDatabase.h"
#include "HistoryWindow.h"
#include "LineMonitor.h"
#include "Main.h"
#include "Message.h"
#include "MessageBox.h"
#include "Messagepopup.h"
#include "Popup.h"
#include "PopupWindows.h"
#include "PositionLink.h"
#include "Pttidpopup.h"
#include "RadioLink.h"
#include "Speech.h"
#include "Speechpopup.h"
#include "StationBoard.h"
#include "StationId.h"
#include "StationsWindow.h"
#include "Status.h"
#include "StatusPanels.h"
#include "Statuspopup.h"
#include "Table.h"
#include "TrafficHub.h"
#include "Version.h"
#include "WindowKit.h"

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QStatusBar>
#include <QTimer>
#include <optional>

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

// The user directory as the board takes it: the rows as stored. While a row is
// being typed or appended the table signals again when it is posted or dropped.
std::optional<QList<TDirectoryStation>> DirectoryStations(const TTable &users)
{
    if (users.Modified() || users.Inserting())
        return std::nullopt;
    const int name = users.FieldIndex(QStringLiteral("Name"));
    const int fleet = users.FieldIndex(QStringLiteral("Fleet"));
    const int ident = users.FieldIndex(QStringLiteral("Ident"));
    QList<TDirectoryStation> stations;
    for (int row = 0; row < users.RowCount(); ++row) {
        const QString f = users.FieldText(row, fleet), i = users.FieldText(row, ident);
        // A row without both numbers names no station; "Other" is the call
        // windows' free entry, not a station of the fleet.
        if (!f.isEmpty() && !i.isEmpty() && users.FieldText(row, name) != QLatin1String("Other"))
            stations.append({users.FieldText(row, name), f.toInt(), i.toInt()});
    }
    return stations;
}

// A problem the board met, told the way the hub tells its own: after start-up,
// from the event loop.
void ReportBoardProblem(QObject *context, const QString &text)
{
    QMetaObject::invokeMethod(
        context,
        [text] {
            ShowMessageBox(text, QStringLiteral("Corvalink Console"), MsgIcon::Warning, MsgButtons::Ok);
        },
        Qt::QueuedConnection);
}

void ShowCallWindow(QWidget *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

TConsole::TConsole(const QString &position) : positionName_(position)
{
    if (positionName_.isEmpty()) {
        // A problem in [Bus] is told where the feed or the position starts.
        if (const auto bus = LoadBusPreferences(PreferencesFileName, nullptr))
            positionName_ = bus->position;
    }
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
    if (positionName_.isEmpty()) {
        settingsLoaded_ = link_->LoadSettings(SettingsFileName);
    } else {
        link_->UseWithoutRadio(SettingsFileName);
        settingsLoaded_ = true;
    }
    // A history made by this start holds nothing to rebuild the board from.
    const bool historyBefore = QFileInfo(HistoryFileName).isFile();
    hub_ = std::make_unique<TTrafficHub>(HistoryFileName);
    alarm_ = std::make_unique<TAlarmDisplay>(hub_.get());
    sound_ = std::make_unique<TAlarmSound>();
    // The board is full before any frame is decoded: the directory's names, the
    // check-in timers, then what history.db says; live frames come after.
    board_ = std::make_unique<TStationBoard>();
    if (const auto stations = DirectoryStations(*session_->UserTable()))
        board_->SetDirectory(*stations);
    const QString checkinProblem = board_->OpenCheckinFile(CheckinFileName);
    if (!checkinProblem.isEmpty())
        ReportBoardProblem(board_.get(), checkinProblem);
    // A history the hub cannot use has been reported by the hub already.
    if (historyBefore && hub_->HistoryWorking()) {
        try {
            board_->Rebuild(ReadStationTraffic(HistoryFileName));
        } catch (const EHistoryError &error) {
            ReportBoardProblem(board_.get(), QString::fromUtf8(error.what()));
        }
    }
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
    StationsForm = new TStationsForm(*board_);
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

    // The feed to a control room's broker, when the preferences name one; or,
    // on a position, the radio followed through it.
    QString busProblem;
    if (!positionName_.isEmpty()) {
        ConnectPosition(&busProblem);
    } else {
        feed_ = TFeedPublisher::FromPreferences(PreferencesFileName, &busProblem);
        if (feed_) {
            feed_->Attach(*link, *session, *hub);
            desk_ =
                std::make_unique<TCommandDesk>(*feed_, *session, *hub, feed_->Preferences().positionsMaySend);
            QObject::connect(feed_.get(), &TFeedPublisher::DropCountChanged, panels,
                             &TStatusPanels::SetFeedDrops);
        }
    }
    if (!busProblem.isEmpty())
        QMetaObject::invokeMethod(
            MainForm,
            [busProblem] {
                ShowMessageBox(busProblem, QStringLiteral("Corvalink Console"), MsgIcon::Warning);
            },
            Qt::QueuedConnection);

    ConnectBoard();
}

void TConsole::ConnectPosition(QString *problem)
{
    TStatusPanels *panels = panels_.get();
    position_ = TPositionLink::FromPreferences(PreferencesFileName, positionName_, *session_, *hub_, problem);
    if (!position_) {
        panels->ShowBus(QStringLiteral("no radio"), QStringLiteral("no broker"), QStringLiteral("offline"));
        return;
    }
    TPositionLink *position = position_.get();
    // The port is the owner's: nothing to choose here.
    if (auto *config = MainForm->findChild<QWidget *>(QStringLiteral("ConfigBitBtn")))
        config->setEnabled(false);
    MainForm->setWindowTitle(MainForm->windowTitle() +
                             QStringLiteral(" \u2014 position %1").arg(position->Position()));
    const auto show = [panels, position] {
        panels->ShowBus(position->Radio(), position->Broker(), position->RadioState());
    };
    show();
    QObject::connect(position, &TPositionLink::StateChanged, panels, show);
    // The radio's answer to this position's own command, where the operator looks after sending.
    QObject::connect(
        position, &TPositionLink::Answered, MainForm, [](const QString &command, const QString &answer) {
            MainForm->statusBar()->showMessage(QStringLiteral("%1: %2").arg(command, answer), 15000);
        });
    QObject::connect(
        position, &TPositionLink::Refused, MainForm, [](const QString &command, const QString &why) {
            ShowMessageBox(QStringLiteral("The radio's owner did not send %1: %2.")
                               .arg(command.isEmpty() ? QStringLiteral("the command") : command, why),
                           QStringLiteral("Warning"), MsgIcon::Warning, MsgButtons::Ok);
        });
}

void TConsole::ConnectBoard()
{
    TConsoleSession *session = session_.get();
    TStationBoard *board = board_.get();

    // Every event, in log order, acknowledgements of emergencies included.
    QObject::connect(session, &TConsoleSession::Traffic, board, &TStationBoard::TrafficEvent);

    // The directory's names: after an edit posted in the editor, an import, or a
    // station the name lookup added. Changes that come together are read once.
    TTable *users = session->UserTable();
    auto *directoryTimer = new QTimer(board);
    directoryTimer->setSingleShot(true);
    directoryTimer->setInterval(0);
    QObject::connect(directoryTimer, &QTimer::timeout, board, [users, board] {
        if (const auto stations = DirectoryStations(*users))
            board->SetDirectory(*stations);
    });
    const auto directoryChanged = [directoryTimer] { directoryTimer->start(); };
    const QAbstractItemModel *rows = users->Model();
    QObject::connect(rows, &QAbstractItemModel::dataChanged, directoryTimer, directoryChanged);
    QObject::connect(rows, &QAbstractItemModel::rowsInserted, directoryTimer, directoryChanged);
    QObject::connect(rows, &QAbstractItemModel::rowsRemoved, directoryTimer, directoryChanged);
    QObject::connect(rows, &QAbstractItemModel::modelReset, directoryTimer, directoryChanged);

    QObject::connect(board, &TStationBoard::CheckinProblem, board,
                     [board](const QString &message) { ReportBoardProblem(board, message); });
    // An overdue station shows on the board (its row in red, with its text). The
    // Emergencies window will list it beside the emergencies once the alarm list
    // holds kinds other than an emergency: OverdueRaised and OverdueCleared are
    // the signals it is to take.

    // A row's actions: the call windows hold the station, the history shows
    // only it, and naming goes the way the History window's does.
    const auto call = [](auto *window, int fleet, int ident) {
        if (!window)
            return;
        window->HoldStation(fleet, ident);
        ShowCallWindow(window);
    };
    QObject::connect(StationsForm, &TStationsForm::VoiceWanted, StationsForm,
                     [call](int fleet, int ident) { call(SpeechForm, fleet, ident); });
    QObject::connect(StationsForm, &TStationsForm::StatusWanted, StationsForm,
                     [call](int fleet, int ident) { call(StatusForm, fleet, ident); });
    QObject::connect(StationsForm, &TStationsForm::MessageWanted, StationsForm,
                     [call](int fleet, int ident) { call(MessageForm, fleet, ident); });
    QObject::connect(StationsForm, &TStationsForm::HistoryWanted, StationsForm, [](int fleet, int ident) {
        if (!HistoryForm)
            return;
        // The History window's own station filter, as if typed there.
        if (auto *station = HistoryForm->findChild<QLineEdit *>(QStringLiteral("StationEdit")))
            station->setText(StationNumberText({fleet, ident}));
        const bool shown = HistoryForm->isVisible();
        ShowCallWindow(HistoryForm);
        if (shown)
            HistoryForm->Reload();
    });
    QObject::connect(StationsForm, &TStationsForm::NameWanted, StationsForm, &NameStation);
}

void TConsole::Teardown()
{
    // The feed says goodbye while the session and the hub it follows still exist.
    position_.reset();
    desk_.reset();
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
    Delete(StationsForm);
    Delete(EmergenciesForm);
    Delete(HistoryForm);
    popups_.reset();
    Delete(GpsForm);
    Delete(StatusForm);
    Delete(MessageForm);
    Delete(SpeechForm);
    panels_.reset();
    Delete(MainForm);
    board_.reset();
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

void CreateConsoleWindows(const QString &position)
{
    // The constructor deletes what it made when it fails.
    Console = new TConsole(position);
}

void DeleteConsoleWindows()
{
    delete Console;
}

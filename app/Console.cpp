#include "Console.h"

#include "AlarmDisplay.h"
#include "AlarmSound.h"
#include "Anipopup.h"
#include "AnsiCodec.h"
#include "BoardHistory.h"
#include "BusPreferences.h"
#include "CannedMessages.h"
#include "CommandDesk.h"
#include "Config.h"
#include "ConsoleFiles.h"
#include "ConsoleSession.h"
#include "DesktopNotifier.h"
#include "DispatchFiles.h"
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
#include "ListFileWindow.h"
#include "Main.h"
#include "Message.h"
#include "MessageBox.h"
#include "Messagepopup.h"
#include "Outbox.h"
#include "Popup.h"
#include "PopupWindows.h"
#include "PositionLink.h"
#include "Pttidpopup.h"
#include "RadioLink.h"
#include "SendToGroup.h"
#include "SentWindow.h"
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
#include <QPlainTextEdit>
#include <QShortcut>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <QWindow>
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

// A problem met while the console is built (the board's, the dispatch's files),
// told the way the hub tells its own: after start-up, from the event loop.
void ReportLater(QObject *context, const QString &text)
{
    QMetaObject::invokeMethod(
        context,
        [text] {
            ShowMessageBox(text, QStringLiteral("Corvalink Console"), MsgIcon::Warning, MsgButtons::Ok);
        },
        Qt::QueuedConnection);
}

// The facts about a station that canned messages and group sends fill in: the
// directory's name (rows read, the cursor left where it is) and the board's
// last status.
TStationFacts StationFacts(const TTable *users, const TStationBoard *board)
{
    TStationFacts facts;
    facts.name = [users](int fleet, int ident) {
        const int row = StationRow(*users, fleet, ident);
        return row < 0 ? QString() : users->FieldText(row, users->FieldIndex(QStringLiteral("Name")));
    };
    facts.statusText = [board](int fleet, int ident) {
        const int row = board->RowOf({fleet, ident});
        return row < 0 ? QString() : board->TrafficAt(row).statusText;
    };
    return facts;
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
    // On a position the stations were heard by the owner's clock, and are counted by it.
    board_ = std::make_unique<TStationBoard>(nullptr, [this] { return RadioNow(); });
    if (const auto stations = DirectoryStations(*session_->UserTable()))
        board_->SetDirectory(*stations);
    const QString checkinProblem = board_->OpenCheckinFile(CheckinFileName);
    if (!checkinProblem.isEmpty())
        ReportLater(board_.get(), checkinProblem);
    // A history the hub cannot use has been reported by the hub already.
    if (historyBefore && hub_->HistoryWorking()) {
        try {
            board_->Rebuild(ReadStationTraffic(HistoryFileName));
        } catch (const EHistoryError &error) {
            ReportLater(board_.get(), QString::fromUtf8(error.what()));
        }
    }
    notifier_ = std::make_unique<TDesktopNotifier>();
    // Every command goes through the session's one path; the outbox hears of it
    // and of the radio's answers.
    TConsoleSession *session = session_.get();
    outbox_ = std::make_unique<TOutbox>([session](const TOutgoingCommand &command) {
        session->Send(command.letter, command.fleet, command.ident, command.texts);
    });

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
    StationsForm->SetClock([this] { return RadioNow(); });
    SentForm = new TSentForm(*outbox_);
    SendToGroupForm = new TSendToGroupForm(*outbox_, StationFacts(session_->UserTable(), board_.get()));
    GroupsForm = new TListFileForm(
        QStringLiteral("Station Groups"),
        QStringLiteral(
            "One group a [name] line, then its stations, one a line as Fleet-Ident (101-1101); a name "
            "after the number is only for the reader. Ctrl+S saves. The file: %1")
            .arg(GroupsFileName),
        GroupsFileName,
        [](const QByteArray &text) {
            QList<TStationGroup> groups;
            return ParseGroups(text, &groups);
        },
        FormatGroups({{QStringLiteral("All cars"), {}}}), MainForm);
    CannedForm = new TListFileForm(
        QStringLiteral("Canned Messages"),
        QStringLiteral(
            "One message a [title] line, then its text. Fields filled in for each station: %1. The "
            "first nine are Alt+1..9 in Send to Group and Ctrl+1..9 in the Message window. Ctrl+S "
            "saves. The file: %2")
            .arg(MessageFields().join(QLatin1Char(' ')), CannedFileName),
        CannedFileName,
        [](const QByteArray &text) {
            QList<TCannedMessage> messages;
            return ParseCanned(text, &messages);
        },
        FormatCanned({{QStringLiteral("Return to base"), QStringLiteral("{name}, return to base please.")}}),
        MainForm);
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
    MainForm->SetOverdueSoundChecked(hub->Preferences().overdueSound);

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
    // Whatever window the operator turns to, the open alarm stays in front: the
    // desktop keeps a window that asks to stay on top there, and this does where
    // nothing does (no window manager, or one that ignores the request).
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, alarm,
                     [alarm] { alarm->KeepAlarmInFront(); });

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
    ConnectDispatch();
}

void TConsole::ConnectDispatch()
{
    TConsoleSession *session = session_.get();
    TTrafficHub *hub = hub_.get();
    TOutbox *outbox = outbox_.get();

    const auto options = [hub] {
        const TPreferences &preferences = hub->Preferences();
        return TOutboxOptions{preferences.answerTimeoutSeconds * 1000, preferences.busyRetries,
                              preferences.busyPauseSeconds * 1000};
    };
    outbox->SetOptions(options());
    QObject::connect(hub, &TTrafficHub::PreferencesChanged, outbox,
                     [outbox, options] { outbox->SetOptions(options()); });
    QObject::connect(session, &TConsoleSession::CommandSent, outbox, &TOutbox::CommandWritten);
    QObject::connect(session, &TConsoleSession::CommandNotWritten, outbox, &TOutbox::CommandNotWritten);
    QObject::connect(session, &TConsoleSession::Traffic, outbox, &TOutbox::TrafficEvent);
    // Each final state is a history row of its own.
    QObject::connect(outbox, &TOutbox::Finished, hub,
                     [hub](const TSentCommand &command) { hub->TrafficEvent(OutcomeEvent(command)); });
    QObject::connect(outbox, &TOutbox::Problem, outbox,
                     [outbox](const QString &text) { ReportLater(outbox, text); });
    QObject::connect(outbox, &TOutbox::PendingCountChanged, MainForm, &TMainForm::SetPendingCount);
    // What the last run left waiting for an answer shows as unknown.
    const QString pendingProblem = outbox->OpenPendingFile(PendingFileName);
    if (!pendingProblem.isEmpty())
        ReportLater(outbox, pendingProblem);
    MainForm->SetPendingCount(outbox->PendingCount());

    // Groups and canned messages as their files say, again after each save there.
    const auto loadGroups = [](bool tell) {
        QList<TStationGroup> groups;
        const QString problem = ReadGroupsFile(GroupsFileName, &groups);
        if (!problem.isEmpty() && tell)
            ReportLater(SendToGroupForm,
                        problem + QStringLiteral(". Groups are not offered until it is mended "
                                                 "(Tools > Station Groups)."));
        SendToGroupForm->SetGroups(groups);
    };
    const auto loadCanned = [](bool tell) {
        QList<TCannedMessage> messages;
        const QString problem = ReadCannedFile(CannedFileName, &messages);
        if (!problem.isEmpty() && tell)
            ReportLater(SendToGroupForm,
                        problem + QStringLiteral(". Canned messages are not offered until it is "
                                                 "mended (Tools > Canned Messages)."));
        SendToGroupForm->SetCanned(messages);
        return messages;
    };
    loadGroups(true);
    auto canned = std::make_shared<QList<TCannedMessage>>(loadCanned(true));
    QObject::connect(GroupsForm, &TListFileForm::Saved, SendToGroupForm, [loadGroups] { loadGroups(false); });
    QObject::connect(CannedForm, &TListFileForm::Saved, SendToGroupForm,
                     [loadCanned, canned] { *canned = loadCanned(false); });

    // The Message window: Ctrl+1..9 puts a canned message, its fields filled for
    // the window's station, where the cursor is. The window's own length rules
    // decide the command as always; what the radio could not carry is refused here.
    auto *memo = MessageForm->findChild<QPlainTextEdit *>(QStringLiteral("MessageMemo"));
    auto *fleetEdit = MessageForm->findChild<QLineEdit *>(QStringLiteral("FleetDBEdit"));
    auto *identEdit = MessageForm->findChild<QLineEdit *>(QStringLiteral("IdentDBEdit"));
    if (memo && fleetEdit && identEdit) {
        const TStationFacts facts = StationFacts(session->UserTable(), board_.get());
        for (int n = 1; n <= 9; ++n) {
            auto *key = new QShortcut(QKeySequence(QStringLiteral("Ctrl+%1").arg(n)), MessageForm);
            QObject::connect(key, &QShortcut::activated, memo, [=] {
                if (n > canned->size())
                    return;
                const int fleet = fleetEdit->text().toInt(), ident = identEdit->text().toInt();
                const TFieldValues values{
                    facts.name(fleet, ident), ZeroPad3(fleet) + QLatin1Char('-') + ZeroPad4(ident),
                    QTime::currentTime().toString(QStringLiteral("HH:mm")), facts.statusText(fleet, ident)};
                const TPreparedMessage prepared =
                    PrepareMessage((*canned)[n - 1].text, values, AnsiCodec::SystemCodePage());
                if (!prepared.problem.isEmpty() &&
                    prepared.problem != QLatin1String("the message is empty")) {
                    ShowMessageBox(QStringLiteral("The canned message %1 is not inserted: %2.")
                                       .arg((*canned)[n - 1].title, prepared.problem),
                                   QStringLiteral("Corvalink Console"), MsgIcon::Warning);
                    return;
                }
                QString text = prepared.text;
                memo->insertPlainText(text.replace(QLatin1String("\r\n"), QLatin1String("\n")));
            });
        }
    }
}

QDateTime TConsole::RadioNow() const
{
    return position_ ? position_->OwnerNow() : QDateTime::currentDateTimeUtc();
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
    MainForm->FollowRemoteRadio(position->Radio());
    MainForm->setWindowTitle(MainForm->windowTitle() +
                             QStringLiteral(" \u2014 position %1").arg(position->Position()));
    QObject::connect(position, &TPositionLink::OwnerClockLearned, board_.get(), &TStationBoard::ClockMoved);
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
                     [board](const QString &message) { ReportLater(board, message); });
    // An overdue station shows on the board (its row in red, with its text) and
    // is an alarm of its own kind in the Emergencies window: no flash, the sound
    // only when the operator chose it; heard again, it clears and says so.
    TTrafficHub *hub = hub_.get();
    const auto raiseOverdue = [board, hub](const TOverdue &overdue) {
        const int row = board->RowOf(overdue.key);
        hub->RaiseOverdue(overdue.key.fleet, overdue.key.ident, row >= 0 ? board->NameAt(row) : QString(),
                          OverdueAlarmText(overdue), overdue.raised);
    };
    QObject::connect(board, &TStationBoard::OverdueRaised, hub, raiseOverdue);
    // Stations already overdue when the check-in file was read, at start-up.
    for (int row = 0; row < board->rowCount(); ++row)
        if (const auto &overdue = board->OverdueAt(row))
            raiseOverdue(*overdue);
    QObject::connect(board, &TStationBoard::OverdueCleared, hub,
                     [hub](const TOverdue &overdue, const QDateTime &heard) {
                         hub->ClearOverdue(overdue.key.fleet, overdue.key.ident,
                                           heard.isValid() ? OverdueHeardAgain : OverdueRuleLifted);
                     });

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
    // Children of the main window (editors, Config, End, Version, the groups and
    // canned messages) go with it.
    EUserForm = nullptr;
    EStatusForm = nullptr;
    ConfigForm = nullptr;
    EndForm = nullptr;
    VersionForm = nullptr;
    Delete(SendToGroupForm);
    GroupsForm = nullptr;
    CannedForm = nullptr;
    Delete(SentForm);
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
    outbox_.reset();
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

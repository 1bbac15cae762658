#pragma once

#include <QDateTime>
#include <QString>
#include <memory>

class ILog;
class QMainWindow;
class TAlarmDisplay;
class TAlarmSound;
class TDesktopNotifier;
class TConsoleSession;
class TDialogsModalToTheirWindow;
class TCommandDesk;
class TFeedPublisher;
class TOutbox;
class TPositionLink;
class TPopupWindows;
class TRadioLink;
class TStationBoard;
class TStatusPanels;
class TTrafficHub;

// The console as the operator has it: the radio core (link, session, hub), the
// alarm display, the station board, then the windows, wired in one place. Built in that order and
// deleted in the reverse one.
class TConsole final {
public:
    // Opens the tables and the settings file in the working directory, the port,
    // the history; makes the sixteen windows. Errors (a file that cannot be used,
    // a bad value) propagate, after everything made so far is deleted again.
    // When no port is usable the console is to end at once: EndRequested().
    // position (or Bus/Position in the preferences) names a control-room
    // position: no port, the radio followed through the broker.
    explicit TConsole(const QString &position = {});
    ~TConsole();
    TConsole(const TConsole &) = delete;
    TConsole &operator=(const TConsole &) = delete;

    TRadioLink &Link() { return *link_; }
    TConsoleSession &Session() { return *session_; }
    TTrafficHub &Hub() { return *hub_; }
    TAlarmDisplay &Alarm() { return *alarm_; }
    TAlarmSound &Sound() { return *sound_; }
    TStatusPanels &Panels() { return *panels_; }
    TPopupWindows &Popups() { return *popups_; }
    TStationBoard &Board() { return *board_; }
    TOutbox &Outbox() { return *outbox_; }
    // Null unless this console is a position.
    TPositionLink *Position() { return position_.get(); }

    // The main window, the log it shows, and its end request.
    QMainWindow *Window() const;
    ILog &Log();
    QString LogText() const;
    bool EndRequested() const;

private:
    void Build();
    void BuildWindows();
    void Connect();
    void ConnectBoard();
    void ConnectDispatch();
    void ConnectPosition(QString *problem);
    // UTC now by the radio owner's clock: this machine's, or on a position the owner's.
    QDateTime RadioNow() const;
    void Teardown();

    std::unique_ptr<TDialogsModalToTheirWindow> modality_;
    std::unique_ptr<TRadioLink> link_;
    std::unique_ptr<TConsoleSession> session_;
    std::unique_ptr<TTrafficHub> hub_;
    std::unique_ptr<TAlarmDisplay> alarm_;
    std::unique_ptr<TAlarmSound> sound_;
    std::unique_ptr<TStationBoard> board_;
    std::unique_ptr<TOutbox> outbox_;
    std::unique_ptr<TDesktopNotifier> notifier_;
    std::unique_ptr<TStatusPanels> panels_;
    std::unique_ptr<TPopupWindows> popups_;
    std::unique_ptr<TFeedPublisher> feed_; // null without a broker in the preferences
    std::unique_ptr<TCommandDesk> desk_;   // with the feed: the positions' commands
    std::unique_ptr<TPositionLink> position_;
    QString positionName_; // non-empty: a position without a radio
    bool settingsLoaded_ = false;
};

// The one console of the process, null when none runs.
extern TConsole *Console;

// Makes the console (Console); errors propagate with nothing left behind.
void CreateConsoleWindows(const QString &position = {});

// Deletes the console and every window, clearing the instance pointers; the port
// closes last.
void DeleteConsoleWindows();

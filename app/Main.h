#pragma once

#include "CommandPort.h"
#include "FrameIntake.h"
#include "PopupDispatch.h"
#include "SendCommand.h"
#include "Settings.h"

#include <QMainWindow>
#include <deque>
#include <memory>
#include <optional>

namespace Ui {
class TMainForm;
}
class QLabel;
class QTimer;
class TTable;
class TTrafficHub;
class TZComm;

// Process-wide flags of the main window: the log trim's re-entry guard and the
// phase of the emergency flash.
extern bool LogTrimGuard;
extern bool EmergencyFlash;

// The main window: owns the serial port, the shared directory tables, the log,
// the clock and the emergency flash, and starts every other window.
class TMainForm final : public QMainWindow, public ILog {
    Q_OBJECT
public:
    // Opens the tables in the working directory, reads the settings file and opens
    // the port. Table, file and value errors are thrown. When no port is usable the
    // console is to end at once: EndRequested() is then true.
    explicit TMainForm(QWidget *parent = nullptr);
    ~TMainForm() override;

    static constexpr int LogLines = 30;

    // ILog: inserts one entry as the top line of the log.
    void InsertEntry(const QString &entry) override;

    TZComm *ZComm1 = nullptr;
    TTable *UserTable = nullptr;
    TTable *StatusTable = nullptr;
    QTimer *Clock = nullptr;
    QTimer *EmergencyTimer = nullptr;

    TSettings &Settings() { return *settings_; }
    IPortSelector &PortSelector() { return *portSelector_; }
    // Where the call windows send their commands: the port, the log, the user table.
    const TCommandContext &CommandContext() const { return commandContext_; }
    IPopupHost &PopupHost() { return *popupHost_; }

    bool EndRequested() const { return endRequested_; }
    void RequestEnd();

    QString LogText() const;
    QString StatusPanelText(int panel) const;
    Ui::TMainForm *Ui() const { return ui; }

    // Where each log entry's values go besides the log (history, alarms); set
    // before the call windows copy the command context. May be null.
    void SetTrafficObserver(ITrafficObserver *observer);

    // Decodes one frame from the radio and applies it: popups, then the log entry.
    // Runs on the user-interface thread; errors propagate to the caller.
    void HandleFrame(const QByteArray &frame);
    // Hooks the popup windows (created after this window) to the emergency state and
    // gives the generic popup its remembered size.
    void WirePopups();

    // Keeps the status popup on an open alarm while any is open: a new emergency
    // shows at once; closing the popup acknowledges the alarm it shows, and the
    // oldest still open takes its place. Without alarms the popup works as before.
    void WireAlarms(TTrafficHub *hub);
    // The alarm the status popup shows, 0 for none.
    qint64 ShownAlarm() const { return shownAlarm_; }

    // Ends an emergency when the status popup closes: timer stopped, colours back,
    // and the status window filled with an ordinary status held meanwhile.
    void EndEmergency();
    void PaintEmergency(bool red);

    // An ordinary status that came during an emergency, for the status window
    // once the emergency is over.
    struct THeldStatus {
        QString name, fleet, ident, text;
    };
    void HoldStatus(const THeldStatus &status);
    void DropHeldStatus();

    // Called once every window exists: frames that came during start-up are
    // decoded, in order, and later frames go straight to the decoder.
    void StartTraffic();

    // The port's device went away and the console is waiting for it to return.
    bool WaitingForPort() const { return portLost_; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private slots:
    void SpeechBitBtnClick();
    void StatusBitBtnClick();
    void MessageBitBtnClick();
    void EUserBitBtnClick();
    void EstatusBitBtnClick();
    void ConfigBitBtnClick();
    void ExitBitBtnClick();
    void Exit1Click();
    void LogClear1Click();
    void Speech2Click();
    void Status2Click();
    void Message2Click();
    void ANI1Click();
    void ANI2Click();
    void Version1Click();
    void History1Click();
    void Emergencies1Click();
    void AlarmSound1Click(bool on);
    void LineMonitor1Click();
    void ClockTimer();
    void EmergencyTimerTimer();

private:
    // The intake of the comm event, on the reader thread: reads everything waiting
    // and hands each complete frame, in order, to the user-interface thread.
    void ZComm1CommEvent(TZComm *Sender, uint32_t &size);
    void Construct();
    void ShowOldestAlarm();
    void StatusPopupClosed();
    void PopupClosed();
    void DeliverFrame(const QByteArray &frame);
    void ShowHeldStatus();
    void PortLost();
    void ReconnectTimerTimer();
    void PortBack();
    void ReportPort(TrafficKind kind);
    void LogMemoChange();
    // Returns whether the close may proceed.
    bool FormCloseQuery();
    void ConnectHandlers();

    Ui::TMainForm *ui;
    QLabel *panels_[3] = {};
    // The port's own adapters; the console uses them through the two below, which tell the line monitor.
    std::unique_ptr<ICommandPort> zcommPort_;
    std::unique_ptr<IPortSelector> zcommSelector_;
    std::unique_ptr<ICommandPort> commandPort_;
    std::unique_ptr<IPortSelector> portSelector_;
    std::unique_ptr<TSettings> settings_;
    std::unique_ptr<IPopupHost> popupHost_;
    TCommandContext commandContext_;
    ITrafficObserver *traffic_ = nullptr;
    TTrafficHub *alarmHub_ = nullptr;
    qint64 shownAlarm_ = 0;
    int alarmsSeen_ = 0;
    TFrameIntake intake_; // reader thread only (or while the port is closed)
    bool trafficStarted_ = false;
    std::deque<QByteArray> earlyFrames_;
    std::optional<THeldStatus> heldStatus_;
    QTimer *reconnectTimer_ = nullptr;
    bool portLost_ = false;
    bool endRequested_ = false;
    bool centred_ = false;
    // ZComm1's owner, declared last so that it goes first: its destruction
    // closes the port and joins the reader thread, which calls into this
    // window's members, before any of them (or the child windows) go.
    std::unique_ptr<TZComm> port_;
};

extern TMainForm *MainForm;

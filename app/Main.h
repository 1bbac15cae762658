#pragma once

#include "CommandPort.h"

#include <QMainWindow>
#include <memory>

namespace Ui {
class TMainForm;
}
class QLabel;
class QStatusBar;
class QWidget;
class TConsoleSession;
class TRadioLink;
class TTrafficHub;

// The main window: its form, the buttons and menus with their handlers, the log,
// and the exit question. The radio, the tables and the emergency are the
// console's (TConsole); nothing below app/ calls this window.
class TMainForm final : public QMainWindow, public ILog {
    Q_OBJECT
public:
    TMainForm(TRadioLink &link, TConsoleSession &session, TTrafficHub &hub, QWidget *parent = nullptr);
    ~TMainForm() override;

    // ILog: inserts one entry as the top line of the log.
    void InsertEntry(const QString &entry) override;
    QString LogText() const;
    // The log's view, which the emergency paints.
    QWidget *LogView() const;
    QStatusBar *StatusBar() const;
    // The red banner above the log that counts the open emergencies; hidden
    // while none is open.
    QLabel *AlarmBanner() const { return alarmBanner_; }
    // Ticks the Alarm sound menu item as the preferences have it.
    void SetAlarmSoundChecked(bool on);
    void SetOverdueSoundChecked(bool on);
    // The status bar's count of commands waiting for the radio's answer.
    void SetPendingCount(int count);
    // A control-room position: the port and its line are the radio owner's, so
    // the port settings and the line monitor are not offered here.
    void FollowRemoteRadio(const QString &radio);
    QLabel *PendingPanel() const { return pendingPanel_; }

    bool EndRequested() const { return endRequested_; }
    // The console is to end at once: no exit question, the event loop stops.
    void RequestEnd();

signals:
    // The console ends now (the exit confirmed, or an end requested): what
    // closes from here on is closed by the program, not by the operator.
    void Ending();

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
    void Stations1Click();
    void AlarmSound1Click(bool on);
    void OverdueSound1Click(bool on);
    void LineMonitor1Click();
    void Sent1Click();
    void SendToGroup1Click(int canned);
    void Groups1Click();
    void Canned1Click();
    void Shortcuts1Click();

private:
    void LogMemoChange();
    // Returns whether the close may proceed.
    bool FormCloseQuery();
    // After a confirmed exit: open alarms stay open, and the operator is told so.
    void TellOpenAlarmsStay();
    void ConnectHandlers();
    void AddDispatchItems();

    std::unique_ptr<Ui::TMainForm> ui;
    TRadioLink &link_;
    TConsoleSession &session_;
    TTrafficHub &hub_;
    QLabel *alarmBanner_ = nullptr;
    QLabel *pendingPanel_ = nullptr;
    bool endRequested_ = false;
    bool centred_ = false;
    bool stationsCentred_ = false;
};

extern TMainForm *MainForm;

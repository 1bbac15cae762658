#pragma once

#include <QObject>
#include <QString>
#include <optional>

class QLabel;
class TAlarmSound;
class QTimer;
class QWidget;
class TPopupForm;
class TStatusPopupForm;
class TTrafficHub;

// The one owner of the emergency on screen: the flash (its timer and phase, the
// status popup and the log painted red), which alarm the status popup shows,
// and an ordinary status held while the emergency is on. The popup dispatch asks
// it through the popup host; the hub's alarm list drives it through Changed.
class TAlarmDisplay final : public QObject {
    Q_OBJECT
public:
    // hub may be null (no alarms: the flash works as before alarms).
    explicit TAlarmDisplay(TTrafficHub *hub, QObject *parent = nullptr);

    // The windows it paints and fills; set once they exist. Any may be null.
    void SetWindows(TStatusPopupForm *statusPopup, TPopupForm *popup, QWidget *log);
    // The main window's banner that counts the open emergencies and says
    // whether they can be heard; may be null. sound may be null (no sound).
    void SetBanner(QLabel *banner, TAlarmSound *sound = nullptr);
    // What the operator hears while alarms are open.
    QString Audibility() const;
    void UpdateBanner();

    // The flash timer: one tick a second while the emergency is on.
    QTimer *EmergencyTimer = nullptr;
    // The phase of the flash: true when the next tick paints red.
    bool EmergencyFlash() const { return flash_; }

    // Starts the flash; a running flash keeps its phase.
    void StartEmergency();
    bool EmergencyRunning() const;
    // Ends the flash: timer stopped, colours back, and the status popup filled
    // with an ordinary status held meanwhile.
    void EndEmergency();
    void PaintEmergency(bool red);

    // An ordinary status that came during an emergency, for the status popup
    // once the emergency is over; a newer status drops it.
    struct THeldStatus {
        QString name, fleet, ident, text;
    };
    void HoldStatus(const THeldStatus &status) { held_ = status; }
    void DropHeldStatus() { held_.reset(); }

    // Keeps the status popup on an open alarm while any is open: a new emergency
    // shows at once; closing the popup acknowledges the alarm it shows, and the
    // oldest still open takes its place. Without alarms the popup works as before.
    void ShowOldestAlarm();
    // A routine popup came to the front: the status popup with an open alarm
    // goes above it again.
    void KeepAlarmInFront();
    // The alarm the status popup shows, 0 for none.
    qint64 ShownAlarm() const { return shownAlarm_; }

    // The status popup closed: the alarm it shows is acknowledged (the hub puts
    // the next oldest on it), or the flash ends. Once the console is ending, a
    // close acknowledges nothing.
    void StatusPopupClosed();
    // The console is ending (the exit confirmed): the windows closing now leave
    // every alarm open for the next start.
    void ConsoleEnding() { ending_ = true; }
    // The generic popup closed: a running flash ends, restoring its band only.
    void PopupClosed();

private:
    void Tick();
    void ShowHeldStatus();
    // While an alarm is open the status popup stays above the other windows.
    void SetPopupOnTop(bool onTop);

    TTrafficHub *hub_;
    TStatusPopupForm *statusPopup_ = nullptr;
    TPopupForm *popup_ = nullptr;
    QWidget *log_ = nullptr;
    QLabel *banner_ = nullptr;
    TAlarmSound *sound_ = nullptr;
    bool flash_ = false;
    bool ending_ = false;
    bool popupClosing_ = false;
    qint64 shownAlarm_ = 0;
    int alarmsSeen_ = 0;
    std::optional<THeldStatus> held_;
};

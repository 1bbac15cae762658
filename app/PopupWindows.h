#pragma once

#include "PopupDispatch.h"

class QWidget;
class TAlarmDisplay;

// The six popup windows, made hidden (an event or the Last menu shows them) and
// deleted again here, and the popup host that the session's incoming path drives.
// The emergency part of the host is the alarm display's.
class TPopupWindows final : public IPopupHost {
public:
    explicit TPopupWindows(TAlarmDisplay &alarm);
    ~TPopupWindows() override;

    void SetStationFields(PopupKind kind, const QString &name, const QString &fleet,
                          const QString &ident) override;
    void SetCallDecodeTo(const QString &name2, const QString &fleet2, const QString &ident2) override;
    void SetStatusText(const QString &text) override;
    void ClearMessageMemo() override;
    void AppendMessageText(const QString &text) override;
    void SetPttIdCaption(const QString &caption) override;
    void ShowPopup(PopupKind kind) override;
    void StartEmergency() override;
    bool EmergencyRunning() const override;
    void HoldStatus(const QString &name, const QString &fleet, const QString &ident,
                    const QString &text) override;

    // The kind's window (the instance pointer), null before it exists.
    static QWidget *Window(PopupKind kind);

private:
    TAlarmDisplay &alarm_;
};

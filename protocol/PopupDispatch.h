#pragma once

#include "CommandPort.h"
#include "Decoder.h"

#include <QString>

// PopupFlags: the popups the operator has enabled.
enum PopupFlag : unsigned {
    PopupVoice = 0x01,
    PopupStatus = 0x02,
    PopupMessage = 0x04,
    PopupPttId = 0x08,
    PopupCallDecode = 0x10,
    PopupPhotograph = 0x20, // no popup uses it
};

// The bit of PopupFlags that enables a kind's window.
unsigned PopupFlagOf(PopupKind kind);

// The popup windows as the incoming path drives them. The windows implement it;
// nothing here touches a widget.
class IPopupHost {
public:
    virtual ~IPopupHost() = default;
    // NameEdit, FleetEdit, IdentEdit of the kind's window (the From fields for CallDecode).
    virtual void SetStationFields(PopupKind kind, const QString &name, const QString &fleet,
                                  const QString &ident) = 0;
    // Name2Edit, Fleet2Edit, Ident2Edit of the call-decode window (the To fields).
    virtual void SetCallDecodeTo(const QString &name2, const QString &fleet2, const QString &ident2) = 0;
    // TextEdit of the status window.
    virtual void SetStatusText(const QString &text) = 0;
    virtual void ClearMessageMemo() = 0;
    // Adds a line to MessageMemo; line breaks in text are CR LF.
    virtual void AppendMessageText(const QString &text) = 0;
    virtual void SetPttIdCaption(const QString &caption) = 0;
    // Makes the kind's window visible and brings it to the front, not modal.
    virtual void ShowPopup(PopupKind kind) = 0;
    // Sets the main window's EmergencyTimer running.
    virtual void StartEmergency() = 0;
    // Whether the emergency state is on (the main window's EmergencyTimer runs).
    virtual bool EmergencyRunning() const { return false; }
    // An ordinary status that came while the emergency state is on: the status
    // window keeps showing the emergency, and shows this one once it is over.
    virtual void HoldStatus(const QString &name, const QString &fleet, const QString &ident,
                            const QString &text)
    {
        Q_UNUSED(name);
        Q_UNUSED(fleet);
        Q_UNUSED(ident);
        Q_UNUSED(text);
    }
};

// A host with no windows: every request is dropped (a session without popups,
// a benchmark).
class TNullPopupHost : public IPopupHost {
public:
    void SetStationFields(PopupKind, const QString &, const QString &, const QString &) override {}
    void SetCallDecodeTo(const QString &, const QString &, const QString &) override {}
    void SetStatusText(const QString &) override {}
    void ClearMessageMemo() override {}
    void AppendMessageText(const QString &) override {}
    void SetPttIdCaption(const QString &) override {}
    void ShowPopup(PopupKind) override {}
    void StartEmergency() override {}
};

// Fills the request's window; shows it when its PopupFlags bit is set. A Status
// request whose number (name2) is an emergency (IsEmergencyStatus) starts the emergency and shows the
// status window whatever the flags. A number that does not convert throws
// EConvertError after the fields are set. While the emergency state is on, only
// another emergency changes the status window's fields; an ordinary status is
// held for it (HoldStatus), so the alarm never names the wrong station.
void ShowIncomingPopup(IPopupHost &host, unsigned popupFlags, const TPopupRequest &request);
inline void ShowIncomingPopup(IPopupHost &host, unsigned popupFlags, PopupKind kind, const QString &fleet,
                              const QString &ident, const QString &name, const QString &fleet2,
                              const QString &ident2, const QString &name2, const QString &text)
{
    ShowIncomingPopup(host, popupFlags, TPopupRequest{kind, fleet, ident, name, fleet2, ident2, name2, text});
}

// Applies a decoded frame: its window effects in order, popup requests through
// ShowIncomingPopup, and the log entry last. If an effect throws, nothing is
// logged and the exception propagates.
void ApplyDecodeResult(const TDecodeResult &result, IPopupHost &host, unsigned popupFlags, ILog &log);

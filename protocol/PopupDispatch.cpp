#include "PopupDispatch.h"

#include "Convert.h"
#include "Emergency.h"

unsigned PopupFlagOf(PopupKind kind)
{
    switch (kind) {
    case PopupKind::Voice:
        return PopupVoice;
    case PopupKind::Status:
        return PopupStatus;
    case PopupKind::Message:
        return PopupMessage;
    case PopupKind::PttId:
        return PopupPttId;
    case PopupKind::CallDecode:
        return PopupCallDecode;
    }
    return 0;
}

void ShowIncomingPopup(IPopupHost &host, unsigned popupFlags, const TPopupRequest &request)
{
    const PopupKind kind = request.kind;
    const bool emergencyOn = kind == PopupKind::Status && host.EmergencyRunning();
    switch (kind) {
    case PopupKind::Voice:
    case PopupKind::PttId:
        host.SetStationFields(kind, request.name, request.fleet, request.ident);
        break;
    case PopupKind::Status:
        // During an emergency the fields wait until the number says which kind
        // of status this is.
        if (!emergencyOn) {
            host.SetStationFields(kind, request.name, request.fleet, request.ident);
            host.SetStatusText(request.text);
        }
        break;
    case PopupKind::Message:
        host.SetStationFields(kind, request.name, request.fleet, request.ident);
        host.ClearMessageMemo();
        break;
    case PopupKind::CallDecode:
        host.SetCallDecodeTo(request.name2, request.fleet2, request.ident2);
        break;
    }
    if (kind == PopupKind::Status) {
        const bool emergency = IsEmergencyStatus(StrToInt(request.StatusNumber()));
        if (emergencyOn) {
            if (emergency) {
                host.SetStationFields(kind, request.name, request.fleet, request.ident);
                host.SetStatusText(request.text);
            } else {
                host.HoldStatus(request.name, request.fleet, request.ident, request.text);
            }
        }
        if (emergency) {
            host.StartEmergency();
            host.ShowPopup(kind);
            return;
        }
    }
    if (popupFlags & PopupFlagOf(kind))
        host.ShowPopup(kind);
}

void ApplyDecodeResult(const TDecodeResult &result, IPopupHost &host, unsigned popupFlags, ILog &log)
{
    for (const TWindowEffect &effect : result.effects) {
        if (const auto *e = std::get_if<TSetPttIdCaption>(&effect))
            host.SetPttIdCaption(e->caption);
        else if (const auto *e = std::get_if<TSetCallDecodeFrom>(&effect))
            host.SetStationFields(PopupKind::CallDecode, e->name, e->fleet, e->ident);
        else if (const auto *e = std::get_if<TAppendMessageText>(&effect))
            host.AppendMessageText(e->text);
        else if (const auto *e = std::get_if<TPopupRequest>(&effect))
            ShowIncomingPopup(host, popupFlags, *e);
    }
    if (result.logEntry)
        log.InsertEntry(*result.logEntry);
}

#include "PopupWindows.h"

#include "AlarmDisplay.h"
#include "Anipopup.h"
#include "Messagepopup.h"
#include "Popup.h"
#include "Pttidpopup.h"
#include "Speechpopup.h"
#include "Statuspopup.h"
#include "WindowKit.h"

namespace {

template <typename T> void Delete(T *&window)
{
    delete window;
    window = nullptr;
}

void DeleteAll()
{
    Delete(AniPopupForm);
    Delete(MessagePopupForm);
    Delete(PttidPopupForm);
    Delete(StatusPopupForm);
    Delete(SpeechPopupForm);
    Delete(PopupForm);
}

} // namespace

TPopupWindows::TPopupWindows(TAlarmDisplay &alarm) : alarm_(alarm)
{
    // Hidden until an event or the Last menu shows them. They are not put on the
    // screen at start-up only to be closed again by the exit window's creation:
    // that would flash six windows at every start.
    try {
        PopupForm = new TPopupForm;
        SpeechPopupForm = new TSpeechPopupForm;
        StatusPopupForm = new TStatusPopupForm;
        PttidPopupForm = new TPttidPopupForm;
        MessagePopupForm = new TMessagePopupForm;
        AniPopupForm = new TAniPopupForm;
    } catch (...) {
        DeleteAll();
        throw;
    }
    PopupForm->SetRememberedSize(100, 230);
}

TPopupWindows::~TPopupWindows()
{
    DeleteAll();
}

void TPopupWindows::SetStationFields(PopupKind kind, const QString &name, const QString &fleet,
                                     const QString &ident)
{
    switch (kind) {
    case PopupKind::Voice:
        SpeechPopupForm->SetStation(name, fleet, ident);
        break;
    case PopupKind::Status:
        // A newer status takes the place of one held during an emergency.
        alarm_.DropHeldStatus();
        StatusPopupForm->SetStation(name, fleet, ident);
        break;
    case PopupKind::Message:
        MessagePopupForm->SetStation(name, fleet, ident);
        break;
    case PopupKind::PttId:
        PttidPopupForm->SetStation(name, fleet, ident);
        break;
    case PopupKind::CallDecode:
        AniPopupForm->SetFrom(name, fleet, ident);
        break;
    }
}

void TPopupWindows::SetCallDecodeTo(const QString &name2, const QString &fleet2, const QString &ident2)
{
    AniPopupForm->SetTo(name2, fleet2, ident2);
}

void TPopupWindows::SetStatusText(const QString &text)
{
    StatusPopupForm->SetText(text);
}

void TPopupWindows::ClearMessageMemo()
{
    MessagePopupForm->ClearMessage();
}

void TPopupWindows::AppendMessageText(const QString &text)
{
    MessagePopupForm->AddMessageLine(text);
}

void TPopupWindows::SetPttIdCaption(const QString &caption)
{
    PttidPopupForm->SetCaption(caption);
}

void TPopupWindows::ShowPopup(PopupKind kind)
{
    ShowPopupWindow(Window(kind));
    // A routine popup never covers an open alarm.
    if (kind != PopupKind::Status)
        alarm_.KeepAlarmInFront();
}

void TPopupWindows::StartEmergency()
{
    alarm_.StartEmergency();
}

bool TPopupWindows::EmergencyRunning() const
{
    return alarm_.EmergencyRunning();
}

void TPopupWindows::HoldStatus(const QString &name, const QString &fleet, const QString &ident,
                               const QString &text)
{
    alarm_.HoldStatus({name, fleet, ident, text});
}

QWidget *TPopupWindows::Window(PopupKind kind)
{
    switch (kind) {
    case PopupKind::Voice:
        return SpeechPopupForm;
    case PopupKind::Status:
        return StatusPopupForm;
    case PopupKind::Message:
        return MessagePopupForm;
    case PopupKind::PttId:
        return PttidPopupForm;
    case PopupKind::CallDecode:
        return AniPopupForm;
    }
    return nullptr;
}

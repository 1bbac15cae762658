#include "Console.h"

#include "Anipopup.h"
#include "Config.h"
#include "End.h"
#include "ErrorReport.h"
#include "Estatus.h"
#include "Euser.h"
#include "Gps.h"
#include "Main.h"
#include "Message.h"
#include "Messagepopup.h"
#include "Popup.h"
#include "Pttidpopup.h"
#include "Speech.h"
#include "Speechpopup.h"
#include "Status.h"
#include "Statuspopup.h"
#include "Version.h"
#include "Zcomm.h"

namespace {

template <typename T> void Delete(T *&window)
{
    delete window;
    window = nullptr;
}

} // namespace

void CreateConsoleWindows()
{
    try {
        MainForm = new TMainForm;
        const TCommandContext &context = MainForm->CommandContext();
        SpeechForm = new TSpeechForm(context);
        MessageForm = new TMessageForm(context);
        StatusForm = new TStatusForm(context);
        EUserForm = new TEUserForm(MainForm->UserTable, MainForm);
        EStatusForm = new TEStatusForm(MainForm->StatusTable, MainForm);
        ConfigForm = new TConfigForm(
            MainForm->Settings(), [] { MainForm->RequestEnd(); }, MainForm);
        ConfigForm->SetErrorReporter([](std::exception_ptr error) { ReportError(error); });
        GpsForm = new TGpsForm;
        // The popups are hidden until an event or the Last menu shows them. They are
        // not put on the screen at start-up only to be closed again by the exit
        // window's creation: that would flash six windows at every start.
        PopupForm = new TPopupForm;
        SpeechPopupForm = new TSpeechPopupForm;
        StatusPopupForm = new TStatusPopupForm;
        PttidPopupForm = new TPttidPopupForm;
        MessagePopupForm = new TMessagePopupForm;
        AniPopupForm = new TAniPopupForm;
        MainForm->WirePopups();
        EndForm = new TEndForm(
            {PopupForm, SpeechPopupForm, StatusPopupForm, MessagePopupForm, PttidPopupForm, AniPopupForm},
            MainForm);
        VersionForm = new TVersionForm(MainForm);
        // Frames from the radio are decoded from the first pass of the event loop
        // on, when every window they may fill exists.
        QMetaObject::invokeMethod(MainForm, &TMainForm::StartTraffic, Qt::QueuedConnection);
    } catch (...) {
        DeleteConsoleWindows();
        throw;
    }
}

void DeleteConsoleWindows()
{
    // The reader thread hands frames to the main window: stop it first.
    if (MainForm && MainForm->ZComm1)
        MainForm->ZComm1->CloseCommport();
    // Children of the main window (editors, Config, End, Version) go with it.
    EUserForm = nullptr;
    EStatusForm = nullptr;
    ConfigForm = nullptr;
    EndForm = nullptr;
    VersionForm = nullptr;
    Delete(AniPopupForm);
    Delete(MessagePopupForm);
    Delete(PttidPopupForm);
    Delete(StatusPopupForm);
    Delete(SpeechPopupForm);
    Delete(PopupForm);
    Delete(GpsForm);
    Delete(StatusForm);
    Delete(MessageForm);
    Delete(SpeechForm);
    Delete(MainForm);
}

#include "Console.h"

#include "Anipopup.h"
#include "Config.h"
#include "EmergenciesWindow.h"
#include "End.h"
#include "ErrorReport.h"
#include "Estatus.h"
#include "Euser.h"
#include "Gps.h"
#include "HistoryWindow.h"
#include "Main.h"
#include "Message.h"
#include "MessageBox.h"
#include "Messagepopup.h"
#include "Popup.h"
#include "Pttidpopup.h"
#include "Speech.h"
#include "Speechpopup.h"
#include "StationId.h"
#include "Status.h"
#include "Statuspopup.h"
#include "Table.h"
#include "Traffic.h"
#include "Version.h"
#include "Zcomm.h"
#include "ui_Main.h"

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
    TTable *users = MainForm->UserTable;
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

} // namespace

void CreateConsoleWindows()
{
    try {
        MainForm = new TMainForm;
        // Before the call windows take their copies of the command context.
        TrafficHub = new TTrafficHub;
        MainForm->SetTrafficObserver(TrafficHub);
        const TCommandContext &context = MainForm->CommandContext();
        SpeechForm = new TSpeechForm(context);
        MessageForm = new TMessageForm(context);
        StatusForm = new TStatusForm(context);
        EUserForm = new TEUserForm(MainForm->UserTable, MainForm);
        EStatusForm = new TEStatusForm(MainForm->StatusTable, MainForm);
        ConfigForm = new TConfigForm(MainForm->Settings(), MainForm);
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
        HistoryForm = new THistoryForm(HistoryFileName);
        HistoryForm->SetNameStation(&NameStation);
        EmergenciesForm =
            new TEmergenciesForm(TrafficHub->Alarms(), [](qint64 id) { TrafficHub->AcknowledgeAlarm(id); });
        MainForm->Ui()->AlarmSound1->setChecked(TrafficHub->Preferences().alarmSound);
        MainForm->WireAlarms(TrafficHub);
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
    // The reader thread reports to the main window alone, which stops it before
    // anything of its own goes; frames it handed over are decoded only from the
    // event loop, which no longer runs here.
    // Children of the main window (editors, Config, End, Version) go with it.
    EUserForm = nullptr;
    EStatusForm = nullptr;
    ConfigForm = nullptr;
    EndForm = nullptr;
    VersionForm = nullptr;
    Delete(EmergenciesForm);
    Delete(HistoryForm);
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
    if (MainForm)
        MainForm->SetTrafficObserver(nullptr);
    // Its writer commits what is queued before it goes.
    Delete(TrafficHub);
    Delete(MainForm);
}

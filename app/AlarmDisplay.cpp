#include "AlarmDisplay.h"

#include "AlarmSound.h"
#include "Popup.h"
#include "Statuspopup.h"
#include "TrafficHub.h"
#include "WindowKit.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QStringList>
#include <QTimer>

TAlarmDisplay::TAlarmDisplay(TTrafficHub *hub, QObject *parent) : QObject(parent), hub_(hub)
{
    EmergencyTimer = new QTimer(this);
    EmergencyTimer->setInterval(1000);
    connect(EmergencyTimer, &QTimer::timeout, this, &TAlarmDisplay::Tick);
}

void TAlarmDisplay::SetWindows(TStatusPopupForm *statusPopup, TPopupForm *popup, QWidget *log)
{
    statusPopup_ = statusPopup;
    popup_ = popup;
    log_ = log;
}

void TAlarmDisplay::SetBanner(QLabel *banner, TAlarmSound *sound)
{
    banner_ = banner;
    sound_ = sound;
    UpdateBanner();
}

QString TAlarmDisplay::Audibility() const
{
    if (!sound_ || !sound_->DeviceAvailable())
        return QStringLiteral("no sound device");
    if (!hub_ || !hub_->Preferences().alarmSound)
        return QStringLiteral("sound turned off");
    if (hub_->Alarms().Muted())
        return QStringLiteral("muted until the next emergency");
    return QStringLiteral("sounding");
}

void TAlarmDisplay::UpdateBanner()
{
    if (!banner_)
        return;
    const int open = hub_ ? hub_->Alarms().OpenCount() : 0;
    const int overdue = hub_ ? hub_->Alarms().OpenOverdueCount() : 0;
    QStringList parts;
    if (open > 0)
        parts << (open == 1 ? QStringLiteral("1 emergency open, not acknowledged")
                            : QStringLiteral("%1 emergencies open, not acknowledged").arg(open));
    if (overdue > 0)
        parts << (overdue == 1 ? QStringLiteral("1 station overdue")
                               : QStringLiteral("%1 stations overdue").arg(overdue));
    // The sound is named whenever it is wanted or could be: an overdue station
    // sounds only when the operator chose it.
    if (open > 0 || (overdue > 0 && hub_->Preferences().overdueSound))
        parts.last() += QStringLiteral(". Alarm sound: ") + Audibility();
    const QString text = parts.join(QStringLiteral("; "));
    banner_->setText(text);
    // Read out by a screen reader as it changes.
    banner_->setAccessibleName(text);
    banner_->setVisible(!parts.isEmpty());
}

void TAlarmDisplay::SetPopupOnTop(bool onTop)
{
    if (!statusPopup_ || statusPopup_->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    // A new flag makes a new native window, hidden: a visible popup is shown again.
    const bool visible = statusPopup_->isVisible() && !popupClosing_;
    statusPopup_->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible)
        statusPopup_->show();
}

void TAlarmDisplay::KeepAlarmInFront()
{
    if (shownAlarm_ && statusPopup_ && statusPopup_->isVisible())
        statusPopup_->raise();
}

void TAlarmDisplay::StartEmergency()
{
    // Enabling a running timer must not restart its phase.
    if (!EmergencyTimer->isActive())
        EmergencyTimer->start();
}

bool TAlarmDisplay::EmergencyRunning() const
{
    return EmergencyTimer->isActive();
}

void TAlarmDisplay::ShowOldestAlarm()
{
    const TAlarmList *alarms = hub_ ? &hub_->Alarms() : nullptr;
    const int count = alarms ? int(alarms->Alarms().size()) : 0;
    const bool raised = count > alarmsSeen_;
    alarmsSeen_ = count;
    // Unknown emergency numbers are listed and sounded, not put on the popup.
    const TAlarm *alarm = alarms ? alarms->OldestOpenKnown() : nullptr;
    UpdateBanner();
    if (!alarm) {
        SetPopupOnTop(false);
        if (shownAlarm_) {
            shownAlarm_ = 0;
            EndEmergency();
        }
        return;
    }
    if (!statusPopup_)
        return;
    SetPopupOnTop(true);
    if (const TAlarm &newest = alarms->Alarms().constLast();
        raised && newest.IsOpen() && !newest.restored && newest.OnPopup()) {
        // A new emergency takes over the popup, as it always has; alarms from an
        // earlier run show oldest first, as the start-up box lists them.
        alarm = &newest;
    } else if (const TAlarm *shown = alarms->Find(shownAlarm_); shown && shown->IsOpen()) {
        alarm = shown; // a mute or an acknowledgement elsewhere changes nothing here
    }
    // Otherwise the oldest open alarm: the one shown was acknowledged.
    shownAlarm_ = alarm->id;
    const QString fleet =
        alarm->fleet ? QStringLiteral("%1").arg(*alarm->fleet, 3, 10, QLatin1Char('0')) : QString();
    const QString ident =
        alarm->ident ? QStringLiteral("%1").arg(*alarm->ident, 4, 10, QLatin1Char('0')) : QString();
    statusPopup_->SetStation(alarm->name, fleet, ident);
    statusPopup_->SetText(alarm->statusText);
    StartEmergency();
    // Shown from the event loop: this may run inside the popup's own closing.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (shownAlarm_ && statusPopup_ && !statusPopup_->isVisible())
                ShowPopupWindow(statusPopup_);
        },
        Qt::QueuedConnection);
    if (!statusPopup_->isVisible())
        ShowPopupWindow(statusPopup_);
    // A new emergency asks the desktop for the operator's attention.
    if (raised)
        QApplication::alert(statusPopup_);
}

void TAlarmDisplay::StatusPopupClosed()
{
    if (ending_)
        return;
    // Closing the popup acknowledges the alarm it shows; the list then puts the
    // next oldest on it, or ends the flash when none is left.
    popupClosing_ = true;
    const bool acknowledged = hub_ && shownAlarm_ && hub_->AcknowledgeAlarm(shownAlarm_);
    popupClosing_ = false;
    if (acknowledged)
        return;
    EndEmergency();
}

void TAlarmDisplay::PopupClosed()
{
    // The generic popup ends a running flash too, but restores only its own band.
    if (!EmergencyTimer->isActive())
        return;
    EmergencyTimer->stop();
    if (popup_)
        popup_->SetPanelColour(false);
    flash_ = false;
}

void TAlarmDisplay::PaintEmergency(bool red)
{
    if (statusPopup_)
        statusPopup_->SetFlashColour(red);
    if (!log_)
        return;
    QPalette palette = log_->palette();
    palette.setColor(QPalette::Base,
                     red ? QColor(Qt::red) : QApplication::palette(log_).color(QPalette::Base));
    log_->setPalette(palette);
}

void TAlarmDisplay::Tick()
{
    PaintEmergency(flash_);
    flash_ = !flash_;
}

void TAlarmDisplay::EndEmergency()
{
    if (!EmergencyTimer->isActive())
        return;
    EmergencyTimer->stop();
    PaintEmergency(false);
    flash_ = false;
    ShowHeldStatus();
}

void TAlarmDisplay::ShowHeldStatus()
{
    // The newest status goes into the window that Last > Status shows.
    if (!held_ || !statusPopup_)
        return;
    const THeldStatus held = *held_;
    held_.reset();
    statusPopup_->SetStation(held.name, held.fleet, held.ident);
    statusPopup_->SetText(held.text);
}

#include "AlarmList.h"

#include <algorithm>

TAlarmList::TAlarmList(QObject *parent) : QObject(parent) {}

QDateTime TAlarmList::Now() const
{
    return clock_ ? clock_() : QDateTime::currentDateTimeUtc();
}

void TAlarmList::Restore(const QList<TAlarm> &alarms)
{
    if (alarms.isEmpty())
        return;
    for (TAlarm alarm : alarms) {
        if (Find(alarm.id))
            continue;
        alarm.restored = true;
        alarms_.append(alarm);
        nextId_ = std::max(nextId_, alarm.id + 1);
    }
    std::stable_sort(alarms_.begin(), alarms_.end(),
                     [](const TAlarm &a, const TAlarm &b) { return a.time < b.time; });
    muted_ = false;
    emit Changed();
}

qint64 TAlarmList::Raise(const TTrafficEvent &event)
{
    if (!event.IsEmergency())
        return 0;
    TAlarm alarm;
    // Ids stay unique across runs: they start past the largest one stored, and a
    // time-based floor keeps a run without a readable history from reusing them.
    alarm.id = std::max(nextId_, Now().toMSecsSinceEpoch() * 1000);
    nextId_ = alarm.id + 1;
    alarm.time = event.time.isValid() ? event.time : Now();
    alarm.fleet = event.fleet;
    alarm.ident = event.ident;
    alarm.name = event.name;
    alarm.status = *event.status;
    alarm.statusText = event.statusText;
    alarms_.append(alarm);
    muted_ = false;
    if (store_)
        store_->AlarmOpened(alarm);
    emit Changed();
    return alarm.id;
}

bool TAlarmList::Acknowledge(qint64 id)
{
    for (TAlarm &alarm : alarms_) {
        if (alarm.id != id)
            continue;
        if (!alarm.IsOpen())
            return false;
        alarm.acknowledged = Now();
        if (store_)
            store_->AlarmAcknowledged(id, alarm.acknowledged);
        emit Changed();
        return true;
    }
    return false;
}

void TAlarmList::Mute()
{
    if (muted_ || OpenCount() == 0)
        return;
    muted_ = true;
    emit Changed();
}

const TAlarm *TAlarmList::Find(qint64 id) const
{
    for (const TAlarm &alarm : alarms_)
        if (alarm.id == id)
            return &alarm;
    return nullptr;
}

const TAlarm *TAlarmList::OldestOpen() const
{
    for (const TAlarm &alarm : alarms_)
        if (alarm.IsOpen())
            return &alarm;
    return nullptr;
}

int TAlarmList::OpenCount() const
{
    return int(std::count_if(alarms_.begin(), alarms_.end(), [](const TAlarm &a) { return a.IsOpen(); }));
}

int TAlarmList::RestoredOpenCount() const
{
    return int(std::count_if(alarms_.begin(), alarms_.end(),
                             [](const TAlarm &a) { return a.IsOpen() && a.restored; }));
}

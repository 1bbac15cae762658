#include "AlarmList.h"

#include <algorithm>

TAlarmList::TAlarmList(QObject *parent) : QObject(parent) {}

QDateTime TAlarmList::Now() const
{
    return clock_ ? clock_() : QDateTime::currentDateTimeUtc();
}

QString TAlarmList::FoldKey(const TAlarm &alarm)
{
    if (!alarm.IsEmergency())
        return QStringLiteral("overdue/%1/%2")
            .arg(alarm.fleet ? QString::number(*alarm.fleet) : alarm.name,
                 alarm.ident ? QString::number(*alarm.ident) : alarm.name);
    return QStringLiteral("%1/%2/%3")
        .arg(alarm.fleet ? QString::number(*alarm.fleet) : alarm.name,
             alarm.ident ? QString::number(*alarm.ident) : alarm.name)
        .arg(alarm.status);
}

void TAlarmList::Reindex()
{
    index_.clear();
    openByKey_.clear();
    openCount_ = 0;
    firstOpen_ = 0;
    for (int i = 0; i < alarms_.size(); ++i) {
        const TAlarm &alarm = alarms_[i];
        index_.insert(alarm.id, i);
        if (alarm.IsOpen()) {
            ++(alarm.IsEmergency() ? openCount_ : openOverdue_);
            openByKey_.insert(FoldKey(alarm), alarm.id);
        }
    }
}

void TAlarmList::Restore(const QList<TAlarm> &alarms)
{
    if (alarms.isEmpty())
        return;
    for (TAlarm alarm : alarms) {
        if (Find(alarm.id))
            continue;
        alarm.restored = true;
        alarm.unknownStatus = alarm.statusText == UnknownStatusText(alarm.status);
        alarms_.append(alarm);
        nextId_ = std::max(nextId_, alarm.id + 1);
    }
    std::stable_sort(alarms_.begin(), alarms_.end(),
                     [](const TAlarm &a, const TAlarm &b) { return a.time < b.time; });
    Reindex();
    muted_ = false;
    emit Changed();
}

qint64 TAlarmList::Raise(const TTrafficEvent &event)
{
    // A mistyped directory must not hide an emergency: an unknown number of 95
    // or more is an alarm too.
    const bool unknown = event.kind == TrafficKind::Status && event.direction == TrafficDirection::In &&
                         !event.statusKnown && event.status && IsEmergencyStatus(*event.status);
    if (!event.IsEmergency() && !unknown)
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
    alarm.statusText = unknown ? UnknownStatusText(alarm.status) : event.statusText;
    alarm.unknownStatus = unknown;
    alarm.last = alarm.time;
    const QString key = FoldKey(alarm);
    if (const qint64 open = openByKey_.value(key)) {
        // A repeat while its alarm is open: one alarm, one acknowledgement.
        const int at = index_.value(open);
        TAlarm &folded = alarms_[at];
        ++folded.count;
        folded.last = alarm.time;
        emit Updated(at);
        emit Changed();
        return open;
    }
    alarms_.append(alarm);
    index_.insert(alarm.id, int(alarms_.size()) - 1);
    openByKey_.insert(key, alarm.id);
    ++openCount_;
    muted_ = false;
    if (store_)
        store_->AlarmOpened(alarm);
    emit Added(int(alarms_.size()) - 1);
    emit Changed();
    return alarm.id;
}

qint64 TAlarmList::RaiseOverdue(std::optional<int> fleet, std::optional<int> ident, const QString &name,
                                const QString &text, const QDateTime &time)
{
    TAlarm alarm;
    alarm.kind = TAlarmKind::Overdue;
    alarm.fleet = fleet;
    alarm.ident = ident;
    alarm.name = name;
    alarm.statusText = text;
    alarm.time = time.isValid() ? time : Now();
    alarm.last = alarm.time;
    const QString key = FoldKey(alarm);
    if (const qint64 open = openByKey_.value(key))
        return open;
    alarm.id = std::max(nextId_, Now().toMSecsSinceEpoch() * 1000);
    nextId_ = alarm.id + 1;
    alarms_.append(alarm);
    index_.insert(alarm.id, int(alarms_.size()) - 1);
    openByKey_.insert(key, alarm.id);
    ++openOverdue_;
    if (overdueSounds_)
        muted_ = false;
    emit Added(int(alarms_.size()) - 1);
    emit Changed();
    return alarm.id;
}

qint64 TAlarmList::ClearOverdue(std::optional<int> fleet, std::optional<int> ident, const QString &why)
{
    TAlarm probe;
    probe.kind = TAlarmKind::Overdue;
    probe.fleet = fleet;
    probe.ident = ident;
    const qint64 id = openByKey_.value(FoldKey(probe));
    if (!id)
        return 0;
    Close(IndexOf(id), why);
    return id;
}

bool TAlarmList::Acknowledge(qint64 id, const QString &how)
{
    const int at = IndexOf(id);
    if (at < 0 || !alarms_[at].IsOpen())
        return false;
    Close(at, how);
    return true;
}

void TAlarmList::Close(int at, const QString &how)
{
    TAlarm &alarm = alarms_[at];
    alarm.acknowledged = Now();
    alarm.acknowledgedBy = how;
    openByKey_.remove(FoldKey(alarm));
    if (alarm.IsEmergency()) {
        --openCount_;
        if (store_)
            store_->AlarmAcknowledged(alarm.id, alarm.acknowledged);
    } else {
        --openOverdue_;
    }
    emit Updated(at);
    emit Changed();
}

void TAlarmList::Mute()
{
    if (muted_ || OpenCount() + OpenOverdueCount() == 0)
        return;
    muted_ = true;
    emit MutedNow();
    emit Changed();
}

const TAlarm *TAlarmList::Find(qint64 id) const
{
    const int at = IndexOf(id);
    return at < 0 ? nullptr : &alarms_[at];
}

const TAlarm *TAlarmList::OldestOpenKnown() const
{
    const TAlarm *oldest = OldestOpen();
    if (!oldest || !oldest->unknownStatus)
        return oldest;
    for (int i = IndexOf(oldest->id) + 1; i < alarms_.size(); ++i)
        if (alarms_[i].IsOpen() && alarms_[i].OnPopup())
            return &alarms_[i];
    return nullptr;
}

const TAlarm *TAlarmList::OldestOpen() const
{
    if (openCount_ == 0)
        return nullptr;
    // Alarms are acknowledged, never reopened: the front only moves on.
    while (firstOpen_ < alarms_.size() &&
           !(alarms_[firstOpen_].IsOpen() && alarms_[firstOpen_].IsEmergency()))
        ++firstOpen_;
    return firstOpen_ < alarms_.size() ? &alarms_[firstOpen_] : nullptr;
}

int TAlarmList::RestoredOpenCount() const
{
    return int(std::count_if(alarms_.begin(), alarms_.end(),
                             [](const TAlarm &a) { return a.IsOpen() && a.restored; }));
}

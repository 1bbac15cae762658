#pragma once

#include "Alarm.h"
#include "TrafficEvent.h"

#include <QList>
#include <QObject>
#include <functional>

// The emergencies of this run and the ones left open by an earlier one: each is
// open until acknowledged; the oldest open one is the one to show. Sound is
// wanted while any is open, unless the operator muted the ones open at the time.
class TAlarmList final : public QObject {
    Q_OBJECT
public:
    explicit TAlarmList(QObject *parent = nullptr);

    // Where alarms are stored; may be null (no history).
    void SetStore(IAlarmStore *store) { store_ = store; }
    void SetClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }

    // Alarms still open from an earlier run, oldest first; they keep their ids.
    void Restore(const QList<TAlarm> &alarms);
    // Opens an alarm for an emergency event; returns its id. Events that are not
    // emergencies are ignored (0).
    qint64 Raise(const TTrafficEvent &event);
    // Acknowledges an open alarm; false when it is not open.
    bool Acknowledge(qint64 id);
    // Silences the alarms open now; the next emergency sounds again.
    void Mute();

    const QList<TAlarm> &Alarms() const { return alarms_; } // in order of arrival
    const TAlarm *Find(qint64 id) const;
    const TAlarm *OldestOpen() const;
    int OpenCount() const;
    int RestoredOpenCount() const;
    bool Muted() const { return muted_; }
    bool SoundWanted() const { return OpenCount() > 0 && !muted_; }

signals:
    // Any change: an alarm raised or acknowledged, or the mute.
    void Changed();

private:
    QDateTime Now() const;

    QList<TAlarm> alarms_;
    IAlarmStore *store_ = nullptr;
    std::function<QDateTime()> clock_;
    qint64 nextId_ = 1;
    bool muted_ = false;
};

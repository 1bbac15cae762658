#pragma once

#include "Alarm.h"
#include "TrafficEvent.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <functional>
#include <optional>

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
    // Opens an alarm for an emergency event; returns its id. The same station
    // and status while its alarm is open add to that alarm (its count and last
    // time) and return its id. Events that are not emergencies are ignored (0).
    qint64 Raise(const TTrafficEvent &event);
    // Opens an overdue alarm for a station (one at a time per station: while one
    // is open this returns its id and changes nothing). text says since when.
    qint64 RaiseOverdue(std::optional<int> fleet, std::optional<int> ident, const QString &name,
                        const QString &text, const QDateTime &time);
    // Closes the station's open overdue alarm, saying why; its id, 0 when none was open.
    qint64 ClearOverdue(std::optional<int> fleet, std::optional<int> ident, const QString &why);
    // Whether an open overdue alarm asks for the sound (the operator's choice).
    void SetOverdueSounds(bool sounds) { overdueSounds_ = sounds; }
    // Acknowledges an open alarm, saying how; false when it is not open.
    bool Acknowledge(qint64 id, const QString &how = {});
    // Silences the alarms open now; the next emergency sounds again.
    void Mute();

    const QList<TAlarm> &Alarms() const { return alarms_; } // in order of arrival
    const TAlarm *Find(qint64 id) const;
    // Where an alarm is in Alarms(), -1 when it is not there.
    int IndexOf(qint64 id) const { return index_.value(id, -1); }
    // The oldest open emergency (overdue alarms never go on the popup).
    const TAlarm *OldestOpen() const;
    // The oldest open alarm of a status the directory knows: the one for the popup.
    const TAlarm *OldestOpenKnown() const;
    // Open emergencies; open overdue stations are counted apart.
    int OpenCount() const { return openCount_; }
    int OpenOverdueCount() const { return openOverdue_; }
    int RestoredOpenCount() const;
    bool Muted() const { return muted_; }
    bool SoundWanted() const { return (openCount_ > 0 || (overdueSounds_ && openOverdue_ > 0)) && !muted_; }

signals:
    // Any change: an alarm raised, folded or acknowledged, or the mute.
    void Changed();
    // The alarm at index in Alarms() was added, or changed in place (a repeat
    // folded in, an acknowledgement); each comes before its Changed.
    void Added(int index);
    void Updated(int index);
    // The operator silenced the alarms open now.
    void MutedNow();

private:
    QDateTime Now() const;
    static QString FoldKey(const TAlarm &alarm);
    void Close(int at, const QString &how);
    void Reindex();

    QList<TAlarm> alarms_;
    IAlarmStore *store_ = nullptr;
    std::function<QDateTime()> clock_;
    qint64 nextId_ = 1;
    bool muted_ = false;
    // Kept beside the list so that nothing scans it: the position of each id,
    // the open alarm of each station and status, the count of open ones, and
    // no open alarm before firstOpen_.
    QHash<qint64, int> index_;
    QHash<QString, qint64> openByKey_;
    int openCount_ = 0;
    int openOverdue_ = 0;
    bool overdueSounds_ = false;
    mutable int firstOpen_ = 0; // no open emergency before it
};

#pragma once

#include "AlarmList.h"
#include "AlarmNotifier.h"
#include "Preferences.h"
#include "TrafficEvent.h"

#include <QHash>
#include <QObject>
#include <functional>
#include <memory>

class THistoryStore;
class QTimer;

// Where the console's traffic goes besides the log: the history file and the open
// alarms. Lives on the user-interface thread; the store's writer does the disk
// work. No sound and no window here: the alarm sound is the console's (app/), fed
// by Alarms() and PreferencesChanged.
class TTrafficHub final : public QObject, public ITrafficObserver {
    Q_OBJECT
public:
    // Reads the preferences, the alarms left open, and starts the history writer
    // on historyFile. Problems are shown as message boxes afterwards, from the
    // event loop; nothing here fails.
    explicit TTrafficHub(const QString &historyFile, QObject *parent = nullptr);
    ~TTrafficHub() override;

    // Stores the event (stamped now when its time is left invalid) and raises an
    // alarm for an emergency.
    void TrafficEvent(const TTrafficEvent &event) override;

    // How an alarm was acknowledged, as the history and the Emergencies window say.
    static inline const QString ByPopup = QStringLiteral("popup");
    static inline const QString ByEmergenciesWindow = QStringLiteral("Emergencies window");
    // Acknowledges an open alarm and records it, how, and the control-room
    // position it was acknowledged at (empty: here), in the history.
    bool AcknowledgeAlarm(qint64 id, const QString &how = ByPopup, const QString &position = {});
    // A station not heard within its check-in time: an alarm of its own kind,
    // recorded; text says since when. Clearing it (heard again, rule lifted) is
    // recorded too; a station with no open overdue alarm changes nothing.
    qint64 RaiseOverdue(std::optional<int> fleet, std::optional<int> ident, const QString &name,
                        const QString &text, const QDateTime &time);
    void ClearOverdue(std::optional<int> fleet, std::optional<int> ident, const QString &why);

    TAlarmList &Alarms() { return alarms_; }
    const TPreferences &Preferences() const { return preferences_; }
    void SetPreferences(const TPreferences &preferences);
    // Sound wanted now: the preference on and an alarm open, not muted.
    bool SoundWanted() const { return preferences_.alarmSound && alarms_.SoundWanted(); }
    // False when the history file could not be used this run.
    bool HistoryWorking() const;
    // Waits for the writer (shutdown, tests).
    void FlushHistory();

    // Where escalations are announced; may be null (only the history row).
    void SetNotifier(IAlarmNotifier *notifier) { notifier_ = notifier; }
    // The time the alarms and their escalation go by (tests); UTC.
    void SetClock(std::function<QDateTime()> clock);
    // Escalates every open alarm left unacknowledged for the preference's time
    // since it opened or was last escalated, then waits for the next one. The
    // timer runs it; a test with its own clock calls it.
    void EscalateDue();
    // When the next escalation is due; invalid when none is (no open alarm, or
    // escalation off).
    QDateTime NextEscalation() const;

signals:
    void PreferencesChanged();

private:
    // A row of the alarm's audit trail: kind, the alarm's station and status, text.
    void StoreAlarmEvent(TrafficKind kind, const TAlarm &alarm, const QString &text = {},
                         const QString &position = {});

    QDateTime Now() const;
    void TrackAlarm(int index);
    void ScheduleEscalation();

    TPreferences preferences_;
    TAlarmList alarms_;
    IAlarmNotifier *notifier_ = nullptr;
    std::function<QDateTime()> clock_;
    // Each open alarm's clock: when its current wait began and how many times
    // it was escalated. A repeat folded into an alarm does not restart it: the
    // alarm has waited as long as its first emergency.
    struct TEscalation {
        QDateTime since;
        int times = 0;
    };
    QHash<qint64, TEscalation> escalations_;
    QTimer *escalationTimer_ = nullptr;
    std::unique_ptr<THistoryStore> store_;
};

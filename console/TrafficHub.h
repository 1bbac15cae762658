#pragma once

#include "AlarmList.h"
#include "Preferences.h"
#include "TrafficEvent.h"

#include <QObject>
#include <memory>

class THistoryStore;

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
    // Acknowledges an open alarm and records it, and how, in the history.
    bool AcknowledgeAlarm(qint64 id, const QString &how = ByPopup);

    TAlarmList &Alarms() { return alarms_; }
    const TPreferences &Preferences() const { return preferences_; }
    void SetPreferences(const TPreferences &preferences);
    // Sound wanted now: the preference on and an alarm open, not muted.
    bool SoundWanted() const { return preferences_.alarmSound && alarms_.SoundWanted(); }
    // False when the history file could not be used this run.
    bool HistoryWorking() const;
    // Waits for the writer (shutdown, tests).
    void FlushHistory();

signals:
    void PreferencesChanged();

private:
    // A row of the alarm's audit trail: kind, the alarm's station and status, text.
    void StoreAlarmEvent(TrafficKind kind, const TAlarm &alarm, const QString &text = {});

    TPreferences preferences_;
    TAlarmList alarms_;
    std::unique_ptr<THistoryStore> store_;
};

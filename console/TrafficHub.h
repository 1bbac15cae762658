#pragma once

#include "AlarmList.h"
#include "Preferences.h"
#include "TrafficEvent.h"

#include <QObject>
#include <memory>

class THistoryStore;
class TAlarmSound;

inline const QString HistoryFileName = QStringLiteral("history.db");

// Where the console's traffic goes besides the log: the history file and the open
// alarms. Lives on the user-interface thread; the store's writer does the disk work.
class TTrafficHub final : public QObject, public ITrafficObserver {
    Q_OBJECT
public:
    // Reads the preferences, the alarms left open, and starts the history writer
    // in the working directory. Problems are shown as message boxes afterwards,
    // from the event loop; nothing here fails.
    explicit TTrafficHub(QObject *parent = nullptr);
    ~TTrafficHub() override;

    void TrafficEvent(const TTrafficEvent &event) override;

    // Acknowledges an open alarm and records it in the history.
    bool AcknowledgeAlarm(qint64 id);

    TAlarmList &Alarms() { return alarms_; }
    const TPreferences &Preferences() const { return preferences_; }
    void SetPreferences(const TPreferences &preferences);
    // False when history.db could not be used this run.
    bool HistoryWorking() const;
    // Waits for the writer (shutdown, tests).
    void FlushHistory();

private:
    void UpdateSound();

    TPreferences preferences_;
    TAlarmList alarms_;
    std::unique_ptr<THistoryStore> store_;
    TAlarmSound *sound_ = nullptr;
};

extern TTrafficHub *TrafficHub;

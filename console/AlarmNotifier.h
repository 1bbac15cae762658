#pragma once

#include "Alarm.h"

// Where an alarm left unacknowledged too long is announced beyond the console's
// own windows (the desktop's notifications, the taskbar). Called on the
// user-interface thread; returns at once and never fails: a desktop without a
// notification service must not disturb the alarm itself.
class IAlarmNotifier {
public:
    virtual ~IAlarmNotifier() = default;
    // The alarm is still open; times counts the reminders so far, this one included.
    virtual void Escalate(const TAlarm &alarm, int times) = 0;
    // The alarm was acknowledged: what was shown for it may go.
    virtual void Acknowledged(qint64 alarmId) = 0;
};

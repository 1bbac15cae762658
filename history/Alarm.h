#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

// What an alarm is about: an emergency status from a station, or a station not
// heard within its check-in time.
enum class TAlarmKind { Emergency, Overdue };

// An emergency that stays until the operator acknowledges it; or an overdue
// station, which also clears by itself when the station is heard again.
struct TAlarm {
    qint64 id = 0;
    QDateTime time; // UTC, when the emergency arrived
    std::optional<int> fleet, ident;
    QString name;
    int status = 0;
    QString statusText;
    QDateTime acknowledged; // invalid while open
    bool restored = false;  // open from an earlier run
    // Repeats of the same station and status while it was open fold into it.
    int count = 1;
    QDateTime last;         // UTC, the latest of them (time when there is one)
    QString acknowledgedBy; // how: "popup", "Emergencies window"
    // A status of 95 or more that the directory does not know: listed and
    // sounded, but the status popup and its flash stay as for any unknown status.
    bool unknownStatus = false;
    TAlarmKind kind = TAlarmKind::Emergency;

    bool IsOpen() const { return !acknowledged.isValid(); }
    bool IsEmergency() const { return kind == TAlarmKind::Emergency; }
    // What the status popup shows and flashes for.
    bool OnPopup() const { return IsEmergency() && !unknownStatus; }
    bool operator==(const TAlarm &) const = default;
};

// The status text an alarm for an unknown emergency number carries.
inline QString UnknownStatusText(int status)
{
    return QStringLiteral("unknown status %1").arg(status);
}

// How an overdue alarm ends without the operator: the station was heard again,
// or its check-in rule was lifted.
inline const QString OverdueHeardAgain = QStringLiteral("heard again");
inline const QString OverdueRuleLifted = QStringLiteral("check-in rule lifted");

// Where emergencies are kept across runs (overdue alarms are not: the check-in
// timers raise them again at start-up).
class IAlarmStore {
public:
    virtual ~IAlarmStore() = default;
    virtual void AlarmOpened(const TAlarm &alarm) = 0;
    virtual void AlarmAcknowledged(qint64 id, const QDateTime &when) = 0;
};

// "Name (fleet-ident)"; "fleet-ident" alone when the name is that text or empty.
QString StationLabel(const QString &name, std::optional<int> fleet, std::optional<int> ident);

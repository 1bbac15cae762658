#pragma once

#include "Emergency.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// What the console logs, as values: the incoming path and SendCommand fill one
// of these beside each log entry, so that stores and alarms never read log text.
enum class TrafficDirection { Out = 0, In = 1, Local = 2 };

// Stored as numbers in the history: append new kinds, never renumber.
enum class TrafficKind {
    Call = 1,
    CallEnd = 2,
    Status = 3,
    StatusRequest = 4,
    ShortMessage = 5,
    LongMessage = 6,
    PttId = 7,
    CallDecode = 8,
    Acknowledgement = 9,
    EmergencyAcknowledged = 10,
    PortLost = 11,
    PortBack = 12,
    Warning = 13,
    AlarmSoundOff = 14,
    AlarmSoundOn = 15,
    AlarmOpened = 16,
    AlarmRepeat = 17,
    AlarmMuted = 18,
    AlarmEscalated = 19,
    // What became of a command written to the radio (the outbox's final state).
    CommandOutcome = 20,
    // A control-room position's command the radio's owner did not send (text: why).
    CommandRefused = 30,
    // The check-in timers' own: a station not heard in time, and its end.
    StationOverdue = 40,
    OverdueCleared = 41,
};

struct TTrafficEvent {
    QDateTime time; // UTC; stamped on arrival when left invalid
    TrafficDirection direction = TrafficDirection::In;
    TrafficKind kind = TrafficKind::Call;
    // The station as raw numbers; absent when the field is not a number.
    std::optional<int> fleet, ident;
    QString name;
    // The second station of a call decode.
    std::optional<int> fleet2, ident2;
    QString name2;
    std::optional<int> status;
    QString statusText;
    bool statusKnown = false; // the status table has the number
    // Message text, acknowledgement word, PTT ID "Connect"/"Disconnect", call
    // decode "start"/"end", a warning's text.
    QString text;
    QByteArray frame; // STX .. ETX as on the wire
    // The control-room position that asked for it (a command sent or refused,
    // an alarm acknowledged there); empty when it happened at this console.
    QString position;

    // A known emergency status (IsEmergencyStatus) from a station.
    bool IsEmergency() const
    {
        return kind == TrafficKind::Status && direction == TrafficDirection::In && statusKnown && status &&
               IsEmergencyStatus(*status);
    }
    bool operator==(const TTrafficEvent &) const = default;
};

// The longest message text kept with an event.
inline constexpr qsizetype TrafficTextLimit = 4000;

// Receives each event right after its log entry, on the user-interface thread.
class ITrafficObserver {
public:
    virtual ~ITrafficObserver() = default;
    virtual void TrafficEvent(const TTrafficEvent &event) = 0;
    // A command whose frame the port refused (the error then propagates).
    virtual void PortRefused(const TTrafficEvent & /*event*/, const QString & /*reason*/) {}
};

// The number a field holds, or nothing when it is not a decimal number.
std::optional<int> TrafficNumber(const QString &text);
// Lower-case words for a kind ("short message") and a direction ("in").
QString TrafficKindText(TrafficKind kind);
QString TrafficDirectionText(TrafficDirection direction);
// The kind named by TrafficKindText (case-insensitive), if any.
std::optional<TrafficKind> TrafficKindFromText(const QString &text);

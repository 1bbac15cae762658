#pragma once

#include "Alarm.h"
#include "Decoder.h"
#include "TrafficEvent.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

// The feed's messages as JSON (docs/feed.md describes each). Every payload
// carries "v", the schema version: readers ignore fields they do not know and
// refuse a larger major version.
inline constexpr int FeedSchemaVersion = 1;

// Where each message goes: corvalink/<radio>/<what>.
struct TFeedTopics {
    explicit TFeedTopics(const QString &radio);
    QByteArray traffic, alarm, state;
    QByteArray openAlarms; // retained: the emergencies open now, for a position that starts late
    QByteArray Station(int fleet, int ident) const;
    // A position's commands to the owner and the owner's replies to it.
    QByteArray Command(const QString &position) const;
    QByteArray Reply(const QString &position) const;
    QByteArray AllCommands() const; // corvalink/<radio>/command/+
    // The position a command topic names; empty when it is not one of this radio's.
    QString CommandPosition(const QByteArray &topic) const;

private:
    QByteArray root_;
};

// What every message of one run of the owner shares.
struct TFeedOrigin {
    QString radio;
    QString boot; // new for every start of the owner; seq counts from 1 within it
};

// The last thing heard from one station, kept retained for late readers.
struct TStationState {
    int fleet = 0, ident = 0;
    QString name;
    QDateTime lastHeard;
    std::optional<int> status;
    QString statusText;
    QDateTime statusTime;
    bool emergency = false;
};

// Repeated: the same station sent the same emergency again while its alarm was
// open, and it was folded into that alarm (count and last time grow).
enum class TAlarmTransition { Opened, Repeated, Acknowledged };

// The state message: "online" with the port's state, or "offline" (the last will
// and the clean exit).
struct TLinkState {
    bool online = true;
    bool portOpen = true;
    QString device; // "COM1"; empty when not known
    QDateTime since;
};

// entry and effects: what the owner's log and popups got for it (a position
// shows the same).
QByteArray TrafficPayload(const TFeedOrigin &origin, quint64 seq, const TTrafficEvent &event,
                          const QString &entry = {}, const QList<TWindowEffect> &effects = {});
QByteArray AlarmPayload(const TFeedOrigin &origin, quint64 seq, TAlarmTransition transition,
                        const TAlarm &alarm);
QByteArray StationPayload(const TFeedOrigin &origin, const TStationState &station);
QByteArray OpenAlarmsPayload(const TFeedOrigin &origin, const QList<TAlarm> &open);
QByteArray StatePayload(const TFeedOrigin &origin, const TLinkState &state);

// ISO 8601 in UTC with milliseconds: "2026-12-10T01:02:03.456Z".
QString FeedTime(const QDateTime &time);

// The feed's messages read back, as a position takes them. Null when the
// payload is not such a message of a schema this console reads.
struct TFeedTraffic {
    QString boot;
    quint64 seq = 0;
    TTrafficEvent event;
    QString entry;
    QList<TWindowEffect> effects;
};
std::optional<TFeedTraffic> ReadTraffic(const QByteArray &payload);
std::optional<TFeedTraffic> ReadTraffic(const QJsonObject &object);

struct TFeedAlarm {
    QString boot;
    quint64 seq = 0;
    TAlarmTransition transition = TAlarmTransition::Opened;
    TAlarm alarm;
};
std::optional<TFeedAlarm> ReadAlarm(const QByteArray &payload);
// The open-alarms snapshot (topics.openAlarms).
std::optional<QList<TAlarm>> ReadOpenAlarms(const QByteArray &payload);
std::optional<QList<TAlarm>> ReadOpenAlarms(const QJsonObject &object);

std::optional<TLinkState> ReadState(const QByteArray &payload);

// Feed times read back; invalid when the text is not one.
QDateTime ReadFeedTime(const QString &text);

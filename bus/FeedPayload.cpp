#include "FeedPayload.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject Head(const TFeedOrigin &origin)
{
    return {{QStringLiteral("v"), FeedSchemaVersion},
            {QStringLiteral("radio"), origin.radio},
            {QStringLiteral("boot"), origin.boot}};
}

void PutNumber(QJsonObject &object, const QString &key, std::optional<int> value)
{
    if (value)
        object.insert(key, *value);
}

void PutText(QJsonObject &object, const QString &key, const QString &value)
{
    if (!value.isEmpty())
        object.insert(key, value);
}

QByteArray Compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

TFeedTopics::TFeedTopics(const QString &radio) : root_("corvalink/" + radio.toUtf8() + '/')
{
    traffic = root_ + "traffic";
    alarm = root_ + "alarm";
    state = root_ + "state";
}

QByteArray TFeedTopics::Station(int fleet, int ident) const
{
    return root_ + "station/" + QByteArray::number(fleet) + '-' + QByteArray::number(ident);
}

QString FeedTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QByteArray TrafficPayload(const TFeedOrigin &origin, quint64 seq, const TTrafficEvent &event)
{
    QJsonObject o = Head(origin);
    o.insert(QStringLiteral("seq"), qint64(seq));
    o.insert(QStringLiteral("time"), FeedTime(event.time));
    o.insert(QStringLiteral("direction"), TrafficDirectionText(event.direction));
    o.insert(QStringLiteral("kind"), TrafficKindText(event.kind));
    PutNumber(o, QStringLiteral("fleet"), event.fleet);
    PutNumber(o, QStringLiteral("ident"), event.ident);
    PutText(o, QStringLiteral("name"), event.name);
    PutNumber(o, QStringLiteral("fleet2"), event.fleet2);
    PutNumber(o, QStringLiteral("ident2"), event.ident2);
    PutText(o, QStringLiteral("name2"), event.name2);
    if (event.status) {
        o.insert(QStringLiteral("status"), *event.status);
        o.insert(QStringLiteral("statusKnown"), event.statusKnown);
        PutText(o, QStringLiteral("statusText"), event.statusText);
    }
    PutText(o, QStringLiteral("text"), event.text);
    if (event.IsEmergency())
        o.insert(QStringLiteral("emergency"), true);
    // Byte for byte: each byte of the frame is one character U+0000..U+00FF.
    if (!event.frame.isEmpty())
        o.insert(QStringLiteral("frame"), QString::fromLatin1(event.frame));
    return Compact(o);
}

QByteArray AlarmPayload(const TFeedOrigin &origin, quint64 seq, TAlarmTransition transition,
                        const TAlarm &alarm)
{
    QJsonObject o = Head(origin);
    o.insert(QStringLiteral("seq"), qint64(seq));
    o.insert(QStringLiteral("transition"), transition == TAlarmTransition::Opened ? QStringLiteral("opened")
                                           : transition == TAlarmTransition::Repeated
                                               ? QStringLiteral("repeated")
                                               : QStringLiteral("acknowledged"));
    o.insert(QStringLiteral("id"), alarm.id);
    o.insert(QStringLiteral("kind"),
             alarm.IsEmergency() ? QStringLiteral("emergency") : QStringLiteral("overdue"));
    o.insert(QStringLiteral("time"), FeedTime(alarm.time));
    if (alarm.acknowledged.isValid())
        o.insert(QStringLiteral("acknowledged"), FeedTime(alarm.acknowledged));
    PutNumber(o, QStringLiteral("fleet"), alarm.fleet);
    PutNumber(o, QStringLiteral("ident"), alarm.ident);
    PutText(o, QStringLiteral("name"), alarm.name);
    o.insert(QStringLiteral("status"), alarm.status);
    PutText(o, QStringLiteral("statusText"), alarm.statusText);
    o.insert(QStringLiteral("count"), alarm.count);
    if (alarm.last.isValid())
        o.insert(QStringLiteral("last"), FeedTime(alarm.last));
    if (alarm.restored)
        o.insert(QStringLiteral("restored"), true);
    return Compact(o);
}

QByteArray StationPayload(const TFeedOrigin &origin, const TStationState &station)
{
    QJsonObject o = Head(origin);
    o.insert(QStringLiteral("fleet"), station.fleet);
    o.insert(QStringLiteral("ident"), station.ident);
    PutText(o, QStringLiteral("name"), station.name);
    o.insert(QStringLiteral("lastHeard"), FeedTime(station.lastHeard));
    if (station.status) {
        o.insert(QStringLiteral("status"), *station.status);
        PutText(o, QStringLiteral("statusText"), station.statusText);
        o.insert(QStringLiteral("statusTime"), FeedTime(station.statusTime));
        o.insert(QStringLiteral("emergency"), station.emergency);
    }
    return Compact(o);
}

QByteArray StatePayload(const TFeedOrigin &origin, const TLinkState &state)
{
    QJsonObject o = Head(origin);
    o.insert(QStringLiteral("state"), state.online ? QStringLiteral("online") : QStringLiteral("offline"));
    if (state.online) {
        o.insert(QStringLiteral("port"), state.portOpen ? QStringLiteral("open") : QStringLiteral("lost"));
        PutText(o, QStringLiteral("device"), state.device);
        if (state.since.isValid())
            o.insert(QStringLiteral("since"), FeedTime(state.since));
    }
    return Compact(o);
}

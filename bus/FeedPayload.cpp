#include "FeedPayload.h"

#include <QJsonArray>
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
    openAlarms = root_ + "alarms/open";
    state = root_ + "state";
}

QByteArray TFeedTopics::Station(int fleet, int ident) const
{
    return root_ + "station/" + QByteArray::number(fleet) + '-' + QByteArray::number(ident);
}

QByteArray TFeedTopics::Command(const QString &position) const
{
    return root_ + "command/" + position.toUtf8();
}

QByteArray TFeedTopics::Reply(const QString &position) const
{
    return root_ + "reply/" + position.toUtf8();
}

QByteArray TFeedTopics::AllCommands() const
{
    return root_ + "command/+";
}

QString TFeedTopics::CommandPosition(const QByteArray &topic) const
{
    const QByteArray prefix = root_ + "command/";
    if (!topic.startsWith(prefix) || topic.size() == prefix.size() || topic.indexOf('/', prefix.size()) >= 0)
        return {};
    return QString::fromUtf8(topic.mid(prefix.size()));
}

QString FeedTime(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

namespace {

QJsonObject EffectJson(const TWindowEffect &effect)
{
    if (const auto *e = std::get_if<TPopupRequest>(&effect))
        return {{"effect", "popup"},   {"popup", int(e->kind)}, {"fleet", e->fleet},
                {"ident", e->ident},   {"name", e->name},       {"fleet2", e->fleet2},
                {"ident2", e->ident2}, {"name2", e->name2},     {"text", e->text}};
    if (const auto *e = std::get_if<TSetPttIdCaption>(&effect))
        return {{"effect", "pttCaption"}, {"caption", e->caption}};
    if (const auto *e = std::get_if<TSetCallDecodeFrom>(&effect))
        return {{"effect", "callDecodeFrom"}, {"name", e->name}, {"fleet", e->fleet}, {"ident", e->ident}};
    const auto &e = std::get<TAppendMessageText>(effect);
    return {{"effect", "messageText"}, {"text", e.text}};
}

std::optional<TWindowEffect> EffectFromJson(const QJsonObject &o)
{
    const QString effect = o.value("effect").toString();
    const auto text = [&o](const char *key) { return o.value(QLatin1String(key)).toString(); };
    if (effect == QLatin1String("popup")) {
        const int kind = o.value("popup").toInt();
        if (kind != int(PopupKind::Voice) && kind != int(PopupKind::Message) &&
            kind != int(PopupKind::PttId) && kind != int(PopupKind::CallDecode) &&
            kind != int(PopupKind::Status))
            return std::nullopt;
        return TPopupRequest{PopupKind(kind), text("fleet"),  text("ident"), text("name"),
                             text("fleet2"),  text("ident2"), text("name2"), text("text")};
    }
    if (effect == QLatin1String("pttCaption"))
        return TSetPttIdCaption{text("caption")};
    if (effect == QLatin1String("callDecodeFrom"))
        return TSetCallDecodeFrom{text("name"), text("fleet"), text("ident")};
    if (effect == QLatin1String("messageText"))
        return TAppendMessageText{text("text")};
    return std::nullopt;
}

std::optional<int> OptionalNumber(const QJsonObject &o, const char *key)
{
    const QJsonValue value = o.value(QLatin1String(key));
    if (!value.isDouble())
        return std::nullopt;
    return value.toInt();
}

// The object of a payload of a schema this console reads, with its seq.
std::optional<QJsonObject> Readable(const QByteArray &payload)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject o = document.object();
    if (o.value("v").toInt() < 1 || o.value("v").toInt() > FeedSchemaVersion)
        return std::nullopt;
    return o;
}

} // namespace

QDateTime ReadFeedTime(const QString &text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

std::optional<TFeedTraffic> ReadTraffic(const QByteArray &payload)
{
    const std::optional<QJsonObject> read = Readable(payload);
    if (!read)
        return std::nullopt;
    return ReadTraffic(*read);
}

std::optional<TFeedTraffic> ReadTraffic(const QJsonObject &o)
{
    TFeedTraffic traffic;
    traffic.boot = o.value("boot").toString();
    traffic.seq = quint64(o.value("seq").toInteger());
    const std::optional<TrafficKind> kind = TrafficKindFromText(o.value("kind").toString());
    if (traffic.seq == 0 || !kind)
        return std::nullopt;
    TTrafficEvent &e = traffic.event;
    e.kind = *kind;
    const QString direction = o.value("direction").toString();
    e.direction = direction == QLatin1String("out")     ? TrafficDirection::Out
                  : direction == QLatin1String("local") ? TrafficDirection::Local
                                                        : TrafficDirection::In;
    e.time = ReadFeedTime(o.value("time").toString());
    e.fleet = OptionalNumber(o, "fleet");
    e.ident = OptionalNumber(o, "ident");
    e.name = o.value("name").toString();
    e.fleet2 = OptionalNumber(o, "fleet2");
    e.ident2 = OptionalNumber(o, "ident2");
    e.name2 = o.value("name2").toString();
    e.status = OptionalNumber(o, "status");
    e.statusKnown = o.value("statusKnown").toBool();
    e.statusText = o.value("statusText").toString();
    e.text = o.value("text").toString();
    e.frame = o.value("frame").toString().toLatin1();
    e.position = o.value("position").toString();
    traffic.entry = o.value("entry").toString();
    for (const QJsonValue &effect : o.value("effects").toArray())
        if (const std::optional<TWindowEffect> read = EffectFromJson(effect.toObject()))
            traffic.effects << *read;
    return traffic;
}

namespace {

TAlarm ReadAlarmFields(const QJsonObject &o)
{
    TAlarm a;
    a.id = o.value("id").toInteger();
    a.kind =
        o.value("kind").toString() == QLatin1String("overdue") ? TAlarmKind::Overdue : TAlarmKind::Emergency;
    a.time = ReadFeedTime(o.value("time").toString());
    a.acknowledged = ReadFeedTime(o.value("acknowledged").toString());
    a.fleet = OptionalNumber(o, "fleet");
    a.ident = OptionalNumber(o, "ident");
    a.name = o.value("name").toString();
    a.status = o.value("status").toInt();
    a.statusText = o.value("statusText").toString();
    a.count = o.value("count").toInt(1);
    a.last = ReadFeedTime(o.value("last").toString());
    a.restored = o.value("restored").toBool();
    a.acknowledgedBy = o.value("by").toString();
    return a;
}

} // namespace

std::optional<QList<TAlarm>> ReadOpenAlarms(const QByteArray &payload)
{
    const std::optional<QJsonObject> read = Readable(payload);
    if (!read)
        return std::nullopt;
    return ReadOpenAlarms(*read);
}

std::optional<QList<TAlarm>> ReadOpenAlarms(const QJsonObject &object)
{
    if (!object.value("alarms").isArray())
        return std::nullopt;
    QList<TAlarm> open;
    for (const QJsonValue &value : object.value("alarms").toArray()) {
        const TAlarm alarm = ReadAlarmFields(value.toObject());
        if (alarm.id != 0)
            open.append(alarm);
    }
    return open;
}

std::optional<TFeedAlarm> ReadAlarm(const QByteArray &payload)
{
    const std::optional<QJsonObject> read = Readable(payload);
    if (!read)
        return std::nullopt;
    const QJsonObject &o = *read;
    TFeedAlarm alarm;
    alarm.boot = o.value("boot").toString();
    alarm.seq = quint64(o.value("seq").toInteger());
    const QString transition = o.value("transition").toString();
    if (transition == QLatin1String("opened"))
        alarm.transition = TAlarmTransition::Opened;
    else if (transition == QLatin1String("repeated"))
        alarm.transition = TAlarmTransition::Repeated;
    else if (transition == QLatin1String("acknowledged"))
        alarm.transition = TAlarmTransition::Acknowledged;
    else
        return std::nullopt;
    alarm.alarm = ReadAlarmFields(o);
    const TAlarm &a = alarm.alarm;
    if (a.id == 0)
        return std::nullopt;
    return alarm;
}

std::optional<TLinkState> ReadState(const QByteArray &payload)
{
    const std::optional<QJsonObject> read = Readable(payload);
    if (!read)
        return std::nullopt;
    TLinkState state;
    state.online = read->value("state").toString() == QLatin1String("online");
    state.portOpen = read->value("port").toString() != QLatin1String("lost");
    state.device = read->value("device").toString();
    state.since = ReadFeedTime(read->value("since").toString());
    return state;
}

QByteArray TrafficPayload(const TFeedOrigin &origin, quint64 seq, const TTrafficEvent &event,
                          const QString &entry, const QList<TWindowEffect> &effects)
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
    PutText(o, QStringLiteral("position"), event.position);
    PutText(o, QStringLiteral("entry"), entry);
    if (!effects.isEmpty()) {
        QJsonArray list;
        for (const TWindowEffect &effect : effects)
            list.append(EffectJson(effect));
        o.insert(QStringLiteral("effects"), list);
    }
    return Compact(o);
}

namespace {

// An alarm's own fields, as the alarm messages and the open-alarms snapshot carry them.
void PutAlarm(QJsonObject &o, const TAlarm &alarm)
{
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
    PutText(o, QStringLiteral("by"), alarm.acknowledgedBy);
}

} // namespace

QByteArray AlarmPayload(const TFeedOrigin &origin, quint64 seq, TAlarmTransition transition,
                        const TAlarm &alarm)
{
    QJsonObject o = Head(origin);
    o.insert(QStringLiteral("seq"), qint64(seq));
    o.insert(QStringLiteral("transition"), transition == TAlarmTransition::Opened ? QStringLiteral("opened")
                                           : transition == TAlarmTransition::Repeated
                                               ? QStringLiteral("repeated")
                                               : QStringLiteral("acknowledged"));
    PutAlarm(o, alarm);
    return Compact(o);
}

QByteArray OpenAlarmsPayload(const TFeedOrigin &origin, const QList<TAlarm> &open)
{
    QJsonObject o = Head(origin);
    QJsonArray alarms;
    for (const TAlarm &alarm : open) {
        QJsonObject a;
        PutAlarm(a, alarm);
        alarms.append(a);
    }
    o.insert(QStringLiteral("alarms"), alarms);
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

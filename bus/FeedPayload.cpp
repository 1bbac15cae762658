#include "FeedPayload.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVarLengthArray>
#include <algorithm>
#include <charconv>
#include <cstring>

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

// A JSON object written straight into bytes, exactly as QJsonDocument's compact
// form writes the same object (members in the order of their keys, the same
// escapes), without building a QJsonObject on the way: the traffic message goes
// out for every frame on the line. Keys are ASCII.
class TJsonWriter final {
public:
    void Text(const char *key, const QString &value) { Member(key), AppendText(value.utf16(), value.size()); }
    void Latin1(const char *key, const QByteArray &value)
    {
        Member(key), AppendText(reinterpret_cast<const uchar *>(value.constData()), value.size());
    }
    // A value known to need no escape.
    void Ascii(const char *key, QByteArrayView value)
    {
        Member(key), values_ += '"', values_ += value, values_ += '"';
    }
    void Number(const char *key, qint64 value)
    {
        char digits[24];
        Member(key),
            values_.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
    }
    void Bool(const char *key, bool value) { Member(key), values_ += value ? "true" : "false"; }
    void Json(const char *key, const QByteArray &value) { Member(key), values_ += value; }

    QByteArray Finish()
    {
        if (!members_.isEmpty())
            members_.last().end = values_.size();
        std::sort(members_.begin(), members_.end(),
                  [](const TMember &a, const TMember &b) { return std::strcmp(a.key, b.key) < 0; });
        QByteArray out;
        out.reserve(values_.size() + members_.size() * 16 + 2);
        out += '{';
        for (const TMember &m : std::as_const(members_)) {
            if (out.size() > 1)
                out += ',';
            out += '"', out += m.key, out += "\":";
            out += QByteArrayView(values_).sliced(m.begin, m.end - m.begin);
        }
        out += '}';
        return out;
    }

private:
    struct TMember {
        const char *key;
        qsizetype begin, end;
    };
    void Member(const char *key)
    {
        if (!members_.isEmpty())
            members_.last().end = values_.size();
        members_.append({key, values_.size(), 0});
    }
    template <typename Char> void AppendText(const Char *text, qsizetype size)
    {
        static constexpr char Hex[] = "0123456789abcdef";
        values_ += '"';
        for (qsizetype i = 0; i < size; ++i) {
            const char16_t c = text[i];
            if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
                values_ += char(c);
            } else if (c < 0x80) {
                values_ += '\\';
                switch (c) {
                case '"':
                    values_ += '"';
                    break;
                case '\\':
                    values_ += '\\';
                    break;
                case '\b':
                    values_ += 'b';
                    break;
                case '\f':
                    values_ += 'f';
                    break;
                case '\n':
                    values_ += 'n';
                    break;
                case '\r':
                    values_ += 'r';
                    break;
                case '\t':
                    values_ += 't';
                    break;
                default:
                    values_ += "u00", values_ += Hex[c >> 4], values_ += Hex[c & 15];
                }
            } else if (c < 0x800) {
                values_ += char(0xC0 | (c >> 6)), values_ += char(0x80 | (c & 0x3F));
            } else if (QChar::isHighSurrogate(c) && i + 1 < size && QChar::isLowSurrogate(text[i + 1])) {
                const char32_t u = QChar::surrogateToUcs4(c, char16_t(text[++i]));
                values_ += char(0xF0 | (u >> 18)), values_ += char(0x80 | ((u >> 12) & 0x3F));
                values_ += char(0x80 | ((u >> 6) & 0x3F)), values_ += char(0x80 | (u & 0x3F));
            } else if (QChar::isSurrogate(c)) {
                // Alone, it has no UTF-8 form: escaped, as QJsonDocument does.
                values_ += "\\u", values_ += Hex[c >> 12], values_ += Hex[(c >> 8) & 15];
                values_ += Hex[(c >> 4) & 15], values_ += Hex[c & 15];
            } else {
                values_ += char(0xE0 | (c >> 12)), values_ += char(0x80 | ((c >> 6) & 0x3F));
                values_ += char(0x80 | (c & 0x3F));
            }
        }
        values_ += '"';
    }

    QByteArray values_;
    QVarLengthArray<TMember, 24> members_;
};

void PutNumber(TJsonWriter &o, const char *key, std::optional<int> value)
{
    if (value)
        o.Number(key, *value);
}

void PutText(TJsonWriter &o, const char *key, const QString &value)
{
    if (!value.isEmpty())
        o.Text(key, value);
}

// FeedTime's text, written without the time zone's and the format's machinery
// for the years it can be (FeedTime's own for any other).
QByteArray FeedTimeAscii(const QDateTime &time)
{
    const qint64 msecs = time.isValid() ? time.toMSecsSinceEpoch() : -1;
    constexpr qint64 MsecsPerDay = 86400000;
    const QDate date = msecs >= 0 ? QDate(1970, 1, 1).addDays(msecs / MsecsPerDay) : QDate();
    if (!date.isValid() || date.year() > 9999)
        return FeedTime(time).toLatin1();
    int ms = int(msecs % MsecsPerDay);
    char text[] = "yyyy-MM-ddTHH:mm:ss.zzzZ";
    const auto put = [&text](int at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + i] = char('0' + value % 10);
    };
    put(0, date.year(), 4);
    put(5, date.month(), 2);
    put(8, date.day(), 2);
    put(11, ms / 3600000, 2);
    put(14, ms / 60000 % 60, 2);
    put(17, ms / 1000 % 60, 2);
    put(20, ms % 1000, 3);
    return QByteArray(text, sizeof text - 1);
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

QByteArray EffectJson(const TWindowEffect &effect)
{
    TJsonWriter o;
    if (const auto *e = std::get_if<TPopupRequest>(&effect)) {
        o.Ascii("effect", "popup");
        o.Number("popup", int(e->kind));
        o.Text("fleet", e->fleet);
        o.Text("ident", e->ident);
        o.Text("name", e->name);
        o.Text("fleet2", e->fleet2);
        o.Text("ident2", e->ident2);
        o.Text("name2", e->name2);
        o.Text("text", e->text);
    } else if (const auto *e = std::get_if<TSetPttIdCaption>(&effect)) {
        o.Ascii("effect", "pttCaption");
        o.Text("caption", e->caption);
    } else if (const auto *e = std::get_if<TSetCallDecodeFrom>(&effect)) {
        o.Ascii("effect", "callDecodeFrom");
        o.Text("name", e->name);
        o.Text("fleet", e->fleet);
        o.Text("ident", e->ident);
    } else {
        o.Ascii("effect", "messageText");
        o.Text("text", std::get<TAppendMessageText>(effect).text);
    }
    return o.Finish();
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
    TJsonWriter o;
    o.Number("v", FeedSchemaVersion);
    o.Text("radio", origin.radio);
    o.Text("boot", origin.boot);
    o.Number("seq", qint64(seq));
    o.Ascii("time", FeedTimeAscii(event.time));
    o.Text("direction", TrafficDirectionText(event.direction));
    o.Text("kind", TrafficKindText(event.kind));
    PutNumber(o, "fleet", event.fleet);
    PutNumber(o, "ident", event.ident);
    PutText(o, "name", event.name);
    PutNumber(o, "fleet2", event.fleet2);
    PutNumber(o, "ident2", event.ident2);
    PutText(o, "name2", event.name2);
    if (event.status) {
        o.Number("status", *event.status);
        o.Bool("statusKnown", event.statusKnown);
        PutText(o, "statusText", event.statusText);
    }
    PutText(o, "text", event.text);
    if (event.IsEmergency())
        o.Bool("emergency", true);
    // Byte for byte: each byte of the frame is one character U+0000..U+00FF.
    if (!event.frame.isEmpty())
        o.Latin1("frame", event.frame);
    PutText(o, "position", event.position);
    PutText(o, "entry", entry);
    if (!effects.isEmpty()) {
        QByteArray list = "[";
        for (const TWindowEffect &effect : effects) {
            if (list.size() > 1)
                list += ',';
            list += EffectJson(effect);
        }
        list += ']';
        o.Json("effects", list);
    }
    return o.Finish();
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

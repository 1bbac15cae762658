#include "CommandMessage.h"

#include "AnsiCodec.h"
#include "FeedPayload.h"
#include "StationId.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <array>

namespace {

struct TCommandName {
    char letter;
    const char *name;
};
constexpr std::array<TCommandName, 6> CommandNames{{{'B', "call"},
                                                    {'D', "call end"},
                                                    {'E', "status"},
                                                    {'H', "status request"},
                                                    {'F', "short message"},
                                                    {'G', "long message"}}};

constexpr std::array<const char *, 4> ReplyNames{"answered", "no answer", "refused", "done"};

struct TBad {
    QString why;
};

// A station number as typed (text) or as a JSON number; anything else is refused.
QString NumberField(const QJsonObject &o, const char *key)
{
    const QJsonValue value = o.value(QLatin1String(key));
    if (value.isString())
        return value.toString();
    if (value.isDouble() && value.toDouble() == double(value.toInteger()))
        return QString::number(value.toInteger());
    throw TBad{QStringLiteral("'%1' is %2, not a number")
                   .arg(QLatin1String(key), value.isUndefined() ? QStringLiteral("missing")
                                                                : QStringLiteral("of the wrong type"))};
}

QString TextField(const QJsonObject &o, const char *key, bool required)
{
    const QJsonValue value = o.value(QLatin1String(key));
    if (value.isUndefined() && !required)
        return {};
    if (!value.isString())
        throw TBad{QStringLiteral("'%1' is %2, not a text")
                       .arg(QLatin1String(key), value.isUndefined() ? QStringLiteral("missing")
                                                                    : QStringLiteral("of the wrong type"))};
    return value.toString();
}

TPositionCommand Read(const QByteArray &payload, QString *id)
{
    if (payload.size() > CommandPayloadLimit)
        throw TBad{QStringLiteral("the command is %1 bytes, more than %2")
                       .arg(payload.size())
                       .arg(CommandPayloadLimit)};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
    if (error.error != QJsonParseError::NoError)
        throw TBad{QStringLiteral("the command is not JSON (%1 at byte %2)")
                       .arg(error.errorString())
                       .arg(error.offset)};
    if (!document.isObject())
        throw TBad{QStringLiteral("the command is not a JSON object")};
    const QJsonObject o = document.object();
    TPositionCommand command;
    command.id = TextField(o, "id", true).left(64);
    if (id)
        *id = command.id;
    if (!o.value("v").isDouble() || o.value("v").toInt() != FeedSchemaVersion)
        throw TBad{QStringLiteral("'v' is not %1").arg(FeedSchemaVersion)};
    const QString name = TextField(o, "command", true);
    if (name == QLatin1String("acknowledge")) {
        command.what = TPositionCommand::TWhat::Acknowledge;
        const QJsonValue alarm = o.value("alarm");
        if (!alarm.isDouble() || alarm.toInteger() <= 0)
            throw TBad{QStringLiteral("'alarm' is not an alarm's number")};
        command.alarm = alarm.toInteger();
        command.how = TextField(o, "how", false).left(64);
        return command;
    }
    if (name == QLatin1String("fetch")) {
        command.what = TPositionCommand::TWhat::Fetch;
        command.boot = TextField(o, "boot", false).left(64);
        const auto number = [&o](const char *key) {
            const QJsonValue value = o.value(QLatin1String(key));
            if (!value.isDouble() || value.toDouble() < 0 || value.toDouble() != double(value.toInteger()))
                throw TBad{QStringLiteral("'%1' is not a traffic number").arg(QLatin1String(key))};
            return quint64(value.toInteger());
        };
        command.from = number("from");
        command.to = number("to");
        if (command.to < command.from)
            throw TBad{QStringLiteral("'to' is before 'from'")};
        return command;
    }
    const auto known = std::find_if(CommandNames.begin(), CommandNames.end(),
                                    [&name](const TCommandName &c) { return name == QLatin1String(c.name); });
    if (known == CommandNames.end())
        throw TBad{QStringLiteral("'%1' is no command").arg(name.left(40))};
    command.letter = known->letter;
    command.fleet = NumberField(o, "fleet");
    command.ident = NumberField(o, "ident");
    // The call windows' own checks, whose warnings the position has shown already.
    if (!IsValidFleet(command.fleet) || !IsValidIdent(command.ident))
        throw TBad{QStringLiteral("%1-%2 is no station (Fleet 0 or 100 to 349, Ident 0 or 1000 to 4999)")
                       .arg(command.fleet.left(12), command.ident.left(12))};
    if (command.letter == 'E') {
        command.texts.statusNumber = NumberField(o, "status");
        const int status = command.texts.statusNumber.toInt();
        if (status < 0 || status > 99)
            throw TBad{QStringLiteral("status %1 is not 0 to 99").arg(command.texts.statusNumber.left(12))};
        command.texts.statusText = TextField(o, "statusText", false).left(200);
    } else if (command.letter == 'F' || command.letter == 'G') {
        command.texts.message = TextField(o, "text", true);
        const int limit = command.letter == 'F' ? ShortMessageBytes : LongMessageBytes;
        const int length = MessageLength(command.texts.message);
        if (length > limit)
            throw TBad{QStringLiteral("the text is %1 bytes; the radio takes %2 in a %3")
                           .arg(length)
                           .arg(limit)
                           .arg(QLatin1String(known->name))};
    }
    return command;
}

} // namespace

QByteArray CommandPayload(const TPositionCommand &command)
{
    QJsonObject o{{"v", FeedSchemaVersion}, {"id", command.id}};
    if (command.what == TPositionCommand::TWhat::Acknowledge) {
        o.insert("command", "acknowledge");
        o.insert("alarm", command.alarm);
        if (!command.how.isEmpty())
            o.insert("how", command.how);
    } else if (command.what == TPositionCommand::TWhat::Fetch) {
        o.insert("command", "fetch");
        o.insert("boot", command.boot);
        o.insert("from", qint64(command.from));
        o.insert("to", qint64(command.to));
    } else {
        for (const TCommandName &c : CommandNames)
            if (c.letter == command.letter)
                o.insert("command", QLatin1String(c.name));
        o.insert("fleet", command.fleet);
        o.insert("ident", command.ident);
        if (command.letter == 'E') {
            o.insert("status", command.texts.statusNumber);
            o.insert("statusText", command.texts.statusText);
        } else if (command.letter == 'F' || command.letter == 'G') {
            o.insert("text", command.texts.message);
        }
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<TPositionCommand> ReadCommand(const QByteArray &payload, QString *why, QString *id)
{
    try {
        return Read(payload, id);
    } catch (const TBad &bad) {
        if (why)
            *why = bad.why;
        return std::nullopt;
    }
}

QByteArray ReplyPayload(const TCommandReply &reply)
{
    QJsonObject o{{"v", FeedSchemaVersion},
                  {"id", reply.id},
                  {"result", QLatin1String(ReplyNames.at(std::size_t(reply.result)))}};
    if (!reply.text.isEmpty())
        o.insert(reply.result == TCommandReply::TResult::Refused ? "reason" : "answer", reply.text);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::optional<TCommandReply> ReadReply(const QByteArray &payload)
{
    const QJsonObject o = QJsonDocument::fromJson(payload).object();
    const QString result = o.value("result").toString();
    for (std::size_t i = 0; i < ReplyNames.size(); ++i)
        if (result == QLatin1String(ReplyNames.at(i))) {
            TCommandReply reply;
            reply.id = o.value("id").toString();
            reply.result = TCommandReply::TResult(i);
            reply.text =
                o.value(reply.result == TCommandReply::TResult::Refused ? "reason" : "answer").toString();
            return reply;
        }
    return std::nullopt;
}

QByteArray FetchedPayload(const TFetchedReply &reply, const QList<QByteArray> &entries,
                          const QByteArray &open)
{
    QJsonObject o{{"v", FeedSchemaVersion},       {"id", reply.id},
                  {"result", "fetched"},          {"boot", reply.boot},
                  {"time", FeedTime(reply.time)}, {"current", qint64(reply.current)},
                  {"held", qint64(reply.held)},   {"from", qint64(reply.from)},
                  {"to", qint64(reply.to)},       {"last", reply.last}};
    // The messages go in as published, not parsed and written again.
    QByteArray payload = QJsonDocument(o).toJson(QJsonDocument::Compact);
    payload.chop(1);
    payload += ",\"entries\":[";
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i)
            payload += ',';
        payload += entries.at(i);
    }
    payload += ']';
    if (!open.isEmpty())
        payload += ",\"open\":" + open;
    payload += '}';
    return payload;
}

std::optional<TFetchedReply> ReadFetched(const QByteArray &payload)
{
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    const QJsonObject o = document.object();
    if (o.value("result").toString() != QLatin1String("fetched") || o.value("v").toInt() != FeedSchemaVersion)
        return std::nullopt;
    TFetchedReply reply;
    reply.id = o.value("id").toString();
    reply.boot = o.value("boot").toString();
    reply.time = ReadFeedTime(o.value("time").toString());
    const auto number = [&o](const char *key) {
        return quint64(std::max<qint64>(0, o.value(key).toInteger()));
    };
    reply.current = number("current");
    reply.held = number("held");
    reply.from = number("from");
    reply.to = number("to");
    reply.last = o.value("last").toBool(true);
    if (o.value("open").isObject())
        reply.open = ReadOpenAlarms(o.value("open").toObject());
    for (const QJsonValue &entry : o.value("entries").toArray()) {
        // Only this run's messages, in the asked range and in order.
        const std::optional<TFeedTraffic> traffic = ReadTraffic(entry.toObject());
        if (!traffic || traffic->boot != reply.boot || traffic->seq < reply.from || traffic->seq > reply.to ||
            (!reply.entries.isEmpty() && traffic->seq <= reply.entries.constLast().seq))
            return std::nullopt;
        reply.entries.append(*traffic);
    }
    return reply;
}

#pragma once

#include "FeedPayload.h"
#include "SendCommand.h"

#include <QByteArray>
#include <QString>
#include <optional>

// What a position asks of the radio's owner on corvalink/<radio>/command/<position>,
// and the owner's reply on corvalink/<radio>/reply/<position> (docs/feed.md).
struct TPositionCommand {
    enum class TWhat { Send, Acknowledge, Fetch };
    QString id; // the position's own, given back in the reply
    TWhat what = TWhat::Send;
    // Send: as the call window gives them to SendCommand.
    char letter = 'B';
    QString fleet, ident;
    TCommandTexts texts;
    // Acknowledge: the owner's alarm id, and how it was acknowledged there.
    qint64 alarm = 0;
    QString how;
    // Fetch: traffic messages `from` to `to` of the owner's run `boot`, which the
    // broker no longer held for the position. from 0: only where the feed is now.
    QString boot;
    quint64 from = 0, to = 0;
};

// The radio takes no longer texts: as the Message window counts them.
inline constexpr int ShortMessageBytes = 48;
inline constexpr int LongMessageBytes = 4000;
// Larger command payloads are refused unread.
inline constexpr int CommandPayloadLimit = 16384;

QByteArray CommandPayload(const TPositionCommand &command);
// Reads and checks one command as the owner must before acting on it: the
// JSON, its types, the station's numbers (as the call windows check them), the
// text's length for the radio. Null with *why (a sentence for the position)
// when anything is wrong; *id is the command's id when it could be read.
std::optional<TPositionCommand> ReadCommand(const QByteArray &payload, QString *why, QString *id = nullptr);

struct TCommandReply {
    enum class TResult { Answered, NoAnswer, Refused, Done };
    QString id;
    TResult result = TResult::Answered;
    QString text; // Answered: the radio's word (Success, Fail, Busy, Command NG); Refused: why
};
QByteArray ReplyPayload(const TCommandReply &reply);
std::optional<TCommandReply> ReadReply(const QByteArray &payload);

// The owner's answer to a fetch, on the same reply topic, in as many messages as
// it takes (`last` on the final one). `held`: the first of the asked numbers the
// owner still had (0: none, or `boot` is another run's); `current`: the owner's
// last traffic number now, in its run `boot`.
struct TFetchedReply {
    QString id, boot;
    QDateTime time; // the owner's clock when it answered
    quint64 current = 0, held = 0, from = 0, to = 0;
    bool last = true;
    QList<TFeedTraffic> entries;
    // On the last message: the emergencies open at the owner as it answered.
    std::optional<QList<TAlarm>> open;
};
// entries: traffic payloads exactly as published; open: the open-alarms message
// as published (corvalink/<radio>/alarms/open), on the last message only.
QByteArray FetchedPayload(const TFetchedReply &reply, const QList<QByteArray> &entries,
                          const QByteArray &open = {});
std::optional<TFetchedReply> ReadFetched(const QByteArray &payload);

#include "CommandDesk.h"

#include "ConsoleSession.h"
#include "FeedPublisher.h"
#include "TrafficHub.h"

#include <QDateTime>
#include <algorithm>
#include <exception>

TCommandDesk::TCommandDesk(TFeedPublisher &feed, TConsoleSession &session, TTrafficHub &hub, bool maySend,
                           QObject *parent)
    : QObject(parent), feed_(feed), session_(session), hub_(hub), maySend_(maySend),
      queue_([this](const QString &position, const TPositionCommand &command) {
          // The same path as the call windows': the same log entry, the same
          // history row, with the position named.
          try {
              session_.Send(command.letter, command.fleet, command.ident, command.texts, position);
          } catch (const std::exception &error) {
              return QString::fromUtf8(error.what());
          }
          return QString();
      })
{
    connect(&session, &TConsoleSession::Traffic, &queue_, &TCommandQueue::TrafficEvent);
    connect(&queue_, &TCommandQueue::Finished, this,
            [this](const QString &position, const TPositionCommand &, const TCommandReply &reply) {
                Reply(position, reply);
            });
    connect(&feed_.Client(), &TMqttClient::MessageReceived, this, &TCommandDesk::Message);
    feed_.Client().Subscribe(feed_.Topics().AllCommands());
}

void TCommandDesk::Message(const QByteArray &topic, const QByteArray &payload, bool retained)
{
    const QString position = feed_.Topics().CommandPosition(topic);
    if (position.isEmpty() || !IsPositionName(position))
        return; // not a command topic; nobody to reply to
    // Counted before anything is read: a flood of garbage is a flood too. One
    // reply and one history row per flood, not one per message of it.
    if (Flooding(position)) {
        if (!flooded_.contains(position)) {
            flooded_.insert(position);
            Refuse(position, {},
                   QStringLiteral("more than %1 commands in %2 s: refused until it is calmer")
                       .arg(FloodLimit)
                       .arg(FloodWindow / 1000));
        }
        return;
    }
    flooded_.remove(position);
    QString why, id;
    const std::optional<TPositionCommand> command = ReadCommand(payload, &why, &id);
    if (!command)
        return Refuse(position, id, why);
    // A retained command would be sent again at every start of the owner.
    if (retained)
        return Refuse(position, id, QStringLiteral("a retained command is never sent"));
    if (command->what == TPositionCommand::TWhat::Acknowledge)
        return Acknowledge(position, *command);
    // Acknowledgements and fetches send nothing to the radio.
    if (command->what == TPositionCommand::TWhat::Fetch)
        return Fetch(position, *command);
    if (!maySend_)
        return Refuse(position, id,
                      QStringLiteral("the radio's owner does not send for positions (Bus/PositionsMaySend)"));
    if (queue_.Pending(position) >= PendingLimit)
        return Refuse(position, id,
                      QStringLiteral("%1 commands of this position wait already").arg(PendingLimit));
    queue_.Submit(position, *command);
}

void TCommandDesk::Acknowledge(const QString &position, const TPositionCommand &command)
{
    const QString how = command.how.isEmpty() ? TTrafficHub::ByPopup : command.how;
    if (hub_.AcknowledgeAlarm(command.alarm, QStringLiteral("%1 at %2").arg(how, position), position))
        Reply(position, {command.id, TCommandReply::TResult::Done, {}});
    else if (const TAlarm *alarm = hub_.Alarms().Find(command.alarm))
        // Acknowledged elsewhere first: done all the same, nothing to refuse.
        Reply(position, {command.id, TCommandReply::TResult::Done, alarm->acknowledgedBy});
    else
        Refuse(position, command.id, QStringLiteral("there is no alarm %1").arg(command.alarm));
}

void TCommandDesk::Fetch(const QString &position, const TPositionCommand &command)
{
    const TFeedJournal &journal = feed_.Journal();
    TFetchedReply reply;
    reply.id = command.id;
    reply.boot = feed_.Origin().boot;
    reply.time = QDateTime::currentDateTimeUtc();
    reply.current = feed_.TrafficSeq();
    const QByteArray topic = feed_.Topics().Reply(position);
    if (feed_.Client().Queued() > FetchQueueLimit)
        return Refuse(position, command.id,
                      QStringLiteral("%1 messages wait for the broker; fetch again later")
                          .arg(feed_.Client().Queued()));
    const quint64 to = std::min(command.to, reply.current);
    // from 0 asks only where the feed is; another run's numbers are not held.
    if (command.from == 0 || command.boot != reply.boot || journal.First() == 0 || journal.First() > to ||
        command.from > to) {
        reply.from = command.from;
        reply.to = command.to;
        feed_.Client().Publish(topic, FetchedPayload(reply, {}, feed_.OpenAlarmsSnapshot()));
        return;
    }
    reply.held = std::max(command.from, journal.First());
    for (quint64 next = reply.held; next <= to;) {
        QList<QByteArray> entries = journal.Range(next, to, FetchChunk);
        if (entries.isEmpty())
            break;
        qsizetype bytes = 0, count = 0;
        while (count < entries.size() && (count == 0 || bytes + entries.at(count).size() <= FetchChunkBytes))
            bytes += entries.at(count++).size();
        entries.resize(count);
        reply.from = next;
        reply.to = next + count - 1;
        reply.last = reply.to >= to;
        feed_.Client().Publish(
            topic, FetchedPayload(reply, entries, reply.last ? feed_.OpenAlarmsSnapshot() : QByteArray()));
        next = reply.to + 1;
    }
}

bool TCommandDesk::Flooding(const QString &position)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::deque<qint64> &times = recent_[position];
    while (!times.empty() && now - times.front() >= FloodWindow)
        times.pop_front();
    if (int(times.size()) >= FloodLimit)
        return true;
    times.push_back(now);
    return false;
}

void TCommandDesk::Refuse(const QString &position, const QString &id, const QString &why)
{
    TTrafficEvent event;
    event.time = QDateTime::currentDateTimeUtc();
    event.direction = TrafficDirection::Local;
    event.kind = TrafficKind::CommandRefused;
    event.text = why;
    event.position = position;
    hub_.TrafficEvent(event);
    Reply(position, {id, TCommandReply::TResult::Refused, why});
    emit Refused(position, why);
}

void TCommandDesk::Reply(const QString &position, const TCommandReply &reply)
{
    feed_.Client().Publish(feed_.Topics().Reply(position), ReplyPayload(reply));
}

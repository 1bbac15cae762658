#pragma once

#include "CommandQueue.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <deque>

class TConsoleSession;
class TFeedPublisher;
class TTrafficHub;

// The radio owner's side of the positions' commands: reads every message on
// corvalink/<radio>/command/<position>, checks it (ReadCommand, the owner's
// preference, a flood), sends it through the session exactly as if typed here,
// one at a time (TCommandQueue), and replies to that position alone. Every
// refusal is a history row naming the position. Lives on the session's thread.
class TCommandDesk final : public QObject {
    Q_OBJECT
public:
    // A position may have this many commands waiting or on the radio...
    static constexpr int PendingLimit = 8;
    // ...and send this many in FloodWindow ms; more are refused.
    static constexpr int FloodLimit = 20;
    static constexpr int FloodWindow = 10000;
    // A fetch is answered in messages of at most this many traffic messages or bytes.
    static constexpr int FetchChunk = 500;
    static constexpr qsizetype FetchChunkBytes = 256 * 1024;
    // A fetch is refused while this many messages wait for the broker: the
    // fetches of one position cannot pile up megabytes here.
    static constexpr int FetchQueueLimit = 128;

    // maySend: the owner's Bus/PositionsMaySend; off, every command is refused.
    TCommandDesk(TFeedPublisher &feed, TConsoleSession &session, TTrafficHub &hub, bool maySend,
                 QObject *parent = nullptr);

    TCommandQueue &Queue() { return queue_; }

signals:
    // Each refusal, as replied (tests, the hub's standard error).
    void Refused(const QString &position, const QString &why);

private:
    void Message(const QByteArray &topic, const QByteArray &payload, bool retained);
    void Acknowledge(const QString &position, const TPositionCommand &command);
    void Fetch(const QString &position, const TPositionCommand &command);
    void Refuse(const QString &position, const QString &id, const QString &why);
    void Reply(const QString &position, const TCommandReply &reply);
    bool Flooding(const QString &position);

    TFeedPublisher &feed_;
    TConsoleSession &session_;
    TTrafficHub &hub_;
    bool maySend_ = false;
    TCommandQueue queue_;
    QHash<QString, std::deque<qint64>> recent_; // each position's command times, FloodWindow back
    QSet<QString> flooded_;                     // positions refused for a flood, told once
};

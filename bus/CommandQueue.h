#pragma once

#include "CommandMessage.h"
#include "TrafficEvent.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>

// Whether an event is the radio's answer to the command it was sent last: the
// radio acknowledges every command frame, and nothing else, with one frame.
bool IsRadioAnswer(const TTrafficEvent &event);

// The positions' commands, one at a time on the radio as it needs them: the
// next goes when the radio answered the one before (IsRadioAnswer) or after
// AnswerTimeout. Submit a command with its origin; Finished tells its outcome.
// The owner's operator (and the outbox's retries) write commands of their own
// meanwhile: every command written is noted in order, and the radio's answers,
// which come in that order, are matched against them, so that an answer to
// another command is never taken for a position's; and a position's command
// waits until those are answered (or their time is up).
class TCommandQueue final : public QObject {
    Q_OBJECT
public:
    static constexpr int AnswerTimeout = 3000; // ms
    // Sends one command to the radio now; returns empty when it went out, else why not.
    using TSend = std::function<QString(const QString &origin, const TPositionCommand &command)>;

    explicit TCommandQueue(TSend send, QObject *parent = nullptr);

    void Submit(const QString &origin, const TPositionCommand &command);
    // Every traffic event of the session, in order.
    void TrafficEvent(const TTrafficEvent &event);
    // Commands of the origin waiting or on the radio.
    int Pending(const QString &origin) const;
    bool Busy() const { return outstanding_.has_value(); }

signals:
    // Answered with the radio's word, NoAnswer after the time-out, Refused when
    // it could not be sent (the port's error).
    void Finished(const QString &origin, const TPositionCommand &command, const TCommandReply &reply);

private:
    struct TEntry {
        QString origin;
        TPositionCommand command;
    };
    void Next();
    void NextLater();
    // Drops what was written longer than AnswerTimeout ago: it got no answer.
    void ForgetUnanswered(qint64 now);
    void Finish(TCommandReply::TResult result, const QString &text);

    // A command on the radio, in the order written: the queue's own (its send's
    // number) or another sender's (0), and when.
    struct TWritten {
        quint64 send = 0;
        qint64 atMs = 0;
    };
    std::deque<TWritten> written_;
    QElapsedTimer clock_;
    quint64 sends_ = 0;   // numbers the queue's own sends
    quint64 sending_ = 0; // set while the send function runs

    TSend send_;
    std::deque<TEntry> waiting_;
    std::optional<TEntry> outstanding_;
    QTimer timeout_;
    QTimer radioFree_; // another sender's command times out
};

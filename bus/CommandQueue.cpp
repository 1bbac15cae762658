#include "CommandQueue.h"

bool IsRadioAnswer(const TTrafficEvent &event)
{
    return event.direction == TrafficDirection::In && event.kind == TrafficKind::Acknowledgement;
}

TCommandQueue::TCommandQueue(TSend send, QObject *parent) : QObject(parent), send_(std::move(send))
{
    clock_.start();
    timeout_.setSingleShot(true);
    timeout_.setInterval(AnswerTimeout);
    connect(&timeout_, &QTimer::timeout, this, [this] { Finish(TCommandReply::TResult::NoAnswer, {}); });
    radioFree_.setSingleShot(true);
    connect(&radioFree_, &QTimer::timeout, this, &TCommandQueue::Next);
}

void TCommandQueue::Submit(const QString &origin, const TPositionCommand &command)
{
    waiting_.push_back({origin, command});
    if (!outstanding_)
        Next();
}

int TCommandQueue::Pending(const QString &origin) const
{
    int n = outstanding_ && outstanding_->origin == origin ? 1 : 0;
    for (const TEntry &entry : waiting_)
        n += entry.origin == origin;
    return n;
}

void TCommandQueue::TrafficEvent(const TTrafficEvent &event)
{
    const qint64 now = clock_.elapsed();
    if (event.direction == TrafficDirection::Out) {
        // Only a command written to the port makes an outgoing event.
        written_.push_back({sending_, now});
        return;
    }
    if (!IsRadioAnswer(event))
        return;
    // A command left unanswered past the time-out got none: the radio answers in
    // order, so this answer is a later one's.
    ForgetUnanswered(now);
    if (written_.empty())
        return; // an answer to no command written here
    const TWritten answered = written_.front();
    written_.pop_front();
    if (outstanding_ && answered.send != 0 && answered.send == sends_)
        Finish(TCommandReply::TResult::Answered, event.text);
    else if (!outstanding_ && !waiting_.empty() && written_.empty())
        NextLater(); // another sender's command answered: the radio is free
}

void TCommandQueue::ForgetUnanswered(qint64 now)
{
    while (!written_.empty() && now - written_.front().atMs > AnswerTimeout)
        written_.pop_front();
}

void TCommandQueue::NextLater()
{
    // From the event loop: not inside the session's event for the answer.
    QMetaObject::invokeMethod(this, &TCommandQueue::Next, Qt::QueuedConnection);
}

void TCommandQueue::Next()
{
    while (!outstanding_ && !waiting_.empty()) {
        // The radio takes one command at a time: one written by the owner's
        // operator or its outbox goes first, answered or timed out.
        const qint64 now = clock_.elapsed();
        ForgetUnanswered(now);
        if (!written_.empty()) {
            radioFree_.start(int(written_.front().atMs + AnswerTimeout - now) + 1);
            return;
        }
        outstanding_ = std::move(waiting_.front());
        waiting_.pop_front();
        timeout_.start();
        sending_ = ++sends_;
        const QString failed = send_(outstanding_->origin, outstanding_->command);
        sending_ = 0;
        if (!failed.isEmpty())
            Finish(TCommandReply::TResult::Refused, failed);
    }
}

void TCommandQueue::Finish(TCommandReply::TResult result, const QString &text)
{
    timeout_.stop();
    if (!outstanding_)
        return;
    const TEntry done = std::move(*outstanding_);
    outstanding_.reset();
    emit Finished(done.origin, done.command, {done.command.id, result, text});
    // A receiver of Finished may submit again.
    NextLater();
}

#include "CommandQueue.h"

bool IsRadioAnswer(const TTrafficEvent &event)
{
    return event.direction == TrafficDirection::In && event.kind == TrafficKind::Acknowledgement;
}

TCommandQueue::TCommandQueue(TSend send, QObject *parent) : QObject(parent), send_(std::move(send))
{
    timeout_.setSingleShot(true);
    timeout_.setInterval(AnswerTimeout);
    connect(&timeout_, &QTimer::timeout, this, [this] { Finish(TCommandReply::TResult::NoAnswer, {}); });
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
    if (outstanding_ && IsRadioAnswer(event))
        Finish(TCommandReply::TResult::Answered, event.text);
}

void TCommandQueue::Next()
{
    while (!outstanding_ && !waiting_.empty()) {
        outstanding_ = std::move(waiting_.front());
        waiting_.pop_front();
        timeout_.start();
        const QString failed = send_(outstanding_->origin, outstanding_->command);
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
    // From the event loop: a receiver of Finished may submit again.
    QMetaObject::invokeMethod(this, &TCommandQueue::Next, Qt::QueuedConnection);
}

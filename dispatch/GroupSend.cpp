#include "GroupSend.h"

#include <QSet>
#include <exception>

TGroupSend::TGroupSend(TOutbox &outbox, const QList<TOutgoingCommand> &commands, const QString &origin,
                       QObject *parent)
    : QObject(parent), outbox_(outbox), origin_(origin)
{
    QSet<QString> seen;
    for (const TOutgoingCommand &command : commands) {
        const QString station = QString::number(command.fleet.toInt()) + QLatin1Char('-') +
                                QString::number(command.ident.toInt());
        if (seen.contains(station))
            continue;
        seen.insert(station);
        results_.append({command, 0, QStringLiteral("waiting"), false});
    }
    connect(&outbox_, &TOutbox::Changed, this, &TGroupSend::CommandChanged);
}

void TGroupSend::Start()
{
    SendNext();
}

void TGroupSend::Cancel()
{
    if (done_)
        return;
    cancelled_ = true;
    for (int i = next_; i < results_.size(); ++i)
        Ended(i, QStringLiteral("not sent: cancelled"));
    next_ = int(results_.size());
    // The one on the wire is answered still, but not written again.
    if (inFlight_ >= 0)
        outbox_.Cancel(results_[inFlight_].id);
    else if (!done_) {
        done_ = true;
        emit Finished();
    }
}

void TGroupSend::SendNext()
{
    inFlight_ = -1;
    while (next_ < results_.size() && !cancelled_) {
        const int index = next_++;
        TResult &result = results_[index];
        qint64 id = 0;
        try {
            id = outbox_.Submit(result.command, origin_);
        } catch (const std::exception &error) {
            Ended(index, QStringLiteral("not sent: %1").arg(QString::fromUtf8(error.what())));
            continue;
        }
        if (id == 0) {
            Ended(index, QStringLiteral("not sent: not a valid station"));
            continue;
        }
        result.id = id;
        byId_.insert(id, index);
        const TSentCommand *command = outbox_.Find(id);
        if (command && IsFinalState(command->state)) {
            Ended(index, DescribeState(*command));
            continue;
        }
        result.state = command ? DescribeState(*command) : QString();
        emit ResultChanged(index);
        inFlight_ = index;
        return;
    }
    if (!done_) {
        done_ = true;
        emit Finished();
    }
}

void TGroupSend::CommandChanged(int row)
{
    if (row < 0 || row >= int(outbox_.Commands().size()))
        return;
    const TSentCommand &command = outbox_.Commands()[row];
    const auto it = byId_.constFind(command.id);
    if (it == byId_.cend() || results_[*it].ended)
        return;
    const int index = *it;
    if (!IsFinalState(command.state)) {
        results_[index].state = DescribeState(command);
        emit ResultChanged(index);
        return;
    }
    Ended(index, DescribeState(command));
    if (index == inFlight_) {
        inFlight_ = -1;
        // From the event loop: the outbox is still telling others of this change.
        QMetaObject::invokeMethod(this, &TGroupSend::SendNext, Qt::QueuedConnection);
    }
}

void TGroupSend::Ended(int index, const QString &state)
{
    results_[index].state = state;
    results_[index].ended = true;
    emit ResultChanged(index);
}

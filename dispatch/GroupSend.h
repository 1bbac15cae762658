#pragma once

#include "Outbox.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

// One command to each station of a group, through the outbox, one at a time:
// the radio takes one command at a time, so the next goes when the previous one
// has ended (answered, retried out, timed out or refused). A station listed
// twice is sent once; Cancel stops the rest.
class TGroupSend final : public QObject {
    Q_OBJECT
public:
    struct TResult {
        TOutgoingCommand command;
        qint64 id = 0; // the outbox's command, 0 until written
        QString state; // as the outbox describes it, or why it was not sent
        bool ended = false;
    };

    // commands: one per station (fleet and ident set), in the order to send.
    TGroupSend(TOutbox &outbox, const QList<TOutgoingCommand> &commands, const QString &origin = {},
               QObject *parent = nullptr);

    void Start();
    void Cancel();
    bool Done() const { return done_; }
    const QList<TResult> &Results() const { return results_; }

signals:
    void ResultChanged(int index);
    void Finished();

private:
    void SendNext();
    void CommandChanged(int row);
    void Ended(int index, const QString &state);

    TOutbox &outbox_;
    QString origin_;
    QList<TResult> results_;
    QHash<qint64, int> byId_;
    int next_ = 0;
    int inFlight_ = -1;
    bool cancelled_ = false;
    bool done_ = false;
};

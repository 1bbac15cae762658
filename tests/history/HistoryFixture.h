#pragma once

#include "HistoryStore.h"
#include "TrafficEvent.h"

#include <QDateTime>
#include <QStringList>
#include <QTest>
#include <mutex>

// Collects the store's failure reports (they arrive on the writer thread).
class TFailures {
public:
    THistoryStore::TFailure Sink()
    {
        return [this](const QString &message) {
            std::lock_guard guard(lock_);
            messages_ << message;
        };
    }
    QStringList Messages()
    {
        std::lock_guard guard(lock_);
        return messages_;
    }

private:
    std::mutex lock_;
    QStringList messages_;
};

inline TTrafficEvent MakeEvent(TrafficKind kind, int fleet, int ident, const QString &name,
                               const QDateTime &time = {}, const QString &text = {})
{
    TTrafficEvent e;
    e.time = time;
    e.kind = kind;
    e.direction = TrafficDirection::In;
    e.fleet = fleet;
    e.ident = ident;
    e.name = name;
    e.text = text;
    e.frame = QByteArray("\x02X\x03");
    return e;
}

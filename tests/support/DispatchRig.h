#pragma once

// The command path without a port or a window: the real SendCommand over a
// recording port and an in-memory directory, the outbox told of each command the
// way the session tells it, and the radio's answers handed in as the decoder
// gives them. Header only: for the tests that link corvalink_dispatch.

#include "MemoryTable.h"
#include "Outbox.h"
#include "Recorders.h"
#include "SendCommand.h"

#include <QList>

class TDispatchRig final : public ITrafficObserver {
public:
    TRecordingPort port;
    TMemoryTable users = TMemoryTable::Users();
    TRecordingLog log;
    TCommandContext context;
    TOutbox outbox;
    QList<QByteArray> frames; // each frame that went to the port, in order

    TDispatchRig()
        : outbox([this](const TOutgoingCommand &c) {
              SendCommand(context, c.letter, c.fleet, c.ident, c.texts);
          })
    {
        context.port = &port;
        context.log = &log;
        context.users = &users;
        context.clock = [] { return QStringLiteral("12:00:00"); };
        context.traffic = this;
    }

    void TrafficEvent(const TTrafficEvent &event) override
    {
        if (event.direction != TrafficDirection::Out)
            return;
        frames << event.frame;
        outbox.CommandWritten(event);
    }
    void PortRefused(const TTrafficEvent &event, const QString &reason) override
    {
        outbox.CommandNotWritten(event, reason);
    }

    // The radio's acknowledgement: "Success", "Fail", "Busy" or "Command NG".
    void Answer(const QString &word)
    {
        TTrafficEvent event;
        event.direction = TrafficDirection::In;
        event.kind = TrafficKind::Acknowledgement;
        event.text = word;
        outbox.TrafficEvent(event);
    }
    void PortLost()
    {
        TTrafficEvent event;
        event.direction = TrafficDirection::Local;
        event.kind = TrafficKind::PortLost;
        outbox.TrafficEvent(event);
    }
    // The port refuses the next frame's first byte.
    void FailNextWrite() { port.failAtWrite = int(port.writes.size()); }
};

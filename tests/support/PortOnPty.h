#pragma once

#include "ScratchDir.h"
#include "Zcomm.h"

#include <QByteArray>
#include <atomic>

// The port as the console opens it, on a pseudo-terminal linked as COM1 in a
// scratch working directory; its comm event drains the receive queue as the
// console's intake does.
struct TPortOnPty {
    TRadioDir line;
    TRadioLine &radio = line.radio;
    TZComm port;
    std::atomic<int> drained{0}; // bytes the comm event has read

    TPortOnPty()
    {
        port.SetEventType(TEventType::CharEvent);
        port.SetEventChar(3);
        port.OnCommEvent = [this](TZComm *sender, uint32_t &) {
            const int count = sender->CountInBuff();
            QByteArray bytes(count, '\0');
            if (count > 0)
                sender->ReadData(bytes.data(), uint32_t(count));
            drained += count;
        };
        port.OpenCommport();
    }
    ~TPortOnPty() { port.CloseCommport(); }
    // Sends one frame as the console does: STX, payload, ETX.
    void Send(const QByteArray &payload)
    {
        port.WriteData("\x02", 1);
        port.WriteStringData(payload);
        port.WriteData("\x03", 1);
    }
};

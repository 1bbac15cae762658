#pragma once

#include "CommandPort.h"
#include "LineTap.h"
#include "Settings.h"

#include <functional>

// Where the console tells the line monitor what its bytes alone do not show. Each
// wraps what the console already uses and hands a note to `note` (the monitor's
// NoteLine, or nothing while there is no monitor), then goes on as before.
using TLineNoteSink = std::function<void(TLineNote note, const QString &text)>;

// The port outgoing frames go to: a write that fails is a note with the reason,
// and the failure goes on to the caller as before.
class TNotingCommandPort final : public ICommandPort {
public:
    TNotingCommandPort(ICommandPort &port, TLineNoteSink note) : port_(port), note_(std::move(note)) {}
    void WriteData(const char *data, uint32_t size) override;
    void WriteStringData(const QByteArray &data) override;

private:
    template <typename F> void Noting(F &&write);
    ICommandPort &port_;
    TLineNoteSink note_;
};

// Port selection: opening a port that was closed makes the console's intake forget
// its unfinished frame, so the monitor is told to forget its own.
class TNotingPortSelector final : public IPortSelector {
public:
    TNotingPortSelector(IPortSelector &selector, std::function<bool()> portOpen, TLineNoteSink note)
        : selector_(selector), portOpen_(std::move(portOpen)), note_(std::move(note))
    {
    }
    bool CheckCommportValid(const QString &deviceName) override
    {
        return selector_.CheckCommportValid(deviceName);
    }
    void SetCommPort(int index) override { selector_.SetCommPort(index); }
    void OpenCommport() override;
    void CloseCommport() override { selector_.CloseCommport(); }
    bool NeedsReopen() const override { return selector_.NeedsReopen(); }

private:
    IPortSelector &selector_;
    std::function<bool()> portOpen_;
    TLineNoteSink note_;
};

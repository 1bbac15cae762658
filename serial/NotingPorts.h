#pragma once

#include "CommandPort.h"
#include "Settings.h"

#include <QString>
#include <functional>

// What the console's bytes alone do not show, told on the way (the line monitor
// listens): each wraps a port the console already uses and goes on as before.

// The port outgoing frames go to: a write that fails is told with its reason, and
// the failure goes on to the caller as before.
class TNotingCommandPort final : public ICommandPort {
public:
    using TWriteFailed = std::function<void(const QString &reason)>;
    TNotingCommandPort(ICommandPort &port, TWriteFailed writeFailed)
        : port_(port), writeFailed_(std::move(writeFailed))
    {
    }
    void WriteData(const char *data, uint32_t size) override;
    void WriteStringData(const QByteArray &data) override;

private:
    template <typename F> void Noting(F &&write);
    ICommandPort &port_;
    TWriteFailed writeFailed_;
};

// Port selection: opening a port that was closed makes the console's intake forget
// its unfinished frame, and whoever splits the same bytes must forget its own.
class TNotingPortSelector final : public IPortSelector {
public:
    TNotingPortSelector(IPortSelector &selector, std::function<bool()> portOpen,
                        std::function<void()> intakeReset)
        : selector_(selector), portOpen_(std::move(portOpen)), intakeReset_(std::move(intakeReset))
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
    std::function<void()> intakeReset_;
};

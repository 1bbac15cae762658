#pragma once

#include "CommandPort.h"
#include "Settings.h"

class TFrameIntake;
class TZComm;

// The console's sending and port choice, carried out by the serial component.

// Outgoing frames go to the port as they are; failures come as its ECommError.
class TZCommCommandPort final : public ICommandPort {
public:
    explicit TZCommCommandPort(TZComm *port) : port_(port) {}
    void WriteData(const char *data, uint32_t size) override;
    void WriteStringData(const QByteArray &data) override;

private:
    TZComm *port_;
};

// Port selection drives the port; a fresh open starts with no half-read frame.
class TZCommPortSelector final : public IPortSelector {
public:
    TZCommPortSelector(TZComm *port, TFrameIntake &intake) : port_(port), intake_(intake) {}
    bool CheckCommportValid(const QString &deviceName) override;
    void SetCommPort(int index) override;
    void OpenCommport() override;
    void CloseCommport() override;
    bool NeedsReopen() const override;

private:
    TZComm *port_;
    TFrameIntake &intake_;
};

#include "NotingPorts.h"

#include <exception>

template <typename F> void TNotingCommandPort::Noting(F &&write)
{
    try {
        write();
    } catch (const std::exception &e) {
        if (writeFailed_)
            writeFailed_(QString::fromUtf8(e.what()));
        throw;
    }
}

void TNotingCommandPort::WriteData(const char *data, uint32_t size)
{
    Noting([&] { port_.WriteData(data, size); });
}

void TNotingCommandPort::WriteStringData(const QByteArray &data)
{
    Noting([&] { port_.WriteStringData(data); });
}

void TNotingPortSelector::OpenCommport()
{
    const bool wasOpen = portOpen_ && portOpen_();
    selector_.OpenCommport();
    if (!wasOpen && intakeReset_)
        intakeReset_();
}

#include "PortAdapters.h"

#include "FrameIntake.h"
#include "Zcomm.h"

void TZCommCommandPort::WriteData(const char *data, uint32_t size)
{
    port_->WriteData(data, size);
}

void TZCommCommandPort::WriteStringData(const QByteArray &data)
{
    port_->WriteStringData(data);
}

bool TZCommPortSelector::CheckCommportValid(const QString &deviceName)
{
    return port_->CheckCommportValid(deviceName);
}

void TZCommPortSelector::SetCommPort(int index)
{
    port_->SetCommPort(static_cast<TCommPort>(index));
}

void TZCommPortSelector::OpenCommport()
{
    if (!port_->GetPortStatus())
        intake_.Reset();
    port_->OpenCommport();
}

void TZCommPortSelector::CloseCommport()
{
    port_->CloseCommport();
}

bool TZCommPortSelector::NeedsReopen() const
{
    return !port_->GetPortStatus() || (port_->IsLost() && port_->DeviceBack());
}

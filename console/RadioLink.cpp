#include "RadioLink.h"

#include "ErrorReport.h"
#include "NotingPorts.h"
#include "PopupDispatch.h"
#include "PortAdapters.h"
#include "Zcomm.h"

#include <QFile>
#include <QTimer>

TRadioLink::TRadioLink(QObject *parent) : QObject(parent)
{
    // Runs only while the port is lost: about once a second, a look for the device.
    reconnectTimer_ = new QTimer(this);
    reconnectTimer_->setInterval(1000);
    connect(reconnectTimer_, &QTimer::timeout, this, &TRadioLink::ReconnectTick);

    // The radio's line: 9600 bit/s, 8 data bits, no parity, 2 stop bits, no
    // handshake; the comm event fires on ETX, the end byte of every frame.
    port_ = std::make_unique<TZComm>(this);
    port_->SetStopBits(TStopBits::_2bit);
    port_->SetEventType(TEventType::CharEvent);
    port_->SetRxThreshold(1);
    port_->SetEventChar(3);
    port_->OnCommEvent = [this](TZComm *sender, uint32_t &) { ReadWaiting(sender); };
    port_->SetErrorReport([](std::exception_ptr error) { ReportError(error); });
    connect(port_.get(), &TZComm::Lost, this, &TRadioLink::OnPortLost, Qt::QueuedConnection);

    zcommPort_ = std::make_unique<TZCommCommandPort>(port_.get());
    zcommSelector_ = std::make_unique<TZCommPortSelector>(port_.get(), intake_);
    commandPort_ = std::make_unique<TNotingCommandPort>(
        *zcommPort_, [this](const QString &reason) { emit WriteFailed(reason); });
    portSelector_ = std::make_unique<TNotingPortSelector>(
        *zcommSelector_, [this] { return port_->GetPortStatus(); }, [this] { emit IntakeReset(); });
    settings_ = std::make_unique<TSettings>(*portSelector_, [this](const QString &text) {
        portName_ = text;
        emit PortNameChanged(text);
    });
}

// port_, declared last, goes first: the reader thread is joined before the
// intake and the settings go.
TRadioLink::~TRadioLink() = default;

bool TRadioLink::LoadSettings(const QString &fileName)
{
    return settings_->LoadSettings(fileName);
}

void TRadioLink::UseWithoutRadio(const QString &fileName)
{
    withoutRadio_ = true;
    settings_->PopupFlags = PopupVoice | PopupStatus | PopupMessage | PopupPttId | PopupCallDecode;
    if (!QFile::exists(fileName))
        return;
    // Only the popups' line is read: the port the file names is the owner's business.
    try {
        settings_->PopupFlags =
            static_cast<std::uint32_t>(ParseIntegerValue(SettingValue(ReadSettingsLines(fileName), "POPUP")));
    } catch (...) {
        ReportError(std::current_exception());
    }
}

bool TRadioLink::CloseAndSave(const QString &fileName)
{
    if (withoutRadio_)
        return true;
    port_->CloseCommport();
    try {
        settings_->SaveSettings(fileName);
    } catch (...) {
        // The exit does not complete; the console goes on with its port, as before
        // the question, rather than sit with a closed port.
        ReportError(std::current_exception());
        try {
            portSelector_->OpenCommport();
        } catch (...) {
            ReportError(std::current_exception());
        }
        return false;
    }
    return true;
}

void TRadioLink::ReadWaiting(TZComm *port)
{
    // On the reader thread: the port it is given and the intake only, never
    // the link's other members.
    const int count = port->CountInBuff();
    if (count <= 0)
        return;
    QByteArray bytes(count, Qt::Uninitialized);
    port->ReadData(bytes.data(), static_cast<uint32_t>(count));
    for (const QByteArray &frame : intake_.Feed(bytes))
        QMetaObject::invokeMethod(
            this, [this, frame] { DeliverFrame(frame); }, Qt::QueuedConnection);
}

void TRadioLink::DeliverFrame(const QByteArray &frame)
{
    // Until every window exists (a port warning's box runs the event loop while
    // the console is still being built), frames wait here in order.
    if (!trafficStarted_) {
        earlyFrames_.push_back(frame);
        return;
    }
    emit FrameReceived(frame);
}

void TRadioLink::StartTraffic()
{
    // A box shown while one of these is handled runs the event loop: frames
    // arriving then join the end of the queue, so the order holds.
    while (!earlyFrames_.empty()) {
        const QByteArray frame = earlyFrames_.front();
        earlyFrames_.pop_front();
        emit FrameReceived(frame);
    }
    trafficStarted_ = true;
}

void TRadioLink::OnPortLost()
{
    if (!port_->IsLost())
        return; // closed or opened again meanwhile
    portLost_ = true;
    emit PortLost(port_->DeviceName());
    reconnectTimer_->start();
}

void TRadioLink::ReconnectTick()
{
    if (portLost_ && port_->GetPortStatus() && !port_->IsLost()) {
        OnPortBack(); // opened again through the Config window
        return;
    }
    if (!portLost_) {
        reconnectTimer_->stop();
        return;
    }
    // The same device only: a COMn entry that is gone does not make the console
    // fall back to /dev/ttySn, where another radio may be.
    if (!port_->DeviceBack())
        return;
    try {
        port_->CloseCommport(); // joins the reader: the intake is ours now
        intake_.Reset();
        emit IntakeReset();
        port_->ReopenCommport();
    } catch (...) {
        // Taken by another program in between, or gone again: the next tick
        // tries again, without a box every second.
        return;
    }
    OnPortBack();
}

void TRadioLink::OnPortBack()
{
    portLost_ = false;
    emit PortBack(port_->DeviceName());
    reconnectTimer_->stop();
}

#include "ConsoleSession.h"

#include "ConsoleFiles.h"
#include "Decoder.h"
#include "ErrorReport.h"
#include "RadioLink.h"
#include "Table.h"

namespace {

class TNoLog final : public ILog {
public:
    void InsertEntry(const QString &) override {}
};

// Without a popup host or a log the frames are still decoded.
TNullPopupHost NoPopups;
TNoLog NoLog;

} // namespace

TConsoleSession::TConsoleSession(TRadioLink &link, QObject *parent) : QObject(parent), link_(link)
{
    users_ = TTable::OpenUserTable(UserFileName, this);
    statuses_ = TTable::OpenStatusTable(StatusFileName, this);
    statuses_->SetFieldReadOnly(QStringLiteral("No."), true);

    context_.port = &link_.CommandPort();
    log_ = &NoLog;
    context_.log = &tap_;
    context_.users = users_;
    context_.traffic = this;

    connect(&link_, &TRadioLink::FrameReceived, this, &TConsoleSession::FrameReceived);
    connect(&link_, &TRadioLink::PortLost, this,
            [this](const QString &device) { ReportPort(TrafficKind::PortLost, device); });
    connect(&link_, &TRadioLink::PortBack, this,
            [this](const QString &device) { ReportPort(TrafficKind::PortBack, device); });
}

TConsoleSession::~TConsoleSession() = default;

void TConsoleSession::SetLog(ILog *log)
{
    log_ = log ? log : &NoLog;
}

void TConsoleSession::TLogTap::InsertEntry(const QString &entry)
{
    session_.shown_.entry = entry;
    session_.log_->InsertEntry(entry);
}

void TConsoleSession::Send(char letter, const QString &fleet, const QString &ident,
                           const TCommandTexts &texts, const QString &position)
{
    position_ = position;
    try {
        SendCommand(context_, letter, fleet, ident, texts);
    } catch (...) {
        position_.clear();
        shown_ = {};
        throw;
    }
    position_.clear();
    shown_ = {};
}

void TConsoleSession::ApplyRemote(const TTrafficEvent &event, const TShown &shown)
{
    TDecodeResult result;
    result.effects = shown.effects;
    if (!shown.entry.isEmpty())
        result.logEntry = shown.entry;
    GuardedCall([&] {
        ApplyDecodeResult(result, popupHost_ ? *popupHost_ : NoPopups, link_.Settings().PopupFlags, tap_);
        shown_.effects = shown.effects;
        TrafficEvent(event);
    });
    shown_ = {};
}

void TConsoleSession::Note(const QString &entry)
{
    log_->InsertEntry(entry);
}

void TConsoleSession::FrameReceived(const QByteArray &frame)
{
    // A frame that does not decode is reported and the next one goes on; the
    // error must not unwind through the event dispatch.
    GuardedCall([&] { HandleFrame(frame); });
}

void TConsoleSession::HandleFrame(const QByteArray &frame)
{
    const TDecodeResult result = DecodeReceivedFrame(frame, *users_, *statuses_);
    shown_ = {};
    ApplyDecodeResult(result, popupHost_ ? *popupHost_ : NoPopups, link_.Settings().PopupFlags, tap_);
    shown_.effects = result.effects;
    if (result.event)
        TrafficEvent(*result.event);
    shown_ = {};
}

void TConsoleSession::TrafficEvent(const TTrafficEvent &event)
{
    TTrafficEvent stamped = event;
    if (!stamped.time.isValid())
        stamped.time = QDateTime::currentDateTimeUtc();
    if (stamped.position.isEmpty())
        stamped.position = position_;
    emit Traffic(stamped);
    if (stamped.direction == TrafficDirection::Out)
        emit CommandSent(stamped);
}

void TConsoleSession::PortRefused(const TTrafficEvent &event, const QString &reason)
{
    TTrafficEvent stamped = event;
    if (!stamped.time.isValid())
        stamped.time = QDateTime::currentDateTimeUtc();
    emit CommandNotWritten(stamped, reason);
}

void TConsoleSession::ReportPort(TrafficKind kind, const QString &device)
{
    TTrafficEvent event;
    event.direction = TrafficDirection::Local;
    event.kind = kind;
    event.text = device;
    shown_ = {};
    TrafficEvent(event);
    emit PortStateChanged(kind == TrafficKind::PortBack, device);
}

#include "SendCommand.h"

#include "AnsiCodec.h"
#include "Frame.h"
#include "LogTime.h"
#include "MessageBox.h"
#include "StationId.h"

#include <stdexcept>

namespace {
constexpr qsizetype PreviewBytes = 30;
} // namespace

QString MessagePreviewLine(const QByteArray &ansiText)
{
    QByteArray preview = ansiText;
    preview.replace("\r\n", " ");
    QString line = QStringLiteral("\r\n\t\"");
    if (preview.size() > PreviewBytes) {
        // Never leave half of a double-byte character at the cut.
        preview.truncate(AnsiCodec::CharBoundary(preview, PreviewBytes));
        line += AnsiCodec::FromAnsi(preview) + QLatin1String("...\"");
    } else {
        line += AnsiCodec::FromAnsi(preview) + QLatin1Char('"');
    }
    return line;
}

void SendCommand(const TCommandContext &context, char letter, const QString &fleet, const QString &ident,
                 const TCommandTexts &texts)
{
    if (!QByteArrayView("BDEFGH").contains(letter))
        throw std::invalid_argument("SendCommand: unknown command letter");
    if (!context.port || !context.log || !context.users)
        throw std::invalid_argument("SendCommand: port, log and user table are required");

    TTrafficEvent event;
    event.fleet = TrafficNumber(fleet);
    event.ident = TrafficNumber(ident);
    const auto warn = [&](const QString &text) {
        ShowMessageBox(text, QStringLiteral("Warning"), MsgIcon::Warning, MsgButtons::Ok);
        if (context.traffic) {
            event.direction = TrafficDirection::Local;
            event.kind = TrafficKind::Warning;
            event.text = text;
            context.traffic->TrafficEvent(event);
        }
    };
    if (!IsValidFleet(fleet)) {
        warn(QStringLiteral("Use the number 0 or from 100 to 349 as the Fleet."));
        return;
    }
    if (!IsValidIdent(ident)) {
        warn(QStringLiteral("Use the number 0 or from 1000 to 4999 as the Ident."));
        return;
    }
    if (context.relay) {
        context.relay->Relay(letter, fleet, ident, texts);
        return;
    }
    event.direction = TrafficDirection::Out;

    QByteArray payload;
    payload += letter;
    payload += ZeroPad3(StrToInt(fleet)).toLatin1();
    payload += ZeroPad4(StrToInt(ident)).toLatin1();

    QString entry = (context.clock ? context.clock() : LogTimeStamp()) + QLatin1String(" TX: ");
    switch (letter) {
    case 'B':
        event.name = LookupStationName(*context.users, fleet, ident);
        entry += QLatin1String("Connect To ") + event.name;
        event.kind = TrafficKind::Call;
        break;
    case 'D':
        event.name = LookupStationName(*context.users, fleet, ident);
        entry += QLatin1String("Disconnect To ") + event.name;
        event.kind = TrafficKind::CallEnd;
        break;
    case 'H':
        event.name = LookupStationName(*context.users, fleet, ident);
        entry += QLatin1String("Status Request to ") + event.name;
        event.kind = TrafficKind::StatusRequest;
        break;
    case 'E':
        payload += AnsiCodec::ToAnsi(texts.statusNumber);
        event.name = LookupStationName(*context.users, fleet, ident);
        entry += QLatin1String("Status:") + texts.statusNumber + QLatin1String(" to ") + event.name +
                 QLatin1String("\r\n\t\"") + texts.statusText + QLatin1Char('"');
        event.kind = TrafficKind::Status;
        event.status = TrafficNumber(texts.statusNumber);
        event.statusText = texts.statusText;
        event.statusKnown = !texts.statusText.isEmpty();
        break;
    default: { // F, G
        const QByteArray text = AnsiCodec::ToAnsi(texts.message);
        payload += TrimTrailingControls(text);
        event.name = LookupStationName(*context.users, fleet, ident);
        entry += QLatin1String("Message to ") + event.name + MessagePreviewLine(text);
        event.kind = letter == 'F' ? TrafficKind::ShortMessage : TrafficKind::LongMessage;
        event.text = AnsiCodec::FromAnsi(TrimTrailingControls(text)).left(TrafficTextLimit);
        break;
    }
    }

    // The radio takes the frame as three writes: start byte, payload, end byte.
    try {
        context.port->WriteData(&STX, 1);
        context.port->WriteStringData(payload);
        context.port->WriteData(&ETX, 1);
    } catch (const std::exception &error) {
        if (context.traffic) {
            event.frame = BuildFrame(payload);
            context.traffic->PortRefused(event, QString::fromUtf8(error.what()));
        }
        throw;
    }

    context.log->InsertEntry(entry);
    if (context.traffic) {
        event.frame = BuildFrame(payload);
        context.traffic->TrafficEvent(event);
    }
}

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

    if (!IsValidFleet(fleet)) {
        ShowMessageBox(QStringLiteral("Use the number 0 or from 100 to 349 as the Fleet."),
                       QStringLiteral("Warning"), MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    if (!IsValidIdent(ident)) {
        ShowMessageBox(QStringLiteral("Use the number 0 or from 1000 to 4999 as the Ident."),
                       QStringLiteral("Warning"), MsgIcon::Warning, MsgButtons::Ok);
        return;
    }

    QByteArray payload;
    payload += letter;
    payload += ZeroPad3(StrToInt(fleet)).toLatin1();
    payload += ZeroPad4(StrToInt(ident)).toLatin1();

    QString entry = (context.clock ? context.clock() : LogTimeStamp()) + QLatin1String(" TX: ");
    switch (letter) {
    case 'B':
        entry += QLatin1String("Connect To ") + LookupStationName(*context.users, fleet, ident);
        break;
    case 'D':
        entry += QLatin1String("Disconnect To ") + LookupStationName(*context.users, fleet, ident);
        break;
    case 'H':
        entry += QLatin1String("Status Request to ") + LookupStationName(*context.users, fleet, ident);
        break;
    case 'E':
        payload += AnsiCodec::ToAnsi(texts.statusNumber);
        entry += QLatin1String("Status:") + texts.statusNumber + QLatin1String(" to ") +
                 LookupStationName(*context.users, fleet, ident) + QLatin1String("\r\n\t\"") +
                 texts.statusText + QLatin1Char('"');
        break;
    default: { // F, G
        const QByteArray text = AnsiCodec::ToAnsi(texts.message);
        payload += TrimTrailingControls(text);
        entry += QLatin1String("Message to ") + LookupStationName(*context.users, fleet, ident) +
                 MessagePreviewLine(text);
        break;
    }
    }

    // The radio takes the frame as three writes: start byte, payload, end byte.
    context.port->WriteData(&STX, 1);
    context.port->WriteStringData(payload);
    context.port->WriteData(&ETX, 1);

    context.log->InsertEntry(entry);
}

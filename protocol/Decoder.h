#pragma once

#include "CommandPort.h"
#include "TableCursor.h"
#include "TrafficEvent.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <variant>

// The event kinds handed to ShowIncomingPopup; the values are fixed.
enum class PopupKind { Voice = 1, Message = 3, PttId = 4, CallDecode = 5, Status = 69 };

// A request to fill (and perhaps show) a popup window. A Status request carries
// the status number in name2 and the status text in text; positions a kind does
// not use are empty.
struct TPopupRequest {
    PopupKind kind = PopupKind::Voice;
    QString fleet, ident, name, fleet2, ident2, name2, text;
    // name2 of a Status request, by what it holds there.
    const QString &StatusNumber() const { return name2; }
    bool operator==(const TPopupRequest &) const = default;
};

// The caption of the PTT ID popup window.
struct TSetPttIdCaption {
    QString caption;
    bool operator==(const TSetPttIdCaption &) const = default;
};

// The From fields (NameEdit, FleetEdit, IdentEdit) of the call-decode popup window.
struct TSetCallDecodeFrom {
    QString name, fleet, ident;
    bool operator==(const TSetCallDecodeFrom &) const = default;
};

// A text added as a line of the message popup's MessageMemo, unaltered: line
// breaks are CR LF as received.
struct TAppendMessageText {
    QString text;
    bool operator==(const TAppendMessageText &) const = default;
};

using TWindowEffect = std::variant<TSetPttIdCaption, TSetCallDecodeFrom, TPopupRequest, TAppendMessageText>;

// What one incoming frame does: the window effects, to be applied in order, and
// then the log entry (none for a command character that is not recognised).
// event holds the entry's fields as values, present exactly when logEntry is.
struct TDecodeResult {
    QList<TWindowEffect> effects;
    std::optional<QString> logEntry;
    std::optional<TTrafficEvent> event;
};

// Decodes one frame as the intake gives it (STX, payload, ETX); fields are read
// at fixed offsets from the STX, and a field cut short by the end of the frame
// holds only the bytes present. Names stations through the user table (which
// may gain an entry) and looks status numbers up in the status table. A field
// that does not convert throws EConvertError, and nothing is to be logged for
// the frame.
TDecodeResult DecodeReceivedFrame(const QByteArray &frame, ITableCursor &users, ITableCursor &statuses,
                                  const QString &timeStamp);
// The same, stamped with the current local time.
TDecodeResult DecodeReceivedFrame(const QByteArray &frame, ITableCursor &users, ITableCursor &statuses);

// A readable form of an effect, for tests and traces.
QString DescribeEffect(const TWindowEffect &effect);

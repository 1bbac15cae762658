#pragma once

#include "CommandPort.h"
#include "TableCursor.h"
#include "TrafficEvent.h"

#include <QByteArray>
#include <QString>
#include <functional>

// Gives the time stamp of a log entry; LogTimeStamp when left empty.
using TLogClock = std::function<QString()>;

struct TCommandTexts;

// Where a console with no radio of its own sends: the radio's owner, which
// checks the command again and sends it (its log entry comes back with its traffic).
class ICommandRelay {
public:
    virtual ~ICommandRelay() = default;
    virtual void Relay(char letter, const QString &fleet, const QString &ident,
                       const TCommandTexts &texts) = 0;
};

struct TCommandContext {
    ICommandPort *port = nullptr;
    ILog *log = nullptr;
    ITableCursor *users = nullptr; // the main window's user table
    TLogClock clock;
    ITrafficObserver *traffic = nullptr; // told of each sent command and each refused station
    ICommandRelay *relay = nullptr;      // set: the station is checked here, the rest goes there
};

// The tails of E, F and G as the calling window shows them when its button is
// pressed. message: the memo text with CR LF line breaks (ToCrLf), untrimmed.
struct TCommandTexts {
    QString statusNumber; // E: decimal "No." of the chosen status, no leading zeros
    QString statusText;   // E: the chosen status text, empty when none is chosen
    QString message;      // F, G
};

// Validates the station (a "Warning" box through ShowMessageBox for an invalid
// Fleet or Ident, then nothing is sent), names it, writes STX, payload, ETX as
// three writes and inserts the " TX: " entry into the log, then tells the traffic
// observer. Conversion, table and port errors propagate; then nothing is logged
// (a port error is told to the observer's PortRefused first). With a relay, a
// valid command goes to the relay instead of the port and the log.
// letter is one of B D E F G H.
void SendCommand(const TCommandContext &context, char letter, const QString &fleet, const QString &ident,
                 const TCommandTexts &texts = {});

// The second line of a message log entry for the 8-bit text: CR LF TAB and the
// text in quote marks, each CR LF pair turned into one blank, and a text longer
// than 30 bytes cut to 30 bytes and closed by "...". Shared by both directions.
QString MessagePreviewLine(const QByteArray &ansiText);

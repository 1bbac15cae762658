#pragma once

#include "AckPolicy.h"
#include "WireText.h"

#include <QByteArray>
#include <QString>
#include <stdexcept>

// A line of the command language that cannot be run. what() names the problem.
class SimCommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The longest text the radio sends in one short message, and in one long message, in bytes.
inline constexpr int kShortMessageMax = 48;
inline constexpr int kLongMessageMax = 4000;

enum class MessageForm { Auto, Short, Long };

// Frames the radio sends. Fleet is 0 or 100..349, Ident 0 or 1000..4999, status 0..99;
// the builders do not check, the parser does.
QByteArray CallFrame(int fleet, int ident);
QByteArray CallEndFrame(int fleet, int ident);
QByteArray StatusFrame(int fleet, int ident, int status);
// Auto picks F up to kShortMessageMax bytes of text and G above.
QByteArray MessageFrame(int fleet, int ident, const QByteArray &text, MessageForm form = MessageForm::Auto);
QByteArray PttFrame(int fleet, int ident, bool connect);
QByteArray CallDecodeFrame(bool start, int fleet1, int ident1, int fleet2, int ident2);

// One parsed line.
struct SimCommand {
    enum class Kind {
        Nothing, // empty line or comment
        Send,    // frame: bytes to write to the console
        Sleep,   // seconds: pause before the next line
        Wait,    // seconds (0 = no limit): pause until a console has the port open
        Ack,     // ack: change or show the acknowledgement policy
        Demo,    // on: start or stop the demonstration scenario
        Help,
        Quit,
    };
    Kind kind = Kind::Nothing;
    QByteArray frame;
    QString summary; // Send: what the frame says, for the screen
    double seconds = 0;
    AckRequest ack;
    bool on = true;
};

// Throws SimCommandError with a message naming the problem.
SimCommand ParseCommandLine(const QString &line, const WireCodec &codec);
// The arguments of `ack` (or of the --ack option), without the word itself.
AckRequest ParseAckArguments(const QStringList &args);

// The payload of a radio or console frame in readable form, e.g. "100/1000".
QString StationText(const QByteArray &fleet, const QByteArray &ident);

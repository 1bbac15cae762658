#pragma once

#include "WireText.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Cuts the byte stream from the console into frames. Bytes outside STX..ETX are junk and
// are reported, not guessed at; a frame that grows past the longest command without an
// ETX is dropped, so a line full of noise cannot eat memory.
class FrameSplitter {
public:
    struct Piece {
        bool isFrame = false; // false: junk that was dropped
        QByteArray bytes;     // the whole frame with STX and ETX, or the junk
    };

    // Longest command: letter, 7 digits, 4000 bytes of text, plus STX and ETX; with room to spare.
    static constexpr qsizetype kMaxFrame = 4096;

    QList<Piece> Feed(const QByteArray &bytes);
    // Bytes of a frame begun but not ended.
    qsizetype Pending() const { return current_.size(); }

private:
    QByteArray current_; // from STX on, while inside a frame
    bool inFrame_ = false;
};

// What a console command frame says.
struct ConsoleCommand {
    bool wellFormed = false;
    char letter = 0;
    QString text; // one line for the screen
};

// Decodes one frame from the console (STX, payload, ETX) into its readable form:
// letter and name, Fleet, Ident and the tail (status number, message text in escape form).
// A frame that is not one of the six commands, or whose fields are wrong, is not well formed
// and says why.
ConsoleCommand DescribeConsoleFrame(const QByteArray &frame, const WireCodec &codec);

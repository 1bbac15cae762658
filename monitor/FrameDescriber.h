#pragma once

#include "AnsiCodec.h"
#include "FrameSplitter.h"

#include <QString>
#include <functional>

// Read-only views of the two directories for naming what goes by. Neither may
// change a table: the monitor only watches.
struct TMonitorDirectory {
    // The user directory's name for a station, or an empty text.
    std::function<QString(int fleet, int ident)> stationName;
    // The status directory's text for a status number, or an empty text.
    std::function<QString(int number)> statusText;
};

// What a row of the monitor means, in a technician's words: "Status 95 from Car 2",
// "ack: Busy", "not a frame: 3 bytes before STX dropped". Fields are read where
// the console reads them; a field cut short or not a number is said so.
QString DescribeLineFrame(const TLineFrame &frame, const TMonitorDirectory &directory,
                          int codePage = AnsiCodec::SystemCodePage());

// An acknowledgement from the radio ("0" to "3").
bool IsAcknowledgement(const TLineFrame &frame);

#pragma once

#include <QByteArray>

// The frame envelope, the same in both directions: STX, the payload as 8-bit
// text, ETX. No length field, no checksum, no escaping.
inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;

inline QByteArray BuildFrame(const QByteArray &payload)
{
    QByteArray frame;
    frame.reserve(payload.size() + 2);
    frame.append(STX);
    frame.append(payload);
    frame.append(ETX);
    return frame;
}

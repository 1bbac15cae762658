#include "FrameIntake.h"

#include "Frame.h"

#include <algorithm>

QList<QByteArray> TFrameIntake::Feed(QByteArrayView bytes)
{
    QList<QByteArray> frames;
    const char *p = bytes.data();
    const char *const end = p + bytes.size();
    while (p < end) {
        if (m_pending.isEmpty()) {
            p = std::find(p, end, STX);
            if (p == end)
                break;
            m_pending.reserve(256);
            m_pending.append(*p++);
            continue;
        }
        const char *stop = std::find_if(p, end, [](char c) { return c == STX || c == ETX; });
        const qsizetype room = MaxFrameSize - m_pending.size();
        if (stop - p >= room) {
            // No ETX within the longest frame the radio sends: the frame is
            // damaged. Drop it and look for the next STX.
            m_pending.clear();
            m_pending.squeeze();
            ++m_overflows;
            p += room;
            continue;
        }
        m_pending.append(p, stop - p);
        p = stop;
        if (p == end)
            break;
        if (*p == STX) {
            m_pending.clear();
            continue;
        }
        m_pending.append(*p++);
        frames.append(m_pending);
        m_pending.clear();
    }
    return frames;
}

void TFrameIntake::Reset()
{
    m_pending.clear();
}

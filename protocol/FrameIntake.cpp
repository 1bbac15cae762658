#include "FrameIntake.h"

#include "Frame.h"

#include <algorithm>

QList<QByteArray> TFrameIntake::Feed(QByteArrayView bytes)
{
    QList<QByteArray> frames;
    const char *p = bytes.data();
    const char *const end = p + bytes.size();
    while (p < end) {
        if (pending_.isEmpty()) {
            p = std::find(p, end, STX);
            if (p == end)
                break;
            pending_.reserve(256);
            pending_.append(*p++);
            continue;
        }
        const char *stop = std::find_if(p, end, [](char c) { return c == STX || c == ETX; });
        const qsizetype room = MaxFrameSize - pending_.size();
        if (stop - p >= room) {
            // No ETX within the longest frame the radio sends: the frame is
            // damaged. Drop it and look for the next STX.
            pending_.clear();
            pending_.squeeze();
            ++overflows_;
            p += room;
            continue;
        }
        pending_.append(p, stop - p);
        p = stop;
        if (p == end)
            break;
        if (*p == STX) {
            pending_.clear();
            continue;
        }
        pending_.append(*p++);
        frames.append(pending_);
        pending_.clear();
    }
    return frames;
}

void TFrameIntake::Reset()
{
    pending_.clear();
}

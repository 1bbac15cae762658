#include "FrameSplitter.h"

#include "Frame.h"
#include "FrameIntake.h"

#include <algorithm>

const qsizetype TFrameSplitter::MaxFrameSize = TFrameIntake::MaxFrameSize;

void TFrameSplitter::Add(TLineFrame &row, const char *data, qsizetype size, const TLineChunk &chunk)
{
    if (size <= 0)
        return;
    quint64 &last = &row == &frame_ ? frameFeed_ : noiseFeed_;
    if (row.bytes.isEmpty()) {
        row.firstUs = chunk.timeUs;
        row.chunks = 0;
        last = 0;
    }
    if (last != feeds_) {
        ++row.chunks;
        last = feeds_;
    }
    row.lastUs = chunk.timeUs;
    row.bytes.append(data, size);
}

void TFrameSplitter::Emit(TLineFrame &row, TNoiseReason reason, std::vector<TLineFrame> &out)
{
    if (row.bytes.isEmpty())
        return;
    row.direction = direction_;
    row.reason = reason;
    out.push_back(std::move(row));
    row = TLineFrame{};
}

void TFrameSplitter::Feed(const TLineChunk &chunk, std::vector<TLineFrame> &out)
{
    ++feeds_;
    if (chunk.lost > 0) {
        // Whatever was unfinished lost its continuation.
        Emit(noise_, TNoiseReason::Gap, out);
        Emit(frame_, TNoiseReason::Gap, out);
        inFrame_ = false;
        joined_ = false;
        TLineFrame lost;
        lost.direction = direction_;
        lost.reason = TNoiseReason::Lost;
        lost.firstUs = lost.lastUs = chunk.timeUs;
        lost.lost = chunk.lost;
        out.push_back(std::move(lost));
        return;
    }
    const char *p = chunk.bytes.constData();
    const char *const end = p + chunk.bytes.size();
    while (p < end) {
        if (!inFrame_) {
            const char *stx = std::find(p, end, STX);
            while (p < stx) {
                const qsizetype take = std::min<qsizetype>(stx - p, MaxNoiseRun - noise_.bytes.size());
                Add(noise_, p, take, chunk);
                p += take;
                if (noise_.bytes.size() >= MaxNoiseRun)
                    Emit(noise_, joined_ ? TNoiseReason::Joined : TNoiseReason::NoStx, out);
            }
            if (p == end)
                break;
            Emit(noise_, joined_ ? TNoiseReason::Joined : TNoiseReason::BeforeStx, out);
            joined_ = false;
            inFrame_ = true;
            Add(frame_, p++, 1, chunk);
            continue;
        }
        const char *stop = std::find_if(p, end, [](char c) { return c == STX || c == ETX; });
        const qsizetype room = MaxFrameSize - frame_.bytes.size();
        if (stop - p >= room) {
            // The intake gives up on the frame here and looks for the next STX.
            Add(frame_, p, room, chunk);
            p += room;
            Emit(frame_, TNoiseReason::TooLong, out);
            inFrame_ = false;
            continue;
        }
        Add(frame_, p, stop - p, chunk);
        p = stop;
        if (p == end)
            break;
        if (*p == STX) {
            Emit(frame_, TNoiseReason::NewStx, out);
            inFrame_ = false;
            continue;
        }
        Add(frame_, p++, 1, chunk);
        Emit(frame_, TNoiseReason::None, out);
        inFrame_ = false;
    }
}

void TFrameSplitter::FlushNoise(std::vector<TLineFrame> &out)
{
    Emit(noise_, joined_ ? TNoiseReason::Joined : TNoiseReason::NoStx, out);
}

void TFrameSplitter::Reset(bool joined)
{
    frame_ = TLineFrame{};
    noise_ = TLineFrame{};
    inFrame_ = false;
    joined_ = joined;
}

void TFrameSplitter::Cut(std::vector<TLineFrame> &out)
{
    Emit(noise_, TNoiseReason::Cut, out);
    Emit(frame_, TNoiseReason::Cut, out);
    Reset(false);
}

#pragma once

#include "FrameDescriber.h"
#include "FrameSplitter.h"
#include "LineModel.h"
#include "LineTap.h"

#include <vector>

// Counts since the last clear, for the monitor's status line.
struct TLineCounts {
    quint64 frames[2] = {0, 0}; // by direction
    quint64 bytes[2] = {0, 0};
    quint64 notFrames = 0;
    quint64 lostBytes = 0;
};

// Turns the tap's chunks into the model's rows: split per direction, described,
// stamped. Runs on the user-interface thread, one batch at a time.
class TMonitorFeed final {
public:
    explicit TMonitorFeed(TMonitorDirectory directory, int codePage = AnsiCodec::SystemCodePage());

    // One batch from the tap, as rows. Noise of a direction that sent nothing in
    // this batch is put out: the line went quiet and no STX is coming to close it.
    std::vector<TLineRow> Process(const std::vector<TLineChunk> &chunks);
    // Forgets unfinished frames and the counts.
    void Reset();
    // Forgets unfinished frames only: the bytes that would finish them go unseen.
    void Cut();

    const TLineCounts &Counts() const { return counts_; }
    // Bytes of an unfinished frame waiting for its ETX.
    qsizetype PendingFrameSize(TLineDirection direction) const
    {
        return splitters_[std::size_t(direction)].PendingFrameSize();
    }

private:
    TMonitorDirectory directory_;
    int codePage_;
    TFrameSplitter splitters_[2] = {TFrameSplitter(TLineDirection::In), TFrameSplitter(TLineDirection::Out)};
    TLineCounts counts_;
};

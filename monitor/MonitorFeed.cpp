#include "MonitorFeed.h"

TMonitorFeed::TMonitorFeed(TMonitorDirectory directory, int codePage)
    : directory_(std::move(directory)), codePage_(codePage)
{
}

std::vector<TLineRow> TMonitorFeed::Process(const std::vector<TLineChunk> &chunks)
{
    std::vector<TLineFrame> frames;
    bool heard[2] = {false, false};
    for (const TLineChunk &chunk : chunks) {
        const auto d = std::size_t(chunk.direction);
        heard[d] = true;
        counts_.bytes[d] += quint64(chunk.bytes.size());
        splitters_[d].Feed(chunk, frames);
    }
    for (std::size_t d = 0; d < 2; ++d)
        if (!heard[d])
            splitters_[d].FlushNoise(frames);
    std::vector<TLineRow> rows;
    rows.reserve(frames.size());
    for (TLineFrame &frame : frames) {
        if (frame.IsFrame())
            ++counts_.frames[std::size_t(frame.direction)];
        else if (frame.reason == TNoiseReason::Lost)
            counts_.lostBytes += frame.lost;
        else
            ++counts_.notFrames;
        TLineRow row;
        row.meaning = DescribeLineFrame(frame, directory_, codePage_);
        row.time = TLineModel::TimeText(frame.firstUs);
        row.acknowledgement = IsAcknowledgement(frame);
        row.frame = std::move(frame);
        rows.push_back(std::move(row));
    }
    return rows;
}

void TMonitorFeed::Reset()
{
    for (TFrameSplitter &s : splitters_)
        s.Reset();
    counts_ = {};
}

void TMonitorFeed::Cut()
{
    for (TFrameSplitter &s : splitters_)
        s.Reset();
}

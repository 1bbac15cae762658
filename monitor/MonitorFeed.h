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

    // How long the radio has to answer a command before a row says it did not.
    static constexpr qint64 AnswerTimeoutUs = 2'000'000;

    // One batch from the tap, as rows. Noise of a direction that sent nothing in
    // this batch is put out: the line went quiet and no STX is coming to close it.
    // nowUs: the time of the batch, for commands left unanswered (the last chunk's
    // time when not given).
    std::vector<TLineRow> Process(const std::vector<TLineChunk> &chunks, qint64 nowUs = -1);
    // Forgets unfinished frames and the counts: the monitor starts watching afresh.
    void Reset();

    const TLineCounts &Counts() const { return counts_; }
    // Bytes of an unfinished frame waiting for its ETX.
    qsizetype PendingFrameSize(TLineDirection direction) const
    {
        return splitters_[std::size_t(direction)].PendingFrameSize();
    }

private:
    // A row for a command still unanswered at nowUs, once its wait is over.
    void Unanswered(qint64 nowUs, std::vector<TLineRow> &rows);
    void NoteRow(TLineNote note, const QString &text, qint64 timeUs, std::vector<TLineFrame> &frames);

    TMonitorDirectory directory_;
    // The command sent and not yet answered by an acknowledgement: its time and meaning.
    qint64 commandUs_ = -1;
    QString command_;
    int codePage_;
    TFrameSplitter splitters_[2] = {TFrameSplitter(TLineDirection::In), TFrameSplitter(TLineDirection::Out)};
    TLineCounts counts_;
};

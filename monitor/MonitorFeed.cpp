#include "MonitorFeed.h"

namespace {

QString NoteText(TLineNote note, const QString &text)
{
    const QString detail = text.isEmpty() ? QString() : QLatin1String(": ") + text;
    switch (note) {
    case TLineNote::IntakeReset:
        return QLatin1String("the console starts reading afresh (port opened again); a frame in progress is "
                             "dropped") +
               detail;
    case TLineNote::PortLost:
        return QLatin1String("port lost") + detail;
    case TLineNote::PortBack:
        return QLatin1String("port back") + detail;
    case TLineNote::WriteFailed:
        return QLatin1String("write failed") + detail;
    case TLineNote::NoAnswer:
        return QLatin1String("no answer from the radio") + detail;
    case TLineNote::None:
        break;
    }
    return text;
}

} // namespace

TMonitorFeed::TMonitorFeed(TMonitorDirectory directory, int codePage)
    : directory_(std::move(directory)), codePage_(codePage)
{
}

void TMonitorFeed::NoteRow(TLineNote note, const QString &text, qint64 timeUs,
                           std::vector<TLineFrame> &frames)
{
    TLineFrame row;
    row.direction = note == TLineNote::WriteFailed || note == TLineNote::NoAnswer ? TLineDirection::Out
                                                                                  : TLineDirection::In;
    row.reason = TNoiseReason::Note;
    row.firstUs = row.lastUs = timeUs;
    row.note = note;
    row.text = NoteText(note, text);
    frames.push_back(std::move(row));
}

void TMonitorFeed::Unanswered(qint64 nowUs, std::vector<TLineRow> &rows)
{
    if (commandUs_ < 0 || nowUs - commandUs_ <= AnswerTimeoutUs)
        return;
    TLineRow row;
    row.frame.direction = TLineDirection::Out;
    row.frame.reason = TNoiseReason::Note;
    row.frame.note = TLineNote::NoAnswer;
    row.frame.firstUs = row.frame.lastUs = commandUs_ + AnswerTimeoutUs;
    row.meaning =
        NoteText(TLineNote::NoAnswer,
                 QStringLiteral("to %1 within %2 s").arg(command_).arg(AnswerTimeoutUs / 1'000'000));
    row.time = TLineModel::TimeText(row.frame.firstUs);
    rows.push_back(std::move(row));
    commandUs_ = -1;
}

std::vector<TLineRow> TMonitorFeed::Process(const std::vector<TLineChunk> &chunks, qint64 nowUs)
{
    std::vector<TLineFrame> frames;
    bool heard[2] = {false, false};
    qint64 lastUs = -1;
    for (const TLineChunk &chunk : chunks) {
        const auto d = std::size_t(chunk.direction);
        if (chunk.note != TLineNote::None) {
            // The intake forgets its unfinished frame when the port is opened again or
            // lost; so does the monitor, or it would splice the half frame from before
            // onto the bytes after and show a frame the console never received.
            if (chunk.note == TLineNote::IntakeReset || chunk.note == TLineNote::PortLost)
                splitters_[std::size_t(TLineDirection::In)].Cut(frames);
            if (chunk.note == TLineNote::PortLost)
                commandUs_ = -1;
            NoteRow(chunk.note, chunk.text, chunk.timeUs, frames);
            continue;
        }
        heard[d] = true;
        counts_.bytes[d] += quint64(chunk.bytes.size());
        splitters_[d].Feed(chunk, frames);
        lastUs = std::max(lastUs, chunk.timeUs);
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
        else if (frame.reason != TNoiseReason::Note)
            ++counts_.notFrames;
        TLineRow row;
        row.meaning =
            frame.reason == TNoiseReason::Note ? frame.text : DescribeLineFrame(frame, directory_, codePage_);
        row.time = TLineModel::TimeText(frame.firstUs);
        row.acknowledgement = IsAcknowledgement(frame);
        // The radio answers every command with an acknowledgement; a command without
        // one gets a row of its own once the wait is over.
        Unanswered(frame.firstUs, rows);
        if (frame.IsFrame() && frame.direction == TLineDirection::Out) {
            commandUs_ = frame.lastUs;
            command_ = row.meaning;
        } else if (row.acknowledgement) {
            commandUs_ = -1;
        }
        row.frame = std::move(frame);
        rows.push_back(std::move(row));
    }
    Unanswered(nowUs >= 0 ? nowUs : lastUs, rows);
    return rows;
}

void TMonitorFeed::Reset()
{
    for (TFrameSplitter &s : splitters_)
        s.Reset();
    counts_ = {};
    commandUs_ = -1;
}

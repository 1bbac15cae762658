#pragma once

#include "LineTap.h"

#include <QByteArray>
#include <vector>

// Why bytes on the line are not a frame. The cuts are the console's own intake's:
// what it drops, the monitor shows as dropped.
enum class TNoiseReason : uint8_t {
    None,      // a frame, STX through ETX
    BeforeStx, // bytes outside a frame, ended by an STX
    NoStx,     // bytes outside a frame and no STX yet (a long run, or the line went quiet)
    NewStx,    // an unfinished frame cut short by the next STX (its ETX was lost)
    TooLong,   // no ETX within the longest frame there is
    Gap,       // an unfinished frame or noise cut off by bytes the monitor did not see
    Lost,      // bytes the monitor did not see: it fell behind (no bytes, a count)
    Joined,    // bytes before the first STX the monitor saw: the rest of a frame begun before
    Cut,       // an unfinished frame or noise the console's intake forgot (port opened again, lost)
    Note,      // not bytes: what the console told the monitor (a port lost, a write failed)
};

// One row of the monitor: a frame or a run of bytes that is not one, with the
// times of the first and last chunk that carried it.
struct TLineFrame {
    TLineDirection direction = TLineDirection::In;
    TNoiseReason reason = TNoiseReason::None;
    qint64 firstUs = 0;
    qint64 lastUs = 0;
    int chunks = 0;
    QByteArray bytes;
    quint64 lost = 0; // Lost rows: the bytes not seen
    TLineNote note = TLineNote::None;
    QString text; // Note rows: what happened

    bool IsFrame() const { return reason == TNoiseReason::None; }
};

// Cuts one direction's chunks into frames at STX and ETX, as the console's intake
// does, but keeps what the intake drops as rows of their own.
class TFrameSplitter final {
public:
    // The longest frame the intake waits for (its MaxFrameSize).
    static const qsizetype MaxFrameSize;
    // Noise is shown in runs of at most this many bytes.
    static constexpr qsizetype MaxNoiseRun = 256;

    explicit TFrameSplitter(TLineDirection direction) : direction_(direction) {}

    void Feed(const TLineChunk &chunk, std::vector<TLineFrame> &out);
    // Puts out noise still waiting for an STX (the line has gone quiet).
    void FlushNoise(std::vector<TLineFrame> &out);
    // Forgets everything unfinished. Joined: the monitor starts watching here, so the
    // bytes before the next STX are the rest of a frame that began unseen.
    void Reset(bool joined = true);
    // The console's intake forgot its unfinished frame: so does the splitter, and
    // what it held is put out as cut.
    void Cut(std::vector<TLineFrame> &out);

    qsizetype PendingFrameSize() const { return inFrame_ ? frame_.bytes.size() : 0; }
    qsizetype PendingNoiseSize() const { return noise_.bytes.size(); }

private:
    void Add(TLineFrame &row, const char *data, qsizetype size, const TLineChunk &chunk);
    void Emit(TLineFrame &row, TNoiseReason reason, std::vector<TLineFrame> &out);

    TLineDirection direction_;
    bool inFrame_ = false;
    bool joined_ = true; // no STX seen since the monitor started watching
    TLineFrame frame_;   // STX and what followed, while inFrame_
    TLineFrame noise_;   // bytes outside a frame
    // Which feed last added to each row, to count the chunks a row spans.
    quint64 feeds_ = 0;
    quint64 frameFeed_ = 0;
    quint64 noiseFeed_ = 0;
};

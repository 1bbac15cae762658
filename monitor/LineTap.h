#pragma once

#include "Zcomm.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

enum class TLineDirection : uint8_t { In, Out };

// What the console tells the monitor about the line besides its bytes.
enum class TLineNote : uint8_t {
    None,
    IntakeReset, // the console's intake forgot an unfinished frame (port opened again, reconnected, changed)
    PortLost,    // the port's device went away
    PortBack,    // and came back
    WriteFailed, // a write to the port failed; the text says why
    NoAnswer,    // the radio did not answer a command (the feed finds these itself)
};

// What the port moved in one read or one write, stamped when the tap saw it
// (microseconds of wall-clock time). A chunk with lost > 0 carries no bytes: it
// marks where that many bytes found no room in the tap and are not shown.
struct TLineChunk {
    qint64 timeUs = 0;
    TLineDirection direction = TLineDirection::In;
    QByteArray bytes;
    quint64 lost = 0;
    TLineNote note = TLineNote::None; // a note carries no bytes
    QString text;
};

// The port's side of the line monitor. The reader thread (and the writing one)
// only copy the bytes into a ring allocated once; the user-interface thread takes
// them out in batches. When the taker falls behind, the newest bytes are counted
// instead of kept, so memory stays bounded and the port never waits on it.
class TLineTap final : public ILineTap {
public:
    static constexpr size_t DefaultByteCapacity = size_t(1) << 20;
    static constexpr size_t DefaultChunkCapacity = size_t(1) << 16;

    explicit TLineTap(size_t byteCapacity = DefaultByteCapacity, size_t chunkCapacity = DefaultChunkCapacity);

    void Received(const uint8_t *data, size_t size) override;
    void Sent(const uint8_t *data, size_t size) override;
    void Record(TLineDirection direction, const uint8_t *data, size_t size, qint64 timeUs);
    // A note in its place among the bytes, from any thread. Notes are few; past
    // MaxNotes waiting, more are dropped.
    void Note(TLineNote note, const QString &text = {}, qint64 timeUs = NowUs());
    static constexpr size_t MaxNotes = 256;

    // Everything recorded since the last take, in order, lost-byte marks included.
    std::vector<TLineChunk> Take();

    size_t ByteCapacity() const { return bytes_.size(); }
    // Bytes waiting to be taken.
    size_t BytesHeld() const;

    static qint64 NowUs();

private:
    struct THeader {
        qint64 timeUs;
        uint32_t size;
        TLineDirection direction;
        quint64 lost;
        TLineNote note;
    };
    bool PushHeader(const THeader &header);

    mutable std::mutex lock_;
    std::vector<uint8_t> bytes_;
    size_t byteStart_ = 0; // oldest byte held
    size_t byteCount_ = 0;
    std::vector<THeader> headers_;
    size_t headerStart_ = 0;
    size_t headerCount_ = 0;
    // Bytes refused since the last mark, per direction; the mark goes in with the
    // next chunk that fits, or at the next take.
    quint64 unmarkedLost_[2] = {0, 0};
    std::deque<QString> noteTexts_; // in the order of the note headers
};

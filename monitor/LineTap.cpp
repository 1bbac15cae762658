#include "LineTap.h"

#include <algorithm>
#include <chrono>
#include <cstring>

TLineTap::TLineTap(size_t byteCapacity, size_t chunkCapacity)
    : bytes_(std::max<size_t>(byteCapacity, 1)), headers_(std::max<size_t>(chunkCapacity, 2))
{
}

qint64 TLineTap::NowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

void TLineTap::Received(const uint8_t *data, size_t size)
{
    Record(TLineDirection::In, data, size, NowUs());
}

void TLineTap::Sent(const uint8_t *data, size_t size)
{
    Record(TLineDirection::Out, data, size, NowUs());
}

bool TLineTap::PushHeader(const THeader &header)
{
    if (headerCount_ == headers_.size())
        return false;
    headers_[(headerStart_ + headerCount_) % headers_.size()] = header;
    ++headerCount_;
    return true;
}

void TLineTap::Record(TLineDirection direction, const uint8_t *data, size_t size, qint64 timeUs)
{
    if (size == 0)
        return;
    std::lock_guard guard(lock_);
    quint64 &lost = unmarkedLost_[size_t(direction)];
    // One header for a pending mark, one for the chunk.
    const size_t headersNeeded = lost > 0 ? 2 : 1;
    if (bytes_.size() - byteCount_ < size || headers_.size() - headerCount_ < headersNeeded) {
        lost += size;
        return;
    }
    if (lost > 0) {
        PushHeader({timeUs, 0, direction, lost, TLineNote::None});
        lost = 0;
    }
    PushHeader({timeUs, uint32_t(size), direction, 0, TLineNote::None});
    size_t at = (byteStart_ + byteCount_) % bytes_.size();
    const size_t first = std::min(size, bytes_.size() - at);
    std::memcpy(bytes_.data() + at, data, first);
    std::memcpy(bytes_.data(), data + first, size - first);
    byteCount_ += size;
}

void TLineTap::Note(TLineNote note, const QString &text, qint64 timeUs)
{
    if (note == TLineNote::None)
        return;
    std::lock_guard guard(lock_);
    if (noteTexts_.size() >= MaxNotes || !PushHeader({timeUs, 0, TLineDirection::In, 0, note}))
        return;
    noteTexts_.push_back(text);
}

std::vector<TLineChunk> TLineTap::Take()
{
    std::vector<TLineChunk> chunks;
    std::lock_guard guard(lock_);
    chunks.reserve(headerCount_ + 2);
    for (; headerCount_ > 0; --headerCount_) {
        const THeader &h = headers_[headerStart_];
        headerStart_ = (headerStart_ + 1) % headers_.size();
        TLineChunk chunk{h.timeUs, h.direction, {}, h.lost, h.note, {}};
        if (h.note != TLineNote::None) {
            chunk.text = std::move(noteTexts_.front());
            noteTexts_.pop_front();
        }
        if (h.size > 0) {
            chunk.bytes.resize(qsizetype(h.size));
            const size_t first = std::min<size_t>(h.size, bytes_.size() - byteStart_);
            std::memcpy(chunk.bytes.data(), bytes_.data() + byteStart_, first);
            std::memcpy(chunk.bytes.data() + first, bytes_.data(), h.size - first);
            byteStart_ = (byteStart_ + h.size) % bytes_.size();
            byteCount_ -= h.size;
        }
        chunks.push_back(std::move(chunk));
    }
    headerStart_ = 0;
    byteStart_ = 0;
    const qint64 now = NowUs();
    for (size_t d = 0; d < 2; ++d) {
        if (unmarkedLost_[d] > 0)
            chunks.push_back({now, TLineDirection(d), {}, unmarkedLost_[d]});
        unmarkedLost_[d] = 0;
    }
    return chunks;
}

size_t TLineTap::BytesHeld() const
{
    std::lock_guard guard(lock_);
    return byteCount_;
}

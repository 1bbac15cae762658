#pragma once

#include <QByteArray>
#include <QList>
#include <deque>

// The owner's recent traffic messages as published, by their number in this
// run: what a position asks for when the broker no longer held part of what it
// missed. Bounded by count and by bytes; the oldest go first.
class TFeedJournal {
public:
    static constexpr int DefaultEntries = 20000;        // four minutes at the line's top rate
    static constexpr qsizetype DefaultBytes = 16 << 20; // about 30,000 typical messages

    explicit TFeedJournal(int maxEntries = DefaultEntries, qsizetype maxBytes = DefaultBytes);

    // seq is one more than the last added (a new run starts a new journal).
    void Add(quint64 seq, const QByteArray &payload);
    // The first and last number held; 0 when empty.
    quint64 First() const { return entries_.empty() ? 0 : last_ - entries_.size() + 1; }
    quint64 Last() const { return last_; }
    // The messages held from `from` to `to` (inclusive), at most `limit` of them.
    QList<QByteArray> Range(quint64 from, quint64 to, int limit) const;

private:
    int maxEntries_;
    qsizetype maxBytes_, bytes_ = 0;
    quint64 last_ = 0;
    std::deque<QByteArray> entries_;
};

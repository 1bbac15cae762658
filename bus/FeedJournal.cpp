#include "FeedJournal.h"

#include <algorithm>

TFeedJournal::TFeedJournal(int maxEntries, qsizetype maxBytes)
    : maxEntries_(std::max(1, maxEntries)), maxBytes_(maxBytes)
{
}

void TFeedJournal::Add(quint64 seq, const QByteArray &payload)
{
    if (!entries_.empty() && seq != last_ + 1) {
        // Not the next one: what is held would be numbered wrongly.
        entries_.clear();
        bytes_ = 0;
    }
    last_ = seq;
    entries_.push_back(payload);
    bytes_ += payload.size();
    while (int(entries_.size()) > maxEntries_ || (bytes_ > maxBytes_ && entries_.size() > 1)) {
        bytes_ -= entries_.front().size();
        entries_.pop_front();
    }
}

QList<QByteArray> TFeedJournal::Range(quint64 from, quint64 to, int limit) const
{
    QList<QByteArray> range;
    if (entries_.empty())
        return range;
    from = std::max(from, First());
    to = std::min(to, last_);
    for (quint64 seq = from; seq <= to && range.size() < limit; ++seq)
        range.append(entries_[std::size_t(seq - First())]);
    return range;
}

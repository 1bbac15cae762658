#pragma once

#include "Alarm.h"
#include "TrafficEvent.h"

#include <QDateTime>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <variant>
#include <vector>

struct THistoryOptions {
    int retentionDays = 90; // 0 keeps everything
    // How long the writer gathers events before it commits them: the most a kill can lose.
    std::chrono::milliseconds batchWindow{250};
    int maxBatch = 2000;
    // Traffic waiting beyond this while the file is locked or slow is dropped, oldest
    // first, and counted (alarms and acknowledgements are always kept).
    std::size_t maxQueue = 100000;
    // While another program holds the file's lock: the first wait, doubled up to the longest.
    std::chrono::milliseconds retryFirst{1000};
    std::chrono::milliseconds retryLongest{30000};
    int busyTimeoutMs = 2000;
    std::function<QDateTime()> clock; // UTC now; the system clock when empty
    // A file made before the purge gave space back is converted once the writer has
    // been idle this long (it rewrites the whole file).
    std::chrono::milliseconds idleBeforeConversion{60000};
};

// Appends traffic to history.db on a thread of its own: callers only queue a value
// (never wait on the disk), and the writer commits what gathered in one transaction.
// A lock held by another program is reported once through onFailure (on the writer
// thread); entries wait in memory and are written when the lock goes. Any other
// failure of the file (cannot be created, corrupt, gone) is reported once and storing
// stops; callers go on. A clock too far off for the retention is reported there too.
class THistoryStore final : public ITrafficObserver, public IAlarmStore {
public:
    using TFailure = std::function<void(const QString &message)>;

    THistoryStore(const QString &fileName, TFailure onFailure, THistoryOptions options = {});
    // Commits what is queued, then stops the writer.
    ~THistoryStore() override;
    THistoryStore(const THistoryStore &) = delete;
    THistoryStore &operator=(const THistoryStore &) = delete;

    // ITrafficObserver: stamps the time if it is not set and queues the event.
    void TrafficEvent(const TTrafficEvent &event) override;
    // IAlarmStore
    void AlarmOpened(const TAlarm &alarm) override;
    void AlarmAcknowledged(qint64 id, const QDateTime &when) override;

    // Waits until the file is open, the start-up purge done and everything queued
    // before the call is committed (or storing has
    // stopped). For orderly shutdown and tests; the console never calls it per event.
    bool Flush(std::chrono::milliseconds timeout);
    // False once the file has failed.
    bool Working() const { return working_.load(); }
    const QString &FileName() const { return fileName_; }
    // Commits so far (for tests and the bench).
    quint64 Batches() const { return batches_.load(); }
    // Traffic dropped because the queue was full.
    quint64 Dropped() const { return dropped_.load(); }

    // The alarms of history.db still open: read on the calling thread with a
    // connection of its own; a missing file has none. Throws EHistoryError.
    static QList<TAlarm> LoadOpenAlarms(const QString &fileName);

private:
    struct TAck {
        qint64 id;
        QDateTime when;
    };
    using TItem = std::variant<TTrafficEvent, TAlarm, TAck>;

    class TWriter;

    void Run();
    // The next batch, after gathering a burst; false when stopping with nothing left.
    bool TakeBatch(std::vector<TItem> &batch);
    // True when nothing was queued for `idle` (and no stop asked).
    bool WaitIdle(std::chrono::milliseconds idle);
    // Items written (or given up); the first call also says the file is ready.
    void Settle(std::size_t items);
    void Fail(const QString &message);
    // Drops the oldest traffic beyond options_.maxQueue; lock_ is held.
    void DropBeyondBound();
    QDateTime Now() const;

    QString fileName_;
    TFailure onFailure_;
    THistoryOptions options_;

    std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<TItem> queue_;
    quint64 queued_ = 0;             // items ever queued
    quint64 committed_ = 0;          // items ever taken off the queue and settled
    std::size_t trafficWaiting_ = 0; // traffic events in queue_
    bool stop_ = false;
    bool hurry_ = false; // a Flush waits: commit without gathering more
    bool ready_ = false; // the file is open and the start-up purge done

    std::atomic<bool> working_{true};
    std::atomic<quint64> batches_{0};
    std::atomic<quint64> dropped_{0};
    std::thread thread_;
};

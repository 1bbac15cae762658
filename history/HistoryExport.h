#pragma once

#include "HistoryCsv.h"
#include "HistoryQuery.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <thread>

// Writes the CSV of a filter to a file on a thread of its own with a read connection
// of its own: a million rows take seconds, and the thread that decodes frames must
// not wait for them. The file is replaced only when every byte reached the disk.
class THistoryExport final : public QObject {
    Q_OBJECT
public:
    THistoryExport(const QString &historyFile, const THistoryFilter &filter, const QString &csvFile,
                   TCsvCells cells, QObject *parent = nullptr);
    // Cancels a running export and waits for its thread.
    ~THistoryExport() override;
    THistoryExport(const THistoryExport &) = delete;
    THistoryExport &operator=(const THistoryExport &) = delete;

    void Start();
    // The export stops at its next step; Finished follows with cancelled set.
    void Cancel() { cancel_.store(true); }
    const QString &CsvFile() const { return csvFile_; }

signals:
    // Per mille of the selection written; from the export's thread, queued.
    void Progress(int permille);
    // failure is the message for the operator (empty on success or when cancelled).
    void Finished(qint64 rows, const QString &failure, bool cancelled);

private:
    void Run();

    QString historyFile_;
    THistoryFilter filter_;
    QString csvFile_;
    TCsvCells cells_;
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

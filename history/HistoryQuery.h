#pragma once

#include "HistoryCsv.h"
#include "HistoryDatabase.h"
#include "TrafficEvent.h"

#include <QDateTime>
#include <QIODevice>
#include <QList>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class THistoryConnection;

// The export was cancelled through its progress callback.
class EHistoryCancelled : public EHistoryError {
public:
    EHistoryCancelled() : EHistoryError("cancelled") {}
};

// The export's device refused a write; the message is the system's reason.
class EHistoryWriteError : public EHistoryError {
public:
    using EHistoryError::EHistoryError;
};

// What the History window and the command-line export select by. Empty parts
// select everything.
struct THistoryFilter {
    // A name (part of it, any case), "fleet-ident", "Name (fleet-ident)", or one
    // number (a Fleet or an Ident); either station of a call decode matches.
    QString station;
    std::optional<TrafficKind> kind;
    QString text;    // part of the message or status text, any case
    QDateTime since; // from this moment on
    QDateTime until; // before this moment
};

struct THistoryRow {
    qint64 id = 0;
    TTrafficEvent event;
};

// Reads history.db through a read-only connection of the calling thread. Pages go
// newest first by key (no offsets, no counts), so the first page of a million
// rows costs what a page costs.
class THistoryQuery {
public:
    // Throws EHistoryError when the file is missing or is not a history.
    explicit THistoryQuery(const QString &fileName);
    ~THistoryQuery();

    // Up to limit rows older than beforeId (all when not given), newest first.
    // Throws EHistoryError.
    QList<THistoryRow> Page(const THistoryFilter &filter, std::optional<qint64> beforeId, int limit);
    // The selected rows, oldest first, as CSV with a header row. Returns the number
    // of rows written; throws EHistoryError on a read failure and EHistoryWriteError
    // when the device refuses a write.
    // progress, when given, is called now and then with the per mille written so far
    // and cancels the export (EHistoryCancelled) by returning false.
    qint64 ExportCsv(const THistoryFilter &filter, QIODevice &device,
                     TCsvCells cells = TCsvCells::Neutralised,
                     const std::function<bool(int permille)> &progress = {});

    static QStringList CsvHeader();
    // A row's fields as they are; CsvRecord neutralises them.
    static QStringList CsvFields(const THistoryRow &row);

private:
    std::unique_ptr<THistoryConnection> connection_;
    QString columns_; // the SELECT's columns for this file
};

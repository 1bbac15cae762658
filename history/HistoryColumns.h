#pragma once

#include "TrafficEvent.h"

#include <QString>
#include <QVariant>
#include <span>

// One column of the event table, named once: the writer's INSERT, the query's
// SELECT and row reader, the CSV header and fields and the schema and its migration
// all come from the list below. A new column is one entry (with the version that
// adds it, one above the newest); files made before gain it when the writer opens
// them, and readers of older files see it empty.
struct THistoryColumn {
    const char *name; // SQL column and CSV header
    const char *type; // SQL type; a NOT NULL column needs a DEFAULT to be added later
    int version;      // the schema version that added it
    QVariant (*get)(const TTrafficEvent &event);         // the value stored
    void (*set)(TTrafficEvent &event, const QVariant &); // from the value stored
    QString (*csv)(const QVariant &stored);              // the CSV field; null: not exported
};

std::span<const THistoryColumn> HistoryColumns();

// The schema version of a file this console makes: the newest column's.
int HistorySchemaVersion(std::span<const THistoryColumn> columns = HistoryColumns());

// Local time with its offset ("2026-12-09T16:10:00.123+01:00", "Z" for UTC).
// Every export starts with ResetLocalTimeZone: the zone is read again.
QString LocalTimeText(qint64 ms);
void ResetLocalTimeZone();

#pragma once

#include <QDir>
#include <QString>

// Copies a sample table file (User.DB, Status.db) into dir, writable as the
// console needs it; an older copy there is replaced. Returns the copy's path,
// empty when the copy failed.
QString CopySampleTable(const QString &name, const QDir &dir);

// Both sample tables; false when either could not be copied.
bool CopySampleTables(const QDir &dir);

#pragma once

#include <QString>

class QSaveFile;

// Ends a QSaveFile write so that a failure is never reported as success. QSaveFile
// buffers small writes and commit() renames the temporary file even when its final
// flush failed (a full disk gives an empty file that replaces the good one). This
// flushes, syncs and checks every step first; on any failure the temporary file is
// discarded, the old file stays as it was, and the system's reason is returned.
// Returns an empty string on success.
QString FinishSaveFile(QSaveFile &file);

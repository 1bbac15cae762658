#pragma once

#include "StationBoard.h"

#include <QList>
#include <QString>

// Each station's last status, last frame heard, last message and open emergencies
// as history.db holds them, read with a read-only connection of the calling
// thread: the board starts full from the file the console already writes. The
// newest scanRows incoming rows are read in a row first; what they do not hold is
// asked of the indexes station by station. A missing file gives nothing; one that
// cannot be read throws EHistoryError.
QList<TStationTraffic> ReadStationTraffic(const QString &historyFile, int scanRows = 50000);

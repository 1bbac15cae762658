#pragma once

#include "StationBoard.h"

#include <QList>
#include <QString>

// Each station's last status, last frame heard, last message and open emergencies
// as history.db holds them, read with a read-only connection of the calling
// thread: the board starts full from the file the console already writes. A
// missing file gives nothing; one that cannot be read throws EHistoryError.
QList<TStationTraffic> ReadStationTraffic(const QString &historyFile);

#pragma once

#include <QString>

// The dispatch's files in the working directory, beside the directory tables.
inline const QString PendingFileName = QStringLiteral("CorvalinkPending.json");
inline const QString GroupsFileName = QStringLiteral("CorvalinkGroups.txt");
inline const QString CannedFileName = QStringLiteral("CorvalinkCanned.txt");

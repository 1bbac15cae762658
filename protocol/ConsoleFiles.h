#pragma once

#include <QString>

// The files of the working directory, each named here once. The settings file is
// SettingsFileName (Settings.h), the preferences PreferencesFileName.
inline const QString UserFileName = QStringLiteral("User.DB");
inline const QString StatusFileName = QStringLiteral("Status.db");
inline const QString HistoryFileName = QStringLiteral("history.db");

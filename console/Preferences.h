#pragma once

#include <QString>

// The console's own preferences for what it does beyond the settings file, kept in
// a file of their own beside it so that CorvalinkDemo.ini stays as it always was.
inline const QString PreferencesFileName = QStringLiteral("CorvalinkPreferences.ini");

struct TPreferences {
    bool alarmSound = true;
    int historyDays = 90; // days of traffic history kept; 0 keeps all
    // Seconds an alarm may stay unacknowledged before the desktop is asked for
    // the operator's attention, and again every as many seconds; 0 never asks.
    int escalateAfterSeconds = 60;
    // An overdue station (check-in timer) sounds the alarm too; it never flashes.
    bool overdueSound = false;
    // A command the radio answers Busy is written again this many times at most,
    // busyPauseSeconds apart; 0 leaves a Busy as it is.
    int busyRetries = 0;
    int busyPauseSeconds = 3;
    // Seconds the radio has to answer a command before it counts as no answer.
    int answerTimeoutSeconds = 5;

    bool operator==(const TPreferences &) const = default;
};

// Reads the file. A missing file gives the defaults (it is written when the
// operator first changes a preference; a first start is not a fault); an
// unreadable file or a bad value gives the defaults for what could not be read
// and a message in *problem.
TPreferences LoadPreferences(const QString &fileName, QString *problem);
// Writes the file; false (and *problem) when it cannot be written.
bool SavePreferences(const QString &fileName, const TPreferences &preferences, QString *problem);

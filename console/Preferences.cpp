#include "Preferences.h"

#include "IniReader.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace {

const QString SoundKey = QStringLiteral("Alarms/Sound");
const QString DaysKey = QStringLiteral("History/KeepDays");
const QString OverdueSoundKey = QStringLiteral("Alarms/OverdueSound");
const QString EscalateKey = QStringLiteral("Alarms/EscalateAfterSeconds");
// A day: beyond it a reminder is no longer one.
constexpr int MaxEscalateSeconds = 86400;
const QString BusyRetriesKey = QStringLiteral("Dispatch/BusyRetries");
const QString BusyPauseKey = QStringLiteral("Dispatch/BusyPauseSeconds");
const QString AnswerTimeoutKey = QStringLiteral("Dispatch/AnswerTimeoutSeconds");

} // namespace

TPreferences LoadPreferences(const QString &fileName, QString *problem)
{
    TPreferences preferences;
    TIniReader file(fileName);
    if (file.Readable()) {
        file.Switch(SoundKey, preferences.alarmSound);
        file.Switch(OverdueSoundKey, preferences.overdueSound);
        file.Bounded(DaysKey, 0, 36500, preferences.historyDays, QStringLiteral("days"));
        file.Bounded(EscalateKey, 0, MaxEscalateSeconds, preferences.escalateAfterSeconds,
                     QStringLiteral("seconds"));
        file.Bounded(BusyRetriesKey, 0, 10, preferences.busyRetries);
        file.Bounded(BusyPauseKey, 1, 600, preferences.busyPauseSeconds);
        file.Bounded(AnswerTimeoutKey, 1, 120, preferences.answerTimeoutSeconds);
    }
    if (problem)
        *problem = file.Problem(QStringLiteral("preferences file"));
    return preferences;
}

bool SavePreferences(const QString &fileName, const TPreferences &preferences, QString *problem)
{
    QSettings file(fileName, QSettings::IniFormat);
    file.setValue(SoundKey, preferences.alarmSound ? QStringLiteral("on") : QStringLiteral("off"));
    file.setValue(OverdueSoundKey, preferences.overdueSound ? QStringLiteral("on") : QStringLiteral("off"));
    file.setValue(DaysKey, preferences.historyDays);
    file.setValue(EscalateKey, preferences.escalateAfterSeconds);
    file.setValue(BusyRetriesKey, preferences.busyRetries);
    file.setValue(BusyPauseKey, preferences.busyPauseSeconds);
    file.setValue(AnswerTimeoutKey, preferences.answerTimeoutSeconds);
    file.sync();
    if (file.status() != QSettings::NoError) {
        if (problem)
            *problem = QStringLiteral("The preferences file %1 cannot be written.")
                           .arg(QFileInfo(fileName).absoluteFilePath());
        return false;
    }
    return true;
}

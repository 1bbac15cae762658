#include "Preferences.h"

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

// A whole number from low to high under key, or the default kept and a fault noted.
void ReadBounded(const QSettings &file, const QString &key, int low, int high, int &value,
                 QStringList &faults)
{
    if (!file.contains(key))
        return;
    bool ok = false;
    const int read = file.value(key).toString().trimmed().toInt(&ok);
    if (ok && read >= low && read <= high)
        value = read;
    else
        faults << QStringLiteral("%1 is '%2', not a number from %3 to %4")
                      .arg(key, file.value(key).toString())
                      .arg(low)
                      .arg(high);
}

} // namespace

TPreferences LoadPreferences(const QString &fileName, QString *problem)
{
    TPreferences preferences;
    const QFileInfo info(fileName);
    if (!info.exists())
        return preferences;
    QSettings file(fileName, QSettings::IniFormat);
    QStringList faults;
    if (!info.isReadable() || file.status() != QSettings::NoError) {
        faults << QStringLiteral("the file cannot be read");
    } else {
        const auto readSwitch = [&](const QString &key, bool &value) {
            const QString text = file.value(key, value ? QStringLiteral("on") : QStringLiteral("off"))
                                     .toString()
                                     .trimmed()
                                     .toLower();
            if (text == QLatin1String("on") || text == QLatin1String("true") || text == QLatin1String("1"))
                value = true;
            else if (text == QLatin1String("off") || text == QLatin1String("false") ||
                     text == QLatin1String("0"))
                value = false;
            else
                faults << QStringLiteral("%1 is '%2', not on or off").arg(key, text);
        };
        readSwitch(SoundKey, preferences.alarmSound);
        readSwitch(OverdueSoundKey, preferences.overdueSound);
        bool ok = false;
        const int days = file.value(DaysKey, preferences.historyDays).toString().trimmed().toInt(&ok);
        if (ok && days >= 0 && days <= 36500)
            preferences.historyDays = days;
        else
            faults << QStringLiteral("%1 is '%2', not a number of days from 0 to 36500")
                          .arg(DaysKey, file.value(DaysKey).toString());
        const int seconds =
            file.value(EscalateKey, preferences.escalateAfterSeconds).toString().trimmed().toInt(&ok);
        if (ok && seconds >= 0 && seconds <= MaxEscalateSeconds)
            preferences.escalateAfterSeconds = seconds;
        else
            faults << QStringLiteral("%1 is '%2', not a number of seconds from 0 to %3")
                          .arg(EscalateKey, file.value(EscalateKey).toString())
                          .arg(MaxEscalateSeconds);
        ReadBounded(file, BusyRetriesKey, 0, 10, preferences.busyRetries, faults);
        ReadBounded(file, BusyPauseKey, 1, 600, preferences.busyPauseSeconds, faults);
        ReadBounded(file, AnswerTimeoutKey, 1, 120, preferences.answerTimeoutSeconds, faults);
    }
    if (!faults.isEmpty() && problem)
        *problem = QStringLiteral("The preferences file %1 is not usable: %2. The defaults are used for it.")
                       .arg(info.absoluteFilePath(), faults.join(QStringLiteral("; ")));
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

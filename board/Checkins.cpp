#include "Checkins.h"

#include "IniReader.h"

#include <QFileInfo>
#include <QHash>
#include <QSettings>
#include <QStringList>

namespace {

const QString AllKey = QStringLiteral("Checkins/All");
const QString FleetGroup = QStringLiteral("Fleets");
const QString StationGroup = QStringLiteral("Stations");
const QString DowntimeKey = QStringLiteral("Checkins/CountDowntime");
const QString AliveKey = QStringLiteral("Checkins/LastAlive");
constexpr int MaxMinutes = 7 * 24 * 60;

// "30 2026-12-10T08:00:00Z": minutes, then the moment the rule was set.
QString RuleText(const TCheckinRule &rule)
{
    return QString::number(rule.minutes) + QLatin1Char(' ') + rule.since.toString(Qt::ISODate);
}

std::optional<TCheckinRule> ParseRule(const QString &text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.isEmpty() || parts.size() > 2)
        return std::nullopt;
    bool ok = false;
    TCheckinRule rule;
    rule.minutes = parts[0].toInt(&ok);
    if (!ok || rule.minutes < 0 || rule.minutes > MaxMinutes)
        return std::nullopt;
    if (parts.size() == 2) {
        rule.since = QDateTime::fromString(parts[1], Qt::ISODate).toUTC();
        if (!rule.since.isValid())
            return std::nullopt;
    }
    return rule;
}

std::optional<TStationKey> ParseStation(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('-'));
    if (parts.size() != 2)
        return std::nullopt;
    bool okFleet = false, okIdent = false;
    const TStationKey key{parts[0].toInt(&okFleet), parts[1].toInt(&okIdent)};
    if (!okFleet || !okIdent)
        return std::nullopt;
    return key;
}

} // namespace

size_t qHash(TStationKey key, size_t seed) noexcept
{
    return ::qHash((quint64(quint32(key.fleet)) << 32) | quint32(key.ident), seed);
}

QString StationNumberText(TStationKey key)
{
    return QStringLiteral("%1-%2")
        .arg(key.fleet, 3, 10, QLatin1Char('0'))
        .arg(key.ident, 4, 10, QLatin1Char('0'));
}

std::optional<TCheckinRule> TCheckinSettings::RuleFor(TStationKey key) const
{
    std::optional<TCheckinRule> rule;
    if (const auto s = stations.constFind(key); s != stations.cend())
        rule = *s;
    else if (const auto f = fleets.constFind(key.fleet); f != fleets.cend())
        rule = *f;
    else
        rule = all;
    if (rule && rule->minutes <= 0)
        return std::nullopt;
    return rule;
}

void SetCheckinRule(TCheckinSettings &settings, TCheckinScope scope, TStationKey key, int minutes,
                    const QDateTime &since)
{
    const TCheckinRule rule{minutes, since};
    switch (scope) {
    case TCheckinScope::Station:
        if (minutes > 0)
            settings.stations.insert(key, rule);
        else
            settings.stations.remove(key);
        break;
    case TCheckinScope::Fleet:
        if (minutes > 0)
            settings.fleets.insert(key.fleet, rule);
        else
            settings.fleets.remove(key.fleet);
        break;
    case TCheckinScope::All:
        settings.all = minutes > 0 ? std::optional<TCheckinRule>(rule) : std::nullopt;
        break;
    }
}

int CheckinMinutes(const TCheckinSettings &settings, TCheckinScope scope, TStationKey key)
{
    switch (scope) {
    case TCheckinScope::Station:
        return settings.stations.value(key).minutes;
    case TCheckinScope::Fleet:
        return settings.fleets.value(key.fleet).minutes;
    case TCheckinScope::All:
        return settings.all ? settings.all->minutes : 0;
    }
    return 0;
}

TCheckinSettings LoadCheckins(const QString &fileName, QString *problem)
{
    TCheckinSettings settings;
    TIniReader reader(fileName);
    if (reader.Readable()) {
        QSettings &file = reader.File();
        const auto rule = [&](const QString &key) -> std::optional<TCheckinRule> {
            const QString text = file.value(key).toString();
            const auto parsed = ParseRule(text);
            if (!parsed)
                reader.Fault(QStringLiteral("%1 is '%2', not minutes (0 to %3) and a time")
                                 .arg(key, text)
                                 .arg(MaxMinutes));
            return parsed;
        };
        if (file.contains(AllKey))
            settings.all = rule(AllKey);
        file.beginGroup(FleetGroup);
        const QStringList fleetKeys = file.childKeys();
        file.endGroup();
        for (const QString &key : fleetKeys) {
            bool ok = false;
            const int fleet = key.toInt(&ok);
            const auto parsed = rule(FleetGroup + QLatin1Char('/') + key);
            if (!ok)
                reader.Fault(QStringLiteral("%1/%2 is not a fleet number").arg(FleetGroup, key));
            else if (parsed)
                settings.fleets.insert(fleet, *parsed);
        }
        file.beginGroup(StationGroup);
        const QStringList stationKeys = file.childKeys();
        file.endGroup();
        for (const QString &key : stationKeys) {
            const auto station = ParseStation(key);
            const auto parsed = rule(StationGroup + QLatin1Char('/') + key);
            if (!station)
                reader.Fault(QStringLiteral("%1/%2 is not a station (fleet-ident)").arg(StationGroup, key));
            else if (parsed)
                settings.stations.insert(*station, *parsed);
        }
        reader.Switch(DowntimeKey, settings.countDowntime);
        if (file.contains(AliveKey)) {
            settings.lastAlive = QDateTime::fromString(file.value(AliveKey).toString(), Qt::ISODate).toUTC();
            if (!settings.lastAlive.isValid())
                reader.Fault(QStringLiteral("%1 is not a time").arg(AliveKey));
        }
    }
    if (problem)
        *problem = reader.Problem(QStringLiteral("check-in file"));
    return settings;
}

bool SaveCheckins(const QString &fileName, const TCheckinSettings &settings, QString *problem)
{
    QSettings file(fileName, QSettings::IniFormat);
    file.clear();
    if (settings.all)
        file.setValue(AllKey, RuleText(*settings.all));
    file.setValue(DowntimeKey, settings.countDowntime ? QStringLiteral("on") : QStringLiteral("off"));
    if (settings.lastAlive.isValid())
        file.setValue(AliveKey, settings.lastAlive.toString(Qt::ISODate));
    for (auto it = settings.fleets.cbegin(); it != settings.fleets.cend(); ++it)
        file.setValue(FleetGroup + QLatin1Char('/') + QString::number(it.key()), RuleText(it.value()));
    for (auto it = settings.stations.cbegin(); it != settings.stations.cend(); ++it)
        file.setValue(StationGroup + QLatin1Char('/') + StationNumberText(it.key()), RuleText(it.value()));
    file.sync();
    if (file.status() != QSettings::NoError) {
        if (problem)
            *problem = QStringLiteral("The check-in file %1 cannot be written.")
                           .arg(QFileInfo(fileName).absoluteFilePath());
        return false;
    }
    return true;
}

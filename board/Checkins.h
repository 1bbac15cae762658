#pragma once

#include <QDateTime>
#include <QMap>
#include <QString>
#include <compare>
#include <optional>

// A station as its two numbers.
struct TStationKey {
    int fleet = 0;
    int ident = 0;
    auto operator<=>(const TStationKey &) const = default;
};
size_t qHash(TStationKey key, size_t seed = 0) noexcept;
// "101-1001": the numbers as the radio carries them.
QString StationNumberText(TStationKey key);

// "Expected every N minutes", and since when the rule holds: a station never heard
// since is counted from then, not from the beginning of time.
struct TCheckinRule {
    int minutes = 0; // 0 on a station exempts it from its fleet's or everyone's rule
    QDateTime since; // UTC
    bool operator==(const TCheckinRule &) const = default;
};

// The check-in timers, kept in a file of their own beside the settings file.
struct TCheckinSettings {
    std::optional<TCheckinRule> all;
    QMap<int, TCheckinRule> fleets;
    QMap<TStationKey, TCheckinRule> stations;
    // Off: the time the console was down does not count towards a check-in (the
    // timers stand still while it is down). On: it counts, and a station whose
    // deadline passed meanwhile is overdue at start-up with the down time named.
    bool countDowntime = false;
    // The last moment the console was known to run (written once a minute).
    QDateTime lastAlive;

    // The rule that applies to a station: its own, else its fleet's, else everyone's.
    std::optional<TCheckinRule> RuleFor(TStationKey key) const;
    bool operator==(const TCheckinSettings &) const = default;
};

// Where a rule applies.
enum class TCheckinScope { Station, Fleet, All };
// Sets the rule of a scope (minutes > 0, counted from since) or removes it (0).
void SetCheckinRule(TCheckinSettings &settings, TCheckinScope scope, TStationKey key, int minutes,
                    const QDateTime &since);
// The minutes a scope's own rule gives (0 when it has none).
int CheckinMinutes(const TCheckinSettings &settings, TCheckinScope scope, TStationKey key);

inline const QString CheckinFileName = QStringLiteral("CorvalinkCheckins.ini");

// A missing file gives the defaults (no timers) silently; an unreadable file or a
// bad entry gives the defaults for what could not be read and a message in *problem.
TCheckinSettings LoadCheckins(const QString &fileName, QString *problem);
// False (and *problem) when the file cannot be written.
bool SaveCheckins(const QString &fileName, const TCheckinSettings &settings, QString *problem);

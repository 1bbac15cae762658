#include "TrafficEvent.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<TrafficKind, const char *>, 23> KindNames{{
    {TrafficKind::Call, "call"},
    {TrafficKind::CallEnd, "call end"},
    {TrafficKind::Status, "status"},
    {TrafficKind::StatusRequest, "status request"},
    {TrafficKind::ShortMessage, "short message"},
    {TrafficKind::LongMessage, "long message"},
    {TrafficKind::PttId, "PTT ID"},
    {TrafficKind::CallDecode, "call decode"},
    {TrafficKind::Acknowledgement, "acknowledgement"},
    {TrafficKind::EmergencyAcknowledged, "emergency acknowledged"},
    {TrafficKind::PortLost, "port lost"},
    {TrafficKind::PortBack, "port back"},
    {TrafficKind::Warning, "warning"},
    {TrafficKind::AlarmSoundOff, "alarm sound off"},
    {TrafficKind::AlarmSoundOn, "alarm sound on"},
    {TrafficKind::AlarmOpened, "alarm opened"},
    {TrafficKind::AlarmRepeat, "alarm repeat"},
    {TrafficKind::AlarmMuted, "alarm muted"},
    {TrafficKind::AlarmEscalated, "alarm escalated"},
    {TrafficKind::CommandOutcome, "command outcome"},
    {TrafficKind::StationOverdue, "station overdue"},
    {TrafficKind::OverdueCleared, "overdue cleared"},
    {TrafficKind::CommandRefused, "command refused"},
}};

} // namespace

std::optional<int> TrafficNumber(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

QString TrafficKindText(TrafficKind kind)
{
    for (const auto &[k, name] : KindNames)
        if (k == kind)
            return QLatin1String(name);
    return QString::number(static_cast<int>(kind));
}

QString TrafficDirectionText(TrafficDirection direction)
{
    switch (direction) {
    case TrafficDirection::Out:
        return QStringLiteral("out");
    case TrafficDirection::In:
        return QStringLiteral("in");
    case TrafficDirection::Local:
        return QStringLiteral("local");
    }
    return {};
}

std::optional<TrafficKind> TrafficKindFromText(const QString &text)
{
    const QString wanted = text.trimmed();
    for (const auto &[k, name] : KindNames)
        if (wanted.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return k;
    return std::nullopt;
}

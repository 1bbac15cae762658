#include "HistoryColumns.h"

#include "HistoryDatabase.h"

#include <QTimeZone>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace {

QVariant Optional(std::optional<int> value)
{
    return value ? QVariant(*value) : QVariant(QMetaType(QMetaType::Int));
}

std::optional<int> OptionalInt(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional<int>(value.toInt());
}

QString Number(const QVariant &value)
{
    return value.isNull() ? QString() : QString::number(value.toInt());
}

QString Text(const QVariant &value)
{
    return value.toString();
}

// Members of TTrafficEvent by pointer, so that each entry below is one line.
template <auto Member> QVariant GetNumber(const TTrafficEvent &e)
{
    return Optional(e.*Member);
}
template <auto Member> void SetNumber(TTrafficEvent &e, const QVariant &v)
{
    e.*Member = OptionalInt(v);
}
template <auto Member> QVariant GetText(const TTrafficEvent &e)
{
    return e.*Member;
}
template <auto Member> void SetText(TTrafficEvent &e, const QVariant &v)
{
    e.*Member = v.toString();
}

const THistoryColumn Columns[] = {
    {"time", "INTEGER NOT NULL", 1, [](const TTrafficEvent &e) { return QVariant(HistoryTime(e.time)); },
     [](TTrafficEvent &e, const QVariant &v) { e.time = HistoryDateTime(v.toLongLong()); },
     // Local time with its offset: readable, and still one exact moment.
     [](const QVariant &v) { return LocalTimeText(v.toLongLong()); }},
    {"direction", "INTEGER NOT NULL", 1, [](const TTrafficEvent &e) { return QVariant(int(e.direction)); },
     [](TTrafficEvent &e, const QVariant &v) { e.direction = TrafficDirection(v.toInt()); },
     [](const QVariant &v) { return TrafficDirectionText(TrafficDirection(v.toInt())); }},
    {"kind", "INTEGER NOT NULL", 1, [](const TTrafficEvent &e) { return QVariant(int(e.kind)); },
     [](TTrafficEvent &e, const QVariant &v) { e.kind = TrafficKind(v.toInt()); },
     [](const QVariant &v) { return TrafficKindText(TrafficKind(v.toInt())); }},
    {"fleet", "INTEGER", 1, GetNumber<&TTrafficEvent::fleet>, SetNumber<&TTrafficEvent::fleet>, Number},
    {"ident", "INTEGER", 1, GetNumber<&TTrafficEvent::ident>, SetNumber<&TTrafficEvent::ident>, Number},
    {"name", "TEXT", 1, GetText<&TTrafficEvent::name>, SetText<&TTrafficEvent::name>, Text},
    {"fleet2", "INTEGER", 1, GetNumber<&TTrafficEvent::fleet2>, SetNumber<&TTrafficEvent::fleet2>, Number},
    {"ident2", "INTEGER", 1, GetNumber<&TTrafficEvent::ident2>, SetNumber<&TTrafficEvent::ident2>, Number},
    {"name2", "TEXT", 1, GetText<&TTrafficEvent::name2>, SetText<&TTrafficEvent::name2>, Text},
    {"status", "INTEGER", 1, GetNumber<&TTrafficEvent::status>, SetNumber<&TTrafficEvent::status>, Number},
    {"status_text", "TEXT", 1, GetText<&TTrafficEvent::statusText>, SetText<&TTrafficEvent::statusText>,
     Text},
    {"status_known", "INTEGER NOT NULL DEFAULT 0", 1,
     [](const TTrafficEvent &e) { return QVariant(e.statusKnown ? 1 : 0); },
     [](TTrafficEvent &e, const QVariant &v) { e.statusKnown = v.toInt() != 0; }, nullptr},
    {"text", "TEXT", 1, [](const TTrafficEvent &e) { return QVariant(e.text.left(TrafficTextLimit)); },
     SetText<&TTrafficEvent::text>, Text},
    {"frame", "BLOB", 1, [](const TTrafficEvent &e) { return QVariant(e.frame); },
     [](TTrafficEvent &e, const QVariant &v) { e.frame = v.toByteArray(); },
     [](const QVariant &v) { return QString::fromLatin1(v.toByteArray().toHex(' ')); }},
    // The control-room position that asked for it. Not in the CSV: the export's
    // columns stay as readers of it know them.
    {"position", "TEXT", 2, GetText<&TTrafficEvent::position>, SetText<&TTrafficEvent::position>, nullptr},
};

} // namespace

std::span<const THistoryColumn> HistoryColumns()
{
    return Columns;
}

int HistorySchemaVersion(std::span<const THistoryColumn> columns)
{
    int version = 1;
    for (const THistoryColumn &column : columns)
        version = std::max(version, column.version);
    return version;
}

namespace {

// The zone's offset and the span of time it holds for, between two of the zone's
// transitions. Kept per thread and made again for each export (the zone may have
// changed). localtime_r would do, but it takes glibc's time-zone lock for every row:
// the export thread, at its low priority, held it while preempted and the
// user-interface thread's own clock readings waited behind it.
struct TZoneSpan {
    bool valid = false;
    QTimeZone zone;
    qint64 from = 0, until = 0; // [from, until) in ms since 1970 UTC
    int offset = 0;             // seconds east of UTC
};

thread_local TZoneSpan zoneSpan;

} // namespace

void ResetLocalTimeZone()
{
    zoneSpan = TZoneSpan{};
}

// Each row by the zone's own rules: an offset cached for an hour or a day would
// print the half hour after a change (America/St_Johns changes at :30 UTC) with the
// offset of before, and the same row differently under another filter.
QString LocalTimeText(qint64 ms)
{
    TZoneSpan &span = zoneSpan;
    if (!span.valid) {
        span.zone = QTimeZone::systemTimeZone();
        span.valid = true;
        span.until = span.from; // empty: found below
    }
    if (ms < span.from || ms >= span.until) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        span.offset = span.zone.offsetFromUtc(at);
        const QTimeZone::OffsetData before = span.zone.previousTransition(at.addMSecs(1));
        const QTimeZone::OffsetData after = span.zone.nextTransition(at);
        span.from =
            before.atUtc.isValid() ? before.atUtc.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
        span.until =
            after.atUtc.isValid() ? after.atUtc.toMSecsSinceEpoch() : std::numeric_limits<qint64>::max();
        // A zone without transition data: this row only.
        if (!span.zone.hasTransitions())
            span.from = span.until = ms;
    }
    const qint64 msPart = ((ms % 1000) + 1000) % 1000;
    const QDateTime shifted =
        QDateTime::fromMSecsSinceEpoch(ms - msPart + qint64(span.offset) * 1000, Qt::UTC);
    const QDate d = shifted.date();
    const QTime t = shifted.time();
    char text[64];
    int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", d.year(), d.month(),
                          d.day(), t.hour(), t.minute(), t.second(), int(msPart));
    const int offset = span.offset;
    if (offset == 0)
        std::snprintf(text + n, sizeof text - std::size_t(n), "Z");
    else
        std::snprintf(text + n, sizeof text - std::size_t(n), "%c%02d:%02d", offset < 0 ? '-' : '+',
                      std::abs(offset) / 3600, std::abs(offset) % 3600 / 60);
    return QString::fromLatin1(text);
}

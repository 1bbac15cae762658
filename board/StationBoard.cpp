#include "StationBoard.h"

#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <limits>

namespace {

constexpr qint64 MinuteMs = 60 * 1000;
constexpr qint64 DayMs = 24 * 60 * MinuteMs;
// The deadline timer never sleeps longer than this, so a wall clock set forward or
// back while it waits is noticed within a minute.
constexpr int LongestWaitMs = 60 * 1000;
constexpr qsizetype PreviewLength = 60;

bool HeardKind(TrafficKind kind)
{
    switch (kind) {
    case TrafficKind::Call:
    case TrafficKind::CallEnd:
    case TrafficKind::Status:
    case TrafficKind::ShortMessage:
    case TrafficKind::LongMessage:
    case TrafficKind::PttId:
    case TrafficKind::CallDecode:
        return true;
    default:
        return false;
    }
}

// The radio's lookup names a station without a directory entry by its numbers:
// that is no name.
QString RealName(const QString &name, TStationKey key)
{
    if (name.isEmpty() || name == StationNumberText(key) ||
        name == QStringLiteral("%1-%2").arg(key.fleet).arg(key.ident))
        return {};
    return name;
}

QString Preview(const QString &text)
{
    QString line = text.section(QLatin1Char('\n'), 0, 0).section(QLatin1Char('\r'), 0, 0);
    if (line.size() > PreviewLength || line.size() < text.size())
        line = line.left(PreviewLength) + QChar(0x2026);
    return line;
}

qint64 Ms(const QDateTime &time)
{
    return time.toMSecsSinceEpoch();
}

} // namespace

TStationBoard::TStationBoard(QObject *parent, TClock clock)
    : QAbstractTableModel(parent), clock_(std::move(clock))
{
    qRegisterMetaType<TOverdue>();
    started_ = Now();
    deadlineTimer_.setSingleShot(true);
    deadlineTimer_.setTimerType(Qt::PreciseTimer);
    ageTimer_.setInterval(1000);
    aliveTimer_.setInterval(LongestWaitMs);
    connect(&deadlineTimer_, &QTimer::timeout, this, &TStationBoard::CheckDeadlines);
    connect(&ageTimer_, &QTimer::timeout, this, &TStationBoard::AgeTick);
    connect(&aliveTimer_, &QTimer::timeout, this, &TStationBoard::StillAlive);
    updateTimer_.setSingleShot(true);
    connect(&updateTimer_, &QTimer::timeout, this, &TStationBoard::FlushUpdates);
}

TStationBoard::~TStationBoard()
{
    if (!checkinFile_.isEmpty())
        StillAlive();
}

QDateTime TStationBoard::Now() const
{
    return clock_ ? clock_() : QDateTime::currentDateTimeUtc();
}

void TStationBoard::TrafficEvent(const TTrafficEvent &event)
{
    const QDateTime time = event.time.isValid() ? event.time.toUTC() : Now();
    if (event.kind == TrafficKind::EmergencyAcknowledged) {
        if (!event.fleet || !event.ident)
            return;
        const int row = RowOf({*event.fleet, *event.ident});
        if (row < 0)
            return;
        auto &open = rows_[std::size_t(row)].traffic.emergencies;
        if (open.isEmpty())
            return;
        // The acknowledged one if it can be told apart, else the oldest.
        const auto same = std::find_if(open.begin(), open.end(), [&](const TOpenEmergency &e) {
            return event.status && e.status == *event.status && e.text == event.statusText;
        });
        open.erase(same != open.end() ? same : open.begin());
        RowChanged(row, AlarmColumn, AlarmColumn);
        return;
    }
    if (event.direction != TrafficDirection::In || !HeardKind(event.kind))
        return;
    if (event.fleet && event.ident)
        Heard({*event.fleet, *event.ident}, event.name, time, &event);
    if (event.kind == TrafficKind::CallDecode && event.fleet2 && event.ident2 &&
        !(event.fleet == event.fleet2 && event.ident == event.ident2))
        Heard({*event.fleet2, *event.ident2}, event.name2, time, nullptr);
}

void TStationBoard::Heard(TStationKey key, const QString &name, const QDateTime &time,
                          const TTrafficEvent *event)
{
    const int row = EnsureRow(key);
    TRow &r = rows_[std::size_t(row)];
    TStationTraffic &t = r.traffic;
    // Only the columns that change: a proxy sorted or filtered on another one has
    // nothing to redo.
    int first = HeardColumn, last = AgeColumn;
    t.lastHeard = time;
    const QString heardName = RealName(name, key);
    if (heardName != t.heardName) {
        t.heardName = heardName;
        first = NameColumn;
    }
    if (event && event->kind == TrafficKind::Status) {
        t.status = event->status;
        t.statusText = event->statusText;
        t.statusKnown = event->statusKnown;
        t.statusTime = time;
        first = std::min(first, int(StatusColumn));
        if (event->IsEmergency()) {
            t.emergencies.append({*event->status, event->statusText});
            last = AlarmColumn;
        }
    } else if (event &&
               (event->kind == TrafficKind::ShortMessage || event->kind == TrafficKind::LongMessage)) {
        t.lastMessage = event->text;
        t.messageTime = time;
        last = std::max(last, int(MessageColumn));
    }
    if (r.overdue)
        Clear(row, time);
    Schedule(row);
    if (r.deadline.isValid())
        last = AlarmColumn;
    RowChanged(row, first, last);
}

int TStationBoard::EnsureRow(TStationKey key)
{
    if (const auto it = index_.constFind(key); it != index_.cend())
        return *it;
    const int row = int(rows_.size());
    beginInsertRows({}, row, row);
    TRow r;
    r.traffic.key = key;
    rows_.push_back(std::move(r));
    index_.insert(key, row);
    endInsertRows();
    return row;
}

int TStationBoard::RowOf(TStationKey key) const
{
    return index_.value(key, -1);
}

void TStationBoard::RowChanged(int row, int firstColumn, int lastColumn)
{
    // The first change after a quiet spell is told at once; changes that follow
    // within the spell are gathered and told together at its end, so a view
    // repaints a few times a second however fast the line runs.
    if (!updateTimer_.isActive()) {
        emit dataChanged(index(row, firstColumn), index(row, lastColumn));
        if (updateDelayMs_ > 0)
            updateTimer_.start(updateDelayMs_);
        return;
    }
    TRow &r = rows_[std::size_t(row)];
    if (r.dirtyFirst < 0) {
        dirtyRows_.push_back(row);
        r.dirtyFirst = firstColumn;
        r.dirtyLast = lastColumn;
    } else {
        r.dirtyFirst = std::min(r.dirtyFirst, firstColumn);
        r.dirtyLast = std::max(r.dirtyLast, lastColumn);
    }
}

void TStationBoard::FlushUpdates()
{
    std::vector<int> rows;
    rows.swap(dirtyRows_);
    for (int row : rows) {
        TRow &r = rows_[std::size_t(row)];
        const int first = r.dirtyFirst, last = r.dirtyLast;
        r.dirtyFirst = r.dirtyLast = -1;
        emit dataChanged(index(row, first), index(row, last));
    }
    // Something was told: wait a spell before telling the next change at once.
    if (!rows.empty())
        updateTimer_.start(updateDelayMs_);
}

void TStationBoard::SetUpdateDelay(int ms)
{
    updateDelayMs_ = std::max(0, ms);
    if (updateDelayMs_ == 0) {
        updateTimer_.stop();
        FlushUpdates();
    }
}

void TStationBoard::SetDirectory(const QList<TDirectoryStation> &stations)
{
    QSet<TStationKey> listed;
    for (const TDirectoryStation &s : stations) {
        const TStationKey key{s.fleet, s.ident};
        // The first entry of a station names it, as the radio's lookup does.
        if (listed.contains(key))
            continue;
        listed.insert(key);
        const bool isNew = RowOf(key) < 0;
        const int row = EnsureRow(key);
        rows_[std::size_t(row)].directoryName = s.name.trimmed();
        rows_[std::size_t(row)].inDirectory = true;
        if (isNew)
            Schedule(row);
    }
    // A station that left the directory stays while the radio has heard it.
    FlushUpdates();
    updateTimer_.stop();
    bool removed = false;
    for (int row = int(rows_.size()) - 1; row >= 0; --row) {
        TRow &r = rows_[std::size_t(row)];
        if (!r.inDirectory || listed.contains(r.traffic.key))
            continue;
        r.inDirectory = false;
        r.directoryName.clear();
        if (r.traffic.lastHeard.isValid() || !r.traffic.emergencies.isEmpty())
            continue;
        Unschedule(row);
        if (r.overdue)
            Clear(row, {});
        beginRemoveRows({}, row, row);
        rows_.erase(rows_.begin() + row);
        endRemoveRows();
        removed = true;
    }
    if (removed) {
        index_.clear();
        for (int row = 0; row < int(rows_.size()); ++row)
            index_.insert(rows_[std::size_t(row)].traffic.key, row);
    }
    if (!rows_.empty())
        emit dataChanged(index(0, NameColumn), index(int(rows_.size()) - 1, NameColumn));
}

void TStationBoard::Rebuild(const QList<TStationTraffic> &stations)
{
    for (const TStationTraffic &h : stations) {
        const int row = EnsureRow(h.key);
        TStationTraffic &t = rows_[std::size_t(row)].traffic;
        if (h.lastHeard.isValid() && (!t.lastHeard.isValid() || h.lastHeard > t.lastHeard)) {
            t.lastHeard = h.lastHeard;
            t.heardName = RealName(h.heardName, h.key);
        }
        if (h.statusTime.isValid() && (!t.statusTime.isValid() || h.statusTime > t.statusTime)) {
            t.status = h.status;
            t.statusText = h.statusText;
            t.statusKnown = h.statusKnown;
            t.statusTime = h.statusTime;
        }
        if (h.messageTime.isValid() && (!t.messageTime.isValid() || h.messageTime > t.messageTime)) {
            t.lastMessage = h.lastMessage;
            t.messageTime = h.messageTime;
        }
        // The alarms left open are the file's; any raised since start-up come after them.
        t.emergencies = h.emergencies + t.emergencies;
        Schedule(row);
        RowChanged(row, NameColumn, AlarmColumn);
    }
}

QList<TStationTraffic> TStationBoard::Traffic() const
{
    QList<TStationTraffic> all;
    all.reserve(qsizetype(rows_.size()));
    for (const TRow &r : rows_)
        all.append(r.traffic);
    std::sort(all.begin(), all.end(),
              [](const TStationTraffic &a, const TStationTraffic &b) { return a.key < b.key; });
    return all;
}

// Check-in timers

QString TStationBoard::OpenCheckinFile(const QString &fileName)
{
    QString problem;
    TCheckinSettings loaded = LoadCheckins(fileName, &problem);
    if (loaded.lastAlive.isValid() && loaded.lastAlive < started_)
        downFrom_ = loaded.lastAlive;
    checkinFile_ = fileName;
    checkins_ = loaded;
    checkins_.lastAlive = Now();
    SaveCheckinFile();
    aliveTimer_.start();
    for (int row = 0; row < int(rows_.size()); ++row)
        Schedule(row);
    return problem;
}

void TStationBoard::SetCheckins(const TCheckinSettings &settings)
{
    const QDateTime lastAlive = checkins_.lastAlive;
    checkins_ = settings;
    checkins_.lastAlive = lastAlive;
    SaveCheckinFile();
    for (int row = 0; row < int(rows_.size()); ++row) {
        Schedule(row);
        RowChanged(row, CheckinColumn, AlarmColumn);
    }
}

void TStationBoard::ClockMoved(qint64 ms)
{
    started_ = started_.addMSecs(ms);
    for (int row = 0; row < int(rows_.size()); ++row) {
        Schedule(row);
        RowChanged(row, CheckinColumn, AlarmColumn);
    }
}

void TStationBoard::SaveCheckinFile()
{
    if (checkinFile_.isEmpty())
        return;
    // With no timer set there is nothing to keep: the working directory gets no
    // file of the board's own until the operator sets one.
    if (!checkins_.all && checkins_.fleets.isEmpty() && checkins_.stations.isEmpty() &&
        !QFileInfo::exists(checkinFile_))
        return;
    QString problem;
    if (SaveCheckins(checkinFile_, checkins_, &problem)) {
        checkinFailed_ = false;
    } else if (!checkinFailed_) {
        checkinFailed_ = true;
        emit CheckinProblem(problem);
    }
}

void TStationBoard::StillAlive()
{
    checkins_.lastAlive = Now();
    SaveCheckinFile();
}

void TStationBoard::Unschedule(int row)
{
    TRow &r = rows_[std::size_t(row)];
    if (r.deadline.isValid())
        deadlines_.erase({Ms(r.deadline), r.traffic.key});
    r.deadline = {};
}

void TStationBoard::Schedule(int row)
{
    Unschedule(row);
    TRow &r = rows_[std::size_t(row)];
    const std::optional<TCheckinRule> rule = checkins_.RuleFor(r.traffic.key);
    if (!rule) {
        if (r.overdue)
            Clear(row, {});
        ArmTimer();
        return;
    }
    const qint64 span = qint64(rule->minutes) * MinuteMs;
    // Counted from the last frame heard, or from when the rule was set if later.
    QDateTime from = r.traffic.lastHeard;
    const QDateTime since = rule->since.isValid() ? rule->since : started_;
    if (!from.isValid() || since > from)
        from = since;
    QDateTime due = from.addMSecs(span);
    QString downtime;
    if (from < started_) {
        if (checkins_.countDowntime) {
            if (downFrom_.isValid() && due > downFrom_ && due <= started_)
                downtime = QStringLiteral("console was down from %1 to %2")
                               .arg(TimeText(downFrom_), TimeText(started_));
        } else if (downFrom_.isValid()) {
            // The timer stood still while the console was down; one already due
            // before it stopped stays due.
            if (due > downFrom_)
                due = due.addMSecs(downFrom_.msecsTo(started_));
        } else {
            // Nothing is known of earlier runs: count from this start.
            due = started_.addMSecs(span);
        }
    }
    r.deadline = due;
    const QDateTime now = Now();
    if (due <= now) {
        if (!r.overdue)
            Raise(row, now, downtime);
    } else {
        if (r.overdue)
            Clear(row, {});
        deadlines_.insert({Ms(due), r.traffic.key});
    }
    ArmTimer();
}

void TStationBoard::ArmTimer()
{
    if (deadlines_.empty()) {
        deadlineTimer_.stop();
        return;
    }
    const qint64 wait = std::clamp<qint64>(deadlines_.begin()->first - Ms(Now()), 0, LongestWaitMs);
    // Re-arming costs a timer registration; a frame that moved a later deadline need not.
    if (deadlineTimer_.isActive() && std::abs(deadlineTimer_.remainingTime() - wait) <= 1)
        return;
    deadlineTimer_.start(int(wait));
}

void TStationBoard::CheckDeadlines()
{
    const QDateTime now = Now();
    while (!deadlines_.empty() && deadlines_.begin()->first <= Ms(now)) {
        const TStationKey key = deadlines_.begin()->second;
        deadlines_.erase(deadlines_.begin());
        const int row = RowOf(key);
        if (row >= 0 && !rows_[std::size_t(row)].overdue)
            Raise(row, now);
    }
    ArmTimer();
}

QDateTime TStationBoard::NextDeadline() const
{
    return deadlines_.empty() ? QDateTime()
                              : QDateTime::fromMSecsSinceEpoch(deadlines_.begin()->first, Qt::UTC);
}

void TStationBoard::Raise(int row, const QDateTime &now, const QString &downtime)
{
    TRow &r = rows_[std::size_t(row)];
    const std::optional<TCheckinRule> rule = checkins_.RuleFor(r.traffic.key);
    TOverdue overdue;
    overdue.key = r.traffic.key;
    overdue.label = LabelAt(row);
    overdue.minutes = rule ? rule->minutes : 0;
    overdue.lastHeard = r.traffic.lastHeard;
    overdue.deadline = r.deadline;
    overdue.raised = now;
    overdue.downtime = downtime;
    r.overdue = overdue;
    emit OverdueRaised(overdue);
    RowChanged(row, CheckinColumn, AlarmColumn);
}

void TStationBoard::Clear(int row, const QDateTime &heard)
{
    TRow &r = rows_[std::size_t(row)];
    const TOverdue overdue = *r.overdue;
    r.overdue.reset();
    emit OverdueCleared(overdue, heard);
    RowChanged(row, CheckinColumn, AlarmColumn);
}

// Ages

void TStationBoard::WatchAges(bool watching)
{
    ageWatchers_ = std::max(0, ageWatchers_ + (watching ? 1 : -1));
    if (ageWatchers_ > 0 && !ageTimer_.isActive())
        ageTimer_.start();
    else if (ageWatchers_ == 0)
        ageTimer_.stop();
}

void TStationBoard::AgeTick()
{
    // Only the age cells and only their text: a sorting or filtering proxy above
    // has nothing to redo.
    if (!rows_.empty())
        emit dataChanged(index(0, AgeColumn), index(int(rows_.size()) - 1, AgeColumn), {Qt::DisplayRole});
}

QString TStationBoard::AgeText(const QDateTime &then, const QDateTime &now)
{
    return AgeWords(then.msecsTo(now), [&] { return then.toLocalTime().date(); });
}

QString TStationBoard::AgeWords(qint64 ms, const std::function<QDate()> &localDate)
{
    ms = std::max<qint64>(0, ms);
    if (ms < MinuteMs)
        return QStringLiteral("%1 s ago").arg(ms / 1000);
    if (ms < 60 * MinuteMs)
        return QStringLiteral("%1 min ago").arg(ms / MinuteMs);
    if (ms < DayMs)
        return QStringLiteral("%1 h %2 min ago").arg(ms / (60 * MinuteMs)).arg(ms / MinuteMs % 60);
    const qint64 days = ms / DayMs;
    return QStringLiteral("%1 %2 ago (%3)")
        .arg(days)
        .arg(days == 1 ? QStringLiteral("day") : QStringLiteral("days"))
        .arg(localDate().toString(Qt::ISODate));
}

QDateTime TStationBoard::Local(const QDateTime &utc) const
{
    // Asking the zone reads its file each time: once an hour of the times shown
    // is enough (offsets change on the hour).
    const qint64 ms = Ms(utc);
    const qint64 hour = ms / (60 * MinuteMs);
    auto it = localOffsets_.constFind(hour);
    if (it == localOffsets_.cend()) {
        if (localOffsets_.size() > 4096)
            localOffsets_.clear();
        it = localOffsets_.insert(hour, utc.toLocalTime().offsetFromUtc());
    }
    return QDateTime::fromMSecsSinceEpoch(ms + qint64(*it) * 1000, Qt::UTC);
}

// Texts

QString TStationBoard::NameAt(int row) const
{
    const TRow &r = rows_[std::size_t(row)];
    if (r.inDirectory && !r.directoryName.isEmpty())
        return r.directoryName;
    if (!r.traffic.heardName.isEmpty())
        return r.traffic.heardName;
    return StationNumberText(r.traffic.key);
}

QString TStationBoard::LabelAt(int row) const
{
    const QString name = NameAt(row);
    const QString number = StationNumberText(KeyAt(row));
    return name == number ? number : name + QStringLiteral(" (") + number + QLatin1Char(')');
}

QString TStationBoard::TimeText(const QDateTime &time) const
{
    if (!time.isValid())
        return {};
    const QDateTime local = Local(time);
    if (local.date() == Local(Now()).date())
        return local.time().toString(QStringLiteral("HH:mm:ss"));
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString TStationBoard::AlarmText(const TRow &row) const
{
    QStringList parts;
    const auto &open = row.traffic.emergencies;
    if (!open.isEmpty()) {
        QString text = QStringLiteral("EMERGENCY %1 %2").arg(open.back().status).arg(open.back().text);
        if (open.size() > 1)
            text += QStringLiteral(" (%1 open)").arg(open.size());
        parts << text;
    }
    if (row.overdue)
        parts << (row.overdue->downtime.isEmpty()
                      ? QStringLiteral("overdue since %1").arg(TimeText(row.overdue->deadline))
                      : QStringLiteral("overdue (%1)").arg(row.overdue->downtime));
    return parts.join(QStringLiteral("; "));
}

QString TStationBoard::CheckinText(const TRow &row) const
{
    const auto rule = checkins_.RuleFor(row.traffic.key);
    if (!rule)
        return {};
    return QStringLiteral("every %1 min, due %2").arg(rule->minutes).arg(TimeText(row.deadline));
}

QString OverdueAlarmText(const TOverdue &overdue)
{
    // Short enough for the Emergencies window's column: the time alone when it is
    // the day the alarm was raised, the date too otherwise.
    const QDate today =
        (overdue.raised.isValid() ? overdue.raised : QDateTime::currentDateTimeUtc()).toLocalTime().date();
    const auto local = [today](const QDateTime &time) {
        const QDateTime at = time.toLocalTime();
        return at.toString(at.date() == today ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm"));
    };
    QString text =
        QStringLiteral("overdue: every %1 min, due %2").arg(overdue.minutes).arg(local(overdue.deadline));
    text += overdue.lastHeard.isValid() ? QStringLiteral(", last heard %1").arg(local(overdue.lastHeard))
                                        : QStringLiteral(", not heard since set");
    if (!overdue.downtime.isEmpty())
        text += QStringLiteral(" (%1)").arg(overdue.downtime);
    return text;
}

// The model

int TStationBoard::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int TStationBoard::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TStationBoard::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char *const titles[ColumnCount] = {"Name",         "Station",    "Last status",
                                                    "Status time",  "Last heard", "Heard",
                                                    "Last message", "Check-in",   "Alarm"};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    return QString::fromLatin1(titles[section]);
}

QVariant TStationBoard::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows_.size()))
        return {};
    const TRow &r = rows_[std::size_t(index.row())];
    const TStationTraffic &t = r.traffic;
    const auto time = [](const QDateTime &when) { return when.isValid() ? Ms(when) : qint64(-1); };
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return NameAt(index.row());
        case StationColumn:
            return StationNumberText(t.key);
        case StatusColumn:
            if (!t.status)
                return t.statusText;
            return t.statusKnown ? QStringLiteral("%1 %2").arg(*t.status).arg(t.statusText) : t.statusText;
        case StatusTimeColumn:
            return TimeText(t.statusTime);
        case HeardColumn:
            return TimeText(t.lastHeard);
        case AgeColumn:
            return t.lastHeard.isValid()
                       ? AgeWords(t.lastHeard.msecsTo(Now()), [&] { return Local(t.lastHeard).date(); })
                       : QStringLiteral("not heard");
        case MessageColumn:
            return Preview(t.lastMessage);
        case CheckinColumn:
            return CheckinText(r);
        case AlarmColumn:
            return AlarmText(r);
        }
        return {};
    case Qt::ToolTipRole:
        if (index.column() == MessageColumn && !t.lastMessage.isEmpty())
            return t.lastMessage;
        if (index.column() == AlarmColumn || index.column() == NameColumn)
            return index.column() == NameColumn ? LabelAt(index.row()) : AlarmText(r);
        return {};
    case SortRole:
        switch (index.column()) {
        case StationColumn:
            return t.key.fleet * 10000 + t.key.ident;
        case StatusColumn:
            return t.status ? *t.status : -1;
        case StatusTimeColumn:
            return time(t.statusTime);
        case HeardColumn:
            return time(t.lastHeard);
        case AgeColumn: // the youngest first
            return t.lastHeard.isValid() ? -Ms(t.lastHeard) : std::numeric_limits<qint64>::max();
        case MessageColumn:
            return time(t.messageTime);
        case CheckinColumn:
            return r.deadline.isValid() ? Ms(r.deadline) : std::numeric_limits<qint64>::max();
        default:
            return data(index, Qt::DisplayRole).toString().toLower();
        }
    case AlarmRole:
        return !t.emergencies.isEmpty() || r.overdue.has_value();
    case KeyRole:
        return t.key.fleet * 10000 + t.key.ident;
    default:
        return {};
    }
}

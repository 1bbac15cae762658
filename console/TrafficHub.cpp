#include "TrafficHub.h"

#include "HistoryDatabase.h"
#include "HistoryStore.h"
#include "MessageBox.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPointer>
#include <QTimer>
#include <algorithm>

namespace {

// Boxes wait for the event loop: the hub is made while the windows are still
// being created, and the writer thread reports from outside it.
void ShowLater(const QString &text, MsgIcon icon)
{
    QMetaObject::invokeMethod(
        qApp,
        [text, icon] { ShowMessageBox(text, QStringLiteral("Corvalink Console"), icon, MsgButtons::Ok); },
        Qt::QueuedConnection);
}

} // namespace

TTrafficHub::TTrafficHub(const QString &historyFile, QObject *parent) : QObject(parent)
{
    QString problem;
    preferences_ = LoadPreferences(PreferencesFileName, &problem);
    if (!problem.isEmpty())
        ShowLater(problem, MsgIcon::Warning);

    QList<TAlarm> restored;
    try {
        restored = THistoryStore::LoadOpenAlarms(historyFile);
    } catch (const EHistoryError &) {
        // The writer below meets the same file and says what is wrong with it, once.
    }

    THistoryOptions options;
    options.retentionDays = preferences_.historyDays;
    store_ = std::make_unique<THistoryStore>(
        historyFile, [](const QString &message) { ShowLater(message, MsgIcon::Warning); }, options);
    alarms_.SetStore(store_.get());
    alarms_.SetOverdueSounds(preferences_.overdueSound);
    escalationTimer_ = new QTimer(this);
    escalationTimer_->setSingleShot(true);
    connect(escalationTimer_, &QTimer::timeout, this, &TTrafficHub::EscalateDue);
    connect(&alarms_, &TAlarmList::Added, this, &TTrafficHub::TrackAlarm);
    connect(&alarms_, &TAlarmList::Updated, this, &TTrafficHub::TrackAlarm);
    connect(&alarms_, &TAlarmList::MutedNow, this, [this] {
        TTrafficEvent event;
        event.time = QDateTime::currentDateTimeUtc();
        event.direction = TrafficDirection::Local;
        event.kind = TrafficKind::AlarmMuted;
        event.text = QString::number(alarms_.OpenCount());
        store_->TrafficEvent(event);
    });

    if (!restored.isEmpty()) {
        alarms_.Restore(restored);
        // Their wait starts with this run: the start-up box asks for the
        // operator's attention first, and a reminder follows if none comes.
        for (int i = 0; i < alarms_.Alarms().size(); ++i)
            TrackAlarm(i);
        // Oldest first, as the status popup shows them; five at most, so that
        // the box and its OK stay on the screen.
        constexpr int MaxListed = 5;
        QStringList lines;
        for (const TAlarm &alarm : restored.first(std::min<qsizetype>(restored.size(), MaxListed)))
            lines << QStringLiteral("%1  %2  %3 %4")
                         .arg(QLocale::system().toString(alarm.time.toLocalTime(), QLocale::ShortFormat),
                              StationLabel(alarm.name, alarm.fleet, alarm.ident))
                         .arg(alarm.status)
                         .arg(alarm.statusText);
        if (restored.size() > MaxListed)
            lines
                << QStringLiteral("and %1 more (File > Emergencies\u2026)").arg(restored.size() - MaxListed);
        const QString head =
            restored.size() == 1
                ? QStringLiteral(
                      "1 emergency from before the console last stopped is still not acknowledged:")
                : QStringLiteral("%1 emergencies from before the console last stopped are still not "
                                 "acknowledged:")
                      .arg(restored.size());
        ShowLater(head + QStringLiteral("\n\n") + lines.join(QLatin1Char('\n')) +
                      QStringLiteral("\n\nThey are open again: the status popup shows the oldest, and "
                                     "File > Emergencies lists them all."),
                  MsgIcon::Warning);
    }
}

TTrafficHub::~TTrafficHub()
{
    alarms_.SetStore(nullptr);
}

void TTrafficHub::TrafficEvent(const TTrafficEvent &event)
{
    TTrafficEvent stamped = event;
    if (!stamped.time.isValid())
        stamped.time = QDateTime::currentDateTimeUtc();
    store_->TrafficEvent(stamped);
    // Every step of an alarm is a row: opened, or a repeat folded into it.
    if (const TAlarm *alarm = alarms_.Find(alarms_.Raise(stamped)))
        StoreAlarmEvent(alarm->count > 1 ? TrafficKind::AlarmRepeat : TrafficKind::AlarmOpened, *alarm,
                        alarm->count > 1 ? QString::number(alarm->count) : QString());
}

QDateTime TTrafficHub::Now() const
{
    return clock_ ? clock_() : QDateTime::currentDateTimeUtc();
}

void TTrafficHub::SetClock(std::function<QDateTime()> clock)
{
    clock_ = clock;
    alarms_.SetClock(std::move(clock));
}

void TTrafficHub::TrackAlarm(int index)
{
    const TAlarm &alarm = alarms_.Alarms().at(index);
    // Only emergencies escalate: an overdue station is a question, not a call for help.
    if (!alarm.IsEmergency())
        return;
    if (alarm.IsOpen()) {
        if (!escalations_.contains(alarm.id))
            escalations_.insert(alarm.id, {Now(), 0});
    } else if (escalations_.remove(alarm.id) && notifier_) {
        notifier_->Acknowledged(alarm.id);
    }
    ScheduleEscalation();
}

QDateTime TTrafficHub::NextEscalation() const
{
    const int seconds = preferences_.escalateAfterSeconds;
    if (seconds <= 0 || escalations_.isEmpty())
        return {};
    QDateTime next;
    for (const TEscalation &escalation : escalations_) {
        const QDateTime due = escalation.since.addSecs(seconds);
        if (!next.isValid() || due < next)
            next = due;
    }
    return next;
}

void TTrafficHub::ScheduleEscalation()
{
    // One timer for the earliest deadline: thousands of open alarms cost one wake-up.
    const QDateTime next = NextEscalation();
    if (!next.isValid()) {
        escalationTimer_->stop();
        return;
    }
    escalationTimer_->start(int(std::clamp<qint64>(Now().msecsTo(next), 0, 86400000)));
}

void TTrafficHub::EscalateDue()
{
    const int seconds = preferences_.escalateAfterSeconds;
    if (seconds > 0) {
        const QDateTime now = Now();
        // In the order the alarms came, so that the history reads as the screen does.
        QList<int> due;
        for (auto it = escalations_.cbegin(); it != escalations_.cend(); ++it)
            if (it->since.addSecs(seconds) <= now)
                due << alarms_.IndexOf(it.key());
        std::sort(due.begin(), due.end());
        for (int index : due) {
            if (index < 0)
                continue;
            const TAlarm &alarm = alarms_.Alarms().at(index);
            TEscalation &escalation = escalations_[alarm.id];
            // From now, not from the deadline: after a suspend the reminders
            // do not come all at once.
            escalation.since = now;
            ++escalation.times;
            StoreAlarmEvent(TrafficKind::AlarmEscalated, alarm, QString::number(escalation.times));
            if (notifier_)
                notifier_->Escalate(alarm, escalation.times);
        }
    }
    ScheduleEscalation();
}

void TTrafficHub::StoreAlarmEvent(TrafficKind kind, const TAlarm &alarm, const QString &text,
                                  const QString &position)
{
    TTrafficEvent event;
    event.time = QDateTime::currentDateTimeUtc();
    event.direction = TrafficDirection::Local;
    event.kind = kind;
    event.fleet = alarm.fleet;
    event.ident = alarm.ident;
    event.name = alarm.name;
    if (alarm.IsEmergency()) {
        event.status = alarm.status;
        event.statusText = alarm.statusText;
        event.statusKnown = true;
    }
    event.text = text;
    event.position = position;
    store_->TrafficEvent(event);
}

bool TTrafficHub::AcknowledgeAlarm(qint64 id, const QString &how, const QString &position)
{
    const TAlarm *alarm = alarms_.Find(id);
    if (!alarm || !alarm->IsOpen())
        return false;
    alarms_.Acknowledge(id, how);
    StoreAlarmEvent(alarm->IsEmergency() ? TrafficKind::EmergencyAcknowledged : TrafficKind::OverdueCleared,
                    *alarm, how, position);
    return true;
}

qint64 TTrafficHub::RaiseOverdue(std::optional<int> fleet, std::optional<int> ident, const QString &name,
                                 const QString &text, const QDateTime &time)
{
    const qsizetype before = alarms_.Alarms().size();
    const qint64 id = alarms_.RaiseOverdue(fleet, ident, name, text, time);
    if (alarms_.Alarms().size() > before)
        StoreAlarmEvent(TrafficKind::StationOverdue, *alarms_.Find(id), text);
    return id;
}

void TTrafficHub::ClearOverdue(std::optional<int> fleet, std::optional<int> ident, const QString &why)
{
    if (const qint64 id = alarms_.ClearOverdue(fleet, ident, why))
        StoreAlarmEvent(TrafficKind::OverdueCleared, *alarms_.Find(id), why);
}

void TTrafficHub::SetPreferences(const TPreferences &preferences)
{
    if (preferences.alarmSound != preferences_.alarmSound) {
        // Whether alarms can be heard is part of their record.
        TTrafficEvent event;
        event.time = QDateTime::currentDateTimeUtc();
        event.direction = TrafficDirection::Local;
        event.kind = preferences.alarmSound ? TrafficKind::AlarmSoundOn : TrafficKind::AlarmSoundOff;
        store_->TrafficEvent(event);
    }
    preferences_ = preferences;
    alarms_.SetOverdueSounds(preferences_.overdueSound);
    ScheduleEscalation();
    QString problem;
    if (!SavePreferences(PreferencesFileName, preferences_, &problem))
        ShowMessageBox(problem, QStringLiteral("Corvalink Console"), MsgIcon::Warning, MsgButtons::Ok);
    emit PreferencesChanged();
}

bool TTrafficHub::HistoryWorking() const
{
    return store_->Working();
}

void TTrafficHub::FlushHistory()
{
    store_->Flush(std::chrono::seconds(5));
}

#include "PositionLink.h"

#include "ConsoleSession.h"
#include "LogTime.h"
#include "TrafficHub.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>
#include <algorithm>
#include <utility>

namespace {

TMqttClient::TOptions ClientOptions(const TBusPreferences &preferences)
{
    TMqttClient::TOptions options = BrokerOptions(preferences);
    // The same name on every start: the broker keeps what came meanwhile for it.
    options.clientId =
        QStringLiteral("corvalink-%1-position-%2").arg(preferences.radio, preferences.position);
    options.queueLimit = 1000;
    options.cleanSession = false;
    return options;
}

bool SameStation(const TAlarm &a, const TAlarm &b)
{
    return a.fleet == b.fleet && a.ident == b.ident && a.status == b.status;
}

QString CommandText(const TPositionCommand &command, const QString &fleet, const QString &ident)
{
    const QString station = fleet + QLatin1Char('-') + ident;
    switch (command.letter) {
    case 'B':
        return QStringLiteral("Call to %1").arg(station);
    case 'D':
        return QStringLiteral("Disconnect to %1").arg(station);
    case 'E':
        return QStringLiteral("Status %1 to %2").arg(command.texts.statusNumber, station);
    case 'H':
        return QStringLiteral("Status request to %1").arg(station);
    default:
        return QStringLiteral("Message to %1").arg(station);
    }
}

} // namespace

std::unique_ptr<TPositionLink> TPositionLink::FromPreferences(const QString &fileName, const QString &name,
                                                              TConsoleSession &session, TTrafficHub &hub,
                                                              QString *problem)
{
    std::optional<TBusPreferences> preferences = LoadBusPreferences(fileName, problem);
    if (!preferences) {
        if (problem && problem->isEmpty())
            *problem = QStringLiteral("This console is a position without a radio, but %1 names no broker "
                                      "([Bus] Broker= and Radio=).")
                           .arg(fileName);
        return nullptr;
    }
    if (!name.isEmpty())
        preferences->position = name;
    if (!IsPositionName(preferences->position)) {
        if (problem)
            *problem =
                QStringLiteral("The position's name '%1' is not 1 to 64 letters, digits, '-', '_' or '.'.")
                    .arg(preferences->position);
        return nullptr;
    }
    auto position = std::make_unique<TPositionLink>(*preferences, session, hub);
    const QString place = QFileInfo(fileName).absoluteDir().filePath(PlaceFileName);
    if (!position->KeepPlaceIn(place))
        qWarning("The position's place in the feed cannot be kept in %s: %s", qUtf8Printable(place),
                 qUtf8Printable(position->place_.errorString()));
    if (!position->Start(problem))
        return nullptr;
    return position;
}

TPositionLink::TPositionLink(const TBusPreferences &preferences, TConsoleSession &session, TTrafficHub &hub,
                             QObject *parent)
    : QObject(parent), preferences_(preferences), session_(session), hub_(hub), topics_(preferences.radio),
      client_(ClientOptions(preferences))
{
    connect(&client_, &TMqttClient::MessageReceived, this, &TPositionLink::Message);
    connect(&client_, &TMqttClient::ConnectedChanged, this, [this](bool connected) {
        if (!connected)
            SetRadioState(QStringLiteral("no broker"));
        // Nothing applied yet: where the feed stands now, so that a gap is seen
        // even before the first traffic comes.
        else if (boot_.isEmpty() && !fetch_)
            AskFetch(0, 0);
    });
    steady_.start();
    fetchTimer_.setSingleShot(true);
    fetchTimer_.setInterval(FetchTimeoutMs);
    connect(&fetchTimer_, &QTimer::timeout, this, [this] {
        if (fetch_ && fetch_->from != 0)
            NoteMissed(fetch_->to, held_.empty() ? QDateTime() : held_.front().event.time,
                       QStringLiteral("the broker no longer held, the radio's owner did not answer"));
        EndFetch();
    });
    connect(&client_, &TMqttClient::Problem, this,
            [](const QString &text) { qWarning("%s", qUtf8Printable(text)); });
    connect(&hub_.Alarms(), &TAlarmList::Added, this, [this](int) { MatchAlarms(); });
    snapshotTimer_.setSingleShot(true);
    snapshotTimer_.setInterval(SnapshotDelayMs);
    connect(&snapshotTimer_, &QTimer::timeout, this, &TPositionLink::RestoreMissingAlarms);
    connect(&hub_.Alarms(), &TAlarmList::Updated, this, &TPositionLink::LocalAlarmUpdated);
    client_.Subscribe(topics_.state);
    client_.Subscribe(topics_.traffic);
    client_.Subscribe(topics_.alarm);
    client_.Subscribe(topics_.openAlarms);
    client_.Subscribe(topics_.Reply(preferences_.position));
    session_.SetRelay(this);
}

TPositionLink::~TPositionLink()
{
    session_.SetRelay(nullptr);
    client_.Flush(1000);
}

bool TPositionLink::KeepPlaceIn(const QString &fileName)
{
    place_.setFileName(fileName);
    if (!place_.open(QIODevice::ReadWrite))
        return false;
    // "<boot> <seq> <owner's time in ms>"; anything else is a place not known.
    const QList<QByteArray> fields = place_.readLine(200).trimmed().split(' ');
    bool seqOk = false, timeOk = false;
    const quint64 seq = fields.size() == 3 ? fields.at(1).toULongLong(&seqOk) : 0;
    const qint64 ms = fields.size() == 3 ? fields.at(2).toLongLong(&timeOk) : 0;
    if (seqOk && timeOk && !fields.at(0).isEmpty()) {
        boot_ = QString::fromLatin1(fields.at(0));
        lastSeq_ = seq;
        lastTime_ = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    }
    return true;
}

bool TPositionLink::Start(QString *problem)
{
    return client_.Start(problem);
}

QString TPositionLink::Broker() const
{
    return QStringLiteral("%1:%2").arg(preferences_.host).arg(preferences_.port);
}

void TPositionLink::SetRadioState(const QString &state)
{
    if (radioState_ == state)
        return;
    radioState_ = state;
    emit StateChanged(state);
}

QString TPositionLink::NextId()
{
    return QStringLiteral("%1-%2").arg(preferences_.position).arg(++nextId_);
}

void TPositionLink::Relay(char letter, const QString &fleet, const QString &ident, const TCommandTexts &texts)
{
    TPositionCommand command;
    command.id = NextId();
    command.letter = letter;
    command.fleet = fleet.trimmed();
    command.ident = ident.trimmed();
    command.texts = texts;
    sent_.insert(command.id, CommandText(command, command.fleet, command.ident));
    client_.Publish(topics_.Command(preferences_.position), CommandPayload(command));
}

void TPositionLink::Message(const QByteArray &topic, const QByteArray &payload, bool)
{
    if (topic == topics_.traffic) {
        if (const std::optional<TFeedTraffic> traffic = ReadTraffic(payload))
            Traffic(*traffic);
    } else if (topic == topics_.alarm) {
        if (const std::optional<TFeedAlarm> alarm = ReadAlarm(payload))
            Alarm(*alarm);
    } else if (topic == topics_.openAlarms) {
        if (const std::optional<QList<TAlarm>> open = ReadOpenAlarms(payload))
            OpenAlarms(*open);
    } else if (topic == topics_.state) {
        if (const std::optional<TLinkState> state = ReadState(payload))
            State(*state);
    } else if (topic == topics_.Reply(preferences_.position)) {
        if (const std::optional<TFetchedReply> fetched = ReadFetched(payload))
            Fetched(*fetched);
        else if (const std::optional<TCommandReply> reply = ReadReply(payload))
            Reply(*reply);
    }
}

void TPositionLink::Traffic(const TFeedTraffic &traffic)
{
    ObserveOwnerClock(traffic.event.time);
    if (fetch_ && fetch_->from != 0) {
        held_.push_back(traffic); // after what is being fetched
        return;
    }
    if (traffic.boot != boot_) {
        // The owner started again, its numbers with it. The first run seen at all
        // has nothing before it here.
        const bool first = boot_.isEmpty();
        boot_ = traffic.boot;
        lastSeq_ = first ? traffic.seq - 1 : 0;
    }
    if (traffic.seq <= lastSeq_)
        return; // a message sent again after a reconnect: applied already
    if (traffic.seq > lastSeq_ + 1) {
        if (client_.Connected()) {
            held_.push_back(traffic);
            AskFetch(lastSeq_ + 1, traffic.seq - 1);
            return;
        }
        NoteMissed(traffic.seq - 1, traffic.event.time, QStringLiteral("the broker no longer held"));
    }
    Apply(traffic);
}

QDateTime TPositionLink::LocalNow() const
{
    return localClock_ ? localClock_() : QDateTime::currentDateTimeUtc();
}

QDateTime TPositionLink::OwnerNow() const
{
    if (!ownerBase_)
        return LocalNow();
    return QDateTime::fromMSecsSinceEpoch(*ownerBase_ + steady_.elapsed(), Qt::UTC);
}

void TPositionLink::ObserveOwnerClock(const QDateTime &ownerTime)
{
    if (!ownerTime.isValid())
        return;
    const qint64 now = steady_.elapsed();
    constexpr qint64 Window = 10 * 60 * 1000;
    while (!offsets_.empty() && now - offsets_.front().first > Window)
        offsets_.pop_front();
    offsets_.emplace_back(now, ownerTime.toMSecsSinceEpoch() - now);
    const bool first = !ownerBase_;
    const QDateTime before = OwnerNow();
    ownerBase_ = std::max_element(offsets_.begin(), offsets_.end(), [](const auto &a, const auto &b) {
                     return a.second < b.second;
                 })->second;
    if (first)
        emit OwnerClockLearned(before.msecsTo(OwnerNow()));
}

void TPositionLink::Apply(const TFeedTraffic &traffic)
{
    lastSeq_ = traffic.seq;
    lastTime_ = traffic.event.time;
    if (!firstApplied_.isValid())
        firstApplied_ = traffic.event.time;
    // A port notice from the owner changes this console's panel, not its port.
    session_.ApplyRemote(traffic.event, {traffic.entry, traffic.effects});
    if (place_.isOpen()) {
        // Rewritten in place at each entry: a killed console leaves the page with
        // the kernel, which keeps it.
        const QByteArray line = boot_.toLatin1() + ' ' + QByteArray::number(lastSeq_) + ' ' +
                                QByteArray::number(lastTime_.toMSecsSinceEpoch()) + '\n';
        place_.seek(0);
        place_.write(line.leftJustified(80, ' ', true));
        place_.flush();
    }
    if (ownerAlarms_ && !fetch_ && lastSeq_ >= ownerAlarms_->current)
        ReconcileAlarms();
}

void TPositionLink::NoteMissed(quint64 to, const QDateTime &until, const QString &why)
{
    if (to <= lastSeq_)
        return;
    const quint64 missed = to - lastSeq_;
    missed_ += missed;
    const auto time = [](const QDateTime &t) {
        return t.isValid() ? t.toLocalTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"))
                           : QStringLiteral("now");
    };
    // Said plainly where the operator looks.
    session_.Note(QStringLiteral("%1 BUS: missed from %2 to %3 (%4 entries %5)")
                      .arg(LogTimeStamp(), time(lastTime_), time(until))
                      .arg(missed)
                      .arg(why));
    lastSeq_ = to;
}

void TPositionLink::AskFetch(quint64 from, quint64 to)
{
    TPositionCommand command;
    command.id = NextId();
    command.what = TPositionCommand::TWhat::Fetch;
    command.boot = boot_;
    command.from = from;
    command.to = to;
    fetch_ = TFetch{command.id, from, to};
    fetchTimer_.start();
    client_.Publish(topics_.Command(preferences_.position), CommandPayload(command));
}

void TPositionLink::Fetched(const TFetchedReply &reply)
{
    ObserveOwnerClock(reply.time);
    if (!fetch_ || reply.id != fetch_->id)
        return; // a late answer to a fetch given up
    if (reply.open && reply.boot == boot_)
        ownerAlarms_ = TOwnerAlarms{reply.current, reply.time, *reply.open};
    if (fetch_->from == 0) {
        // Where the feed stood when this position began to listen: a later number
        // that does not follow it is a gap.
        if (boot_.isEmpty()) {
            boot_ = reply.boot;
            lastSeq_ = reply.current;
            lastTime_ = reply.time;
            if (reply.open)
                ownerAlarms_ = TOwnerAlarms{reply.current, reply.time, *reply.open};
        }
        return EndFetch();
    }
    if (reply.boot != boot_ || reply.held == 0) {
        NoteMissed(fetch_->to, held_.empty() ? QDateTime() : held_.front().event.time,
                   QStringLiteral("the broker and the radio's owner no longer held"));
        return EndFetch();
    }
    if (reply.held > lastSeq_ + 1)
        NoteMissed(reply.held - 1, reply.entries.isEmpty() ? QDateTime() : reply.entries.first().event.time,
                   QStringLiteral("the broker and the radio's owner no longer held"));
    for (const TFeedTraffic &traffic : reply.entries) {
        if (traffic.seq <= lastSeq_)
            continue;
        if (traffic.seq > lastSeq_ + 1)
            NoteMissed(traffic.seq - 1, traffic.event.time, QStringLiteral("the radio's owner did not give"));
        ++fetched_;
        Apply(traffic);
    }
    if (!reply.last && lastSeq_ < fetch_->to) {
        fetchTimer_.start(); // more of it on the way
        return;
    }
    NoteMissed(fetch_->to, held_.empty() ? QDateTime() : held_.front().event.time,
               QStringLiteral("the radio's owner did not give"));
    EndFetch();
}

void TPositionLink::EndFetch()
{
    fetch_.reset();
    fetchTimer_.stop();
    // What came meanwhile, in order; another gap in it starts another fetch, and
    // the rest waits again behind it.
    std::deque<TFeedTraffic> waiting;
    waiting.swap(held_);
    for (const TFeedTraffic &traffic : waiting)
        Traffic(traffic);
    if (ownerAlarms_ && !fetch_ && lastSeq_ >= ownerAlarms_->current)
        ReconcileAlarms();
}

void TPositionLink::ReconcileAlarms()
{
    const TOwnerAlarms owner = *std::exchange(ownerAlarms_, std::nullopt);
    QList<qint64> closed;
    for (const TAlarm &local : hub_.Alarms().Alarms()) {
        if (!local.IsOpen() || !local.IsEmergency())
            continue;
        // Raised or repeated by traffic after the owner answered: not in its list yet.
        if ((local.last.isValid() ? local.last : local.time) > owner.time)
            continue;
        const auto mine = ownerOf_.constFind(local.id);
        const bool openThere = std::any_of(owner.open.begin(), owner.open.end(), [&](const TAlarm &there) {
            return mine != ownerOf_.cend() ? there.id == *mine : SameStation(there, local);
        });
        if (!openThere)
            closed.append(local.id);
    }
    applyingOwners_ = true;
    for (const qint64 id : std::as_const(closed))
        hub_.AcknowledgeAlarm(id, QStringLiteral("at the radio's owner"));
    applyingOwners_ = false;
    // And what is open there and not here, as the retained list would say.
    OpenAlarms(owner.open);
}

void TPositionLink::State(const TLinkState &state)
{
    SetRadioState(!state.online    ? QStringLiteral("offline")
                  : state.portOpen ? QStringLiteral("online")
                                   : QStringLiteral("port lost"));
}

void TPositionLink::Reply(const TCommandReply &reply)
{
    if (fetch_ && reply.id == fetch_->id) {
        // A fetch the owner would not answer now: not the operator's command.
        if (fetch_->from != 0)
            NoteMissed(fetch_->to, held_.empty() ? QDateTime() : held_.front().event.time,
                       QStringLiteral("the broker no longer held; the radio's owner: ") + reply.text);
        return EndFetch();
    }
    const QString command = sent_.take(reply.id);
    switch (reply.result) {
    case TCommandReply::TResult::Answered:
        emit Answered(command, reply.text);
        break;
    case TCommandReply::TResult::NoAnswer:
        emit Answered(command, QStringLiteral("no answer"));
        break;
    case TCommandReply::TResult::Refused:
        emit Refused(command, reply.text);
        break;
    case TCommandReply::TResult::Done:
        break;
    }
}

void TPositionLink::Alarm(const TFeedAlarm &alarm)
{
    // A transition lost on the way (the broker's queue was full): ask the owner
    // what is open now.
    const bool sameRun = alarm.boot == alarmBoot_;
    const bool gap = sameRun && alarm.seq > alarmSeq_ + 1;
    alarmBoot_ = alarm.boot;
    alarmSeq_ = sameRun ? std::max(alarmSeq_, alarm.seq) : alarm.seq;
    if (gap && !fetch_ && client_.Connected())
        AskFetch(0, 0);
    // A position's own board raises its overdue stations from the same traffic.
    if (!alarm.alarm.IsEmergency())
        return;
    const qint64 owner = alarm.alarm.id;
    if (alarm.transition != TAlarmTransition::Acknowledged) {
        if (!localOf_.contains(owner))
            unmatched_.insert(owner, alarm.alarm);
        MatchAlarms();
        return;
    }
    unmatched_.remove(owner);
    const qint64 local = localOf_.value(owner);
    const TAlarm *mine = hub_.Alarms().Find(local);
    acknowledgedHere_.remove(local);
    if (!mine || !mine->IsOpen())
        return;
    applyingOwners_ = true;
    hub_.AcknowledgeAlarm(local, alarm.alarm.acknowledgedBy.isEmpty() ? TTrafficHub::ByPopup
                                                                      : alarm.alarm.acknowledgedBy);
    applyingOwners_ = false;
}

void TPositionLink::OpenAlarms(const QList<TAlarm> &open)
{
    // Looked at a moment later: the traffic caught up with it (a session that was
    // away) raises its alarms here first, and those are not to be opened twice.
    snapshot_ = open;
    snapshotTimer_.start();
}

void TPositionLink::RestoreMissingAlarms()
{
    // The owner's emergencies open now. One that opened before this position
    // started (its transitions went by before the session existed) is opened here
    // as an alarm from before, so that it shows and can be acknowledged here.
    QList<TAlarm> missing;
    for (const TAlarm &alarm : std::exchange(snapshot_, {})) {
        if (!alarm.IsEmergency() || localOf_.contains(alarm.id))
            continue;
        // Only what opened before this position showed anything: a later one is
        // in the traffic it follows, however late that traffic comes.
        const bool before = !firstApplied_.isValid() || alarm.time < firstApplied_;
        const auto &here = hub_.Alarms().Alarms();
        if (before && std::none_of(here.begin(), here.end(), [&](const TAlarm &local) {
                return local.IsOpen() && SameStation(local, alarm);
            }))
            missing.append(alarm);
        unmatched_.insert(alarm.id, alarm);
    }
    if (!missing.isEmpty())
        hub_.Alarms().Restore(missing);
    MatchAlarms();
}

void TPositionLink::MatchAlarms()
{
    for (auto it = unmatched_.begin(); it != unmatched_.end();) {
        const TAlarm *found = nullptr;
        for (const TAlarm &local : hub_.Alarms().Alarms())
            if (!ownerOf_.contains(local.id) && SameStation(local, it.value()) &&
                (local.IsOpen() || acknowledgedHere_.contains(local.id)))
                found = &local;
        if (!found) {
            ++it;
            continue;
        }
        localOf_.insert(it.key(), found->id);
        ownerOf_.insert(found->id, it.key());
        if (acknowledgedHere_.contains(found->id))
            SendAcknowledgement(it.key(), found->acknowledgedBy);
        it = unmatched_.erase(it);
    }
}

void TPositionLink::LocalAlarmUpdated(int index)
{
    const TAlarm &alarm = hub_.Alarms().Alarms().at(index);
    if (alarm.IsOpen() || applyingOwners_)
        return;
    // Acknowledged by this position's operator: acknowledged at the owner and so everywhere.
    if (const auto owner = ownerOf_.find(alarm.id); owner != ownerOf_.end())
        SendAcknowledgement(*owner, alarm.acknowledgedBy);
    else
        acknowledgedHere_.insert(alarm.id);
}

void TPositionLink::SendAcknowledgement(qint64 ownerId, const QString &how)
{
    TPositionCommand command;
    command.id = NextId();
    command.what = TPositionCommand::TWhat::Acknowledge;
    command.alarm = ownerId;
    command.how = how;
    sent_.insert(command.id, QStringLiteral("Acknowledgement of alarm %1").arg(ownerId));
    client_.Publish(topics_.Command(preferences_.position), CommandPayload(command));
}

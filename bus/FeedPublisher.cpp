#include "FeedPublisher.h"

#include "ConsoleSession.h"
#include "RadioLink.h"
#include "TrafficHub.h"

#include <QDateTime>
#include <QSysInfo>
#include <QUuid>

namespace {

TMqttClient::TOptions ClientOptions(const TBusPreferences &preferences, const TFeedOrigin &origin,
                                    const TFeedTopics &topics)
{
    TMqttClient::TOptions options = BrokerOptions(preferences);
    // One owner per radio: a second one with the same name takes the connection over.
    options.clientId = QStringLiteral("corvalink-%1-owner").arg(preferences.radio);
    options.willTopic = topics.state;
    TLinkState offline;
    offline.online = false;
    options.willPayload = StatePayload(origin, offline);
    options.queueLimit = preferences.queueLimit;
    return options;
}

TFeedOrigin MakeOrigin(const QString &radio)
{
    return {radio, QUuid::createUuid().toString(QUuid::WithoutBraces)};
}

} // namespace

std::unique_ptr<TFeedPublisher> TFeedPublisher::FromPreferences(const QString &fileName, QString *problem)
{
    const std::optional<TBusPreferences> preferences = LoadBusPreferences(fileName, problem);
    if (!preferences)
        return nullptr;
    auto feed = std::make_unique<TFeedPublisher>(*preferences);
    if (!feed->Start(problem))
        return nullptr;
    return feed;
}

TFeedPublisher::TFeedPublisher(const TBusPreferences &preferences, QObject *parent)
    : QObject(parent), preferences_(preferences), origin_(MakeOrigin(preferences.radio)),
      topics_(preferences.radio), client_(ClientOptions(preferences_, origin_, topics_)),
      journal_(preferences.journal)
{
    connect(&client_, &TMqttClient::ConnectedChanged, this, &TFeedPublisher::Connected);
    connect(&client_, &TMqttClient::DropCountChanged, this, &TFeedPublisher::Dropped);
    stationTimer_.setSingleShot(true);
    stationTimer_.setInterval(StationInterval);
    connect(&stationTimer_, &QTimer::timeout, this, &TFeedPublisher::PublishStations);
    connect(&client_, &TMqttClient::Problem, this,
            [](const QString &text) { qWarning("%s", qUtf8Printable(text)); });
}

TFeedPublisher::~TFeedPublisher()
{
    PublishStations();
    // A clean goodbye: the will is only for an owner that vanished.
    TLinkState offline;
    offline.online = false;
    client_.Publish(topics_.state, StatePayload(origin_, offline), true);
    client_.Flush(2000);
}

bool TFeedPublisher::Start(QString *problem)
{
    return client_.Start(problem);
}

void TFeedPublisher::Attach(TRadioLink &link, TConsoleSession &session, TTrafficHub &hub)
{
    hub_ = &hub;
    session_ = &session;
    link_.portOpen = !link.WaitingForPort();
    link_.device = link.PortName().toUpper();
    link_.since = QDateTime::currentDateTimeUtc();
    client_.Publish(topics_.state, StatePayload(origin_, link_), true);
    connect(&session, &TConsoleSession::Traffic, this, &TFeedPublisher::PublishTraffic);
    connect(&session, &TConsoleSession::PortStateChanged, this, &TFeedPublisher::PublishPortState);
    connect(&link, &TRadioLink::PortNameChanged, this, [this](const QString &name) {
        link_.device = name.toUpper();
        client_.Publish(topics_.state, StatePayload(origin_, link_), true);
    });
    connect(&hub.Alarms(), &TAlarmList::Changed, this, &TFeedPublisher::PublishAlarmChanges);
    PublishAlarmChanges();
}

void TFeedPublisher::PublishTraffic(const TTrafficEvent &event)
{
    // What the log and the popups got goes with the event: a position shows the same.
    const QByteArray payload = session_ ? TrafficPayload(origin_, ++trafficSeq_, event,
                                                         session_->Shown().entry, session_->Shown().effects)
                                        : TrafficPayload(origin_, ++trafficSeq_, event);
    journal_.Add(trafficSeq_, payload);
    client_.Publish(topics_.traffic, payload);
    if (event.direction != TrafficDirection::In || !event.fleet || !event.ident)
        return;
    TStationState &station = stations_[{*event.fleet, *event.ident}];
    station.fleet = *event.fleet;
    station.ident = *event.ident;
    station.name = event.name;
    station.lastHeard = event.time;
    if (event.kind == TrafficKind::Status && event.status) {
        station.status = event.status;
        station.statusText = event.statusText;
        station.statusTime = event.time;
        station.emergency = event.IsEmergency();
    }
    changedStations_.insert({station.fleet, station.ident});
    if (!stationTimer_.isActive())
        stationTimer_.start();
}

void TFeedPublisher::PublishStations()
{
    for (const QPair<int, int> &key : std::as_const(changedStations_))
        client_.Publish(topics_.Station(key.first, key.second), StationPayload(origin_, stations_.value(key)),
                        true);
    changedStations_.clear();
}

void TFeedPublisher::PublishPortState(bool open, const QString &device)
{
    link_.portOpen = open;
    if (!device.isEmpty())
        link_.device = device;
    link_.since = QDateTime::currentDateTimeUtc();
    client_.Publish(topics_.state, StatePayload(origin_, link_), true);
}

void TFeedPublisher::PublishAlarmChanges()
{
    if (!hub_)
        return;
    for (const TAlarm &alarm : hub_->Alarms().Alarms()) {
        auto known = alarmsPublished_.find(alarm.id);
        if (known == alarmsPublished_.end()) {
            TAlarm opened = alarm;
            opened.acknowledged = {};
            client_.Publish(topics_.alarm,
                            AlarmPayload(origin_, ++alarmSeq_, TAlarmTransition::Opened, opened));
            known = alarmsPublished_.insert(alarm.id, {true, alarm.count});
        }
        if (!known->open)
            continue;
        if (alarm.count > known->count) {
            TAlarm repeated = alarm;
            repeated.acknowledged = {};
            client_.Publish(topics_.alarm,
                            AlarmPayload(origin_, ++alarmSeq_, TAlarmTransition::Repeated, repeated));
            known->count = alarm.count;
        }
        if (!alarm.IsOpen()) {
            client_.Publish(topics_.alarm,
                            AlarmPayload(origin_, ++alarmSeq_, TAlarmTransition::Acknowledged, alarm));
            known->open = false;
        }
    }
    // The emergencies open now, retained: a position that starts after they opened
    // (its session new, the transitions gone by) still shows them and can
    // acknowledge them.
    QList<TAlarm> open;
    for (const TAlarm &alarm : hub_->Alarms().Alarms())
        if (alarm.IsOpen() && alarm.IsEmergency())
            open.append(alarm);
    const QByteArray snapshot = OpenAlarmsPayload(origin_, open);
    if (snapshot != openAlarmsPublished_) {
        openAlarmsPublished_ = snapshot;
        client_.Publish(topics_.openAlarms, snapshot, true);
    }
}

void TFeedPublisher::Connected(bool connected)
{
    if (connected) {
        qInfo("The feed is connected to the broker %s:%d as radio %s.", qUtf8Printable(preferences_.host),
              preferences_.port, qUtf8Printable(preferences_.radio));
        // A broker that restarted without its store has lost the retained states.
        client_.Publish(topics_.state, StatePayload(origin_, link_), true);
        if (!openAlarmsPublished_.isEmpty())
            client_.Publish(topics_.openAlarms, openAlarmsPublished_, true);
        for (const TStationState &station : std::as_const(stations_))
            client_.Publish(topics_.Station(station.fleet, station.ident), StationPayload(origin_, station),
                            true);
    } else {
        qWarning("The feed lost the broker %s:%d; it queues up to %d messages and tries again.",
                 qUtf8Printable(preferences_.host), preferences_.port, preferences_.queueLimit);
    }
}

void TFeedPublisher::Dropped(quint64 total)
{
    // One line at most every ten seconds, with the total.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (total == 1 || now - lastDropLog_ >= 10000) {
        lastDropLog_ = now;
        qWarning("The feed's queue is full; feed messages dropped so far: %llu.",
                 static_cast<unsigned long long>(total));
    }
    emit DropCountChanged(total);
}

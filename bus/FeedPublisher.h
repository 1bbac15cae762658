#pragma once

#include "BusPreferences.h"
#include "FeedJournal.h"
#include "FeedPayload.h"
#include "MqttClient.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <memory>

class TConsoleSession;
class TRadioLink;
class TTrafficHub;

// The radio owner's feed: every traffic event in log order, every alarm
// transition, the retained link state (with "offline" as the last will) and a
// retained state per station heard, published to corvalink/<radio>/... Each
// run has a boot id; traffic and alarms each number their messages from 1 in
// it, so a reader sees a gap (a drop) or a restart. Lives on the thread of the
// session it is attached to; never waits on the network.
class TFeedPublisher final : public QObject {
    Q_OBJECT
public:
    static constexpr int StationInterval = 500; // ms
    // The feed the preferences file asks for, started: null when its [Bus]
    // section names no broker (then nothing is started, not even the library's
    // thread) or when it cannot be used (*problem says why).
    static std::unique_ptr<TFeedPublisher> FromPreferences(const QString &fileName, QString *problem);

    explicit TFeedPublisher(const TBusPreferences &preferences, QObject *parent = nullptr);
    // Publishes "offline" and gives the queue up to two seconds to reach the broker.
    ~TFeedPublisher() override;

    bool Start(QString *problem);
    // Publishes the link's state now and the session's events and the hub's
    // alarm transitions from now on (the alarms already open as opened).
    void Attach(TRadioLink &link, TConsoleSession &session, TTrafficHub &hub);

    void PublishTraffic(const TTrafficEvent &event);
    void PublishPortState(bool open, const QString &device);
    // Compares the hub's alarm list with what was published and publishes the difference.
    void PublishAlarmChanges();

    TMqttClient &Client() { return client_; }
    const TBusPreferences &Preferences() const { return preferences_; }
    const TFeedOrigin &Origin() const { return origin_; }
    const TFeedTopics &Topics() const { return topics_; }
    quint64 DropCount() const { return client_.DropCount(); }
    quint64 TrafficSeq() const { return trafficSeq_; }
    // The traffic messages of this run still held for positions that missed some.
    const TFeedJournal &Journal() const { return journal_; }
    // The open-alarms message as last published (empty before Attach).
    QByteArray OpenAlarmsSnapshot() const { return openAlarmsPublished_; }

signals:
    // The total of feed messages dropped because the broker was away too long.
    void DropCountChanged(quint64 total);

private:
    void Connected(bool connected);
    void Dropped(quint64 total);
    void PublishStations();

    TBusPreferences preferences_;
    TFeedOrigin origin_;
    TFeedTopics topics_;
    TMqttClient client_;
    TTrafficHub *hub_ = nullptr;
    TConsoleSession *session_ = nullptr;
    TLinkState link_;
    quint64 trafficSeq_ = 0, alarmSeq_ = 0;
    TFeedJournal journal_;
    QHash<QPair<int, int>, TStationState> stations_;
    // Stations changed since their state was last published: at most one
    // retained message per station per StationInterval, however busy it is.
    QSet<QPair<int, int>> changedStations_;
    QTimer stationTimer_;
    struct TPublishedAlarm {
        bool open = true;
        int count = 1;
    };
    QHash<qint64, TPublishedAlarm> alarmsPublished_; // as published
    QByteArray openAlarmsPublished_;                 // the retained snapshot last published
    qint64 lastDropLog_ = 0;
};

#pragma once

#include "BusPreferences.h"
#include "CommandMessage.h"
#include "FeedPayload.h"
#include "MqttClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class TConsoleSession;
class TTrafficHub;

// A control-room position: a console with no radio of its own. The owner's
// traffic comes from the feed and is applied to the session as if decoded
// here (the same log entries, popups and emergency, with the owner's times),
// so the hub's history and alarms and the board follow as on the owner. The
// session's commands go to the owner (ICommandRelay), and alarms acknowledged
// here are acknowledged there; the owner's acknowledgements close them here.
// A persistent session at QoS 1 keeps what comes while the position is away;
// the feed's numbers show what the broker could not keep, and that is fetched
// from the owner's journal (what the owner no longer holds either is said in
// the log plainly).
class TPositionLink final : public QObject, public ICommandRelay {
    Q_OBJECT
public:
    // The position the preferences ask for (name, when given, overrides
    // Bus/Position), started: null with *problem when there is no broker in
    // them or it cannot be used.
    static std::unique_ptr<TPositionLink> FromPreferences(const QString &fileName, const QString &name,
                                                          TConsoleSession &session, TTrafficHub &hub,
                                                          QString *problem);

    TPositionLink(const TBusPreferences &preferences, TConsoleSession &session, TTrafficHub &hub,
                  QObject *parent = nullptr);
    // Where this position stands in the owner's feed (its run and number) is kept
    // in this file, beside the preferences, and read back at the next start: a
    // restart takes up where the last run was, skipping what it applied and
    // fetching what it lacks. Before Start. False when it cannot be written
    // (the position runs on without it).
    static inline const QString PlaceFileName = QStringLiteral("CorvalinkPosition.txt");
    bool KeepPlaceIn(const QString &fileName);
    ~TPositionLink() override;
    bool Start(QString *problem);

    void Relay(char letter, const QString &fleet, const QString &ident, const TCommandTexts &texts) override;

    QString Position() const { return preferences_.position; }
    QString Radio() const { return preferences_.radio; }
    // "127.0.0.1:1883": the broker it follows the radio through.
    QString Broker() const;
    // "online", "port lost", "offline" (the owner's last will), "no broker".
    QString RadioState() const { return radioState_; }
    TMqttClient &Client() { return client_; }
    // The owner's clock now, as its messages show it, run on from there by this
    // machine's steady clock: the times a position shows and counts from are the
    // owner's, whatever this machine's wall clock says or does. This machine's
    // clock until the first message.
    QDateTime OwnerNow() const;
    // This machine's wall clock (UTC); the system's unless a test sets another.
    void SetLocalClock(std::function<QDateTime()> clock) { localClock_ = std::move(clock); }

    // The owner's traffic number this position stands at (applied or given up).
    quint64 At() const { return lastSeq_; }
    // Traffic messages neither the broker nor the owner could give.
    quint64 Missed() const { return missed_; }
    // Traffic messages the owner gave again after the broker had lost them.
    quint64 Fetched() const { return fetched_; }
    // A fetch gets no answer in this long (an owner gone, a reply dropped): what
    // it asked for is taken as missed.
    static constexpr int FetchTimeoutMs = 10000;

signals:
    // The broker or the radio's state changed (RadioState()).
    void StateChanged(const QString &radioState);
    // The radio's answer to a command of this position ("Success"), or "no answer".
    void Answered(const QString &command, const QString &answer);
    // The owner did not send a command of this position, or refused an acknowledgement.
    void Refused(const QString &command, const QString &why);
    // The owner's clock was learned from its first message: OwnerNow() moved by ms
    // from this machine's clock, which it gave until then.
    void OwnerClockLearned(qint64 ms);

private:
    void Message(const QByteArray &topic, const QByteArray &payload, bool retained);
    void Traffic(const TFeedTraffic &traffic);
    void Apply(const TFeedTraffic &traffic);
    void AskFetch(quint64 from, quint64 to);
    void Fetched(const TFetchedReply &reply);
    void EndFetch();
    // Once the traffic applied here has reached the owner's answer: an emergency
    // open here that the owner no longer has open was acknowledged there while
    // its acknowledgement did not reach this position (lost with a full broker
    // queue, or while this console was not running).
    void ReconcileAlarms();
    // Notes the messages after lastSeq_ up to `to` as missed; `until` is the owner's
    // time of what comes after them.
    void NoteMissed(quint64 to, const QDateTime &until, const QString &why);
    void Alarm(const TFeedAlarm &alarm);
    void OpenAlarms(const QList<TAlarm> &open);
    void RestoreMissingAlarms();
    static constexpr int SnapshotDelayMs = 1500;
    void State(const TLinkState &state);
    void Reply(const TCommandReply &reply);
    void SetRadioState(const QString &state);
    QDateTime LocalNow() const;
    // The owner's clock read at `ownerTime`, seen here now.
    void ObserveOwnerClock(const QDateTime &ownerTime);
    // The local alarm an owner's alarm stands for: matched by station and status.
    void MatchAlarms();
    void LocalAlarmUpdated(int index);
    void SendAcknowledgement(qint64 ownerId, const QString &how);
    QString NextId();

    TBusPreferences preferences_;
    TConsoleSession &session_;
    TTrafficHub &hub_;
    TFeedTopics topics_;
    TMqttClient client_;
    QString radioState_ = QStringLiteral("no broker");
    // The owner's run and the last traffic number applied from it.
    QString boot_;
    quint64 lastSeq_ = 0;
    QDateTime lastTime_;
    QDateTime firstApplied_; // the owner's time of the first event this position showed
    quint64 missed_ = 0, fetched_ = 0;
    quint64 nextId_ = 0;
    // The fetch under way: its id and the numbers asked (from 0: only where the
    // feed stands). Traffic that comes meanwhile waits in held_, in order.
    struct TFetch {
        QString id;
        quint64 from = 0, to = 0;
    };
    std::optional<TFetch> fetch_;
    // The owner's open emergencies as of its traffic number `current` and time.
    struct TOwnerAlarms {
        quint64 current = 0;
        QDateTime time;
        QList<TAlarm> open;
    };
    std::optional<TOwnerAlarms> ownerAlarms_;
    // The owner's run and last alarm number seen: a gap asks for its open alarms.
    QString alarmBoot_;
    quint64 alarmSeq_ = 0;
    std::deque<TFeedTraffic> held_;
    QTimer fetchTimer_;
    QFile place_;
    // The owner's clock less the steady one. A message is never seen before it
    // was sent, so each gives a lower bound; the largest of the last ten minutes
    // is taken (a message that waited at the broker gives a low one).
    std::function<QDateTime()> localClock_;
    std::deque<std::pair<qint64, qint64>> offsets_; // (steady ms, owner ms - steady ms)
    QElapsedTimer steady_;
    std::optional<qint64> ownerBase_;
    QHash<QString, QString> sent_;            // command id -> what it was, for the answer's text
    QHash<qint64, qint64> localOf_, ownerOf_; // alarm ids both ways
    // The owner's last snapshot of its open emergencies, looked at once the
    // traffic that came with it has been applied.
    QList<TAlarm> snapshot_;
    QTimer snapshotTimer_;
    QHash<qint64, TAlarm> unmatched_; // owner's open alarms not found here yet
    QSet<qint64> acknowledgedHere_;   // local ids acknowledged here, not yet told
    bool applyingOwners_ = false;     // an acknowledgement that came from the owner
};

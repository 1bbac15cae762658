#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

struct mosquitto;

// One connection to a broker through libmosquitto. A network thread of the
// client's own runs the library's loop and reconnects with back-off (1 s
// doubling to 30 s). Publish never waits on the network: messages wait in a
// bounded queue here, owned by the thread that made the client, and go to the
// network thread while it is connected, at most InFlightLimit unacknowledged at
// a time. Everything is QoS 1; what the library holds when the line drops it
// sends again after the reconnect.
class TMqttClient final : public QObject {
    Q_OBJECT
public:
    struct TOptions {
        QString host;
        int port = 1883;
        bool tls = false;
        QString caFile; // empty: the system's certificates
        QString user, password;
        QString clientId;
        // Published by the broker when this client goes without saying goodbye.
        QByteArray willTopic, willPayload;
        int queueLimit = 10000;
        // False: the broker keeps this client's subscriptions and the QoS 1
        // messages for them while it is away (a position catching up).
        bool cleanSession = true;
    };
    static constexpr int InFlightLimit = 100;
    // While messages flow, the network thread wakes once each BatchDelay: it
    // reads the acknowledgements that came and sends what came meanwhile in one
    // TCP segment. The first message after a quiet spell goes at once. A wake-up
    // per message and per acknowledgement cost more than the messages; each
    // batch costs a wake-up and a segment, so 25 ms cost the owner 0.25 % of a
    // core more than 50 at the line's rate, for a position's log up to 25 ms sooner.
    static constexpr int BatchDelay = 50; // ms
    // The network thread's name (it shows in ps and /proc).
    static constexpr const char *ThreadName = "mqtt network";

    explicit TMqttClient(TOptions options, QObject *parent = nullptr);
    // Disconnects and stops the network thread; what is still queued is lost
    // (Flush first).
    ~TMqttClient() override;

    // Starts the network thread and the first connection attempt (later ones
    // follow by themselves). False and *problem when the options cannot be used.
    bool Start(QString *problem);

    // Queues a message. A retained one replaces a waiting one for the same topic
    // and is never dropped; any other is dropped (and counted) while QueueLimit
    // messages wait or are unacknowledged. False when dropped.
    bool Publish(const QByteArray &topic, const QByteArray &payload, bool retain = false);
    // Runs the event loop until everything queued is acknowledged, at most
    // timeoutMs; false when something is left.
    bool Flush(int timeoutMs);
    // Subscribes at QoS 1, now when connected and again on every connection.
    void Subscribe(const QByteArray &topic);

    bool Connected() const { return connected_; }
    quint64 DropCount() const { return dropped_; }
    // Waiting plus sent and not yet acknowledged.
    int Queued() const { return int(waiting_.size()) + InFlight(); }

signals:
    void ConnectedChanged(bool connected);
    // The total of messages dropped so far, after each drop.
    void DropCountChanged(quint64 total);
    // The broker refused the connection (user, password), or the library failed.
    void Problem(const QString &text);
    // A message on a subscribed topic, in the order the broker sent them.
    void MessageReceived(const QByteArray &topic, const QByteArray &payload, bool retained);

private:
    struct TMessage {
        QByteArray topic, payload;
        bool retain = false;
    };
    static void OnConnect(mosquitto *, void *self, int rc);
    static void OnDisconnect(mosquitto *, void *self, int rc);
    static void OnPublish(mosquitto *, void *self, int mid);
    static void OnMessage(mosquitto *, void *self, const struct mosquitto_message *message);
    void SetConnected(bool connected);
    int InFlight() const { return int(handed_ - acknowledged_); }
    void Pump();
    void Drop();
    void Wake();
    // The network thread.
    void Network();
    void Read();
    void SendBatch();
    void SubscribeNew();
    void Refused(TMessage message, int rc);

    TOptions options_;
    mosquitto *mosq_ = nullptr;
    std::thread network_;
    int wake_ = -1; // an eventfd: new messages after a quiet spell, subscriptions, the end
    std::atomic<bool> stop_ = false;
    std::atomic<bool> connected_ = false;
    // Owner's thread only from here on.
    std::deque<TMessage> waiting_;
    // Retained messages still waiting, by topic (references into a deque stay
    // valid while elements come and go at its ends).
    QHash<QByteArray, TMessage *> waitingRetained_;
    int waitingPlain_ = 0;
    quint64 handed_ = 0; // to the network thread
    quint64 dropped_ = 0;
    int lastRefusal_ = 0;
    // Counted on the network thread; the owner's thread is only woken for it
    // when messages wait (steady traffic with the broker up costs no wake-up).
    std::atomic<quint64> acknowledged_ = 0;
    std::atomic<bool> anyWaiting_ = false;
    std::atomic<bool> pumpPosted_ = false;
    // Handed over, in order, not yet given to the library.
    std::mutex handoffMutex_;
    std::deque<TMessage> handoff_;
    bool networkIdle_ = false; // under the mutex: no batch due, a new message must wake it
    std::mutex subscriptionsMutex_;
    QList<QByteArray> subscriptions_;
    // The network thread's own.
    bool libraryConnected_ = false; // CONNACK received on the present connection
    qsizetype subscribed_ = 0;      // of subscriptions_, subscribed on the present connection
    int backoff_ = 1;               // s before the next attempt
};

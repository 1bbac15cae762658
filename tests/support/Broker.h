#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <mutex>

struct mosquitto;

// A mosquitto broker of the test's own: its own config file and store in a
// scratch directory, listening on 127.0.0.1 at a port that was free. Its store
// is kept across Stop and Start (persistent sessions survive a restart, as on a
// real broker's machine). Stopped when it goes.
class TBroker final {
public:
    // maxQueued: messages the broker keeps for a client that is away (its
    // max_queued_messages); past it the newest are dropped. Not persistent: a
    // restart forgets every session.
    explicit TBroker(int maxQueued = 100000, bool persistent = true);
    ~TBroker();
    TBroker(const TBroker &) = delete;
    TBroker &operator=(const TBroker &) = delete;

    // Listens with TLS (mqtts) with the tests' server certificate for 127.0.0.1;
    // clients trust TestCaFile(). Before Start.
    void UseTls() { tls_ = true; }
    static QString TestCaFile() { return QStringLiteral(CORVALINK_TEST_TLS_DIR "/ca.pem"); }
    // Starts it and waits until it listens (the same port every time). Empty
    // when it does, else what failed.
    QString Start();
    // SIGTERM and wait: the broker writes its store and goes.
    void Stop();
    bool Running() const { return process_.state() != QProcess::NotRunning; }
    int Port() const { return port_; }
    // "mqtt://127.0.0.1:<port>" for the [Bus] section.
    QString Url() const;

private:
    QTemporaryDir dir_;
    QProcess process_;
    int port_ = 0;
    int maxQueued_ = 100000;
    bool persistent_ = true;
    bool tls_ = false;
};

// A TCP relay on loopback (socat) from a port of its own to the broker's: a
// test stops and starts it to decide when a client can reach the broker again.
class TRelay final {
public:
    explicit TRelay(int brokerPort);
    ~TRelay();
    TRelay(const TRelay &) = delete;
    TRelay &operator=(const TRelay &) = delete;
    QString Start(); // empty when it listens
    void Stop();
    QString Url() const;
    int Port() const { return port_; }

private:
    QProcess process_;
    int brokerPort_ = 0;
    int port_ = 0;
};

// A reader of the feed: subscribes to corvalink/# (QoS 1, a persistent session
// under its own client id, so that what comes while it is away waits for it)
// and records every message on the library's thread.
class TFeedReader final {
public:
    struct TMessage {
        QByteArray topic, payload;
        bool retained = false;
        QJsonObject Json() const;
    };
    TFeedReader(int port, const QString &clientId);
    ~TFeedReader();
    TFeedReader(const TFeedReader &) = delete;
    TFeedReader &operator=(const TFeedReader &) = delete;

    bool Subscribed() const { return Subscriptions() > 0; }
    // Subscriptions acknowledged so far: one per connection to a broker.
    int Subscriptions() const;
    QList<TMessage> Messages() const;
    // The messages whose topic ends with suffix ("/traffic"), in arrival order.
    QList<TMessage> On(const QByteArray &suffix) const;

private:
    static void OnConnect(mosquitto *, void *self, int rc);
    static void OnSubscribe(mosquitto *, void *self, int, int, const int *);
    static void OnMessage(mosquitto *, void *self, const struct mosquitto_message *message);

    mosquitto *mosq_ = nullptr;
    mutable std::mutex mutex_;
    QList<TMessage> messages_;
    int subscriptions_ = 0;
};

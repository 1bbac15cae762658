#include "MqttClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <mosquitto.h>
#include <mutex>

namespace {

constexpr int KeepAliveSeconds = 30;

QString LibraryError(int rc)
{
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

TMqttClient::TMqttClient(TOptions options, QObject *parent) : QObject(parent), options_(std::move(options))
{
    batch_.setSingleShot(true);
    batch_.setInterval(BatchDelay);
    connect(&batch_, &QTimer::timeout, this, &TMqttClient::Pump);
}

TMqttClient::~TMqttClient()
{
    if (!mosq_)
        return;
    if (started_) {
        mosquitto_disconnect(mosq_);
        mosquitto_loop_stop(mosq_, false);
    }
    mosquitto_destroy(mosq_);
}

bool TMqttClient::Start(QString *problem)
{
    static std::once_flag libraryReady;
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });

    const auto fail = [&](const QString &what, int rc) {
        if (problem)
            *problem = QStringLiteral("The feed to the broker %1:%2 cannot start: %3 (%4).")
                           .arg(options_.host)
                           .arg(options_.port)
                           .arg(what, LibraryError(rc));
        return false;
    };
    mosq_ = mosquitto_new(options_.clientId.toUtf8().constData(), options_.cleanSession, this);
    if (!mosq_)
        return fail(QStringLiteral("no client"), MOSQ_ERR_NOMEM);
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq_, &TMqttClient::OnConnect);
    mosquitto_disconnect_callback_set(mosq_, &TMqttClient::OnDisconnect);
    mosquitto_publish_callback_set(mosq_, &TMqttClient::OnPublish);
    mosquitto_message_callback_set(mosq_, &TMqttClient::OnMessage);
    mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
    int rc = MOSQ_ERR_SUCCESS;
    if (!options_.user.isEmpty()) {
        const QByteArray user = options_.user.toUtf8();
        const QByteArray password = options_.password.toUtf8();
        rc = mosquitto_username_pw_set(mosq_, user.constData(),
                                       options_.password.isEmpty() ? nullptr : password.constData());
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("the user name"), rc);
    }
    if (options_.tls) {
        if (options_.caFile.isEmpty()) {
            rc = mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            const QByteArray caFile = options_.caFile.toLocal8Bit();
            rc = mosquitto_tls_set(mosq_, caFile.constData(), nullptr, nullptr, nullptr, nullptr);
        }
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("TLS"), rc);
    }
    if (!options_.willTopic.isEmpty()) {
        rc = mosquitto_will_set(mosq_, options_.willTopic.constData(), int(options_.willPayload.size()),
                                options_.willPayload.constData(), 1, true);
        if (rc != MOSQ_ERR_SUCCESS)
            return fail(QStringLiteral("the last will"), rc);
    }
    // A broker that is not there yet is no failure: the library's thread goes on
    // trying. Only a name that cannot be looked up at all blocks here, once.
    rc = mosquitto_connect_async(mosq_, options_.host.toUtf8().constData(), options_.port, KeepAliveSeconds);
    if (rc == MOSQ_ERR_INVAL)
        return fail(QStringLiteral("the address"), rc);
    rc = mosquitto_loop_start(mosq_);
    if (rc != MOSQ_ERR_SUCCESS)
        return fail(QStringLiteral("the network thread"), rc);
    started_ = true;
    return true;
}

void TMqttClient::OnConnect(mosquitto *mosq, void *self, int rc)
{
    auto *client = static_cast<TMqttClient *>(self);
    // Subscribed from here, before any message can come: nothing published
    // after the connection is missed.
    if (rc == 0) {
        const std::lock_guard lock(client->subscriptionsMutex_);
        client->libraryConnected_ = true;
        for (const QByteArray &topic : std::as_const(client->subscriptions_))
            mosquitto_subscribe(mosq, nullptr, topic.constData(), 1);
    }
    QMetaObject::invokeMethod(
        client,
        [client, rc] {
            if (rc == 0) {
                client->lastRefusal_ = 0;
                client->SetConnected(true);
                client->Pump();
            } else if (rc != client->lastRefusal_) {
                client->lastRefusal_ = rc;
                emit client->Problem(QStringLiteral("The broker %1:%2 refused the feed's connection: %3.")
                                         .arg(client->options_.host)
                                         .arg(client->options_.port)
                                         .arg(QString::fromUtf8(mosquitto_connack_string(rc))));
            }
        },
        Qt::QueuedConnection);
}

void TMqttClient::OnDisconnect(mosquitto *, void *self, int)
{
    auto *client = static_cast<TMqttClient *>(self);
    {
        const std::lock_guard lock(client->subscriptionsMutex_);
        client->libraryConnected_ = false;
    }
    QMetaObject::invokeMethod(
        client, [client] { client->SetConnected(false); }, Qt::QueuedConnection);
}

void TMqttClient::OnPublish(mosquitto *, void *self, int)
{
    auto *client = static_cast<TMqttClient *>(self);
    ++client->acknowledged_;
    if (client->anyWaiting_ && !client->pumpPosted_.exchange(true))
        QMetaObject::invokeMethod(
            client,
            [client] {
                client->pumpPosted_ = false;
                client->Pump();
            },
            Qt::QueuedConnection);
}

void TMqttClient::OnMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *client = static_cast<TMqttClient *>(self);
    QByteArray topic(message->topic);
    QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    const bool retained = message->retain;
    QMetaObject::invokeMethod(
        client,
        [client, topic, payload, retained] { emit client->MessageReceived(topic, payload, retained); },
        Qt::QueuedConnection);
}

void TMqttClient::Subscribe(const QByteArray &topic)
{
    const std::lock_guard lock(subscriptionsMutex_);
    subscriptions_ << topic;
    // A connection made meanwhile has subscribed it already or will; one more
    // subscription of the same topic is harmless.
    if (mosq_ && libraryConnected_)
        mosquitto_subscribe(mosq_, nullptr, topic.constData(), 1);
}

void TMqttClient::SetConnected(bool connected)
{
    if (connected_ == connected)
        return;
    connected_ = connected;
    emit ConnectedChanged(connected);
}

bool TMqttClient::Publish(const QByteArray &topic, const QByteArray &payload, bool retain)
{
    if (retain) {
        if (TMessage *waiting = waitingRetained_.value(topic)) {
            waiting->payload = payload;
            return true;
        }
        waiting_.push_back({topic, payload, true});
        waitingRetained_.insert(topic, &waiting_.back());
    } else {
        if (waitingPlain_ + InFlight() >= options_.queueLimit) {
            Drop();
            return false;
        }
        waiting_.push_back({topic, payload, false});
        ++waitingPlain_;
    }
    if (connected_ && !batch_.isActive())
        batch_.start();
    return true;
}

void TMqttClient::Pump()
{
    for (;;) {
        while (connected_ && InFlight() < InFlightLimit && !waiting_.empty()) {
            TMessage &message = waiting_.front();
            const int rc =
                mosquitto_publish(mosq_, nullptr, message.topic.constData(), int(message.payload.size()),
                                  message.payload.constData(), 1, message.retain);
            if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_NOMEM) {
                anyWaiting_ = true;
                return; // stays first; the reconnect pumps again
            }
            if (message.retain)
                waitingRetained_.remove(message.topic);
            else
                --waitingPlain_;
            if (rc == MOSQ_ERR_SUCCESS) {
                ++handed_;
            } else {
                // Too large for the broker, or a topic the library refuses: never sendable.
                emit Problem(QStringLiteral("A feed message on %1 was not sent: %2.")
                                 .arg(QString::fromUtf8(message.topic), LibraryError(rc)));
                Drop();
            }
            waiting_.pop_front();
        }
        anyWaiting_ = !waiting_.empty();
        // An acknowledgement that came before anyWaiting_ was set woke nobody:
        // look at the window again after setting it.
        if (!anyWaiting_ || !connected_ || InFlight() >= InFlightLimit)
            return;
    }
}

void TMqttClient::Drop()
{
    ++dropped_;
    emit DropCountChanged(dropped_);
}

bool TMqttClient::Flush(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer tick; // wakes the wait below when no acknowledgement comes
    tick.start(20);
    while (Queued() > 0 && connected_ && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return Queued() == 0;
}

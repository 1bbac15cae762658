#include "MqttClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <algorithm>
#include <mosquitto.h>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int KeepAliveSeconds = 30;

QString LibraryError(int rc)
{
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

TMqttClient::TMqttClient(TOptions options, QObject *parent) : QObject(parent), options_(std::move(options)) {}

TMqttClient::~TMqttClient()
{
    if (network_.joinable()) {
        stop_ = true;
        Wake();
        network_.join();
    }
    if (mosq_)
        mosquitto_destroy(mosq_);
    if (wake_ >= 0)
        close(wake_);
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
    // The network thread is ours: the library must guard what it shares with it.
    mosquitto_threaded_set(mosq_, true);
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
    // A broker that is not there yet is no failure: the network thread goes on
    // trying. Only a name that cannot be looked up at all blocks here, once.
    rc = mosquitto_connect_async(mosq_, options_.host.toUtf8().constData(), options_.port, KeepAliveSeconds);
    if (rc == MOSQ_ERR_INVAL)
        return fail(QStringLiteral("the address"), rc);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0)
        return fail(QStringLiteral("the network thread"), MOSQ_ERR_ERRNO);
    network_ = std::thread(&TMqttClient::Network, this);
    pthread_setname_np(network_.native_handle(), ThreadName);
    return true;
}

void TMqttClient::Wake()
{
    const quint64 one = 1;
    if (write(wake_, &one, sizeof one) < 0) {
        // Only a counter at its limit refuses, and then a wake-up is pending anyway.
    }
}

void TMqttClient::Network()
{
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    const auto msUntil = [](Clock::time_point at, Clock::time_point now) {
        return int(std::chrono::ceil<milliseconds>(std::max(at, now) - now).count());
    };
    const auto takeWake = [this] {
        quint64 count;
        if (read(wake_, &count, sizeof count) < 0) {
            // Nothing to take: the time-out ended the wait.
        }
    };
    Clock::time_point retryAt = Clock::now() + std::chrono::seconds(backoff_);
    constexpr Clock::time_point Never = Clock::time_point::max();
    Clock::time_point readAt = Never; // the last batch's acknowledgements are read then
    Clock::time_point lastBatch{};
    while (!stop_) {
        Clock::time_point now = Clock::now();
        if (mosquitto_socket(mosq_) < 0) {
            // No connection: the next attempt when its time comes (a failure shows
            // as no socket again), meanwhile asleep.
            libraryConnected_ = false;
            readAt = Never;
            if (now >= retryAt) {
                mosquitto_reconnect_async(mosq_);
                retryAt = now + std::chrono::seconds(backoff_);
                backoff_ = std::min(backoff_ * 2, 30);
                continue;
            }
            pollfd wake{wake_, POLLIN, 0};
            poll(&wake, 1, msUntil(retryAt, now));
            takeWake();
            continue;
        }
        if (now >= readAt) {
            readAt = Never;
            Read();
        }
        // While messages flow the thread wakes once each BatchDelay: it reads the
        // acknowledgements of the last batch and sends the next. Otherwise it
        // sleeps until the broker sends, a message comes, or the keep-alive is due.
        const Clock::time_point nextBatch = lastBatch + milliseconds(BatchDelay);
        bool pending;
        {
            const std::lock_guard lock(handoffMutex_);
            pending = libraryConnected_ && !handoff_.empty();
            networkIdle_ = readAt == Never && !pending;
        }
        if (pending && now >= nextBatch && mosquitto_socket(mosq_) >= 0) {
            SendBatch();
            lastBatch = now;
            readAt = now + milliseconds(BatchDelay);
            continue;
        }
        Clock::time_point until = std::min(now + std::chrono::seconds(1), readAt);
        if (pending)
            until = std::min(until, nextBatch);
        const int socket = mosquitto_socket(mosq_);
        pollfd fds[2] = {
            {wake_, POLLIN, 0},
            {socket, short((readAt != Never ? 0 : POLLIN) | (mosquitto_want_write(mosq_) ? POLLOUT : 0)), 0}};
        poll(fds, socket >= 0 ? 2 : 1, msUntil(until, now));
        if (fds[0].revents)
            takeWake();
        if (socket >= 0 && fds[1].revents & (POLLIN | POLLERR | POLLHUP))
            Read();
        if (libraryConnected_)
            SubscribeNew();
        if (mosquitto_socket(mosq_) >= 0 && mosquitto_want_write(mosq_))
            mosquitto_loop_write(mosq_, 1);
        if (mosquitto_socket(mosq_) >= 0)
            mosquitto_loop_misc(mosq_); // the keep-alive
        if (mosquitto_socket(mosq_) < 0)
            retryAt = Clock::now() + std::chrono::seconds(backoff_);
    }
    // A clean goodbye, so that the broker does not publish the last will; what
    // the socket does not take within a second is left.
    if (mosquitto_socket(mosq_) >= 0) {
        mosquitto_disconnect(mosq_);
        const QDeadlineTimer deadline(1000);
        while (mosquitto_socket(mosq_) >= 0 && mosquitto_want_write(mosq_) && !deadline.hasExpired()) {
            pollfd out{mosquitto_socket(mosq_), POLLOUT, 0};
            poll(&out, 1, int(deadline.remainingTime()));
            mosquitto_loop_write(mosq_, 1);
        }
    }
}

void TMqttClient::Read()
{
    // The library reads one packet a call, or a few; errno cannot tell whether
    // more came (its own wake-up byte, written when an acknowledgement frees the
    // window, leaves EAGAIN there). Everything that came is read now: with one
    // acknowledgement a batch the window filled and the feed fell behind.
    for (int packets = 0; packets < 1000; ++packets) {
        // A lost connection closes the socket and calls OnDisconnect.
        if (mosquitto_loop_read(mosq_, 1) != MOSQ_ERR_SUCCESS)
            return;
        pollfd more{mosquitto_socket(mosq_), POLLIN, 0};
        if (more.fd < 0 || poll(&more, 1, 0) <= 0)
            return;
    }
}

void TMqttClient::SendBatch()
{
    std::deque<TMessage> batch;
    {
        const std::lock_guard lock(handoffMutex_);
        batch.swap(handoff_);
    }
    // Corked, the batch leaves in one TCP segment: on loopback the sender pays
    // for the receiving side of each segment too.
    const int socket = mosquitto_socket(mosq_);
    int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
    while (!batch.empty()) {
        TMessage &message = batch.front();
        const int rc =
            mosquitto_publish(mosq_, nullptr, message.topic.constData(), int(message.payload.size()),
                              message.payload.constData(), 1, message.retain);
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_NOMEM)
            break; // kept, in order, for the next connection
        if (rc != MOSQ_ERR_SUCCESS)
            Refused(std::move(message), rc);
        batch.pop_front();
    }
    if (!batch.empty()) {
        const std::lock_guard lock(handoffMutex_);
        handoff_.insert(handoff_.begin(), std::make_move_iterator(batch.begin()),
                        std::make_move_iterator(batch.end()));
    }
    mosquitto_loop_write(mosq_, 1);
    on = 0;
    setsockopt(socket, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
}

void TMqttClient::Refused(TMessage message, int rc)
{
    // Too large for the broker, or a topic the library refuses: never sendable.
    ++acknowledged_; // no longer in flight
    QMetaObject::invokeMethod(
        this,
        [this, topic = message.topic, rc] {
            emit Problem(QStringLiteral("A feed message on %1 was not sent: %2.")
                             .arg(QString::fromUtf8(topic), LibraryError(rc)));
            Drop();
            Pump();
        },
        Qt::QueuedConnection);
}

void TMqttClient::SubscribeNew()
{
    const std::lock_guard lock(subscriptionsMutex_);
    for (; subscribed_ < subscriptions_.size(); ++subscribed_)
        mosquitto_subscribe(mosq_, nullptr, subscriptions_.at(subscribed_).constData(), 1);
}

void TMqttClient::OnConnect(mosquitto *, void *self, int rc)
{
    auto *client = static_cast<TMqttClient *>(self);
    // Subscribed from here, before any message can come: nothing published
    // after the connection is missed.
    if (rc == 0) {
        client->libraryConnected_ = true;
        client->backoff_ = 1;
        client->subscribed_ = 0;
        client->SubscribeNew();
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
    client->libraryConnected_ = false;
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
    {
        const std::lock_guard lock(subscriptionsMutex_);
        subscriptions_ << topic;
    }
    // The network thread subscribes it now when connected, else on connecting.
    if (wake_ >= 0)
        Wake();
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
    Pump();
    return true;
}

void TMqttClient::Pump()
{
    for (;;) {
        bool wake = false;
        {
            const std::lock_guard lock(handoffMutex_);
            while (connected_ && InFlight() < InFlightLimit && !waiting_.empty()) {
                TMessage &message = waiting_.front();
                if (message.retain)
                    waitingRetained_.remove(message.topic);
                else
                    --waitingPlain_;
                // The first of a quiet spell wakes the network thread; later ones
                // wait for the batch it has due.
                wake = wake || (handoff_.empty() && networkIdle_);
                handoff_.push_back(std::move(message));
                waiting_.pop_front();
                ++handed_;
            }
        }
        if (wake)
            Wake();
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

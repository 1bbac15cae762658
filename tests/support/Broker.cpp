#include "Broker.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QThread>
#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(s);
    return port;
}

bool Listening(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(port);
    const bool open = ::connect(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    close(s);
    return open;
}

} // namespace

TBroker::TBroker(int maxQueued, bool persistent) : maxQueued_(maxQueued), persistent_(persistent)
{
    static bool ready = (mosquitto_lib_init(), true);
    Q_UNUSED(ready);
    port_ = FreePort();
    // What it says goes into the failure's message, not the test's output (it
    // warns of running as root at every start).
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

TBroker::~TBroker()
{
    Stop();
}

QString TBroker::Url() const
{
    return QStringLiteral("%1://127.0.0.1:%2")
        .arg(tls_ ? QStringLiteral("mqtts") : QStringLiteral("mqtt"))
        .arg(port_);
}

QString TBroker::Start()
{
    if (!dir_.isValid() || port_ == 0)
        return QStringLiteral("no scratch directory or free port");
    const QString config = dir_.filePath(QStringLiteral("mosquitto.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write %1").arg(config);
    file.write(QStringLiteral("listener %1 127.0.0.1\n"
                              "allow_anonymous true\n"
                              "persistence %4\n"
                              "persistence_location %2/\n"
                              "max_queued_messages %3\n"
                              "log_dest none\n")
                   .arg(port_)
                   .arg(dir_.path())
                   .arg(maxQueued_)
                   .arg(persistent_ ? QStringLiteral("true") : QStringLiteral("false"))
                   .toUtf8());
    // Started by root, mosquitto becomes the user "mosquitto" before it reads its
    // certificates or writes its store, neither of which that user may reach in a
    // scratch directory (or a checkout) of root's: it stays root here.
    if (geteuid() == 0)
        file.write("user root\n");
    if (tls_)
        file.write(QStringLiteral("cafile %1/ca.pem\ncertfile %1/server.pem\nkeyfile %1/server.key\n")
                       .arg(QStringLiteral(CORVALINK_TEST_TLS_DIR))
                       .toUtf8());
    file.close();
    process_.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), config});
    if (!process_.waitForStarted(5000))
        return QStringLiteral("mosquitto does not start: %1").arg(process_.errorString());
    const QDeadlineTimer deadline(10000);
    while (!Listening(port_)) {
        if (process_.state() == QProcess::NotRunning || deadline.hasExpired())
            return QStringLiteral("mosquitto does not listen on port %1: %2")
                .arg(port_)
                .arg(QString::fromLocal8Bit(process_.readAll()).trimmed());
        QThread::msleep(10);
    }
    return {};
}

void TBroker::Stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(10000))
        process_.kill();
    process_.waitForFinished(5000);
}

TRelay::TRelay(int brokerPort) : brokerPort_(brokerPort), port_(FreePort())
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

TRelay::~TRelay()
{
    Stop();
}

QString TRelay::Url() const
{
    return QStringLiteral("mqtt://127.0.0.1:%1").arg(port_);
}

QString TRelay::Start()
{
    process_.start(QStringLiteral("socat"),
                   {QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(port_),
                    QStringLiteral("TCP:127.0.0.1:%1").arg(brokerPort_)});
    if (!process_.waitForStarted(5000))
        return QStringLiteral("socat does not start: %1").arg(process_.errorString());
    const QDeadlineTimer deadline(10000);
    while (!Listening(port_)) {
        if (process_.state() == QProcess::NotRunning || deadline.hasExpired())
            return QStringLiteral("socat does not listen on port %1").arg(port_);
        QThread::msleep(10);
    }
    return {};
}

void TRelay::Stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(5000))
        process_.kill();
    process_.waitForFinished(5000);
}

QJsonObject TFeedReader::TMessage::Json() const
{
    return QJsonDocument::fromJson(payload).object();
}

TFeedReader::TFeedReader(int port, const QString &clientId)
{
    mosq_ = mosquitto_new(clientId.toUtf8().constData(), false, this);
    mosquitto_connect_callback_set(mosq_, &TFeedReader::OnConnect);
    mosquitto_subscribe_callback_set(mosq_, &TFeedReader::OnSubscribe);
    mosquitto_message_callback_set(mosq_, &TFeedReader::OnMessage);
    mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
    mosquitto_connect_async(mosq_, "127.0.0.1", port, 30);
    mosquitto_loop_start(mosq_);
}

TFeedReader::~TFeedReader()
{
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
}

void TFeedReader::OnConnect(mosquitto *mosq, void *, int rc)
{
    if (rc == 0)
        mosquitto_subscribe(mosq, nullptr, "corvalink/#", 1);
}

void TFeedReader::OnSubscribe(mosquitto *, void *self, int, int, const int *)
{
    auto *reader = static_cast<TFeedReader *>(self);
    const std::lock_guard lock(reader->mutex_);
    ++reader->subscriptions_;
}

void TFeedReader::OnMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *reader = static_cast<TFeedReader *>(self);
    const std::lock_guard lock(reader->mutex_);
    reader->messages_.append({QByteArray(message->topic),
                              QByteArray(static_cast<const char *>(message->payload), message->payloadlen),
                              message->retain});
}

int TFeedReader::Subscriptions() const
{
    const std::lock_guard lock(mutex_);
    return subscriptions_;
}

QList<TFeedReader::TMessage> TFeedReader::Messages() const
{
    const std::lock_guard lock(mutex_);
    return messages_;
}

QList<TFeedReader::TMessage> TFeedReader::On(const QByteArray &suffix) const
{
    QList<TMessage> found;
    for (const TMessage &message : Messages())
        if (message.topic.endsWith(suffix))
            found << message;
    return found;
}

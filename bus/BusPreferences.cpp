#include "BusPreferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QUrl>
#include <arpa/inet.h>

namespace {

struct TRefused {
    QString why;
};

QString Text(const QSettings &file, const QString &key)
{
    return file.value(QStringLiteral("Bus/") + key).toString().trimmed();
}

bool Flag(const QSettings &file, const QString &key, bool fallback)
{
    const QString value = Text(file, key).toLower();
    if (value.isEmpty())
        return fallback;
    if (value == QLatin1String("true") || value == QLatin1String("on") || value == QLatin1String("1"))
        return true;
    if (value == QLatin1String("false") || value == QLatin1String("off") || value == QLatin1String("0"))
        return false;
    throw TRefused{QStringLiteral("Bus/%1 is '%2', not true or false").arg(key, value)};
}

// A count from 1 to 1000000; fallback when the key is not there.
int Count(const QSettings &file, const QString &key, int fallback)
{
    const QString value = Text(file, key);
    if (value.isEmpty())
        return fallback;
    bool ok = false;
    const int count = value.toInt(&ok);
    if (!ok || count < 1 || count > 1000000)
        throw TRefused{QStringLiteral("Bus/%1 is '%2', not a number from 1 to 1000000").arg(key, value)};
    return count;
}

QString ReadableFile(const QString &key, const QString &path, const QString &base)
{
    const QFileInfo info(QDir(base), path);
    if (!info.isFile() || !info.isReadable())
        throw TRefused{
            QStringLiteral("Bus/%1 names %2, which cannot be read").arg(key, info.absoluteFilePath())};
    return info.absoluteFilePath();
}

TBusPreferences Parse(const QSettings &file, const QString &base)
{
    TBusPreferences bus;
    const QString broker = Text(file, QStringLiteral("Broker"));
    const QUrl url(broker, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
        url.host().isEmpty() || !url.userInfo().isEmpty() || !(url.path().isEmpty() || url.path() == "/") ||
        url.hasQuery() || url.hasFragment())
        throw TRefused{
            QStringLiteral("Bus/Broker is '%1', not mqtt://host:port or mqtts://host:port").arg(broker)};
    bus.tls = scheme == QLatin1String("mqtts");
    bus.host = url.host();
    bus.port = url.port(bus.tls ? 8883 : 1883);
    if (bus.port < 1)
        throw TRefused{QStringLiteral("Bus/Broker is '%1': the port is not 1 to 65535").arg(broker)};

    bus.radio = Text(file, QStringLiteral("Radio"));
    static const QRegularExpression radioName(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
    if (!radioName.match(bus.radio).hasMatch())
        throw TRefused{
            QStringLiteral("Bus/Radio is '%1', not a name of 1 to 64 letters, digits, '-', '_' or '.'")
                .arg(bus.radio)};

    if (file.contains(QStringLiteral("Bus/Password")))
        throw TRefused{
            QStringLiteral("Bus/Password is set: the password is read from the file Bus/PasswordFile "
                           "names, never from the preferences")};
    bus.user = Text(file, QStringLiteral("User"));
    const QString passwordFile = Text(file, QStringLiteral("PasswordFile"));
    if (!passwordFile.isEmpty()) {
        if (bus.user.isEmpty())
            throw TRefused{QStringLiteral("Bus/PasswordFile is set without Bus/User")};
        QFile password(ReadableFile(QStringLiteral("PasswordFile"), passwordFile, base));
        if (!password.open(QIODevice::ReadOnly))
            throw TRefused{QStringLiteral("Bus/PasswordFile %1 cannot be read").arg(password.fileName())};
        bus.password = QString::fromUtf8(password.readLine(4096)).trimmed();
        if (bus.password.isEmpty())
            throw TRefused{QStringLiteral("Bus/PasswordFile %1 holds no password").arg(password.fileName())};
    }

    const QString caFile = Text(file, QStringLiteral("CaFile"));
    if (!caFile.isEmpty()) {
        if (!bus.tls)
            throw TRefused{QStringLiteral("Bus/CaFile is set but Bus/Broker is not mqtts://")};
        bus.caFile = ReadableFile(QStringLiteral("CaFile"), caFile, base);
    }

    bus.position = Text(file, QStringLiteral("Position"));
    if (!bus.position.isEmpty() && !radioName.match(bus.position).hasMatch())
        throw TRefused{
            QStringLiteral("Bus/Position is '%1', not a name of 1 to 64 letters, digits, '-', '_' or '.'")
                .arg(bus.position)};
    bus.positionsMaySend = Flag(file, QStringLiteral("PositionsMaySend"), false);

    bus.allowPlainText = Flag(file, QStringLiteral("AllowPlainText"), false);
    if (!bus.tls && !bus.allowPlainText && !IsLoopbackHost(bus.host))
        throw TRefused{
            QStringLiteral("Bus/Broker %1 is another machine reached without TLS: use mqtts://, or set "
                           "Bus/AllowPlainText=true to send the feed and the password readable")
                .arg(broker)};

    bus.queueLimit = Count(file, QStringLiteral("QueueLimit"), bus.queueLimit);
    bus.journal = Count(file, QStringLiteral("Journal"), bus.journal);
    return bus;
}

} // namespace

bool IsPositionName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
    return pattern.match(name).hasMatch();
}

bool IsLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QByteArray text = host.toLatin1();
    in_addr v4{};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, text.constData(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

std::optional<TBusPreferences> LoadBusPreferences(const QString &fileName, QString *problem)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return std::nullopt;
    const QSettings file(fileName, QSettings::IniFormat);
    if (!file.contains(QStringLiteral("Bus/Broker")))
        return std::nullopt;
    try {
        return Parse(file, info.absolutePath());
    } catch (const TRefused &refused) {
        if (problem)
            *problem = QStringLiteral("The feed to the broker is off: in %1, %2.")
                           .arg(info.absoluteFilePath(), refused.why);
        return std::nullopt;
    }
}

TMqttClient::TOptions BrokerOptions(const TBusPreferences &preferences)
{
    TMqttClient::TOptions options;
    options.host = preferences.host;
    options.port = preferences.port;
    options.tls = preferences.tls;
    options.caFile = preferences.caFile;
    options.user = preferences.user;
    options.password = preferences.password;
    return options;
}

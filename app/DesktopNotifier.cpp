#include "DesktopNotifier.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QLocale>
#include <QVariantMap>
#include <QWidget>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

TDesktopNotifier::TDesktopNotifier(QDBusConnection bus, QObject *parent)
    : QObject(parent), bus_(std::move(bus))
{
}

QString TDesktopNotifier::Summary()
{
    return QStringLiteral("Emergency not acknowledged");
}

QString TDesktopNotifier::Body(const TAlarm &alarm, int times)
{
    QString body = QStringLiteral("%1: status %2 %3")
                       .arg(StationLabel(alarm.name, alarm.fleet, alarm.ident))
                       .arg(alarm.status)
                       .arg(alarm.statusText);
    body += QStringLiteral("\nOpen since %1")
                .arg(QLocale::system().toString(alarm.time.toLocalTime(), QLocale::ShortFormat));
    if (alarm.count > 1)
        body += QStringLiteral(", %1 times").arg(alarm.count);
    if (times > 1)
        body += QStringLiteral("; reminder %1").arg(times);
    return body;
}

void TDesktopNotifier::Escalate(const TAlarm &alarm, int times)
{
    // The taskbar asks for attention even where no notification service runs.
    if (window_)
        QApplication::alert(window_);
    if (!bus_.isConnected()) {
        Unavailable(QStringLiteral("no session bus"));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    QVariantMap hints;
    // Critical: the notification stays until the alarm is acknowledged.
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(2)));
    hints.insert(QStringLiteral("category"), QStringLiteral("device.error"));
    call << QStringLiteral("Corvalink Console") << ids_.value(alarm.id, 0u) << QString() << Summary()
         << Body(alarm, times) << QStringList() << hints << 0;
    // Never waited for: a busy or absent service must not hold the console.
    auto *watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    const qint64 id = alarm.id;
    ++pending_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, id](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        --pending_;
        const QDBusPendingReply<uint> reply = *w;
        if (reply.isError()) {
            Unavailable(reply.error().message());
            return;
        }
        ids_.insert(id, reply.value());
    });
}

void TDesktopNotifier::Acknowledged(qint64 alarmId)
{
    const uint id = ids_.take(alarmId);
    if (!id || !bus_.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("CloseNotification"));
    call << id;
    bus_.asyncCall(call);
}

void TDesktopNotifier::Unavailable(const QString &why)
{
    if (reported_)
        return;
    reported_ = true;
    qInfo("Desktop notifications for unacknowledged emergencies are not available: %s", qPrintable(why));
}

#pragma once

#include "AlarmNotifier.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QPointer>

class QWidget;

// Escalations on the desktop: a notification through the session's notification
// service (org.freedesktop.Notifications), one per alarm and updated in place, and
// the window's urgency hint. A session without a bus or without the service
// loses the notification only, and says so once on the terminal.
class TDesktopNotifier final : public QObject, public IAlarmNotifier {
    Q_OBJECT
public:
    explicit TDesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // The window whose urgency hint is raised; may be null.
    void SetWindow(QWidget *window) { window_ = window; }

    void Escalate(const TAlarm &alarm, int times) override;
    void Acknowledged(qint64 alarmId) override;

    // The service's id for an alarm's notification, 0 while it has none.
    uint NotificationId(qint64 alarmId) const { return ids_.value(alarmId, 0u); }
    // Calls sent and not yet answered.
    int PendingCalls() const { return pending_; }

    // The texts of an alarm's notification, plain text.
    static QString Summary();
    static QString Body(const TAlarm &alarm, int times);

private:
    void Unavailable(const QString &why);

    QDBusConnection bus_;
    QPointer<QWidget> window_;
    // The service's id of each alarm's notification, so that the next reminder
    // replaces it instead of piling up.
    QHash<qint64, uint> ids_;
    bool reported_ = false;
    int pending_ = 0;
};

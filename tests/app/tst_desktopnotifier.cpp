#include "DesktopNotifier.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <memory>

namespace {

// The desktop's notification service as far as the console uses it: records
// each call and hands out ids.
class TFakeNotifications final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct TNotify {
        QString app;
        uint replaces = 0;
        QString summary, body;
        QVariantMap hints;
        int timeout = 0;
    };
    QList<TNotify> notified;
    QList<uint> closed;
    uint nextId = 41;

public slots:
    uint Notify(const QString &app, uint replaces, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        Q_UNUSED(icon);
        Q_UNUSED(actions);
        notified.append({app, replaces, summary, body, hints, timeout});
        return replaces ? replaces : nextId++;
    }
    void CloseNotification(uint id) { closed.append(id); }
};

// Terminal lines while it lives.
class TMessageRecorder final {
public:
    TMessageRecorder()
    {
        lines_ = &lines;
        previous_ = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { lines_->append(text); });
    }
    ~TMessageRecorder()
    {
        qInstallMessageHandler(previous_);
        lines_ = nullptr;
    }
    QStringList lines;

private:
    static inline QStringList *lines_ = nullptr;
    QtMessageHandler previous_ = nullptr;
};

TAlarm Alarm(qint64 id)
{
    TAlarm alarm;
    alarm.id = id;
    alarm.time = QDateTime::currentDateTimeUtc();
    alarm.fleet = 100;
    alarm.ident = 1000;
    alarm.name = QStringLiteral("Base");
    alarm.status = 95;
    alarm.statusText = QStringLiteral("Emergency <help>");
    alarm.count = 2;
    return alarm;
}

} // namespace

// The notifier against a private session bus of its own (dbus-daemon), with a
// stand-in notification service on it, and without one.
class TstDesktopNotifier : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void notifyArrivesAndIsReplaced();
    void withoutServiceNothingBreaks();
    void withoutBusNothingBreaks();

private:
    std::unique_ptr<QProcess> daemon_;
    QString address_;
};

void TstDesktopNotifier::init()
{
    address_.clear();
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty())
        return;
    daemon_ = std::make_unique<QProcess>();
    daemon_->start(program, {"--session", "--nofork", "--print-address"});
    QVERIFY(daemon_->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(daemon_->canReadLine() || daemon_->state() != QProcess::Running, 10000);
    address_ = QString::fromUtf8(daemon_->readLine()).trimmed();
    QVERIFY2(!address_.isEmpty(), daemon_->readAllStandardError().constData());
}

void TstDesktopNotifier::cleanup()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    QDBusConnection::disconnectFromBus(QStringLiteral("console"));
    if (daemon_) {
        daemon_->terminate();
        daemon_->waitForFinished(5000);
        daemon_.reset();
    }
}

void TstDesktopNotifier::notifyArrivesAndIsReplaced()
{
    if (address_.isEmpty())
        QSKIP("dbus-daemon is not installed");
    TFakeNotifications service;
    QDBusConnection serviceBus = QDBusConnection::connectToBus(address_, QStringLiteral("service"));
    QVERIFY(serviceBus.isConnected());
    QVERIFY(serviceBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                      QDBusConnection::ExportAllSlots));
    QVERIFY(serviceBus.registerService(QStringLiteral("org.freedesktop.Notifications")));

    QWidget window;
    TDesktopNotifier notifier(QDBusConnection::connectToBus(address_, QStringLiteral("console")));
    notifier.SetWindow(&window);
    TMessageRecorder messages;
    notifier.Escalate(Alarm(7), 1);
    QTRY_COMPARE(service.notified.size(), 1);
    const TFakeNotifications::TNotify first = service.notified[0];
    QCOMPARE(first.app, QStringLiteral("Corvalink Console"));
    QCOMPARE(first.replaces, 0u);
    QCOMPARE(first.summary, QStringLiteral("Emergency not acknowledged"));
    QVERIFY2(first.body.startsWith(QLatin1String("Base (100-1000): status 95 Emergency <help>")),
             qPrintable(first.body));
    QVERIFY2(first.body.contains(QLatin1String("2 times")), qPrintable(first.body));
    QCOMPARE(first.hints.value(QStringLiteral("urgency")).toInt(), 2);
    QTRY_COMPARE(notifier.NotificationId(7), 41u);

    // The next reminder updates the same notification.
    notifier.Escalate(Alarm(7), 2);
    QTRY_COMPARE(service.notified.size(), 2);
    QCOMPARE(service.notified[1].replaces, 41u);
    QVERIFY2(service.notified[1].body.contains(QLatin1String("reminder 2")),
             qPrintable(service.notified[1].body));
    // Another alarm has a notification of its own.
    notifier.Escalate(Alarm(8), 1);
    QTRY_COMPARE(service.notified.size(), 3);
    QCOMPARE(service.notified[2].replaces, 0u);
    QTRY_COMPARE(notifier.NotificationId(8), 42u);

    notifier.Acknowledged(7);
    QTRY_COMPARE(service.closed, QList<uint>({41u}));
    QCOMPARE(notifier.NotificationId(7), 0u);
    QTRY_COMPARE(notifier.PendingCalls(), 0);
    QVERIFY2(messages.lines.isEmpty(), qPrintable(messages.lines.join('\n')));
}

void TstDesktopNotifier::withoutServiceNothingBreaks()
{
    if (address_.isEmpty())
        QSKIP("dbus-daemon is not installed");
    TDesktopNotifier notifier(QDBusConnection::connectToBus(address_, QStringLiteral("console")));
    TMessageRecorder messages;
    for (int times = 1; times <= 3; ++times)
        notifier.Escalate(Alarm(7), times);
    QTRY_COMPARE(notifier.PendingCalls(), 0);
    QCOMPARE(messages.lines.size(), 1);
    QVERIFY2(messages.lines[0].contains(QLatin1String("not available")), qPrintable(messages.lines[0]));
    QCOMPARE(notifier.NotificationId(7), 0u);
    notifier.Acknowledged(7);
}

void TstDesktopNotifier::withoutBusNothingBreaks()
{
    QWidget window;
    TDesktopNotifier notifier(QDBusConnection(QStringLiteral("no such bus")));
    notifier.SetWindow(&window);
    TMessageRecorder messages;
    for (int times = 1; times <= 3; ++times)
        notifier.Escalate(Alarm(7), times);
    notifier.Acknowledged(7);
    QCOMPARE(notifier.PendingCalls(), 0);
    QCOMPARE(messages.lines.size(), 1);
    QVERIFY2(messages.lines[0].contains(QLatin1String("no session bus")), qPrintable(messages.lines[0]));
}

QTEST_MAIN(TstDesktopNotifier)
#include "tst_desktopnotifier.moc"

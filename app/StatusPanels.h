#pragma once

#include <QObject>
#include <QString>

class QLabel;
class QStatusBar;
class QTimer;

// The main window's three status-bar panels: the port's name ("Com1"), the
// port's state (empty, or waiting for a device that went away) and the clock.
class TStatusPanels final : public QObject {
    Q_OBJECT
public:
    // Adds the panels to the bar and starts the clock.
    explicit TStatusPanels(QStatusBar *bar, QObject *parent = nullptr);

    QTimer *Clock = nullptr;
    // 0 port name, 1 port state, 2 date and time.
    QString Text(int panel) const;

    void SetPortName(const QString &name);
    void PortLost(const QString &device);
    void PortBack();
    void ClockTimer();
    // A position: the first panel names the radio and the broker it is followed
    // through ("r1 via host:1883"), the second the radio's state when it is not online.
    void ShowBus(const QString &radio, const QString &broker, const QString &radioState);
    // The feed's drops on the radio's owner, in a panel of their own shown once non-zero.
    void SetFeedDrops(quint64 total);
    QString FeedDropsText() const;

private:
    QStatusBar *bar_;
    QLabel *panels_[3] = {};
    QLabel *drops_ = nullptr;
};

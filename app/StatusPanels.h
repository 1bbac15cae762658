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

private:
    QLabel *panels_[3] = {};
};

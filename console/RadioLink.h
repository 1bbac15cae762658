#pragma once

#include "FrameIntake.h"
#include "Settings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <deque>
#include <memory>

class ICommandPort;
class QTimer;
class TZComm;

// The radio's line, with no window: the serial port and its set-up, the frame
// intake on the reader thread, the settings file, the frames that come before
// the console is ready, the reconnect after the device went away, and the exit's
// close-and-save. Lives on the user-interface thread; its signals come there.
class TRadioLink final : public QObject {
    Q_OBJECT
public:
    // Sets the port up as the radio's line (9600 bit/s, 8 data bits, no parity,
    // 2 stop bits, no handshake, the comm event on ETX). Opens nothing.
    explicit TRadioLink(QObject *parent = nullptr);
    ~TRadioLink() override;

    // Reads the settings file and opens the port it names (boxes for a port that
    // cannot be used). False when no port is usable: the console is to end.
    // File and value errors are thrown.
    bool LoadSettings(const QString &fileName = SettingsFileName);
    // The exit: closes the port and writes the settings file. When the file
    // cannot be written the error is reported, the port is opened again and the
    // answer is false (the console goes on).
    bool CloseAndSave(const QString &fileName = SettingsFileName);
    // A control-room position: no port is opened and the settings file is never
    // written; the popups are as the file says when there is one, else all on.
    void UseWithoutRadio(const QString &fileName = SettingsFileName);
    bool WithoutRadio() const { return withoutRadio_; }

    // From now on frames go out as FrameReceived; those that came before go
    // first, in order. Until then (a box at start-up runs the event loop) they wait.
    void StartTraffic();
    bool TrafficStarted() const { return trafficStarted_; }

    TZComm *Port() const { return port_.get(); }
    ICommandPort &CommandPort() { return *commandPort_; }
    IPortSelector &PortSelector() { return *portSelector_; }
    TSettings &Settings() { return *settings_; }
    // "Com1" .. "Com4": the port last selected, as the status bar names it.
    QString PortName() const { return portName_; }
    // The port's device went away and the link waits for it to come back.
    bool WaitingForPort() const { return portLost_; }

signals:
    // One complete frame, STX .. ETX, on the user-interface thread, in the
    // order the radio sent them.
    void FrameReceived(const QByteArray &frame);
    // The device went away (device: "COM1"); the link looks for it once a second.
    void PortLost(const QString &device);
    // The same device is open again.
    void PortBack(const QString &device);
    // A port was selected: its status-bar name ("Com3").
    void PortNameChanged(const QString &name);
    // The intake forgot an unfinished frame (the port opened afresh, or again
    // after it was lost): whoever splits the same bytes forgets its own.
    void IntakeReset();
    // A write to the radio failed (the error goes on to the sender as well).
    void WriteFailed(const QString &reason);

private:
    // On the reader thread: reads everything waiting and hands each complete
    // frame, in order, to the user-interface thread.
    void ReadWaiting(TZComm *port);
    void DeliverFrame(const QByteArray &frame);
    void OnPortLost();
    void ReconnectTick();
    void OnPortBack();

    // The port's own adapters, and the two the console uses over them, which
    // tell of failed writes and fresh opens.
    std::unique_ptr<ICommandPort> zcommPort_;
    std::unique_ptr<IPortSelector> zcommSelector_;
    std::unique_ptr<ICommandPort> commandPort_;
    std::unique_ptr<IPortSelector> portSelector_;
    std::unique_ptr<TSettings> settings_;
    TFrameIntake intake_; // reader thread only (or while the port is closed)
    std::deque<QByteArray> earlyFrames_;
    bool trafficStarted_ = false;
    QString portName_ = QStringLiteral("Com1");
    QTimer *reconnectTimer_ = nullptr;
    bool portLost_ = false;
    bool withoutRadio_ = false;
    // Declared last so that it goes first: its destruction closes the port and
    // joins the reader thread, which uses the intake and this object, before
    // any of them go.
    std::unique_ptr<TZComm> port_;
};

#pragma once

#include <QObject>

class QSoundEffect;

// The repeating alarm while emergencies are open. Without a sound device the
// effect never becomes ready and the console goes on silently.
class TAlarmSound final : public QObject {
    Q_OBJECT
public:
    explicit TAlarmSound(QObject *parent = nullptr);
    void SetPlaying(bool playing);
    bool Playing() const { return playing_; }

    // Whether the system has an audio output, followed as devices come and go
    // from the first question on (until then the audio system stays closed).
    bool DeviceAvailable();
    void SetDeviceAvailable(bool available);

signals:
    void DeviceChanged();

private:
    QSoundEffect *effect_ = nullptr;
    bool playing_ = false;
    bool deviceAvailable_ = false;
    bool watching_ = false;
};

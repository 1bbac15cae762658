#include "AlarmSound.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

TAlarmSound::TAlarmSound(QObject *parent) : QObject(parent) {}

bool TAlarmSound::DeviceAvailable()
{
    if (!watching_) {
        watching_ = true;
        auto *devices = new QMediaDevices(this);
        const auto check = [this] { SetDeviceAvailable(!QMediaDevices::audioOutputs().isEmpty()); };
        connect(devices, &QMediaDevices::audioOutputsChanged, this, check);
        deviceAvailable_ = !QMediaDevices::audioOutputs().isEmpty();
    }
    return deviceAvailable_;
}

void TAlarmSound::SetDeviceAvailable(bool available)
{
    watching_ = true;
    if (available == deviceAvailable_)
        return;
    deviceAvailable_ = available;
    emit DeviceChanged();
}

void TAlarmSound::SetPlaying(bool playing)
{
    if (playing == playing_)
        return;
    playing_ = playing;
    if (!playing) {
        if (effect_)
            effect_->stop();
        return;
    }
    // Made on first use: a console that never has an emergency never opens the audio system.
    if (!effect_) {
        effect_ = new QSoundEffect(this);
        effect_->setSource(QUrl(QStringLiteral("qrc:/sounds/alarm.wav")));
        effect_->setLoopCount(QSoundEffect::Infinite);
    }
    effect_->play();
}

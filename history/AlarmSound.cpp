#include "AlarmSound.h"

#include <QSoundEffect>
#include <QUrl>

TAlarmSound::TAlarmSound(QObject *parent) : QObject(parent) {}

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

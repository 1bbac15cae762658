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

private:
    QSoundEffect *effect_ = nullptr;
    bool playing_ = false;
};

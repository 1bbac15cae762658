#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Cuts the byte stream from the radio into frames. Fed the bytes read at each
// comm event (on the reader thread), it returns every frame completed by them,
// STX through ETX, in order. Bytes before an STX are noise and dropped; an
// unfinished frame waits for the next event. An STX inside an unfinished frame
// starts the frame afresh (its ETX was lost). A frame that grows past
// MaxFrameSize without its ETX is dropped whole, and the bytes up to the next
// STX with it. Not shared between threads: the reader thread alone feeds it,
// and Reset is for a port whose reader thread has been joined.
class TFrameIntake final {
public:
    // The longest frame: STX, letter, 7 digits, 4000 bytes of text, ETX is 4010.
    static constexpr qsizetype MaxFrameSize = 4096;

    QList<QByteArray> Feed(QByteArrayView bytes);
    // Forgets the unfinished frame (for a port that is closed and opened again).
    void Reset();

    qsizetype PendingSize() const { return pending_.size(); }
    // Frames dropped for exceeding MaxFrameSize since construction.
    quint64 OverflowCount() const { return overflows_; }

private:
    QByteArray pending_; // empty, or an STX and the bytes after it
    quint64 overflows_ = 0;
};

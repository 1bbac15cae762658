#pragma once

#include <QByteArray>
#include <QString>
#include <limits>

// The radio's end of one line: the master side of a pseudo-terminal. The code
// under test opens the slave by its name (through a COMn link in its working
// directory).
class TRadioLine final {
public:
    TRadioLine();
    ~TRadioLine();
    TRadioLine(const TRadioLine &) = delete;
    TRadioLine &operator=(const TRadioLine &) = delete;

    bool IsValid() const { return master_ >= 0; }
    QString SlavePath() const { return slavePath_; }
    int Master() const { return master_; }

    // Writes every byte, waiting while the line's buffer is full, for at most
    // waitMs in all. Returns false once the other side is gone, the line is
    // closed or the time is up.
    bool Write(const char *data, qsizetype size, int waitMs = 10000);
    bool Write(const QByteArray &bytes, int waitMs = 10000)
    {
        return Write(bytes.constData(), bytes.size(), waitMs);
    }
    // What arrives within waitMs (negative: no limit), stopping once want bytes came.
    QByteArray Receive(qsizetype want, int waitMs) const;
    // Whatever the other side has written, without waiting.
    QByteArray Drain() const { return Receive(std::numeric_limits<qsizetype>::max(), 0); }
    // The adapter pulled: the other side sees the line hang up.
    void Close();

private:
    int master_ = -1;
    QString slavePath_;
};

#pragma once

// A working directory for the console run in-process: the sample tables, a
// settings file, and COM1..COM4 entries. A port given to Prepare is a link to a
// pseudo-terminal whose other side the test keeps as the radio; every other
// COMn is a link to nowhere, so that the machine's own /dev/ttyS* never stand in.

#include "BoxRecorder.h"
#include "Console.h"
#include "ScratchDir.h"

#include <QByteArray>
#include <QList>
#include <QTest>
#include <functional>
#include <limits>

using TRecordedBox = TBoxRecorder::TBox;

class TConsoleDir final {
    TBoxRecorder recorder_;
    TScratchDir scratch_;

public:
    QList<TRecordedBox> &boxes = recorder_.boxes;
    // The answers to give, in turn; Ok once they have run out.
    std::deque<MsgAnswer> &answers = recorder_.answers;
    // Runs inside each box before it is answered (the box's own moment).
    std::function<void(const TRecordedBox &)> &onBox = recorder_.onBox;

    ~TConsoleDir() { DeleteConsoleWindows(); }

    // Copies the sample tables, writes the settings file (unless ini is null) and
    // makes the COM entries; then makes the directory current.
    bool Prepare(const QByteArray &ini, QList<int> ports)
    {
        return scratch_.Prepare(ini, ports).isEmpty() && scratch_.MakeCurrent();
    }

    QString Path(const QString &name) const { return scratch_.Path(name); }
    bool WriteFile(const QString &name, const QByteArray &bytes) const
    {
        return scratch_.WriteFile(name, bytes);
    }
    QByteArray ReadFile(const QString &name) const { return scratch_.ReadFile(name); }

    // Sends bytes as the radio on port n; the whole run is written, however the
    // line takes it.
    bool Send(int n, const QByteArray &bytes) const
    {
        return scratch_.Line(n) && scratch_.Line(n)->Write(bytes);
    }

    // What the console wrote to port n within the time given.
    QByteArray Received(int n, int waitMs) const
    {
        return scratch_.Line(n) ? scratch_.Line(n)->Receive(std::numeric_limits<qsizetype>::max(), waitMs)
                                : QByteArray();
    }
};

inline QByteArray Frame(const QByteArray &payload)
{
    return '\x02' + payload + '\x03';
}

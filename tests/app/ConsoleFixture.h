#pragma once

// A working directory for the console run in-process: the sample tables, a
// settings file, and COM1..COM4 entries. A port given to Prepare is a link to a
// pseudo-terminal whose other side the test keeps as the radio; every other
// COMn is a link to nowhere, so that the machine's own /dev/ttyS* never stand in.

#include "Console.h"
#include "MessageBox.h"
#include "RadioLine.h"
#include "SampleTables.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <limits>
#include <memory>
#include <unistd.h>

struct TRecordedBox {
    QString text, caption;
    MsgIcon icon;
};

class TConsoleDir final {
public:
    QList<TRecordedBox> boxes;
    // Runs inside each box before it is answered (the box's own moment).
    std::function<void(const TRecordedBox &)> onBox;
    MsgAnswer answer = MsgAnswer::Ok;

    TConsoleDir()
    {
        previousBox_ = SetMessageBoxRoutine(
            [this](const QString &text, const QString &caption, MsgIcon icon, MsgButtons) {
                boxes.append({text, caption, icon});
                if (onBox)
                    onBox(boxes.constLast());
                return answer;
            });
    }

    ~TConsoleDir()
    {
        DeleteConsoleWindows();
        SetMessageBoxRoutine(previousBox_);
        if (!oldDir_.isEmpty())
            QDir::setCurrent(oldDir_);
    }

    // Copies the sample tables, writes the settings file (unless ini is null) and
    // makes the COM entries; then makes the directory current.
    bool Prepare(const QByteArray &ini, QList<int> ports)
    {
        if (!tmp_.isValid())
            return false;
        const QDir dir(tmp_.path());
        if (!CopySampleTables(dir))
            return false;
        if (!ini.isNull() && !WriteFile(QStringLiteral("CorvalinkDemo.ini"), ini))
            return false;
        for (int n = 1; n <= 4; ++n) {
            const QByteArray link = dir.filePath(QStringLiteral("COM%1").arg(n)).toLocal8Bit();
            if (ports.contains(n)) {
                lines_[n] = std::make_unique<TRadioLine>();
                if (!lines_[n]->IsValid() ||
                    ::symlink(lines_[n]->SlavePath().toLocal8Bit().constData(), link.constData()) != 0)
                    return false;
            } else if (::symlink("/nonexistent/corvalink-no-port", link.constData()) != 0) {
                return false;
            }
        }
        oldDir_ = QDir::currentPath();
        return QDir::setCurrent(tmp_.path());
    }

    QString Path(const QString &name) const { return QDir(tmp_.path()).filePath(name); }

    bool WriteFile(const QString &name, const QByteArray &bytes) const
    {
        QFile f(Path(name));
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
    }

    QByteArray ReadFile(const QString &name) const
    {
        QFile f(Path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // Sends bytes as the radio on port n; the whole run is written, however the
    // line takes it.
    bool Send(int n, const QByteArray &bytes) const { return lines_[n] && lines_[n]->Write(bytes); }

    // What the console wrote to port n within the time given.
    QByteArray Received(int n, int waitMs) const
    {
        return lines_[n] ? lines_[n]->Receive(std::numeric_limits<qsizetype>::max(), waitMs) : QByteArray();
    }

private:
    QTemporaryDir tmp_;
    QString oldDir_;
    std::unique_ptr<TRadioLine> lines_[5];
    MessageBoxRoutine previousBox_;
};

inline QByteArray Frame(const QByteArray &payload)
{
    return '\x02' + payload + '\x03';
}

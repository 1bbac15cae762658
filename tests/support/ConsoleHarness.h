#pragma once

// The whole console in-process, on pseudo-terminals in place of the radio: for
// the load and fault tests and the end-to-end benchmark. The caller owns the
// application object (a TApplication, so that errors take the console's path).

#include "BoxRecorder.h"
#include "RadioLine.h"
#include "ScratchDir.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>
#include <vector>

class QPlainTextEdit;

using SteadyClock = std::chrono::steady_clock;

// Every entry that reaches the top of the main window's log, with the time it got
// there. The log itself keeps only 30 lines; this keeps them all.
class TLogWatch final : public QObject {
    Q_OBJECT
public:
    struct TEntry {
        QString text; // line breaks as '\n'
        SteadyClock::time_point at;
    };
    explicit TLogWatch(QPlainTextEdit *memo);

    std::vector<TEntry> entries;

private:
    void Changed(int position, int removed, int added);
    QPlainTextEdit *memo_;
};

// One frame the radio sends and what its log entry must contain.
struct TSentFrame {
    QByteArray bytes;
    QString expect; // the entry's text after " RX: " (line breaks as '\n')
    SteadyClock::time_point written{};
};

// A realistic mix of incoming traffic over the sample directory: acknowledgements,
// calls and their end, statuses, short and long messages, PTT ID and call decode.
// Every message carries its sequence number, so that each one is told apart in the
// log. maxLongText bounds the long messages' text.
std::vector<TSentFrame> MakeTrafficMix(int count, unsigned seed, int maxLongText = 400);

// One frame naming each station of the mix: the first sighting of a station the
// directory does not know adds a row to the user table (a commit to disk), a cost
// that steady traffic no longer pays.
std::vector<TSentFrame> MakeWarmUp();

// Writes the frames to the line, stamping each when its last byte is written.
// bitRate > 0 paces single bytes as the radio's line does (11 bits a character);
// 0 writes each frame at once, back to back, in bursts of burst frames (0: one
// burst) with pauseMs between them. Returns false when the line failed.
bool WriteFrames(TRadioLine &line, std::vector<TSentFrame> &frames, int bitRate, int burst = 0,
                 int pauseMs = 0);

// Matches the sent frames, in order, against the log's entries (which may hold
// other entries in between). Returns for each sent frame the index of its entry,
// or -1 when it never reached the log.
std::vector<int> MatchEntries(const std::vector<TSentFrame> &sent, const std::vector<TLogWatch::TEntry> &log);

// The console's sixteen windows on the working directory of a scratch folder with
// the sample tables, CorvalinkDemo.ini and COM1..COMn linked to pseudo-terminals.
class TConsoleHarness final {
public:
    TConsoleHarness(unsigned popupFlags, int lines = 1, int comPort = 1);
    ~TConsoleHarness();

    // Empty when the console started; else what went wrong.
    QString Error() const { return error_; }
    TRadioLine &Line(int index) { return *dir_.Line(index + 1); }
    // The radio plugged back in: a new line in place of line index, linked under
    // the same COMn name. Empty when that worked, else what went wrong.
    QString Replug(int index) { return dir_.Replug(index + 1); }
    QPlainTextEdit *LogMemo() const;
    QString Dir() const { return dir_.Path(); }

private:
    TScratchDir dir_;
    QString error_;
};

// CPU time (user + system) of the threads of this process other than the main
// thread, in milliseconds: the serial reader thread and whatever Qt starts.
double WorkerThreadsCpuMs();
// CPU time of the whole process in milliseconds.
double ProcessCpuMs();
// CPU time of the main (user-interface) thread in milliseconds.
double MainThreadCpuMs();

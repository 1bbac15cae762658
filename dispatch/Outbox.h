#pragma once

#include "SendCommand.h"
#include "TrafficEvent.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

class QTimer;

// A command as a sender hands it over: what SendCommand takes.
struct TOutgoingCommand {
    char letter = 'H'; // one of B D E F G H
    QString fleet, ident;
    TCommandTexts texts;
};

// Where a command stands. The radio answers each command it reads with one
// acknowledgement, in the order the commands were written; nothing in the
// answer names the command, so the order is the only match there is.
enum class TSentState {
    Written,      // on the wire, waiting for the radio's answer
    RetryWaiting, // answered Busy, to be written again after a pause
    Accepted,     // Success: accepted by the radio (not delivered: the radio cannot know)
    Failed,       // Fail
    Busy,         // Busy, and not (or no longer) written again
    CommandNG,    // Command NG
    NoAnswer,     // nothing came within the time-out, or the port went away first
    NotWritten,   // the port refused the frame
    Cancelled,    // the operator stopped it before it was written again
    Unknown,      // pending when the console last ended: never sent again by itself
};

bool IsFinalState(TSentState state);

struct TSentCommand {
    qint64 id = 0;
    QDateTime time; // first written (UTC)
    // The position that asked for it; empty for this console's own windows.
    QString origin;
    TOutgoingCommand command;
    TrafficKind kind = TrafficKind::Call;
    std::optional<int> fleet, ident;
    QString name; // as the log names the station
    QString text; // the message, or the status number and text
    TSentState state = TSentState::Written;
    QString detail;       // why: the port's error, "port lost", the retry's count
    int writes = 0;       // times the frame went to the radio
    int busyRetries = 0;  // automatic writes after Busy
    int resends = 0;      // writes the operator asked for
    bool stopped = false; // Cancel: whatever answer comes, no more writes
};

// The state as the Sent window shows it ("accepted by the radio", "no answer:
// port lost").
QString DescribeState(const TSentCommand &command);
// The final state as a history row: the station, and kind and state in the text.
TTrafficEvent OutcomeEvent(const TSentCommand &command);

struct TOutboxOptions {
    int answerTimeoutMs = 5000;
    int busyRetries = 0; // 0: a Busy is final
    int busyPauseMs = 3000;
    bool operator==(const TOutboxOptions &) const = default;
};

// Every command written to the radio, with its state. Commands reach it two ways:
// Submit (a sender that wants to hear how its command ends: a group send, a
// position through the radio owner) and the session's notices of what went to the
// port (the call windows, which write through the command context directly).
// Either way a command is written at once; the outbox only matches the answers,
// times out the silent ones and writes a Busy one again when asked to.
// Lives on the user-interface thread.
class TOutbox final : public QObject {
    Q_OBJECT
public:
    // send: the one command path (TConsoleSession::Send); it throws what
    // SendCommand throws, after the notices of what it did.
    using TSendFunction = std::function<void(const TOutgoingCommand &)>;
    explicit TOutbox(TSendFunction send, QObject *parent = nullptr);
    ~TOutbox() override;

    void SetOptions(const TOutboxOptions &options) { options_ = options; }
    const TOutboxOptions &Options() const { return options_; }

    // Keeps the pending commands in this file from now on, so that a restart
    // can tell which ones never got an answer. What an earlier run left there is
    // added as Unknown (and finished: a history row each); never written again.
    // Returns a problem to show (an unreadable file is set aside, not lost), or
    // an empty string.
    QString OpenPendingFile(const QString &fileName);

    // Writes the command now. Returns its id, or 0 when nothing was written or
    // noted (a station SendCommand refused, after its warning). A port error
    // leaves the command NotWritten; a field that is not a number throws.
    qint64 Submit(const TOutgoingCommand &command, const QString &origin = {});
    // The operator's Resend: a finished command other than an accepted one is
    // written again. False when the command is unknown, pending or accepted.
    bool Resend(qint64 id);
    // The operator's Cancel: a command waiting to be written again is not; one
    // waiting for its answer is not written again whatever the answer. False when
    // there is nothing to stop.
    bool Cancel(qint64 id);

    const std::deque<TSentCommand> &Commands() const { return commands_; }
    const TSentCommand *Find(qint64 id) const;
    int PendingCount() const;
    // Answers that came with no command waiting for one.
    int UnmatchedAnswers() const { return unmatched_; }

    // The session's notices (TConsoleSession::CommandSent, CommandNotWritten,
    // Traffic) and the like from a radio owner.
    void CommandWritten(const TTrafficEvent &event);
    void CommandNotWritten(const TTrafficEvent &event, const QString &reason);
    void TrafficEvent(const TTrafficEvent &event);

    // The list keeps this many commands; the oldest finished ones go first.
    static constexpr int KeptCommands = 1000;

signals:
    // A row is appended at row (AboutToAdd before, Added after); the oldest
    // count rows go (AboutToDrop before, Dropped after); a row changed.
    void AboutToAdd(int row);
    void Added(int row);
    void AboutToDrop(int count);
    void Dropped(int count);
    void Changed(int row);
    // The command reached a final state (Changed came first).
    void Finished(const TSentCommand &command);
    void PendingCountChanged(int count);
    void AnswerWithoutCommand(const QString &answer);
    // The pending file could not be written; said once until it works again.
    void Problem(const QString &text);

private:
    TSentCommand *Entry(const TTrafficEvent &event);
    int RowOf(qint64 id) const;
    void Write(qint64 id);
    void Answer(qint64 id, const QString &answer);
    void Finish(TSentCommand &command, TSentState state, const QString &detail = {});
    void Touch(const TSentCommand &command);
    void ArmTimeout();
    void AnswerTimedOut();
    void PendingChanged();
    void SavePending();
    void Trim();

    TSendFunction send_;
    TOutboxOptions options_;
    std::deque<TSentCommand> commands_;
    // Written commands waiting for their answer, oldest first, with the time
    // each answer is due.
    struct TAwaiting {
        qint64 id;
        qint64 dueMs;
    };
    std::deque<TAwaiting> awaiting_;
    QTimer *timeout_ = nullptr;
    qint64 nextId_ = 1;
    int unmatched_ = 0;
    int lastPending_ = 0;
    // Set while Submit or a retry runs the sender: the notice that comes back
    // belongs to this command.
    struct TSubmitting {
        qint64 id = 0; // an existing command written again
        QString origin;
        TOutgoingCommand command;
    };
    std::optional<TSubmitting> submitting_;
    qint64 lastNoticed_ = 0;
    QString pendingFile_;
    std::vector<qint64> savedPending_;
    bool pendingProblem_ = false;
};

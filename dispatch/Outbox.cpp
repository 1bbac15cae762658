#include "Outbox.h"

#include "SaveFile.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTimer>
#include <algorithm>
#include <exception>

namespace {

// One clock for every due time: monotonic, so a change of the wall clock never
// times out a command early or late.
qint64 NowMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

char LetterOf(TrafficKind kind)
{
    switch (kind) {
    case TrafficKind::Call:
        return 'B';
    case TrafficKind::CallEnd:
        return 'D';
    case TrafficKind::Status:
        return 'E';
    case TrafficKind::ShortMessage:
        return 'F';
    case TrafficKind::LongMessage:
        return 'G';
    default:
        return 'H';
    }
}

std::optional<TrafficKind> KindOf(char letter)
{
    switch (letter) {
    case 'B':
        return TrafficKind::Call;
    case 'D':
        return TrafficKind::CallEnd;
    case 'E':
        return TrafficKind::Status;
    case 'F':
        return TrafficKind::ShortMessage;
    case 'G':
        return TrafficKind::LongMessage;
    case 'H':
        return TrafficKind::StatusRequest;
    default:
        return std::nullopt;
    }
}

QString ShownText(TrafficKind kind, const TCommandTexts &texts)
{
    if (kind == TrafficKind::Status)
        return QString(texts.statusNumber + QLatin1Char(' ') + texts.statusText).trimmed();
    if (kind == TrafficKind::ShortMessage || kind == TrafficKind::LongMessage)
        return texts.message;
    return {};
}

// The command a call window wrote, as the session's notice has it: enough to
// write the same frame again.
TOutgoingCommand CommandOf(const TTrafficEvent &event)
{
    TOutgoingCommand command;
    command.letter = LetterOf(event.kind);
    command.fleet = event.fleet ? QString::number(*event.fleet) : QString();
    command.ident = event.ident ? QString::number(*event.ident) : QString();
    if (event.kind == TrafficKind::Status) {
        command.texts.statusNumber = event.status ? QString::number(*event.status) : QString();
        command.texts.statusText = event.statusText;
    } else {
        command.texts.message = event.text;
    }
    return command;
}

} // namespace

bool IsFinalState(TSentState state)
{
    return state != TSentState::Written && state != TSentState::RetryWaiting;
}

QString DescribeState(const TSentCommand &command)
{
    QString state;
    switch (command.state) {
    case TSentState::Written:
        state = QStringLiteral("written, waiting for the radio");
        break;
    case TSentState::RetryWaiting:
        state = QStringLiteral("busy");
        break;
    case TSentState::Accepted:
        state = QStringLiteral("accepted by the radio");
        break;
    case TSentState::Failed:
        state = QStringLiteral("failed (Fail)");
        break;
    case TSentState::Busy:
        state = QStringLiteral("radio busy");
        break;
    case TSentState::CommandNG:
        state = QStringLiteral("refused (Command NG)");
        break;
    case TSentState::NoAnswer:
        state = QStringLiteral("no answer");
        break;
    case TSentState::NotWritten:
        state = QStringLiteral("could not be written");
        break;
    case TSentState::Cancelled:
        state = QStringLiteral("cancelled, not sent again");
        break;
    case TSentState::Unknown:
        state = QStringLiteral("unknown, not sent again");
        break;
    }
    return command.detail.isEmpty() ? state : state + QLatin1String(": ") + command.detail;
}

TTrafficEvent OutcomeEvent(const TSentCommand &command)
{
    TTrafficEvent event;
    event.direction = TrafficDirection::Local;
    event.kind = TrafficKind::CommandOutcome;
    event.fleet = command.fleet;
    event.ident = command.ident;
    event.name = command.name;
    event.text = TrafficKindText(command.kind) + QLatin1String(": ") + DescribeState(command);
    if (command.writes > 1)
        event.text += QStringLiteral(" (written %1 times)").arg(command.writes);
    if (!command.origin.isEmpty())
        event.text += QLatin1String(" [") + command.origin + QLatin1Char(']');
    return event;
}

TOutbox::TOutbox(TSendFunction send, QObject *parent) : QObject(parent), send_(std::move(send))
{
    timeout_ = new QTimer(this);
    timeout_->setSingleShot(true);
    connect(timeout_, &QTimer::timeout, this, &TOutbox::AnswerTimedOut);
}

TOutbox::~TOutbox() = default;

const TSentCommand *TOutbox::Find(qint64 id) const
{
    const int row = RowOf(id);
    return row < 0 ? nullptr : &commands_[row];
}

int TOutbox::RowOf(qint64 id) const
{
    // Ids grow with the rows.
    const auto it = std::lower_bound(commands_.begin(), commands_.end(), id,
                                     [](const TSentCommand &c, qint64 wanted) { return c.id < wanted; });
    return it != commands_.end() && it->id == id ? int(it - commands_.begin()) : -1;
}

int TOutbox::PendingCount() const
{
    return int(std::count_if(commands_.begin(), commands_.end(),
                             [](const TSentCommand &c) { return !IsFinalState(c.state); }));
}

qint64 TOutbox::Submit(const TOutgoingCommand &command, const QString &origin)
{
    submitting_ = TSubmitting{0, origin, command};
    lastNoticed_ = 0;
    try {
        send_(command);
    } catch (...) {
        submitting_.reset();
        // A port error is the command's state (NotWritten) now; an error before
        // any writing (a field that is not a number) is the caller's.
        if (lastNoticed_ == 0)
            throw;
    }
    submitting_.reset();
    return lastNoticed_;
}

bool TOutbox::Resend(qint64 id)
{
    const int row = RowOf(id);
    if (row < 0 || !IsFinalState(commands_[row].state) || commands_[row].state == TSentState::Accepted)
        return false;
    commands_[row].resends++;
    commands_[row].stopped = false;
    Write(id);
    return true;
}

bool TOutbox::Cancel(qint64 id)
{
    const int row = RowOf(id);
    if (row < 0)
        return false;
    TSentCommand &command = commands_[row];
    if (command.state == TSentState::RetryWaiting) {
        command.stopped = true;
        Finish(command, TSentState::Cancelled);
        return true;
    }
    if (command.state == TSentState::Written && !command.stopped) {
        // On the wire already: its answer still comes and is still matched.
        command.stopped = true;
        command.detail = QStringLiteral("not to be sent again");
        Touch(command);
        return true;
    }
    return false;
}

void TOutbox::Write(qint64 id)
{
    const int at = RowOf(id);
    if (at < 0)
        return;
    const TSentCommand &command = commands_[at];
    submitting_ = TSubmitting{id, command.origin, command.command};
    lastNoticed_ = 0;
    QString error;
    try {
        send_(submitting_->command);
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    }
    submitting_.reset();
    // The notice of a port error came already; anything else never reached the port.
    if (lastNoticed_ == id)
        return;
    const int row = RowOf(id);
    if (row >= 0)
        Finish(commands_[row], TSentState::NotWritten,
               error.isEmpty() ? QStringLiteral("refused before writing") : error);
}

TSentCommand *TOutbox::Entry(const TTrafficEvent &event)
{
    if (submitting_ && submitting_->id) {
        lastNoticed_ = submitting_->id;
        const int row = RowOf(submitting_->id);
        if (row >= 0)
            return &commands_[row];
    }
    Trim();
    TSentCommand command;
    command.id = nextId_++;
    command.time = event.time.isValid() ? event.time : QDateTime::currentDateTimeUtc();
    if (submitting_) {
        command.origin = submitting_->origin;
        command.command = submitting_->command;
        lastNoticed_ = command.id;
    } else {
        command.command = CommandOf(event);
        // A control-room position's command, sent at the owner in its name.
        command.origin = event.position;
    }
    command.kind = event.kind;
    command.fleet = event.fleet;
    command.ident = event.ident;
    command.name = event.name;
    command.text =
        event.kind == TrafficKind::Status ? ShownText(event.kind, command.command.texts) : event.text;
    const int row = int(commands_.size());
    emit AboutToAdd(row);
    commands_.push_back(command);
    emit Added(row);
    return &commands_.back();
}

void TOutbox::CommandWritten(const TTrafficEvent &event)
{
    TSentCommand *command = Entry(event);
    command->writes++;
    command->state = TSentState::Written;
    command->detail = command->stopped ? QStringLiteral("not to be sent again") : QString();
    awaiting_.push_back({command->id, NowMs() + options_.answerTimeoutMs});
    if (awaiting_.size() == 1)
        ArmTimeout();
    Touch(*command);
    PendingChanged();
}

void TOutbox::CommandNotWritten(const TTrafficEvent &event, const QString &reason)
{
    Finish(*Entry(event), TSentState::NotWritten, reason);
}

void TOutbox::TrafficEvent(const TTrafficEvent &event)
{
    if (event.kind == TrafficKind::Acknowledgement && event.direction == TrafficDirection::In) {
        if (awaiting_.empty()) {
            ++unmatched_;
            emit AnswerWithoutCommand(event.text);
            return;
        }
        const qint64 id = awaiting_.front().id;
        awaiting_.pop_front();
        ArmTimeout();
        Answer(id, event.text);
    } else if (event.kind == TrafficKind::PortLost) {
        // The answers of what is on the wire can no longer come.
        const std::deque<TAwaiting> lost = std::move(awaiting_);
        awaiting_.clear();
        ArmTimeout();
        for (const TAwaiting &waiting : lost)
            if (const int row = RowOf(waiting.id); row >= 0)
                Finish(commands_[row], TSentState::NoAnswer, QStringLiteral("port lost"));
    }
}

void TOutbox::Answer(qint64 id, const QString &answer)
{
    const int row = RowOf(id);
    if (row < 0)
        return;
    TSentCommand &command = commands_[row];
    if (answer == QLatin1String("Success")) {
        Finish(command, TSentState::Accepted);
    } else if (answer == QLatin1String("Fail")) {
        Finish(command, TSentState::Failed);
    } else if (answer == QLatin1String("Command NG")) {
        Finish(command, TSentState::CommandNG);
    } else if (answer == QLatin1String("Busy")) {
        if (!command.stopped && command.busyRetries < options_.busyRetries) {
            command.state = TSentState::RetryWaiting;
            command.detail = QStringLiteral("sent again in %1 s (retry %2 of %3)")
                                 .arg(options_.busyPauseMs / 1000.0)
                                 .arg(command.busyRetries + 1)
                                 .arg(options_.busyRetries);
            Touch(command);
            PendingChanged();
            QTimer::singleShot(options_.busyPauseMs, this, [this, id] {
                const int at = RowOf(id);
                if (at < 0 || commands_[at].state != TSentState::RetryWaiting || commands_[at].stopped)
                    return;
                commands_[at].busyRetries++;
                Write(id);
            });
        } else {
            Finish(command, TSentState::Busy,
                   command.stopped            ? QStringLiteral("cancelled, not sent again")
                   : command.busyRetries == 1 ? QStringLiteral("after 1 retry")
                   : command.busyRetries      ? QStringLiteral("after %1 retries").arg(command.busyRetries)
                                              : QString());
        }
    } else {
        Finish(command, TSentState::NoAnswer, QStringLiteral("answer '%1' not understood").arg(answer));
    }
}

void TOutbox::Finish(TSentCommand &command, TSentState state, const QString &detail)
{
    command.state = state;
    command.detail = detail;
    Touch(command);
    PendingChanged();
    // A copy: a receiver may submit the next command, and the list may drop this row.
    const TSentCommand finished = command;
    emit Finished(finished);
}

void TOutbox::Touch(const TSentCommand &command)
{
    const int row = RowOf(command.id);
    if (row >= 0)
        emit Changed(row);
}

void TOutbox::ArmTimeout()
{
    if (awaiting_.empty()) {
        timeout_->stop();
        return;
    }
    timeout_->start(int(std::max<qint64>(0, awaiting_.front().dueMs - NowMs())));
}

void TOutbox::AnswerTimedOut()
{
    const qint64 now = NowMs();
    while (!awaiting_.empty() && awaiting_.front().dueMs <= now) {
        const qint64 id = awaiting_.front().id;
        awaiting_.pop_front();
        if (const int row = RowOf(id); row >= 0)
            Finish(commands_[row], TSentState::NoAnswer,
                   QStringLiteral("none within %1 s").arg(options_.answerTimeoutMs / 1000.0));
    }
    ArmTimeout();
}

void TOutbox::PendingChanged()
{
    std::vector<qint64> pending;
    for (const TSentCommand &command : commands_)
        if (!IsFinalState(command.state))
            pending.push_back(command.id);
    if (pending == savedPending_)
        return;
    const bool countChanged = pending.size() != savedPending_.size();
    savedPending_ = std::move(pending);
    SavePending();
    if (countChanged)
        emit PendingCountChanged(int(savedPending_.size()));
}

void TOutbox::SavePending()
{
    if (pendingFile_.isEmpty())
        return;
    QJsonArray list;
    for (const qint64 id : savedPending_) {
        const int row = RowOf(id);
        if (row < 0)
            continue;
        const TSentCommand &c = commands_[row];
        QJsonObject item;
        item[QLatin1String("time")] = c.time.toString(Qt::ISODateWithMs);
        item[QLatin1String("origin")] = c.origin;
        item[QLatin1String("letter")] = QString(QLatin1Char(c.command.letter));
        item[QLatin1String("fleet")] = c.command.fleet;
        item[QLatin1String("ident")] = c.command.ident;
        item[QLatin1String("name")] = c.name;
        item[QLatin1String("statusNumber")] = c.command.texts.statusNumber;
        item[QLatin1String("statusText")] = c.command.texts.statusText;
        item[QLatin1String("message")] = c.command.texts.message;
        item[QLatin1String("writes")] = c.writes;
        list.append(item);
    }
    QJsonObject root;
    root[QLatin1String("pending")] = list;
    QSaveFile file(pendingFile_);
    QString problem;
    if (!file.open(QIODevice::WriteOnly))
        problem = file.errorString();
    else {
        file.write(QJsonDocument(root).toJson(QJsonDocument::Indented));
        problem = FinishSaveFile(file);
    }
    if (problem.isEmpty()) {
        pendingProblem_ = false;
        return;
    }
    if (!pendingProblem_)
        emit Problem(QStringLiteral("The list of commands waiting for the radio cannot be written to %1: %2. "
                                    "After a restart they will not be shown as unknown.")
                         .arg(pendingFile_, problem));
    pendingProblem_ = true;
}

QString TOutbox::OpenPendingFile(const QString &fileName)
{
    pendingFile_ = fileName;
    QFile file(fileName);
    if (!file.exists())
        return {};
    QString problem;
    QJsonArray list;
    if (!file.open(QIODevice::ReadOnly)) {
        problem = file.errorString();
    } else {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
        file.close();
        if (error.error != QJsonParseError::NoError)
            problem = error.errorString() + QStringLiteral(" at byte %1").arg(error.offset);
        else if (!document.isObject() || !document.object().value(QLatin1String("pending")).isArray())
            problem = QStringLiteral("no list of pending commands in it");
        else
            list = document.object().value(QLatin1String("pending")).toArray();
    }
    if (!problem.isEmpty()) {
        // Kept for a person to read; a new list starts beside it.
        const QString aside = fileName + QLatin1String(".unreadable");
        QFile::remove(aside);
        QFile::rename(fileName, aside);
        return QStringLiteral("The list of commands left pending by the last run (%1) cannot be read: %2. "
                              "It was set aside as %3.")
            .arg(fileName, problem, aside);
    }
    int skipped = 0;
    for (const QJsonValue &value : std::as_const(list)) {
        const QJsonObject item = value.toObject();
        const QString letter = item.value(QLatin1String("letter")).toString();
        const std::optional<TrafficKind> kind =
            letter.size() == 1 ? KindOf(letter.at(0).toLatin1()) : std::nullopt;
        if (!kind) {
            ++skipped;
            continue;
        }
        Trim();
        TSentCommand command;
        command.id = nextId_++;
        command.time = QDateTime::fromString(item.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
        command.origin = item.value(QLatin1String("origin")).toString();
        command.command.letter = letter.at(0).toLatin1();
        command.command.fleet = item.value(QLatin1String("fleet")).toString();
        command.command.ident = item.value(QLatin1String("ident")).toString();
        command.command.texts.statusNumber = item.value(QLatin1String("statusNumber")).toString();
        command.command.texts.statusText = item.value(QLatin1String("statusText")).toString();
        command.command.texts.message = item.value(QLatin1String("message")).toString();
        command.kind = *kind;
        command.fleet = TrafficNumber(command.command.fleet);
        command.ident = TrafficNumber(command.command.ident);
        command.name = item.value(QLatin1String("name")).toString();
        command.text = ShownText(*kind, command.command.texts);
        command.writes = item.value(QLatin1String("writes")).toInt();
        command.state = TSentState::Unknown;
        const int row = int(commands_.size());
        emit AboutToAdd(row);
        commands_.push_back(command);
        emit Added(row);
        emit Finished(command);
    }
    // Known now as unknown: the file holds what this run has pending.
    savedPending_.assign(1, -1);
    PendingChanged();
    if (skipped)
        return QStringLiteral("%1 of the commands left pending by the last run (%2) name no command and "
                              "were left out.")
            .arg(skipped)
            .arg(fileName);
    return {};
}

void TOutbox::Trim()
{
    int count = 0;
    while (int(commands_.size()) - count >= KeptCommands && IsFinalState(commands_[count].state))
        ++count;
    if (count == 0)
        return;
    emit AboutToDrop(count);
    commands_.erase(commands_.begin(), commands_.begin() + count);
    emit Dropped(count);
}

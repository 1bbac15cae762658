#pragma once

#include "PopupDispatch.h"
#include "SendCommand.h"
#include "TrafficEvent.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class TRadioLink;
class TTable;

// The console's traffic with no window: the two directory tables opened once,
// the one command context (at a stable address: the call windows hold a
// reference), and each received frame decoded and applied through the popup
// host and the log it is given. Every event that the log shows, every command
// sent and every change of the port comes out as a signal, as values. Lives on
// the user-interface thread.
class TConsoleSession final : public QObject, private ITrafficObserver {
    Q_OBJECT
public:
    // Opens User.DB and Status.db in the working directory (errors thrown, naming
    // the file) and takes the link's frames and port notices from now on.
    explicit TConsoleSession(TRadioLink &link, QObject *parent = nullptr);
    ~TConsoleSession() override;

    // Where the received frames' popups and the log entries of both directions
    // go. Either may be null (then nothing is shown, or logged).
    void SetPopupHost(IPopupHost *host) { popupHost_ = host; }
    void SetLog(ILog *log);

    TTable *UserTable() const { return users_; }
    TTable *StatusTable() const { return statuses_; }
    // Where every outgoing command goes through: port, log, user table, and this
    // session told of what was sent.
    const TCommandContext &CommandContext() const { return context_; }

    // The command path, the one function every sender uses: SendCommand over
    // the command context. position names the control-room position that asked
    // for it (its events carry the name).
    void Send(char letter, const QString &fleet, const QString &ident, const TCommandTexts &texts = {},
              const QString &position = {});

    // A console with no radio of its own: valid commands go to the relay (null:
    // to the port again).
    void SetRelay(ICommandRelay *relay) { context_.relay = relay; }

    // What the log and the popups got for the event being emitted by Traffic
    // (empty outside it): a position replays exactly this.
    struct TShown {
        QString entry;                // the log entry; empty when none was made
        QList<TWindowEffect> effects; // the received frame's window effects, in order
    };
    const TShown &Shown() const { return shown_; }

    // Applies what the radio's owner showed for one event as if it happened
    // here: the effects through the popup host, the entry into the log, then the
    // Traffic signal with the event as the owner stamped it.
    void ApplyRemote(const TTrafficEvent &event, const TShown &shown);
    // An entry of this console's own into the log (a notice of the bus), no event.
    void Note(const QString &entry);

    // Decodes one frame from the radio and applies it: popups, the log entry,
    // then the Traffic signal. Errors propagate.
    void HandleFrame(const QByteArray &frame);

signals:
    // Every event in the order the log shows it: received, sent, refused and the
    // port's lost and back. Time stamped (UTC) when it is emitted.
    void Traffic(const TTrafficEvent &event);
    // An outgoing command that went to the port (also in Traffic).
    void CommandSent(const TTrafficEvent &event);
    // An outgoing command whose frame the port refused; the error propagates to
    // the sender as before. Not in Traffic: the log has no entry for it.
    void CommandNotWritten(const TTrafficEvent &event, const QString &reason);
    // The port went away (open false) or came back (also in Traffic).
    void PortStateChanged(bool open, const QString &device);

private:
    void TrafficEvent(const TTrafficEvent &event) override;
    void PortRefused(const TTrafficEvent &event, const QString &reason) override;
    void FrameReceived(const QByteArray &frame);
    void ReportPort(TrafficKind kind, const QString &device);

    // The log as the commands and the decoder reach it: keeps each entry for Shown().
    class TLogTap final : public ILog {
    public:
        explicit TLogTap(TConsoleSession &session) : session_(session) {}
        void InsertEntry(const QString &entry) override;

    private:
        TConsoleSession &session_;
    };

    TRadioLink &link_;
    ILog *log_;
    TLogTap tap_{*this};
    TShown shown_;
    QString position_; // of the command being sent
    TTable *users_ = nullptr;
    TTable *statuses_ = nullptr;
    IPopupHost *popupHost_ = nullptr;
    TCommandContext context_;
};

#pragma once

#include "PopupDispatch.h"
#include "SendCommand.h"
#include "TrafficEvent.h"

#include <QByteArray>
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
    // the command context.
    void Send(char letter, const QString &fleet, const QString &ident, const TCommandTexts &texts = {});

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

    TRadioLink &link_;
    TTable *users_ = nullptr;
    TTable *statuses_ = nullptr;
    IPopupHost *popupHost_ = nullptr;
    TCommandContext context_;
};

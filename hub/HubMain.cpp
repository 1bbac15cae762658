// corvalink-hub: runs the radio in a working directory like the console's
// (CorvalinkDemo.ini, User.DB, Status.db, history.db, CorvalinkPreferences.ini)
// with nobody at a screen: what the console would show in a box or its log goes
// to standard error, and the feed carries the traffic to the control room.
#include "CommandDesk.h"
#include "ConsoleFiles.h"
#include "ConsoleSession.h"
#include "ErrorReport.h"
#include "FeedPublisher.h"
#include "MessageBox.h"
#include "Preferences.h"
#include "RadioLink.h"
#include "TrafficHub.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(SignalPipe[1], &byte, 1);
}

void Say(const QString &text)
{
    std::fprintf(stderr, "corvalink-hub: %s\n", qUtf8Printable(text));
    std::fflush(stderr);
}

// The log's entries, one line each, as the console's log shows them.
class TStderrLog final : public ILog {
public:
    void InsertEntry(const QString &entry) override { Say(entry.simplified()); }
};

int Usage()
{
    std::fprintf(stderr, "usage: corvalink-hub [-C directory]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvalink-hub"));
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() == 2 && args.at(0) == QLatin1String("-C")) {
        if (!QDir::setCurrent(args.at(1))) {
            Say(QStringLiteral("cannot enter %1").arg(args.at(1)));
            return 1;
        }
    } else if (!args.isEmpty()) {
        return Usage();
    }

    // Nobody to ask: every box is written out and answered Ok.
    SetMessageBoxRoutine([](const QString &text, const QString &caption, MsgIcon, MsgButtons) {
        Say(caption + QStringLiteral(": ") + QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        return MsgAnswer::Ok;
    });

    if (::pipe(SignalPipe) != 0)
        return 1;
    QSocketNotifier stop(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(SignalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);

    std::unique_ptr<TRadioLink> link;
    std::unique_ptr<TConsoleSession> session;
    std::unique_ptr<TTrafficHub> hub;
    std::unique_ptr<TFeedPublisher> feed;
    std::unique_ptr<TCommandDesk> desk;
    TStderrLog log;
    try {
        link = std::make_unique<TRadioLink>();
        session = std::make_unique<TConsoleSession>(*link);
        session->SetLog(&log);
        if (!link->LoadSettings(SettingsFileName)) {
            Say(QStringLiteral("no usable port in %1; ending")
                    .arg(QDir::current().filePath(SettingsFileName)));
            return 1;
        }
        hub = std::make_unique<TTrafficHub>(HistoryFileName);
        QObject::connect(session.get(), &TConsoleSession::Traffic, hub.get(), &TTrafficHub::TrafficEvent);
        QString problem;
        feed = TFeedPublisher::FromPreferences(PreferencesFileName, &problem);
        if (feed) {
            feed->Attach(*link, *session, *hub);
            // The positions' commands, sent here as if typed at a console.
            desk =
                std::make_unique<TCommandDesk>(*feed, *session, *hub, feed->Preferences().positionsMaySend);
            QObject::connect(
                desk.get(), &TCommandDesk::Refused, desk.get(),
                [](const QString &position, const QString &why) {
                    Say(QStringLiteral("a command from position %1 refused: %2").arg(position, why));
                });
        } else if (problem.isEmpty())
            Say(QStringLiteral("%1 names no broker ([Bus] Broker=): the traffic goes to the history only")
                    .arg(QDir::current().filePath(PreferencesFileName)));
        else
            Say(problem);
    } catch (const std::exception &error) {
        Say(QString::fromUtf8(error.what()));
        return 1;
    }
    link->StartTraffic();
    Say(QStringLiteral("running on %1 in %2").arg(link->PortName(), QDir::currentPath()));

    const int rc = app.exec();

    // The console's exit: the feed says goodbye, the history is written, the
    // port is closed and the settings saved.
    desk.reset();
    feed.reset();
    hub->FlushHistory();
    hub.reset();
    const bool saved = link->CloseAndSave(SettingsFileName);
    session.reset();
    link.reset();
    Say(QStringLiteral("stopped"));
    return saved ? rc : 1;
}

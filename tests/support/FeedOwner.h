#pragma once

#include "CommandDesk.h"
#include "ConsoleFiles.h"
#include "ConsoleSession.h"
#include "FeedPublisher.h"
#include "Preferences.h"
#include "RadioLink.h"
#include "Recorders.h"
#include "ScratchDir.h"
#include "TrafficHub.h"

#include <QFile>
#include <memory>

// The radio's owner with no window, as the hub program wires it: link, session
// and traffic hub in a scratch working directory with the radio on a
// pseudo-terminal as COM1, and the feed from the [Bus] section given. For the
// tests of the feed and bench_bus.
struct TFeedOwner {
    TScratchDir dir;
    TRecordingLog log;
    std::unique_ptr<TRadioLink> link;
    std::unique_ptr<TConsoleSession> session;
    std::unique_ptr<TTrafficHub> hub;
    std::unique_ptr<TFeedPublisher> feed;
    std::unique_ptr<TCommandDesk> desk;

    // Empty when running, else what failed. A null bus section runs no feed.
    QString Open(const QByteArray &busSection)
    {
        QString problem = dir.Prepare(TScratchDir::Settings(1, 0), {1});
        if (!problem.isEmpty() || !dir.MakeCurrent())
            return problem.isEmpty() ? QStringLiteral("cannot enter the scratch directory") : problem;
        if (!busSection.isNull() && !dir.WriteFile(PreferencesFileName, "[Bus]\n" + busSection))
            return QStringLiteral("cannot write the preferences");
        link = std::make_unique<TRadioLink>();
        session = std::make_unique<TConsoleSession>(*link);
        session->SetLog(&log);
        if (!link->LoadSettings())
            return QStringLiteral("the port does not open");
        hub = std::make_unique<TTrafficHub>(HistoryFileName);
        QObject::connect(session.get(), &TConsoleSession::Traffic, hub.get(), &TTrafficHub::TrafficEvent);
        if (!busSection.isNull()) {
            feed = TFeedPublisher::FromPreferences(PreferencesFileName, &problem);
            if (!feed)
                return problem.isEmpty() ? QStringLiteral("no feed") : problem;
            feed->Attach(*link, *session, *hub);
            desk =
                std::make_unique<TCommandDesk>(*feed, *session, *hub, feed->Preferences().positionsMaySend);
        }
        link->StartTraffic();
        return {};
    }
    // The order the console goes in at exit.
    void Close()
    {
        desk.reset();
        feed.reset();
        hub.reset();
        session.reset();
        link.reset();
    }
    ~TFeedOwner() { Close(); }
    TRadioLine &Radio() { return *dir.Line(1); }
};

inline QByteArray RadioFrame(const QByteArray &payload)
{
    return '\x02' + payload + '\x03';
}

#pragma once

#include "ConsoleFiles.h"
#include "ConsoleSession.h"
#include "PositionLink.h"
#include "Preferences.h"
#include "RadioLink.h"
#include "Recorders.h"
#include "ScratchDir.h"
#include "TrafficHub.h"

#include <memory>

// A control-room position's console core with no window, as app/ wires it for
// --position: no port, the session and hub of its own scratch directory, the
// feed applied through TPositionLink. For the tests of positions and bench_positions.
struct TPositionCore {
    TScratchDir dir;
    TRecordingLog log;
    TRecordingHost popups;
    std::unique_ptr<TRadioLink> link;
    std::unique_ptr<TConsoleSession> session;
    std::unique_ptr<TTrafficHub> hub;
    std::unique_ptr<TPositionLink> position;
    bool prepared = false;

    // Empty when following the radio r1 through the broker on port, else what
    // failed. bus: the [Bus] section's broker lines instead (mqtts, a CA file).
    QString Open(int port, const QString &name, const QByteArray &bus = {})
    {
        // Opened again after Close: the same directory, what the last run left there.
        QString problem = prepared ? QString() : dir.Prepare(TScratchDir::Settings(1, 0x1f), {});
        prepared = true;
        if (!problem.isEmpty() || !dir.MakeCurrent())
            return problem.isEmpty() ? QStringLiteral("cannot enter the scratch directory") : problem;
        if (!dir.WriteFile(
                PreferencesFileName,
                "[Bus]\n" +
                    (bus.isEmpty() ? "Broker=mqtt://127.0.0.1:" + QByteArray::number(port) + '\n' : bus) +
                    "Radio=r1\n"))
            return QStringLiteral("cannot write the preferences");
        link = std::make_unique<TRadioLink>();
        link->UseWithoutRadio();
        session = std::make_unique<TConsoleSession>(*link);
        session->SetLog(&log);
        session->SetPopupHost(&popups);
        hub = std::make_unique<TTrafficHub>(dir.Path(HistoryFileName));
        QObject::connect(session.get(), &TConsoleSession::Traffic, hub.get(), &TTrafficHub::TrafficEvent);
        position = TPositionLink::FromPreferences(PreferencesFileName, name, *session, *hub, &problem);
        dir.RestoreCurrent();
        return position ? QString() : problem;
    }
    void Close()
    {
        position.reset();
        hub.reset();
        session.reset();
        link.reset();
    }
    ~TPositionCore() { Close(); }
    // The owner's retained state came: subscribed and following.
    bool Following() const { return position && position->RadioState() == QLatin1String("online"); }
};

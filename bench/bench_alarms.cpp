// The alarms' cost on the user-interface thread. Prints figures; never fails.
//
// (a) 10,000 open alarms in the list, then new ones, one at a time: the time of
//     each (the list, the Emergencies window's model and grid, the repaint) with the window
//     shown and with it hidden.
// (b) The whole console in-process over a pseudo-terminal: 100 routine frames a
//     second with 20 emergencies from 20 stations mixed in. The alarms are
//     counted, and the time from each emergency frame's last byte to the sound's
//     play request is measured. The console asks for the sound in its handler of
//     the alarm list's Changed; the handler connected here runs right after it.
//
// Usage: bench_alarms [open alarms, default 10000] [new alarms each way, default 200]
#include "AlarmList.h"
#include "Application.h"
#include "BoxRecorder.h"
#include "Console.h"
#include "ConsoleHarness.h"
#include "EmergenciesWindow.h"
#include "TrafficHub.h"

#include <QEventLoop>
#include <QMainWindow>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

double Ms(SteadyClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

TTrafficEvent Emergency(int station)
{
    TTrafficEvent e;
    e.kind = TrafficKind::Status;
    e.direction = TrafficDirection::In;
    e.time = QDateTime::currentDateTimeUtc();
    e.fleet = 100 + station / 9000;
    e.ident = 1000 + station % 9000;
    e.name = QStringLiteral("Car %1").arg(station);
    e.status = 95;
    e.statusText = QStringLiteral("Emergency");
    e.statusKnown = true;
    return e;
}

struct TSpread {
    double median = 0, p99 = 0, max = 0;
};

TSpread Spread(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    if (v.empty())
        return {};
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)], v.back()};
}

struct TCost {
    TSpread change, painted;
};

TCost NewAlarms(TAlarmList &alarms, int &station, int count)
{
    std::vector<double> costs, painted;
    for (int i = 0; i < count; ++i) {
        const TTrafficEvent e = Emergency(station++);
        const auto start = SteadyClock::now();
        alarms.Raise(e);
        costs.push_back(Ms(SteadyClock::now() - start));
        // What the event loop does next belongs to it too: the repaint.
        QCoreApplication::processEvents();
        painted.push_back(Ms(SteadyClock::now() - start));
    }
    return {Spread(costs), Spread(painted)};
}

void OpenAlarms(int openAlarms, int newAlarms)
{
    TAlarmList alarms;
    int station = 0;
    for (; station < openAlarms; ++station)
        alarms.Raise(Emergency(station));
    TEmergenciesForm form(alarms,
                          [&](qint64 id) { alarms.Acknowledge(id, QStringLiteral("Emergencies window")); });
    form.show();
    QTest::qWaitForWindowExposed(&form);
    const TCost shown = NewAlarms(alarms, station, newAlarms);
    form.hide();
    const TCost hidden = NewAlarms(alarms, station, newAlarms);
    std::printf("(a) %d open alarms, %d new ones each way, ms per new alarm on the UI thread\n", openAlarms,
                newAlarms);
    const auto print = [](const char *what, const TSpread &t) {
        std::printf("    %-32s median %.3f  p99 %.3f  max %.3f\n", what, t.median, t.p99, t.max);
    };
    print("window shown, the change:", shown.change);
    print("window shown, with the repaint:", shown.painted);
    print("window hidden, the change:", hidden.change);
    print("window hidden, with the event loop:", hidden.painted);
    const auto start = SteadyClock::now();
    form.show();
    std::printf("    showing it again (catching up, %d rows): %.1f ms\n", int(alarms.Alarms().size()),
                Ms(SteadyClock::now() - start));
}

void WholeConsole()
{
    TConsoleHarness console(0);
    if (!console.Error().isEmpty()) {
        std::printf("(b) console did not start: %s\n", qPrintable(console.Error()));
        return;
    }
    TBoxRecorder boxes;
    TAlarmList &alarms = Console->Hub().Alarms();
    const int emergencies = 20;
    const int frames = 1000; // ten seconds at 100 a second
    std::vector<SteadyClock::time_point> written(emergencies), requested;
    qsizetype known = alarms.Alarms().size();
    QObject::connect(&alarms, &TAlarmList::Changed, Console->Window(), [&] {
        if (alarms.Alarms().size() > known && alarms.SoundWanted())
            requested.push_back(SteadyClock::now());
        known = alarms.Alarms().size();
    });
    std::atomic<bool> done{false};
    std::thread writer([&] {
        auto next = SteadyClock::now();
        int emergency = 0;
        for (int i = 0; i < frames; ++i) {
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
            const bool urgent =
                i % (frames / emergencies) == frames / emergencies / 2 && emergency < emergencies;
            const QByteArray payload = urgent ? QByteArray(QByteArray("E") + QByteArray::number(100) +
                                                           QByteArray::number(2000 + emergency) + "95")
                                              : QByteArray(QByteArray("E1001000") + (i % 2 ? "10" : "22"));
            console.Line(0).Write('\x02' + payload + '\x03');
            if (urgent)
                written[std::size_t(emergency++)] = SteadyClock::now();
        }
        done = true;
    });
    QEventLoop wait;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
        if (done && requested.size() >= std::size_t(emergencies))
            wait.quit();
    });
    poll.start(5);
    QTimer::singleShot(30000, &wait, &QEventLoop::quit);
    wait.exec();
    writer.join();
    std::vector<double> latency;
    for (std::size_t i = 0; i < std::min(requested.size(), written.size()); ++i)
        latency.push_back(Ms(requested[i] - written[i]));
    const TSpread s = Spread(latency);
    std::printf("(b) whole console, %d frames at 100/s, %d emergencies from %d stations\n", frames,
                emergencies, emergencies);
    std::printf("    alarms: %d (open %d)\n", int(alarms.Alarms().size()), alarms.OpenCount());
    std::printf("    ETX to sound request, ms: first %.1f  median %.1f  max %.1f\n",
                latency.empty() ? -1.0 : latency.front(), s.median, s.max);
}

} // namespace

int main(int argc, char **argv)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    const int openAlarms = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int newAlarms = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    OpenAlarms(openAlarms, newAlarms);
    WholeConsole();
    return 0;
}

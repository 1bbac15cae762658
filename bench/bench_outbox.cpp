// What the outbox adds to each command: SendCommand alone, then through the
// outbox with the answer matched, then with the pending list kept on disk (one
// replacement of CorvalinkPending.json when a command is written and one when it
// is answered); a 50-station group send; the field filling and code-page check.
#include "CannedMessages.h"
#include "DispatchFiles.h"
#include "DispatchRig.h"
#include "GroupSend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <ctime>

namespace {

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

class TNoTraffic final : public ITrafficObserver {
public:
    void TrafficEvent(const TTrafficEvent &) override {}
};

void Report(const char *what, int count, double cpuMs, qint64 wallMs)
{
    std::printf("%-44s %6d commands  CPU %8.1f us each  wall %8.1f us each\n", what, count,
                cpuMs * 1e3 / count, wallMs * 1e3 / count);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 5000;
    const TOutgoingCommand request{'H', QStringLiteral("101"), QStringLiteral("1101"), {}};

    {
        TDispatchRig rig;
        TNoTraffic none;
        rig.context.traffic = &none;
        QElapsedTimer wall;
        wall.start();
        const double cpu = ThreadCpuMs();
        for (int i = 0; i < count; ++i) {
            SendCommand(rig.context, 'H', request.fleet, request.ident);
            if (rig.port.writes.size() > 3000)
                rig.port.writes.clear();
        }
        Report("SendCommand alone", count, ThreadCpuMs() - cpu, wall.elapsed());
    }
    for (const bool onDisk : {false, true}) {
        QTemporaryDir dir;
        TDispatchRig rig;
        if (onDisk)
            rig.outbox.OpenPendingFile(dir.filePath(PendingFileName));
        const int n = onDisk ? std::min(count, 500) : count;
        QElapsedTimer wall;
        wall.start();
        const double cpu = ThreadCpuMs();
        for (int i = 0; i < n; ++i) {
            rig.outbox.Submit(request);
            rig.Answer(QStringLiteral("Success"));
            if (rig.port.writes.size() > 3000)
                rig.port.writes.clear();
        }
        Report(onDisk ? "through the outbox, pending list on disk" : "through the outbox, answer matched", n,
               ThreadCpuMs() - cpu, wall.elapsed());
    }
    {
        // 50 stations, the radio answering each from the event loop at once.
        TDispatchRig rig;
        QList<TOutgoingCommand> commands;
        for (int i = 0; i < 50; ++i)
            commands.append(
                {'F', QStringLiteral("101"), QString::number(1100 + i), {{}, {}, "Return to base"}});
        QObject radio;
        QObject::connect(&rig.outbox, &TOutbox::Changed, &radio, [&](int row) {
            if (rig.outbox.Commands()[row].state == TSentState::Written)
                QTimer::singleShot(0, &radio, [&] { rig.Answer(QStringLiteral("Success")); });
        });
        TGroupSend send(rig.outbox, commands);
        QElapsedTimer wall;
        wall.start();
        const double cpu = ThreadCpuMs();
        send.Start();
        while (!send.Done())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        std::printf("group send, 50 stations, answers at once: CPU %.2f ms, wall %lld ms\n",
                    ThreadCpuMs() - cpu, wall.elapsed());
    }
    {
        const QString text =
            QStringLiteral("{name} ({fleet-ident}): report at {time}, last status {status-text}. ") +
            QString(200, QLatin1Char('x'));
        for (const int codePage : {1252, 932}) {
            const double cpu = ThreadCpuMs();
            int bytes = 0;
            for (int i = 0; i < count; ++i)
                bytes += PrepareMessage(text, {"Car 1", "101-1101", "14:05", "On scene"}, codePage).bytes;
            std::printf("PrepareMessage, 270 characters, code page %d: %.1f us each (%d bytes)\n", codePage,
                        (ThreadCpuMs() - cpu) * 1e3 / count, bytes / count);
        }
    }
    return 0;
}

// Fills the Stations window with a busy fleet (an emergency, overdue check-ins,
// one of them across a console restart) and keeps frames coming: for looking at
// the window before the console shows it. Not installed.
#include "StationBoard.h"
#include "StationsWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

namespace {

TTrafficEvent Frame(TrafficKind kind, TStationKey key, const QDateTime &time)
{
    TTrafficEvent e;
    e.time = time;
    e.kind = kind;
    e.fleet = key.fleet;
    e.ident = key.ident;
    e.name = QStringLiteral("%1-%2").arg(key.fleet).arg(key.ident);
    return e;
}

TTrafficEvent Status(TStationKey key, const QDateTime &time, int number, const QString &text)
{
    TTrafficEvent e = Frame(TrafficKind::Status, key, time);
    e.status = number;
    e.statusText = text;
    e.statusKnown = true;
    return e;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QTemporaryDir dir;
    TStationBoard board;

    // The last run ended 20 minutes ago; down time counts.
    TCheckinSettings previous;
    previous.countDowntime = true;
    previous.lastAlive = now.addSecs(-20 * 60);
    previous.stations.insert({102, 1002}, {30, now.addDays(-1)});
    previous.stations.insert({104, 1004}, {15, now.addDays(-1)});
    previous.fleets.insert(101, {60, now.addDays(-1)});
    const QString checkins = dir.filePath(CheckinFileName);
    SaveCheckins(checkins, previous, nullptr);
    board.OpenCheckinFile(checkins);

    const QStringList names{"Base",    "Car 1", "Car 2", "Truck 3", "Truck 4",
                            "Medic 5", "Yard",  "Tower", "Bus 12",  "Harbour"};
    QList<TDirectoryStation> directory;
    for (int i = 0; i < names.size(); ++i)
        directory.append({names[i], 100 + i, 1000 + i});
    board.SetDirectory(directory);

    const QStringList statuses{"On duty", "At scene", "Returning", "Off duty"};
    const QStringList messages{"back at base in 10 minutes",
                               "road closed at the bridge, taking the ring road", "fuel low", "copy that",
                               "=SUM(A1) is not a formula here"};
    QRandomGenerator random(5);
    for (int i = 0; i < 60; ++i) {
        const TStationKey key{100 + i % 10, 1000 + (i < 10 ? i : 100 + i)};
        const QDateTime heard = now.addSecs(-qint64(random.bounded(3 * 3600)));
        board.TrafficEvent(
            Status(key, heard.addSecs(-60), 20 + int(random.bounded(4)), statuses[int(random.bounded(4))]));
        if (random.bounded(2)) {
            TTrafficEvent m = Frame(TrafficKind::ShortMessage, key, heard);
            m.text = messages[int(random.bounded(messages.size()))];
            board.TrafficEvent(m);
        } else {
            board.TrafficEvent(Frame(TrafficKind::Call, key, heard));
        }
    }
    // Overdue: Car 2 fell due while the console was down, Truck 4 before it stopped.
    board.TrafficEvent(Frame(TrafficKind::Call, {102, 1002}, now.addSecs(-40 * 60)));
    board.TrafficEvent(Frame(TrafficKind::Call, {104, 1004}, now.addSecs(-3 * 3600)));
    TTrafficEvent longMessage = Frame(TrafficKind::LongMessage, {105, 1005}, now.addSecs(-200));
    longMessage.text =
        QStringLiteral("Patient stable, two more on the way.\r\nRequest a second unit at the north "
                       "gate, the road from the south is blocked by the fallen tree.");
    board.TrafficEvent(longMessage);
    board.TrafficEvent(Status({103, 1003}, now.addSecs(-95), 97, QStringLiteral("Emergency")));
    board.TrafficEvent(Frame(TrafficKind::Call, {999, 4999}, now.addDays(-3)));

    TStationsForm form(board);
    form.resize(1280, 560);
    form.show();
    // corvalink-board-demo [FILTER]: the filter box typed in.
    if (argc > 1)
        form.findChild<QLineEdit *>(QStringLiteral("FilterEdit"))->setText(QString::fromLocal8Bit(argv[1]));
    QApplication::processEvents();
    form.SelectStation({103, 1003});

    // A frame every second or so, as a quiet line sends them.
    QTimer frames;
    QObject::connect(&frames, &QTimer::timeout, &board, [&] {
        const TStationKey key{100 + int(random.bounded(10)), 1110 + int(random.bounded(50))};
        board.TrafficEvent(Frame(TrafficKind::Call, key, QDateTime::currentDateTimeUtc()));
    });
    frames.start(1200);
    return app.exec();
}

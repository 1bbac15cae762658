#pragma once

#include <QList>
#include <QString>

// One step of the demonstration: wait delayMs after the step before, then run the line
// (a line of the command language).
struct DemoStep {
    int delayMs;
    QString line;
};

// A few minutes of ordinary fleet traffic, played in a loop: calls and their ends, statuses,
// messages short and long, PTT IDs, calls between two stations, and one emergency status.
// The stations are Fleet 100 with Idents 1000 to 1005, and 101/2000; the statuses 1, 2, 3, 5,
// 12 and the emergency 95.
const QList<DemoStep> &DemoScenario();
// The length of one pass in milliseconds, including the pause before it starts again.
int DemoScenarioLengthMs();

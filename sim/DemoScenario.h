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
// The stations and statuses are those of the sample tables (Yard, Car 1, Car 2, Truck 3 and
// Base; 21 to 25, 30 and the emergency 95), plus two stations the directory does not know
// (103/1304 and 102/1250).
const QList<DemoStep> &DemoScenario();
// The length of one pass in milliseconds, including the pause before it starts again.
int DemoScenarioLengthMs();

#include "DemoScenario.h"

const QList<DemoStep> &DemoScenario()
{
    static const QList<DemoStep> steps = {
        {2000, QStringLiteral("call 101 1101")},
        {6500, QStringLiteral("callend 101 1101")},
        {4000, QStringLiteral("status 101 1101 22")},
        {5000, QStringLiteral("ptt 101 1102 on")},
        {3500, QStringLiteral("ptt 101 1102 off")},
        {4500, QStringLiteral("ani start 100 1000 102 1203")},
        {9000, QStringLiteral("ani end 100 1000 102 1203")},
        {5000, QStringLiteral("msg 102 1203 Arrived at the depot\\nUnloading now")},
        {6000, QStringLiteral("status 102 1203 21")},
        {5500, QStringLiteral("call 100 1001")},
        {8000, QStringLiteral("callend 100 1001")},
        {4000, QStringLiteral("ptt 101 1101 on")},
        {2500, QStringLiteral("ptt 101 1101 off")},
        {5000, QStringLiteral("status 101 1102 23")},
        {7000, QStringLiteral("msg 100 1001 Road closed at the north gate after the storm.\\n"
                              "Use the east entrance until further notice.\\nDrivers please confirm.")},
        // A station that is not in the directory: the console shows its numbers.
        {6000, QStringLiteral("ani start 103 1304 101 1102")},
        {11000, QStringLiteral("ani end 103 1304 101 1102")},
        {5000, QStringLiteral("status 101 1101 30")},
        {6000, QStringLiteral("status 101 1102 95")},
        {8000, QStringLiteral("call 101 1102")},
        {12000, QStringLiteral("callend 101 1102")},
        {4000, QStringLiteral("msg 101 1102 All clear, thanks")},
        {5000, QStringLiteral("ptt 102 1250 on")},
        {3000, QStringLiteral("ptt 102 1250 off")},
        {6000, QStringLiteral("status 101 1102 24")},
        {5500, QStringLiteral("ani start 100 1001 101 1101")},
        {7500, QStringLiteral("ani end 100 1001 101 1101")},
        {6000, QStringLiteral("call 102 1203")},
        {9000, QStringLiteral("callend 102 1203")},
        {5000, QStringLiteral("status 102 1203 25")},
        // The pause before the loop starts again.
        {15000, QStringLiteral("# end of the scenario; it starts again")},
    };
    return steps;
}

int DemoScenarioLengthMs()
{
    int total = 0;
    for (const auto &s : DemoScenario())
        total += s.delayMs;
    return total;
}

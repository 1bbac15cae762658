#include "DemoScenario.h"

const QList<DemoStep> &DemoScenario()
{
    static const QList<DemoStep> steps = {
        {2000, QStringLiteral("call 100 1001")},
        {6500, QStringLiteral("callend 100 1001")},
        {4000, QStringLiteral("status 100 1002 3")},
        {5000, QStringLiteral("ptt 100 1003 on")},
        {3500, QStringLiteral("ptt 100 1003 off")},
        {4500, QStringLiteral("ani start 100 1004 100 1001")},
        {9000, QStringLiteral("ani end 100 1004 100 1001")},
        {5000, QStringLiteral("msg 100 1002 Arrived at the depot\\nUnloading now")},
        {6000, QStringLiteral("status 100 1005 5")},
        {5500, QStringLiteral("call 101 2000")},
        {8000, QStringLiteral("callend 101 2000")},
        {4000, QStringLiteral("ptt 100 1001 on")},
        {2500, QStringLiteral("ptt 100 1001 off")},
        {5000, QStringLiteral("status 100 1003 12")},
        {7000, QStringLiteral("msg 101 2000 Road closed at the north gate after the storm.\\n"
                              "Use the east entrance until further notice.\\nDrivers please confirm.")},
        {6000, QStringLiteral("ani start 100 1002 101 2000")},
        {11000, QStringLiteral("ani end 100 1002 101 2000")},
        {5000, QStringLiteral("status 100 1001 2")},
        {6000, QStringLiteral("status 100 1004 95")},
        {8000, QStringLiteral("call 100 1004")},
        {12000, QStringLiteral("callend 100 1004")},
        {4000, QStringLiteral("msg 100 1004 All clear, thanks")},
        {5000, QStringLiteral("ptt 100 1005 on")},
        {3000, QStringLiteral("ptt 100 1005 off")},
        {6000, QStringLiteral("status 100 1004 1")},
        {5500, QStringLiteral("ani start 100 1000 100 1003")},
        {7500, QStringLiteral("ani end 100 1000 100 1003")},
        {6000, QStringLiteral("call 100 1002")},
        {9000, QStringLiteral("callend 100 1002")},
        {5000, QStringLiteral("status 101 2000 3")},
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

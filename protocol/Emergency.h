#pragma once

// The one rule for "is this an emergency?": a status number of 95 or more. The
// popup dispatch (which starts the flash), the traffic event (which raises the
// alarm) and everything after them ask here.
inline constexpr int EmergencyStatusFrom = 95;

constexpr bool IsEmergencyStatus(int number)
{
    return number >= EmergencyStatusFrom;
}

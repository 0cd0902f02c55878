// The power source as every rule of the agent reads it: ACLineStatus 1 is AC power, and every
// other value, a status that cannot be read included, counts as battery.
#pragma once

#include <cstdint>

// ACLineStatus; 255 (unknown) when the status cannot be read.
int32_t ReadACLineStatus();
// True when the power source is AC; a status that cannot be read counts as battery.
bool ReadOnACPower();

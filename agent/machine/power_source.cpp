#include "agent/machine/power_source.h"

#include "agent/machine/machine.h"

namespace {

constexpr int32_t kACLineStatusUnknown = 255;

} // namespace

int32_t ReadACLineStatus() {
    SYSTEM_POWER_STATUS power = {};
    if (!machine::GetPowerStatus(&power)) {
        return kACLineStatusUnknown;
    }
    return power.ACLineStatus;
}

bool ReadOnACPower() {
    return ReadACLineStatus() == 1;
}

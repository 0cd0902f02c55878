// The nominal-rate table on its own, so that tools computing panel rates need no machine.
#include "agent/panel/refresh_rate.h"

namespace {

struct SnapWindow {
    uint32_t low;
    uint32_t high;
    uint32_t nominal;
};

// Within 3 Hz either side of each nominal rate, bounds inclusive; the windows do not overlap.
constexpr SnapWindow kSnapWindows[] = {
    {27, 33, 30},    {37, 43, 40},    {45, 51, 48},    {57, 63, 60},
    {97, 103, 100},  {117, 123, 120}, {141, 147, 144}, {162, 168, 165},
    {241, 247, 244}, {297, 303, 300}, {357, 363, 360},
};

} // namespace

uint32_t SnapRefreshRate(uint32_t rate) {
    for (const SnapWindow& window : kSnapWindows) {
        if (rate >= window.low && rate <= window.high) {
            return window.nominal;
        }
    }
    return rate;
}

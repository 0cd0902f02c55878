// Pure panel-rate logic: the nominal-rate table, EDID timing descriptors and the start-up
// choice between the configuration file and the EDID.
#include "agent/panel/edid_rates.h"
#include "agent/panel/refresh_rate.h"
#include "tests/panel/edid_builder.h"

#include <gtest/gtest.h>

using paneltest::DisplayDescriptor;
using paneltest::MakeEDID;
using paneltest::Timing;
using paneltest::TimingAt;

TEST(SnapRefreshRate, BordersOfEveryWindow) {
    const struct {
        uint32_t rate;
        uint32_t expected;
    } cases[] = {
        {0, 0},     {26, 26},   {27, 30},   {33, 30},   {34, 34},
        {36, 36},   {37, 40},   {43, 40},   {44, 44},   {45, 48},
        {50, 48},   {51, 48},   {52, 52},   {56, 56},   {57, 60},
        {63, 60},   {64, 64},   {96, 96},   {97, 100},  {103, 100},
        {104, 104}, {116, 116}, {117, 120}, {119, 120}, {123, 120},
        {124, 124}, {140, 140}, {141, 144}, {143, 144}, {147, 144},
        {148, 148}, {161, 161}, {162, 165}, {165, 165}, {168, 165},
        {169, 169}, {240, 240}, {241, 244}, {246, 244}, {247, 244},
        {248, 248}, {296, 296}, {297, 300}, {303, 300}, {304, 304},
        {356, 356}, {357, 360}, {363, 360}, {364, 364}, {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        EXPECT_EQ(c.expected, SnapRefreshRate(c.rate));
    }
}

TEST(SnapRatePair, SnapsEachAndLeavesNegativesAlone) {
    EXPECT_EQ(std::make_pair(60, 144), SnapRatePair(59, 143));
    EXPECT_EQ(std::make_pair(-1, -60), SnapRatePair(-1, -60));
    EXPECT_EQ(std::make_pair(66, 64), SnapRatePair(66, 64));
}

TEST(TimingDescriptorRate, TimingsAndNonTimings) {
    Timing tinyClock = TimingAt(60);
    tinyClock.pixelClock = 0x0101; // the bare formula would give about 1 Hz
    Timing justBelow = TimingAt(60);
    justBelow.pixelClock = 999;
    justBelow.hBlank = 0;
    justBelow.vBlank = 0;
    justBelow.hActive = 100;
    justBelow.vActive = 100; // 999e4 / 1e4 would be 999 Hz
    Timing lowest = justBelow;
    lowest.pixelClock = 1000;
    Timing noWidth = TimingAt(60);
    noWidth.hActive = 0;
    Timing noHeight = TimingAt(60);
    noHeight.vActive = 0;
    Timing noSize = TimingAt(60);
    noSize.hActive = noSize.hBlank = noSize.vActive = noSize.vBlank = 0;
    // 1210e4 / (400 * 500) = 60.5 rounds away from zero.
    Timing half{1210, 300, 100, 400, 100};
    // Sizes over 255 use the high nibbles: 2560x1600, blanking 300 and 60.
    Timing large{0, 2560, 300, 1600, 60};
    large.pixelClock = static_cast<uint16_t>(120.0 * 2860 * 1660 / 10000 + 0.5);

    const struct {
        const char* name;
        Timing timing;
        int32_t expected;
    } cases[] = {
        {"144 Hz", TimingAt(144), 144},
        {"60 Hz", TimingAt(60), 60},
        {"display descriptor", DisplayDescriptor(), 0},
        {"clock under 10 MHz", tinyClock, 0},
        {"clock 999", justBelow, 0},
        {"clock 1000", lowest, 1000},
        {"no active width", noWidth, 0},
        {"no active height", noHeight, 0},
        {"V x H of 0", noSize, 0},
        {"exact half", half, 61},
        {"high nibbles", large, 120},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PanelEDID first = MakeEDID(c.timing, DisplayDescriptor());
        EXPECT_EQ(c.expected, ComputeTimingDescriptorRate(first, kFirstTimingOffset));
        PanelEDID second = MakeEDID(DisplayDescriptor(), c.timing);
        EXPECT_EQ(c.expected, ComputeTimingDescriptorRate(second, kSecondTimingOffset));
    }
}

TEST(ComputeEDIDRefreshRates, OrdersHigherFirst) {
    const struct {
        const char* name;
        Timing first;
        Timing second;
        int32_t higher;
        int32_t lower;
    } cases[] = {
        {"144 then display descriptor", TimingAt(144), DisplayDescriptor(), 144, 0},
        {"display descriptor then 60", DisplayDescriptor(), TimingAt(60), 60, 0},
        {"60 then 165", TimingAt(60), TimingAt(165), 165, 60},
        {"165 then 60", TimingAt(165), TimingAt(60), 165, 60},
        {"no timing at all", DisplayDescriptor(), DisplayDescriptor(), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::make_pair(c.higher, c.lower),
                  ComputeEDIDRefreshRates(MakeEDID(c.first, c.second)));
    }
}

TEST(ComputeEDIDRefreshRates, ShortOrMissingEDIDGivesZeros) {
    PanelEDID full = MakeEDID(TimingAt(144), TimingAt(60));
    PanelEDID shortBlock = full;
    shortBlock.bytes.resize(100);
    shortBlock.byteCount = 100;
    PanelEDID countBelowBuffer = full; // the buffer may be larger than the value
    countBelowBuffer.byteCount = 127;
    PanelEDID missing;
    PanelEDID notFound = full;
    notFound.found = false;
    const struct {
        const char* name;
        PanelEDID edid;
    } cases[] = {{"100 bytes", shortBlock},
                 {"byte count 127", countBelowBuffer},
                 {"missing", missing},
                 {"not found", notFound}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::make_pair(0, 0), ComputeEDIDRefreshRates(c.edid));
        EXPECT_EQ(0, ComputeTimingDescriptorRate(c.edid, kSecondTimingOffset));
        PanelRefreshRates rates = DeterminePanelRates(c.edid, PanelRates{});
        EXPECT_EQ(0, rates.high);
        EXPECT_EQ(0, rates.low);
        EXPECT_FALSE(LookUpPanelConfig(c.edid).found);
    }
}

TEST(DeterminePanelRates, ConfigurationThenEDID) {
    PanelRates none;
    auto listed = [](int32_t first, int32_t second) {
        PanelRates r;
        r.firstRate = first;
        r.secondRate = second;
        r.found = true;
        return r;
    };
    const struct {
        const char* name;
        PanelEDID edid;
        PanelRates configured;
        int32_t high;
        int32_t low;
    } cases[] = {
        {"listed 60 and 144", MakeEDID(TimingAt(60), TimingAt(60)), listed(60, 144), 144, 60},
        {"listed 144 and 60", MakeEDID(TimingAt(60), TimingAt(60)), listed(144, 60), 144, 60},
        {"listed 59 and 143", MakeEDID(TimingAt(60), TimingAt(60)), listed(59, 143), 144, 60},
        {"listed 60 and 62", MakeEDID(TimingAt(60), TimingAt(60)), listed(60, 62), 60, 60},
        {"listed 64 and 66", MakeEDID(TimingAt(60), TimingAt(60)), listed(64, 66), 66, 64},
        {"listed wins over extension blocks", MakeEDID(TimingAt(60), TimingAt(60), 1),
         listed(165, 60), 165, 60},
        {"EDID 144 and display descriptor", MakeEDID(TimingAt(144), DisplayDescriptor()), none, 144,
         144},
        {"EDID 60 then 165", MakeEDID(TimingAt(60), TimingAt(165)), none, 165, 60},
        {"EDID 60 and 50", MakeEDID(TimingAt(60), TimingAt(50)), none, 60, 48},
        {"EDID 143 and 59", MakeEDID(TimingAt(143), TimingAt(59)), none, 144, 60},
        {"EDID with extension blocks", MakeEDID(TimingAt(144), TimingAt(60), 1), none, 0, 0},
        {"EDID bogus second slot", MakeEDID(TimingAt(60), Timing{0x0101, 16, 0, 16, 0}), none, 60,
         60},
        // Rates outside 1 to 1000 Hz are no rates: the panel gets none and is never switched.
        {"listed -144 and 60", MakeEDID(TimingAt(60), TimingAt(60)), listed(-144, 60), 0, 0},
        {"listed 144 and 0", MakeEDID(TimingAt(60), TimingAt(60)), listed(144, 0), 0, 0},
        {"listed saturated and 60", MakeEDID(TimingAt(60), TimingAt(60)), listed(2147483647, 60), 0,
         0},
        {"listed 1001 and 60", MakeEDID(TimingAt(60), TimingAt(60)), listed(1001, 60), 0, 0},
        {"listed 1000 and 60", MakeEDID(TimingAt(60), TimingAt(60)), listed(1000, 60), 1000, 60},
        {"EDID 4462 and 60", MakeEDID(Timing{4462, 100, 0, 100, 0}, TimingAt(60)), none, 0, 0},
        {"EDID 1000 alone", MakeEDID(Timing{1000, 100, 0, 100, 0}, DisplayDescriptor()), none, 1000,
         1000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PanelRefreshRates rates = DeterminePanelRates(c.edid, c.configured);
        EXPECT_EQ(c.high, rates.high);
        EXPECT_EQ(c.low, rates.low);
    }
}

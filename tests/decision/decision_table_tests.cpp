#include "agent/decision/decision_cycle.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    const wchar_t* choice;
    unsigned ac;
    int rate;
    const wchar_t* request;
    const wchar_t* icon;
    const wchar_t* applied;
    const wchar_t* logLine;
};

} // namespace

TEST(DecisionTable, EveryRowWithItsLogLineAndTheBandAround120) {
    const Row rows[] = {
        // Overdrive on only with AC, the choice "1" and 120 Hz or more; 117-123 count as 120.
        {L"1", 1, 144, L"1", L"1", L"1",
         L"Detect_Notify_Fn: ABC1234, Power Status is AC mode, Now Refresh Rate: 144 Hz"},
        {L"1", 1, 117, L"1", L"1", L"1",
         L"Detect_Notify_Fn: ABC1234, Power Status is AC mode, Now Refresh Rate: 117 Hz"},
        {L"1", 1, 123, L"1", L"1", L"1",
         L"Detect_Notify_Fn: ABC1234, Power Status is AC mode, Now Refresh Rate: 123 Hz"},
        {L"1", 1, 116, L"0", L"2", L"0",
         L"Detect_Notify_Fn: ABC1234, Power Status is AC mode, Now Refresh Rate: 116 Hz"},
        {L"1", 1, 0, L"0", L"2", L"0",
         L"Detect_Notify_Fn: ABC1234, Power Status is AC mode, Now Refresh Rate: 0 Hz"},
        {L"1", 1, -5, L"0", L"2", L"0",
         L"Detect_Notify_Fn: ABC1234, Power Status is AC mode, Now Refresh Rate: -5 Hz"},
        // Battery and "not available" alike.
        {L"1", 0, 144, L"0", L"2", L"0",
         L"Detect_Notify_Fn: ABC1234, Power Status is DC mode, OD Icon Invalid, RefreshRate = "
         L"144Hz"},
        {L"1", 255, 144, L"0", L"2", L"0",
         L"Detect_Notify_Fn: ABC1234, Power Status is DC mode, OD Icon Invalid, RefreshRate = "
         L"144Hz"},
        {L"0", 1, 144, L"0", L"0", L"0",
         L"Detect_Notify_Fn: ABC1234, Power Status is AC mode, Now Refresh Rate: 144 Hz, because "
         L"txt file OD status = 0."},
        {L"0", 0, 60, L"0", L"2", L"0",
         L"Detect_Notify_Fn: ABC1234, Power Status is DC mode, OD Icon Invalid, Now Refresh Rate: "
         L"60 Hz, because txt file OD status = 0."},
        {L"0", 255, 60, L"0", L"2", L"0",
         L"Detect_Notify_Fn: ABC1234, Power Status is DC mode, OD Icon Invalid, Now Refresh Rate: "
         L"60 Hz, because txt file OD status = 0."},
        // No valid choice: overdrive off even on AC at 144 Hz.
        {L"10", 1, 144, L"0", L"2", L"0",
         L"Detect_Notify_Fn: ABC1234, OD Icon Invalid, Refresh Rate: 144 Hz,txt file OD status not "
         L"match."},
        {L"on", 1, 144, L"0", L"2", L"0",
         L"Detect_Notify_Fn: ABC1234, OD Icon Invalid, Refresh Rate: 144 Hz,txt file OD status not "
         L"match."},
        {L"error", 0, 60, L"0", L"2", L"0",
         L"Detect_Notify_Fn: ABC1234, OD Icon Invalid, Refresh Rate: 60 Hz,txt file OD status not "
         L"match."},
        {L"", 1, 144, L"0", L"2", L"0",
         L"Detect_Notify_Fn: ABC1234, OD Icon Invalid, Refresh Rate: 144 Hz,txt file OD status not "
         L"match."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "choice " << testing::PrintToString(std::wstring(row.choice)) << " ac "
                     << row.ac << " rate " << row.rate);
        ODDecision decision = DecideOverdrive(row.choice, row.ac, row.rate, L"ABC1234");
        EXPECT_STREQ(decision.biosRequest, row.request);
        EXPECT_STREQ(decision.iconValue, row.icon);
        EXPECT_STREQ(decision.applied, row.applied);
        EXPECT_EQ(decision.logLine, row.logLine);
    }
}

// The decision cycle against the simulated BIOS: what it asks, what it logs, in which order.
#include "agent/decision/decision_cycle.h"
#include "agent/files/state_files.h"
#include "agent/state/agent_state.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/simbios/simbios_control.h"
#include "tools/simnotebook/simnotebook.h"

#include <gtest/gtest.h>

using notebookfiles::ReadFileBytes;

namespace {

class CycleWithBios : public ::testing::Test {
  protected:
    void SetUp() override {
        notebookfiles::ResetDataFolder();
        simnotebook::ResetSimNotebook();
        simbios::ResetSimBios();
        ResetAgentState();
        panelIdentity = detectEDID = simnotebook::kDefaultPanelIdentity;
        isODPanel = L"YES";
        modeChangeMessage = RegisterWindowMessageW(L"NOTIFY_GC_MODECHANGE");
        notebookfiles::WriteFileBytes(DataFilePath(kODResultFileName), "1");
    }
    static std::string Log() { return ReadFileBytes(DataFilePath(kLogFileName)); }
    static size_t Count(const std::string& what) {
        std::string log = Log();
        size_t count = 0;
        for (size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) {
            ++count;
        }
        return count;
    }
};

} // namespace

TEST_F(CycleWithBios, TwoRunsInARowSwitchOnceAndNotifyOnce) {
    ASSERT_FALSE(simbios::GetODState());
    simbios::ClearRequests();
    Detect_Notify_Fn();
    EXPECT_TRUE(simbios::GetODState());
    ASSERT_EQ(simbios::ReadRequests("DEVS").size(), 1u);
    EXPECT_EQ(simbios::ReadRequests("DEVS")[0].state, 1u);

    DeleteFileW(DataFilePath(kIconFileName).c_str());
    simbios::ClearRequests();
    Detect_Notify_Fn();
    // The state is read again and found as asked: no "DEVS", no error, no second notice.
    EXPECT_EQ(simbios::ReadRequests("DSTS").size(), 1u);
    EXPECT_TRUE(simbios::ReadRequests("DEVS").empty());
    EXPECT_EQ(ReadFileBytes(DataFilePath(kIconFileName)), "1");
    EXPECT_EQ(Count("] Send Message to Helmbay\r\n"), 1u);
    EXPECT_EQ(Count("Error, can't set OD Off"), 0u);
    EXPECT_EQ(appliedODStatus, L"1");
}

TEST_F(CycleWithBios, OneRunLogsItsLinesInOrder) {
    Detect_Notify_Fn();
    const char* lines[] = {
        "] Detect_Notify_Fn: Power Status = 1\r\n",
        "] OD_OnOff 1\r\n",
        "] Detect_Notify_Fn: TXT file OD Status = 1\r\n",
        "] Detect_Notify_Fn: Now Refresh Rate = 144\r\n",
        "] Detect_Notify_Fn: AUO519D, Power Status is AC mode, Now Refresh Rate: 144 Hz\r\n",
        "] Notify_Helmbay_ODIcon: temp_OD_Icon: , OD_Status: 1\r\n",
        "] Send Message to Helmbay\r\n",
        "] SendMessageTimeout Result= 1\r\n",
    };
    std::string log = Log();
    size_t at = 0;
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << log;
        at = found + 1;
    }
}

TEST_F(CycleWithBios, AFailingBiosIsLoggedAfterTheIconLines) {
    simbios::SetSimBiosValue(simbios::kSimBiosFailDSTS, 1);
    Detect_Notify_Fn();
    std::string log = Log();
    size_t biosLine = log.find("] Notify_BIOS_SetOD: InitializeZVKACPIDevice Fail\r\n");
    size_t notice = log.find("] SendMessageTimeout Result= ");
    size_t error = log.find("] Detect_Notify_Fn: Error, can't set OD Off\r\n");
    // A failed status read answers "FAIL" without the channel's own line.
    EXPECT_EQ(biosLine, std::string::npos);
    ASSERT_NE(notice, std::string::npos);
    ASSERT_NE(error, std::string::npos);
    EXPECT_LT(notice, error);
}

// A switch the BIOS did not carry out is never reported as done: the icon says "not
// available", the applied state stays, and the next cycle after the fault clears converges.
TEST_F(CycleWithBios, AFailedSwitchShowsIconTwoAndIsTriedAgain) {
    struct Case {
        const wchar_t* fault;
        uint32_t value;
        const char* answerLine;
    } cases[] = {
        {simbios::kSimBiosFailDEVS, 1,
         "] Detect_Notify_Fn: BIOS did not switch OD, answer = OD_On Fail\r\n"},
        {simbios::kSimBiosDEVSAnswer, 0,
         "] Detect_Notify_Fn: BIOS did not switch OD, answer = FAIL\r\n"},
        {simbios::kSimBiosReplyLength, 2,
         "] Detect_Notify_Fn: BIOS did not switch OD, answer = FAIL\r\n"},
        {simbios::kSimBiosFailDSTS, 1,
         "] Detect_Notify_Fn: BIOS did not switch OD, answer = FAIL\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answerLine);
        simbios::ResetSimBios();
        ResetAgentState();
        panelIdentity = detectEDID = simnotebook::kDefaultPanelIdentity;
        isODPanel = L"YES";
        modeChangeMessage = RegisterWindowMessageW(L"NOTIFY_GC_MODECHANGE");
        appliedODStatus = L"0";
        DeleteFileW(DataFilePath(kLogFileName).c_str());
        simbios::SetSimBiosValue(c.fault, c.value);

        EXPECT_EQ(Detect_Notify_Fn(), L"1");
        EXPECT_FALSE(simbios::GetODState());
        EXPECT_EQ(Count(c.answerLine), 1u) << Log();
        EXPECT_EQ(ReadFileBytes(DataFilePath(kIconFileName)), "2");
        EXPECT_EQ(appliedODStatus, L"0");
        EXPECT_EQ(lastCycleChoice, L"");

        simbios::RemoveSimBiosValue(c.fault);
        Detect_Notify_Fn();
        EXPECT_TRUE(simbios::GetODState());
        EXPECT_EQ(ReadFileBytes(DataFilePath(kIconFileName)), "1");
        EXPECT_EQ(appliedODStatus, L"1");
        EXPECT_EQ(lastCycleChoice, L"1");
    }
}

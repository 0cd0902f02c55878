// Start-up's panel detection against the simulated BIOS: the two questions, the banner lines,
// the verdict file and the watcher's switches.
#include "agent/files/state_files.h"
#include "agent/panel/panel_identity.h"
#include "agent/state/agent_state.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/simbios/simbios_control.h"

#include <gtest/gtest.h>

using notebookfiles::ReadFileBytes;

namespace {

class DetectPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        notebookfiles::ResetDataFolder();
        simbios::ResetSimBios();
        ResetAgentState();
        panelIdentity = L"AUO519D";
    }
    static std::string Log() { return ReadFileBytes(DataFilePath(kLogFileName)); }
    static bool Logged(const std::string& line) {
        return Log().find("] " + line + "\r\n") != std::string::npos;
    }
};

} // namespace

TEST_F(DetectPanel, VerdictFollowsTheBiosAnswer) {
    struct Case {
        const char* what;
        const wchar_t* setting; // nullptr: defaults
        DWORD value;
        const wchar_t* isODPanelValue;
        const char* verdictLine;
        const char* hwid;
    } cases[] = {
        {"supported", nullptr, 0, L"YES", "Is OD Panel, detectEDID = AUO519D", "1"},
        {"not supported", L"SupportAnswer", 0x00010000, L"NO", "Not OD Panel, detectEDID = AUO519D",
         "0"},
        {"answer without presence bit", L"SupportAnswer", 0x00000001, L"FAIL",
         "OD Panel detect Fail, detectEDID = AUO519D", "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        notebookfiles::ResetDataFolder();
        simbios::ResetSimBios();
        if (c.setting != nullptr) {
            simbios::SetSimBiosValue(c.setting, c.value);
        }
        DetectODPanel();
        EXPECT_EQ(detectEDID, L"AUO519D");
        EXPECT_EQ(isODPanel, c.isODPanelValue);
        EXPECT_TRUE(Logged("-------------------- detectEDID = AUO519D --------------------"));
        EXPECT_TRUE(
            Logged("-------------------- isODPanel = " +
                   std::string(c.isODPanelValue, c.isODPanelValue + wcslen(c.isODPanelValue)) +
                   " --------------------"));
        EXPECT_TRUE(Logged(c.verdictLine)) << Log();
        EXPECT_EQ(ReadFileBytes(DataFilePath(kHWIDResultFileName)), c.hwid);
        // The data folder was prepared first, with the default choice.
        EXPECT_EQ(ReadFileBytes(DataFilePath(kODResultFileName)), "1");
        EXPECT_TRUE(watchHWIDResultDeleted && watchIconDeleted && watchODResultDeleted &&
                    watchODResultChanged);
    }
}

TEST_F(DetectPanel, NoPanelIdentityMeansNoVerdictFromHere) {
    panelIdentity.clear();
    notebookfiles::WriteFileBytes(DataFilePath(kHWIDResultFileName), "7");
    DetectODPanel();
    EXPECT_EQ(detectEDID, L"FAIL");
    EXPECT_EQ(isODPanel, L"YES");
    EXPECT_EQ(Log().find("detectEDID = "), std::string::npos);
    EXPECT_TRUE(Logged("-------------------- isODPanel = YES --------------------"));
    // Start-up writes the verdict in this case; detection leaves the file alone.
    EXPECT_EQ(ReadFileBytes(DataFilePath(kHWIDResultFileName)), "7");
}

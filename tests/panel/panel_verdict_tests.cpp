// The panel verdict's traces: the log line and HWID_Result.txt.
#include "agent/files/state_files.h"
#include "agent/panel/panel_identity.h"
#include "tools/notebookfiles/notebook_files.h"

#include <gtest/gtest.h>

TEST(RecordODPanelVerdict, LogLineAndFile) {
    const struct {
        const wchar_t* detect;
        const wchar_t* verdict;
        const char* logLine; // nullptr: nothing logged
        const char* file;    // nullptr: no file written
    } cases[] = {
        {L"ABC1234", L"YES", "Is OD Panel, detectEDID = ABC1234", "1"},
        {L"ABC1234", L"NO", "Not OD Panel, detectEDID = ABC1234", "0"},
        {L"ABC1234", L"no", "OD Panel detect Fail, detectEDID = ABC1234", "0"},
        {L"ABC1234", L"FAIL", "OD Panel detect Fail, detectEDID = ABC1234", "0"},
        {L"ABC1234", L"YES ", "OD Panel detect Fail, detectEDID = ABC1234", "0"},
        {L"FAIL", L"YES", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::wstring(c.verdict).size() << " "
                                        << (c.logLine ? c.logLine : "(none)"));
        notebookfiles::ResetDataFolder();
        RecordODPanelVerdict(c.detect, c.verdict);
        bool logExists = false;
        std::string log =
            notebookfiles::ReadFileBytes(notebookfiles::DataPath(L"OD_Log.txt"), &logExists);
        bool fileExists = false;
        std::string file =
            notebookfiles::ReadFileBytes(notebookfiles::DataPath(L"HWID_Result.txt"), &fileExists);
        if (c.logLine == nullptr) {
            EXPECT_FALSE(logExists);
            EXPECT_FALSE(fileExists);
            continue;
        }
        // One line: "[ " + 24-character time + " ] " + message + CR LF.
        std::string expectedTail = std::string(" ] ") + c.logLine + "\r\n";
        ASSERT_EQ(2 + 24 + expectedTail.size(), log.size()) << log;
        EXPECT_EQ(expectedTail, log.substr(26));
        EXPECT_TRUE(fileExists);
        EXPECT_EQ(c.file, file);
    }
    notebookfiles::RemoveDataFolder();
}

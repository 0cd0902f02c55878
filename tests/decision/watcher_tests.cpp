// The folder watcher's handlers, fed batches as the platform delivers them.
#include "agent/decision/decision_cycle.h"
#include "agent/events/state_file_events.h"
#include "agent/files/state_files.h"
#include "agent/state/agent_state.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/simbios/simbios_control.h"
#include "tools/simnotebook/simnotebook.h"

#include <gtest/gtest.h>

using notebookfiles::ReadFileBytes;
using notebookfiles::WriteFileBytes;

namespace {

constexpr DWORD kRemoved = FILE_ACTION_REMOVED;
constexpr DWORD kModified = FILE_ACTION_MODIFIED;
const char kCycleRan[] = "] Detect_Notify_Fn: Power Status = ";

class Watcher : public ::testing::Test {
  protected:
    void SetUp() override {
        notebookfiles::ResetDataFolder();
        simnotebook::ResetSimNotebook();
        simbios::ResetSimBios();
        simbios::SetODState(true);
        ResetAgentState();
        panelIdentity = detectEDID = L"AUO519D";
        isODPanel = L"YES";
        watchHWIDResultDeleted = watchIconDeleted = watchODResultDeleted = true;
        watchODResultChanged = true;
        // As after start-up's first decision on the choice "1".
        appliedODStatus = L"1";
        currentODIcon = temp_OD_Icon = L"1";
        WriteFileBytes(Path(kODResultFileName), "1");
        lastCycleChoice = lastValidChoice = L"1";
    }
    static std::wstring Path(const wchar_t* name) { return DataFilePath(name); }
    static std::string Log() { return ReadFileBytes(Path(kLogFileName)); }
    static void ClearLog() { DeleteFileW(Path(kLogFileName).c_str()); }
    static size_t Count(const std::string& text, const std::string& what) {
        size_t count = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
            ++count;
        }
        return count;
    }
    // The user's choice as the plug-in stores it, and the single record Wine reports for it.
    static void UserWrites(const char* value, const wchar_t* reportedName = L"OD_Result.txt") {
        WriteFileBytes(Path(kODResultFileName), value);
        HandleChangeRecords({{kModified, reportedName}});
    }
};

} // namespace

TEST_F(Watcher, FirstNoticeAfterStartIsOnlyCountedWhileTheValueIsUnchanged) {
    UserWrites("1");
    EXPECT_EQ(Count(Log(), "] fsWatcher_OD_Result_Changed ++\r\n"), 1u);
    EXPECT_EQ(Count(Log(), " is changed"), 0u);
    EXPECT_FALSE(skipNextODResultChange);
}

TEST_F(Watcher, FirstNoticeAfterStartIsHandledWhenTheValueChanged) {
    UserWrites("0");
    std::string log = Log();
    EXPECT_NE(
        log.find("] C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane\\OD_Result.txt is changed\r\n"),
        std::string::npos);
    EXPECT_NE(log.find("] OD_OnOff 0\r\n"), std::string::npos);
    EXPECT_EQ(Count(log, kCycleRan), 1u);
    EXPECT_EQ(appliedODStatus, L"0");
    EXPECT_TRUE(skipNextODResultChange);
}

TEST_F(Watcher, SameValueTwiceRunsNoCycle) {
    skipNextODResultChange = false;
    UserWrites("1");
    UserWrites("1");
    std::string log = Log();
    EXPECT_EQ(Count(log, "] fsWatcher_OD_Result_Changed: Same OD_Result = 1 no need change.\r\n"),
              2u);
    EXPECT_EQ(Count(log, kCycleRan), 0u);
    EXPECT_FALSE(skipNextODResultChange);
}

TEST_F(Watcher, ASingleRecordRewriteDoesNotSwallowTheUsersNextChange) {
    skipNextODResultChange = false;
    UserWrites("0"); // handled; the next notice would be skipped blindly
    UserWrites("1"); // one record only, and a different value: handled all the same
    EXPECT_EQ(Count(Log(), kCycleRan), 2u);
    EXPECT_EQ(appliedODStatus, L"1");
    // The duplicate record of a rewrite is still only counted.
    ClearLog();
    HandleChangeRecords({{kModified, L"OD_Result.txt"}});
    EXPECT_EQ(Count(Log(), kCycleRan), 0u);
    EXPECT_EQ(Count(Log(), "] fsWatcher_OD_Result_Changed ++\r\n"), 1u);
}

TEST_F(Watcher, EveryRecordOfABatchIsExaminedAndNamesIgnoreCase) {
    skipNextODResultChange = false;
    WriteFileBytes(Path(kODResultFileName), "0");
    // The agent's own log write comes first in the batch.
    HandleChangeRecords({{kModified, L"OD_Log.txt"},
                         {FILE_ACTION_ADDED, L"new.txt"},
                         {FILE_ACTION_RENAMED_OLD_NAME, L"OD_Result.txt"},
                         {FILE_ACTION_RENAMED_NEW_NAME, L"OD_Result.txt"},
                         {kModified, L"od_result.TXT"}});
    std::string log = Log();
    EXPECT_EQ(Count(log, "] fsWatcher_OD_Result_Changed ++\r\n"), 1u);
    EXPECT_EQ(Count(log, kCycleRan), 1u);
    EXPECT_EQ(appliedODStatus, L"0");
}

TEST_F(Watcher, ModificationsAreIgnoredWithoutAnOverdrivePanel) {
    watchODResultChanged = false;
    UserWrites("0");
    EXPECT_EQ(Count(Log(), "fsWatcher_OD_Result_Changed"), 0u);
    // A panel that takes no decisions still follows the file but runs no cycle.
    watchODResultChanged = true;
    isODPanel = L"NO";
    skipNextODResultChange = false;
    UserWrites("0");
    EXPECT_EQ(Count(Log(), kCycleRan), 0u);
    EXPECT_TRUE(skipNextODResultChange);
}

// What the user chose is compared with what the last cycle read, never with the state the
// agent applied for the moment: after each of these the host must show the user's choice.
TEST_F(Watcher, TheUsersChoiceSurvivesTheAgentsOwnDecisions) {
    const simnotebook::Mode at144 = {1920, 1080, 32, 144};
    struct Case {
        const char* what;
        void (*before)(); // ends with a cycle the agent ran on its own
        void (*byUser)(); // what the user or the machine does next
        const char* icon; // then Icon.txt
        bool overdriveOn; // and the BIOS
    } cases[] = {
        {"at 60 Hz the choice 1 applies 0; then the user picks 0",
         [] {
             simnotebook::SetCurrentMode(0, {1920, 1080, 32, 60});
             Detect_Notify_Fn();
         },
         [] { UserWrites("0"); }, "0", false},
        {"a cycle read the file between truncation and write; then the write lands",
         [] {
             WriteFileBytes(Path(kODResultFileName), "");
             Detect_Notify_Fn();
         },
         [] { UserWrites("0"); }, "0", false},
        {"OD_Result.txt deleted on battery with the choice 1; then AC returns",
         [] {
             simnotebook::SetACLineStatus(0);
             Detect_Notify_Fn();
             DeleteFileW(Path(kODResultFileName).c_str());
             HandleChangeRecords({{kRemoved, L"OD_Result.txt"}});
         },
         [] {
             simnotebook::SetACLineStatus(1);
             Detect_Notify_Fn();
         },
         "1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        simnotebook::SetCurrentMode(0, at144);
        skipNextODResultChange = false;
        c.before();
        EXPECT_EQ(ReadFileBytes(Path(kIconFileName)), "2");
        EXPECT_EQ(appliedODStatus, L"0");
        simnotebook::SetCurrentMode(0, at144);
        c.byUser();
        EXPECT_EQ(ReadFileBytes(Path(kIconFileName)), c.icon) << Log();
        EXPECT_EQ(simbios::GetODState(), c.overdriveOn);
        EXPECT_EQ(ReadFileBytes(Path(kODResultFileName)), c.overdriveOn ? "1" : "0");
    }
}

TEST_F(Watcher, DeletedFilesAreWrittenAgainFromTheAgentsState) {
    // No cycle read a valid choice yet: the applied state is all the agent has.
    lastValidChoice.clear();
    appliedODStatus = L"0";
    currentODIcon = L"2";
    struct Case {
        const wchar_t* isODPanelValue;
        const char* hwid;
        const char* line;
    } cases[] = {
        {L"YES", "1", "] OD Panel ,detectEDID = AUO519D\r\n"},
        {L"NO", "0", "] Not OD Panel ,detectEDID = AUO519D\r\n"},
        {L"FAIL", "0", "] fsWatcher_HWID_Result_Deleted = Else\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hwid);
        isODPanel = c.isODPanelValue;
        ClearLog();
        DeleteFileW(Path(kHWIDResultFileName).c_str());
        HandleChangeRecords({{kRemoved, L"HWID_Result.txt"}});
        EXPECT_EQ(ReadFileBytes(Path(kHWIDResultFileName)), c.hwid);
        EXPECT_NE(Log().find("] C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane\\HWID_Result.txt is "
                             "deleted.\r\n"),
                  std::string::npos);
        EXPECT_NE(Log().find(c.line), std::string::npos);
    }
    // A panel that was never identified keeps the verdict start-up gave it.
    isODPanel = L"YES";
    detectEDID = L"FAIL";
    DeleteFileW(Path(kHWIDResultFileName).c_str());
    HandleChangeRecords({{kRemoved, L"HWID_Result.txt"}});
    EXPECT_EQ(ReadFileBytes(Path(kHWIDResultFileName)), "0");
    detectEDID = L"AUO519D";

    DeleteFileW(Path(kIconFileName).c_str());
    DeleteFileW(Path(kODResultFileName).c_str());
    HandleChangeRecords({{kRemoved, L"ICON.TXT"}, {kRemoved, L"OD_Result.txt"}});
    EXPECT_EQ(ReadFileBytes(Path(kIconFileName)), "2");
    EXPECT_EQ(ReadFileBytes(Path(kODResultFileName)), "0");
    EXPECT_NE(Log().find("Icon.txt not exist, Create it\r\n"), std::string::npos);
    EXPECT_NE(Log().find("OD_Result.txt not exist, Create it\r\n"), std::string::npos);
}

TEST_F(Watcher, AFileBackBeforeTheHandlerLooksIsLeftAlone) {
    WriteFileBytes(Path(kODResultFileName), "0");
    HandleChangeRecords({{kRemoved, L"OD_Result.txt"}});
    EXPECT_EQ(ReadFileBytes(Path(kODResultFileName)), "0");
    EXPECT_NE(Log().find("OD_Result.txt is Deleted\r\n"), std::string::npos);
    EXPECT_EQ(Log().find("not exist, Create it"), std::string::npos);
}

TEST_F(Watcher, IconDeletedBeforeAnyValueComesBackEmpty) {
    currentODIcon.clear();
    HandleChangeRecords({{kRemoved, L"Icon.txt"}});
    bool exists = false;
    EXPECT_EQ(ReadFileBytes(Path(kIconFileName), &exists), "");
    EXPECT_TRUE(exists);
}

TEST_F(Watcher, LostChangesMeanALookAtEverything) {
    skipNextODResultChange = false;
    DeleteFileW(Path(kIconFileName).c_str());
    WriteFileBytes(Path(kODResultFileName), "0");
    HandleLostChanges();
    EXPECT_NE(Log().find("Icon.txt not exist, Create it\r\n"), std::string::npos);
    // The choice "0" then ran a cycle, which rewrote the icon.
    EXPECT_EQ(ReadFileBytes(Path(kIconFileName)), "0");
    EXPECT_EQ(ReadFileBytes(Path(kHWIDResultFileName)), "1");
    EXPECT_EQ(Count(Log(), kCycleRan), 1u);
    EXPECT_EQ(appliedODStatus, L"0");
}

TEST_F(Watcher, AnEmptyChoiceIsReadOnceMoreBeforeDeciding) {
    skipNextODResultChange = false;
    simnotebook::ClearRecord();
    UserWrites("");
    bool waited = false;
    for (const simnotebook::Event& event : simnotebook::ReadRecord()) {
        waited = waited || (event.kind == simnotebook::EventKind::Delay && event.milliseconds > 0 &&
                            event.milliseconds <= 100);
    }
    EXPECT_TRUE(waited);
    // Still empty after the wait: no valid choice, so overdrive off.
    EXPECT_NE(Log().find("] OD_OnOff error\r\n"), std::string::npos);
    EXPECT_EQ(appliedODStatus, L"0");
}

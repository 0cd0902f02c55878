#include "agent/decision/last_state.h"
#include "agent/files/state_files.h"
#include "agent/log/held_folder.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "agent/state/agent_state.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/simnotebook/simnotebook.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

using notebookfiles::ReadFileBytes;
using notebookfiles::WriteFileBytes;

TEST(TokenRule, OneToThreeCharactersAreTakenLongerReadsEmpty) {
    struct Case {
        std::string content;
        bool hasToken;
        const char* token;
    } cases[] = {
        {"1", true, "1"},
        {"1\r\n", true, "1"},
        {"  0 ", true, "0"},
        {"10", true, "10"},
        {"-1", true, "-1"},
        {"on", true, "on"},
        {"123", true, "123"},
        {"1234", true, ""},
        {"", false, ""},
        {" \r\n\t", false, ""},
        {"\n2 3", true, "2"},
        // However far the token starts, and whole across any read boundary.
        {std::string(4095, ' ') + "10", true, "10"},
        {std::string(70000, '\n') + "0", true, "0"},
        {std::string(5000, ' '), false, ""},
        {std::string(100000, '1'), true, ""},
    };
    notebookfiles::ResetDataFolder();
    const std::wstring path = DataFilePath(kODResultFileName);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content.substr(0, 8) + "... (" + std::to_string(c.content.size()) + ")");
        FileToken read = ParseToken(c.content, 3);
        EXPECT_EQ(read.hasToken, c.hasToken);
        EXPECT_EQ(read.token, c.token);
        WriteFileBytes(path, c.content);
        read = ReadFileToken(path, 3);
        EXPECT_EQ(read.hasToken, c.hasToken);
        EXPECT_EQ(read.token, c.token);
    }
    EXPECT_EQ(ParseToken("1", 1).token, "1");
    EXPECT_EQ(ParseToken("12", 1).token, "");
    EXPECT_TRUE(ParseToken("12", 1).hasToken);
}

class StateFiles : public ::testing::Test {
  protected:
    void SetUp() override { notebookfiles::ResetDataFolder(); }
    std::wstring ODResult() { return DataFilePath(kODResultFileName); }
    std::string Log() { return ReadFileBytes(DataFilePath(kLogFileName)); }
};

TEST_F(StateFiles, FreshFolderGetsDefaultChoiceAndTheCreationLine) {
    notebookfiles::RemoveDataFolder();
    PrepareDataFolder();
    EXPECT_EQ(ReadFileBytes(ODResult()), "1");
    EXPECT_NE(
        Log().find("] C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane\\OD_Result.txt is not exist, "
                   "create it and set default value 1.\r\n"),
        std::string::npos);
}

TEST_F(StateFiles, ExistingChoiceSurvivesAStart) {
    WriteFileBytes(ODResult(), "0");
    PrepareDataFolder();
    EXPECT_EQ(ReadFileBytes(ODResult()), "0");
    EXPECT_NE(Log().find("] C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane\\OD_Result.txt is already "
                         "exist, ready to initial the OD status.\r\n"),
              std::string::npos);
}

TEST_F(StateFiles, ChoiceIsReadAsTheFileHoldsIt) {
    struct Case {
        const char* content;
        const wchar_t* value;
        const char* logged;
    } cases[] = {
        {"1\r\n", L"1", "] OD_OnOff 1\r\n"},
        {"0", L"0", "] OD_OnOff 0\r\n"},
        {"10", L"10", "] OD_OnOff 10\r\n"},
        {"-1", L"-1", "] OD_OnOff -1\r\n"},
        {"2026", L"", "] OD_OnOff \r\n"},
        {"", L"error", "] OD_OnOff error\r\n"},
        {"  \r\n", L"error", "] OD_OnOff error\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.content);
        DeleteFileW(DataFilePath(kLogFileName).c_str());
        WriteFileBytes(ODResult(), c.content);
        EXPECT_EQ(OD_OnOff(), c.value);
        EXPECT_NE(Log().find(c.logged), std::string::npos) << Log();
    }
    DeleteFileW(ODResult().c_str());
    EXPECT_EQ(OD_OnOff(), L"error");
}

TEST_F(StateFiles, WriterLeavesExactlyOneCharacter) {
    std::wstring icon = DataFilePath(kIconFileName);
    WriteFileBytes(icon, "stale content\r\n");
    EXPECT_TRUE(WriteStateValue(icon, L"2"));
    EXPECT_EQ(ReadFileBytes(icon), "2");
    EXPECT_TRUE(WriteStateValue(icon, L""));
    bool exists = false;
    EXPECT_EQ(ReadFileBytes(icon, &exists), "");
    EXPECT_TRUE(exists);
    notebookfiles::RemoveDataFolder();
    EXPECT_FALSE(WriteStateValue(icon, L"1"));
}

TEST_F(StateFiles, ReadingDoesNotBlockAnotherProcessWritingTheChoice) {
    // A writer that denies nothing must get in while the agent holds the file for reading.
    std::wstring path = ODResult();
    WriteFileBytes(path, "1");
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteStateValue(path, L"0"));
    EXPECT_EQ(ReadFileToken(path, 3).token, "0");
    CloseHandle(reader);
}

// A local user may plant a link where the elevated agent writes; nothing goes through it.
class LinkedPlaces : public ::testing::Test {
  protected:
    void SetUp() override {
        notebookfiles::ResetDataFolder();
        outside_ = notebookfiles::ResetOutsideFolder();
        // The last state is recorded only while the panel's monitor is active.
        simnotebook::ResetSimNotebook();
        panelIdentity = simnotebook::kDefaultPanelIdentity;
    }
    void TearDown() override {
        notebookfiles::RemoveDataFolder();
        RestoreParent();
        notebookfiles::ResetDataFolder();
    }
    // The parent folder back as a real folder after a test linked it.
    void RestoreParent() {
        notebookfiles::RemoveSymbolicLink(kParent);
        CreateDirectoryW(kParent, nullptr);
    }
    std::string Log() { return ReadFileBytes(DataFilePath(kLogFileName)); }
    // Names of the files in the outside folder.
    std::vector<std::wstring> OutsideFiles() {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW((outside_ + L"\\*").c_str(), &entry);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                    names.push_back(entry.cFileName);
                }
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
        return names;
    }
    static constexpr const wchar_t* kParent = L"C:\\Users\\Public\\Roaming\\ZAVIK";
    std::wstring outside_;
};

size_t CountOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(LinkedPlaces, AFileLinkedElsewhereKeepsItsBytesAndIsToldOnce) {
    enum class Kind { Symbolic, Hard };
    const struct Case {
        const wchar_t* name;
        Kind kind;
    } cases[] = {
        {kIconFileName, Kind::Symbolic},     {kIconFileName, Kind::Hard},
        {kLastACDCFileName, Kind::Symbolic}, {kLastACDCFileName, Kind::Hard},
        {kLogFileName, Kind::Symbolic},      {kLogFileName, Kind::Hard},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(ToNarrow(c.name) + (c.kind == Kind::Symbolic ? " symbolic" : " hard"));
        notebookfiles::ResetDataFolder();
        const std::wstring target = outside_ + L"\\target.txt";
        WriteFileBytes(target, "not yours");
        const std::wstring path = DataFilePath(c.name);
        ASSERT_TRUE(c.kind == Kind::Symbolic ? notebookfiles::MakeSymbolicLink(path, target)
                                             : notebookfiles::MakeHardLink(path, target))
            << "this platform made no link";
        const bool isLog = std::wstring(c.name) == kLogFileName;
        // The agent's own writes of that file, twice, as events would make them.
        for (int write = 0; write < 2; ++write) {
            if (isLog) {
                WriteLog(L"a line");
            } else if (std::wstring(c.name) == kIconFileName) {
                EXPECT_FALSE(WriteStateValue(path, L"1"));
            } else {
                RecordLastPowerState(LastStateEvent::PowerStatusChange, true);
            }
        }
        EXPECT_EQ(ReadFileBytes(target), "not yours");
        if (!isLog) {
            EXPECT_EQ(
                CountOf(Log(), "] State files: " + ToNarrow(path) + " is a link, not written\r\n"),
                1u)
                << Log();
        }
        // Once the link is gone the file is written again.
        if (c.kind == Kind::Symbolic) {
            ASSERT_TRUE(notebookfiles::RemoveSymbolicLink(path));
        } else {
            ASSERT_TRUE(DeleteFileW(path.c_str()));
        }
        if (isLog) {
            WriteLog(L"a line");
            EXPECT_NE(Log().find("] a line\r\n"), std::string::npos);
        } else if (std::wstring(c.name) == kIconFileName) {
            EXPECT_TRUE(WriteStateValue(path, L"1"));
            EXPECT_EQ(ReadFileBytes(path), "1");
        } else {
            RecordLastPowerState(LastStateEvent::PowerStatusChange, true);
            EXPECT_EQ(ReadFileBytes(path), "1");
            EXPECT_EQ(ReadFileBytes(DataFilePath(kLastDCRefreshFileName)), "2");
        }
        EXPECT_EQ(ReadFileBytes(target), "not yours");
    }
}

TEST_F(LinkedPlaces, ARedirectedFolderGetsNothingAndARealOneWorksAgain) {
    const struct Case {
        const char* name;
        bool parent; // the link replaces ZAVIK rather than the data folder
    } cases[] = {{"data folder linked", false}, {"its parent linked", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        outside_ = notebookfiles::ResetOutsideFolder();
        notebookfiles::RemoveDataFolder();
        if (c.parent) {
            ASSERT_TRUE(RemoveDirectoryW(kParent));
        }
        ASSERT_TRUE(notebookfiles::MakeSymbolicLink(c.parent ? kParent : kDataFolder, outside_))
            << "this platform made no link";
        PrepareDataFolder();
        EXPECT_FALSE(WriteStateValue(DataFilePath(kIconFileName), L"1"));
        RecordLastPowerState(LastStateEvent::PowerStatusChange, false);
        WriteLog(L"a line");
        EXPECT_TRUE(OutsideFiles().empty());
        WIN32_FIND_DATAW entry;
        HANDLE anything = FindFirstFileW((outside_ + L"\\Lumivane").c_str(), &entry);
        EXPECT_EQ(anything, INVALID_HANDLE_VALUE) << "a folder was created through the link";
        if (anything != INVALID_HANDLE_VALUE) {
            FindClose(anything);
        }

        ASSERT_TRUE(notebookfiles::RemoveSymbolicLink(c.parent ? kParent : kDataFolder));
        RestoreParent();
        PrepareDataFolder();
        EXPECT_EQ(ReadFileBytes(DataFilePath(kODResultFileName)), "1");
        EXPECT_TRUE(WriteStateValue(DataFilePath(kIconFileName), L"1"));
        EXPECT_EQ(ReadFileBytes(DataFilePath(kIconFileName)), "1");
    }
}

// The host reads Icon.txt at any moment, also while the agent rewrites it.
TEST_F(StateFiles, AReaderNeverFindsARewrittenFileEmpty) {
    constexpr int kRewrites = 2000;
    const std::wstring icon = DataFilePath(kIconFileName);
    ASSERT_TRUE(WriteStateValue(icon, L"0"));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < kRewrites; ++i) {
            (void)WriteStateValue(icon, i % 2 == 0 ? L"1" : L"0");
        }
        done = true;
    });
    int reads = 0;
    int empty = 0;
    while (!done) {
        HANDLE file = CreateFileW(icon.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            continue;
        }
        char bytes[4];
        DWORD got = 0;
        if (ReadFile(file, bytes, sizeof bytes, &got, nullptr)) {
            ++reads;
            empty += got == 0 ? 1 : 0;
        }
        CloseHandle(file);
    }
    writer.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(empty, 0) << "of " << reads << " reads";
}

// The sharing rules the agent's hold on the data folder, its folder watcher and its log rotation
// rely on, as Windows documents them (IoCheckShareAccess, WDK; FileRenameInformation,
// MS-FSCC 2.4.42) and as Wine keeps them too, so the tests that rely on them need no double: a
// handle takes part in the sharing checks only with data or delete access; a folder held
// without delete sharing can be neither renamed nor opened for deletion; one held without any
// sharing shuts out every open with data access; an open file cannot be replaced by a rename,
// and one open without delete sharing cannot be opened for deletion.
TEST_F(StateFiles, ThePlatformKeepsTheSharingRulesTheAgentReliesOn) {
    const std::wstring folder = DataFilePath(L"held");
    const std::wstring moved = DataFilePath(L"moved");
    const std::wstring file = DataFilePath(L"viewed.txt");
    const std::wstring other = DataFilePath(L"other.txt");
    auto openFolder = [&](DWORD access, DWORD share) {
        return CreateFileW(folder.c_str(), access, share, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    };
    auto renamed = [&] {
        const bool done = MoveFileExW(folder.c_str(), moved.c_str(), 0) != FALSE;
        if (done) {
            MoveFileExW(moved.c_str(), folder.c_str(), 0);
        }
        return done;
    };
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));

    HANDLE held = openFolder(FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_TRUE(renamed()) << "an attributes-only handle keeps nothing from happening";
    CloseHandle(held);
    held = openFolder(FILE_LIST_DIRECTORY | FILE_TRAVERSE | SYNCHRONIZE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_FALSE(renamed());
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE again = openFolder(DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    EXPECT_EQ(again, INVALID_HANDLE_VALUE);
    if (again != INVALID_HANDLE_VALUE) {
        CloseHandle(again);
    }
    again = openFolder(GENERIC_READ | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "the watcher's open beside the hold";
    CloseHandle(again);
    CloseHandle(held);
    held = openFolder(FILE_LIST_DIRECTORY, 0);
    again = openFolder(GENERIC_READ | FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(again, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    again = openFolder(FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    EXPECT_NE(again, INVALID_HANDLE_VALUE) << "a check's open beside a share-none holder";
    CloseHandle(again);
    CloseHandle(held);
    RemoveDirectoryW(folder.c_str());

    for (DWORD share :
         {static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE),
          static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)}) {
        SCOPED_TRACE(share);
        WriteFileBytes(file, "viewed");
        WriteFileBytes(other, "other");
        HANDLE viewer =
            CreateFileW(file.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(MoveFileExW(other.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        HANDLE deleter = CreateFileW(file.c_str(), DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(deleter != INVALID_HANDLE_VALUE, (share & FILE_SHARE_DELETE) != 0);
        if (deleter != INVALID_HANDLE_VALUE) {
            CloseHandle(deleter);
        }
        CloseHandle(viewer);
        DeleteFileW(file.c_str());
        DeleteFileW(other.c_str());
    }
}

// The agent's hold on the data folder keeps everyone else from renaming or deleting the folder.
// The hold lasts as long as its process, so a child process takes it.
TEST_F(StateFiles, TheHeldDataFolderCanBeNeitherRenamedNorDeleted) {
    EXPECT_EXIT(
        {
            const wchar_t aside[] = L"C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane.aside";
            KeepDataFolderOpen();
            const bool renamed = MoveFileExW(kDataFolder, aside, 0) != FALSE;
            if (renamed) {
                MoveFileExW(aside, kDataFolder, 0);
            }
            HANDLE deleter = CreateFileW(
                kDataFolder, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            const bool deletable = deleter != INVALID_HANDLE_VALUE;
            // The agent's own writes still get in.
            const bool written = WriteStateValue(DataFilePath(kIconFileName), L"1");
            ExitProcess((renamed ? 1 : 0) | (deletable ? 2 : 0) | (written ? 0 : 4));
        },
        testing::ExitedWithCode(0), "");
}

namespace {

std::vector<uint32_t> RecordedDelays() {
    std::vector<uint32_t> delays;
    for (const simnotebook::Event& event : simnotebook::ReadRecord()) {
        if (event.kind == simnotebook::EventKind::Delay) {
            delays.push_back(event.milliseconds);
        }
    }
    return delays;
}

class LastState : public ::testing::Test {
  protected:
    void SetUp() override {
        notebookfiles::ResetDataFolder();
        simnotebook::ResetSimNotebook();
        ResetAgentState();
        panelIdentity = simnotebook::kDefaultPanelIdentity;
        highRefreshRate = 144;
        lowRefreshRate = 60;
        simnotebook::ClearRecord();
    }
    void TearDown() override {
        RemoveDirectoryW(DataFilePath(kLastDCRefreshFileName).c_str());
        notebookfiles::ResetDataFolder();
    }
};

} // namespace

// Each occasion opens the pair with its own pause and takes the rate digit by its own rule
// (low: "1" at the low rate; high: "2" at the high rate; fixed: from the power source).
TEST_F(LastState, EachOccasionRecordsWithItsPauseAndRule) {
    const struct Case {
        const char* what;
        LastStateEvent event;
        bool onAC;
        uint32_t rate;
        uint32_t openGap;
        const char* dcRefresh;
    } cases[] = {
        {"start-up, AC", LastStateEvent::StartUp, true, 60, 100, "1"},
        {"start-up, battery", LastStateEvent::StartUp, false, 144, 100, "2"},
        {"session, AC", LastStateEvent::SessionRestore, true, 100, 10, "2"},
        {"session, battery", LastStateEvent::SessionRestore, false, 60, 100, "1"},
        {"resume, AC", LastStateEvent::Resume, true, 144, 10, "2"},
        {"resume, battery", LastStateEvent::Resume, false, 60, 10, "1"},
        {"power change, AC", LastStateEvent::PowerStatusChange, true, kRateNotRead, 10, "2"},
        {"power change, battery", LastStateEvent::PowerStatusChange, false, kRateNotRead, 10, "1"},
        {"display change, AC", LastStateEvent::DisplayChange, true, 60, 10, "1"},
        {"display change, battery", LastStateEvent::DisplayChange, false, 144, 10, "2"},
        {"monitor count, AC", LastStateEvent::MonitorCountChange, true, 100, 10, "1"},
        {"monitor count, AC at the high rate", LastStateEvent::MonitorCountChange, true, 144, 10,
         "2"},
        {"monitor count, battery", LastStateEvent::MonitorCountChange, false, 100, 100, "2"},
        {"RefreshFlag, battery", LastStateEvent::RefreshFlagChange, false, 60, 10, "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        simnotebook::ClearRecord();
        RecordLastPowerState(c.event, c.onAC, c.rate);
        EXPECT_EQ(ReadFileBytes(DataFilePath(kLastACDCFileName)), c.onAC ? "1" : "2");
        EXPECT_EQ(ReadFileBytes(DataFilePath(kLastDCRefreshFileName)), c.dcRefresh);
        // The pause between the opens, then 10 ms before and after the rate digit.
        EXPECT_EQ(RecordedDelays(), (std::vector<uint32_t>{c.openGap, 10, 10}));
    }
}

TEST_F(LastState, APairThatWillNotOpenIsTriedTenTimes) {
    ASSERT_TRUE(CreateDirectoryW(DataFilePath(kLastDCRefreshFileName).c_str(), nullptr));
    RecordLastPowerState(LastStateEvent::MonitorCountChange, false, 60);
    // Twice 10 ms after each failed attempt but the last.
    std::vector<uint32_t> expected;
    for (int attempt = 0; attempt < 10; ++attempt) {
        expected.push_back(100);
        if (attempt < 9) {
            expected.insert(expected.end(), {10, 10});
        }
    }
    EXPECT_EQ(RecordedDelays(), expected);
}

TEST_F(LastState, StartUpCreatesThePairTwoMillisecondsApart) {
    simnotebook::SetACLineStatus(0);
    CreateLastStateFiles(60);
    EXPECT_EQ(ReadFileBytes(DataFilePath(kLastACDCFileName)), "2");
    EXPECT_EQ(ReadFileBytes(DataFilePath(kLastDCRefreshFileName)), "1");
    EXPECT_EQ(RecordedDelays(), (std::vector<uint32_t>{2, 10}));
    // Files already there are left as they are.
    WriteFileBytes(DataFilePath(kLastDCRefreshFileName), "2");
    simnotebook::ClearRecord();
    CreateLastStateFiles(60);
    EXPECT_EQ(ReadFileBytes(DataFilePath(kLastDCRefreshFileName)), "2");
    EXPECT_TRUE(RecordedDelays().empty());
}

#include "agent/files/state_files.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

using testsupport::ReadFileBytes;
using testsupport::WriteFileBytes;

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
    testsupport::ResetDataFolder();
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
    void SetUp() override { testsupport::ResetDataFolder(); }
    std::wstring ODResult() { return DataFilePath(kODResultFileName); }
    std::string Log() { return ReadFileBytes(DataFilePath(kLogFileName)); }
};

TEST_F(StateFiles, FreshFolderGetsDefaultChoiceAndTheCreationLine) {
    testsupport::RemoveDataFolder();
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
    testsupport::RemoveDataFolder();
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

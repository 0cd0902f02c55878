#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <regex>

using testsupport::ReadFileBytes;

namespace {

std::tm MakeTime(int year, int month, int day, int wday, int hour, int min, int sec) {
    std::tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_wday = wday;
    t.tm_hour = hour;
    t.tm_min = min;
    t.tm_sec = sec;
    return t;
}

const std::regex kLinePattern(
    R"(\[ (Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
    R"(\d\d \d\d:\d\d:\d\d \d{4} \] )");

} // namespace

TEST(LogLine, TimeTextHasLeadingZerosAndEnglishNames) {
    struct Case {
        std::tm time;
        const char* expected;
    } cases[] = {
        {MakeTime(2026, 12, 7, 1, 3, 3, 26), "Mon Dec 07 03:03:26 2026"},
        {MakeTime(2027, 1, 1, 5, 0, 0, 0), "Fri Jan 01 00:00:00 2027"},
        {MakeTime(2026, 6, 30, 2, 23, 59, 59), "Tue Jun 30 23:59:59 2026"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(FormatLogTime(c.time), c.expected);
        EXPECT_EQ(FormatLogTime(c.time).size(), 24u);
    }
}

TEST(LogLine, MessageIsKeptLiterallyAndEndsInCrLf) {
    std::tm t = MakeTime(2026, 12, 7, 1, 3, 3, 26);
    EXPECT_EQ(FormatLogLine(t, L"fsWatcher_OD_Result_Changed ++"),
              "[ Mon Dec 07 03:03:26 2026 ] fsWatcher_OD_Result_Changed ++\r\n");
    EXPECT_EQ(FormatLogLine(t, L"100% %s %d"), "[ Mon Dec 07 03:03:26 2026 ] 100% %s %d\r\n");
    EXPECT_EQ(FormatLogLine(t, L""), "[ Mon Dec 07 03:03:26 2026 ] \r\n");
}

class LogFile : public ::testing::Test {
  protected:
    void SetUp() override { testsupport::ResetDataFolder(); }
    std::string Log() { return ReadFileBytes(DataFilePath(kLogFileName)); }
};

TEST_F(LogFile, AppendsWholeLinesInCallOrder) {
    WriteLog(L"first");
    WriteLog(L"");
    WriteLog(L"50% done");
    std::string log = Log();
    std::smatch match;
    ASSERT_TRUE(std::regex_search(log, match, kLinePattern));
    EXPECT_EQ(match.position(0), 0);
    // Three lines, each stamped, in order; an empty message still gets its stamp and space.
    EXPECT_NE(log.find(" ] first\r\n["), std::string::npos);
    EXPECT_NE(log.find(" ] \r\n["), std::string::npos);
    EXPECT_EQ(log.substr(log.size() - 13), " ] 50% done\r\n");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), 3);
}

TEST_F(LogFile, DeletedLogIsCreatedAgainWithTheNextLine) {
    WriteLog(L"before");
    ASSERT_TRUE(DeleteFileW(DataFilePath(kLogFileName).c_str()));
    WriteLog(L"after");
    std::string log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
    EXPECT_NE(log.find(" ] after\r\n"), std::string::npos);
}

TEST_F(LogFile, MissingDataFolderIsNoFailure) {
    testsupport::RemoveDataFolder();
    WriteLog(L"nowhere to go");
    bool exists = true;
    ReadFileBytes(DataFilePath(kLogFileName), &exists);
    EXPECT_FALSE(exists);
}

TEST(Text, HelpersFollowTheClassicLocale) {
    EXPECT_EQ(ToWide("abc"), L"abc");
    EXPECT_EQ(ToWide(static_cast<const char*>(nullptr)), L"");
    EXPECT_TRUE(TextEquals(L"YES", L"YES"));
    EXPECT_FALSE(TextEquals(L"yes", L"YES"));
    EXPECT_FALSE(TextEquals(L"YES ", L"YES"));
    EXPECT_EQ(TrimLeft(L" \t\r\nab "), L"ab ");
    EXPECT_EQ(TrimRight(L" ab \r\n"), L" ab");
    EXPECT_EQ(ToUpperAscii(L"monitor\\abc1234\\{x}"), L"MONITOR\\ABC1234\\{X}");
}

#include "agent/files/state_files.h"
#include "agent/log/log.h"
#include "agent/log/text.h"
#include "tools/notebookfiles/notebook_files.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <stdexcept>
#include <thread>
#include <vector>

using notebookfiles::ReadFileBytes;

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
    void SetUp() override { notebookfiles::ResetDataFolder(); }
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
    notebookfiles::RemoveDataFolder();
    WriteLog(L"nowhere to go");
    bool exists = true;
    ReadFileBytes(DataFilePath(kLogFileName), &exists);
    EXPECT_FALSE(exists);
}

// A thread's or the window procedure's last resort: one line naming what was thrown, whatever
// it was, and nothing that escapes the handler.
TEST_F(LogFile, AnUnexpectedExceptionLeavesOneLineAndNothingEscapes) {
    const struct {
        std::function<void()> raise;
        const char* line;
    } cases[] = {
        {[] { throw std::runtime_error("disk on fire"); },
         " ] Worker: unexpected exception: disk on fire, thread ends\r\n"},
        {[] { throw 42; }, " ] Worker: unexpected exception: unknown exception, thread ends\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        notebookfiles::ResetDataFolder();
        EXPECT_NO_THROW({
            try {
                c.raise();
            } catch (...) {
                LogUnexpectedException(L"Worker: unexpected exception: ", L", thread ends");
            }
        });
        const std::string log = Log();
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
        EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
    }
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

// Both agent threads log while the log reaches its limit: it is renamed once, and every line
// lands whole in one of the files. A reader holding OD_Log.1.txt (a log viewer, a support tool)
// keeps the platform from replacing it ("the target file was open and ReplaceIfExists is
// nonzero": STATUS_ACCESS_DENIED, MS-FSCC 2.4.42 FileRenameInformation; Wine refuses it too):
// the full log then goes to OD_Log.2.txt, and the new log says so once.
TEST_F(LogFile, AFullLogBecomesTheOldOneWithoutLosingALine) {
    constexpr int kLinesPerThread = 300;
    const std::string spareNotice =
        "] Log: OD_Log.1.txt is in use, the full log is OD_Log.2.txt\r\n";
    const struct {
        const char* name;
        DWORD readerShare; // of the reader holding OD_Log.1.txt; 0: nobody holds it
    } cases[] = {
        {"nobody reads the old log", 0},
        {"a viewer holds the old log", FILE_SHARE_READ | FILE_SHARE_WRITE},
        {"a viewer holds the old log, sharing deletion",
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        notebookfiles::ResetDataFolder();
        const std::wstring oldLog = DataFilePath(L"OD_Log.1.txt");
        const std::wstring spareLog = DataFilePath(L"OD_Log.2.txt");
        notebookfiles::WriteFileBytes(oldLog, "an older log\r\n");
        HANDLE reader = INVALID_HANDLE_VALUE;
        if (c.readerShare != 0) {
            reader = CreateFileW(oldLog.c_str(), GENERIC_READ, c.readerShare, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        }
        // Whole lines up to a few bytes below the limit.
        const size_t target = kLogLimitBytes - 8;
        const std::string stamp = "[ Mon Dec 07 03:03:26 2026 ] ";
        const std::string filler = stamp + std::string(1000, 'f') + "\r\n";
        std::string content;
        while (target - content.size() > 2 * filler.size()) {
            content += filler;
        }
        content += stamp + std::string(target - content.size() - stamp.size() - 2, 'g') + "\r\n";
        ASSERT_EQ(content.size(), kLogLimitBytes - 8);
        notebookfiles::WriteFileBytes(DataFilePath(kLogFileName), content);

        auto logLines = [](char thread) {
            for (int i = 0; i < kLinesPerThread; ++i) {
                WriteLog(std::wstring(L"thread ") + static_cast<wchar_t>(thread) + L" line " +
                         std::to_wstring(i));
            }
        };
        std::thread window(logLines, 'w');
        std::thread watcher(logLines, 'f');
        window.join();
        watcher.join();
        if (reader != INVALID_HANDLE_VALUE) {
            CloseHandle(reader);
        }

        const bool held = c.readerShare != 0;
        const std::string older = ReadFileBytes(held ? spareLog : oldLog);
        const std::string newer = Log();
        EXPECT_LE(older.size(), kLogLimitBytes);
        EXPECT_EQ(older.compare(0, content.size(), content), 0) << "the full log is the old one";
        EXPECT_EQ(older.find("an older log"), std::string::npos);
        EXPECT_EQ(ReadFileBytes(oldLog) == "an older log\r\n", held);
        EXPECT_LT(newer.size(), content.size());
        size_t notices = 0;
        for (size_t at = newer.find(spareNotice); at != std::string::npos;
             at = newer.find(spareNotice, at + 1)) {
            ++notices;
        }
        EXPECT_EQ(notices, held ? 1u : 0u);
        std::string all = older + newer;
        size_t begin = 0;
        size_t lines = 0;
        std::vector<int> seen[2] = {std::vector<int>(kLinesPerThread),
                                    std::vector<int>(kLinesPerThread)};
        const std::regex ours(R"(thread ([wf]) line (\d+))");
        while (begin < all.size()) {
            size_t end = all.find("\r\n", begin);
            ASSERT_NE(end, std::string::npos) << "a line without its end";
            std::string line = all.substr(begin, end - begin);
            begin = end + 2;
            ++lines;
            ASSERT_TRUE(std::regex_search(line, kLinePattern)) << line;
            std::smatch match;
            if (std::regex_search(line, match, ours)) {
                ++seen[match[1] == "w" ? 0 : 1][std::stoi(match[2])];
            }
        }
        for (const std::vector<int>& thread : seen) {
            for (int count : thread) {
                EXPECT_EQ(count, 1);
            }
        }
        EXPECT_EQ(lines, std::count(content.begin(), content.end(), '\n') + 2u * kLinesPerThread +
                             notices);
    }
}

// The reference host on its own, without the agent: this test plays the agent's part by
// writing Icon.txt and broadcasting the notice, and drives the host through its pipes.
#include "tests/plugin/plugin_paths.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/refhost/refhost_process.h"

#include <gtest/gtest.h>

#include <windows.h>

using notebookfiles::DataPath;
using notebookfiles::ReadFileBytes;
using notebookfiles::WriteFileBytes;
using refhost::LineField;
using refhost::NoticeWithMode;
using refhost::RefHostProcess;
using refhost::StartsWith;

namespace {

constexpr DWORD kLineTimeoutMs = 10000;
constexpr DWORD kExitTimeoutMs = 10000;
constexpr WPARAM kNoticeWParam = 0x00FFAB00;

// The agent's broadcast, as it sends it.
LRESULT BroadcastModeChange(LPARAM lParam) {
    const UINT message = RegisterWindowMessageW(L"NOTIFY_GC_MODECHANGE");
    return SendMessageTimeoutW(HWND_BROADCAST, message, kNoticeWParam, lParam, SMTO_ABORTIFHUNG,
                               5000, nullptr);
}

class RefHost : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(plugintest::RefHostPath().empty()) << "--refhost= not given";
        notebookfiles::ResetDataFolder();
    }
    // Starts the host on the built plug-in and waits until its window listens.
    void StartHost(std::vector<std::wstring> extraArgs = {}) {
        std::vector<std::wstring> args = {L"--plugin", plugintest::TesselPath()};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        ASSERT_TRUE(host_.Start(plugintest::RefHostPath(), args)) << GetLastError();
        ASSERT_TRUE(host_.WaitForLine(StartsWith("ready"), kLineTimeoutMs)) << Output();
        host_.SkipReceived();
    }
    std::string Output() const {
        std::string all;
        for (const std::string& line : host_.Lines()) {
            all += line + "\n";
        }
        return all;
    }

    RefHostProcess host_;
};

TEST_F(RefHost, ReadsTheModeOnEachNoticeAndStoresTheChoice) {
    WriteFileBytes(DataPath(L"Icon.txt"), "2");
    StartHost();

    EXPECT_NE(BroadcastModeChange(2), 0);
    std::optional<std::string> notice = host_.WaitForLine(NoticeWithMode("2"), kLineTimeoutMs);
    ASSERT_TRUE(notice) << Output();
    EXPECT_EQ(LineField(*notice, "wparam"), "0x00ffab00");
    EXPECT_EQ(LineField(*notice, "lparam"), "2");
    EXPECT_EQ(LineField(*notice, "since-set-ms"), "-1");
    EXPECT_EQ(LineField(*notice, "count"), "1");

    ASSERT_TRUE(host_.Send("set 0"));
    EXPECT_TRUE(host_.WaitForLine(StartsWith("set 0 -> 1"), kLineTimeoutMs)) << Output();
    EXPECT_EQ(ReadFileBytes(DataPath(L"OD_Result.txt")), "0");

    // The host reports the icon state, not the choice it just set.
    WriteFileBytes(DataPath(L"Icon.txt"), "1");
    EXPECT_NE(BroadcastModeChange(0), 0);
    notice = host_.WaitForLine(NoticeWithMode("1"), kLineTimeoutMs);
    ASSERT_TRUE(notice) << Output();
    EXPECT_EQ(LineField(*notice, "count"), "2");
    const std::string sinceSet = LineField(*notice, "since-set-ms").value_or("");
    EXPECT_TRUE(!sinceSet.empty() && sinceSet != "-1") << *notice;

    ASSERT_TRUE(host_.Send("get"));
    EXPECT_TRUE(host_.WaitForLine(StartsWith("get mode=1"), kLineTimeoutMs)) << Output();

    EXPECT_EQ(host_.Stop(kExitTimeoutMs), 0u);
    EXPECT_TRUE(host_.WaitForLine(StartsWith("bye"), 0)) << Output();
}

TEST_F(RefHost, AnswersEachCommand) {
    StartHost();
    struct Case {
        const char* command;
        const char* answer;
        const char* stored; // OD_Result.txt afterwards
    } cases[] = {
        {"set 1", "set 1 -> 1", "1"},     {"set  1abc", "set  1abc -> 1", "1"},
        {"set abc", "set abc -> 1", "0"}, {"set -1", "set -1 -> 1", "-1"},
        {"get", "get mode=", "-1"},       {"frobnicate", "error unknown command frobnicate", "-1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_TRUE(host_.Send(c.command));
        const std::optional<std::string> answer = host_.WaitForLine(
            [](const std::string& line) { return line.compare(0, 7, "notice ") != 0; },
            kLineTimeoutMs);
        EXPECT_EQ(answer.value_or("<none>"), c.answer);
        EXPECT_EQ(ReadFileBytes(DataPath(L"OD_Result.txt")), c.stored);
    }
    // The host passes on what the plug-in says: the choice could not be stored.
    notebookfiles::RemoveDataFolder();
    ASSERT_TRUE(host_.Send("set 1"));
    EXPECT_TRUE(host_.WaitForLine(StartsWith("set 1 -> 0"), kLineTimeoutMs)) << Output();
}

TEST_F(RefHost, LogsToAFileAndEndsAfterTheCountedNotices) {
    const std::wstring logPath = DataPath(L"refhost.log");
    WriteFileBytes(DataPath(L"Icon.txt"), "0");
    StartHost({L"--log", logPath, L"--exit-after", L"2", L"--no-stdin"});

    EXPECT_NE(BroadcastModeChange(7), 0);
    ASSERT_TRUE(host_.WaitForLine(NoticeWithMode("0"), kLineTimeoutMs)) << Output();
    EXPECT_FALSE(host_.WaitForExit(0)) << "ended after one notice";
    EXPECT_NE(BroadcastModeChange(7), 0);
    EXPECT_EQ(host_.WaitForExit(kExitTimeoutMs), 0u) << Output();
    host_.Stop();

    const std::vector<std::string> lines = host_.Lines();
    std::string expected;
    for (const std::string& line : lines) {
        expected += line + "\n";
    }
    EXPECT_EQ(ReadFileBytes(logPath), expected);
    ASSERT_EQ(lines.size(), 5u) << expected;
    EXPECT_EQ(lines[3].compare(0, 7, "notice "), 0);
    EXPECT_EQ(LineField(lines[3], "count"), "2");
    EXPECT_EQ(lines[4], "bye");
}

TEST_F(RefHost, EndsWhenItsInputEnds) {
    StartHost();
    host_.CloseInput();
    EXPECT_EQ(host_.WaitForExit(kExitTimeoutMs), 0u) << Output();
}

TEST_F(RefHost, RefusesToStartWithoutThePlugin) {
    ASSERT_TRUE(host_.Start(plugintest::RefHostPath(),
                            {L"--plugin", L"C:\\nowhere\\Tessel.dll", L"--no-stdin"}));
    EXPECT_EQ(host_.WaitForExit(kExitTimeoutMs), 2u);
    EXPECT_TRUE(host_.WaitForLine(StartsWith("error cannot load plug-in C:\\nowhere\\Tessel.dll"),
                                  kLineTimeoutMs))
        << Output();
    EXPECT_FALSE(host_.WaitForLine(StartsWith("ready"), 0));
}

} // namespace

// The host notice as the control-centre application sees it: a window of this process
// receives the broadcast.
#include "agent/decision/decision_cycle.h"
#include "agent/decision/host_notice.h"
#include "agent/events/state_file_events.h"
#include "agent/events/window_proc.h"
#include "agent/files/state_files.h"
#include "agent/state/agent_lock.h"
#include "agent/state/agent_state.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/simbios/simbios_control.h"
#include "tools/simnotebook/simnotebook.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <vector>

using notebookfiles::ReadFileBytes;

namespace {

struct Notice {
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Notice> notices;
UINT noticeMessage = 0;
// When set, the receiver tells this agent window of a power-source change on the next notice,
// as the system does when the power source changes while the host handles the notice.
HWND powerChangeOnNextNotice = nullptr;

LRESULT CALLBACK ReceiverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == noticeMessage && noticeMessage != 0) {
        notices.push_back({wParam, lParam});
        if (HWND agentWindow = powerChangeOnNextNotice) {
            powerChangeOnNextNotice = nullptr;
            simnotebook::SetACLineStatus(0);
            SendMessageW(agentWindow, WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A hidden top-level window, as the host and the agent have: broadcasts reach it. The class is
// registered on first use (a second registration fails harmlessly).
HWND CreateHiddenWindow(const wchar_t* className, WNDPROC procedure) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    (void)RegisterClassW(&windowClass);
    return CreateWindowExW(WS_EX_TOOLWINDOW, className, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

HWND CreateReceiver() {
    return CreateHiddenWindow(L"NoticeReceiverForTests", ReceiverProc);
}

// With the agent's own window procedure.
HWND CreateAgentWindow() {
    return CreateHiddenWindow(L"AgentWindowForTests", WndProc);
}

class HostNotice : public ::testing::Test {
  protected:
    void SetUp() override {
        notebookfiles::ResetDataFolder();
        simnotebook::ResetSimNotebook();
        simbios::ResetSimBios();
        ResetAgentState();
        modeChangeMessage = noticeMessage = RegisterWindowMessageW(L"NOTIFY_GC_MODECHANGE");
        notices.clear();
        receiver = CreateReceiver();
        ASSERT_NE(receiver, nullptr);
    }
    void TearDown() override { DestroyWindow(receiver); }
    static std::wstring Path(const wchar_t* name) { return DataFilePath(name); }
    static std::string Log() { return ReadFileBytes(Path(kLogFileName)); }
    HWND receiver = nullptr;
};

} // namespace

TEST_F(HostNotice, FirstValueIsWrittenAndAnnounced) {
    Notify_Helmbay_ODIcon(L"2");
    EXPECT_EQ(ReadFileBytes(Path(kIconFileName)), "2");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].wParam, 0x00FFAB00u);
    EXPECT_EQ(notices[0].lParam, 2);
    std::string log = Log();
    size_t line = log.find("] Notify_Helmbay_ODIcon: temp_OD_Icon: , OD_Status: 2\r\n");
    size_t send = log.find("] Send Message to Helmbay\r\n");
    size_t result = log.find("] SendMessageTimeout Result= 1\r\n");
    EXPECT_NE(line, std::string::npos);
    EXPECT_LT(line, send);
    EXPECT_LT(send, result);
    EXPECT_NE(result, std::string::npos) << log;
    EXPECT_EQ(currentODIcon, L"2");
    EXPECT_EQ(temp_OD_Icon, L"2");
}

TEST_F(HostNotice, SameValueRewritesTheFileButSendsNoSecondNotice) {
    Notify_Helmbay_ODIcon(L"1");
    DeleteFileW(Path(kIconFileName).c_str());
    Notify_Helmbay_ODIcon(L"1");
    EXPECT_EQ(ReadFileBytes(Path(kIconFileName)), "1");
    EXPECT_EQ(notices.size(), 1u);
    EXPECT_NE(Log().find("] Notify_Helmbay_ODIcon: temp_OD_Icon: 1, OD_Status: 1\r\n"),
              std::string::npos);

    Notify_Helmbay_ODIcon(L"0");
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_EQ(notices[1].lParam, 0);
}

TEST_F(HostNotice, AnIconFileThatCannotBeWrittenIsLoggedAndTheHostStillHears) {
    notebookfiles::RemoveDataFolder();
    Notify_Helmbay_ODIcon(L"1");
    // Nothing could be read back, so the notice carries 0; the host reads the file itself.
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].lParam, 0);
    EXPECT_EQ(temp_OD_Icon, L"1");
}

// The watcher thread broadcasts while it holds the lock that the window thread is waiting
// for: the window thread must go on answering, or each notice would wait out its timeout.
TEST_F(HostNotice, WindowThreadWaitingForTheLockStillAnswersTheBroadcast) {
    panelIdentity = detectEDID = L"AUO519D";
    isODPanel = L"YES";
    notebookfiles::WriteFileBytes(Path(kODResultFileName), "1");
    Notify_Helmbay_ODIcon(L"1");
    notices.clear();

    struct Shared {
        HANDLE holding;
        HANDLE proceed;
    } shared = {CreateEventW(nullptr, TRUE, FALSE, nullptr),
                CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    auto started = std::chrono::steady_clock::now();
    HANDLE watcher = CreateThread(
        nullptr, 0,
        [](LPVOID parameter) -> DWORD {
            auto* s = static_cast<Shared*>(parameter);
            AgentLock lock;
            SetEvent(s->holding);
            WaitForSingleObject(s->proceed, 10000);
            // A user change seen by the watcher: a cycle whose notice reaches every window.
            notebookfiles::WriteFileBytes(DataFilePath(kODResultFileName), "0");
            skipNextODResultChange = false;
            HandleChangeRecords({{FILE_ACTION_MODIFIED, L"OD_Result.txt"}});
            return 0;
        },
        &shared, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(shared.holding, 10000), WAIT_OBJECT_0);
    SetEvent(shared.proceed);
    // A cycle on the window thread, started while the watcher holds the lock.
    (void)Detect_Notify_Fn();
    ASSERT_EQ(WaitForSingleObject(watcher, 20000), WAIT_OBJECT_0);
    auto elapsed = std::chrono::steady_clock::now() - started;
    CloseHandle(watcher);
    CloseHandle(shared.holding);
    CloseHandle(shared.proceed);

    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 1000);
    // The watcher's notice went out (icon "0"), answered by this very thread.
    ASSERT_FALSE(notices.empty());
    EXPECT_EQ(notices[0].lParam, 0);
    EXPECT_NE(Log().find("] SendMessageTimeout Result= 1\r\n"), std::string::npos);
}

// A power notice answered while the host handles a notice runs a whole cycle inside the
// broadcast; the outer cycle must not overwrite what that cycle decided, or the next real
// change goes unannounced.
TEST_F(HostNotice, ACycleInsideTheBroadcastHasTheLastWord) {
    panelIdentity = detectEDID = L"AUO519D";
    isODPanel = L"YES";
    lastACLineStatus = 1;
    notebookfiles::WriteFileBytes(Path(kODResultFileName), "0");
    HWND agentWindow = CreateAgentWindow();
    ASSERT_NE(agentWindow, nullptr);

    powerChangeOnNextNotice = agentWindow;
    (void)Detect_Notify_Fn(); // AC, choice "0": icon "0"; on battery inside its notice: "2"
    ASSERT_EQ(notices.size(), 2u) << Log();
    EXPECT_EQ(notices[0].lParam, 0);
    EXPECT_EQ(notices[1].lParam, 2);
    EXPECT_EQ(ReadFileBytes(Path(kIconFileName)), "2");
    EXPECT_EQ(currentODIcon, L"2");
    EXPECT_EQ(temp_OD_Icon, L"2");

    simnotebook::SetACLineStatus(1);
    SendMessageW(agentWindow, WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0);
    ASSERT_EQ(notices.size(), 3u) << Log();
    EXPECT_EQ(notices[2].lParam, 0);
    EXPECT_EQ(ReadFileBytes(Path(kIconFileName)), "0");

    DestroyWindow(agentWindow);
    // The agent window's end posts WM_QUIT; later tests must not find it.
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

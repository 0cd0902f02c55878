// The window procedure called in-process, for what another process cannot send (a message
// carrying a pointer), and the resources as the built executable holds them.
#include "agent/events/startup.h"
#include "agent/events/window_proc.h"
#include "agent/state/agent_state.h"
#include "common/fixed_paths.h"
#include "tests/events/agent_fixture.h"
#include "tools/notebookfiles/notebook_files.h"

#include <gtest/gtest.h>

#include <dbt.h>
#include <windows.h>

#include <functional>
#include <dbt.h>

#include <vector>

namespace e2e {

namespace {

const GUID kMonitorPowerOn = {
    0x02731015, 0x4510, 0x4526, {0x99, 0xE6, 0xE5, 0xA1, 0x7E, 0xBD, 0x1A, 0xEA}};
const GUID kLidSwitch = {
    0xBA3E0F4D, 0xB817, 0x4094, {0xA2, 0xD1, 0xD5, 0x63, 0x79, 0xE6, 0xA0, 0xF3}};
const WORD kTraditionalChinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL);

LRESULT SendPowerSetting(const GUID& setting) {
    POWERBROADCAST_SETTING broadcast = {};
    broadcast.PowerSetting = setting;
    broadcast.DataLength = sizeof(DWORD);
    return WndProc(nullptr, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE,
                   reinterpret_cast<LPARAM>(&broadcast));
}

// String `id` of the table, as stored for the given language.
std::wstring StringResource(HMODULE module, UINT id, WORD language) {
    HRSRC block = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (block == nullptr) {
        return L"<missing>";
    }
    const wchar_t* at = static_cast<const wchar_t*>(LockResource(LoadResource(module, block)));
    for (UINT i = 0; i < id % 16; ++i) {
        at += *at + 1;
    }
    return std::wstring(at + 1, *at);
}

std::wstring MenuText(HMENU menu, UINT position) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return text;
}

} // namespace

TEST(WindowProcedure, MonitorPowerIsAPowerEventTheLidIsNot) {
    notebookfiles::ResetDataFolder();
    ResetAgentState();
    detectEDID = L"FAIL"; // no decision cycle: only the power event's own line
    EXPECT_EQ(SendPowerSetting(kLidSwitch), 0);
    EXPECT_EQ(CountInLog("] OnPowerEvent Power status = "), 0u);
    EXPECT_EQ(SendPowerSetting(kMonitorPowerOn), 0);
    EXPECT_EQ(CountInLog("] OnPowerEvent Power status = "), 1u);
    EXPECT_EQ(WndProc(nullptr, WM_POWERBROADCAST, PBT_APMSUSPEND, 0), 0);
    EXPECT_TRUE(isSuspended);
}

namespace {

size_t CountReenumerations() {
    size_t count = 0;
    for (const simnotebook::Event& event : simnotebook::ReadRecord()) {
        count += event.kind == simnotebook::EventKind::DeviceTreeReenumeration ? 1 : 0;
    }
    return count;
}

// Dispatches this thread's messages (the agent window's timers) until the condition holds.
bool DispatchUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        (void)MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                        QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    return true;
}

} // namespace

// Each re-enumeration of the device tree costs seconds of the window thread: a burst of device
// events re-enumerates at once and once more at the end of the interval, not once per event.
TEST(WindowProcedure, ABurstOfDeviceEventsReenumeratesTheDeviceTreeTwice) {
    notebookfiles::ResetDataFolder();
    simnotebook::ResetSimNotebook();
    ResetAgentState();
    isIntelCPU = true;
    reenumerateOnDeviceChange = true;
    monitorCount = lastMonitorCount = 1; // the count does not change: only the re-enumeration
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"AgentWindowForDeviceTests";
    (void)RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"", WS_POPUP, 0, 0,
                                  0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);

    for (int event = 0; event < 20; ++event) {
        SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    }
    EXPECT_EQ(CountReenumerations(), 1u);
    EXPECT_TRUE(DispatchUntil([] { return CountReenumerations() == 2; }, 30000));
    EXPECT_EQ(CountInLog("] OnDeviceChange: 19 device events in the last interval, device tree "
                         "re-enumerated once\r\n"),
              1u);
    // An interval without events ends the throttling; the next event re-enumerates at once.
    EXPECT_TRUE(DispatchUntil([] { return !reenumerationIntervalRunning; }, 30000));
    EXPECT_EQ(CountReenumerations(), 2u);
    SendMessageW(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    EXPECT_EQ(CountReenumerations(), 3u);

    DestroyWindow(window);
    // The window's end posts WM_QUIT, which is not for this test program's thread.
    MSG quit;
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

namespace {

HANDLE DuplicateThreadHandle(HANDLE thread) {
    HANDLE copy = nullptr;
    (void)DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, 0, FALSE,
                          DUPLICATE_SAME_ACCESS);
    return copy;
}

} // namespace

// A thread the agent starts, it also stops: once the window's end has returned, neither
// watcher runs any more, whether it was waiting or had ended by itself (no product key).
TEST(WindowProcedure, TheWindowsEndStopsAndJoinsBothWatcherThreads) {
    const struct {
        const char* name;
        bool productKey;
    } rows[] = {{"both watchers waiting", true}, {"no product key to watch", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        notebookfiles::ResetDataFolder();
        ResetAgentState();
        if (row.productKey) {
            SetRefreshFlag(1);
        } else {
            (void)RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKeyPath);
        }
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = WndProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"AgentWindowForWatcherTests";
        (void)RegisterClassW(&windowClass);
        HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, windowClass.lpszClassName, L"", WS_POPUP, 0,
                                      0, 0, 0, nullptr, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(window, nullptr);

        StartWatcherThreads(window);
        ASSERT_NE(registryWatchThread, nullptr);
        ASSERT_NE(folderWatchThread, nullptr);
        HANDLE registryWatcher = DuplicateThreadHandle(registryWatchThread);
        HANDLE folderWatcher = DuplicateThreadHandle(folderWatchThread);
        if (row.productKey) {
            EXPECT_EQ(WaitForSingleObject(registryWatcher, 0), static_cast<DWORD>(WAIT_TIMEOUT));
        } else {
            EXPECT_EQ(WaitForSingleObject(registryWatcher, 10000), WAIT_OBJECT_0);
        }
        EXPECT_EQ(WaitForSingleObject(folderWatcher, 0), static_cast<DWORD>(WAIT_TIMEOUT));

        DestroyWindow(window);
        EXPECT_EQ(WaitForSingleObject(registryWatcher, 0), WAIT_OBJECT_0);
        EXPECT_EQ(WaitForSingleObject(folderWatcher, 0), WAIT_OBJECT_0);
        for (HANDLE watcher : {registryWatcher, folderWatcher}) {
            DWORD exitCode = 1234;
            EXPECT_TRUE(GetExitCodeThread(watcher, &exitCode));
            EXPECT_EQ(exitCode, 0u); // ended in order, not by an exception
        }
        EXPECT_EQ(registryWatchThread, nullptr);
        EXPECT_EQ(folderWatchThread, nullptr);
        EXPECT_EQ(CountInLog(" did not end within "), 0u);
        CloseHandle(registryWatcher);
        CloseHandle(folderWatcher);
        // WM_QUIT and the watcher's WM_REFRESHFLAG_CHANGED are not for later tests.
        MSG left;
        while (PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    SetRefreshFlag(1);
    SetNeedShow(0);
}

TEST(WindowProcedure, AboutBoxClosesOnOkAndCancelOnly) {
    EXPECT_EQ(AboutDlgProc(nullptr, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_EQ(AboutDlgProc(nullptr, WM_COMMAND, IDOK, 0), TRUE);
    EXPECT_EQ(AboutDlgProc(nullptr, WM_COMMAND, IDCANCEL, 0), TRUE);
    EXPECT_EQ(AboutDlgProc(nullptr, WM_COMMAND, 1234, 0), FALSE);
    EXPECT_EQ(AboutDlgProc(nullptr, WM_PAINT, 0, 0), FALSE);
}

TEST(Resources, TextsArriveIntactInTraditionalChinese) {
    for (const std::wstring& path : {realAgentPath, simAgentPath}) {
        SCOPED_TRACE(testing::PrintToString(path));
        HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(StringResource(module, 103, kTraditionalChinese), L"Lumivane");
        EXPECT_EQ(StringResource(module, 109, kTraditionalChinese), L"Lumivane");
        HMENU menu = LoadMenuW(module, MAKEINTRESOURCEW(109));
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(MenuText(menu, 0), L"\u6A94\u6848(&F)");
        EXPECT_EQ(MenuText(GetSubMenu(menu, 0), 0), L"\u7D50\u675F(&X)");
        EXPECT_EQ(GetMenuItemID(GetSubMenu(menu, 0), 0), 105u);
        EXPECT_EQ(MenuText(menu, 1), L"\u8AAA\u660E(&H)");
        EXPECT_EQ(MenuText(GetSubMenu(menu, 1), 0), L"\u95DC\u65BC(&A)...");
        EXPECT_EQ(GetMenuItemID(GetSubMenu(menu, 1), 0), 104u);
        DestroyMenu(menu);
        HRSRC dialog =
            FindResourceExW(module, RT_DIALOG, MAKEINTRESOURCEW(103), kTraditionalChinese);
        ASSERT_NE(dialog, nullptr);
        // The caption and texts are stored as UTF-16 inside the template.
        const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, dialog)));
        std::wstring raw(reinterpret_cast<const wchar_t*>(bytes),
                         SizeofResource(module, dialog) / sizeof(wchar_t));
        EXPECT_NE(raw.find(L"\u95DC\u65BC ZAVIK_FRQ_Control"), std::wstring::npos);
        EXPECT_NE(raw.find(L"ZAVIK_FRQ_Control 1.0 \u7248"), std::wstring::npos);
        EXPECT_NE(raw.find(L"\u78BA\u5B9A"), std::wstring::npos);
        EXPECT_NE(
            FindResourceExW(module, RT_ACCELERATOR, MAKEINTRESOURCEW(109), kTraditionalChinese),
            nullptr);
        FreeLibrary(module);
    }
}

} // namespace e2e

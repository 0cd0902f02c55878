// Panel code against the simulated notebook: monitor counting, the panel's mode, refresh-rate
// changes, the WMI query and the EDID search in the display registry. Each test starts from
// the default notebook; the record tells which mode changes and waits happened.
#include "agent/machine/machine.h"
#include "agent/panel/edid_rates.h"
#include "agent/panel/panel_config.h"
#include "agent/panel/panel_identity.h"
#include "agent/panel/refresh_rate.h"
#include "common/owners.h"
#include "agent/state/agent_state.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/simnotebook/simnotebook.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <utility>
#include <vector>

namespace sim = simnotebook;

namespace {

const wchar_t kIntelKey[] = L"SOFTWARE\\Intel\\Display\\igfxcui\\MISC";
const wchar_t kTestIdentity[] = L"LVT0001";
const wchar_t kTestInstanceKey[] = L"5&3c4d5e6f&0&UID8448";
const wchar_t kTestInstanceName[] = L"DISPLAY\\LVT0001\\5&3c4d5e6f&0&UID8448_0";
const std::wstring kTestInstancePath = std::wstring(L"SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\") +
                                       kTestIdentity + L"\\" + kTestInstanceKey;

sim::Mode M(uint32_t frequency) {
    return sim::Mode{1920, 1080, 32, frequency};
}

sim::Event ModeChange(uint32_t frequency, int32_t result = DISP_CHANGE_SUCCESSFUL) {
    sim::Event e;
    e.kind = sim::EventKind::ModeChange;
    e.adapter = 0;
    e.mode = M(frequency);
    e.flags = CDS_UPDATEREGISTRY;
    e.result = result;
    return e;
}

sim::Event Wait(uint32_t milliseconds) {
    sim::Event e;
    e.kind = sim::EventKind::Delay;
    e.milliseconds = milliseconds;
    return e;
}

std::string Describe(const std::vector<sim::Event>& events) {
    std::string text;
    for (const sim::Event& e : events) {
        char line[128];
        if (e.kind == sim::EventKind::Delay) {
            snprintf(line, sizeof line, "delay %u\n", e.milliseconds);
        } else {
            snprintf(line, sizeof line, "change adapter %d %ux%ux%u@%u flags %u result %d\n",
                     e.adapter, e.mode.width, e.mode.height, e.mode.bitsPerPixel, e.mode.frequency,
                     e.flags, e.result);
        }
        text += line;
    }
    return text;
}

// Compares the whole record with the expected sequence; failures name the caller's line.
#define EXPECT_RECORD(...) EXPECT_EQ(Describe({__VA_ARGS__}), Describe(sim::ReadRecord()))

void DeleteIntelKey() {
    (void)RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Intel\\Display\\igfxcui");
}

// Creates the driver's key, with the value when `value` is not null.
void CreateIntelKey(const DWORD* value) {
    UniqueKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kIntelKey, 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
    if (value != nullptr) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), L"UserSetACRR", 0, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(value), 4));
    }
}

// The value, or -1 when it does not exist.
long long ReadUserSetACRR() {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kIntelKey, L"UserSetACRR", RRF_RT_REG_DWORD, nullptr,
                     &value, &size) != ERROR_SUCCESS) {
        return -1;
    }
    return value;
}

// A subkey of the test panel's instance key, holding `edid` as its EDID value when not empty.
void CreateInstanceSubkey(const wchar_t* name, const std::vector<uint8_t>& edid) {
    UniqueKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kTestInstancePath + L"\\" + name).c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr));
    if (!edid.empty()) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), L"EDID", 0, REG_BINARY, edid.data(),
                                                static_cast<DWORD>(edid.size())));
    }
}

// Records the display changes the platform announces to a top-level window of this thread.
struct DisplayChangeSeen {
    WPARAM bitsPerPixel;
    LPARAM size;
    bool duringRateChange;
};
std::vector<DisplayChangeSeen> displayChanges;

LRESULT CALLBACK DisplayChangeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DISPLAYCHANGE) {
        displayChanges.push_back(DisplayChangeSeen{wParam, lParam, isChangingRefreshRate});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A hidden top-level window of this thread with its own window procedure.
HWND CreateTopLevelWindow(WNDPROC procedure, const wchar_t* className) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, className, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
}

class PanelMachine : public testing::Test {
  protected:
    void SetUp() override {
        sim::ResetSimNotebook();
        ResetAgentState();
        // Rates are read and switched on the adapter whose active monitor is this panel.
        panelIdentity = sim::kDefaultPanelIdentity;
        DeleteIntelKey();
        sim::RemovePanelEDID(kTestIdentity);
        sim::RemovePanelEDID(L"lvt0002");
    }
    void TearDown() override {
        DeleteIntelKey();
        sim::RemovePanelEDID(kTestIdentity);
        sim::RemovePanelEDID(L"lvt0002");
    }
};

} // namespace

TEST_F(PanelMachine, PowerStatusFollowsTheSimulation) {
    for (int line : {0, 1, 255}) {
        SCOPED_TRACE(line);
        sim::SetACLineStatus(static_cast<uint8_t>(line));
        SYSTEM_POWER_STATUS status;
        status.ACLineStatus = 0xAB;
        ASSERT_TRUE(machine::GetPowerStatus(&status));
        EXPECT_EQ(line, status.ACLineStatus);
    }
    sim::SetPowerStatusFails(true);
    SYSTEM_POWER_STATUS status;
    EXPECT_FALSE(machine::GetPowerStatus(&status));
}

TEST_F(PanelMachine, CountActiveMonitors) {
    sim::Adapter adapter = sim::DefaultAdapter();
    sim::Monitor inactive = sim::ExternalMonitor(1);
    inactive.deviceName = L"\\\\.\\DISPLAY1\\Monitor1";
    inactive.stateFlags = 2;
    adapter.monitors.push_back(inactive);
    sim::SetAdapters({adapter});
    EXPECT_EQ(1, CountActiveMonitors());
    // One pause per monitor and one per adapter.
    EXPECT_RECORD(Wait(10), Wait(10), Wait(10));

    const struct {
        const char* name;
        uint32_t flags;
        int32_t expected;
    } states[] = {{"attached and active", 3, 1},
                  {"attached only", 2, 0},
                  {"active only", 1, 0},
                  {"active, attached and primary-like bit", 7, 0},
                  {"none", 0, 0}};
    for (const auto& s : states) {
        SCOPED_TRACE(s.name);
        sim::Adapter one = sim::DefaultAdapter();
        one.monitors[0].stateFlags = s.flags;
        sim::SetAdapters({one});
        EXPECT_EQ(s.expected, CountActiveMonitors());
    }

    // The panel's adapter stays as it is; the externals come on adapters of their own.
    sim::SetAdapters({sim::DefaultAdapter()});
    sim::SetActiveDisplayCount(3);
    EXPECT_EQ(3u, sim::GetAdapters().size());
    EXPECT_EQ(3, CountActiveMonitors());
    sim::SetActiveDisplayCount(0);
    sim::ClearRecord();
    EXPECT_EQ(0, CountActiveMonitors());
    EXPECT_RECORD();
}

TEST_F(PanelMachine, GetPanelDisplayModeMatchesIdentityInUpperCase) {
    sim::Adapter external = sim::DefaultAdapter();
    external.deviceName = L"\\\\.\\DISPLAY2";
    external.monitors = {sim::ExternalMonitor(1)};
    external.currentMode = sim::Mode{2560, 1440, 32, 75};
    sim::Adapter panel = sim::DefaultAdapter();
    panel.currentMode = sim::Mode{1920, 1200, 32, 165};

    const struct {
        const char* name;
        std::wstring deviceID;
        std::wstring identity;
        bool match;
    } cases[] = {
        {"lower-case device ID", L"MONITOR\\abc1234\\{4d36e96e-e325-11ce-bfc1-08002be10318}\\0001",
         L"ABC1234", true},
        {"lower-case identity", L"MONITOR\\ABC1234\\{guid}\\0001", L"abc1234", true},
        {"white space around", L"MONITOR\\ ABC1234\t\\{guid}", L"ABC1234", true},
        {"runs of backslashes", L"\\\\MONITOR\\\\ABC1234", L"ABC1234", true},
        {"other panel", L"MONITOR\\ABC1235\\{guid}\\0001", L"ABC1234", false},
        {"one component", L"ABC1234", L"ABC1234", false},
        {"empty identity", L"MONITOR", L"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        panel.monitors[0].deviceID = c.deviceID;
        sim::SetAdapters({external, panel});
        panelIdentity = c.identity;
        PanelDisplayMode mode = GetPanelDisplayMode();
        EXPECT_EQ(c.match ? 1920u : 0u, mode.width);
        EXPECT_EQ(c.match ? 1200u : 0u, mode.height);
        EXPECT_EQ(c.match ? 32u : 0u, mode.bitsPerPixel);
        EXPECT_EQ(c.match ? 165u : 0u, mode.frequency);
    }

    // A mode that cannot be read skips the adapter's monitors.
    panel.monitors[0].deviceID = L"MONITOR\\ABC1234\\{guid}\\0001";
    panel.hasCurrentMode = false;
    sim::SetAdapters({external, panel});
    panelIdentity = L"ABC1234";
    EXPECT_EQ(0u, GetPanelDisplayMode().frequency);
}

TEST_F(PanelMachine, ReadCurrentRefreshRate) {
    sim::SetCurrentMode(0, M(143));
    EXPECT_EQ(144u, ReadCurrentRefreshRate());
    sim::SetCurrentMode(0, M(59));
    EXPECT_EQ(60u, ReadCurrentRefreshRate());
    sim::ClearCurrentMode(0);
    EXPECT_EQ(0u, ReadCurrentRefreshRate());
    sim::SetAdapters({});
    EXPECT_EQ(0u, ReadCurrentRefreshRate());
}

TEST_F(PanelMachine, SetRefreshRateSkipsANearbyRate) {
    DWORD acrr = 0;
    CreateIntelKey(&acrr);
    sim::SetModes(0, {M(143), M(60)});
    sim::SetCurrentMode(0, M(143));
    SetRefreshRate(144, 144);
    EXPECT_RECORD();
    EXPECT_EQ(0, ReadUserSetACRR());
}

TEST_F(PanelMachine, SetRefreshRateAppliesTheLowRate) {
    DWORD acrr = 60;
    CreateIntelKey(&acrr);
    SetRefreshRate(60, 144);
    EXPECT_RECORD(ModeChange(60), Wait(3000));
    sim::Mode current;
    ASSERT_TRUE(sim::GetCurrentMode(0, &current));
    EXPECT_EQ(60u, current.frequency);
    EXPECT_EQ(144, ReadUserSetACRR());
}

// As on the platform, a mode change that takes effect reaches every top-level window before
// the call returns: the agent's own window handles it nested inside SetRefreshRate.
TEST_F(PanelMachine, SetRefreshRateAnnouncesTheChangeToTopLevelWindowsBeforeReturning) {
    HWND window = CreateTopLevelWindow(DisplayChangeProc, L"LumivanePanelTestWindow");
    ASSERT_NE(window, nullptr);
    displayChanges.clear();

    SetRefreshRate(60, 144);
    ASSERT_EQ(1u, displayChanges.size());
    EXPECT_EQ(32u, displayChanges[0].bitsPerPixel);
    EXPECT_EQ(MAKELPARAM(1920, 1080), displayChanges[0].size);
    EXPECT_TRUE(displayChanges[0].duringRateChange);
    EXPECT_FALSE(isChangingRefreshRate);

    // A change that does not take effect announces nothing.
    sim::SetModeChangeTakesEffect(0, false);
    SetRefreshRate(144, 144);
    EXPECT_EQ(1u, displayChanges.size());
    DestroyWindow(window);
}

TEST_F(PanelMachine, SetRefreshRateUsesTheAdaptersModeThatSnapsToTheTarget) {
    // A 60/50 Hz panel: its low rate snaps to 48, a mode the adapter does not list.
    sim::SetModes(0, {M(60), M(50)});
    sim::SetCurrentMode(0, M(60));
    SetRefreshRate(48, 60);
    EXPECT_RECORD(ModeChange(50), Wait(3000));
    sim::Mode current;
    ASSERT_TRUE(sim::GetCurrentMode(0, &current));
    EXPECT_EQ(50u, current.frequency);

    // An exact mode is preferred to one that only snaps; other sizes and depths never count.
    sim::SetModes(
        0, {sim::Mode{1280, 720, 32, 60}, sim::Mode{1920, 1080, 16, 60}, M(59), M(60), M(144)});
    sim::SetCurrentMode(0, M(144));
    sim::ClearRecord();
    SetRefreshRate(60, 144);
    EXPECT_RECORD(ModeChange(60), Wait(3000));

    sim::SetModes(0, {sim::Mode{1920, 1080, 16, 60}, M(59), M(144)});
    sim::SetCurrentMode(0, M(144));
    sim::ClearRecord();
    SetRefreshRate(60, 144);
    EXPECT_RECORD(ModeChange(59), Wait(3000));
}

TEST_F(PanelMachine, SetRefreshRateAsksForTheTargetWhenNoModeSnapsToIt) {
    SetRefreshRate(120, 144);
    EXPECT_RECORD(ModeChange(120, DISP_CHANGE_BADMODE), Wait(3000),
                  ModeChange(120, DISP_CHANGE_BADMODE), Wait(3000),
                  ModeChange(120, DISP_CHANGE_BADMODE), Wait(3000));
}

TEST_F(PanelMachine, SetRefreshRateTriesThreeTimesWhenTheModeNeverTakes) {
    sim::SetModeChangeTakesEffect(0, false);
    SetRefreshRate(60, 144);
    EXPECT_RECORD(ModeChange(60, DISP_CHANGE_FAILED), Wait(3000),
                  ModeChange(60, DISP_CHANGE_FAILED), Wait(3000),
                  ModeChange(60, DISP_CHANGE_FAILED), Wait(3000));
    sim::Mode current;
    ASSERT_TRUE(sim::GetCurrentMode(0, &current));
    EXPECT_EQ(144u, current.frequency);
}

TEST_F(PanelMachine, SetRefreshRateNeverCreatesUserSetACRR) {
    SetRefreshRate(60, 144); // no driver key at all
    EXPECT_RECORD(ModeChange(60), Wait(3000));
    HKEY probe = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kIntelKey, 0, KEY_READ, &probe));

    CreateIntelKey(nullptr); // the key without the value
    sim::ClearRecord();
    SetRefreshRate(144, 144);
    EXPECT_RECORD(ModeChange(144), Wait(3000));
    EXPECT_EQ(-1, ReadUserSetACRR());
}

TEST_F(PanelMachine, SetRefreshRateDoesNothingWithoutAReadableMode) {
    sim::ClearCurrentMode(0);
    SetRefreshRate(60, 144);
    EXPECT_RECORD();
    sim::SetAdapters({});
    SetRefreshRate(60, 144);
    EXPECT_RECORD();
}

TEST_F(PanelMachine, InternalPanelFromWmi) {
    EXPECT_EQ(std::wstring(sim::kDefaultPanelIdentity), GetInternalPanelIdentity());
    EXPECT_EQ(std::wstring(L"5&1a2b3c4d&0&UID4352_0"), GetInternalPanelInstance());
    sim::SetWmiRows({sim::WmiRow{L"DISPLAY\\EXT0001\\1&1_0", sim::kOutputDisplayPort},
                     sim::WmiRow{kTestInstanceName, sim::kOutputEmbeddedDisplayPort}});
    EXPECT_EQ(std::wstring(kTestIdentity), GetInternalPanelIdentity());
    sim::SetWmiQueryFails(true);
    EXPECT_EQ(std::wstring(), GetInternalPanelIdentity());
    EXPECT_EQ(std::wstring(), GetInternalPanelInstance());
}

namespace {

// What the WMI query answered inside each message the window handled.
std::vector<std::pair<UINT, bool>> queriesInMessages;
constexpr UINT kQueryMessage = WM_APP + 1;

LRESULT CALLBACK QueryingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kQueryMessage) {
        std::vector<machine::MonitorConnection> rows;
        queriesInMessages.emplace_back(static_cast<UINT>(wParam),
                                       machine::QueryMonitorConnections(&rows));
        if (wParam == 2) {
            ReplyMessage(0);
            queriesInMessages.emplace_back(3u, machine::QueryMonitorConnections(&rows));
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI SendQueryMessage(LPVOID parameter) {
    SendMessageW(static_cast<HWND>(parameter), kQueryMessage, 1, 0);
    SendMessageW(static_cast<HWND>(parameter), kQueryMessage, 2, 0);
    return 0;
}

} // namespace

// The simulated COM refuses a call out from inside a message another thread sent and is waiting
// for, as the platform's does; a posted message, a message the thread sends itself and a sent
// one already replied to may query.
TEST_F(PanelMachine, WmiQueryFailsInsideAMessageSentFromAnotherThread) {
    HWND window = CreateTopLevelWindow(QueryingProc, L"WmiQueryInMessages");
    ASSERT_NE(window, nullptr);
    queriesInMessages.clear();
    HANDLE sender = CreateThread(nullptr, 0, SendQueryMessage, window, 0, nullptr);
    ASSERT_NE(sender, nullptr);
    // Sent messages are handled inside this wait.
    while (MsgWaitForMultipleObjects(1, &sender, FALSE, 10000, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
    CloseHandle(sender);
    PostMessageW(window, kQueryMessage, 4, 0);
    MSG message;
    while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
    SendMessageW(window, kQueryMessage, 5, 0);
    DestroyWindow(window);
    const std::vector<std::pair<UINT, bool>> expected = {
        {1u, false}, {2u, false}, {3u, true}, {4u, true}, {5u, true}};
    EXPECT_EQ(queriesInMessages, expected);
}

TEST_F(PanelMachine, ReadPanelEDIDFindsTheInstanceKey) {
    std::vector<uint8_t> edid = sim::DefaultPanelEDID();
    ASSERT_TRUE(sim::InstallPanelEDID(kTestIdentity, kTestInstanceKey, edid));
    sim::SetWmiRows({sim::WmiRow{kTestInstanceName, sim::kOutputInternal}});
    // The EDID sits in Device Parameters beside Control, the first subkey, which holds none.
    UniqueKey instanceKey;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestInstancePath.c_str(), 0,
                                           KEY_READ, instanceKey.Put()));
    wchar_t firstName[64] = {};
    DWORD length = 64;
    ASSERT_EQ(ERROR_SUCCESS, RegEnumKeyExW(instanceKey.Get(), 0, firstName, &length, nullptr,
                                           nullptr, nullptr, nullptr));
    EXPECT_STREQ(L"Control", firstName);

    PanelEDID found = ReadPanelEDID(kTestIdentity);
    ASSERT_TRUE(found.found);
    EXPECT_EQ(128u, found.byteCount);
    EXPECT_EQ(edid, found.bytes);
    PanelRefreshRates rates = DeterminePanelRates(found, PanelRates{});
    EXPECT_EQ(144, rates.high);
    EXPECT_EQ(60, rates.low);

    EXPECT_FALSE(ReadPanelEDID(L"").found);
    EXPECT_FALSE(ReadPanelEDID(L"LVT000").found); // whole names only
    // The WMI instance is used only up to its underscore: a key with the suffix is no match.
    sim::SetWmiRows({sim::WmiRow{L"DISPLAY\\LVT0001\\5&3c4d5e6f&0&UID8449_0", 11}});
    EXPECT_FALSE(ReadPanelEDID(kTestIdentity).found);
    sim::RemovePanelEDID(kTestIdentity);
    ASSERT_TRUE(sim::InstallPanelEDID(kTestIdentity, L"5&3c4d5e6f&0&UID8449_0", edid));
    EXPECT_FALSE(ReadPanelEDID(kTestIdentity).found);
}

// Only an instance key without "Device Parameters" is searched in its first subkey.
TEST_F(PanelMachine, ReadPanelEDIDFallsBackToTheFirstSubkeyOnlyWithoutDeviceParameters) {
    const std::vector<uint8_t> edid = sim::DefaultPanelEDID();
    sim::SetWmiRows({sim::WmiRow{kTestInstanceName, 11}});
    CreateInstanceSubkey(L"Monitor Parameters", edid);
    CreateInstanceSubkey(L"Other", {});
    PanelEDID found = ReadPanelEDID(kTestIdentity);
    ASSERT_TRUE(found.found);
    EXPECT_EQ(edid, found.bytes);

    // With a "Device Parameters" that holds no EDID, no other subkey is searched, not even a
    // first one that holds one.
    CreateInstanceSubkey(L"Control", edid);
    CreateInstanceSubkey(L"Device Parameters", {});
    EXPECT_FALSE(ReadPanelEDID(kTestIdentity).found);
}

TEST_F(PanelMachine, ReadPanelEDIDComparesTheIdentityExactly) {
    ASSERT_TRUE(sim::InstallPanelEDID(L"lvt0002", kTestInstanceKey, sim::DefaultPanelEDID()));
    sim::SetWmiRows({sim::WmiRow{L"DISPLAY\\LVT0002\\5&3c4d5e6f&0&UID8448_0", 11}});
    EXPECT_FALSE(ReadPanelEDID(L"LVT0002").found);
    EXPECT_TRUE(ReadPanelEDID(L"lvt0002").found);
}

TEST_F(PanelMachine, ReadPanelEDIDGrowsTheBufferFor384Bytes) {
    std::vector<uint8_t> edid(384);
    for (size_t i = 0; i < edid.size(); ++i) {
        edid[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    ASSERT_TRUE(sim::InstallPanelEDID(kTestIdentity, kTestInstanceKey, edid));
    sim::SetWmiRows({sim::WmiRow{kTestInstanceName, 11}});
    PanelEDID found = ReadPanelEDID(kTestIdentity);
    ASSERT_TRUE(found.found);
    EXPECT_EQ(384u, found.byteCount);
    EXPECT_EQ(edid, found.bytes);
}

TEST_F(PanelMachine, ReadPanelConfigUsesTheFixedPath) {
    const std::wstring path = kPanelConfigPath;
    DeleteFileW(path.c_str());
    EXPECT_FALSE(ReadPanelConfig(0x09, 0xE5, 0x1B, 0x0A).found);
    notebookfiles::WriteFileBytes(path, "E509,0A1B,165,60\r\n");
    PanelRates rates = ReadPanelConfig(0x09, 0xE5, 0x1B, 0x0A);
    EXPECT_TRUE(rates.found);
    EXPECT_EQ(165, rates.firstRate);
    EXPECT_EQ(60, rates.secondRate);
    PanelEDID edid;
    edid.bytes = sim::DefaultPanelEDID();
    edid.bytes[8] = 0x09;
    edid.bytes[9] = 0xE5;
    edid.bytes[10] = 0x1B;
    edid.bytes[11] = 0x0A;
    edid.byteCount = 128;
    edid.found = true;
    EXPECT_TRUE(LookUpPanelConfig(edid).found);

    // The same file, or its folder, in a standard user's hands decides nothing: one log line
    // names the file, who owns it, and that the EDID's rates apply.
    const std::wstring user = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    const struct {
        const char* name;
        std::wstring path;
        std::wstring sddl;
        std::string logged;
    } refusals[] = {
        {"file owned by a user", path, L"O:" + user + L"D:P(A;;FA;;;SY)",
         "FRQ_Config.txt not used, the rates come from the EDID: "
         "C:\\ProgramData\\ZAVIK\\Lumivane\\FRQ_Config.txt is owned by "
         "S-1-5-21-1004336348-1177238915-682003330-1001\r\n"},
        {"folder users may write", kPanelConfigFolder, L"O:BAD:P(A;;FA;;;BA)(A;;0x1201bf;;;BU)",
         "FRQ_Config.txt not used, the rates come from the EDID: S-1-5-32-545 may change the "
         "folder C:\\ProgramData\\ZAVIK\\Lumivane\r\n"},
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        notebookfiles::ResetDataFolder();
        sim::SetFileSecurityText(refusal.path, refusal.sddl);
        EXPECT_FALSE(ReadPanelConfig(0x09, 0xE5, 0x1B, 0x0A).found);
        const std::string log =
            notebookfiles::ReadFileBytes(notebookfiles::DataPath(L"OD_Log.txt"));
        EXPECT_EQ(refusal.logged,
                  log.substr(log.find(" ] ") == std::string::npos ? 0 : log.find(" ] ") + 3));
        sim::SetFileSecurityText(refusal.path, L"");
    }
    // Without the file there is nothing to refuse, whoever may write the folder.
    DeleteFileW(path.c_str());
    notebookfiles::ResetDataFolder();
    sim::SetFileSecurityText(kPanelConfigFolder, L"O:" + user + L"D:(A;;FA;;;WD)");
    EXPECT_FALSE(ReadPanelConfig(0x09, 0xE5, 0x1B, 0x0A).found);
    EXPECT_EQ("", notebookfiles::ReadFileBytes(notebookfiles::DataPath(L"OD_Log.txt")));
    sim::SetFileSecurityText(kPanelConfigFolder, L"");
}

TEST_F(PanelMachine, RecordIsBoundedAndClearable) {
    const uint32_t total = static_cast<uint32_t>(sim::kRecordCapacity) + 300;
    for (uint32_t i = 0; i < total; ++i) {
        machine::Delay(i);
    }
    EXPECT_EQ(total, sim::RecordedEventCount());
    std::vector<sim::Event> events = sim::ReadRecord();
    ASSERT_EQ(sim::kRecordCapacity, events.size());
    EXPECT_EQ(300u, events.front().milliseconds);
    EXPECT_EQ(total - 1, events.back().milliseconds);
    sim::ClearRecord();
    EXPECT_EQ(0u, sim::RecordedEventCount());
    EXPECT_TRUE(sim::ReadRecord().empty());
}

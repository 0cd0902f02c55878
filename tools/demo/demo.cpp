// The demonstration: a simulated notebook runs the installed agent through a day of use while
// the reference host plays the control-centre application. Each step prints one row of a
// timeline; the verdict says whether every row is what the system must do.
//
// The notebook talks back as the platform does, and the timeline shows it: a rate switch
// broadcasts a display change to every top-level window before the switch returns, so the
// agent handles that display change nested inside the step that switched (a row of its own,
// seen by a window of this program), and start-up's power-setting registration brings a
// monitor-power notice (a row of its own, seen in the agent's log). A charger that bounces
// delivers its second power change inside such a switch; that window sees it too.
//
// The product comes and goes as a user's machine sees it: installed silently from its package,
// which registers the logon task and starts the agent, checked in the field while installed,
// and removed with the package.
//
// Usage: Demo.exe <package.msi> <RefHost.exe> <PanelCheck.exe> [--keep]
#include "common/fixed_paths.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/refhost/refhost_process.h"
#include "tools/simbios/simbios_control.h"
#include "tools/simnotebook/simnotebook.h"

#include <windows.h>

#include <wtsapi32.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

const wchar_t kInstallFolder[] = L"C:\\Program Files (x86)\\ZAVIK\\Lumivane\\";
constexpr DWORD kInstallTimeoutMs = 300000;
constexpr DWORD kNoticeWaitMs = 20000;
// How long a step that must not notify the host is watched for a stray notice.
constexpr DWORD kQuietWaitMs = 700;
// Real delays, shortened so the whole day fits in a minute.
constexpr uint32_t kDelayScalePercent = 10;

struct Expected {
    const char* power;
    uint32_t rate;
    const char* bios;
    const char* icon;
    const char* hwid;
    const char* notice;                  // mode the host must hear, or "-" for none
    size_t displayChanges;               // rate switches, each announced to every top-level window
    size_t powerEvents;                  // "OnPowerEvent" runs of the agent, nested ones included
    bool registration = false;           // start-up: one power event is the registration's notice
    size_t powerChanges = 0;             // power changes the notebook announced inside the step
    const char* earlierNotice = nullptr; // a mode the host must hear before `notice`
    const char* lastState = nullptr;     // lasttimeACDC.txt and lasttimeDCRefresh.txt, when checked
};

const char kPowerEventLine[] = "] OnPowerEvent Power status = ";

struct Row {
    std::string step;
    std::string power, rate, bios, icon, hwid, notice;
    bool ok = true;
};

std::vector<Row> rows;

// What the platform announced to this program's window, in order: display changes, each with
// the rate the panel had then, and power changes, each with the source it brought.
struct Announcement {
    bool powerChange = false;
    std::string rate;
    std::string power;
};
std::mutex announcementLock;
std::vector<Announcement> announcements;

size_t CountAnnouncements(bool powerChange) {
    std::lock_guard<std::mutex> hold(announcementLock);
    size_t count = 0;
    for (const Announcement& announcement : announcements) {
        count += announcement.powerChange == powerChange ? 1 : 0;
    }
    return count;
}

size_t DisplayChangeCount() {
    return CountAnnouncements(false);
}

size_t PowerChangeCount() {
    return CountAnnouncements(true);
}

// A state file's value as the timeline shows it; "(none)" when there is no file.
std::string StateFileText(const wchar_t* name) {
    bool exists = false;
    const std::string bytes = notebookfiles::ReadFileBytes(notebookfiles::DataPath(name), &exists);
    return exists ? bytes : "(none)";
}

// A value of the product's keys as the package left it, for the timeline's first lines.
std::string ProductValueText(const wchar_t* keyPath, const wchar_t* name) {
    return notebookfiles::ReadValueText(keyPath, name).value_or("(none)");
}

// Runs a program with its output on ours and waits for its exit code; -2 when it cannot start.
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return static_cast<DWORD>(-2);
    }
    WaitForSingleObject(info.hProcess, kInstallTimeoutMs);
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    std::fflush(stdout);
    return code;
}

DWORD Msiexec(const std::wstring& arguments) {
    return RunProgram(L"C:\\windows\\system32\\msiexec.exe", arguments + L" /qn");
}

bool ProductInstalled() {
    return notebookfiles::KeyExists(kProductKeyPath);
}

void PrepareNotebook() {
    // A product left installed by an earlier run (--keep) goes first, with its package.
    if (ProductInstalled()) {
        (void)Msiexec(std::wstring(L"/x ") + kProductCode);
    }
    simnotebook::ResetSimNotebook();
    simnotebook::SetDelayScalePercent(kDelayScalePercent);
    simnotebook::InstallPanelEDID(simnotebook::kDefaultPanelIdentity,
                                  simnotebook::kDefaultPanelInstanceKey,
                                  simnotebook::DefaultPanelEDID());
    simbios::ResetSimBios();
    // A notebook fresh from the factory: the data folder's parents exist, the folder does not.
    notebookfiles::ResetDataFolder();
    notebookfiles::RemoveDataFolder();
    notebookfiles::DeletePanelConfig();
}

HWND WaitForAgentWindow(DWORD timeoutMs) {
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    HWND window = nullptr;
    while ((window = FindWindowW(L"Lumivane", nullptr)) == nullptr && GetTickCount64() < deadline) {
        Sleep(20);
    }
    // The window answers sent messages already during start-up's first decision; once the
    // single-instance mutex exists, the next answer comes from the message loop.
    HANDLE mutex = nullptr;
    while (window != nullptr && (mutex = OpenMutexW(SYNCHRONIZE, FALSE, L"Lumivane")) == nullptr &&
           GetTickCount64() < deadline) {
        Sleep(20);
    }
    if (mutex != nullptr) {
        CloseHandle(mutex);
    }
    DWORD_PTR result = 0;
    if (window != nullptr) {
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result);
    }
    return window;
}

// Sends a notification to the agent and waits until its window procedure has handled it.
void Notify(HWND agent, UINT message, WPARAM wParam, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(agent, message, wParam, lParam, SMTO_NORMAL, 60000, &result);
}

// Session events name their session; the agent heeds only its own session's lock.
void NotifySession(HWND agent, WPARAM event) {
    DWORD processId = 0;
    DWORD session = 0;
    (void)GetWindowThreadProcessId(agent, &processId);
    (void)ProcessIdToSessionId(processId, &session);
    Notify(agent, WM_WTSSESSION_CHANGE, event, static_cast<LPARAM>(session));
}

std::string CurrentRate() {
    simnotebook::Mode mode;
    return simnotebook::GetCurrentMode(0, &mode) ? std::to_string(mode.frequency) + " Hz" : "?";
}

std::string PowerSourceText() {
    return simnotebook::GetACLineStatus() == 1 ? "AC" : "battery";
}

LRESULT CALLBACK DisplayListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DISPLAYCHANGE) {
        std::lock_guard<std::mutex> hold(announcementLock);
        announcements.push_back(Announcement{false, CurrentRate(), PowerSourceText()});
        return 0;
    }
    if (message == WM_POWERBROADCAST && wParam == PBT_APMPOWERSTATUSCHANGE) {
        std::lock_guard<std::mutex> hold(announcementLock);
        announcements.push_back(Announcement{true, CurrentRate(), PowerSourceText()});
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A hidden top-level window on a thread of its own that answers at once: the agent's switch
// waits for every window to answer its broadcast.
DWORD WINAPI DisplayListenerThread(void* ready) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DisplayListenerProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LumivaneDemoDisplayListener";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    SetEvent(static_cast<HANDLE>(ready));
    if (window == nullptr) {
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    return 0;
}

bool StartDisplayListener() {
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, DisplayListenerThread, ready, 0, nullptr);
    bool started = thread != nullptr && WaitForSingleObject(ready, kNoticeWaitMs) == WAIT_OBJECT_0;
    if (thread != nullptr) {
        CloseHandle(thread);
    }
    CloseHandle(ready);
    return started && FindWindowW(L"LumivaneDemoDisplayListener", nullptr) != nullptr;
}

size_t CountInLog(const char* text) {
    const std::string log = notebookfiles::ReadFileBytes(kLogPath.text);
    size_t found = 0;
    for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
        ++found;
    }
    return found;
}

// Waits until `current` reaches `wanted`; false when it stays below or goes past it.
bool Reaches(const std::function<size_t()>& current, size_t wanted) {
    ULONGLONG deadline = GetTickCount64() + kNoticeWaitMs;
    while (current() < wanted && GetTickCount64() < deadline) {
        Sleep(20);
    }
    return current() == wanted;
}

// Where a step began: the counts its rows are measured from.
struct StepStart {
    ULONGLONG at;
    size_t displayChanges;
    size_t powerEvents;
    size_t announcements;
    size_t powerChanges;
};

StepStart BeginStep() {
    size_t announced = 0;
    {
        std::lock_guard<std::mutex> hold(announcementLock);
        announced = announcements.size();
    }
    return StepStart{GetTickCount64(), DisplayChangeCount(), CountInLog(kPowerEventLine), announced,
                     PowerChangeCount()};
}

// Waits until the agent, which acts on its own threads, shows the expected state.
bool Settled(const Expected& expected) {
    ULONGLONG deadline = GetTickCount64() + kNoticeWaitMs;
    for (;;) {
        bool same = CurrentRate() == std::to_string(expected.rate) + " Hz" &&
                    StateFileText(L"Icon.txt") == expected.icon &&
                    (simbios::GetODState() ? "on" : "off") == std::string(expected.bios);
        if (same || GetTickCount64() >= deadline) {
            return same;
        }
        Sleep(20);
    }
}

void PrintRow(const Row& row) {
    std::printf("| %-36s | %-7s | %-6s | %-3s | %-4s | %-4s | %-20s | %s\n", row.step.c_str(),
                row.power.c_str(), row.rate.c_str(), row.bios.c_str(), row.icon.c_str(),
                row.hwid.c_str(), row.notice.c_str(), row.ok ? "ok" : "DIFFERS");
}

void Record(const std::string& step, const Expected& expected, refhost::RefHostProcess& host,
            const StepStart& begun) {
    const ULONGLONG actedAt = begun.at;
    Row row;
    row.step = step;
    std::string mode;
    // The host must also hear the earlier notice, and nothing more after the last one.
    const bool earlierHeard =
        expected.earlierNotice == nullptr ||
        host.WaitForLine(refhost::NoticeWithMode(expected.earlierNotice), kNoticeWaitMs);
    if (std::string(expected.notice) != "-") {
        auto line = host.WaitForLine(refhost::NoticeWithMode(expected.notice), kNoticeWaitMs);
        if (line && earlierHeard) {
            auto since = refhost::LineField(*line, "since-set-ms");
            ULONGLONG latency = GetTickCount64() - actedAt;
            std::string modes = expected.earlierNotice == nullptr
                                    ? expected.notice
                                    : std::string(expected.earlierNotice) + ", " + expected.notice;
            row.notice =
                std::string("mode ") + modes + " (" +
                (since && *since != "-1" && step.rfind("user", 0) == 0 ? *since
                                                                       : std::to_string(latency)) +
                " ms)";
            if (expected.earlierNotice != nullptr) {
                auto stray = host.WaitForLine(refhost::StartsWith("notice"), kQuietWaitMs);
                if (stray) {
                    row.notice += " +" + refhost::LineField(*stray, "mode").value_or("?");
                    row.ok = false;
                }
            }
        } else {
            row.notice = line ? "missing earlier" : "missing";
            row.ok = false;
        }
    } else {
        auto stray = host.WaitForLine(refhost::StartsWith("notice"), kQuietWaitMs);
        row.notice =
            stray ? "unexpected: " + refhost::LineField(*stray, "mode").value_or("?") : "-";
        row.ok = row.ok && !stray;
    }
    row.ok = Settled(expected) && row.ok;
    row.power = simnotebook::GetACLineStatus() == 1 ? "AC" : "battery";
    row.rate = CurrentRate();
    row.bios = simbios::GetODState() ? "on" : "off";
    row.icon = StateFileText(L"Icon.txt");
    row.hwid = StateFileText(L"HWID_Result.txt");
    row.ok = row.ok && row.power == expected.power && row.hwid == expected.hwid;

    // What the agent handled inside the step: the display changes its own rate switches
    // caused, and its power events (the nested ones and those of the step itself).
    const bool displayOk = Reaches([&] { return DisplayChangeCount() - begun.displayChanges; },
                                   expected.displayChanges);
    const bool powerOk = Reaches([&] { return CountInLog(kPowerEventLine) - begun.powerEvents; },
                                 expected.powerEvents);
    const bool powerChangesOk =
        Reaches([&] { return PowerChangeCount() - begun.powerChanges; }, expected.powerChanges);
    row.ok = row.ok && displayOk && powerOk && powerChangesOk;
    const std::string lastState =
        StateFileText(L"lasttimeACDC.txt") + StateFileText(L"lasttimeDCRefresh.txt");
    row.ok = row.ok && (expected.lastState == nullptr || lastState == expected.lastState);
    PrintRow(row);
    std::vector<Announcement> seen;
    {
        std::lock_guard<std::mutex> hold(announcementLock);
        seen.assign(announcements.begin() + static_cast<std::ptrdiff_t>(begun.announcements),
                    announcements.end());
    }
    for (const Announcement& announcement : seen) {
        Row nested;
        nested.step =
            announcement.powerChange ? "  -> power change, nested" : "  -> display change, nested";
        nested.power = announcement.power;
        nested.rate = announcement.rate;
        nested.notice = "(agent: power event)";
        nested.ok = announcement.powerChange ? powerChangesOk : displayOk;
        PrintRow(nested);
    }
    if (expected.lastState != nullptr) {
        std::printf("|   lasttimeACDC.txt + lasttimeDCRefresh.txt: %s (%s %s)\n", lastState.c_str(),
                    lastState == expected.lastState ? "as after one change to"
                                                    : "DIFFERS from one change to",
                    expected.power);
    }
    if (expected.registration && powerOk) {
        Row notice;
        notice.step = "  -> monitor power, at registration";
        notice.power = row.power;
        notice.rate = row.rate;
        notice.notice = "(agent: power event)";
        PrintRow(notice);
    }
    if (!powerOk) {
        std::printf("|   the agent ran %zu power events in this step, not %zu\n",
                    CountInLog(kPowerEventLine) - begun.powerEvents, expected.powerEvents);
    }
    std::fflush(stdout);
    rows.push_back(row);
}

void PrintHeader() {
    std::printf("| %-36s | %-7s | %-6s | %-3s | %-4s | %-4s | %-20s |\n", "step", "power", "rate",
                "OD", "Icon", "HWID", "host notice");
    std::printf("|%s|\n", std::string(103, '-').c_str());
}

void PrintLogExcerpt() {
    const std::string log = notebookfiles::ReadFileBytes(kLogPath.text);
    std::vector<std::string> lines;
    for (size_t at = 0; at < log.size();) {
        const size_t end = log.find('\n', at);
        const size_t next = end == std::string::npos ? log.size() : end + 1;
        lines.push_back(log.substr(at, next - at));
        at = next;
    }
    std::printf("\nThe agent's log, OD_Log.txt (last 14 of %zu lines):\n", lines.size());
    for (size_t i = lines.size() > 14 ? lines.size() - 14 : 0; i < lines.size(); ++i) {
        std::string text = lines[i];
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        std::printf("  %s\n", text.c_str());
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: Demo.exe <package.msi> <RefHost.exe> <PanelCheck.exe> "
                             "[--keep]\n");
        return 2;
    }
    const std::wstring package = argv[1];
    const std::wstring refHost = argv[2];
    const std::wstring panelCheck = argv[3];
    bool keep = argc > 4 && std::wstring(argv[4]) == L"--keep";

    PrepareNotebook();
    std::printf("A notebook: 144/60 Hz internal panel with overdrive, on AC power.\n");
    std::printf("Delays of the agent run at %u%% of their real length.\n\n", kDelayScalePercent);
    if (!StartDisplayListener()) {
        std::printf("VERDICT: FAILED - no window to see the display changes\n");
        return 1;
    }
    // The host is up before the product, as the control centre is on a user's machine.
    refhost::RefHostProcess host;
    if (!host.Start(refHost, {}) ||
        !host.WaitForLine(refhost::StartsWith("ready"), kNoticeWaitMs)) {
        std::printf("VERDICT: FAILED - the reference host did not start\n");
        return 1;
    }
    std::printf("msiexec /i %ls /qn (the setup tool's output follows):\n", package.c_str());
    std::fflush(stdout);
    StepStart begun = BeginStep();
    const DWORD installed = Msiexec(L"/i \"" + package + L"\"");
    std::printf("\nmsiexec: exit code %lu; the package wrote RefreshFlag %s, DisplayVersion %s\n",
                installed, ProductValueText(kProductKeyPath, L"RefreshFlag").c_str(),
                ProductValueText(kVersionKeyPath, L"DisplayVersion").c_str());
    HWND agent = installed == 0 ? WaitForAgentWindow(kNoticeWaitMs) : nullptr;
    if (agent == nullptr) {
        std::printf("VERDICT: FAILED - the package did not install and start the agent\n");
        return 1;
    }
    std::printf("\n");
    PrintHeader();
    Record("agent started by the package", {"AC", 144, "on", "1", "1", "1", 0, 1, true}, host,
           begun);

    begun = BeginStep();
    host.Send("set 0");
    Record("user turns overdrive off", {"AC", 144, "off", "0", "1", "0", 0, 0}, host, begun);
    begun = BeginStep();
    host.Send("set 1");
    Record("user turns overdrive on", {"AC", 144, "on", "1", "1", "1", 0, 0}, host, begun);

    auto powerSource = [&](uint8_t status) {
        simnotebook::SetACLineStatus(status);
        Notify(agent, WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE);
    };
    begun = BeginStep();
    powerSource(0);
    Record("notebook goes on battery", {"battery", 60, "off", "2", "1", "2", 1, 2}, host, begun);
    begun = BeginStep();
    powerSource(1);
    Record("back on AC", {"AC", 144, "on", "1", "1", "1", 1, 2}, host, begun);

    begun = BeginStep();
    NotifySession(agent, WTS_SESSION_LOCK);
    Record("session locks", {"AC", 144, "on", "1", "1", "-", 0, 0}, host, begun);
    begun = BeginStep();
    NotifySession(agent, WTS_SESSION_UNLOCK);
    Record("session unlocks", {"AC", 144, "on", "1", "1", "-", 0, 1}, host, begun);

    begun = BeginStep();
    powerSource(0);
    Record("on battery again", {"battery", 60, "off", "2", "1", "2", 1, 2}, host, begun);
    begun = BeginStep();
    (void)notebookfiles::SetProductValue(L"RefreshFlag", 0);
    Record("RefreshFlag 0: high rate on battery", {"battery", 144, "off", "2", "1", "-", 1, 1},
           host, begun);
    begun = BeginStep();
    (void)notebookfiles::SetProductValue(L"RefreshFlag", 1);
    Record("RefreshFlag 1: low rate again", {"battery", 60, "off", "2", "1", "-", 1, 1}, host,
           begun);
    begun = BeginStep();
    powerSource(1);
    Record("back on AC", {"AC", 144, "on", "1", "1", "1", 1, 2}, host, begun);

    // The plug bounces: AC is back while the agent switches to the battery rate. The change
    // handled inside that switch has the last word; the switch it interrupted gives way.
    begun = BeginStep();
    simnotebook::ArmPowerDuringNextModeChange(1);
    powerSource(0);
    Record("charger bounces during a rate switch",
           {"AC", 144, "on", "1", "1", "1", 2, 4, false, 1, "2", "12"}, host, begun);

    // The field engineer's view of the same notebook while the product is installed: PanelCheck
    // reads everything the agent bases its decisions on and changes nothing. All three verdicts
    // must be positive here.
    std::printf(
        "\nPanelCheck.exe on the notebook (the simulated notebook's build, read only):\n\n");
    std::fflush(stdout);
    const DWORD checked = RunProgram(panelCheck, L"");
    Row fieldCheck;
    fieldCheck.step = "field check";
    fieldCheck.ok = checked == 0;
    if (!fieldCheck.ok) {
        std::printf("PanelCheck: a verdict is not positive (exit code %lu)\n", checked);
    }
    rows.push_back(fieldCheck);

    if (!keep) {
        std::printf("\nmsiexec /x %ls /qn (the setup tool's output follows):\n", package.c_str());
        std::fflush(stdout);
        DWORD agentProcessId = 0;
        GetWindowThreadProcessId(agent, &agentProcessId);
        HANDLE agentProcess = OpenProcess(SYNCHRONIZE, FALSE, agentProcessId);
        const DWORD removed = Msiexec(L"/x \"" + package + L"\"");
        bool ended =
            agentProcess != nullptr && WaitForSingleObject(agentProcess, 20000) == WAIT_OBJECT_0;
        bool filesGone = StateFileText(L"lasttimeACDC.txt") == "(none)" &&
                         StateFileText(L"lasttimeDCRefresh.txt") == "(none)";
        bool productGone =
            !ProductInstalled() && GetFileAttributesW(kInstallFolder) == INVALID_FILE_ATTRIBUTES;
        std::printf("\nmsiexec: exit code %lu; agent ended: %s; last-state files deleted: %s; "
                    "program files and product key removed: %s\n",
                    removed, ended ? "yes" : "NO", filesGone ? "yes" : "NO",
                    productGone ? "yes" : "NO");
        if (agentProcess != nullptr) {
            CloseHandle(agentProcess);
        }
        Row row;
        row.step = "removal";
        row.ok = removed == 0 && ended && filesGone && productGone;
        rows.push_back(row);
    }
    host.Stop();
    PrintLogExcerpt();

    size_t differing = 0;
    for (const Row& row : rows) {
        differing += row.ok ? 0 : 1;
    }
    if (differing == 0) {
        std::printf("\nVERDICT: PASS - all %zu steps behaved as the system must.\n", rows.size());
    } else {
        std::printf("\nVERDICT: FAIL - %zu of %zu steps differ from what the system must do.\n",
                    differing, rows.size());
    }
    if (keep) {
        std::printf("The product stays installed (--keep); remove it with msiexec /x %ls /qn.\n",
                    package.c_str());
    }
    return differing == 0 ? 0 : 1;
}

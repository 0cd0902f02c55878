// Bench: how fast and how light the agent is on the simulated notebook (the 144/60 Hz panel with
// overdrive, on AC power), set against floors measured in the same run. Figures, in the order
// they are taken:
//
//   start-up   process start to the first decision line in the log, over several starts, with
//              the agent's fixed sleeps before it (read from the simulated machine's record);
//   idle       the agent's processor time over a quiet minute, its working set and the modules
//              it has loaded after start-up;
//   load       its working set after thousands of window notifications, and what they cost;
//   memory     the same working-set figures of MemoryFloor.exe (a hidden window and a message
//              loop), and its modules;
//   deliverable  the working set and modules of Lumivane.exe itself after start-up, for what
//              the platform's panel query leaves loaded (the simulated notebook has none);
//   reaction   Set("Mode") in the reference host to the host's receipt of the notice, over
//              alternating changes, each awaited before the next; the changes are made in
//              blocks, the agent's taking turns with its floors' and the stages';
//   work       the same through FloorAgent.exe --work (the input and output the agent needs for
//              one change, nothing else), run with the agent stopped;
//   watch      the same through FloorAgent.exe alone (watch and broadcast);
//   stages     the agent's reaction broken into stages from the time marks of LumivaneBench.exe.
//
//   Bench.exe --agent <LumivaneSim.exe> --refhost <RefHost.exe> --plugin <Tessel.dll>
//             --floor <FloorAgent.exe> --memory-floor <MemoryFloor.exe>
//             [--bench-agent <LumivaneBench.exe>] [--deliverable <Lumivane.exe>]
//             [--svg <file>] [--quick] [--changes n]
//             [--idle-seconds n] [--events n] [--starts n] [--blocks n]
//             [--phases startup,idle,memory,deliverable,reaction,work,watch,stages]
//
// The last line of the output, for scripts, is
//   ratios: reaction <r>x work floor, working set +<m> MiB over memory floor, first decision <f> ms

// Paths may be Linux paths of the build tree; they are turned into Wine drive paths. Progress
// goes to standard error, the figures to standard output as one block.
//
// Delays of the simulated machine run in real time while the agent starts and reacts, as on a
// notebook; during the notification load they are only recorded, or the refresh-rate waits of
// thousands of power changes would take hours.

#include "common/owners.h"
#include "tools/agentprocess/agent_process.h"
#include "tools/bench/bench_stats.h"
#include "tools/bench/reaction_chart.h"
#include "tools/bench/time_mark_ring.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/refhost/refhost_process.h"
#include "tools/simnotebook/simnotebook.h"
#ifdef LUMIVANE_BENCH_SIMBIOS
#include "tools/simbios/simbios_control.h"
#endif

#include <windows.h>

#include <dbt.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <wtsapi32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using notebookfiles::DataPath;
using notebookfiles::ReadDataFile;
using notebookfiles::ReadFileBytes;
using notebookfiles::ResetDataFolder;
using notebookfiles::SetProductValue;
using notebookfiles::WriteDataFile;

using bench::FormatMs;
using bench::NowMs;

const wchar_t kAgentWindowClass[] = L"Lumivane";
const wchar_t kMemoryFloorWindowClass[] = L"LumivaneMemoryFloor";
const char kFirstDecisionLine[] = "Detect_Notify_Fn: Power Status = ";

constexpr DWORD kPollMs = 1;
constexpr DWORD kStartTimeoutMs = 60000;
constexpr DWORD kHostReadyTimeoutMs = 30000;
constexpr DWORD kNoticeTimeoutMs = 10000;
constexpr DWORD kWarmUpNoticeTimeoutMs = 3000;
constexpr int kWarmUpAttempts = 8;
constexpr int kWarmUpSuccessesNeeded = 2;
// Between changes: what a program still does after its notice (the agent logs the broadcast's
// result, both handle the notices of their own log lines) is over before the next change
// starts, as it is between two choices of a user.
constexpr DWORD kSettleMs = 30;
constexpr uint32_t kRealTimeDelays = 100;
constexpr uint32_t kRecordedDelays = 0;
constexpr uint32_t kEventsPerRound = 4;

struct Options {
    std::wstring agentPath;
    std::wstring refHostPath;
    std::wstring pluginPath;
    std::wstring floorPath;
    std::wstring memoryFloorPath;
    std::wstring benchAgentPath;
    std::wstring deliverablePath;
    std::wstring svgPath;
    int changes = 200;
    int blocks = 10;
    int idleSeconds = 60;
    int events = 5000;
    int starts = 5;
    bool quick = false;
    std::wstring phases = L"startup,idle,memory,deliverable,reaction,work,watch,stages";

    bool Runs(const wchar_t* phase) const {
        return (L"," + phases + L",").find(std::wstring(L",") + phase + L",") != std::wstring::npos;
    }
};

void Progress(const std::string& text) {
    std::fprintf(stderr, "bench: %s\n", text.c_str());
    std::fflush(stderr);
}

std::optional<Options> ParseOptions(int argc, wchar_t** argv) {
    Options options;
    bool changesGiven = false, idleGiven = false, eventsGiven = false, startsGiven = false,
         blocksGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        auto number = [&](int* target, bool* given) {
            *target = _wtoi(argv[++i]);
            *given = true;
            return *target > 0;
        };
        if (arg == L"--quick") {
            options.quick = true;
        } else if (!hasValue) {
            return std::nullopt;
        } else if (arg == L"--agent") {
            options.agentPath = refhost::ToWindowsPath(argv[++i]);
        } else if (arg == L"--refhost") {
            options.refHostPath = refhost::ToWindowsPath(argv[++i]);
        } else if (arg == L"--plugin") {
            options.pluginPath = refhost::ToWindowsPath(argv[++i]);
        } else if (arg == L"--floor") {
            options.floorPath = refhost::ToWindowsPath(argv[++i]);
        } else if (arg == L"--memory-floor") {
            options.memoryFloorPath = refhost::ToWindowsPath(argv[++i]);
        } else if (arg == L"--deliverable") {
            options.deliverablePath = refhost::ToWindowsPath(argv[++i]);
        } else if (arg == L"--bench-agent") {
            options.benchAgentPath = refhost::ToWindowsPath(argv[++i]);
        } else if (arg == L"--svg") {
            options.svgPath = refhost::ToWindowsPath(argv[++i]);
        } else if (arg == L"--phases") {
            options.phases = argv[++i];
        } else if (arg == L"--blocks") {
            if (!number(&options.blocks, &blocksGiven)) {
                return std::nullopt;
            }
        } else if (arg == L"--changes") {
            if (!number(&options.changes, &changesGiven)) {
                return std::nullopt;
            }
        } else if (arg == L"--idle-seconds") {
            if (!number(&options.idleSeconds, &idleGiven)) {
                return std::nullopt;
            }
        } else if (arg == L"--events") {
            if (!number(&options.events, &eventsGiven)) {
                return std::nullopt;
            }
        } else if (arg == L"--starts") {
            if (!number(&options.starts, &startsGiven)) {
                return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
    }
    if (options.agentPath.empty() || options.refHostPath.empty() || options.pluginPath.empty() ||
        options.floorPath.empty() || options.memoryFloorPath.empty()) {
        return std::nullopt;
    }

    // --quick shortens what was not given explicitly.
    if (options.quick) {
        options.changes = changesGiven ? options.changes : 40;
        options.blocks = blocksGiven ? options.blocks : 2;
        options.idleSeconds = idleGiven ? options.idleSeconds : 10;
        options.events = eventsGiven ? options.events : 1000;
        options.starts = startsGiven ? options.starts : 3;
    }
    return options;
}

// ---- the simulated notebook ---------------------------------------------------------------

// The notebook every phase starts from: the default 144/60 Hz panel with its EDID, a BIOS that
// reports overdrive support, AC power, RefreshFlag 1, no panel configuration file, and the
// user's choice "1" so that the first decision switches overdrive on.
bool PrepareNotebook() {
    ResetDataFolder();
    simnotebook::ResetSimNotebook();
    if (!simnotebook::InstallPanelEDID(simnotebook::kDefaultPanelIdentity,
                                       simnotebook::kDefaultPanelInstanceKey,
                                       simnotebook::DefaultPanelEDID())) {
        Progress("cannot install the panel's EDID");
        return false;
    }
    simnotebook::SetACLineStatus(1);
    simnotebook::SetDelayScalePercent(kRealTimeDelays);
#ifdef LUMIVANE_BENCH_SIMBIOS
    (void)simbios::ResetSimBios(); // the agent's log shows a BIOS that did not answer
#endif
    notebookfiles::DeletePanelConfig();
    if (!SetProductValue(L"RefreshFlag", 1) || !SetProductValue(L"NeedShow", 0)) {
        Progress("cannot write the product key");
        return false;
    }
    WriteDataFile(L"OD_Result.txt", "1");
    return true;
}

// ---- the agent process ----------------------------------------------------------------------

using agentprocess::AgentProcess;
using agentprocess::WaitUntil;

// Processor time (user + kernel) of a process, in milliseconds.
double ProcessorMs(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return -1;
    }
    auto ticks = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

size_t WorkingSet(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) {
        return 0;
    }
    return counters.WorkingSetSize;
}

// Threads of a process: the platform spends memory on each (about 1 MiB under Wine).
size_t ThreadCount(DWORD processId) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE) {
        return 0;
    }
    size_t count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more;
         more = Thread32Next(snapshot.Get(), &entry)) {
        count += entry.th32OwnerProcessID == processId ? 1 : 0;
    }
    return count;
}

struct LoadedModule {
    std::wstring name; // lower case, so that two processes' lists compare
    size_t imageBytes = 0;
};

// The modules a process has loaded, with the size of their images.
std::vector<LoadedModule> LoadedModules(HANDLE process) {
    std::vector<HMODULE> handles(512);
    DWORD needed = 0;
    if (!EnumProcessModulesEx(process, handles.data(),
                              static_cast<DWORD>(handles.size() * sizeof(HMODULE)), &needed,
                              LIST_MODULES_ALL)) {
        return {};
    }
    handles.resize(std::min<size_t>(handles.size(), needed / sizeof(HMODULE)));
    std::vector<LoadedModule> modules;
    for (HMODULE handle : handles) {
        wchar_t name[MAX_PATH] = {};
        MODULEINFO info = {};
        if (GetModuleBaseNameW(process, handle, name, MAX_PATH) == 0 ||
            !GetModuleInformation(process, handle, &info, sizeof info)) {
            continue;
        }
        std::wstring lower = name;
        for (wchar_t& c : lower) {
            c = static_cast<wchar_t>(towlower(c));
        }
        modules.push_back(LoadedModule{lower, info.SizeOfImage});
    }
    std::sort(modules.begin(), modules.end(),
              [](const LoadedModule& a, const LoadedModule& b) { return a.name < b.name; });
    return modules;
}

// ---- the host kernel's view (Wine only) ---------------------------------------------------
//
// Wine's GetProcessTimes for another process misses most of its time (it saw 0.1 s where the
// kernel counted 5 s), so under Wine the agent's processor time is also read where the kernel
// keeps it: /proc/<pid>/stat, reached through Wine's Z: drive. The agent's Unix process is the
// one running the agent's program file in this bench's prefix.

constexpr double kKernelTicksPerSecond = 100; // USER_HZ of every Linux we run on

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string Narrow(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) {
        result += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return result;
}

// The /proc directory (as a Windows path) of the Unix process running `programName` in our
// prefix; empty when there is none or more than one.
std::wstring FindHostProcess(const std::wstring& programName) {
    wchar_t prefix[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    const std::string prefixEntry = "WINEPREFIX=" + Narrow(prefix) + std::string(1, '\0');
    const std::string program = Narrow(programName);
    std::wstring found;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE) {
        return std::wstring();
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) {
            continue;
        }
        const std::wstring dir = L"Z:\\proc\\" + name;
        // The program itself, not one that names it among its arguments (as this one does).
        const std::string commandLine = ReadFileBytes(dir + L"\\cmdline");
        const std::string first = commandLine.substr(0, commandLine.find('\0'));
        const bool runsProgram =
            first.size() >= program.size() &&
            first.compare(first.size() - program.size(), std::string::npos, program) == 0;
        if (!runsProgram ||
            ReadFileBytes(dir + L"\\environ").find(prefixEntry) == std::string::npos) {
            continue;
        }
        if (!found.empty()) {
            found.clear();
            break;
        }
        found = dir;
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

// utime + stime of /proc/<pid>/stat in milliseconds; -1 when unreadable.
double HostProcessorMs(const std::wstring& processDir) {
    if (processDir.empty()) {
        return -1;
    }
    const std::string stat = ReadFileBytes(processDir + L"\\stat");
    // Fields follow the command name in parentheses, which may itself hold spaces.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::vector<std::string> fields;
    size_t at = close + 1;
    while (at < stat.size()) {
        const size_t start = stat.find_first_not_of(' ', at);
        if (start == std::string::npos) {
            break;
        }
        const size_t end = stat.find(' ', start);
        fields.push_back(
            stat.substr(start, end == std::string::npos ? std::string::npos : end - start));
        at = end == std::string::npos ? stat.size() : end;
    }
    // fields[0] is field 3 (state); utime and stime are fields 14 and 15.
    if (fields.size() < 13) {
        return -1;
    }
    const double ticks = std::atof(fields[11].c_str()) + std::atof(fields[12].c_str());
    return ticks * 1000.0 / kKernelTicksPerSecond;
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// ---- start-up -------------------------------------------------------------------------------

struct StartupFigures {
    std::vector<double> firstDecisionMs;
    std::vector<double> loopMs;
    // The agent's fixed sleeps (every Delay of the machine boundary) before each mark.
    std::vector<double> sleepsBeforeDecisionMs;
    std::vector<double> sleepsBeforeLoopMs;
    std::string sleepsBeforeLoop;           // of the last start, each one: "2 + 10 + 1000 ..."
    std::vector<double> memoryFloorStartMs; // MemoryFloor.exe's starts between the agent's
    int failed = 0;
};

// The fixed sleeps the agent has made since the record was cleared: their sum, and the list.
double RecordedSleepMs(std::string* list = nullptr) {
    double total = 0;
    for (const simnotebook::Event& event : simnotebook::ReadRecord()) {
        if (event.kind != simnotebook::EventKind::Delay) {
            continue;
        }
        total += event.milliseconds;
        if (list != nullptr) {
            *list += (list->empty() ? "" : " + ") + std::to_string(event.milliseconds);
        }
    }
    return total;
}

// Each start finds the data folder the previous one left, as at a logon; only the log goes,
// so the first decision line seen is this start's.
struct MemoryFloorFigures;
std::optional<double> StartMemoryFloorOnce(const Options& options, MemoryFloorFigures* measure);

// Before each of the agent's starts, one of the memory floor's, so that both meet the same load.
StartupFigures MeasureStartup(const Options& options) {
    StartupFigures figures;
    for (int i = 0; i < options.starts; ++i) {
        if (const std::optional<double> floorMs = StartMemoryFloorOnce(options, nullptr)) {
            figures.memoryFloorStartMs.push_back(*floorMs);
        }
        (void)DeleteFileW(DataPath(L"OD_Log.txt").c_str());
        simnotebook::ClearRecord();
        AgentProcess agent;
        double sleptBeforeDecision = 0;
        const double start = NowMs();
        if (!agent.Start(options.agentPath, false)) {
            Progress("cannot start the agent");
            ++figures.failed;
            continue;
        }
        double decided = 0;
        const bool found = WaitUntil(
            [&] {
                // Sleeps recorded before a look that finds no decision yet certainly came
                // before it; the look that finds it may already see later ones.
                const double slept = RecordedSleepMs();
                if (ReadDataFile(L"OD_Log.txt").find(kFirstDecisionLine) == std::string::npos) {
                    sleptBeforeDecision = slept;
                    return false;
                }
                decided = NowMs();
                return true;
            },
            kStartTimeoutMs, kPollMs);
        const bool looped = agent.WaitForLoop();
        const double loop = NowMs();
        std::string sleeps;
        const double sleptBeforeLoop = RecordedSleepMs(&sleeps);
        if (!found || !looped) {
            Progress(found ? "the agent did not reach its message loop"
                           : "no first decision in the log");
            ++figures.failed;
            continue;
        }
        figures.firstDecisionMs.push_back(decided - start);
        figures.loopMs.push_back(loop - start);
        figures.sleepsBeforeDecisionMs.push_back(sleptBeforeDecision);
        figures.sleepsBeforeLoopMs.push_back(sleptBeforeLoop);
        figures.sleepsBeforeLoop = sleeps;
        Progress("start " + std::to_string(i + 1) + ": first decision after " +
                 FormatMs(decided - start));
    }
    return figures;
}

// ---- idle and load --------------------------------------------------------------------------

struct IdleFigures {
    bool ran = false;
    double idleProcessorMs = 0;
    size_t workingSetStart = 0;
    size_t workingSetAfterEvents = 0;
    int events = 0;
    int failedSends = 0;
    double eventsWallMs = 0;
    double eventsProcessorMs = 0;
    bool hostView = false; // the kernel's figures below were read
    double hostIdleProcessorMs = 0;
    double hostEventsProcessorMs = 0;
    std::vector<LoadedModule> modules; // after start-up
    size_t threads = 0;
};

using EventSender = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam)>;

DWORD OwnSessionId() {
    DWORD session = 0;
    (void)ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return session;
}

// Power change (with the simulated source toggled), display change, session lock/unlock,
// device change, in turn.
bool SendMixedEvent(const EventSender& send, int i) {
    const int round = i / static_cast<int>(kEventsPerRound);
    switch (i % kEventsPerRound) {
    case 0:
        simnotebook::SetACLineStatus(round % 2 == 0 ? 0 : 1);
        return send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0);
    case 1:
        return send(WM_DISPLAYCHANGE, 32, MAKELPARAM(1920, 1080));
    case 2:
        // The bench and the agent it starts share one session: the lock is the agent's own.
        return send(WM_WTSSESSION_CHANGE, round % 2 == 0 ? WTS_SESSION_LOCK : WTS_SESSION_UNLOCK,
                    static_cast<LPARAM>(OwnSessionId()));
    default:
        return send(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
    }
}

IdleFigures MeasureIdleAndLoad(const Options& options) {
    IdleFigures figures;
    if (!PrepareNotebook()) {
        return figures;
    }
    AgentProcess agent;
    if (!agent.Start(options.agentPath, false) || !agent.WaitForLoop()) {
        Progress("the agent did not start");
        return figures;
    }
    figures.workingSetStart = WorkingSet(agent.Process());
    figures.modules = LoadedModules(agent.Process());
    figures.threads = ThreadCount(agent.ProcessId());
    Progress("idle for " + std::to_string(options.idleSeconds) + " s");
    const std::wstring hostProcess =
        RunningUnderWine() ? FindHostProcess(FileNameOf(options.agentPath)) : std::wstring();
    const double hostIdleBefore = HostProcessorMs(hostProcess);
    const double idleBefore = ProcessorMs(agent.Process());
    // The quiet minute is the measurement itself, not a wait for something.
    Sleep(static_cast<DWORD>(options.idleSeconds) * 1000);
    figures.idleProcessorMs = ProcessorMs(agent.Process()) - idleBefore;
    const double hostIdleAfter = HostProcessorMs(hostProcess);

    Progress("sending " + std::to_string(options.events) + " notifications");
    simnotebook::SetDelayScalePercent(kRecordedDelays);
    const double cpuBefore = ProcessorMs(agent.Process());
    const double wallBefore = NowMs();
    const EventSender send = [&agent](UINT message, WPARAM wParam, LPARAM lParam) {
        return agent.Send(message, wParam, lParam);
    };
    for (int i = 0; i < options.events && agent.Running(); ++i) {
        if (!SendMixedEvent(send, i)) {
            ++figures.failedSends;
        }
        ++figures.events;
    }
    figures.eventsWallMs = NowMs() - wallBefore;
    figures.eventsProcessorMs = ProcessorMs(agent.Process()) - cpuBefore;
    const double hostEventsAfter = HostProcessorMs(hostProcess);
    figures.hostView = hostIdleBefore >= 0 && hostIdleAfter >= 0 && hostEventsAfter >= 0;
    figures.hostIdleProcessorMs = hostIdleAfter - hostIdleBefore;
    figures.hostEventsProcessorMs = hostEventsAfter - hostIdleAfter;
    figures.workingSetAfterEvents = WorkingSet(agent.Process());
    simnotebook::SetACLineStatus(1);
    simnotebook::SetDelayScalePercent(kRealTimeDelays);
    figures.ran = agent.Running();
    if (!figures.ran) {
        Progress("the agent ended during the notifications");
    }
    return figures;
}

// ---- the deliverable ------------------------------------------------------------------------

// Lumivane.exe itself, on the machine's own platform: the simulated notebook answers the
// panel's WMI query itself, so only the deliverable shows what the real query leaves loaded.
// Under Wine it finds no internal panel and stops short of any decision.
struct DeliverableFigures {
    bool ran = false;
    size_t workingSet = 0;
    std::vector<LoadedModule> modules;
    size_t threads = 0;
};

DeliverableFigures MeasureDeliverable(const Options& options) {
    DeliverableFigures figures;
    if (!PrepareNotebook()) {
        return figures;
    }
    AgentProcess agent;
    if (!agent.Start(options.deliverablePath, false) || !agent.WaitForLoop()) {
        Progress("the deliverable did not start");
        return figures;
    }
    figures.workingSet = WorkingSet(agent.Process());
    figures.modules = LoadedModules(agent.Process());
    figures.threads = ThreadCount(agent.ProcessId());
    agent.Stop();
    figures.ran = true;
    return figures;
}

// ---- the memory floor -----------------------------------------------------------------------

struct MemoryFloorFigures {
    bool ran = false;
    double startMs = 0; // process start to its window answering
    size_t threads = 0;
    size_t workingSetStart = 0;
    size_t workingSetAfterEvents = 0;
    int events = 0;
    std::vector<LoadedModule> modules;
};

constexpr DWORD kFloorSendTimeoutMs = 60000;

HWND FindProcessWindow(const wchar_t* windowClass, DWORD processId) {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, windowClass, nullptr)) != nullptr) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == processId) {
            return window;
        }
    }
    return nullptr;
}

// One start of MemoryFloor.exe: the time from process start to its loop answering. With
// `measure`, its working set, modules and threads once it answers, and its working set again
// after the agent's notifications (it hands them to DefWindowProcW).
std::optional<double> StartMemoryFloorOnce(const Options& options, MemoryFloorFigures* measure) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring commandLine = L"\"" + options.memoryFloorPath + L"\"";
    const double start = NowMs();
    if (!CreateProcessW(options.memoryFloorPath.c_str(), &commandLine[0], nullptr, nullptr, FALSE,
                        0, nullptr, nullptr, &startup, &process)) {
        Progress("cannot start MemoryFloor");
        return std::nullopt;
    }
    UniqueHandle processOwner(process.hProcess);
    UniqueHandle threadOwner(process.hThread);
    HWND window = nullptr;
    const EventSender send = [&window](UINT message, WPARAM wParam, LPARAM lParam) {
        DWORD_PTR ignored = 0;
        return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL,
                                   kFloorSendTimeoutMs, &ignored) != 0;
    };
    const bool answered = WaitUntil(
        [&] {
            window = FindProcessWindow(kMemoryFloorWindowClass, process.dwProcessId);
            return window != nullptr && send(WM_NULL, 0, 0);
        },
        kStartTimeoutMs, kPollMs);
    if (!answered) {
        Progress("MemoryFloor did not answer");
        TerminateProcess(process.hProcess, 1);
        return std::nullopt;
    }
    const double startMs = NowMs() - start;
    if (measure != nullptr) {
        measure->workingSetStart = WorkingSet(process.hProcess);
        measure->modules = LoadedModules(process.hProcess);
        measure->threads = ThreadCount(process.dwProcessId);
        simnotebook::SetDelayScalePercent(kRecordedDelays);
        for (int event = 0; event < options.events; ++event) {
            (void)SendMixedEvent(send, event);
            ++measure->events;
        }
        simnotebook::SetACLineStatus(1);
        simnotebook::SetDelayScalePercent(kRealTimeDelays);
        measure->workingSetAfterEvents = WorkingSet(process.hProcess);
    }
    (void)PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, kFloorSendTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
    }
    return startMs;
}

MemoryFloorFigures MeasureMemoryFloor(const Options& options) {
    MemoryFloorFigures figures;
    const std::optional<double> startMs = StartMemoryFloorOnce(options, &figures);
    figures.startMs = startMs.value_or(0);
    figures.ran = startMs.has_value();
    return figures;
}

// ---- reaction -------------------------------------------------------------------------------

struct ReactionFigures {
    bool ran = false;
    std::vector<double> benchMs; // Set sent to the host -> notice line back, this process's clock
    std::vector<double> hostMs;  // the host's own since-set-ms
    int missed = 0;
};

using NoticeMatch = std::function<refhost::LineMatch(const std::string& value)>;

// One change: "set <value>", then the notice the match pairs with it.
std::optional<std::string> ChangeOnce(refhost::RefHostProcess& host, const NoticeMatch& match,
                                      const std::string& value, DWORD timeoutMs, double* elapsed,
                                      double* sentAt = nullptr) {
    Sleep(kSettleMs);
    host.SkipReceived();
    const double sent = NowMs();
    if (sentAt != nullptr) {
        *sentAt = sent;
    }
    if (!host.Send("set " + value)) {
        return std::nullopt;
    }
    std::optional<std::string> notice = host.WaitForLine(match(value), timeoutMs);
    *elapsed = NowMs() - sent;
    return notice;
}

std::string Other(const std::string& value) {
    return value == "1" ? "0" : "1";
}

// Alternates the choice, starting from the opposite of `current`. A few changes first go
// unmeasured: the agent only counts the first modification notice after its start, and the
// first changes warm the caches of every process involved.
ReactionFigures MeasureReaction(refhost::RefHostProcess& host, const NoticeMatch& match,
                                std::string current, int changes) {
    ReactionFigures figures;
    int successes = 0;
    for (int i = 0; i < kWarmUpAttempts && successes < kWarmUpSuccessesNeeded; ++i) {
        double elapsed = 0;
        current = Other(current);
        successes =
            ChangeOnce(host, match, current, kWarmUpNoticeTimeoutMs, &elapsed) ? successes + 1 : 0;
    }
    if (successes < kWarmUpSuccessesNeeded) {
        Progress("no steady notices during the warm-up");
        return figures;
    }
    for (int i = 0; i < changes; ++i) {
        current = Other(current);
        double elapsed = 0;
        std::optional<std::string> notice =
            ChangeOnce(host, match, current, kNoticeTimeoutMs, &elapsed);
        if (!notice) {
            ++figures.missed;
            continue;
        }
        figures.benchMs.push_back(elapsed);
        const std::optional<std::string> hostField = refhost::LineField(*notice, "since-set-ms");
        if (hostField) {
            figures.hostMs.push_back(std::atof(hostField->c_str()));
        }
    }
    figures.ran = true;
    return figures;
}

bool StartHost(refhost::RefHostProcess& host, const Options& options) {
    if (!host.Start(options.refHostPath, {L"--plugin", options.pluginPath})) {
        Progress("cannot start the reference host");
        return false;
    }
    if (!host.WaitForLine(refhost::StartsWith("ready"), kHostReadyTimeoutMs)) {
        Progress("the reference host did not get ready");
        return false;
    }
    return true;
}

ReactionFigures MeasureAgentReaction(const Options& options, int changes) {
    if (!PrepareNotebook()) {
        return ReactionFigures();
    }
    refhost::RefHostProcess host;
    if (!StartHost(host, options)) {
        return ReactionFigures();
    }
    AgentProcess agent;
    if (!agent.Start(options.agentPath, false) || !agent.WaitForLoop()) {
        Progress("the agent did not start");
        return ReactionFigures();
    }
    // The first decision's notice tells the starting icon value.
    std::optional<std::string> first =
        host.WaitForLine(refhost::StartsWith("notice "), kNoticeTimeoutMs);
    std::string current = first ? refhost::LineField(*first, "mode").value_or("1") : "1";
    Progress("agent: " + std::to_string(changes) + " changes");
    ReactionFigures figures = MeasureReaction(host, refhost::NoticeWithMode, current, changes);
    host.Stop();
    return figures;
}

// FloorAgent passes the value it read in lParam; the host's mode field would show Icon.txt,
// which nobody writes here.
refhost::LineMatch FloorNotice(const std::string& value) {
    return [value](const std::string& line) {
        return line.compare(0, 7, "notice ") == 0 && refhost::LineField(line, "lparam") == value;
    };
}

// The work floor (`work`) or the watch floor.
ReactionFigures MeasureFloorReaction(const Options& options, bool work, int changes) {
    if (work) {
        // The same notebook as the agent's: the BIOS's overdrive state, Icon.txt, the log.
        if (!PrepareNotebook()) {
            return ReactionFigures();
        }
    }
    refhost::RefHostProcess host;
    if (!StartHost(host, options)) {
        return ReactionFigures();
    }
    // RefHostProcess only pipes lines; FloorAgent speaks the same "ready"/"quit".
    refhost::RefHostProcess floor;
    std::vector<std::wstring> arguments;
    if (work) {
        arguments.push_back(L"--work");
    }
    if (!floor.Start(options.floorPath, arguments) ||
        !floor.WaitForLine(refhost::StartsWith("ready"), kHostReadyTimeoutMs)) {
        Progress("FloorAgent did not get ready");
        return ReactionFigures();
    }
    std::string current = ReadDataFile(L"OD_Result.txt") == "0" ? "0" : "1";
    Progress(std::string(work ? "work" : "watch") + " floor: " + std::to_string(changes) +
             " changes");
    ReactionFigures figures = MeasureReaction(host, FloorNotice, current, changes);
    floor.Stop();
    host.Stop();
    return figures;
}

// ---- stages ---------------------------------------------------------------------------------

// One change as the time marks tell it, in milliseconds between consecutive moments: Set sent
// -> folder notice -> choice read -> decided -> BIOS answered -> Icon.txt written -> broadcast
// starts -> broadcast returned.
constexpr size_t kStageCount = 7;
const char* const kStageNames[kStageCount] = {
    "Set -> folder notice:",        "notice -> choice read:",    "read -> decision:",
    "decision -> BIOS answer:",     "BIOS -> Icon.txt written:", "Icon.txt -> broadcast:",
    "broadcast (until it returns):"};
const TimeMark kStageEnds[kStageCount] = {
    TimeMark::FolderNotice, TimeMark::ChoiceRead,    TimeMark::Decided,   TimeMark::BIOSAnswered,
    TimeMark::IconWritten,  TimeMark::NoticeSending, TimeMark::NoticeSent};

struct StageFigures {
    bool ran = false;
    std::vector<double> stageMs[kStageCount];
    std::vector<double> totalMs; // Set sent -> notice line back, as the reaction measures it
    int incomplete = 0;          // changes whose marks were not all found
};

constexpr DWORD kMarksTimeoutMs = 5000;

// The marks recorded since `from` (a mark count), oldest first, as (mark, ms).
std::vector<std::pair<uint32_t, double>> MarksSince(const bench::TimeMarkRing* ring, LONG64 from,
                                                    LONG64* upTo) {
    std::vector<std::pair<uint32_t, double>> marks;
    const LONG64 count = ring->count;
    MemoryBarrier();
    LONG64 first = from;
    if (count - first > static_cast<LONG64>(bench::kTimeMarkCapacity)) {
        first = count - bench::kTimeMarkCapacity; // the oldest were overwritten
    }
    for (LONG64 i = first; i < count; ++i) {
        const bench::TimeMarkRecord& record =
            ring->records[static_cast<uint64_t>(i) % bench::kTimeMarkCapacity];
        marks.emplace_back(record.mark, bench::CounterMs(record.counter));
    }
    *upTo = count;
    return marks;
}

// The moments of the change sent at `sentMs`: walking forward from it to the first returned
// broadcast, each stage ends at the last mark of its kind before the next stage's first.
bool StagesOfChange(const std::vector<std::pair<uint32_t, double>>& marks, double sentMs,
                    double stageMs[kStageCount]) {
    double moments[kStageCount + 1] = {sentMs};
    size_t reached = 0; // stage ends seen so far
    for (const auto& [mark, ms] : marks) {
        if (ms < sentMs) {
            continue;
        }
        for (size_t stage = 0; stage < kStageCount; ++stage) {
            if (mark != static_cast<uint32_t>(kStageEnds[stage])) {
                continue;
            }
            // The next stage's end moves on; a repeat of the latest one (another folder
            // notice before the read) replaces it; anything else is another cycle's.
            if (stage == reached || stage + 1 == reached) {
                moments[stage + 1] = ms;
                reached = stage + 1;
            }
        }
        if (reached == kStageCount) {
            for (size_t stage = 0; stage < kStageCount; ++stage) {
                stageMs[stage] = moments[stage + 1] - moments[stage];
            }
            return true;
        }
    }
    return false;
}

// LumivaneBench.exe through the same changes as the agent, each change's marks read before
// the next.
StageFigures MeasureStages(const Options& options, int changes) {
    StageFigures figures;
    bench::TimeMarkRing* ring = bench::OpenTimeMarkRing();
    if (ring == nullptr || !PrepareNotebook()) {
        Progress("cannot prepare the time-mark ring");
        return figures;
    }
    refhost::RefHostProcess host;
    if (!StartHost(host, options)) {
        return figures;
    }
    AgentProcess agent;
    if (!agent.Start(options.benchAgentPath, false) || !agent.WaitForLoop()) {
        Progress("LumivaneBench did not start");
        return figures;
    }
    std::optional<std::string> first =
        host.WaitForLine(refhost::StartsWith("notice "), kNoticeTimeoutMs);
    std::string current = first ? refhost::LineField(*first, "mode").value_or("1") : "1";
    Progress("stages: " + std::to_string(changes) + " changes");
    for (int i = 0; i < changes + kWarmUpSuccessesNeeded; ++i) {
        current = Other(current);
        LONG64 seen = ring->count;
        double sent = 0;
        double elapsed = 0;
        if (!ChangeOnce(host, refhost::NoticeWithMode, current, kNoticeTimeoutMs, &elapsed,
                        &sent)) {
            ++figures.incomplete;
            continue;
        }
        std::vector<std::pair<uint32_t, double>> marks;
        double stageMs[kStageCount] = {};
        bool complete = false;
        (void)WaitUntil(
            [&] {
                std::vector<std::pair<uint32_t, double>> more = MarksSince(ring, seen, &seen);
                marks.insert(marks.end(), more.begin(), more.end());
                complete = StagesOfChange(marks, sent, stageMs);
                return complete;
            },
            kMarksTimeoutMs, kPollMs);
        if (i < kWarmUpSuccessesNeeded) {
            continue; // unmeasured, as in the reaction
        }
        if (!complete) {
            ++figures.incomplete;
            continue;
        }
        for (size_t stage = 0; stage < kStageCount; ++stage) {
            figures.stageMs[stage].push_back(stageMs[stage]);
        }
        figures.totalMs.push_back(elapsed);
    }
    host.Stop();
    figures.ran = true;
    return figures;
}

// ---- blocks ---------------------------------------------------------------------------------

void Append(ReactionFigures* total, const ReactionFigures& block, bool first) {
    total->ran = (first || total->ran) && block.ran;
    total->benchMs.insert(total->benchMs.end(), block.benchMs.begin(), block.benchMs.end());
    total->hostMs.insert(total->hostMs.end(), block.hostMs.begin(), block.hostMs.end());
    total->missed += block.missed;
}

void Append(StageFigures* total, const StageFigures& block, bool first) {
    total->ran = (first || total->ran) && block.ran;
    for (size_t stage = 0; stage < kStageCount; ++stage) {
        total->stageMs[stage].insert(total->stageMs[stage].end(), block.stageMs[stage].begin(),
                                     block.stageMs[stage].end());
    }
    total->totalMs.insert(total->totalMs.end(), block.totalMs.begin(), block.totalMs.end());
    total->incomplete += block.incomplete;
}

// ---- the report -----------------------------------------------------------------------------

void PrintRow(const char* label, const std::string& value) {
    std::printf("  %-44s %s\n", label, value.c_str());
}

std::string ReactionText(const ReactionFigures& figures, int changes) {
    if (!figures.ran) {
        return "not measured";
    }
    const bench::Summary own = bench::Summarize(figures.benchMs);
    const bench::Summary host = bench::Summarize(figures.hostMs);
    char text[160];
    std::snprintf(text, sizeof text, "median %s, p95 %s (host clock: %.0f / %.0f ms), %zu of %d",
                  bench::FormatMs(own.median).c_str(), bench::FormatMs(own.p95).c_str(),
                  host.median, host.p95, own.count, changes);
    std::string result = text;
    if (figures.missed > 0) {
        result += ", " + std::to_string(figures.missed) + " without notice";
    }
    return result;
}

// Everything one run measured.
struct RunFigures {
    StartupFigures startup;
    IdleFigures idle;
    MemoryFloorFigures memory;
    DeliverableFigures deliverable;
    ReactionFigures agent;
    ReactionFigures work;
    ReactionFigures watch;
    StageFigures stages;
};

double MiB(size_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

std::string KiB(size_t bytes) {
    return std::to_string((bytes + 512) / 1024) + " KiB";
}

size_t ImageBytes(const std::vector<LoadedModule>& modules) {
    size_t total = 0;
    for (const LoadedModule& module : modules) {
        total += module.imageBytes;
    }
    return total;
}

// The modules of `modules` that `floor` has not loaded, with their sizes.
std::string ModulesBeyond(const std::vector<LoadedModule>& modules,
                          const std::vector<LoadedModule>& floor) {
    std::string text;
    for (const LoadedModule& module : modules) {
        const bool inFloor =
            std::any_of(floor.begin(), floor.end(),
                        [&](const LoadedModule& other) { return other.name == module.name; });
        if (!inFloor) {
            text += (text.empty() ? "" : ", ") + Narrow(module.name) + " " + KiB(module.imageBytes);
        }
    }
    return text.empty() ? "none" : text;
}

// The agent's first decision without the fixed sleeps before it, per start.
std::vector<double> FirstDecisionWithoutSleeps(const StartupFigures& startup) {
    std::vector<double> figures;
    for (size_t i = 0; i < startup.firstDecisionMs.size(); ++i) {
        figures.push_back(startup.firstDecisionMs[i] - startup.sleepsBeforeDecisionMs[i]);
    }
    return figures;
}

bool Measured(const ReactionFigures& figures) {
    return figures.ran && !figures.benchMs.empty();
}

void PrintReport(const Options& options, const RunFigures& run) {
    std::printf("Lumivane benchmark: LumivaneSim.exe on the simulated notebook (144/60 Hz panel "
                "with overdrive, AC)%s\n",
                options.quick ? ", --quick" : "");
    const std::string changes = std::to_string(options.changes);
    PrintRow(("reaction, Set -> notice, " + changes + " changes:").c_str(),
             ReactionText(run.agent, options.changes));
    PrintRow(("work floor (FloorAgent --work), " + changes + " changes:").c_str(),
             ReactionText(run.work, options.changes));
    PrintRow(("watch floor (FloorAgent), " + changes + " changes:").c_str(),
             ReactionText(run.watch, options.changes));
    std::optional<double> reactionRatio;
    if (Measured(run.agent) && Measured(run.work)) {
        const double agentMedian = bench::Summarize(run.agent.benchMs).median;
        const double workMedian = bench::Summarize(run.work.benchMs).median;
        reactionRatio = agentMedian / workMedian;
        char text[96];
        std::snprintf(text, sizeof text, "%.2fx (%+.1f ms)", *reactionRatio,
                      agentMedian - workMedian);
        PrintRow("agent against the work floor (median):", text);
    }
    if (run.stages.ran) {
        std::printf("  stages of one change (LumivaneBench, medians of %zu changes%s):\n",
                    run.stages.stageMs[0].size(),
                    run.stages.incomplete > 0
                        ? (", " + std::to_string(run.stages.incomplete) + " incomplete").c_str()
                        : "");
        for (size_t stage = 0; stage < kStageCount; ++stage) {
            const bench::Summary summary = bench::Summarize(run.stages.stageMs[stage]);
            std::printf("    %-42s %s (p95 %s)\n", kStageNames[stage],
                        bench::FormatMs(summary.median).c_str(),
                        bench::FormatMs(summary.p95).c_str());
        }
        const bench::Summary total = bench::Summarize(run.stages.totalMs);
        std::printf("    %-42s %s (p95 %s)\n",
                    "whole reaction, as measured above:", bench::FormatMs(total.median).c_str(),
                    bench::FormatMs(total.p95).c_str());
    }
    const IdleFigures& idle = run.idle;
    const MemoryFloorFigures& memory = run.memory;
    auto withFloor = [&memory](size_t agentBytes, size_t floorBytes) {
        std::string text = bench::FormatMiB(agentBytes);
        if (memory.ran) {
            text += " (memory floor " + bench::FormatMiB(floorBytes) + ")";
        }
        return text;
    };
    std::optional<double> memoryOver;
    if (idle.ran) {
        char text[160];
        if (idle.hostView) {
            std::snprintf(text, sizeof text, "%.1f ms (kernel: %.0f ms, in 10 ms ticks)",
                          idle.idleProcessorMs, idle.hostIdleProcessorMs);
        } else {
            std::snprintf(text, sizeof text, "%.1f ms", idle.idleProcessorMs);
        }
        PrintRow(("processor time, " + std::to_string(options.idleSeconds) + " s idle:").c_str(),
                 text);
        PrintRow("working set after start-up:",
                 withFloor(idle.workingSetStart, memory.workingSetStart));
        PrintRow(("working set after " + std::to_string(idle.events) + " events:").c_str(),
                 withFloor(idle.workingSetAfterEvents, memory.workingSetAfterEvents));
        std::snprintf(text, sizeof text, "%zu, images %.1f MiB", idle.modules.size(),
                      MiB(ImageBytes(idle.modules)));
        std::string modules = text;
        if (memory.ran) {
            std::snprintf(text, sizeof text, " (memory floor %zu, %.1f MiB)", memory.modules.size(),
                          MiB(ImageBytes(memory.modules)));
            modules += text;
            memoryOver =
                std::max(MiB(idle.workingSetStart) - MiB(memory.workingSetStart),
                         MiB(idle.workingSetAfterEvents) - MiB(memory.workingSetAfterEvents));
        }
        PrintRow("modules loaded after start-up:", modules);
        std::string threads = std::to_string(idle.threads);
        if (memory.ran) {
            threads += " (memory floor " + std::to_string(memory.threads) + ")";
        }
        PrintRow("threads after start-up:", threads);
        if (memory.ran) {
            PrintRow("modules beyond the memory floor's:",
                     ModulesBeyond(idle.modules, memory.modules));
        }
        const double events = idle.events > 0 ? idle.events : 1;
        std::string handled =
            bench::FormatMs(idle.eventsWallMs / events) + " each, agent processor ";
        if (idle.hostView) {
            std::snprintf(text, sizeof text, "%.2f ms each (GetProcessTimes: %.2f ms)",
                          idle.hostEventsProcessorMs / events, idle.eventsProcessorMs / events);
        } else {
            std::snprintf(text, sizeof text, "%.2f ms each", idle.eventsProcessorMs / events);
        }
        handled += text;
        if (idle.failedSends > 0) {
            handled += ", " + std::to_string(idle.failedSends) + " sends failed";
        }
        PrintRow("events handled:", handled);
    } else {
        PrintRow("idle and load:", "not measured");
    }
    if (run.deliverable.ran) {
        char text[160];
        std::snprintf(text, sizeof text, "%s, %zu modules, %zu threads",
                      bench::FormatMiB(run.deliverable.workingSet).c_str(),
                      run.deliverable.modules.size(), run.deliverable.threads);
        PrintRow("Lumivane.exe after start-up (no panel):", text);
        if (memory.ran) {
            PrintRow("its modules beyond the memory floor's:",
                     ModulesBeyond(run.deliverable.modules, memory.modules));
        }
    }
    const StartupFigures& startup = run.startup;
    std::optional<double> firstDecision;
    if (!startup.firstDecisionMs.empty()) {
        const bench::Summary first = bench::Summarize(startup.firstDecisionMs);
        const bench::Summary sleepsBefore = bench::Summarize(startup.sleepsBeforeDecisionMs);
        firstDecision = bench::Summarize(FirstDecisionWithoutSleeps(startup)).median;
        char text[240];
        std::snprintf(text, sizeof text, "median %s (min %s, max %s), fixed sleeps before it %s",
                      bench::FormatMs(first.median).c_str(), bench::FormatMs(first.min).c_str(),
                      bench::FormatMs(first.max).c_str(),
                      bench::FormatMs(sleepsBefore.median).c_str());
        PrintRow(
            ("start-up to first decision, " + std::to_string(first.count) + " starts:").c_str(),
            text);
        std::snprintf(text, sizeof text, "median %s, of which fixed sleeps %s (%s ms)",
                      bench::FormatMs(bench::Summarize(startup.loopMs).median).c_str(),
                      bench::FormatMs(bench::Summarize(startup.sleepsBeforeLoopMs).median).c_str(),
                      startup.sleepsBeforeLoop.empty() ? "none" : startup.sleepsBeforeLoop.c_str());
        PrintRow("start-up to message loop:", text);
    } else {
        PrintRow("start-up:", "not measured");
    }
    if (!startup.memoryFloorStartMs.empty()) {
        const bench::Summary floor = bench::Summarize(startup.memoryFloorStartMs);
        PrintRow(("memory floor, start to its loop, " + std::to_string(floor.count) + " starts:")
                     .c_str(),
                 "median " + bench::FormatMs(floor.median) + " (min " + bench::FormatMs(floor.min) +
                     ", max " + bench::FormatMs(floor.max) +
                     "), each just before one of the agent's");
    } else if (memory.ran) {
        PrintRow("memory floor, start to its loop answering:", bench::FormatMs(memory.startMs));
    }
    // For scripts: always the last line, in this form.
    auto figure = [](const std::optional<double>& value, const char* format) {
        if (!value) {
            return std::string("n/a");
        }
        char text[32];
        std::snprintf(text, sizeof text, format, *value);
        return std::string(text);
    };
    std::printf("ratios: reaction %sx work floor, working set +%s MiB over memory floor, first "
                "decision %s ms\n",
                figure(reactionRatio, "%.2f").c_str(), figure(memoryOver, "%.1f").c_str(),
                figure(firstDecision, "%.0f").c_str());
    std::fflush(stdout);
}

bool WriteChart(const std::wstring& path, const RunFigures& run, int changes) {
    const std::string title = "Reaction, Set(\"Mode\") to the host's notice, " +
                              std::to_string(changes) + " changes each";
    const std::string svg =
        bench::ReactionChartSvg(title, {{"agent (LumivaneSim)", "#c0392b", run.agent.benchMs},
                                        {"work floor", "#2471a3", run.work.benchMs},
                                        {"watch floor", "#7f8c8d", run.watch.benchMs}});
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(svg.data(), 1, svg.size(), file) == svg.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr,
                     "usage: Bench.exe --agent <exe> --refhost <exe> --plugin <dll> --floor <exe> "
                     "--memory-floor <exe> [--bench-agent <exe>] [--deliverable <exe>] "
                     "[--svg <file>] [--quick] "
                     "[--changes n] [--idle-seconds n] [--events n] [--starts n] [--blocks n] "
                     "[--phases startup,idle,memory,deliverable,reaction,work,watch,stages]\n");
        return 2;
    }
    if (!PrepareNotebook()) {
        return 1;
    }
    RunFigures run;
    if (options->Runs(L"startup")) {
        Progress("start-up, " + std::to_string(options->starts) + " starts");
        run.startup = MeasureStartup(*options);
    }
    if (options->Runs(L"idle")) {
        run.idle = MeasureIdleAndLoad(*options);
    }
    if (options->Runs(L"memory")) {
        Progress("memory floor");
        run.memory = MeasureMemoryFloor(*options);
    }
    const bool deliverable = options->Runs(L"deliverable") && !options->deliverablePath.empty();
    if (deliverable) {
        Progress("the deliverable");
        run.deliverable = MeasureDeliverable(*options);
    }
    // The agent and its floors take turns, block by block, so that the load of the machine,
    // which changes from minute to minute, weighs on all of them alike.
    const bool stages = options->Runs(L"stages") && !options->benchAgentPath.empty();
    const int blocks = std::min(options->blocks, options->changes);
    for (int block = 0; block < blocks; ++block) {
        const int changes = options->changes / blocks + (block < options->changes % blocks);
        const bool first = block == 0;
        if (options->Runs(L"reaction")) {
            const ReactionFigures agent = MeasureAgentReaction(*options, changes);
            Append(&run.agent, agent, first);
            Progress("agent block median " +
                     bench::FormatMs(bench::Summarize(agent.benchMs).median));
        }
        // The agent is stopped by now, so nothing but FloorAgent reacts to the file.
        if (options->Runs(L"work")) {
            const ReactionFigures work = MeasureFloorReaction(*options, true, changes);
            Append(&run.work, work, first);
            Progress("work floor block median " +
                     bench::FormatMs(bench::Summarize(work.benchMs).median));
        }
        if (options->Runs(L"watch")) {
            Append(&run.watch, MeasureFloorReaction(*options, false, changes), first);
        }
        // The stages need the build that records its time marks.
        if (stages) {
            Append(&run.stages, MeasureStages(*options, changes), first);
        }
    }
    if (!options->svgPath.empty() && !WriteChart(options->svgPath, run, options->changes)) {
        Progress("cannot write the chart");
    }
    PrintReport(*options, run);
    const bool complete =
        (!options->Runs(L"startup") ||
         (!run.startup.firstDecisionMs.empty() && run.startup.failed == 0)) &&
        (!options->Runs(L"idle") || run.idle.ran) &&
        (!options->Runs(L"memory") || run.memory.ran) && (!deliverable || run.deliverable.ran) &&
        (!options->Runs(L"reaction") || (run.agent.ran && run.agent.missed == 0)) &&
        (!options->Runs(L"work") || (run.work.ran && run.work.missed == 0)) &&
        (!options->Runs(L"watch") || (run.watch.ran && run.watch.missed == 0)) &&
        (!stages || run.stages.ran);
    return complete ? 0 : 1;
}

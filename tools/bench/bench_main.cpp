// Bench: how fast and how light the agent is on the simulated notebook (the 144/60 Hz panel with
// overdrive, on AC power). Figures, in the order they are taken:
//
//   start-up   process start to the first decision line in the log, over several starts;
//   idle       the agent's processor time over a quiet minute, its working set after start-up;
//   load       its working set after thousands of window notifications, and what they cost;
//   reaction   Set("Mode") in the reference host to the host's receipt of the notice, over
//              alternating changes, each awaited before the next;
//   floor      the same through FloorAgent.exe, which only watches the file and broadcasts,
//              run with the agent stopped.
//
//   Bench.exe --agent <LumivaneSim.exe> --refhost <RefHost.exe> --plugin <Tessel.dll>
//             --floor <FloorAgent.exe> [--quick] [--changes n] [--idle-seconds n]
//             [--events n] [--starts n] [--phases startup,idle,reaction,floor]
//
// Paths may be Linux paths of the build tree; they are turned into Wine drive paths. Progress
// goes to standard error, the figures to standard output as one block.
//
// Delays of the simulated machine run in real time while the agent starts and reacts, as on a
// notebook; during the notification load they are only recorded, or the refresh-rate waits of
// thousands of power changes would take hours.

#include "common/fixed_paths.h"
#include "tools/agentprocess/agent_process.h"
#include "tools/agentprocess/notebook_files.h"
#include "tools/bench/bench_stats.h"
#include "tools/refhost/refhost_process.h"
#include "tools/simnotebook/simnotebook.h"
#ifdef LUMIVANE_BENCH_SIMBIOS
#include "tools/simbios/simbios_control.h"
#endif

#include <windows.h>

#include <dbt.h>
#include <psapi.h>
#include <wtsapi32.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using agentprocess::DataPath;
using agentprocess::ReadDataFile;
using agentprocess::ReadWholeFile;
using agentprocess::ResetDataFolder;
using agentprocess::SetProductValue;
using agentprocess::WriteDataFile;

using bench::FormatMs;
using bench::NowMs;

const wchar_t kAgentWindowClass[] = L"Lumivane";
const char kFirstDecisionLine[] = "Detect_Notify_Fn: Power Status = ";

constexpr DWORD kPollMs = 1;
constexpr DWORD kStartTimeoutMs = 60000;
constexpr DWORD kHostReadyTimeoutMs = 30000;
constexpr DWORD kNoticeTimeoutMs = 10000;
constexpr DWORD kWarmUpNoticeTimeoutMs = 3000;
constexpr int kWarmUpAttempts = 8;
constexpr int kWarmUpSuccessesNeeded = 2;
constexpr uint32_t kRealTimeDelays = 100;
constexpr uint32_t kRecordedDelays = 0;
constexpr uint32_t kEventsPerRound = 4;

struct Options {
    std::wstring agentPath;
    std::wstring refHostPath;
    std::wstring pluginPath;
    std::wstring floorPath;
    int changes = 200;
    int idleSeconds = 60;
    int events = 5000;
    int starts = 5;
    bool quick = false;
    std::wstring phases = L"startup,idle,reaction,floor";

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
    bool changesGiven = false, idleGiven = false, eventsGiven = false, startsGiven = false;
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
        } else if (arg == L"--phases") {
            options.phases = argv[++i];
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
        options.floorPath.empty()) {
        return std::nullopt;
    }
    // --quick shortens what was not given explicitly.
    if (options.quick) {
        options.changes = changesGiven ? options.changes : 40;
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
    (void)DeleteFileW(kPanelConfigPath); // usually absent
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
        const std::string commandLine = ReadWholeFile(dir + L"\\cmdline");
        const std::string first = commandLine.substr(0, commandLine.find('\0'));
        const bool runsProgram =
            first.size() >= program.size() &&
            first.compare(first.size() - program.size(), std::string::npos, program) == 0;
        if (!runsProgram ||
            ReadWholeFile(dir + L"\\environ").find(prefixEntry) == std::string::npos) {
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
    const std::string stat = ReadWholeFile(processDir + L"\\stat");
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
    int failed = 0;
};

// Each start finds the data folder the previous one left, as at a logon; only the log goes,
// so the first decision line seen is this start's.
StartupFigures MeasureStartup(const Options& options) {
    StartupFigures figures;
    for (int i = 0; i < options.starts; ++i) {
        (void)DeleteFileW(DataPath(L"OD_Log.txt").c_str());
        AgentProcess agent;
        const double start = NowMs();
        if (!agent.Start(options.agentPath, false)) {
            Progress("cannot start the agent");
            ++figures.failed;
            continue;
        }
        double decided = 0;
        const bool found = WaitUntil(
            [&] {
                if (ReadDataFile(L"OD_Log.txt").find(kFirstDecisionLine) == std::string::npos) {
                    return false;
                }
                decided = NowMs();
                return true;
            },
            kStartTimeoutMs, kPollMs);
        const bool looped = agent.WaitForLoop();
        const double loop = NowMs();
        if (!found || !looped) {
            Progress(found ? "the agent did not reach its message loop"
                           : "no first decision in the log");
            ++figures.failed;
            continue;
        }
        figures.firstDecisionMs.push_back(decided - start);
        figures.loopMs.push_back(loop - start);
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
};

// Power change (with the simulated source toggled), display change, session lock/unlock,
// device change, in turn.
bool SendMixedEvent(AgentProcess& agent, int i) {
    const int round = i / static_cast<int>(kEventsPerRound);
    switch (i % kEventsPerRound) {
    case 0:
        simnotebook::SetACLineStatus(round % 2 == 0 ? 0 : 1);
        return agent.Send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0);
    case 1:
        return agent.Send(WM_DISPLAYCHANGE, 32, MAKELPARAM(1920, 1080));
    case 2:
        return agent.Send(WM_WTSSESSION_CHANGE,
                          round % 2 == 0 ? WTS_SESSION_LOCK : WTS_SESSION_UNLOCK,
                          static_cast<LPARAM>(agent.SessionId()));
    default:
        return agent.Send(WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
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
    for (int i = 0; i < options.events && agent.Running(); ++i) {
        if (!SendMixedEvent(agent, i)) {
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
                                      const std::string& value, DWORD timeoutMs, double* elapsed) {
    host.SkipReceived();
    const double sent = NowMs();
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

ReactionFigures MeasureAgentReaction(const Options& options) {
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
    Progress("agent: " + std::to_string(options.changes) + " changes");
    ReactionFigures figures =
        MeasureReaction(host, refhost::NoticeWithMode, current, options.changes);
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

ReactionFigures MeasureFloorReaction(const Options& options) {
    refhost::RefHostProcess host;
    if (!StartHost(host, options)) {
        return ReactionFigures();
    }
    // RefHostProcess only pipes lines; FloorAgent speaks the same "ready"/"quit".
    refhost::RefHostProcess floor;
    if (!floor.Start(options.floorPath, {}) ||
        !floor.WaitForLine(refhost::StartsWith("ready"), kHostReadyTimeoutMs)) {
        Progress("FloorAgent did not get ready");
        return ReactionFigures();
    }
    std::string current = ReadDataFile(L"OD_Result.txt") == "0" ? "0" : "1";
    Progress("floor: " + std::to_string(options.changes) + " changes");
    ReactionFigures figures = MeasureReaction(host, FloorNotice, current, options.changes);
    floor.Stop();
    host.Stop();
    return figures;
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

void PrintReport(const Options& options, const StartupFigures& startup, const IdleFigures& idle,
                 const ReactionFigures& agent, const ReactionFigures& floor) {
    std::printf("Lumivane benchmark: LumivaneSim.exe on the simulated notebook (144/60 Hz panel "
                "with overdrive, AC)%s\n",
                options.quick ? ", --quick" : "");
    const std::string changes = std::to_string(options.changes);
    PrintRow(("reaction, Set -> notice, " + changes + " changes:").c_str(),
             ReactionText(agent, options.changes));
    PrintRow(("floor (FloorAgent), " + changes + " changes:").c_str(),
             ReactionText(floor, options.changes));
    if (agent.ran && floor.ran && !agent.benchMs.empty() && !floor.benchMs.empty()) {
        const double overMedian =
            bench::Summarize(agent.benchMs).median - bench::Summarize(floor.benchMs).median;
        PrintRow("agent above floor (median):", bench::FormatMs(overMedian));
    }
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
        PrintRow("working set after start-up:", bench::FormatMiB(idle.workingSetStart));
        PrintRow(("working set after " + std::to_string(idle.events) + " events:").c_str(),
                 bench::FormatMiB(idle.workingSetAfterEvents));
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
    if (!startup.firstDecisionMs.empty()) {
        const bench::Summary first = bench::Summarize(startup.firstDecisionMs);
        char text[160];
        std::snprintf(text, sizeof text, "median %s (min %s, max %s); message loop %s",
                      bench::FormatMs(first.median).c_str(), bench::FormatMs(first.min).c_str(),
                      bench::FormatMs(first.max).c_str(),
                      bench::FormatMs(bench::Summarize(startup.loopMs).median).c_str());
        PrintRow(
            ("start-up to first decision, " + std::to_string(first.count) + " starts:").c_str(),
            text);
    } else {
        PrintRow("start-up:", "not measured");
    }
    std::fflush(stdout);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr,
                     "usage: Bench.exe --agent <exe> --refhost <exe> --plugin <dll> --floor <exe> "
                     "[--quick] [--changes n] [--idle-seconds n] [--events n] [--starts n] "
                     "[--phases startup,idle,reaction,floor]\n");
        return 2;
    }
    if (!PrepareNotebook()) {
        return 1;
    }
    StartupFigures startup;
    if (options->Runs(L"startup")) {
        Progress("start-up, " + std::to_string(options->starts) + " starts");
        startup = MeasureStartup(*options);
    }
    const IdleFigures idle = options->Runs(L"idle") ? MeasureIdleAndLoad(*options) : IdleFigures();
    const ReactionFigures agent =
        options->Runs(L"reaction") ? MeasureAgentReaction(*options) : ReactionFigures();
    // The agent is stopped by now, so nothing but FloorAgent reacts to the file.
    const ReactionFigures floor =
        options->Runs(L"floor") ? MeasureFloorReaction(*options) : ReactionFigures();
    PrintReport(*options, startup, idle, agent, floor);
    const bool complete =
        (!options->Runs(L"startup") || (!startup.firstDecisionMs.empty() && startup.failed == 0)) &&
        (!options->Runs(L"idle") || idle.ran) &&
        (!options->Runs(L"reaction") || (agent.ran && agent.missed == 0)) &&
        (!options->Runs(L"floor") || (floor.ran && floor.missed == 0));
    return complete ? 0 : 1;
}

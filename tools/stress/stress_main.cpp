// Stress: does the agent ever lose the user's overdrive choice? It plays randomised sequences
// against LumivaneSim.exe on the simulated notebook (the 144/60 Hz overdrive panel at 144 Hz,
// on AC power, the simulated BIOS), where the choice "1" must end with the BIOS's overdrive on
// and Icon.txt "1", and the choice "0" with overdrive off and Icon.txt "0".
//
//   writes    bursts of Set("Mode") calls through the reference host and Tessel.dll, with
//             gaps of 0 to 50 ms and repeated values; after each burst, once the agent has
//             settled, the BIOS, Icon.txt and the last notice the host received must all
//             agree with the last value written.
//   restarts  the agent started again and again, as at every logon, with a write through the
//             plug-in 0 to 50 ms after its window appears; once it has settled, the BIOS and
//             Icon.txt (and the host's last notice) must agree with OD_Result.txt.
//
//   Stress.exe --agent <LumivaneSim.exe> --refhost <RefHost.exe> --plugin <Tessel.dll>
//              [--seed n] [--writes n] [--restarts n] [--phases writes,restarts]
//
// Settling is judged by the agent's log: the state is read once the log has been still for a
// while, a state that agrees is taken after a short stillness, one that differs only after a
// long one, so a slow agent is not taken for a forgetful one. A choice that is lost stays lost
// until another event runs a decision, however long one waits. After a loss the tool sends the
// agent a power notification, which runs a decision, so that each burst starts from a state
// that agrees and every loss is counted once.
//
// Each loss is described on standard error with the agent's log since the burst began; the
// figures go to standard output. Exit code 0 when nothing was lost, 1 otherwise, 2 for bad
// options.

#include "tools/agentprocess/agent_process.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/refhost/refhost_process.h"
#include "tools/simbios/simbios_control.h"
#include "tools/simnotebook/simnotebook.h"
#include "tools/stress/stress_plan.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using notebookfiles::DataPath;
using notebookfiles::ReadDataFile;
using notebookfiles::ResetDataFolder;
using notebookfiles::SetProductValue;
using notebookfiles::WriteDataFile;

constexpr DWORD kHostReadyTimeoutMs = 30000;
constexpr DWORD kSetAnswerTimeoutMs = 10000;
constexpr DWORD kWindowTimeoutMs = 60000;
constexpr DWORD kWindowPollMs = 1;
constexpr DWORD kSettlePollMs = 10;
// The agent's longest deliberate pause while it handles a write is 50 ms (a second read of
// an empty OD_Result.txt); this is many times that.
constexpr DWORD kStillWhenAgreeingMs = 750;
// A loss is only called after this long without a log line, a generous bound for an agent
// starved of processor time on a busy machine.
constexpr DWORD kStillWhenDifferingMs = 5000;
constexpr DWORD kSettleBoundMs = 60000;
constexpr uint32_t kRealTimeDelays = 100;
constexpr size_t kLogLinesShown = 50; // at each end of a long excerpt
constexpr int kDefaultWrites = 1000;
constexpr int kDefaultRestarts = 50;
constexpr uint32_t kDefaultSeed = 1;

struct Options {
    std::wstring agentPath;
    std::wstring refHostPath;
    std::wstring pluginPath;
    uint32_t seed = kDefaultSeed;
    int writes = kDefaultWrites;
    int restarts = kDefaultRestarts;
    std::wstring phases = L"writes,restarts";

    bool Runs(const wchar_t* phase) const {
        return (L"," + phases + L",").find(std::wstring(L",") + phase + L",") != std::wstring::npos;
    }
};

void Progress(const std::string& text) {
    std::fprintf(stderr, "stress: %s\n", text.c_str());
    std::fflush(stderr);
}

std::optional<Options> ParseOptions(int argc, wchar_t** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (i + 1 >= argc) {
            return std::nullopt;
        }
        const wchar_t* value = argv[++i];
        if (arg == L"--agent") {
            options.agentPath = refhost::ToWindowsPath(value);
        } else if (arg == L"--refhost") {
            options.refHostPath = refhost::ToWindowsPath(value);
        } else if (arg == L"--plugin") {
            options.pluginPath = refhost::ToWindowsPath(value);
        } else if (arg == L"--phases") {
            options.phases = value;
        } else if (arg == L"--seed") {
            options.seed = static_cast<uint32_t>(wcstoul(value, nullptr, 10));
        } else if (arg == L"--writes") {
            options.writes = _wtoi(value);
        } else if (arg == L"--restarts") {
            options.restarts = _wtoi(value);
        } else {
            return std::nullopt;
        }
    }
    if (options.agentPath.empty() || options.refHostPath.empty() || options.pluginPath.empty() ||
        options.writes < 0 || options.restarts < 0) {
        return std::nullopt;
    }
    return options;
}

double NowMs() {
    return static_cast<double>(GetTickCount64());
}

// ---- the simulated notebook -----------------------------------------------------------------

// The log's size stands for the agent's activity: every step of a decision writes a line.
uint64_t LogSize() {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(DataPath(L"OD_Log.txt").c_str(), GetFileExInfoStandard, &data)) {
        return 0;
    }
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The default notebook at 144 Hz on AC power, RefreshFlag 1, the BIOS with overdrive off,
// no panel configuration file, and `choice` in OD_Result.txt. Delays run in real time, as on
// a notebook: they are part of the timing under test.
bool PrepareNotebook(char choice) {
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
    if (!simbios::ResetSimBios() || !simbios::CanOpenSimBiosDevice()) {
        Progress("the simulated BIOS is not running (tools/simbios/install-simbios.sh)");
        return false;
    }
    notebookfiles::DeletePanelConfig();
    if (!SetProductValue(L"RefreshFlag", 1) || !SetProductValue(L"NeedShow", 0)) {
        Progress("cannot write the product key");
        return false;
    }
    WriteDataFile(L"OD_Result.txt", std::string(1, choice));
    if (ReadDataFile(L"OD_Result.txt") != std::string(1, choice)) {
        Progress("cannot write OD_Result.txt");
        return false;
    }
    return true;
}

// ---- the host --------------------------------------------------------------------------------

struct Host {
    refhost::RefHostProcess process;
    std::string lastNotice = "none"; // the mode field of the last notice taken
};

bool StartHost(Host& host, const Options& options) {
    if (!host.process.Start(options.refHostPath, {L"--plugin", options.pluginPath}) ||
        !host.process.WaitForLine(refhost::StartsWith("ready"), kHostReadyTimeoutMs)) {
        Progress("the reference host did not get ready");
        return false;
    }
    return true;
}

// Takes the notices received so far; the last one is what the host shows.
void TakeNotices(Host& host) {
    while (std::optional<std::string> notice =
               host.process.WaitForLine(refhost::StartsWith("notice "), 0)) {
        host.lastNotice = refhost::LineField(*notice, "mode").value_or("?");
    }
}

bool SendSet(Host& host, char value) {
    return host.process.Send(std::string("set ") + value);
}

// Every "set" sent has been carried out by the plug-in.
bool WaitForSetAnswers(Host& host, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (!host.process.WaitForLine(refhost::StartsWith("set "), kSetAnswerTimeoutMs)) {
            Progress("the reference host did not carry out a write");
            return false;
        }
    }
    return true;
}

// ---- settling ------------------------------------------------------------------------------

struct Observed {
    bool biosOn = false;
    std::string icon;
    std::string choice; // OD_Result.txt
    std::string notice; // the host's last notice
};

enum class Verdict { Agrees, Differs, Unsettled };

Observed Observe(Host& host) {
    TakeNotices(host);
    Observed seen;
    seen.biosOn = simbios::GetODState();
    seen.icon = ReadDataFile(L"Icon.txt");
    seen.choice = ReadDataFile(L"OD_Result.txt");
    seen.notice = host.lastNotice;
    return seen;
}

// On AC power at 144 Hz the choice alone decides: "1" on with icon "1", "0" off with icon "0".
bool AgreesWith(const Observed& seen, char choice) {
    const std::string expected(1, choice);
    return seen.choice == expected && seen.biosOn == (choice == '1') && seen.icon == expected &&
           seen.notice == expected;
}

std::string Describe(const Observed& seen) {
    return std::string("BIOS ") + (seen.biosOn ? "on" : "off") + ", Icon.txt \"" + seen.icon +
           "\", OD_Result.txt \"" + seen.choice + "\", last notice " + seen.notice;
}

// Waits until the log has been still long enough to judge the state against `choice`.
Verdict Settle(Host& host, char choice, Observed* seen) {
    const double start = NowMs();
    uint64_t size = LogSize();
    double stillSince = start;
    for (;;) {
        Sleep(kSettlePollMs);
        const double now = NowMs();
        const uint64_t newSize = LogSize();
        if (newSize != size) {
            size = newSize;
            stillSince = now;
        } else if (now - stillSince >= kStillWhenAgreeingMs) {
            *seen = Observe(host);
            if (AgreesWith(*seen, choice)) {
                return Verdict::Agrees;
            }
            if (now - stillSince >= kStillWhenDifferingMs) {
                return Verdict::Differs;
            }
        }
        if (now - start >= kSettleBoundMs) {
            *seen = Observe(host);
            return Verdict::Unsettled;
        }
    }
}

// The agent's log from byte `from` on, indented; when long, its first and last lines, where
// the choice is read and where the agent came to rest.
std::string LogExcerpt(size_t from) {
    const std::string text = ReadDataFile(L"OD_Log.txt", from);
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        at = end + 1;
    }
    std::string excerpt;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines.size() > 2 * kLogLinesShown && i == kLogLinesShown) {
            excerpt +=
                "    ... " + std::to_string(lines.size() - 2 * kLogLinesShown) + " lines ...\n";
            i = lines.size() - kLogLinesShown;
        }
        excerpt += "    " + lines[i] + "\n";
    }
    return excerpt;
}

void ReportLoss(const std::string& what, Verdict verdict, const Observed& seen, size_t logFrom) {
    const std::string text = (verdict == Verdict::Unsettled ? "UNSETTLED " : "LOST ") + what +
                             "\n  seen: " + Describe(seen) + "\n  agent log:\n" +
                             LogExcerpt(logFrom);
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// ---- the phases ----------------------------------------------------------------------------

using agentprocess::AgentProcess;

struct Figures {
    bool ran = false;
    int done = 0; // writes or restarts carried out
    int bursts = 0;
    int lost = 0;
    int unsettled = 0; // counted in lost as well
    double seconds = 0;
};

void Count(Figures& figures, Verdict verdict) {
    figures.lost += verdict == Verdict::Agrees ? 0 : 1;
    figures.unsettled += verdict == Verdict::Unsettled ? 1 : 0;
}

std::string BurstText(const stress::Burst& burst) {
    std::string text;
    for (const stress::Write& write : burst.writes) {
        if (!text.empty()) {
            text += " +" + std::to_string(write.gapBeforeMs) + "ms ";
        }
        text += write.value;
    }
    return text;
}

// A power notification runs a decision, which mends a lost choice, so the next burst starts
// from a state that agrees. True when the agent agrees again.
bool Recover(AgentProcess& agent, Host& host, char choice) {
    Observed seen;
    if (!agent.Send(WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE) ||
        Settle(host, choice, &seen) != Verdict::Agrees) {
        Progress("the agent does not agree even after a power notification: " + Describe(seen));
        return false;
    }
    return true;
}

Figures RunWrites(const Options& options) {
    Figures figures;
    const double start = NowMs();
    const std::vector<stress::Burst> plan = stress::PlanWrites(options.seed, options.writes);
    Host host;
    AgentProcess agent;
    if (!PrepareNotebook('1') || !StartHost(host, options)) {
        return figures;
    }
    if (!agent.Start(options.agentPath)) {
        Progress("the agent did not start");
        return figures;
    }
    Observed seen;
    if (Settle(host, '1', &seen) != Verdict::Agrees) {
        Progress("the agent did not reach the starting state: " + Describe(seen));
        return figures;
    }
    Progress("writes: " + std::to_string(options.writes) + " in " + std::to_string(plan.size()) +
             " bursts, seed " + std::to_string(options.seed));
    char previous = '1';
    uint64_t settledSize = LogSize();
    for (size_t b = 0; b < plan.size(); ++b) {
        const stress::Burst& burst = plan[b];
        // The agent acted after the last burst was judged: judge that one again.
        if (LogSize() != settledSize) {
            const Verdict late = Settle(host, previous, &seen);
            if (late != Verdict::Agrees) {
                Count(figures, late);
                ReportLoss("after burst " + std::to_string(b) + " (late)", late, seen,
                           static_cast<size_t>(settledSize));
                (void)Recover(agent, host, previous);
            }
        }
        const uint64_t logFrom = LogSize();
        for (const stress::Write& write : burst.writes) {
            if (write.gapBeforeMs > 0) {
                Sleep(write.gapBeforeMs); // the gap under test, not a wait for something
            }
            if (!SendSet(host, write.value)) {
                Progress("the reference host ended");
                return figures;
            }
        }
        if (!WaitForSetAnswers(host, burst.writes.size())) {
            return figures;
        }
        figures.done += static_cast<int>(burst.writes.size());
        ++figures.bursts;
        previous = burst.writes.back().value;
        const Verdict verdict = Settle(host, previous, &seen);
        if (verdict != Verdict::Agrees) {
            Count(figures, verdict);
            ReportLoss("burst " + std::to_string(b + 1) + ": " + BurstText(burst), verdict, seen,
                       static_cast<size_t>(logFrom));
            (void)Recover(agent, host, previous);
        }
        if (!agent.Running()) {
            Progress("the agent ended");
            return figures;
        }
        settledSize = LogSize();
    }
    figures.ran = agent.Exit() == 0u;
    if (!figures.ran) {
        Progress("the agent did not exit cleanly");
    }
    figures.seconds = (NowMs() - start) / 1000;
    return figures;
}

Figures RunRestarts(const Options& options) {
    Figures figures;
    const double start = NowMs();
    const std::vector<stress::Restart> plan = stress::PlanRestarts(options.seed, options.restarts);
    Host host;
    char choice = '0';
    if (!PrepareNotebook(choice) || !StartHost(host, options)) {
        return figures;
    }
    Progress("restarts: " + std::to_string(options.restarts) + ", seed " +
             std::to_string(options.seed));
    for (size_t r = 0; r < plan.size(); ++r) {
        const stress::Restart& restart = plan[r];
        const char value = restart.changesChoice ? (choice == '1' ? '0' : '1') : choice;
        // Each start writes its own log, so a loss shows just that start.
        (void)DeleteFileW(DataPath(L"OD_Log.txt").c_str());
        AgentProcess agent;
        if (!agent.Start(options.agentPath, false) ||
            !agentprocess::WaitUntil(
                [&] { return agentprocess::FindAgentWindow(agent.ProcessId()) != nullptr; },
                kWindowTimeoutMs, kWindowPollMs)) {
            Progress("the agent did not start");
            return figures;
        }
        if (restart.writeDelayMs > 0) {
            Sleep(restart.writeDelayMs); // the moment under test, not a wait for something
        }
        if (!SendSet(host, value) || !WaitForSetAnswers(host, 1)) {
            return figures;
        }
        choice = value;
        if (!agent.WaitForLoop()) {
            Progress("the agent did not reach its message loop");
            return figures;
        }
        Observed seen;
        const Verdict verdict = Settle(host, choice, &seen);
        ++figures.done;
        if (verdict != Verdict::Agrees) {
            Count(figures, verdict);
            ReportLoss("restart " + std::to_string(r + 1) + ": wrote " + std::string(1, value) +
                           (restart.changesChoice ? " (a change)" : " (the same value)") + " " +
                           std::to_string(restart.writeDelayMs) + " ms after the window appeared",
                       verdict, seen, 0);
        }
        if (agent.Exit() != 0u) {
            Progress("the agent did not exit cleanly");
            return figures;
        }
    }
    figures.ran = true;
    figures.seconds = (NowMs() - start) / 1000;
    return figures;
}

std::string LostText(const Figures& figures) {
    std::string text = "lost " + std::to_string(figures.lost);
    if (figures.unsettled > 0) {
        text += " (" + std::to_string(figures.unsettled) + " never settled)";
    }
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "  [%.0f s]", figures.seconds);
    return text + (figures.ran ? seconds : "  [incomplete]");
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fprintf(stderr,
                     "usage: Stress.exe --agent <exe> --refhost <exe> --plugin <dll> [--seed n] "
                     "[--writes n] [--restarts n] [--phases writes,restarts]\n");
        return 2;
    }
    std::printf("Lumivane stress: LumivaneSim.exe on the simulated notebook (144 Hz overdrive "
                "panel, AC), seed %u\n",
                options->seed);
    std::fflush(stdout);
    bool clean = true;
    if (options->Runs(L"writes")) {
        const Figures writes = RunWrites(*options);
        std::printf("  writes %d, bursts %d, %s\n", writes.done, writes.bursts,
                    LostText(writes).c_str());
        std::fflush(stdout);
        clean = clean && writes.ran && writes.lost == 0;
    }
    if (options->Runs(L"restarts")) {
        const Figures restarts = RunRestarts(*options);
        std::printf("  restarts %d, %s\n", restarts.done, LostText(restarts).c_str());
        std::fflush(stdout);
        clean = clean && restarts.ran && restarts.lost == 0;
    }
    return clean ? 0 : 1;
}

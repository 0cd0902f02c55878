// The verdicts follow the agent's own conditions in the order an engineer would fix them:
// first what stops the agent from knowing the panel, then what the panel or the BIOS lack,
// then the settings and the display. Each names only the first reason.
#include "panelcheck/machine_report.h"

#include "agent/decision/decision_cycle.h"
#include "agent/files/state_files.h"
#include "agent/log/text.h"
#include "agent/panel/edid_rates.h"
#include "agent/panel/panel_config.h"
#include "agent/panel/panel_identity.h"
#include "agent/state/agent_state.h"
#include "panelcheck/panel_report.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

constexpr size_t kManufacturerOffset = 8;
constexpr size_t kProductOffset = 10;
constexpr unsigned kOnACPower = 1;
constexpr size_t kInternalCheckComponent = 0;
const char kOverdrivePositive[] = "will switch on at AC with choice 1 at >= 120 Hz";
const char kNoInternalPanel[] = "no internal panel listed by WMI";

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size,
                        nullptr, nullptr);
    return result;
}

// Bytes in the ANSI code page, as the agent's files and log hold them.
std::string AnsiToUtf8(const std::string& bytes) {
    return Utf8(ToWide(bytes));
}

std::string Hex4(uint32_t word) {
    char text[8];
    snprintf(text, sizeof text, "%04X", word);
    return text;
}

std::string Hex8(uint32_t word) {
    char text[16];
    snprintf(text, sizeof text, "0x%08X", word);
    return text;
}

std::string ModeText(const DisplayModeFact& mode) {
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "x" +
           std::to_string(mode.bitsPerPixel) + "@" + std::to_string(mode.frequency);
}

ReportValue Text(const std::string& text) {
    ReportValue value;
    value.kind = ReportValue::Kind::Text;
    value.text = text;
    return value;
}
ReportValue Text(const std::wstring& text) {
    return Text(Utf8(text));
}
ReportValue Bytes(const std::string& bytes) {
    ReportValue value;
    value.kind = ReportValue::Kind::Bytes;
    value.text = bytes;
    return value;
}
ReportValue Number(long long number) {
    ReportValue value;
    value.kind = ReportValue::Kind::Number;
    value.number = number;
    return value;
}
ReportValue Flag(bool flag) {
    ReportValue value;
    value.kind = ReportValue::Kind::Flag;
    value.flag = flag;
    return value;
}
// Null in JSON; in the text form, `shown` or "none".
ReportValue Absent(const std::string& shown = "none") {
    ReportValue value;
    value.kind = ReportValue::Kind::Absent;
    value.text = shown;
    return value;
}
ReportValue List(const std::vector<std::string>& items) {
    ReportValue value;
    value.kind = ReportValue::Kind::List;
    value.items = items;
    return value;
}

// How the agent arrives at its two rates, with the pieces a reader needs to see why.
struct RateView {
    bool baseBlock = false;
    uint32_t manufacturer = 0;
    uint32_t product = 0;
    int extensions = 0;
    int32_t rate1 = 0; // the two descriptor rates as computed
    int32_t rate2 = 0;
    std::string source = "none";
    bool noEDIDRate = false;    // the EDID is the source and gives no rate
    bool outOfRange = false;    // a candidate rate lies outside 1 to 1000 Hz
    int32_t outOfRangeRate = 0; // the first such rate
    PanelRefreshRates rates;
    bool dualRate = false;
};

RateView ViewRates(const MachineFacts& facts) {
    RateView view;
    view.baseBlock = HasEDIDBaseBlock(facts.edid);
    if (view.baseBlock) {
        const std::vector<uint8_t>& b = facts.edid.bytes;
        view.manufacturer = b[kManufacturerOffset + 1] * 256u + b[kManufacturerOffset];
        view.product = b[kProductOffset + 1] * 256u + b[kProductOffset];
        view.extensions = b[kExtensionCountOffset];
        view.rate1 = ComputeTimingDescriptorRate(facts.edid, kFirstTimingOffset);
        view.rate2 = ComputeTimingDescriptorRate(facts.edid, kSecondTimingOffset);
    }
    if (facts.configured.found) {
        view.source = "config";
    } else if (view.baseBlock && view.extensions == 0) {
        view.source = "edid";
        view.noEDIDRate = ComputeEDIDRefreshRates(facts.edid).first == 0;
    }
    view.outOfRange = FindOutOfRangeRate(facts.edid, facts.configured, &view.outOfRangeRate);
    view.rates = DeterminePanelRates(facts.edid, facts.configured);
    view.dualRate = AreDualRates(view.rates.high, view.rates.low);
    return view;
}

// The mode SetRefreshRate would ask for: one of the current size and depth whose rate snaps
// to the target, an exact rate preferred.
bool FindRateMode(const MachineFacts& facts, int32_t target, DisplayModeFact* found) {
    bool any = false;
    for (const DisplayModeFact& mode : facts.modes) {
        if (mode.width != facts.currentMode.width || mode.height != facts.currentMode.height ||
            mode.bitsPerPixel != facts.currentMode.bitsPerPixel ||
            static_cast<int64_t>(SnapRefreshRate(mode.frequency)) != target) {
            continue;
        }
        if (static_cast<int64_t>(mode.frequency) == target) {
            *found = mode;
            return true;
        }
        if (!any) {
            any = true;
            *found = mode;
        }
    }
    return any;
}

// Why the agent does not know the panel, or "" when it does.
std::string PanelIdentityProblem(const MachineFacts& facts) {
    if (!facts.wmiQueried) {
        return "WMI query failed";
    }
    if (facts.panelIdentity.empty()) {
        return SelectInternalPanelComponent(facts.wmiRows, kInternalCheckComponent).empty()
                   ? kNoInternalPanel
                   : "internal panel's WMI instance name has no identity";
    }
    return std::string();
}

Verdict Negative(const std::string& reason) {
    return Verdict{false, reason};
}

// A final path as users write it: without the "\\?\" the platform puts before a drive letter.
std::string PlainPath(const std::wstring& path) {
    const std::wstring prefix = L"\\\\?\\";
    if (path.compare(0, prefix.size(), prefix) == 0 && path.size() > prefix.size() + 1 &&
        path[prefix.size() + 1] == L':') {
        return Utf8(path.substr(prefix.size()));
    }
    return Utf8(path);
}

// The agent writes nothing through a link: a redirected data folder or a linked file keeps it
// from recording what it does, whatever else the machine offers. Empty when there is none.
std::string DataFolderProblem(const MachineFacts& facts) {
    if (facts.dataFolder == DataPlace::Redirected) {
        return "data folder redirected to " + PlainPath(facts.dataFolderFinalPath);
    }
    if (!facts.linkedFiles.empty()) {
        return Utf8(facts.linkedFiles.front()) + " is a link";
    }
    return std::string();
}

Verdict JudgeRefreshSwitching(const MachineFacts& facts, const RateView& view) {
    std::string problem = DataFolderProblem(facts);
    if (problem.empty()) {
        problem = PanelIdentityProblem(facts);
    }
    if (!problem.empty()) {
        return Negative(problem);
    }
    if (!facts.edid.found) {
        return Negative("EDID not found in the registry");
    }
    if (!view.baseBlock) {
        return Negative("EDID shorter than its 128-byte base block");
    }
    if (view.outOfRange) {
        return Negative("rate out of range (" + std::to_string(view.outOfRangeRate) + " Hz)");
    }
    // A refused file is named as such: the panel may well be listed in it.
    const std::string unlisted =
        facts.configRefusal.empty()
            ? "FRQ_Config.txt does not list the panel"
            : "FRQ_Config.txt is not used (" + Utf8(facts.configRefusal) + ")";
    if (view.source == "none") {
        return Negative("EDID has extension blocks and " + unlisted);
    }
    if (view.noEDIDRate) {
        return Negative("EDID gives no refresh rate and " + unlisted);
    }
    const int32_t high = view.rates.high;
    const int32_t low = view.rates.low;
    if (!view.dualRate) {
        return Negative(high == low ? "panel has one refresh rate (" + std::to_string(high) + " Hz)"
                                    : "rates " + std::to_string(high) + " and " +
                                          std::to_string(low) + " Hz differ by 3 Hz or less");
    }
    if (!facts.refreshFlag.present) {
        return Negative("RefreshFlag is missing");
    }
    if (facts.refreshFlag.value != 1) {
        return Negative("RefreshFlag is " + std::to_string(facts.refreshFlag.value));
    }
    if (!facts.adapterFound) {
        return Negative("no active monitor is the panel");
    }
    if (!facts.currentModeRead) {
        return Negative("the panel's adapter: current mode cannot be read");
    }
    for (int32_t rate : {high, low}) {
        DisplayModeFact mode;
        if (!FindRateMode(facts, rate, &mode)) {
            DisplayModeFact size = facts.currentMode;
            std::string sizeText = std::to_string(size.width) + "x" + std::to_string(size.height) +
                                   "x" + std::to_string(size.bitsPerPixel);
            return Negative("the panel's adapter lists no " + sizeText + " mode at " +
                            std::to_string(rate) + " Hz");
        }
    }
    return Verdict{true,
                   std::to_string(high) + " Hz on AC, " + std::to_string(low) + " Hz on battery"};
}

Verdict JudgeOverdrive(const MachineFacts& facts, const RateView& view, bool switching) {
    std::string problem = DataFolderProblem(facts);
    if (problem.empty()) {
        problem = PanelIdentityProblem(facts);
    }
    if (!problem.empty()) {
        return Negative(problem);
    }
    if (!facts.biosOpens) {
        return Negative("BIOS device \\\\.\\ZVKACPI does not open");
    }
    switch (ReadSupportVerdict(facts.biosSupport)) {
    case PanelVerdict::OverdrivePanel:
        break;
    case PanelVerdict::NotOverdrivePanel:
        return Negative("panel does not support overdrive (BIOS answers NO)");
    default:
        return Negative("BIOS gives no overdrive support answer (" + Utf8(facts.biosSupport) + ")");
    }
    if (!TextEquals(facts.biosODState, L"1") && !TextEquals(facts.biosODState, L"0")) {
        return Negative("BIOS overdrive state query fails (" + Utf8(facts.biosODState) + ")");
    }
    if (facts.panelMode.frequency == 0) {
        return Negative("internal panel not found among the display devices (its rate reads 0 Hz)");
    }
    // On AC the agent puts a switching panel at its high rate; otherwise the rate stays.
    int rateOnAC = switching ? view.rates.high : static_cast<int>(facts.panelMode.frequency);
    if (!TextEquals(DecideOverdrive(L"1", kOnACPower, rateOnAC, L"").biosRequest, L"1")) {
        return Negative("panel runs at " + std::to_string(rateOnAC) + " Hz on AC, below 120 Hz");
    }
    return Verdict{true, kOverdrivePositive};
}

// The other verdicts say what the agent would do; this one whether an agent is there to do
// it, now and at the next logon.
Verdict JudgeAgent(const MachineFacts& facts) {
    const LogonTaskFact& task = facts.logonTask;
    if (!task.known) {
        return Negative("logon task cannot be read (" + Hex8(task.error) + ")");
    }
    if (!task.registered) {
        return Negative("no logon task");
    }
    if (!task.programExists) {
        return Negative("the logon task starts a program that is not there (" +
                        Utf8(task.programPath) + ")");
    }
    for (const std::wstring& path : facts.agentProgramPaths) {
        if (CompareStringOrdinal(path.c_str(), -1, task.programPath.c_str(), -1, TRUE) ==
            CSTR_EQUAL) {
            return Verdict{true, "runs from the logon task's program"};
        }
    }
    return Negative(facts.agentProcesses.empty()
                        ? "no agent running"
                        : "no agent running from the logon task's program");
}

std::string PowerText(const MachineFacts& facts) {
    if (!facts.powerRead) {
        return "cannot be read (counts as battery)";
    }
    if (facts.acLineStatus == kOnACPower) {
        return "AC";
    }
    return facts.acLineStatus == 0 ? "battery" : "unknown (counts as battery)";
}

ReportSection PanelSection(const MachineFacts& facts, const RateView& view) {
    ReportSection section{"Panel", "panel", {}};
    auto add = [&](const char* key, ReportValue value) {
        section.entries.push_back(ReportEntry{key, value, false});
    };
    add("wmi-query", Text(facts.wmiQueried ? "ran" : "failed"));
    // The first internal row is the panel; the agent never looks at a later one.
    std::vector<std::string> rows;
    bool counted = false;
    for (const machine::MonitorConnection& row : facts.wmiRows) {
        std::vector<machine::MonitorConnection> one{row};
        bool named = !SelectInternalPanelComponent(one, kInternalCheckComponent).empty();
        // The agent passes over an internal row without a name; whether it is internal is asked
        // of the agent's own test with a name put in.
        one.front().instanceName = L"named";
        bool internal = !SelectInternalPanelComponent(one, kInternalCheckComponent).empty();
        // Only a VT_I4 carries a technology; any other type is no value at all.
        std::string technology =
            row.videoOutputTechnologyType == VT_I4 ? Hex8(row.videoOutputTechnology) : "no value";
        rows.push_back(Utf8(row.instanceName) + " " + technology +
                       (!internal ? " external"
                        : !named  ? " internal, empty name, not counted"
                        : counted ? " internal, not counted"
                                  : " internal, the panel"));
        counted = counted || named;
    }
    add("wmi-rows", List(rows));
    add("internal-panel", facts.panelIdentity.empty()
                              ? Absent("none (" + PanelIdentityProblem(facts) + ")")
                              : Text(facts.panelIdentity));
    add("panel-instance", facts.panelInstance.empty() ? Absent() : Text(facts.panelInstance));
    add("edid-key", facts.edidKeyPath.empty() ? Absent() : Text(facts.edidKeyPath));
    add("edid-found", Flag(facts.edid.found));
    add("edid-bytes", Number(facts.edid.byteCount));
    if (view.baseBlock) {
        add("manufacturer", Text(Hex4(view.manufacturer)));
        add("product", Text(Hex4(view.product)));
        add("extensions", Number(view.extensions));
        add("rate1", Number(view.rate1));
        add("rate2", Number(view.rate2));
    }
    add("config-file", Text(kPanelConfigPath));
    add("config-file-present", Flag(facts.configFileExists));
    add("config-refused", facts.configRefusal.empty() ? Absent() : Text(Utf8(facts.configRefusal)));
    add("config-match", facts.configured.found ? Text(AnsiToUtf8(facts.configLine)) : Absent());
    add("source", Text(view.source));
    add("high", Number(view.rates.high));
    add("low", Number(view.rates.low));
    add("dual-rate", Flag(view.dualRate));
    if (view.baseBlock && view.source == "none") {
        // The EDID gives the agent no rates: the line that would list this panel, with the
        // descriptors' rates when they are plausible.
        std::string rates = "<high>,<low>";
        if (view.rate1 > 0 && view.rate2 > 0 && IsPanelRateInRange(view.rate1) &&
            IsPanelRateInRange(view.rate2)) {
            std::pair<int32_t, int32_t> snapped = SnapRatePair(view.rate1, view.rate2);
            rates = std::to_string(std::max(snapped.first, snapped.second)) + "," +
                    std::to_string(std::min(snapped.first, snapped.second));
        }
        add("config-line", Text(Hex4(view.manufacturer) + "," + Hex4(view.product) + "," + rates));
    }
    return section;
}

ReportSection BIOSSection(const MachineFacts& facts) {
    ReportSection section{"BIOS", "bios", {}};
    auto add = [&](const char* key, ReportValue value) {
        section.entries.push_back(ReportEntry{key, value, false});
    };
    add("device", Text("\\\\.\\ZVKACPI"));
    add("device-opens", Flag(facts.biosOpens));
    add("panel-identity", Text(facts.biosIdentity));
    add("od-support", Text(facts.biosSupport));
    add("od-state", Text(facts.biosODState));
    add("reenumerate", Flag(facts.reenumerate));
    return section;
}

ReportSection DisplaySection(const MachineFacts& facts, const RateView& view) {
    ReportSection section{"Power and display", "power-and-display", {}};
    auto add = [&](const char* key, ReportValue value) {
        section.entries.push_back(ReportEntry{key, value, false});
    };
    add("power", Text(PowerText(facts)));
    add("ac-line-status", facts.powerRead ? Number(facts.acLineStatus) : Absent());
    add("panel-adapter", facts.adapterFound ? Text(facts.adapterName) : Absent());
    add("current-mode", facts.currentModeRead ? Text(ModeText(facts.currentMode)) : Absent());
    add("panel-rate", Number(facts.panelMode.frequency));
    DisplayModeFact mode;
    add("high-rate-mode", facts.currentModeRead && FindRateMode(facts, view.rates.high, &mode)
                              ? Text(ModeText(mode))
                              : Absent("none listed"));
    add("low-rate-mode", facts.currentModeRead && FindRateMode(facts, view.rates.low, &mode)
                             ? Text(ModeText(mode))
                             : Absent("none listed"));
    std::vector<std::string> modes;
    for (const DisplayModeFact& listed : facts.modes) {
        modes.push_back(ModeText(listed));
    }
    add("modes", List(modes));
    return section;
}

ReportValue RegistryNumber(const RegistryNumberFact& fact) {
    return fact.present ? Number(fact.value) : Absent("absent");
}

ReportSection SettingsSection(const MachineFacts& facts) {
    ReportSection section{"Product settings", "product-settings", {}};
    section.entries.push_back(ReportEntry{"RefreshFlag", RegistryNumber(facts.refreshFlag)});
    section.entries.push_back(ReportEntry{"NeedShow", RegistryNumber(facts.needShow)});
    section.entries.push_back(ReportEntry{"DisplayVersion", facts.displayVersionPresent
                                                                ? Text(facts.displayVersion)
                                                                : Absent("absent")});
    return section;
}

ReportSection AgentSection(const MachineFacts& facts) {
    ReportSection section{"Agent", "agent", {}};
    auto add = [&](const std::string& key, ReportValue value) {
        section.entries.push_back(ReportEntry{key, value, false});
    };
    std::string folderText = Utf8(kDataFolder);
    if (facts.dataFolder == DataPlace::Redirected) {
        folderText = "redirected to " + PlainPath(facts.dataFolderFinalPath);
    } else if (!facts.linkedFiles.empty()) {
        std::string names;
        for (const std::wstring& file : facts.linkedFiles) {
            names += (names.empty() ? "" : ", ") + Utf8(file);
        }
        folderText = "link: " + names;
    }
    add("data-folder", Text(folderText));
    for (const StateFileFact& file : facts.stateFiles) {
        add(Utf8(file.name), file.exists ? Bytes(file.content) : Absent("missing"));
    }
    const LogonTaskFact& task = facts.logonTask;
    add("logon-task", Text(!task.known       ? "unknown (" + Hex8(task.error) + ")"
                           : task.registered ? "registered"
                                             : "not registered"));
    add("logon-task-program", task.programPath.empty() ? Absent() : Text(task.programPath));
    add("agent-running", Flag(!facts.agentProcesses.empty()));
    std::vector<std::string> processes;
    for (DWORD id : facts.agentProcesses) {
        processes.push_back(std::to_string(id));
    }
    add("agent-processes", List(processes));
    add("log-present", Flag(facts.logExists));
    std::vector<std::string> lines;
    for (const std::string& line : facts.logTail) {
        lines.push_back(AnsiToUtf8(line));
    }
    add("log-tail", List(lines));
    return section;
}

std::string QuoteBytes(const std::string& bytes) {
    std::string quoted = "\"";
    std::string plain;
    auto flush = [&] {
        quoted += AnsiToUtf8(plain);
        plain.clear();
    };
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c != '"' && c != '\\' && c != 0x7F) {
            plain += static_cast<char>(c);
            continue;
        }
        flush();
        char escaped[8];
        switch (c) {
        case '\r':
            quoted += "\\r";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\t':
            quoted += "\\t";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\\':
            quoted += "\\\\";
            break;
        default:
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            quoted += escaped;
        }
    }
    flush();
    return quoted + "\"";
}

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escaped[8];
                snprintf(escaped, sizeof escaped, "\\u%04X", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string JsonValue(const ReportValue& value) {
    switch (value.kind) {
    case ReportValue::Kind::Text:
        return JsonString(value.text);
    case ReportValue::Kind::Bytes:
        return JsonString(AnsiToUtf8(value.text));
    case ReportValue::Kind::Number:
        return std::to_string(value.number);
    case ReportValue::Kind::Flag:
        return value.flag ? "true" : "false";
    case ReportValue::Kind::Absent:
        return "null";
    case ReportValue::Kind::List: {
        std::string out = "[";
        for (size_t i = 0; i < value.items.size(); ++i) {
            out += (i == 0 ? "" : ", ") + JsonString(value.items[i]);
        }
        return out + "]";
    }
    }
    return "null";
}

} // namespace

Verdicts JudgeMachine(const MachineFacts& facts) {
    RateView view = ViewRates(facts);
    Verdicts verdicts;
    verdicts.refreshSwitching = JudgeRefreshSwitching(facts, view);
    verdicts.overdrive = JudgeOverdrive(facts, view, verdicts.refreshSwitching.positive);
    verdicts.agent = JudgeAgent(facts);
    return verdicts;
}

std::vector<ReportSection> BuildMachineReport(const MachineFacts& facts) {
    RateView view = ViewRates(facts);
    Verdicts verdicts = JudgeMachine(facts);
    ReportSection verdict{"Verdict", "verdict", {}};
    verdict.entries.push_back(ReportEntry{"overdrive", Text(verdicts.overdrive.text)});
    verdict.entries.push_back(
        ReportEntry{"overdrive-positive", Flag(verdicts.overdrive.positive), true});
    verdict.entries.push_back(
        ReportEntry{"refresh-switching", Text(verdicts.refreshSwitching.text)});
    verdict.entries.push_back(
        ReportEntry{"refresh-switching-positive", Flag(verdicts.refreshSwitching.positive), true});
    verdict.entries.push_back(ReportEntry{"agent", Text(verdicts.agent.text)});
    verdict.entries.push_back(ReportEntry{"agent-positive", Flag(verdicts.agent.positive), true});
    return {PanelSection(facts, view), BIOSSection(facts),  DisplaySection(facts, view),
            SettingsSection(facts),    AgentSection(facts), verdict};
}

std::string FormatReportText(const std::vector<ReportSection>& sections) {
    std::string out;
    for (const ReportSection& section : sections) {
        out += (out.empty() ? "" : "\n") + section.title + "\n";
        for (const ReportEntry& entry : section.entries) {
            if (entry.jsonOnly) {
                continue;
            }
            const ReportValue& value = entry.value;
            out += "  " + entry.key + ":";
            switch (value.kind) {
            case ReportValue::Kind::Text:
                out += " " + value.text;
                break;
            case ReportValue::Kind::Bytes:
                out += " " + QuoteBytes(value.text);
                break;
            case ReportValue::Kind::Number:
                out += " " + std::to_string(value.number);
                break;
            case ReportValue::Kind::Flag:
                out += value.flag ? " yes" : " no";
                break;
            case ReportValue::Kind::Absent:
                out += " " + value.text;
                break;
            case ReportValue::Kind::List:
                if (value.items.empty()) {
                    out += " none";
                }
                for (const std::string& item : value.items) {
                    out += "\n    " + item;
                }
                break;
            }
            out += "\n";
        }
    }
    return out;
}

std::string FormatReportJson(const std::vector<ReportSection>& sections) {
    std::string out = "{";
    for (size_t s = 0; s < sections.size(); ++s) {
        out += (s == 0 ? "\n  " : ",\n  ") + JsonString(sections[s].jsonKey) + ": {";
        const std::vector<ReportEntry>& entries = sections[s].entries;
        for (size_t e = 0; e < entries.size(); ++e) {
            out += (e == 0 ? "\n    " : ",\n    ") + JsonString(entries[e].key) + ": " +
                   JsonValue(entries[e].value);
        }
        out += "\n  }";
    }
    return out + "\n}\n";
}

// simnotebook.exe: changes the simulated notebook from a shell script while the agent runs.
// Exit code 0 on success, 1 for a usage error.
#include "common/data_folder.h"
#include "common/fixed_paths.h"
#include "tools/notebookfiles/notebook_files.h"
#include "tools/simnotebook/simnotebook.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

const wchar_t kUsage[] =
    L"usage: simnotebook <command> [arguments]\n"
    L"  reset                        default notebook; also installs its panel EDID\n"
    L"  show                         print the simulated state\n"
    L"  power <0|1|255>              AC line status (0 battery, 1 AC, 255 unknown)\n"
    L"  powerfail <0|1>              GetSystemPowerStatus fails\n"
    L"  monitors <n>                 internal panel plus n-1 active external displays\n"
    L"  monitorstate <a> <m> <flags> StateFlags of monitor m of adapter a\n"
    L"  panel-adapter <a>            internal panel on adapter a, external monitors before it\n"
    L"  modes <a> <WxHxB@F>...       mode list of adapter a\n"
    L"  current <a> <WxHxB@F|none>   current mode of adapter a\n"
    L"  modetakes <a> <0|1>          whether mode changes on adapter a take effect\n"
    L"  wmi <name>:<vot>... | none   WMI rows (vot decimal, 0x hex, or null for no value)\n"
    L"  wmifail <0|1>                the WMI query fails\n"
    L"  sessionfail <n>              the next n session registrations fail\n"
    L"  delayscale <percent>         0: delays are virtual; n: sleep n% of each delay\n"
    L"  lid <0|1>                    lid switch setting: 1 open, 0 closed\n"
    L"  monitorpower <0|1|2>         monitor power setting: 1 on, 0 off, 2 dimmed\n"
    L"  power-during-next-mode-change <0|1|255|off>\n"
    L"                               the next mode change also changes the AC line status\n"
    L"                               and announces it from inside the change; then disarms\n"
    L"  edid <file>                  install a raw EDID for the default panel's keys\n"
    L"  console-session <id|self>    active console session (self: the asking process's own)\n"
    L"  other-agent <hwid> <icon>    HWID_Result.txt and Icon.txt as another session's agent\n"
    L"                               writes them (a standard user's: 0 and 2)\n"
    L"  record                       print the recorded mode changes, delays, re-enumerations\n"
    L"  clear                        clear the record\n";

int Usage() {
    fwprintf(stderr, L"%ls", kUsage);
    return 1;
}

bool ParseNumber(const wchar_t* text, unsigned long* value) {
    wchar_t* end = nullptr;
    *value = wcstoul(text, &end, 0);
    return end != text && *end == L'\0';
}

void Show() {
    wprintf(L"power: ACLineStatus=%u fails=%d\n", simnotebook::GetACLineStatus(),
            simnotebook::GetPowerStatusFails() ? 1 : 0);
    wprintf(L"delayscale: %u%%\n", simnotebook::GetDelayScalePercent());
    std::vector<simnotebook::Adapter> adapters = simnotebook::GetAdapters();
    for (size_t i = 0; i < adapters.size(); ++i) {
        const simnotebook::Adapter& a = adapters[i];
        wprintf(L"adapter %zu: %ls state=%u takes=%d current=%ls\n", i, a.deviceName.c_str(),
                a.stateFlags, a.modeChangeTakesEffect ? 1 : 0,
                a.hasCurrentMode ? simnotebook::FormatMode(a.currentMode).c_str() : L"none");
        std::wstring modes;
        for (const simnotebook::Mode& mode : a.modes) {
            modes += L" " + simnotebook::FormatMode(mode);
        }
        wprintf(L"  modes:%ls\n", modes.c_str());
        for (size_t j = 0; j < a.monitors.size(); ++j) {
            wprintf(L"  monitor %zu: %ls %ls state=%u\n", j, a.monitors[j].deviceName.c_str(),
                    a.monitors[j].deviceID.c_str(), a.monitors[j].stateFlags);
        }
    }
    wprintf(L"wmi: fails=%d\n", simnotebook::GetWmiQueryFails() ? 1 : 0);
    for (const simnotebook::WmiRow& row : simnotebook::GetWmiRows()) {
        if (row.videoOutputTechnologyType == simnotebook::kVariantInt32) {
            wprintf(L"  %ls 0x%08X\n", row.instanceName.c_str(), row.videoOutputTechnology);
        } else {
            wprintf(L"  %ls (type %u)\n", row.instanceName.c_str(), row.videoOutputTechnologyType);
        }
    }
    wprintf(L"power settings: lid=%d monitor=%u\n", simnotebook::GetLidOpen() ? 1 : 0,
            simnotebook::GetMonitorPower());
    uint8_t armed = 0;
    if (simnotebook::GetPowerDuringNextModeChange(&armed)) {
        wprintf(L"power during next mode change: %u\n", armed);
    } else {
        wprintf(L"power during next mode change: off\n");
    }
    uint32_t console = 0;
    if (simnotebook::GetConsoleSession(&console)) {
        wprintf(L"console session: %u\n", console);
    } else {
        wprintf(L"console session: self\n");
    }
    wprintf(L"record: %llu events\n",
            static_cast<unsigned long long>(simnotebook::RecordedEventCount()));
}

void PrintRecord() {
    for (const simnotebook::Event& event : simnotebook::ReadRecord()) {
        if (event.kind == simnotebook::EventKind::Delay) {
            wprintf(L"delay %u\n", event.milliseconds);
        } else if (event.kind == simnotebook::EventKind::DeviceTreeReenumeration) {
            wprintf(L"reenumerate\n");
        } else {
            wprintf(L"modechange adapter=%d %ls flags=%u result=%d\n", event.adapter,
                    simnotebook::FormatMode(event.mode).c_str(), event.flags, event.result);
        }
    }
}

// One value, written the way every agent writes its state files.
bool WriteAsOtherAgent(const wchar_t* name, const std::wstring& value) {
    const std::string bytes(value.begin(), value.end());
    FolderCheck folder;
    return WriteDataFile(name, bytes.c_str(), static_cast<DWORD>(bytes.size()), &folder) ==
           DataPlace::Sound;
}

int Run(const std::vector<std::wstring>& args) {
    if (args.empty()) {
        return Usage();
    }
    const std::wstring& command = args[0];
    unsigned long a = 0, b = 0, c = 0;
    if (command == L"reset" && args.size() == 1) {
        simnotebook::ResetSimNotebook();
        simnotebook::InstallPanelEDID(simnotebook::kDefaultPanelIdentity,
                                      simnotebook::kDefaultPanelInstanceKey,
                                      simnotebook::DefaultPanelEDID());
    } else if (command == L"show" && args.size() == 1) {
        Show();
    } else if (command == L"power" && args.size() == 2 && ParseNumber(args[1].c_str(), &a) &&
               a <= 255) {
        simnotebook::SetACLineStatus(static_cast<uint8_t>(a));
    } else if (command == L"powerfail" && args.size() == 2 && ParseNumber(args[1].c_str(), &a)) {
        simnotebook::SetPowerStatusFails(a != 0);
    } else if (command == L"monitors" && args.size() == 2 && ParseNumber(args[1].c_str(), &a) &&
               a < 16) {
        simnotebook::SetActiveDisplayCount(static_cast<int>(a));
    } else if (command == L"panel-adapter" && args.size() == 2 &&
               ParseNumber(args[1].c_str(), &a) && a < 16) {
        simnotebook::SetPanelAdapter(a);
    } else if (command == L"monitorstate" && args.size() == 4 && ParseNumber(args[1].c_str(), &a) &&
               ParseNumber(args[2].c_str(), &b) && ParseNumber(args[3].c_str(), &c)) {
        std::vector<simnotebook::Adapter> adapters = simnotebook::GetAdapters();
        if (a >= adapters.size() || b >= adapters[a].monitors.size()) {
            fwprintf(stderr, L"no such monitor\n");
            return 1;
        }
        adapters[a].monitors[b].stateFlags = static_cast<uint32_t>(c);
        simnotebook::SetMonitors(a, adapters[a].monitors);
    } else if (command == L"modes" && args.size() >= 2 && ParseNumber(args[1].c_str(), &a)) {
        std::vector<simnotebook::Mode> modes;
        for (size_t i = 2; i < args.size(); ++i) {
            simnotebook::Mode mode;
            if (!simnotebook::ParseMode(args[i], &mode)) {
                return Usage();
            }
            modes.push_back(mode);
        }
        simnotebook::SetModes(a, modes);
    } else if (command == L"current" && args.size() == 3 && ParseNumber(args[1].c_str(), &a)) {
        simnotebook::Mode mode;
        if (args[2] == L"none") {
            simnotebook::ClearCurrentMode(a);
        } else if (simnotebook::ParseMode(args[2], &mode)) {
            simnotebook::SetCurrentMode(a, mode);
        } else {
            return Usage();
        }
    } else if (command == L"modetakes" && args.size() == 3 && ParseNumber(args[1].c_str(), &a) &&
               ParseNumber(args[2].c_str(), &b)) {
        simnotebook::SetModeChangeTakesEffect(a, b != 0);
    } else if (command == L"wmi" && args.size() >= 2) {
        std::vector<simnotebook::WmiRow> rows;
        if (!(args.size() == 2 && args[1] == L"none")) {
            for (size_t i = 1; i < args.size(); ++i) {
                size_t colon = args[i].rfind(L':');
                if (colon == std::wstring::npos) {
                    return Usage();
                }
                std::wstring value = args[i].substr(colon + 1);
                if (value == L"null") {
                    rows.push_back(simnotebook::WmiRow{args[i].substr(0, colon), 0,
                                                       simnotebook::kVariantNull});
                    continue;
                }
                if (!ParseNumber(value.c_str(), &a)) {
                    return Usage();
                }
                rows.push_back(
                    simnotebook::WmiRow{args[i].substr(0, colon), static_cast<uint32_t>(a)});
            }
        }
        simnotebook::SetWmiRows(rows);
    } else if (command == L"wmifail" && args.size() == 2 && ParseNumber(args[1].c_str(), &a)) {
        simnotebook::SetWmiQueryFails(a != 0);
    } else if (command == L"sessionfail" && args.size() == 2 && ParseNumber(args[1].c_str(), &a)) {
        simnotebook::SetSessionRegistrationFailures(static_cast<uint32_t>(a));
    } else if (command == L"delayscale" && args.size() == 2 && ParseNumber(args[1].c_str(), &a)) {
        simnotebook::SetDelayScalePercent(static_cast<uint32_t>(a));
    } else if (command == L"lid" && args.size() == 2 && ParseNumber(args[1].c_str(), &a)) {
        simnotebook::SetLidOpen(a != 0);
    } else if (command == L"monitorpower" && args.size() == 2 && ParseNumber(args[1].c_str(), &a)) {
        simnotebook::SetMonitorPower(static_cast<uint32_t>(a));
    } else if (command == L"power-during-next-mode-change" && args.size() == 2) {
        if (args[1] == L"off") {
            simnotebook::DisarmPowerDuringNextModeChange();
        } else if (ParseNumber(args[1].c_str(), &a) && a <= 255) {
            simnotebook::ArmPowerDuringNextModeChange(static_cast<uint8_t>(a));
        } else {
            return Usage();
        }
    } else if (command == L"edid" && args.size() == 2) {
        bool readable = false;
        const std::string bytes = notebookfiles::ReadFileBytes(args[1], &readable);
        if (!readable) {
            fwprintf(stderr, L"cannot read %ls\n", args[1].c_str());
            return 1;
        }
        const std::vector<uint8_t> edid(bytes.begin(), bytes.end());
        if (!simnotebook::InstallPanelEDID(simnotebook::kDefaultPanelIdentity,
                                           simnotebook::kDefaultPanelInstanceKey, edid)) {
            fwprintf(stderr, L"cannot write the display registry key\n");
            return 1;
        }
    } else if (command == L"console-session" && args.size() == 2) {
        if (args[1] == L"self") {
            simnotebook::SetConsoleSessionSelf();
        } else if (ParseNumber(args[1].c_str(), &a)) {
            simnotebook::SetConsoleSession(static_cast<uint32_t>(a));
        } else {
            return Usage();
        }
    } else if (command == L"other-agent" && args.size() == 3) {
        if (!WriteAsOtherAgent(kHWIDResultFileName, args[1]) ||
            !WriteAsOtherAgent(kIconFileName, args[2])) {
            fwprintf(stderr, L"cannot write the data folder\n");
            return 1;
        }
    } else if (command == L"record" && args.size() == 1) {
        PrintRecord();
    } else if (command == L"clear" && args.size() == 1) {
        simnotebook::ClearRecord();
    } else {
        return Usage();
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(argv[i]);
    }
    return Run(args);
}

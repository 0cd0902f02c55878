// Gathering the facts. The agent's functions are used as they are wherever they only read;
// three of its habits are avoided: Notify_BIOS_SetOD logs a failure (AskBIOS does not),
// OD_OnOff logs the choice it reads (the state files are read raw here), and PrepareDataFolder
// creates what is missing (nothing is created here).
#include "panelcheck/machine_facts.h"

#include "agent/bios/acpi_channel.h"
#include "agent/events/registry_watch.h"
#include "agent/events/startup.h"
#include "agent/files/state_files.h"
#include "agent/log/text.h"
#include "agent/panel/edid_rates.h"
#include "agent/panel/panel_identity.h"
#include "common/owners.h"

#include <cstdio>
#include <cstddef>
#include <share.h>

namespace {

constexpr DWORD kMaxModeIndex = 4096;
constexpr long kLogTailBytes = 64 * 1024;
constexpr int kConfigLineBuffer = 1024; // as the agent reads FRQ_Config.txt
constexpr size_t kVersionCapacity = 256;
const wchar_t kDisplayEnumKey[] = L"HKLM\\SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\";

DisplayModeFact ToFact(const DEVMODEW& mode) {
    return DisplayModeFact{mode.dmPelsWidth, mode.dmPelsHeight, mode.dmBitsPerPel,
                           mode.dmDisplayFrequency};
}

// Opened with full sharing, as the agent and the plug-in open them: the agent may be writing.
FILE* OpenShared(const std::wstring& path) {
    return _wfsopen(path.c_str(), L"rb", _SH_DENYNO);
}

void GatherPanel(MachineFacts* facts) {
    facts->wmiQueried = machine::QueryMonitorConnections(&facts->wmiRows);
    facts->panelIdentity = GetInternalPanelIdentity();
    facts->panelInstance = GetInternalPanelInstance();
    if (!facts->panelIdentity.empty()) {
        // The registry keeps the instance without WMI's "_0" suffix.
        std::wstring instanceKey = facts->panelInstance.substr(0, facts->panelInstance.find(L'_'));
        facts->edidKeyPath = kDisplayEnumKey + facts->panelIdentity + L"\\" + instanceKey;
    }
    facts->edid = ReadPanelEDID(facts->panelIdentity);
    if (!HasEDIDBaseBlock(facts->edid)) {
        return;
    }
    // Trusted as the agent trusts it; read in binary to keep the line as it is written.
    TrustedPanelConfig config =
        OpenTrustedPanelConfig(kPanelConfigFolder, kPanelConfigFileName, "rb");
    if (!config.refusal.empty()) {
        facts->configFileExists = GetFileAttributesW(kPanelConfigPath) != INVALID_FILE_ATTRIBUTES;
        facts->configRefusal = config.refusal;
        return;
    }
    if (config.file == nullptr) {
        return;
    }
    FILE* file = config.file.get();
    facts->configFileExists = true;
    const std::vector<uint8_t>& b = facts->edid.bytes;
    const uint32_t manufacturerWord = b[9] * 256u + b[8];
    const uint32_t productWord = b[11] * 256u + b[10];
    // The agent's lookup, keeping the line that matched.
    char line[kConfigLineBuffer];
    while (fgets(line, kConfigLineBuffer, file) != nullptr) {
        if (MatchPanelConfigLine(ToWide(line), manufacturerWord, productWord, &facts->configured)) {
            facts->configLine = line;
            while (!facts->configLine.empty() &&
                   (facts->configLine.back() == '\n' || facts->configLine.back() == '\r')) {
                facts->configLine.pop_back();
            }
            break;
        }
    }
}

std::wstring BIOSAnswer(const wchar_t* request) {
    // What Notify_BIOS_SetOD would have answered the agent.
    return BiosAnswerText(AnswerAsNotified(AskBIOS(request)));
}

void GatherBIOS(MachineFacts* facts) {
    // Request "2" answers panelIdentity, but only when the device opens.
    facts->biosOpens = AskBIOS(L"2").status != BiosStatus::DeviceNotOpened;
    if (!facts->biosOpens) {
        facts->biosIdentity = facts->biosSupport = facts->biosODState =
            BiosAnswerText(BiosAnswer{BiosStatus::Fail, 0, {}});
        return;
    }
    facts->biosIdentity = BIOSAnswer(L"2");
    facts->biosSupport = BIOSAnswer(L"3");
    facts->biosODState = BIOSAnswer(L"4");
    facts->reenumerate = QueryReenumerateOnDeviceChange();
    (void)CloseZVKACPIDevice(); // start-up would keep it open; a tool has no use for it
}

void GatherDisplay(MachineFacts* facts) {
    SYSTEM_POWER_STATUS power = {};
    facts->powerRead = machine::GetPowerStatus(&power);
    facts->acLineStatus = facts->powerRead ? power.ACLineStatus : 0;

    // The agent reads and switches the rate on the adapter whose active monitor is the panel,
    // which is not display device 0 on every notebook (discrete graphics, docked, lid closed).
    DISPLAY_DEVICEW adapter = {};
    facts->adapterFound = FindPanelAdapter(&adapter);
    if (facts->adapterFound) {
        facts->adapterName = adapter.DeviceName;
        DEVMODEW mode = {};
        facts->currentModeRead =
            machine::ReadDisplayMode(adapter.DeviceName, ENUM_CURRENT_SETTINGS, &mode);
        if (facts->currentModeRead) {
            facts->currentMode = ToFact(mode);
        }
        for (DWORD index = 0; index < kMaxModeIndex; ++index) {
            DEVMODEW listed = {};
            if (!machine::ReadDisplayMode(adapter.DeviceName, index, &listed)) {
                break;
            }
            facts->modes.push_back(ToFact(listed));
        }
    }
    facts->panelMode = GetPanelDisplayMode();
}

RegistryNumberFact ReadProductNumber(const wchar_t* name) {
    RegistryNumberFact fact;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kProductKeyPath, name,
                     RRF_RT_DWORD | RRF_SUBKEY_WOW6464KEY, nullptr, &value,
                     &size) == ERROR_SUCCESS) {
        fact.present = true;
        fact.value = value;
    }
    return fact;
}

void GatherSettings(MachineFacts* facts) {
    facts->refreshFlag = ReadProductNumber(L"RefreshFlag");
    facts->needShow = ReadProductNumber(L"NeedShow");
    wchar_t version[kVersionCapacity] = {};
    DWORD size = sizeof version - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kVersionKeyPath, L"DisplayVersion", RRF_RT_REG_SZ, nullptr,
                     version, &size) == ERROR_SUCCESS) {
        facts->displayVersionPresent = true;
        facts->displayVersion = version;
    }
}

StateFileFact ReadStateFile(const wchar_t* name) {
    StateFileFact fact;
    fact.name = name;
    FILE* file = OpenShared(DataFilePath(name));
    if (file == nullptr) {
        return fact;
    }
    fact.exists = true;
    fact.content.resize(kStateFileReadLimit);
    fact.content.resize(fread(&fact.content[0], 1, fact.content.size(), file));
    fclose(file);
    return fact;
}

// The last lines of the log; only its end is read, however long it has grown.
void ReadLogTail(MachineFacts* facts) {
    FILE* file = OpenShared(DataFilePath(kLogFileName));
    if (file == nullptr) {
        return;
    }
    facts->logExists = true;
    std::string tail;
    if (fseek(file, 0, SEEK_END) == 0) {
        long size = ftell(file);
        long start = size > kLogTailBytes ? size - kLogTailBytes : 0;
        if (size > 0 && fseek(file, start, SEEK_SET) == 0) {
            tail.resize(static_cast<size_t>(size - start));
            tail.resize(fread(&tail[0], 1, tail.size(), file));
        }
    }
    fclose(file);
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < tail.size()) {
        size_t end = tail.find('\n', begin);
        std::string line = tail.substr(begin, end == std::string::npos ? end : end - begin);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        begin = end == std::string::npos ? tail.size() : end + 1;
    }
    size_t first = lines.size() > kLogTailLines ? lines.size() - kLogTailLines : 0;
    facts->logTail.assign(lines.begin() + static_cast<std::ptrdiff_t>(first), lines.end());
}

// What the agent's guarded writes would find: the folder or a file that is a link makes them
// refuse (common/data_folder.h). Opened for attributes only, never created.
void GatherDataFolderLinks(MachineFacts* facts) {
    const FolderCheck folder = CheckDataFolder();
    facts->dataFolder = folder.place;
    if (folder.place == DataPlace::Redirected) {
        facts->dataFolderFinalPath = folder.finalPath.text;
    }
    if (folder.place != DataPlace::Sound) {
        return;
    }
    for (const wchar_t* name : {kODResultFileName, kIconFileName, kHWIDResultFileName,
                                kLastACDCFileName, kLastDCRefreshFileName, kLogFileName}) {
        UniqueFileHandle file;
        FolderCheck again;
        if (OpenDataFile(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false,
                         file.Put(), &again) == DataPlace::Link) {
            facts->linkedFiles.push_back(DataFilePath(name));
        }
    }
}

void GatherAgent(MachineFacts* facts) {
    GatherDataFolderLinks(facts);
    for (const wchar_t* name : {kODResultFileName, kIconFileName, kHWIDResultFileName,
                                kLastACDCFileName, kLastDCRefreshFileName}) {
        facts->stateFiles.push_back(ReadStateFile(name));
    }
    ReadLogTail(facts);
    facts->logonTask = QueryLogonTask();
    facts->agentProcesses = FindAgentProcesses();
    facts->agentProgramPaths = FindProgramPaths(facts->agentProcesses);
}

} // namespace

MachineFacts GatherMachineFacts() {
    MachineFacts facts;
    GatherPanel(&facts);
    // As start-up leaves it: the BIOS channel and GetPanelDisplayMode read it.
    panelIdentity = facts.panelIdentity;
    GatherBIOS(&facts);
    GatherDisplay(&facts);
    GatherSettings(&facts);
    GatherAgent(&facts);
    return facts;
}

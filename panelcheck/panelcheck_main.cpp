// PanelCheck: a field tool that shows what the agent makes of a panel.
//   PanelCheck.exe [--json]                     this machine, read only
//   PanelCheck.exe <edid-file> [<FRQ_Config.txt>]  one EDID
// On this machine: exit code 0 when all three verdicts are positive, 1 when one is not. For an
// EDID: 0 with the report, 2 when a file cannot be read or the EDID is shorter than its
// 128-byte base block. 2 for a usage error.
#include "agent/panel/edid_rates.h"
#include "panelcheck/machine_report.h"
#include "panelcheck/panel_report.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kExitPositive = 0;
constexpr int kExitNegative = 1;
constexpr int kExitUsage = 2;
constexpr int kExitBadInput = 2;

const wchar_t kUsage[] = L"usage: PanelCheck [--json]\n"
                         L"       PanelCheck <edid-file> [<FRQ_Config.txt>]\n";

bool ReadBinaryFile(const wchar_t* path, std::vector<uint8_t>* bytes) {
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr) {
        return false;
    }
    uint8_t buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes->insert(bytes->end(), buffer, buffer + count);
    }
    bool failed = ferror(file) != 0;
    fclose(file);
    return !failed;
}

void WriteOut(const std::string& text) {
    fwrite(text.data(), 1, text.size(), stdout);
}

int CheckMachine(bool json) {
    MachineFacts facts = GatherMachineFacts();
    std::vector<ReportSection> report = BuildMachineReport(facts);
    WriteOut(json ? FormatReportJson(report) : FormatReportText(report));
    Verdicts verdicts = JudgeMachine(facts);
    return verdicts.overdrive.positive && verdicts.refreshSwitching.positive &&
                   verdicts.agent.positive
               ? kExitPositive
               : kExitNegative;
}

bool IsOption(const wchar_t* argument) {
    return argument[0] == L'-' && argument[1] == L'-';
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 1) {
        return CheckMachine(false);
    }
    if (argc == 2 && wcscmp(argv[1], L"--json") == 0) {
        return CheckMachine(true);
    }
    if (argc > 3 || IsOption(argv[1]) || (argc == 3 && IsOption(argv[2]))) {
        fwprintf(stderr, L"%ls", kUsage);
        return kExitUsage;
    }
    PanelEDID edid;
    if (!ReadBinaryFile(argv[1], &edid.bytes)) {
        fwprintf(stderr, L"PanelCheck: cannot read the EDID file %ls\n", argv[1]);
        return kExitBadInput;
    }
    edid.byteCount = static_cast<uint32_t>(edid.bytes.size());
    edid.found = true;
    if (!HasEDIDBaseBlock(edid)) {
        fwprintf(stderr, L"PanelCheck: %ls holds %u bytes, less than an EDID base block (128)\n",
                 argv[1], edid.byteCount);
        return kExitBadInput;
    }
    PanelRates configured;
    if (argc == 3) {
        FILE* probe = _wfopen(argv[2], L"rb");
        if (probe == nullptr) {
            fwprintf(stderr, L"PanelCheck: cannot read the configuration file %ls\n", argv[2]);
            return kExitBadInput;
        }
        fclose(probe);
        configured = ReadPanelConfigFile(argv[2], edid.bytes[8], edid.bytes[9], edid.bytes[10],
                                         edid.bytes[11]);
    }
    WriteOut(FormatPanelReport(edid, configured));
    return kExitPositive;
}

// PanelCheck: a field tool that shows what the agent makes of a panel's EDID.
//   PanelCheck.exe <edid-file> [<FRQ_Config.txt>]
// Exit code 0 with the report on standard output; 2 when a file cannot be read or the EDID
// is shorter than its 128-byte base block; 1 for a usage error.
#include "agent/panel/edid_rates.h"
#include "tools/panelcheck/panel_report.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kExitUsage = 1;
constexpr int kExitBadInput = 2;

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

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || argc > 3) {
        fwprintf(stderr, L"usage: PanelCheck <edid-file> [<FRQ_Config.txt>]\n");
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
    std::string report = FormatPanelReport(edid, configured);
    fwrite(report.data(), 1, report.size(), stdout);
    return 0;
}

// FRQ_Config.txt: one panel per line, "manufacturer,product,rate,rate" with the words in hex
// and the rates in decimal. Lines are read in pieces of at most 1023 characters, each piece
// handled as a line of its own. The first matching line wins.
#include "agent/panel/panel_config.h"

#include "agent/log/text.h"
#include "agent/panel/components.h"

#include <cstdio>
#include <cwchar>
#include <share.h>

namespace {

constexpr int kLineBufferSize = 1024;
constexpr size_t kFieldCount = 4;

// As wcstol and _wtoi read them: leading white space, a sign, digits (base 16 takes a 0x
// prefix); no digits gives 0. A value out of range saturates and so never matches a word.
long ReadNumber(const std::wstring& field, int base) {
    return wcstol(field.c_str(), nullptr, base);
}

} // namespace

bool MatchPanelConfigLine(const std::wstring& line, uint32_t manufacturerWord, uint32_t productWord,
                          PanelRates* rates) {
    std::vector<std::wstring> fields = SplitComponents(line, L',', kFieldCount);
    // A line with fewer than four fields names no rates; it never borrows another line's.
    if (fields.size() < kFieldCount) {
        return false;
    }
    if (ReadNumber(fields[0], 16) != static_cast<long>(manufacturerWord) ||
        ReadNumber(fields[1], 16) != static_cast<long>(productWord)) {
        return false;
    }
    rates->firstRate = static_cast<int32_t>(ReadNumber(fields[2], 10));
    rates->secondRate = static_cast<int32_t>(ReadNumber(fields[3], 10));
    rates->found = true;
    return true;
}

PanelRates ReadPanelConfigFile(const std::wstring& path, uint8_t edidByte8, uint8_t edidByte9,
                               uint8_t edidByte10, uint8_t edidByte11) {
    uint32_t manufacturerWord = edidByte9 * 256u + edidByte8;
    uint32_t productWord = edidByte11 * 256u + edidByte10;
    PanelRates result;
    FILE* file = _wfsopen(path.c_str(), L"rt", _SH_DENYNO);
    if (file == nullptr) {
        return result;
    }
    char line[kLineBufferSize];
    while (fgets(line, kLineBufferSize, file) != nullptr) {
        PanelRates rates;
        if (MatchPanelConfigLine(ToWide(line), manufacturerWord, productWord, &rates)) {
            result = rates;
            break;
        }
    }
    fclose(file);
    return result;
}

PanelRates ReadPanelConfig(uint8_t edidByte8, uint8_t edidByte9, uint8_t edidByte10,
                           uint8_t edidByte11) {
    return ReadPanelConfigFile(kPanelConfigPath, edidByte8, edidByte9, edidByte10, edidByte11);
}

// FRQ_Config.txt: the two refresh rates of known panels, keyed by EDID words.
#pragma once

#include "common/fixed_paths.h"

#include <cstdint>
#include <string>

struct PanelRates {
    int32_t firstRate = 0;
    int32_t secondRate = 0;
    bool found = false;
};

PanelRates ReadPanelConfig(uint8_t edidByte8, uint8_t edidByte9, uint8_t edidByte10,
                           uint8_t edidByte11);
// The same lookup in any file (the field tool passes one of its own).
PanelRates ReadPanelConfigFile(const std::wstring& path, uint8_t edidByte8, uint8_t edidByte9,
                               uint8_t edidByte10, uint8_t edidByte11);
// One line of the file: true with the rates when its first four fields name the panel. A line
// with fewer than four fields never matches.
bool MatchPanelConfigLine(const std::wstring& line, uint32_t manufacturerWord, uint32_t productWord,
                          PanelRates* rates);

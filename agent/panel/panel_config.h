// FRQ_Config.txt: the two refresh rates of known panels, keyed by EDID words.
#pragma once

#include <cstdint>

struct PanelRates {
    int32_t firstRate = 0;
    int32_t secondRate = 0;
    bool found = false;
};

extern const wchar_t kPanelConfigPath[];

PanelRates ReadPanelConfig(uint8_t edidByte8, uint8_t edidByte9, uint8_t edidByte10,
                           uint8_t edidByte11);

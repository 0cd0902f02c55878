// FRQ_Config.txt: the two refresh rates of known panels, keyed by EDID words.
#pragma once

#include "common/fixed_paths.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

struct PanelRates {
    int32_t firstRate = 0;
    int32_t secondRate = 0;
    bool found = false;
};

// The agent's lookup at the fixed path. A file that may not be trusted (OpenTrustedPanelConfig)
// is not read: one log line says why, and the result is not found.
PanelRates ReadPanelConfig(uint8_t edidByte8, uint8_t edidByte9, uint8_t edidByte10,
                           uint8_t edidByte11);
// The same lookup in any file (the field tool passes one of its own).
PanelRates ReadPanelConfigFile(const std::wstring& path, uint8_t edidByte8, uint8_t edidByte9,
                               uint8_t edidByte10, uint8_t edidByte11);
// One line of the file: true with the rates when its first four fields name the panel. A line
// with fewer than four fields never matches.
bool MatchPanelConfigLine(const std::wstring& line, uint32_t manufacturerWord, uint32_t productWord,
                          PanelRates* rates);

// Why a folder or file with this owner and access list may not decide every user's rates; empty
// when it may. what names it in the reason.
std::wstring PanelConfigDistrust(PSECURITY_DESCRIPTOR descriptor, const std::wstring& what);

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// The configuration file opened for reading when it may decide every user's rates: the folder
// and the file are each owned by Administrators, the system account or TrustedInstaller, and no
// one else may write, delete or re-permission either. Both are checked on the handles that are
// read, and the folder stays open (without delete sharing) until the file is, so neither can be
// swapped in between. A missing folder or file gives no file and no refusal; a refused one gives
// no file and the reason, naming the path.
struct TrustedPanelConfig {
    UniqueFile file;
    std::wstring refusal;
};
// mode is "rt" (the agent's text mode) or "rb". The permissions are read through the machine
// boundary (machine::ReadFileSecurity).
TrustedPanelConfig OpenTrustedPanelConfig(const std::wstring& folder, const wchar_t* fileName,
                                          const char* mode);

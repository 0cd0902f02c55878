// The data folder and the product key as the tools that drive the agent (the benchmark, the
// stress run) set them up and read them back, from outside the agent.
#pragma once

#include <windows.h>

#include <string>

namespace agentprocess {

// The product's uninstall key, where RefreshFlag and NeedShow live.
extern const wchar_t kProductKey[];

// All of a file's bytes from `from` on; empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path, size_t from = 0);

// A file in the data folder: its path, all of its bytes from `from` on (empty when it cannot be
// read), and a rewrite with exactly these bytes.
std::wstring DataPath(const wchar_t* name);
std::string ReadDataFile(const wchar_t* name, size_t from = 0);
void WriteDataFile(const wchar_t* name, const std::string& bytes);

// Empties the data folder, creating it and its parents when a fresh prefix has none of them.
void ResetDataFolder();

// A DWORD under the product key, created when missing.
bool SetProductValue(const wchar_t* name, DWORD value);

} // namespace agentprocess

// Helpers shared by the test programs: the data folder and registry of the test prefix.
#pragma once

#include <string>

namespace testsupport {

// Removes the data folder with everything in it and creates it empty again.
void ResetDataFolder();
// Removes the data folder entirely (the parent stays).
void RemoveDataFolder();

// Whole content of a file as bytes; `exists` false when it cannot be opened.
std::string ReadFileBytes(const std::wstring& path, bool* exists = nullptr);
void WriteFileBytes(const std::wstring& path, const std::string& bytes);

// Data folder file path.
std::wstring DataPath(const wchar_t* name);

} // namespace testsupport

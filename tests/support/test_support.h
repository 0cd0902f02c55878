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

// Links as a local user would plant them. Under Wine a symbolic link is a Unix one (made with
// /bin/ln; Wine reports it as a reparse point), elsewhere CreateSymbolicLinkW's. False when the
// link could not be made, so the caller can skip honestly.
bool MakeSymbolicLink(const std::wstring& link, const std::wstring& target);
bool MakeHardLink(const std::wstring& link, const std::wstring& target);
// Removes a symbolic link itself, never what it names.
bool RemoveSymbolicLink(const std::wstring& link);
// A folder outside the data folder for links to point at: C:\LumivaneOutside, emptied.
std::wstring ResetOutsideFolder();

} // namespace testsupport

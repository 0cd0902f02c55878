// The notebook's files and the product key as the tests, the tools and the demonstration see
// them from outside the programs: the data folder and its state files and log, FRQ_Config.txt,
// the values under the product key, and the links a local user might plant in the data folder.
// Never linked into a shipped program.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

namespace notebookfiles {

// ---- files ----

// A file's bytes from `from` on; empty, and `exists` false, when it cannot be opened.
std::string ReadFileBytes(const std::wstring& path, bool* exists = nullptr, size_t from = 0);
// Rewrites a file with exactly these bytes.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);

// ---- the data folder ----

// A file in the data folder: its path, its bytes from `from` on, a rewrite.
std::wstring DataPath(const wchar_t* name);
std::string ReadDataFile(const wchar_t* name, size_t from = 0);
void WriteDataFile(const wchar_t* name, const std::string& bytes);

// Removes the data folder with everything in it (a link in its place, or in a file's place,
// goes itself; what it names stays). Its parents stay.
void RemoveDataFolder();
// Removes the data folder and creates it empty again, with its parents when a fresh prefix has
// none of them.
void ResetDataFolder();

// ---- links, as a local user would plant them ----

// Under Wine a symbolic link is a Unix one (made with /bin/ln; Wine reports it as a reparse
// point), elsewhere CreateSymbolicLinkW's. False when the link could not be made, so the
// caller can skip honestly.
bool MakeSymbolicLink(const std::wstring& link, const std::wstring& target);
bool MakeHardLink(const std::wstring& link, const std::wstring& target);
// Removes a symbolic link itself, never what it names.
bool RemoveSymbolicLink(const std::wstring& link);
// A folder outside the data folder for links to point at: C:\LumivaneOutside, emptied.
std::wstring ResetOutsideFolder();

// ---- FRQ_Config.txt ----

// Writes the panel configuration file, creating its folders when missing.
void WritePanelConfig(const std::string& content);
void DeletePanelConfig();

// ---- the registry (HKEY_LOCAL_MACHINE) ----

bool KeyExists(const wchar_t* keyPath);
// A REG_DWORD as decimal text, a REG_SZ as itself (other than ASCII as '?'); nothing when the
// value is absent or of another type.
std::optional<std::string> ReadValueText(const wchar_t* keyPath, const wchar_t* name);

// A DWORD under the product key: written (the key created when missing), read, deleted. False
// when the key cannot be opened or the value not written or read; deleting an absent value
// succeeds.
bool SetProductValue(const wchar_t* name, DWORD value);
bool ReadProductValue(const wchar_t* name, DWORD* value);
bool DeleteProductValue(const wchar_t* name);

} // namespace notebookfiles

// The data folder shared with the plug-in and its one-value text files: single ASCII
// characters, no byte-order mark, no line end. Every access is a complete open, use, close,
// and every open lets other processes read and write the same file meanwhile: the plug-in
// must be able to store the user's choice while the agent happens to read it.
#pragma once

#include "common/fixed_paths.h"
#include "common/owners.h"

#include <cstdio>
#include <string>

// The data folder, a backslash and the file name.
std::wstring DataFilePath(const wchar_t* fileName);

// What one whitespace-delimited token read from a file gave.
struct FileToken {
    bool opened = false;   // the file could be opened for reading
    bool hasToken = false; // a token was there
    std::string token;     // the token when it fits, else empty
};

// The token readers: skip leading white space, take the next token wherever it starts; a
// token longer than maxChars reads as empty text. Memory stays bounded whatever the file holds.
FileToken ParseToken(const std::string& content, size_t maxChars);
FileToken ReadFileToken(const std::wstring& path, size_t maxChars);

// For the sites that hold two files open at once (the last-state pair): opens a state file
// with full sharing, mode "r" or "w"; null when it cannot be opened. Mode "w" follows links and
// truncates: the agent writes through OpenStateFileForWrite below.
FILE* OpenStateFile(const std::wstring& path, const wchar_t* mode);
FileToken ReadStreamToken(FILE* file, size_t maxChars);

// One-value writer: writes the value's first character (nothing for an empty value) over the
// file's old content and cuts the file after it, creating it when missing. False when the file
// could not be written, or was not because it or the data folder is a link (common/data_folder.h);
// such a refusal is logged once per file and kind while the log can be written, and the next
// write tries again.
bool WriteStateValue(const std::wstring& path, const std::wstring& value);

// For the sites that hold two files open at once (the last-state pair): opens a data-folder file
// for WriteOverStateFile under the same checks and refusal report; invalid when it cannot be
// written or must not be.
UniqueFileHandle OpenStateFileForWrite(const std::wstring& path);
bool WriteOverStateFile(HANDLE file, const std::string& value);

bool StateFileExists(const std::wstring& path);

// Creates the data folder when missing (only below a sound parent) and gives OD_Result.txt its
// default "1"; an existing choice is left untouched so it survives restarts.
void PrepareDataFolder();

// The user's choice from OD_Result.txt: a 1-3 character token, empty text for a longer one,
// "error" when there is none. A file that opens empty is read once more after a short wait,
// since the plug-in may be between truncation and write. ReadODChoice does not log.
std::wstring ReadODChoice();
std::wstring OD_OnOff();
// OD_OnOff for a value the caller has just read with ReadODChoice: logs it the same way.
std::wstring LogODChoice(const std::wstring& value);

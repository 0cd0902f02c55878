// Wide-text helpers shared by the agent's modules. Comparisons are exact and case-sensitive;
// case folding touches ASCII letters only, as the classic locale does.
#pragma once

#include <cstdint>
#include <string>

// Widens a narrow text with the calling thread's ANSI code page; null or empty gives "".
std::wstring ToWide(const char* text);
std::wstring ToWide(const std::string& text);
// Narrows character by character; anything outside one byte becomes '?'.
std::string ToNarrow(const std::wstring& text);

// Whole-text comparison that stops at the first NUL of either side.
bool TextEquals(const std::wstring& text, const wchar_t* literal);

std::wstring TrimLeft(const std::wstring& text);
std::wstring TrimRight(const std::wstring& text);
std::wstring ToUpperAscii(std::wstring text);
std::wstring NumberText(long long value);

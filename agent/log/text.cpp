#include "agent/log/text.h"

#include <windows.h>

#include <cwctype>

std::wstring ToWide(const char* text) {
    if (text == nullptr || text[0] == 0) {
        return std::wstring();
    }
    int length = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1) {
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length) - 1);
    return wide;
}

std::wstring ToWide(const std::string& text) {
    return ToWide(text.c_str());
}

std::string ToNarrow(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t c : text) {
        narrow.push_back(static_cast<unsigned>(c) < 256 ? static_cast<char>(c) : '?');
    }
    return narrow;
}

bool TextEquals(const std::wstring& text, const wchar_t* literal) {
    return wcscmp(text.c_str(), literal) == 0;
}

std::wstring TrimLeft(const std::wstring& text) {
    size_t start = 0;
    while (start < text.size() && iswspace(text[start])) {
        ++start;
    }
    return text.substr(start);
}

std::wstring TrimRight(const std::wstring& text) {
    size_t end = text.size();
    while (end > 0 && iswspace(text[end - 1])) {
        --end;
    }
    return text.substr(0, end);
}

std::wstring ToUpperAscii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return text;
}

std::wstring NumberText(long long value) {
    return std::to_wstring(value);
}

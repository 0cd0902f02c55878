#include "agent/panel/components.h"

std::vector<std::wstring> SplitComponents(const std::wstring& text, wchar_t separator,
                                          size_t maxCount) {
    std::vector<std::wstring> components;
    size_t position = 0;
    while (components.size() < maxCount) {
        size_t start = text.find_first_not_of(separator, position);
        if (start == std::wstring::npos) {
            break;
        }
        size_t end = text.find(separator, start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        components.push_back(text.substr(start, end - start));
        position = end;
    }
    return components;
}

// Splitting the panel's texts (WMI instance names, monitor device IDs, configuration lines):
// a run of separators counts as one and separators at either end yield no empty component.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// At most maxCount components; the rest of the text is dropped.
std::vector<std::wstring> SplitComponents(const std::wstring& text, wchar_t separator,
                                          size_t maxCount = static_cast<size_t>(-1));

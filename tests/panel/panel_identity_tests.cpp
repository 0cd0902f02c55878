// Choosing the internal display from WMI rows.
#include "agent/panel/panel_identity.h"

#include <gtest/gtest.h>

namespace {

const wchar_t kPanelName[] = L"DISPLAY\\ABC1234\\5&1a2b3c4d&0&UID4352_0";

machine::MonitorConnection Row(const wchar_t* name, uint32_t technology, VARTYPE type = VT_I4) {
    return machine::MonitorConnection{name, technology, type};
}

} // namespace

TEST(SelectInternalPanelComponent, Rows) {
    const struct {
        const char* name;
        std::vector<machine::MonitorConnection> rows;
        const wchar_t* identity;
        const wchar_t* instance;
    } cases[] = {
        {"embedded DisplayPort", {Row(kPanelName, 11)}, L"ABC1234", L"5&1a2b3c4d&0&UID4352_0"},
        {"internal", {Row(kPanelName, 0x80000000u)}, L"ABC1234", L"5&1a2b3c4d&0&UID4352_0"},
        {"external and LVDS skipped",
         {Row(L"DISPLAY\\EXT0001\\1&1_0", 10), Row(L"DISPLAY\\LVD0001\\1&2_0", 6),
          Row(kPanelName, 11)},
         L"ABC1234",
         L"5&1a2b3c4d&0&UID4352_0"},
        {"other values do not count",
         {Row(L"DISPLAY\\VGA0001\\1&1_0", 0), Row(L"DISPLAY\\NEAR001\\1&2_0", 0x80000001u),
          Row(L"DISPLAY\\NEAR002\\1&3_0", 0x7FFFFFFFu)},
         L"",
         L""},
        {"a value of another type is no internal display",
         {Row(L"DISPLAY\\NUL0001\\1&1_0", 0, VT_NULL), Row(L"DISPLAY\\NUL0002\\1&2_0", 0, VT_EMPTY),
          Row(L"DISPLAY\\UNS0001\\1&3_0", 11, VT_UI4),
          Row(L"DISPLAY\\STR0001\\1&4_0", 0x80000000u, VT_BSTR), Row(kPanelName, 11)},
         L"ABC1234",
         L"5&1a2b3c4d&0&UID4352_0"},
        {"first internal wins",
         {Row(L"DISPLAY\\FIRST01\\1&1_0", 0x80000000u), Row(kPanelName, 11)},
         L"FIRST01",
         L"1&1_0"},
        {"one component stops the search", {Row(L"DISPLAY", 11), Row(kPanelName, 11)}, L"", L""},
        {"two components: no instance", {Row(L"DISPLAY\\ABC1234", 11)}, L"ABC1234", L""},
        {"no component is no display",
         {Row(L"", 11), Row(L"\\\\", 11), Row(kPanelName, 11)},
         L"ABC1234",
         L"5&1a2b3c4d&0&UID4352_0"},
        {"runs of backslashes", {Row(L"\\DISPLAY\\\\ABC1234\\\\\\x_0", 11)}, L"ABC1234", L"x_0"},
        {"no rows", {}, L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::wstring(c.identity), SelectInternalPanelComponent(c.rows, 1));
        EXPECT_EQ(std::wstring(c.instance), SelectInternalPanelComponent(c.rows, 2));
    }
}

// FRQ_Config.txt lines and files. Files are written to the temporary folder; the fixed path
// is covered by the machine tests, which hold the lock for it.
#include "agent/panel/panel_config.h"
#include "tools/notebookfiles/notebook_files.h"

#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint32_t kManufacturer = 0xE509;
constexpr uint32_t kProduct = 0x0A1B;

std::wstring TempConfigPath() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"lumivane_frq_" + std::to_wstring(GetCurrentProcessId()) +
           L".txt";
}

PanelRates ReadTempConfig(const std::string& content) {
    std::wstring path = TempConfigPath();
    notebookfiles::WriteFileBytes(path, content);
    // EDID bytes 8..11 of the panel E509 / 0A1B.
    PanelRates rates = ReadPanelConfigFile(path, 0x09, 0xE5, 0x1B, 0x0A);
    DeleteFileW(path.c_str());
    return rates;
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

} // namespace

TEST(MatchPanelConfigLine, Lines) {
    const struct {
        const wchar_t* line;
        bool match;
        int32_t first;
        int32_t second;
    } cases[] = {
        {L"E509,0A1B,165,60\n", true, 165, 60},
        {L"e509 , 0xa1b , 165 , 60\n", true, 165, 60},
        {L"E509,0A1B,60,165", true, 60, 165},
        {L",,E509,,0A1B,165,,60", true, 165, 60},
        {L"E509,0A1B,165,60,30", true, 165, 60},
        {L" \tE509,0X0A1B,+165,60", true, 165, 60},
        {L"E509,0A1B,abc,60", true, 0, 60},
        {L"E509,0A1B,-144,60", true, -144, 60},
        {L"E509,0A1B,4294967152,60", true, 2147483647, 60}, // saturates
        {L"09E5,0A1B,165,60", false, 0, 0},
        {L"E509,1B0A,165,60", false, 0, 0},
        {L"1E509,0A1B,165,60", false, 0, 0},
        {L"FFFFFFFFFFE509,0A1B,165,60", false, 0, 0},
        {L"-E509,0A1B,165,60", false, 0, 0},
        {L"E509,0A1B,165", false, 0, 0},
        {L"E509,0A1B,165,", false, 0, 0},
        {L"E509,0A1B", false, 0, 0},
        {L"E509", false, 0, 0},
        {L",,,,", false, 0, 0},
        {L"", false, 0, 0},
        {L"\n", false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "line \"" << std::wstring(c.line).c_str() << "\"");
        PanelRates rates;
        EXPECT_EQ(c.match, MatchPanelConfigLine(c.line, kManufacturer, kProduct, &rates));
        EXPECT_EQ(c.match, rates.found);
        EXPECT_EQ(c.first, rates.firstRate);
        EXPECT_EQ(c.second, rates.secondRate);
    }
}

TEST(ReadPanelConfigFile, Files) {
    const std::string longLineAfterPiece =
        std::string(1023, ',') + "E509,0A1B,165,60" + std::string(2000 - 1023 - 16, ' ') + "\n";
    const std::string longLineAcrossPieces =
        std::string(1020, ',') + "E509,0A1B,165,60" + std::string(2000 - 1020 - 16, ' ') + "\n";
    const struct {
        const char* name;
        std::string content;
        bool found;
        int32_t first;
        int32_t second;
    } cases[] = {
        {"first match wins", "E509,0A1B,165,60\nE509,0A1B,144,60\n", true, 165, 60},
        {"other panels first", "AF06,519D,144,60\r\nE509,0A1C,120,60\r\nE509,0A1B,165,48\r\n", true,
         165, 48},
        {"only other panels", "AF06,519D,144,60\nE509,0A1C,120,60\n", false, 0, 0},
        {"empty file", "", false, 0, 0},
        {"last line without line end", "x\nE509,0A1B,120,48", true, 120, 48},
        {"three fields borrow nothing", "E509,0A1C,144,60\nE509,0A1B,165\n", false, 0, 0},
        {"two fields then a full line", "E509,0A1B\nE509,0A1B,120,60\n", true, 120, 60},
        {"2000 characters: second piece", longLineAfterPiece, true, 165, 60},
        {"2000 characters: split panel", longLineAcrossPieces, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PanelRates rates = ReadTempConfig(c.content);
        EXPECT_EQ(c.found, rates.found);
        EXPECT_EQ(c.first, rates.firstRate);
        EXPECT_EQ(c.second, rates.secondRate);
    }
}

TEST(ReadPanelConfigFile, MissingFileIsNotFound) {
    PanelRates rates =
        ReadPanelConfigFile(L"C:\\no\\such\\folder\\FRQ_Config.txt", 0x09, 0xE5, 0x1B, 0x0A);
    EXPECT_FALSE(rates.found);
    EXPECT_EQ(0, rates.firstRate);
    EXPECT_EQ(0, rates.secondRate);
}

// Whoever may change the file or its folder chooses every user's rates, so only the
// administrators' accounts may own or change either. Security descriptors in SDDL, the form the
// package writes them in.
TEST(PanelConfigDistrust, OwnersAndWriters) {
    const wchar_t kUser[] = L"S-1-5-21-1004336348-1177238915-682003330-1001";
    const std::wstring user = kUser;
    const struct {
        const char* name;
        std::wstring sddl;
        // Empty: trusted; else a text the reason must contain.
        std::wstring reason;
    } cases[] = {
        {"the package's folder",
         L"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", L""},
        {"owned by the system account", L"O:SYD:P(A;;FA;;;SY)(A;;FR;;;WD)", L""},
        {"owned by TrustedInstaller",
         L"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:P(A;;FA;;;BA)", L""},
        {"owned by a standard user", L"O:" + user + L"D:P(A;;FA;;;SY)(A;;FA;;;BA)",
         L"is owned by " + user},
        // Built by hand below: Wine reads "D:NO_ACCESS_CONTROL" as an empty list.
        {"no access list at all", L"", L"has no access list"},
        {"users may write", L"O:BAD:P(A;;FA;;;BA)(A;;FRFW;;;BU)", L"S-1-5-32-545 may change"},
        {"users may append", L"O:BAD:P(A;;FA;;;BA)(A;;0x4;;;BU)", L"S-1-5-32-545 may change"},
        {"users may delete a child", L"O:BAD:P(A;;FA;;;BA)(A;;0x40;;;BU)",
         L"S-1-5-32-545 may change"},
        {"a user may change the permissions", L"O:BAD:P(A;;FA;;;BA)(A;;WD;;;" + user + L")",
         user + L" may change"},
        {"everyone generic write", L"O:BAD:(A;;GW;;;WD)", L"S-1-1-0 may change"},
        {"creator owner on the object itself", L"O:BAD:P(A;;FA;;;BA)(A;;FA;;;CO)",
         L"S-1-3-0 may change"},
        // ProgramData's own entries: users create files and folders below, inherited only.
        {"inherit-only entries for new children",
         L"O:BAD:P(A;;FA;;;BA)(A;OICIIO;FA;;;CO)(A;CIIO;0x6;;;BU)", L""},
        {"a denial for users", L"O:BAD:P(D;;FA;;;BU)(A;;FA;;;BA)", L""},
        {"users may only read and list", L"O:BAD:P(A;;FA;;;BA)(A;;0x1200a9;;;BU)", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::wstring reason;
        if (c.sddl.empty()) {
            SECURITY_DESCRIPTOR nullDacl;
            BYTE administrators[SECURITY_MAX_SID_SIZE];
            DWORD size = sizeof administrators;
            ASSERT_TRUE(
                CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
            ASSERT_TRUE(InitializeSecurityDescriptor(&nullDacl, SECURITY_DESCRIPTOR_REVISION));
            ASSERT_TRUE(SetSecurityDescriptorOwner(&nullDacl, administrators, FALSE));
            ASSERT_TRUE(SetSecurityDescriptorDacl(&nullDacl, TRUE, nullptr, FALSE));
            reason = PanelConfigDistrust(&nullDacl, L"the file");
        } else {
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
                c.sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
            reason = PanelConfigDistrust(descriptor, L"the file");
            LocalFree(descriptor);
        }
        if (c.reason.empty()) {
            EXPECT_TRUE(reason.empty()) << Narrow(reason);
        } else {
            EXPECT_NE(std::wstring::npos, reason.find(c.reason)) << Narrow(reason);
        }
    }
}

// Tessel.dll as the control-centre application uses it: loaded at run time, called through
// undecorated exports, on the real data folder and registry of the test prefix.
#include "common/fixed_paths.h"
#include "tests/plugin/plugin_paths.h"
#include "tools/notebookfiles/notebook_files.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using notebookfiles::DataPath;
using notebookfiles::ReadFileBytes;
using notebookfiles::WriteFileBytes;

namespace {

constexpr size_t kCapacity = 260;
constexpr size_t kGuardChars = 16;
constexpr wchar_t kSentinel = 0xBEEF;
const wchar_t kGuid[] = L"5B81D3E07A2C4F968E1D0C47A9B3F265";
const std::string kMissing = "<missing>";

// One-byte results are read as bytes so a result other than exactly 0 or 1 shows.
struct Exports {
    BOOL(WINAPI* getDllVersion)(wchar_t*) = nullptr;
    BOOL(WINAPI* isInstalled)() = nullptr;
    BYTE(WINAPI* get)(const wchar_t*, wchar_t*) = nullptr;
    BYTE(WINAPI* set)(const wchar_t*, const wchar_t*) = nullptr;
    BYTE(WINAPI* launchApp)() = nullptr;
};

template <typename Fn> void Resolve(HMODULE module, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// An output buffer as large as the host's, followed by guard characters; everything starts as
// the sentinel so the test sees exactly what a call wrote.
struct OutputBuffer {
    std::vector<wchar_t> chars = std::vector<wchar_t>(kCapacity + kGuardChars, kSentinel);
    wchar_t* data() { return chars.data(); }
    std::wstring Text() const {
        return std::wstring(chars.data(), wcsnlen(chars.data(), kCapacity));
    }
    bool Untouched() const {
        for (wchar_t c : chars) {
            if (c != kSentinel) {
                return false;
            }
        }
        return true;
    }
    bool GuardsUntouched() const {
        for (size_t i = kCapacity; i < chars.size(); ++i) {
            if (chars[i] != kSentinel) {
                return false;
            }
        }
        return true;
    }
};

// Debugger output seen by this process. OutputDebugStringW raises a first-chance exception that
// carries the text (wide on current Windows, then the narrow one; only the narrow one on
// older Wine), which a vectored handler can record without a debugger attached.
constexpr DWORD kPrintException = 0x40010006;     // narrow text
constexpr DWORD kPrintExceptionWide = 0x4001000A; // wide text
std::vector<std::wstring> wideDebugLines;
std::vector<std::wstring> narrowDebugLines;

LONG CALLBACK RecordDebugOutput(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (record->ExceptionCode == kPrintExceptionWide) {
        wideDebugLines.push_back(reinterpret_cast<const wchar_t*>(record->ExceptionInformation[1]));
    } else if (record->ExceptionCode == kPrintException) {
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        narrowDebugLines.push_back(std::wstring(text, text + strlen(text)));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

struct DebugCapture {
    void* handler;
    DebugCapture() : handler(AddVectoredExceptionHandler(1, RecordDebugOutput)) {
        wideDebugLines.clear();
        narrowDebugLines.clear();
    }
    ~DebugCapture() { RemoveVectoredExceptionHandler(handler); }
    std::vector<std::wstring> Lines() const {
        return wideDebugLines.empty() ? narrowDebugLines : wideDebugLines;
    }
};

std::string WriteOrRemove(const wchar_t* name, const std::string& bytes) {
    if (bytes == kMissing) {
        DeleteFileW(DataPath(name).c_str());
    } else {
        WriteFileBytes(DataPath(name), bytes);
    }
    return bytes;
}

std::wstring Widened(const std::string& bytes) {
    std::wstring text(bytes.size(), L'\0');
    const int count = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                          &text[0], static_cast<int>(text.size()));
    text.resize(count > 0 ? count : 0);
    return text;
}

void RemoveCorvellKey() {
    (void)RegDeleteKeyW(HKEY_LOCAL_MACHINE, kVersionKeyPath); // absent after a clean run
}

// Stores the first byteCount bytes of chars as "DisplayVersion".
void WriteDisplayVersion(const std::wstring& chars, DWORD byteCount) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVersionKeyPath, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const LSTATUS status = RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ,
                                          reinterpret_cast<const BYTE*>(chars.data()), byteCount);
    RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS);
}

void CreateEmptyCorvellKey() {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVersionKeyPath, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

// Holds a data file open the way the other process might, for the life of the object.
struct HeldFile {
    HANDLE handle;
    HeldFile(const wchar_t* name, DWORD share)
        : handle(CreateFileW(DataPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldFile() {
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};

class Tessel : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryW(plugintest::TesselPath().c_str());
        if (module_ != nullptr) {
            Resolve(module_, "GetDllVersion", exports_.getDllVersion);
            Resolve(module_, "IsInstalled", exports_.isInstalled);
            Resolve(module_, "Get", exports_.get);
            Resolve(module_, "Set", exports_.set);
            Resolve(module_, "LaunchApp", exports_.launchApp);
        }
    }
    static void TearDownTestSuite() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
            module_ = nullptr;
        }
    }
    void SetUp() override {
        ASSERT_NE(module_, nullptr) << "cannot load the plug-in from the path given by --tessel=";
        ASSERT_NE(exports_.getDllVersion, nullptr);
        ASSERT_NE(exports_.isInstalled, nullptr);
        ASSERT_NE(exports_.get, nullptr);
        ASSERT_NE(exports_.set, nullptr);
        ASSERT_NE(exports_.launchApp, nullptr);
        notebookfiles::ResetDataFolder();
        RemoveCorvellKey();
    }
    void TearDown() override { RemoveCorvellKey(); }

    static HMODULE module_;
    static Exports exports_;
};

HMODULE Tessel::module_ = nullptr;
Exports Tessel::exports_;

TEST_F(Tessel, GetAnswersEveryKeyWhateverItsCase) {
    WriteFileBytes(DataPath(L"Icon.txt"), "2");
    struct Case {
        const wchar_t* key;
        BYTE result;
        const wchar_t* value;
    } cases[] = {
        {L"Guid", 1, kGuid},
        {L"guid", 1, kGuid},
        {L"GUID", 1, kGuid},
        {L"Name", 1, L"Lumivane"},
        {L"nAmE", 1, L"Lumivane"},
        {L"Icon", 1, L""},
        {L"ICON", 1, L""},
        {L"ModeList", 1, L""},
        {L"modelist", 1, L""},
        {L"Mode", 1, L"2"},
        {L"mode", 1, L"2"},
        {L"MODE", 1, L"2"},
        {L"", 0, L""},
        {L"Mod", 0, L""},
        {L"Modes", 0, L""},
        {L"Mode ", 0, L""},
        {L"Version", 0, L""},
        {L"Lumivane", 0, L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "key \"" << c.key << "\"");
        OutputBuffer value;
        EXPECT_EQ(exports_.get(c.key, value.data()), c.result);
        EXPECT_EQ(value.Text(), c.value);
        EXPECT_TRUE(value.GuardsUntouched());
    }
}

TEST_F(Tessel, GetModeGivesTheFirstLineOfTheIconFile) {
    const std::string longLine(300, 'x');
    struct Case {
        std::string bytes;
        std::wstring value;
    } cases[] = {
        {"2", L"2"},
        {"0", L"0"},
        {"%", L"%"},
        {"%s%n%d", L"%s%n%d"},
        {"", L""},
        {kMissing, L""},
        {"1\r\n", L"1"},
        {"0\n2", L"0"},
        {"\r\n1", L""},
        {" 1 ", L" 1 "},
        {"a\rb", L"a\rb"},
        {longLine, std::wstring(255, L'x')},
        {"\xE9", Widened("\xE9")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("Icon.txt: " + c.bytes);
        WriteOrRemove(L"Icon.txt", c.bytes);
        OutputBuffer value;
        EXPECT_EQ(exports_.get(L"Mode", value.data()), 1);
        EXPECT_EQ(value.Text(), c.value);
        EXPECT_TRUE(value.GuardsUntouched());
    }
}

TEST_F(Tessel, SetModeWritesTheChoiceAsASignedNumber) {
    struct Case {
        const wchar_t* key;
        const wchar_t* value;
        const char* bytes;
    } cases[] = {
        {L"Mode", L"0", "0"},
        {L"MODE", L"0", "0"},
        {L"mode", L"1", "1"},
        {L"Mode", L" 1abc", "1"},
        {L"Mode", L"abc", "0"},
        {L"Mode", L"", "0"},
        {L"Mode", L"-1", "-1"},
        {L"Mode", L"+7", "7"},
        {L"Mode", L"007", "7"},
        {L"Mode", L"\t\r\n 12 3", "12"},
        {L"Mode", L"- 1", "0"},
        {L"Mode", L"2147483647", "2147483647"},
        {L"Mode", L"99999999999", "2147483647"},
        {L"Mode", L"-2147483648", "-2147483648"},
        {L"Mode", L"-99999999999999999999999", "-2147483648"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << " = \"" << c.value << "\"");
        // A longer earlier content proves the file is truncated.
        WriteFileBytes(DataPath(L"OD_Result.txt"), "1111111111111");
        EXPECT_EQ(exports_.set(c.key, c.value), 1);
        EXPECT_EQ(ReadFileBytes(DataPath(L"OD_Result.txt")), c.bytes);
    }
}

TEST_F(Tessel, SetWithAnotherKeyLeavesTheChoiceAlone) {
    for (const std::string& before : {std::string("1"), kMissing}) {
        for (const wchar_t* key : {L"Icon", L"Guid", L"Name", L"ModeList", L"", L"Mode "}) {
            SCOPED_TRACE(testing::Message() << "key \"" << key << "\", file " << before.c_str());
            WriteOrRemove(L"OD_Result.txt", before);
            EXPECT_EQ(exports_.set(key, L"0"), 0);
            bool exists = false;
            const std::string after = ReadFileBytes(DataPath(L"OD_Result.txt"), &exists);
            EXPECT_EQ(exists ? after : kMissing, before);
        }
    }
}

TEST_F(Tessel, SetReportsAChoiceThatWasNotStored) {
    {
        SCOPED_TRACE("data folder missing");
        notebookfiles::RemoveDataFolder();
        EXPECT_EQ(exports_.set(L"Mode", L"0"), 0);
        EXPECT_EQ(GetFileAttributesW(L"C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane"),
                  INVALID_FILE_ATTRIBUTES);
    }
    {
        SCOPED_TRACE("choice file held without sharing");
        notebookfiles::ResetDataFolder();
        WriteFileBytes(DataPath(L"OD_Result.txt"), "1");
        HeldFile held(L"OD_Result.txt", 0);
        ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(exports_.set(L"Mode", L"0"), 0);
    }
    EXPECT_EQ(ReadFileBytes(DataPath(L"OD_Result.txt")), "1");

    // A user's link in the folder's or the file's place: nothing is written where it points.
    enum class Planted { FolderLink, FileLink, HardLink };
    const struct {
        const char* name;
        Planted planted;
    } links[] = {{"data folder a symbolic link", Planted::FolderLink},
                 {"choice file a symbolic link", Planted::FileLink},
                 {"choice file a hard link", Planted::HardLink}};
    for (const auto& link : links) {
        SCOPED_TRACE(link.name);
        notebookfiles::ResetDataFolder();
        const std::wstring outside = notebookfiles::ResetOutsideFolder() + L"\\OD_Result.txt";
        WriteFileBytes(outside, "outside");
        bool made = false;
        if (link.planted == Planted::FolderLink) {
            notebookfiles::RemoveDataFolder();
            made = notebookfiles::MakeSymbolicLink(L"C:\\Users\\Public\\Roaming\\ZAVIK\\Lumivane",
                                                   notebookfiles::ResetOutsideFolder());
            WriteFileBytes(outside, "outside");
        } else if (link.planted == Planted::FileLink) {
            made = notebookfiles::MakeSymbolicLink(DataPath(L"OD_Result.txt"), outside);
        } else {
            made = notebookfiles::MakeHardLink(DataPath(L"OD_Result.txt"), outside);
        }
        ASSERT_TRUE(made) << "this platform made no link";
        EXPECT_EQ(exports_.set(L"Mode", L"0"), 0);
        EXPECT_EQ(ReadFileBytes(outside), "outside");
    }
    notebookfiles::ResetDataFolder();
    EXPECT_EQ(exports_.set(L"Mode", L"0"), 1);
    EXPECT_EQ(ReadFileBytes(DataPath(L"OD_Result.txt")), "0");
}

// The agent may hold any state file open for reading and writing while the host calls in.
TEST_F(Tessel, FilesHeldOpenByTheOtherProcessAreStillReadAndWritten) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    {
        SCOPED_TRACE("OD_Result.txt");
        WriteFileBytes(DataPath(L"OD_Result.txt"), "1");
        HeldFile held(L"OD_Result.txt", share);
        ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(exports_.set(L"Mode", L"0"), 1);
    }
    EXPECT_EQ(ReadFileBytes(DataPath(L"OD_Result.txt")), "0");
    {
        SCOPED_TRACE("Icon.txt");
        WriteFileBytes(DataPath(L"Icon.txt"), "1");
        HeldFile held(L"Icon.txt", share);
        ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
        OutputBuffer value;
        EXPECT_EQ(exports_.get(L"Mode", value.data()), 1);
        EXPECT_EQ(value.Text(), L"1");
    }
    {
        SCOPED_TRACE("HWID_Result.txt");
        WriteFileBytes(DataPath(L"HWID_Result.txt"), "1");
        HeldFile held(L"HWID_Result.txt", share);
        ASSERT_NE(held.handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(exports_.isInstalled(), 1);
    }
}

TEST_F(Tessel, IsInstalledOnlyForTheSingleLineOne) {
    struct Case {
        std::string bytes;
        BOOL result;
    } cases[] = {
        {"1", 1},  {"1\r\n", 1}, {"1\n", 1},    {"1\n0", 1},  {"0", 0}, {"1 ", 0},  {" 1", 0},
        {"11", 0}, {"", 0},      {kMissing, 0}, {"\r\n1", 0}, {"2", 0}, {"YES", 0}, {"1\t\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("HWID_Result.txt: " + c.bytes);
        WriteOrRemove(L"HWID_Result.txt", c.bytes);
        EXPECT_EQ(exports_.isInstalled(), c.result);
    }
}

TEST_F(Tessel, GetDllVersionLeavesTheBufferAloneWithoutAVersion) {
    {
        SCOPED_TRACE("no key");
        OutputBuffer version;
        EXPECT_EQ(exports_.getDllVersion(version.data()), 0);
        EXPECT_TRUE(version.Untouched());
    }
    {
        SCOPED_TRACE("key without the value");
        CreateEmptyCorvellKey();
        OutputBuffer version;
        EXPECT_EQ(exports_.getDllVersion(version.data()), 0);
        EXPECT_TRUE(version.Untouched());
    }
    {
        SCOPED_TRACE("value longer than the buffer");
        const std::wstring tooLong(300, L'9');
        WriteDisplayVersion(tooLong, static_cast<DWORD>((tooLong.size() + 1) * sizeof(wchar_t)));
        OutputBuffer version;
        EXPECT_EQ(exports_.getDllVersion(version.data()), 0);
        EXPECT_TRUE(version.Untouched());
    }
}

TEST_F(Tessel, GetDllVersionCopiesTheValueBoundedAndTerminated) {
    const std::wstring full(259, L'7');
    // The registry counts in a terminator that directly follows the data given to it, so the
    // unterminated value is stored from a longer string.
    const std::wstring unterminated(261, L'8');
    struct Case {
        const char* name;
        std::wstring stored;
        DWORD bytes;
        std::wstring expected;
    } cases[] = {
        {"short", L"1.0.3.12", 9 * sizeof(wchar_t), L"1.0.3.12"},
        {"empty", L"", sizeof(wchar_t), L""},
        {"259 characters", full, 260 * sizeof(wchar_t), full},
        {"260 characters without terminator", unterminated, 260 * sizeof(wchar_t),
         std::wstring(259, L'8')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteDisplayVersion(c.stored, c.bytes);
        OutputBuffer version;
        EXPECT_EQ(exports_.getDllVersion(version.data()), 1);
        EXPECT_EQ(version.Text(), c.expected);
        EXPECT_EQ(version.chars[c.expected.size()], L'\0');
        EXPECT_TRUE(version.GuardsUntouched());
    }
}

TEST_F(Tessel, DebugLinesCarryTheValuesLiterally) {
    WriteFileBytes(DataPath(L"Icon.txt"), "%s%n");
    WriteDisplayVersion(L"2.5", 4 * sizeof(wchar_t));
    DebugCapture capture;
    OutputBuffer value;
    exports_.get(L"Mode", value.data());
    exports_.set(L"mode", L" 1abc%");
    exports_.getDllVersion(value.data());
    exports_.get(L"Guid", value.data());
    exports_.set(L"Icon", L"1");
    exports_.isInstalled();
    const std::vector<std::wstring> expected = {
        L"Tessel: Get Mode = %s%n \n",
        L"Tessel: Set Mode =  1abc% \n",
        L"Tessel: Get Version = 2.5 \n",
    };
    if (capture.Lines().empty()) {
        GTEST_SKIP() << "this platform raises no exception for debugger output";
    }
    EXPECT_EQ(capture.Lines(), expected);
}

TEST_F(Tessel, CarriesItsVersionResource) {
    const std::wstring& path = plugintest::TesselPath();
    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(0, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, 0u);
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\ProductName",
                               reinterpret_cast<void**>(&text), &size));
    EXPECT_STREQ(text, L"Lumivane");
    EXPECT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\FileDescription",
                               reinterpret_cast<void**>(&text), &size));
}

TEST_F(Tessel, LaunchAppDoesNothing) {
    EXPECT_EQ(exports_.launchApp(), 0);
    bool exists = true;
    ReadFileBytes(DataPath(L"OD_Result.txt"), &exists);
    EXPECT_FALSE(exists);
}

} // namespace

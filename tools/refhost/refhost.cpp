// RefHost: a stand-in for the maker's control-centre application. It loads Tessel.dll, listens
// for the agent's "NOTIFY_GC_MODECHANGE" broadcast on a hidden top-level window and reads the
// icon state through the plug-in on each notice, exactly as the real host does; on request it
// stores a choice through the plug-in. It is driven line by line on standard input and reports
// line by line on standard output, so tests, demonstrations and benchmarks can script it.
//
//   RefHost.exe [--plugin <path>] [--log <file>] [--exit-after <n>] [--no-stdin]
//
// Commands: "set <value>" (the value is the rest of the line, spaces included), "get", "quit".
// End of input counts as "quit" unless --no-stdin is given.
// Output:   "plugin <path>", "ready", "set <value> -> <0|1>", "get mode=<value>",
//           "notice wparam=0x<8 hex> lparam=<n> mode=<value> since-set-ms=<n|-1> count=<n>",
//           "error <text>", "bye".
//
// Design: the window thread owns the plug-in, the output and all timing; the standard-input
// thread only hands each line over by PostMessageW, so no call into the plug-in races another.
// The window must be top-level (not message-only): HWND_BROADCAST reaches only those.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <iostream>
#include <string>

namespace {

// A line from standard input; lParam owns a heap std::string the window thread deletes.
constexpr UINT WM_REFHOST_COMMAND = WM_APP + 1;
// End of standard input.
constexpr UINT WM_REFHOST_INPUT_ENDED = WM_APP + 2;

constexpr int kExitOk = 0;
constexpr int kExitStartFailed = 2;
constexpr size_t kOutputCapacity = 260;

const wchar_t kWindowClass[] = L"LumivaneRefHostWindow";
const wchar_t kModeChangeMessageName[] = L"NOTIFY_GC_MODECHANGE";

using GetFn = bool(WINAPI*)(const wchar_t*, wchar_t*);
using SetFn = bool(WINAPI*)(const wchar_t*, const wchar_t*);

// Everything below belongs to the window thread once the message loop runs.
GetFn pluginGet = nullptr;
SetFn pluginSet = nullptr;
UINT modeChangeMessage = 0;
std::wstring logPath;
long long exitAfterNotices = 0; // 0: never
long long noticeCount = 0;
bool haveSet = false;
LARGE_INTEGER lastSetTime = {};
LARGE_INTEGER counterFrequency = {};

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) {
        return std::string();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0],
                            size, nullptr, nullptr);
    }
    return result;
}

std::wstring FromUtf8(const std::string& text) {
    if (text.empty()) {
        return std::wstring();
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(size > 0 ? size : 0, L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0],
                            size);
    }
    return result;
}

// Appends one line to the log file, opened and closed each time with full sharing so another
// process can read it (and wait on it) while we write.
void AppendToLog(const std::string& line) {
    if (logPath.empty()) {
        return;
    }
    HANDLE file = CreateFileW(logPath.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return; // a lost log line must not stop the host
    }
    const std::string bytes = line + "\n";
    DWORD written = 0;
    (void)WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// Every output line is flushed at once: the reader on the other end of the pipe waits on it.
void Emit(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    AppendToLog(line);
}

std::string ReadMode() {
    wchar_t value[kOutputCapacity] = {};
    pluginGet(L"Mode", value);
    value[kOutputCapacity - 1] = L'\0';
    return ToUtf8(value);
}

long long MillisecondsSinceSet() {
    if (!haveSet) {
        return -1;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - lastSetTime.QuadPart) * 1000 / counterFrequency.QuadPart;
}

void Quit(HWND window) {
    Emit("bye");
    DestroyWindow(window);
}

LRESULT OnModeChange(HWND window, WPARAM wParam, LPARAM lParam) {
    ++noticeCount;
    const std::string mode = ReadMode();
    char head[96];
    std::snprintf(head, sizeof head, "notice wparam=0x%08llx lparam=%lld mode=",
                  static_cast<unsigned long long>(wParam), static_cast<long long>(lParam));
    Emit(head + mode + " since-set-ms=" + std::to_string(MillisecondsSinceSet()) +
         " count=" + std::to_string(noticeCount));
    if (exitAfterNotices > 0 && noticeCount >= exitAfterNotices) {
        Quit(window);
    }
    return 0;
}

void RunCommand(HWND window, const std::string& line) {
    if (line == "quit") {
        Quit(window);
    } else if (line == "get") {
        Emit("get mode=" + ReadMode());
    } else if (line == "set" || line.compare(0, 4, "set ") == 0) {
        const std::string value = line.size() > 4 ? line.substr(4) : std::string();
        QueryPerformanceCounter(&lastSetTime);
        haveSet = true;
        const bool stored = pluginSet(L"Mode", FromUtf8(value).c_str());
        Emit("set " + value + " -> " + (stored ? "1" : "0"));
    } else if (!line.empty()) {
        Emit("error unknown command " + line);
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // A registered message has no constant value, so it cannot be a case label.
    if (modeChangeMessage != 0 && message == modeChangeMessage) {
        return OnModeChange(window, wParam, lParam);
    }
    switch (message) {
    case WM_REFHOST_COMMAND: {
        std::string* line = reinterpret_cast<std::string*>(lParam);
        RunCommand(window, *line);
        delete line;
        return 0;
    }
    case WM_REFHOST_INPUT_ENDED:
        Quit(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(kExitOk);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI ReadInput(void* parameter) {
    HWND window = static_cast<HWND>(parameter);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::string* owned = new std::string(line);
        if (!PostMessageW(window, WM_REFHOST_COMMAND, 0, reinterpret_cast<LPARAM>(owned))) {
            delete owned; // the window is gone: the process is ending
            return 0;
        }
    }
    PostMessageW(window, WM_REFHOST_INPUT_ENDED, 0, 0);
    return 0;
}

std::wstring DefaultPluginPath() {
    wchar_t module[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring path(module, length < MAX_PATH ? length : 0);
    const size_t slash = path.find_last_of(L"\\/");
    path = slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    return path + L"Tessel.dll";
}

int Fail(const std::string& text) {
    Emit("error " + text);
    return kExitStartFailed;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // Lines end in a bare LF on the pipe as in the log file, whatever reads them.
    (void)_setmode(_fileno(stdout), _O_BINARY);
    std::wstring pluginPath = DefaultPluginPath();
    bool readInput = true;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--plugin" && hasValue) {
            pluginPath = argv[++i];
        } else if (arg == L"--log" && hasValue) {
            logPath = argv[++i];
        } else if (arg == L"--exit-after" && hasValue) {
            exitAfterNotices = _wtoi64(argv[++i]);
        } else if (arg == L"--no-stdin") {
            readInput = false;
        } else {
            return Fail("usage: RefHost.exe [--plugin <path>] [--log <file>] [--exit-after <n>] "
                        "[--no-stdin]");
        }
    }
    QueryPerformanceFrequency(&counterFrequency);

    HMODULE plugin = LoadLibraryW(pluginPath.c_str());
    if (plugin == nullptr) {
        const DWORD error = GetLastError();
        return Fail("cannot load plug-in " + ToUtf8(pluginPath) + " (" + std::to_string(error) +
                    ")");
    }
    pluginGet = reinterpret_cast<GetFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "Get")));
    pluginSet = reinterpret_cast<SetFn>(reinterpret_cast<void*>(GetProcAddress(plugin, "Set")));
    if (pluginGet == nullptr || pluginSet == nullptr) {
        return Fail("plug-in lacks Get or Set: " + ToUtf8(pluginPath));
    }
    Emit("plugin " + ToUtf8(pluginPath));

    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0) {
        return Fail("cannot register the window class (" + std::to_string(GetLastError()) + ")");
    }
    modeChangeMessage = RegisterWindowMessageW(kModeChangeMessageName);
    if (modeChangeMessage == 0) {
        return Fail("cannot register NOTIFY_GC_MODECHANGE (" + std::to_string(GetLastError()) +
                    ")");
    }
    HWND window = CreateWindowExW(0, kWindowClass, L"Lumivane reference host", WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return Fail("cannot create the window (" + std::to_string(GetLastError()) + ")");
    }
    // An elevated control centre would otherwise drop the agent's broadcast; the result only
    // matters where message filtering exists.
    (void)ChangeWindowMessageFilterEx(window, modeChangeMessage, MSGFLT_ALLOW, nullptr);

    if (readInput) {
        // The thread blocks in the read until input ends or the process exits; it is never
        // joined.
        HANDLE reader = CreateThread(nullptr, 0, ReadInput, window, 0, nullptr);
        if (reader == nullptr) {
            return Fail("cannot start the input thread (" + std::to_string(GetLastError()) + ")");
        }
        CloseHandle(reader);
    }
    Emit("ready");

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    // Leave at once: the input thread may still sit in its read.
    std::fflush(stdout);
    ExitProcess(static_cast<UINT>(message.wParam));
}

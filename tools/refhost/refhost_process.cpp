#include "tools/refhost/refhost_process.h"

#include <chrono>

namespace refhost {

namespace {

// Command-line quoting as the runtime's argument parser undoes it: backslashes double only
// before a quote.
std::wstring QuoteArgument(const std::wstring& arg) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

void CloseIfOpen(HANDLE& handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

} // namespace

LineMatch StartsWith(std::string prefix) {
    return
        [prefix](const std::string& line) { return line.compare(0, prefix.size(), prefix) == 0; };
}

LineMatch Contains(std::string text) {
    return [text](const std::string& line) { return line.find(text) != std::string::npos; };
}

LineMatch NoticeWithMode(std::string mode) {
    return [mode](const std::string& line) {
        return line.compare(0, 7, "notice ") == 0 && LineField(line, "mode") == mode;
    };
}

std::optional<std::string> LineField(const std::string& line, const std::string& name) {
    const std::string key = name + "=";
    size_t at = 0;
    while ((at = line.find(key, at)) != std::string::npos) {
        if (at == 0 || line[at - 1] == ' ') {
            const size_t start = at + key.size();
            const size_t end = line.find(' ', start);
            return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
        }
        at += key.size();
    }
    return std::nullopt;
}

std::wstring ToWindowsPath(const std::wstring& path) {
    std::wstring result = path;
    for (wchar_t& c : result) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    if (!path.empty() && path[0] == L'/') {
        result = L"Z:" + result;
    }
    return result;
}

RefHostProcess::~RefHostProcess() {
    Stop();
}

bool RefHostProcess::Start(const std::wstring& exePath, const std::vector<std::wstring>& args) {
    if (process_ != nullptr) {
        return false;
    }
    // Our ends stay private; only the child's ends are made inheritable.
    HANDLE childInput = nullptr;
    HANDLE childOutput = nullptr;
    if (!CreatePipe(&childInput, &input_, nullptr, 0)) {
        return false;
    }
    if (!CreatePipe(&output_, &childOutput, nullptr, 0)) {
        CloseHandle(childInput);
        CloseIfOpen(input_);
        return false;
    }
    SetHandleInformation(childInput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(childOutput, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);

    std::wstring commandLine = QuoteArgument(exePath);
    for (const std::wstring& arg : args) {
        commandLine += L" " + QuoteArgument(arg);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = childOutput;
    PROCESS_INFORMATION info = {};
    const BOOL started = CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                        nullptr, nullptr, &startup, &info);
    // The child holds its own copies; ours must go, or the output never ends.
    CloseHandle(childInput);
    CloseHandle(childOutput);
    if (!started) {
        CloseIfOpen(input_);
        CloseIfOpen(output_);
        return false;
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    processId_ = info.dwProcessId;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.clear();
        taken_.clear();
        outputEnded_ = false;
    }
    reader_ = std::thread([this] { ReadOutput(); });
    return true;
}

// Polls rather than blocking in ReadFile: under Wine the desktop process, started with the
// first window of the session, may keep a copy of the child's output handle, so the pipe need
// not break when the child ends. Reading stops once the child is gone and the pipe is drained.
bool RefHostProcess::ReadSome(char* buffer, DWORD size, DWORD* count) {
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr)) {
            return false;
        }
        if (available > 0) {
            return ReadFile(output_, buffer, available < size ? available : size, count, nullptr) &&
                   *count > 0;
        }
        if (WaitForSingleObject(process_, kOutputPollMs) == WAIT_OBJECT_0) {
            // One last look: the child may have written just before it ended.
            if (!PeekNamedPipe(output_, nullptr, 0, nullptr, &available, nullptr) ||
                available == 0) {
                return false;
            }
        }
    }
}

void RefHostProcess::ReadOutput() {
    std::string pending;
    char buffer[4096];
    DWORD count = 0;
    while (ReadSome(buffer, sizeof buffer, &count)) {
        pending.append(buffer, count);
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
            taken_.push_back(false);
            changed_.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!pending.empty()) {
        lines_.push_back(pending);
        taken_.push_back(false);
    }
    outputEnded_ = true;
    changed_.notify_all();
}

bool RefHostProcess::Send(const std::string& command) {
    if (input_ == nullptr) {
        return false;
    }
    const std::string bytes = command + "\n";
    DWORD written = 0;
    return WriteFile(input_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void RefHostProcess::CloseInput() {
    CloseIfOpen(input_);
}

std::optional<std::string> RefHostProcess::WaitForLine(const LineMatch& match, DWORD timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    size_t checked = 0;
    for (;;) {
        for (; checked < lines_.size(); ++checked) {
            if (!taken_[checked] && match(lines_[checked])) {
                taken_[checked] = true;
                return lines_[checked];
            }
        }
        if (outputEnded_) {
            return std::nullopt;
        }
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout &&
            checked == lines_.size()) {
            return std::nullopt;
        }
    }
}

void RefHostProcess::SkipReceived() {
    std::lock_guard<std::mutex> lock(mutex_);
    taken_.assign(taken_.size(), true);
}

std::vector<std::string> RefHostProcess::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::optional<DWORD> RefHostProcess::WaitForExit(DWORD timeoutMs) {
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process_, &code)) {
        return std::nullopt;
    }
    return code;
}

std::optional<DWORD> RefHostProcess::Stop(DWORD timeoutMs) {
    if (process_ == nullptr) {
        return std::nullopt;
    }
    (void)Send("quit"); // the child may already be gone
    CloseInput();
    std::optional<DWORD> code = WaitForExit(timeoutMs);
    if (!code) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, INFINITE);
    }
    // The reader ends once the child is gone and its output is drained.
    if (reader_.joinable()) {
        reader_.join();
    }
    CloseIfOpen(output_);
    CloseIfOpen(process_);
    processId_ = 0;
    return code;
}

} // namespace refhost

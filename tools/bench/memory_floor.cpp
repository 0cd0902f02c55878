// MemoryFloor: the least a program of the agent's kind can be, as the floor its working set and
// start-up are set against: built by the same compiler with the same runtime and static
// linking, it opens a hidden window and runs a message loop, nothing else. Bench.exe finds the
// window by its class, sends it the agent's notifications and ends it with WM_CLOSE.
#include <windows.h>

namespace {

const wchar_t kWindowClass[] = L"LumivaneMemoryFloor";

LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = FloorWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassExW(&windowClass) == 0) {
        return 1;
    }
    // Top-level and hidden like the agent's, so that it receives the same broadcasts.
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, kWindowClass, WS_POPUP, 0, 0, 0,
                                  0, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

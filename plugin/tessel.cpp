#include <windows.h>

extern "C" {
BOOL __stdcall GetDllVersion(wchar_t*) {
    return FALSE;
}
BOOL __stdcall IsInstalled() {
    return FALSE;
}
bool __stdcall Get(const wchar_t*, wchar_t*) {
    return false;
}
bool __stdcall Set(const wchar_t*, const wchar_t*) {
    return false;
}
bool __stdcall LaunchApp() {
    return false;
}
}

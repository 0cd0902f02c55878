#include <windows.h>

// Entry point of the agent; the start-up sequence lives in startup.cpp.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return 0;
}

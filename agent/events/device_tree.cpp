#include "agent/events/device_tree.h"

#include <windows.h>

#include <cfgmgr32.h>

namespace {

using LocateDevNode = CONFIGRET(WINAPI*)(PDEVINST, DEVINSTID_W, ULONG);
using ReenumerateDevNode = CONFIGRET(WINAPI*)(DEVINST, ULONG);

// Releases the library on every path.
struct LibraryOwner {
    HMODULE module;
    ~LibraryOwner() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
};

} // namespace

bool ReenumerateDeviceTree() {
    // From the system folder only: a file of that name beside the agent must not be run.
    LibraryOwner library{LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)};
    if (library.module == nullptr) {
        return false;
    }
    auto locate = reinterpret_cast<LocateDevNode>(
        reinterpret_cast<void (*)()>(GetProcAddress(library.module, "CM_Locate_DevNodeW")));
    auto reenumerate = reinterpret_cast<ReenumerateDevNode>(
        reinterpret_cast<void (*)()>(GetProcAddress(library.module, "CM_Reenumerate_DevNode")));
    if (locate == nullptr || reenumerate == nullptr) {
        return false;
    }
    DEVINST root = 0;
    if (locate(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) {
        return false;
    }
    // Asynchronous: the platform does the work after the call returns, so the library may go.
    (void)reenumerate(root, CM_REENUMERATE_ASYNCHRONOUS);
    return true;
}

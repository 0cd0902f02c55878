#include "agent/state/agent_lock.h"

#include <windows.h>

namespace {

HANDLE LockMutex() {
    // Created on first use; lives as long as the process.
    static HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
    return mutex;
}

} // namespace

DWORD WaitAnsweringSentMessages(HANDLE object, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            const ULONGLONG now = GetTickCount64();
            left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        }
        DWORD result =
            MsgWaitForMultipleObjectsEx(1, &object, left, QS_SENDMESSAGE, MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0 + 1) {
            // Answers the messages other threads sent us (a broadcast among them).
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            continue;
        }
        return result;
    }
}

AgentLock::AgentLock() {
    HANDLE mutex = LockMutex();
    // Uncontended: taken at once, without answering anything meanwhile.
    DWORD immediate = WaitForSingleObject(mutex, 0);
    if (immediate == WAIT_OBJECT_0 || immediate == WAIT_ABANDONED) {
        return;
    }
    if (WaitAnsweringSentMessages(mutex, INFINITE) == WAIT_FAILED) {
        // A failed wait cannot be recovered from: take the plain wait instead of spinning.
        WaitForSingleObject(mutex, INFINITE);
    }
}

AgentLock::~AgentLock() {
    ReleaseMutex(LockMutex());
}

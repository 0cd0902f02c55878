// One lock serialises decision cycles, folder-watcher handlers and start-up's device query:
// they share appliedODStatus, currentODIcon, temp_OD_Icon and the ACPI device handle.
//
// A decision cycle broadcasts to every top-level window, the agent's own included, and waits
// for the answers while it holds the lock. So a thread that waits for the lock keeps
// answering messages sent to it: the window thread never stalls the watcher thread's
// broadcast, and the two never deadlock. The lock is recursive for its owner.
#pragma once

#include <windows.h>

class AgentLock {
  public:
    AgentLock();
    ~AgentLock();
    AgentLock(const AgentLock&) = delete;
    AgentLock& operator=(const AgentLock&) = delete;
};

// Waits for object as the lock does, answering meanwhile the messages other threads send to
// this one; for the window thread, which must never stop answering a broadcast. timeoutMs may
// be INFINITE. The wait's result: WAIT_OBJECT_0, WAIT_ABANDONED_0, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitAnsweringSentMessages(HANDLE object, DWORD timeoutMs);

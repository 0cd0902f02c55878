// One lock serialises decision cycles, folder-watcher handlers and start-up's device query:
// they share appliedODStatus, currentODIcon, temp_OD_Icon and the ACPI device handle.
//
// A decision cycle broadcasts to every top-level window, the agent's own included, and waits
// for the answers while it holds the lock. So a thread that waits for the lock keeps
// answering messages sent to it: the window thread never stalls the watcher thread's
// broadcast, and the two never deadlock. The lock is recursive for its owner.
#pragma once

class AgentLock {
  public:
    AgentLock();
    ~AgentLock();
    AgentLock(const AgentLock&) = delete;
    AgentLock& operator=(const AgentLock&) = delete;
};

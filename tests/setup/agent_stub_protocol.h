// How the tests and the agent stand-in talk: two named events and one registry value.
#pragma once

#include <windows.h>

// A semaphore released once by every stub that has started and recorded its path: several
// stubs starting together must each count, which an auto-reset event would not do.
constexpr wchar_t kAgentStubStartedSemaphore[] = L"LumivaneAgentStubStarted";
// Manual-reset; set by the test to let every stub end with exit code 0.
constexpr wchar_t kAgentStubStopEvent[] = L"LumivaneAgentStubStop";
// HKCU key whose value holds the full path of the stub started last.
constexpr wchar_t kAgentStubKey[] = L"Software\\LumivaneAgentStub";
constexpr wchar_t kAgentStubStartedValue[] = L"LastStarted";
constexpr DWORD kAgentStubLifetimeMs = 120000;
// Argument that makes the stand-in hold its own program file as Windows holds a running one's.
constexpr wchar_t kAgentStubHoldProgramFile[] = L"/hold-program-file";

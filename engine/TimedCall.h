// Tool-help calls that can hang on a process that is starting or ending,
// each made on a thread of its own that is given up at its time limit.
#pragma once

#include "Handle.h"
#include "RuntimeApi.h"

#include <windows.h>
#include <tlhelp32.h>

// Call threads that are still in their call: those given up at their limit
// go on until it returns, and only the process's end stops them.
LONG TimedCallsRunning();

// A snapshot of the process's modules, taken again while the system says
// the list changed as it was read; INVALID_HANDLE_VALUE when it failed or
// took longer than limitMs.
HANDLE TimedModuleSnapshot(CreateToolhelp32SnapshotFn create, DWORD processId, DWORD limitMs);

// next (Module32Next or Module32NextW) on the snapshot: 1 when it gave the
// next entry within limitMs. entry is written only then. A call given up
// keeps the snapshot's handle open until it returns (closed earlier, the
// value could come to name the next snapshot, which the call would then
// step), and snapshot becomes a copy of it, or empty.
int TimedModuleNext(BOOL(WINAPI* next)(HANDLE, MODULEENTRY32*), SnapshotHandle& snapshot, MODULEENTRY32* entry,
                    DWORD limitMs);
int TimedModuleNext(BOOL(WINAPI* next)(HANDLE, MODULEENTRY32W*), SnapshotHandle& snapshot, MODULEENTRY32W* entry,
                    DWORD limitMs);

// A snapshot of the running processes and the modules each has loaded,
// taken with the strategy of the running Windows family.
#pragma once

#include "Handle.h"
#include "RuntimeApi.h"

#include <windows.h>

struct ModuleRecord {
    HMODULE base;
    DWORD size;
    // Wide, so that a folder the ANSI code page cannot spell still names
    // the file; the Windows 95 family's paths are converted from it.
    wchar_t path[MAX_PATH];
};

struct ProcessRecord {
    DWORD processId;
    DWORD threadCount;
    char name[128];
    DWORD moduleCount;
    ModuleRecord* modules;  // owned; moduleCount of them are filled
};

// Why a refresh could not list the processes, where it is worth telling.
enum ListGap : uint8_t {
    GapNone = 0,
    // The NT family without the process-status library in its system
    // folder: NT 4.0 has it only where an SDK or an application put it.
    GapNoPsapi = 1
};

// Bytes 0x61..0x7A become capitals; every other byte stays, whatever the
// code page, so double-byte characters are never split or changed.
void UppercaseAscii(char* text);
// L'a'..L'z' become capitals, nothing else: the 8-bit rule, for wide text.
void UppercaseAscii(wchar_t* text);

class ProcessList {
public:
    ProcessList();
    ~ProcessList();
    ProcessList(const ProcessList&) = delete;
    ProcessList& operator=(const ProcessList&) = delete;

    int Refresh();
    void ReleaseRecords();

    int RefreshNt5Plus();
    int RefreshWin9x();
    int RefreshNt4();
    DWORD QueryThreadCount(DWORD processId);

    HANDLE TimedModuleSnapshot(DWORD processId);
    // Module32Next, or Module32NextW for the wide entry, on a call thread
    // that is given up after ModuleNextLimitMs.
    int TimedModule32Next(SnapshotHandle& snapshot, MODULEENTRY32* entry);
    int TimedModule32Next(SnapshotHandle& snapshot, MODULEENTRY32W* entry);

    static constexpr DWORD ModuleSnapshotLimitMs = 3000;
    static constexpr DWORD ModuleNextLimitMs = 5000;
    static constexpr DWORD InitialCapacity = 32;
    static constexpr DWORD MaxNt4Processes = 1024;

    ProcessRecord* records;
    DWORD count;
    OsFamily family;
    ListGap gap;
    DWORD capacity;
    LibraryHandle psapiLibrary;
    LibraryHandle kernel32Library;
    LibraryHandle ntdllLibrary;
    RuntimeApi api;

private:
    bool SizeRecords(DWORD n);
    bool StartProcessWalk(SnapshotHandle& snapshot, PROCESSENTRY32& entry, DWORD& n, BOOL& more);
    template <class Entry>
    bool WalkModules(DWORD processId, ProcessRecord& record);
    void FreeModules(ProcessRecord& record);
    void AbandonRefresh();
};

// A snapshot of the running processes and the modules each has loaded:
// tool-help on the Windows 95 family and on 2000 and later, the
// process-status library on NT 4.0.
#include "ProcessList.h"

#include "Memory.h"
#include "ThreadCount.h"
#include "TimedCall.h"

#include <cstring>

namespace {

// What the process-status calls need. NT 4.0, 2000 and XP refuse the whole
// of Vista's PROCESS_ALL_ACCESS (0x1FFFFF), which holds rights they lack.
constexpr DWORD ModuleQueryAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

#if defined(__i386__)
static_assert(sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32 of 32-bit Windows");
static_assert(sizeof(MODULEENTRY32) == 548, "MODULEENTRY32 of 32-bit Windows");
static_assert(sizeof(MODULEENTRY32W) == 1064, "MODULEENTRY32W of 32-bit Windows");
static_assert(sizeof(THREADENTRY32) == 28, "THREADENTRY32 of 32-bit Windows");
static_assert(sizeof(MODULEINFO) == 12, "MODULEINFO of 32-bit Windows");
#endif

BOOL FirstModule(const RuntimeApi& api, HANDLE snapshot, MODULEENTRY32* entry)
{
    return api.Module32First(snapshot, entry);
}

BOOL FirstModule(const RuntimeApi& api, HANDLE snapshot, MODULEENTRY32W* entry)
{
    return api.Module32FirstW(snapshot, entry);
}

template <class Char>
const Char* LastBackslash(const Char* text, size_t size)
{
    const Char* last = nullptr;
    for (size_t i = 0; i < size && text[i] != 0; ++i) {
        if (text[i] == '\\')
            last = text + i;
    }
    return last;
}

// At most size - 1 characters of text, always terminated.
template <class Char>
void CopyText(Char* destination, size_t size, const Char* source, size_t sourceSize)
{
    size_t i = 0;
    for (; i + 1 < size && i < sourceSize && source[i] != 0; ++i)
        destination[i] = source[i];
    destination[i] = 0;
}

void StoreModulePath(ModuleRecord& module, const MODULEENTRY32W& entry)
{
    CopyText(module.path, MAX_PATH, entry.szExePath, sizeof entry.szExePath / sizeof entry.szExePath[0]);
}

// Only the Windows 95 family walks 8-bit entries. Its capitals are made on
// the bytes, as before, and then the path is widened through the ANSI code
// page, the one its kernel spells file names in.
void StoreModulePath(ModuleRecord& module, const MODULEENTRY32& entry)
{
    char path[MAX_PATH];
    CopyText(path, sizeof path, entry.szExePath, sizeof entry.szExePath);
    UppercaseAscii(path);
    // Never more characters than bytes, so MAX_PATH always holds them.
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, module.path, MAX_PATH))
        module.path[0] = L'\0';
}

}  // namespace

void UppercaseAscii(char* text)
{
    for (; *text != '\0'; ++text) {
        const unsigned char c = static_cast<unsigned char>(*text);
        if (c >= 0x61 && c <= 0x7A)
            *text = static_cast<char>(c - 0x20);
    }
}

void UppercaseAscii(wchar_t* text)
{
    for (; *text != L'\0'; ++text) {
        if (*text >= L'a' && *text <= L'z')
            *text = static_cast<wchar_t>(*text - 0x20);
    }
}

ProcessList::ProcessList()
    : records(new (NoThrow) ProcessRecord[InitialCapacity]),
      count(0),
      family(NT5Plus),
      gap(GapNone),
      capacity(InitialCapacity)
{
    kernel32Library.Reset(LoadSystemLibrary("Kernel32.dll"));
    ResolveToolhelpFunctions(api, kernel32Library.Get());
    psapiLibrary.Reset(LoadSystemLibrary("Psapi.dll"));
    ResolvePsapiFunctions(api, psapiLibrary.Get());
    ntdllLibrary.Reset(LoadSystemLibrary("NTDll.dll"));
    ResolveNtdllFunctions(api, ntdllLibrary.Get());
    ResolveLaterKernel32Functions(api);
    if (RuntimeApiOverride)
        RuntimeApiOverride(api);
    family = OsFamilyFromVersion(api.GetVersion ? api.GetVersion() : ::GetVersion());
}

ProcessList::~ProcessList()
{
    ReleaseRecords();
    kernel32Library.Reset();
    psapiLibrary.Reset();
    ntdllLibrary.Reset();
}

void ProcessList::FreeModules(ProcessRecord& record)
{
    delete[] record.modules;
    record.modules = nullptr;
    record.moduleCount = 0;
}

void ProcessList::ReleaseRecords()
{
    if (records) {
        for (DWORD i = 0; i < count; ++i)
            FreeModules(records[i]);
    }
    delete[] records;
    records = nullptr;
    count = 0;
}

// A failed allocation ends the refresh with nothing half-filled left over.
void ProcessList::AbandonRefresh()
{
    if (records) {
        for (DWORD i = 0; i < count; ++i)
            FreeModules(records[i]);
    }
    count = 0;
}

bool ProcessList::SizeRecords(DWORD n)
{
    // The previous refresh's module arrays would be lost to the zero-fill.
    AbandonRefresh();
    if (n > capacity || !records) {
        ReleaseRecords();
        const DWORD size = n > capacity ? n : capacity;
        records = new (NoThrow) ProcessRecord[size];
        if (!records)
            return false;
        capacity = size;
    }
    count = n;
    if (n)
        std::memset(records, 0, n * sizeof *records);
    return true;
}

int ProcessList::Refresh()
{
    const bool toolhelp = api.CreateToolhelp32Snapshot && api.Process32First && api.Process32Next;
    const bool psapi =
        api.EnumProcessModules && api.EnumProcesses && api.GetModuleFileNameExW && api.GetModuleInformation;
    const bool nt = psapi && api.NtQuerySystemInformation;
    gap = family != Win9x && !psapi ? GapNoPsapi : GapNone;
    switch (family) {
    case Win9x:
        if (!toolhelp || !api.Module32First || !api.Module32Next || !api.Thread32First || !api.Thread32Next)
            return 0;
        return RefreshWin9x();
    case NT4:
        if (!nt)
            return 0;
        return RefreshNt4();
    default:
        // The NT family's libraries are required even where tool-help alone
        // does the work.
        if (!nt || !toolhelp || !api.Module32FirstW || !api.Module32NextW)
            return 0;
        return RefreshNt5Plus();
    }
}

HANDLE ProcessList::TimedModuleSnapshot(DWORD processId)
{
    return ::TimedModuleSnapshot(api.CreateToolhelp32Snapshot, processId, ModuleSnapshotLimitMs);
}

int ProcessList::TimedModule32Next(SnapshotHandle& snapshot, MODULEENTRY32* entry)
{
    return TimedModuleNext(api.Module32Next, snapshot, entry, ModuleNextLimitMs);
}

int ProcessList::TimedModule32Next(SnapshotHandle& snapshot, MODULEENTRY32W* entry)
{
    return TimedModuleNext(api.Module32NextW, snapshot, entry, ModuleNextLimitMs);
}

template <class Entry>
bool ProcessList::WalkModules(DWORD processId, ProcessRecord& record)
{
    // Id 0, the NT family's idle process, is taken for the calling process:
    // a snapshot of this one, which its own call threads change as they
    // start and end.
    if (processId == 0)
        return true;
    SnapshotHandle snapshot(TimedModuleSnapshot(processId));
    if (!snapshot)
        return true;

    Entry entry = {};
    entry.dwSize = sizeof entry;
    DWORD k = 0;
    if (FirstModule(api, snapshot.Get(), &entry)) {
        do {
            if (entry.th32ProcessID == processId)
                ++k;
        } while (TimedModule32Next(snapshot, &entry));
    }
    if (k == 0)
        return true;

    record.modules = new (NoThrow) ModuleRecord[k]();
    if (!record.modules)
        return false;

    DWORD filled = 0;
    entry = {};
    entry.dwSize = sizeof entry;
    if (FirstModule(api, snapshot.Get(), &entry)) {
        do {
            if (entry.th32ProcessID == processId) {
                ModuleRecord& module = record.modules[filled++];
                module.base = entry.hModule;
                module.size = entry.modBaseSize;
                StoreModulePath(module, entry);
            }
            // Modules loaded since the counting walk are left out.
        } while (filled < k && TimedModule32Next(snapshot, &entry));
    }
    record.moduleCount = filled;
    return true;
}

// What both tool-help strategies begin with: a process snapshot, a counting
// walk, records for that many processes, and the first entry once more.
bool ProcessList::StartProcessWalk(SnapshotHandle& snapshot, PROCESSENTRY32& entry, DWORD& n, BOOL& more)
{
    snapshot.Reset(api.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;

    entry = {};
    entry.dwSize = sizeof entry;
    n = 0;
    if (api.Process32First(snapshot.Get(), &entry)) {
        n = 1;
        while (api.Process32Next(snapshot.Get(), &entry))
            ++n;
    }
    if (!SizeRecords(n))
        return false;

    entry = {};
    entry.dwSize = sizeof entry;
    more = api.Process32First(snapshot.Get(), &entry);
    return true;
}

int ProcessList::RefreshNt5Plus()
{
    SnapshotHandle snapshot;
    PROCESSENTRY32 entry;
    DWORD n = 0;
    BOOL more = FALSE;
    if (!StartProcessWalk(snapshot, entry, n, more))
        return 0;
    // Processes started since the counting walk find no record.
    for (DWORD slot = 0; more && slot < n;) {
        ProcessRecord& record = records[slot];
        record.processId = entry.th32ProcessID;
        record.threadCount = entry.cntThreads;
        if (!WalkModules<MODULEENTRY32W>(entry.th32ProcessID, record)) {
            AbandonRefresh();
            return 0;
        }
        CopyText(record.name, sizeof record.name, entry.szExeFile, sizeof entry.szExeFile);
        if (++slot < n)
            more = api.Process32Next(snapshot.Get(), &entry);
    }
    return 1;
}

int ProcessList::RefreshWin9x()
{
    SnapshotHandle snapshot;
    PROCESSENTRY32 entry;
    DWORD n = 0;
    BOOL more = FALSE;
    if (!StartProcessWalk(snapshot, entry, n, more))
        return 0;
    for (DWORD slot = 0; more && slot < n;) {
        const DWORD processId = entry.th32ProcessID;
        ProcessRecord& record = records[slot];
        record.processId = processId;
        record.threadCount = 1;

        // This snapshot lists the threads of every process.
        SnapshotHandle threads(api.CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, processId));
        if (threads) {
            THREADENTRY32 thread = {};
            thread.dwSize = sizeof thread;
            if (api.Thread32First(threads.Get(), &thread)) {
                do {
                    if (thread.th32OwnerProcessID == processId)
                        ++record.threadCount;
                } while (api.Thread32Next(threads.Get(), &thread));
            }
        }

        if (!WalkModules<MODULEENTRY32>(processId, record)) {
            AbandonRefresh();
            return 0;
        }

        // The family lists some system entries by bare name; those do not
        // keep a record of their own, the next entry takes it over.
        const char* backslash = LastBackslash(entry.szExeFile, sizeof entry.szExeFile);
        if (backslash) {
            const size_t offset = static_cast<size_t>(backslash + 1 - entry.szExeFile);
            CopyText(record.name, sizeof record.name, backslash + 1, sizeof entry.szExeFile - offset);
            ++slot;
        } else {
            FreeModules(record);
        }
        if (slot < n)
            more = api.Process32Next(snapshot.Get(), &entry);
    }
    return 1;
}

DWORD ProcessList::QueryThreadCount(DWORD processId)
{
    return ThreadCountOf(api.NtQuerySystemInformation, processId);
}

int ProcessList::RefreshNt4()
{
    UniquePtr<DWORD[]> ids(new (NoThrow) DWORD[MaxNt4Processes]);
    if (!ids)
        return 0;
    DWORD bytes = 0;
    if (!api.EnumProcesses(ids.get(), MaxNt4Processes * sizeof(DWORD), &bytes))
        return 0;
    DWORD n = bytes / sizeof(DWORD);
    if (n > MaxNt4Processes)
        n = MaxNt4Processes;
    if (!SizeRecords(n))
        return 0;

    for (DWORD i = 0; i < n; ++i) {
        const DWORD processId = ids[i];
        ProcessRecord& record = records[i];
        record.processId = processId;
        record.threadCount = QueryThreadCount(processId);

        KernelHandle process(api.OpenProcess(ModuleQueryAccess, FALSE, processId));
        if (!process)
            continue;
        DWORD needed = 0;
        if (!api.EnumProcessModules(process.Get(), nullptr, 0, &needed) || needed == 0)
            continue;
        DWORD k = needed / sizeof(HMODULE);
        if (k == 0)
            continue;
        UniquePtr<HMODULE[]> handles(new (NoThrow) HMODULE[k]);
        if (!handles) {
            AbandonRefresh();
            return 0;
        }
        DWORD listed = 0;
        if (!api.EnumProcessModules(process.Get(), handles.get(), k * sizeof(HMODULE), &listed))
            continue;
        if (listed / sizeof(HMODULE) < k)
            k = listed / sizeof(HMODULE);
        if (k == 0)
            continue;

        record.modules = new (NoThrow) ModuleRecord[k]();
        if (!record.modules) {
            AbandonRefresh();
            return 0;
        }
        record.moduleCount = k;
        for (DWORD j = 0; j < k; ++j) {
            ModuleRecord& module = record.modules[j];
            MODULEINFO info = {};
            if (api.GetModuleInformation(process.Get(), handles[j], &info, sizeof info))
                module.size = info.SizeOfImage;
            // The size counts characters; a path cut at it may lack its end.
            api.GetModuleFileNameExW(process.Get(), handles[j], module.path, MAX_PATH);
            module.path[MAX_PATH - 1] = L'\0';
            UppercaseAscii(module.path);
            module.base = handles[j];
        }

        // The first module is the executable; without a full path the
        // process is not one whose files can be examined. The name stays
        // 8-bit, as the tool-help strategies give it; NT 4.0's code pages
        // take at most two bytes a character.
        const wchar_t* backslash = LastBackslash(record.modules[0].path, MAX_PATH);
        char name[2 * MAX_PATH];
        if (!backslash)
            FreeModules(record);
        else if (WideCharToMultiByte(CP_ACP, 0, backslash + 1, -1, name, sizeof name, nullptr, nullptr))
            CopyText(record.name, sizeof record.name, name, sizeof name);
    }
    return 1;
}

// The process list on the Windows families this machine is not, through
// the table of run-time functions: fakes that serve a process table the
// test controls, with real kernel handles so that leaks show.
#include "ProcessList.h"
#include "TimedCall.h"
#include "RecordingWalker.h"
#include "ScanHost.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <string>
#include <vector>

// Nothrow allocations can be made to fail: the k-th one after arming.
namespace {
std::atomic<long> nothrowCountdown{0};
std::atomic<long> nothrowCalls{0};

void* NothrowAllocate(std::size_t size) noexcept
{
    ++nothrowCalls;
    long left = nothrowCountdown.load();
    while (left > 0) {
        if (nothrowCountdown.compare_exchange_weak(left, left - 1))
            return left == 1 ? nullptr : std::malloc(size ? size : 1);
    }
    return std::malloc(size ? size : 1);
}
}  // namespace

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return NothrowAllocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return NothrowAllocate(size);
}

namespace {

struct FakeModule {
    DWORD processId;
    uintptr_t base;
    DWORD size;
    // As the NT family keeps it; the 8-bit functions hand it out in the
    // ANSI code page, as the system's own do.
    std::wstring path;
};

struct FakeProcess {
    DWORD processId;
    DWORD threads;
    std::string exe;
    std::vector<FakeModule> modules;
    bool openable = true;
    // Modules that the second module walk finds instead, when set.
    std::vector<FakeModule> laterModules;
    bool hasLaterModules = false;
    // How many module handles the second EnumProcessModules reports; -1: all.
    int secondEnumModules = -1;
};

enum SnapKind { ProcessSnap, ThreadSnap, ModuleSnap };

struct Snap {
    SnapKind kind;
    DWORD processId;
    size_t cursor;
    int firstCalls;
};

struct FakeSystem {
    DWORD version = 0x1DB10106;
    std::vector<FakeProcess> processes;
    std::vector<FakeProcess> lateProcesses;  // appear for the filling walk
    bool processSnapshotFails = false;
    bool processFirstFailsOnce = false;
    std::vector<DWORD> threadOwners;
    std::vector<FakeModule> foreignModules;  // in every module snapshot
    std::vector<DWORD> enumIds;              // what EnumProcesses lists, when set

    DWORD hangSnapshotOf = 0;
    bool hangHoldingHeap = false;  // the hung snapshot holds the process heap's lock
    DWORD hangNextOf = 0;
    size_t hangNextAfter = 0;  // entries delivered before the step that hangs
    HANDLE release = nullptr;
    std::vector<DWORD> hungThreads;
    std::vector<void*> hungEntries;

    size_t queryNeeds = 0;  // bytes below which the query asks for more
    bool queryMismatchForever = false;
    LONG queryStatus = 0;
    std::vector<ULONG> queryLengths;
    std::vector<DWORD> querySkips;  // processes the query leaves out

    std::map<HANDLE, Snap> snaps;
    std::map<HANDLE, DWORD> opened;
    int processSnapshots = 0;
    int moduleSnapshots = 0;
    int moduleSnapshotsOfZero = 0;
    // Module snapshots of a process that fail before one succeeds, and how.
    DWORD failSnapshotOf = 0;
    int snapshotFailures = 0;
    DWORD snapshotError = ERROR_BAD_LENGTH;
    int threadSnapshots = 0;
    int badSizes = 0;
};

FakeSystem* fake = nullptr;

HANDLE NewHandle()
{
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

FakeProcess* FindProcess(DWORD processId)
{
    for (FakeProcess& p : fake->processes) {
        if (p.processId == processId)
            return &p;
    }
    return nullptr;
}

std::vector<FakeProcess> ListedProcesses(const Snap& snap)
{
    std::vector<FakeProcess> list = fake->processes;
    if (snap.firstCalls > 1)
        list.insert(list.end(), fake->lateProcesses.begin(), fake->lateProcesses.end());
    return list;
}

std::vector<FakeModule> ListedModules(const Snap& snap)
{
    std::vector<FakeModule> list;
    if (FakeProcess* p = FindProcess(snap.processId))
        list = snap.firstCalls > 1 && p->hasLaterModules ? p->laterModules : p->modules;
    list.insert(list.end(), fake->foreignModules.begin(), fake->foreignModules.end());
    return list;
}

void Hang(void* entry)
{
    fake->hungThreads.push_back(GetCurrentThreadId());
    fake->hungEntries.push_back(entry);
    WaitForSingleObject(fake->release, 30000);
}

// The snapshot a handle names, also through a copy of its handle.
Snap& SnapOf(HANDLE handle)
{
    const auto found = fake->snaps.find(handle);
    if (found != fake->snaps.end())
        return found->second;
    using CompareFn = BOOL(WINAPI*)(HANDLE, HANDLE);
    static const auto compare = ResolveFunction<CompareFn>(GetModuleHandleA("kernelbase.dll"), "CompareObjectHandles");
    for (auto& snap : fake->snaps) {
        if (compare && compare(snap.first, handle))
            return snap.second;
    }
    return fake->snaps.at(handle);
}

HANDLE WINAPI FakeCreateToolhelp32Snapshot(DWORD flags, DWORD processId)
{
    Snap snap = {ProcessSnap, processId, 0, 0};
    if (flags == TH32CS_SNAPPROCESS) {
        ++fake->processSnapshots;
        if (fake->processSnapshotFails)
            return INVALID_HANDLE_VALUE;
    } else if (flags == TH32CS_SNAPTHREAD) {
        ++fake->threadSnapshots;
        snap.kind = ThreadSnap;
    } else if (flags == TH32CS_SNAPMODULE) {
        ++fake->moduleSnapshots;
        fake->moduleSnapshotsOfZero += processId == 0;
        if (processId != 0 && processId == fake->failSnapshotOf && fake->snapshotFailures > 0) {
            --fake->snapshotFailures;
            SetLastError(fake->snapshotError);
            return INVALID_HANDLE_VALUE;
        }
        if (processId != 0 && processId == fake->hangSnapshotOf) {
            if (fake->hangHoldingHeap) {
                fake->hungThreads.push_back(GetCurrentThreadId());
                HeapLock(GetProcessHeap());
                WaitForSingleObject(fake->release, 30000);
                HeapUnlock(GetProcessHeap());
            } else {
                Hang(nullptr);
            }
        }
        if (!FindProcess(processId))
            return INVALID_HANDLE_VALUE;
        snap.kind = ModuleSnap;
    } else {
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = NewHandle();
    fake->snaps[handle] = snap;
    return handle;
}

BOOL FillProcess(Snap& snap, PROCESSENTRY32* entry)
{
    const std::vector<FakeProcess> list = ListedProcesses(snap);
    if (snap.cursor >= list.size())
        return FALSE;
    const FakeProcess& p = list[snap.cursor];
    entry->th32ProcessID = p.processId;
    entry->cntThreads = p.threads;
    std::memset(entry->szExeFile, 0, sizeof entry->szExeFile);
    std::memcpy(entry->szExeFile, p.exe.data(), std::min(p.exe.size(), sizeof entry->szExeFile - 1));
    return TRUE;
}

BOOL WINAPI FakeProcess32First(HANDLE handle, PROCESSENTRY32* entry)
{
    Snap& snap = SnapOf(handle);
    if (entry->dwSize != sizeof(PROCESSENTRY32)) {
        ++fake->badSizes;
        return FALSE;
    }
    ++snap.firstCalls;
    snap.cursor = 0;
    if (fake->processFirstFailsOnce && snap.firstCalls == 1)
        return FALSE;
    return FillProcess(snap, entry);
}

BOOL WINAPI FakeProcess32Next(HANDLE handle, PROCESSENTRY32* entry)
{
    Snap& snap = SnapOf(handle);
    if (entry->dwSize != sizeof(PROCESSENTRY32)) {
        ++fake->badSizes;
        return FALSE;
    }
    ++snap.cursor;
    return FillProcess(snap, entry);
}

void FillPath(MODULEENTRY32* entry, const std::wstring& path)
{
    std::memset(entry->szExePath, 0, sizeof entry->szExePath);
    WideCharToMultiByte(CP_ACP, 0, path.c_str(), static_cast<int>(path.size()), entry->szExePath,
                        sizeof entry->szExePath - 1, nullptr, nullptr);
}

void FillPath(MODULEENTRY32W* entry, const std::wstring& path)
{
    const size_t room = sizeof entry->szExePath / sizeof entry->szExePath[0];
    std::memset(entry->szExePath, 0, sizeof entry->szExePath);
    std::copy_n(path.begin(), std::min(path.size(), room - 1), entry->szExePath);
}

template <class Entry>
BOOL FillModule(Snap& snap, Entry* entry)
{
    const std::vector<FakeModule> list = ListedModules(snap);
    if (snap.cursor >= list.size())
        return FALSE;
    const FakeModule& m = list[snap.cursor];
    entry->th32ProcessID = m.processId;
    entry->hModule = reinterpret_cast<HMODULE>(m.base);
    entry->modBaseAddr = reinterpret_cast<BYTE*>(m.base);
    entry->modBaseSize = m.size;
    FillPath(entry, m.path);
    return TRUE;
}

template <class Entry>
BOOL FakeModuleFirst(HANDLE handle, Entry* entry)
{
    Snap& snap = SnapOf(handle);
    if (entry->dwSize != sizeof(Entry)) {
        ++fake->badSizes;
        return FALSE;
    }
    ++snap.firstCalls;
    snap.cursor = 0;
    return FillModule(snap, entry);
}

template <class Entry>
BOOL FakeModuleNext(HANDLE handle, Entry* entry)
{
    Snap& snap = SnapOf(handle);
    if (entry->dwSize != sizeof(Entry)) {
        ++fake->badSizes;
        return FALSE;
    }
    if (fake->hangNextOf != 0 && snap.processId == fake->hangNextOf && snap.cursor + 1 >= fake->hangNextAfter) {
        Hang(entry);
        // Reached by a call thread given up at its limit, once released.
        std::fill_n(entry->szExePath, 16, 'L');
        return TRUE;
    }
    ++snap.cursor;
    return FillModule(snap, entry);
}

BOOL WINAPI FakeModule32First(HANDLE handle, MODULEENTRY32* entry)
{
    return FakeModuleFirst(handle, entry);
}

BOOL WINAPI FakeModule32Next(HANDLE handle, MODULEENTRY32* entry)
{
    return FakeModuleNext(handle, entry);
}

BOOL WINAPI FakeModule32FirstW(HANDLE handle, MODULEENTRY32W* entry)
{
    return FakeModuleFirst(handle, entry);
}

BOOL WINAPI FakeModule32NextW(HANDLE handle, MODULEENTRY32W* entry)
{
    return FakeModuleNext(handle, entry);
}

BOOL WINAPI FakeThread32First(HANDLE handle, THREADENTRY32* entry)
{
    Snap& snap = SnapOf(handle);
    if (entry->dwSize != sizeof(THREADENTRY32)) {
        ++fake->badSizes;
        return FALSE;
    }
    snap.cursor = 0;
    if (fake->threadOwners.empty())
        return FALSE;
    entry->th32OwnerProcessID = fake->threadOwners[0];
    return TRUE;
}

BOOL WINAPI FakeThread32Next(HANDLE handle, THREADENTRY32* entry)
{
    Snap& snap = SnapOf(handle);
    if (++snap.cursor >= fake->threadOwners.size())
        return FALSE;
    entry->th32OwnerProcessID = fake->threadOwners[snap.cursor];
    return TRUE;
}

BOOL WINAPI FakeEnumProcesses(DWORD* ids, DWORD bytes, DWORD* returned)
{
    std::vector<DWORD> list = fake->enumIds;
    if (list.empty()) {
        for (const FakeProcess& p : fake->processes)
            list.push_back(p.processId);
    }
    const size_t n = std::min<size_t>(list.size(), bytes / sizeof(DWORD));
    std::copy(list.begin(), list.begin() + static_cast<ptrdiff_t>(n), ids);
    *returned = static_cast<DWORD>(n * sizeof(DWORD));
    return TRUE;
}

// As NT 4.0 does: rights it does not know (any above the old
// PROCESS_ALL_ACCESS, 0x1F0FFF) are refused, and the process-status calls
// need query and read rights.
HANDLE WINAPI FakeOpenProcess(DWORD access, BOOL inherit, DWORD processId)
{
    FakeProcess* p = FindProcess(processId);
    const DWORD needed = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
    if ((access & ~0x1F0FFFu) != 0 || (access & needed) != needed || inherit || !p || !p->openable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HANDLE handle = NewHandle();
    fake->opened[handle] = processId;
    return handle;
}

BOOL WINAPI FakeEnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* needed)
{
    FakeProcess* p = FindProcess(fake->opened.at(process));
    size_t n = p->modules.size();
    if (modules && p->secondEnumModules >= 0)
        n = static_cast<size_t>(p->secondEnumModules);
    *needed = static_cast<DWORD>(n * sizeof(HMODULE));
    for (size_t i = 0; i < n && (i + 1) * sizeof(HMODULE) <= bytes; ++i)
        modules[i] = reinterpret_cast<HMODULE>(p->modules[i].base);
    return TRUE;
}

const FakeModule* FindModule(HANDLE process, HMODULE module)
{
    FakeProcess* p = FindProcess(fake->opened.at(process));
    for (const FakeModule& m : p->modules) {
        if (reinterpret_cast<HMODULE>(m.base) == module)
            return &m;
    }
    return nullptr;
}

BOOL WINAPI FakeGetModuleInformation(HANDLE process, HMODULE module, MODULEINFO* info, DWORD bytes)
{
    const FakeModule* m = FindModule(process, module);
    if (!m || bytes != sizeof(MODULEINFO)) {
        ++fake->badSizes;
        return FALSE;
    }
    info->lpBaseOfDll = reinterpret_cast<void*>(m->base);
    info->SizeOfImage = m->size;
    info->EntryPoint = nullptr;
    return TRUE;
}

DWORD WINAPI FakeGetModuleFileNameExW(HANDLE process, HMODULE module, LPWSTR path, DWORD size)
{
    const FakeModule* m = FindModule(process, module);
    // The size counts characters; the records hold MAX_PATH of them, and a
    // byte count would let a long path run past the end.
    if (size != MAX_PATH)
        ++fake->badSizes;
    if (!m || size == 0)
        return 0;
    const size_t n = std::min<size_t>(m->path.size(), size - 1);
    std::copy_n(m->path.begin(), n, path);
    path[n] = L'\0';
    return static_cast<DWORD>(n);
}

// Entries laid out as the platform's own SYSTEM_PROCESS_INFORMATION.
constexpr size_t QueryEntrySize = sizeof(SYSTEM_PROCESS_INFORMATION) + 64;

LONG WINAPI FakeNtQuerySystemInformation(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned)
{
    fake->queryLengths.push_back(length);
    if (returned)
        return static_cast<LONG>(0xC000000D);  // nothing asks for the length
    if (infoClass != 5)
        return static_cast<LONG>(0xC0000003);
    if (fake->queryStatus != 0)
        return fake->queryStatus;
    std::vector<const FakeProcess*> listed;
    for (const FakeProcess& p : fake->processes) {
        if (std::find(fake->querySkips.begin(), fake->querySkips.end(), p.processId) == fake->querySkips.end())
            listed.push_back(&p);
    }
    const size_t needed = std::max(fake->queryNeeds, listed.size() * QueryEntrySize);
    if (fake->queryMismatchForever || length < needed)
        return static_cast<LONG>(0xC0000004);
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::memset(bytes, 0xCC, length);
    for (size_t i = 0; i < listed.size(); ++i) {
        auto* entry = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(bytes + i * QueryEntrySize);
        entry->NextEntryOffset = i + 1 < listed.size() ? static_cast<ULONG>(QueryEntrySize) : 0;
        entry->NumberOfThreads = listed[i]->threads;
        entry->UniqueProcessId = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(listed[i]->processId));
    }
    return 0;
}

DWORD WINAPI FakeGetVersion()
{
    return fake->version;
}

// Which functions a test takes away after the fakes are in.
std::vector<size_t> missing;

void InstallFakes(RuntimeApi& api)
{
    api.CreateToolhelp32Snapshot = FakeCreateToolhelp32Snapshot;
    api.Process32First = FakeProcess32First;
    api.Process32Next = FakeProcess32Next;
    api.Module32First = FakeModule32First;
    api.Module32Next = FakeModule32Next;
    api.Module32FirstW = FakeModule32FirstW;
    api.Module32NextW = FakeModule32NextW;
    api.Thread32First = FakeThread32First;
    api.Thread32Next = FakeThread32Next;
    api.EnumProcessModules = FakeEnumProcessModules;
    api.EnumProcesses = FakeEnumProcesses;
    api.GetModuleFileNameExW = FakeGetModuleFileNameExW;
    api.GetModuleInformation = FakeGetModuleInformation;
    api.NtQuerySystemInformation = FakeNtQuerySystemInformation;
    api.GetVersion = FakeGetVersion;
    api.OpenProcess = FakeOpenProcess;
    for (size_t which : missing) {
        switch (which) {
        case 0: api.CreateToolhelp32Snapshot = nullptr; break;
        case 1: api.Process32First = nullptr; break;
        case 2: api.Process32Next = nullptr; break;
        case 3: api.Module32First = nullptr; break;
        case 4: api.Module32Next = nullptr; break;
        case 5: api.Thread32First = nullptr; break;
        case 6: api.Thread32Next = nullptr; break;
        case 7: api.EnumProcessModules = nullptr; break;
        case 8: api.EnumProcesses = nullptr; break;
        case 9: api.GetModuleFileNameExW = nullptr; break;
        case 10: api.GetModuleInformation = nullptr; break;
        case 11: api.NtQuerySystemInformation = nullptr; break;
        case 12: api.Module32FirstW = nullptr; break;
        case 13: api.Module32NextW = nullptr; break;
        default: break;
        }
    }
}

constexpr DWORD Win98Version = 0xC0000A04;
constexpr DWORD Nt4Version = 0x05650004;

// The tests run under en_US, whose ANSI code page is 1252: paths given as
// bytes are read in it.
constexpr UINT TestCodePage = 1252;

std::wstring Wide(const std::string& text)
{
    std::wstring wide(text.size(), L'\0');
    const int n = MultiByteToWideChar(TestCodePage, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                      static_cast<int>(wide.size()));
    wide.resize(static_cast<size_t>(n));
    return wide;
}

FakeModule Module(DWORD processId, uintptr_t base, DWORD size, const std::wstring& path)
{
    return FakeModule{processId, base, size, path};
}

FakeModule Module(DWORD processId, uintptr_t base, DWORD size, const std::string& path)
{
    return FakeModule{processId, base, size, Wide(path)};
}

FakeProcess Process(DWORD processId, DWORD threads, const std::string& exe, std::vector<FakeModule> modules = {})
{
    FakeProcess p;
    p.processId = processId;
    p.threads = threads;
    p.exe = exe;
    p.modules = std::move(modules);
    return p;
}

// Modules of one process with paths built from a prefix and a count.
std::vector<FakeModule> Modules(DWORD processId, int n, const std::string& folder)
{
    std::vector<FakeModule> list;
    for (int i = 0; i < n; ++i)
        list.push_back(Module(processId, 0x10000000u + 0x100000u * static_cast<uintptr_t>(i),
                              0x1000u * static_cast<DWORD>(i + 1), folder + "\\m" + std::to_string(i) + ".dll"));
    return list;
}

DWORD ThreadsOfThisProcess()
{
    DWORD threads = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++threads;
    }
    CloseHandle(snapshot);
    return threads;
}

// Bytes in use in the C runtime's heap, where new and malloc allocate.
size_t HeapBytesInUse()
{
    const HANDLE heap = reinterpret_cast<HANDLE>(_get_heap_handle());
    size_t bytes = 0;
    HeapLock(heap);
    PROCESS_HEAP_ENTRY entry = {};
    while (HeapWalk(heap, &entry)) {
        if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
            bytes += entry.cbData;
    }
    HeapUnlock(heap);
    return bytes;
}

DWORD HandleCount()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

size_t CountMessages(const ScanReport& report, UINT message)
{
    return static_cast<size_t>(std::count_if(report.progress.begin(), report.progress.end(),
                                             [&](const ProgressMessage& m) { return m.message == message; }));
}

std::vector<std::string> Paths(const std::vector<Visit>& visits)
{
    std::vector<std::string> paths;
    for (const Visit& v : visits)
        paths.push_back(v.path);
    return paths;
}

class FakeFamily : public ::testing::Test {
protected:
    void SetUp() override
    {
        system_.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        fake = &system_;
        missing.clear();
        RuntimeApiOverride = InstallFakes;
        ASSERT_EQ(GetACP(), TestCodePage) << "the expected 8-bit paths are spelled in code page 1252";
    }

    void TearDown() override
    {
        RuntimeApiOverride = nullptr;
        SetEvent(system_.release);
        // Call threads given up at their limit return into the fakes.
        for (DWORD id : system_.hungThreads) {
            if (HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id)) {
                WaitForSingleObject(thread, 10000);
                CloseHandle(thread);
            }
        }
        EXPECT_EQ(TimedCallsRunning(), 0);
        CloseHandle(system_.release);
        missing.clear();
        nothrowCountdown = 0;
    }

    // Runs the memory pass of a walker that only records, as a scan would.
    ScanReport RunPass(std::vector<Visit>& visits, bool stopFirst = false,
                       std::function<void(RecordingWalker&, const char*)> onVisit = nullptr)
    {
        ScanHost host;
        if (stopFirst)
            host.Context().RequestStop();
        return host.Run([&](ScanContext& context) {
            RecordingWalker walker(&context);
            walker.onVisit = onVisit;
            walker.ScanMemory();
            visits = walker.visits;
        });
    }

    FakeSystem system_;
};

}  // namespace

TEST(OsFamilyTest, ChosenFromGetVersion)
{
    EXPECT_EQ(OsFamilyFromVersion(0xC0000A04), Win9x);  // Windows 98
    EXPECT_EQ(OsFamilyFromVersion(0x80000004), Win9x);
    EXPECT_EQ(OsFamilyFromVersion(0x80000005), Win9x);  // the high bit wins over the version word
    EXPECT_EQ(OsFamilyFromVersion(0x05650004), NT4);
    EXPECT_EQ(OsFamilyFromVersion(0x00000004), NT4);
    EXPECT_EQ(OsFamilyFromVersion(0x00000003), NT4);
    EXPECT_EQ(OsFamilyFromVersion(0x00000005), NT5Plus);
    EXPECT_EQ(OsFamilyFromVersion(0x0A280105), NT5Plus);  // XP
    EXPECT_EQ(OsFamilyFromVersion(0x00000A06), NT5Plus);
    // NT 3.51: the major version is 3, though the version word read as one
    // number (0x3303) is not below 5.
    EXPECT_EQ(OsFamilyFromVersion(0x04213303), NT4);
    EXPECT_EQ(OsFamilyFromVersion(GetVersion()), NT5Plus);
}

TEST_F(FakeFamily, FamilyComesFromTheGetVersionOfTheTable)
{
    const struct {
        DWORD version;
        OsFamily family;
    } cases[] = {{Win98Version, Win9x}, {0x0004, NT4}, {0x0005, NT5Plus}, {0x0A06, NT5Plus}, {0x3303, NT4}};
    for (const auto& c : cases) {
        system_.version = c.version;
        ProcessList list;
        EXPECT_EQ(list.family, c.family) << std::hex << c.version;
        EXPECT_EQ(list.count, 0u);
        EXPECT_EQ(list.capacity, 32u);
        EXPECT_NE(list.records, nullptr);
    }
}

TEST_F(FakeFamily, Nt5PlusRecordsKeepTheCaseAndCutLongNames)
{
    const std::string longName(140, 'n');
    system_.processes = {
        // Tool-help takes id 0 for the calling process.
        Process(0, 1, "[System Process]", {Module(0, 0x400000, 0x1000, "C:\\self.exe")}),
        Process(8, 30, "System"),
        Process(0x44, 3, "Explorer.EXE",
                {Module(0x44, 0x400000, 0x5000, "C:\\Windows\\Explorer.EXE"),
                 Module(0x44, 0x7C800000, 0xF6000, "C:\\Windows\\system32\\Kernel32.dll")}),
        Process(0x48, 2, longName + ".exe", {Module(0x48, 0x400000, 0x1000, "C:\\x\\" + longName + ".exe")}),
    };
    system_.foreignModules = {Module(0x99, 0x500000, 0x1000, "C:\\other\\foreign.dll")};

    const DWORD handles = HandleCount();
    {
        ProcessList list;
        ASSERT_EQ(list.family, NT5Plus);
        ASSERT_EQ(list.Refresh(), 1);
        ASSERT_EQ(list.count, 4u);
        EXPECT_EQ(system_.badSizes, 0);
        EXPECT_EQ(list.records[0].processId, 0u);
        EXPECT_STREQ(list.records[0].name, "[System Process]");
        EXPECT_EQ(list.records[0].moduleCount, 0u);
        EXPECT_EQ(system_.moduleSnapshotsOfZero, 0);
        EXPECT_EQ(list.records[1].threadCount, 30u);

        const ProcessRecord& explorer = list.records[2];
        EXPECT_EQ(explorer.processId, 0x44u);
        EXPECT_EQ(explorer.threadCount, 3u);
        EXPECT_STREQ(explorer.name, "Explorer.EXE");
        ASSERT_EQ(explorer.moduleCount, 2u);  // the foreign entry is not its own
        EXPECT_STREQ(explorer.modules[0].path, L"C:\\Windows\\Explorer.EXE");
        EXPECT_EQ(explorer.modules[0].base, reinterpret_cast<HMODULE>(0x400000));
        EXPECT_EQ(explorer.modules[0].size, 0x5000u);
        EXPECT_STREQ(explorer.modules[1].path, L"C:\\Windows\\system32\\Kernel32.dll");
        EXPECT_EQ(explorer.modules[1].size, 0xF6000u);

        const ProcessRecord& longOne = list.records[3];
        EXPECT_EQ(std::strlen(longOne.name), 127u);
        EXPECT_EQ(std::string(longOne.name), (longName + ".exe").substr(0, 127));
        ASSERT_EQ(longOne.moduleCount, 1u);
        EXPECT_EQ(std::wstring(longOne.modules[0].path), L"C:\\x\\" + Wide(longName) + L".exe");
    }
    EXPECT_EQ(HandleCount(), handles);

    std::vector<Visit> visits;
    const ScanReport report = RunPass(visits);
    EXPECT_EQ(Paths(visits), (std::vector<std::string>{"C:\\Windows\\Explorer.EXE",
                                                       "C:\\Windows\\system32\\Kernel32.dll",
                                                       "C:\\x\\" + longName + ".exe"}));
    for (const Visit& v : visits)
        EXPECT_EQ(v.fromMemory, 1);
    // Records without modules still take their step.
    EXPECT_EQ(CountMessages(report, PBM_STEPIT), 4u);
    ASSERT_EQ(CountMessages(report, PBM_SETRANGE), 1u);
    EXPECT_EQ(report.progress[0].message, static_cast<UINT>(PBM_SETRANGE));
    EXPECT_EQ(report.progress[0].lParam, MAKELPARAM(0, 4));
}

TEST_F(FakeFamily, Nt5PlusModulesThatComeAndGoBetweenTheTwoWalks)
{
    FakeProcess shrinking = Process(0x10, 1, "a.exe", Modules(0x10, 3, "C:\\a"));
    shrinking.hasLaterModules = true;
    shrinking.laterModules = Modules(0x10, 2, "C:\\a");
    FakeProcess growing = Process(0x20, 1, "b.exe", Modules(0x20, 2, "C:\\b"));
    growing.hasLaterModules = true;
    growing.laterModules = Modules(0x20, 4, "C:\\b");
    system_.processes = {shrinking, growing};

    ProcessList list;
    ASSERT_EQ(list.Refresh(), 1);
    ASSERT_EQ(list.count, 2u);
    EXPECT_EQ(list.records[0].moduleCount, 2u);
    EXPECT_EQ(list.records[1].moduleCount, 2u);
    EXPECT_STREQ(list.records[1].modules[1].path, L"C:\\b\\m1.dll");
}

TEST_F(FakeFamily, ProcessesThatComeBetweenTheTwoWalksFindNoRecord)
{
    // The counting walk sees nothing; a process then appears.
    system_.processes = {Process(0x10, 1, "a.exe", Modules(0x10, 2, "C:\\a"))};
    system_.processFirstFailsOnce = true;
    {
        ProcessList list;
        ASSERT_EQ(list.Refresh(), 1);
        EXPECT_EQ(list.count, 0u);
        EXPECT_EQ(system_.moduleSnapshots, 0);
    }
    std::vector<Visit> visits;
    ScanReport report = RunPass(visits);
    EXPECT_TRUE(visits.empty());
    EXPECT_EQ(CountMessages(report, PBM_SETRANGE), 1u);
    EXPECT_EQ(CountMessages(report, PBM_STEPIT), 0u);

    // Two counted, a third appears.
    system_.processFirstFailsOnce = false;
    system_.processes = {Process(0x10, 1, "a.exe", Modules(0x10, 1, "C:\\a")),
                         Process(0x20, 1, "b.exe", Modules(0x20, 1, "C:\\b"))};
    system_.lateProcesses = {Process(0x30, 1, "c.exe", Modules(0x30, 1, "C:\\c"))};
    ProcessList list;
    ASSERT_EQ(list.Refresh(), 1);
    EXPECT_EQ(list.count, 2u);
    EXPECT_EQ(list.records[1].processId, 0x20u);
}

TEST_F(FakeFamily, RecordArrayGrowsToExactlyTheProcessCountAndNeverShrinks)
{
    for (DWORD i = 0; i < 40; ++i)
        system_.processes.push_back(Process(4 * (i + 1), 1, "p.exe", Modules(4 * (i + 1), 1, "C:\\p")));

    ProcessList list;
    EXPECT_EQ(list.capacity, 32u);
    ASSERT_EQ(list.Refresh(), 1);
    EXPECT_EQ(list.count, 40u);
    EXPECT_EQ(list.capacity, 40u);
    EXPECT_EQ(list.records[39].processId, 160u);
    EXPECT_EQ(list.records[39].moduleCount, 1u);

    system_.processes.resize(10);
    ASSERT_EQ(list.Refresh(), 1);
    EXPECT_EQ(list.count, 10u);
    EXPECT_EQ(list.capacity, 40u);

    system_.processes.clear();
    ASSERT_EQ(list.Refresh(), 1);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(list.capacity, 40u);

    list.ReleaseRecords();
    EXPECT_EQ(list.records, nullptr);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(list.capacity, 40u);
}

TEST_F(FakeFamily, Win9xThreadWalkOverwrittenRecordsAndCapitals)
{
    system_.version = Win98Version;
    system_.processes = {
        Process(0xFFF10001, 0, "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL",
                {Module(0xFFF10001, 0xBFF70000, 0x71000, "C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL")}),
        Process(0xFFF20002, 0, "MSGSRV32"),
        Process(0xFFF30003, 0, "C:\\Program Files\\Tool\\MixedCase.exe",
                {Module(0xFFF30003, 0x400000, 0x2000, "C:\\Program Files\\Tool\\MixedCase.exe"),
                 // 0xB5 0x61 is one double-byte character in code page 936;
                 // the rule still raises its second byte.
                 Module(0xFFF30003, 0x10000000, 0x3000, "c:\\tool\\\xC4\xE3\xB5\x61-\xE9z.dll")}),
        Process(0xFFF40004, 0, "SPOOL32", {Module(0xFFF40004, 0x400000, 0x1000, "C:\\WINDOWS\\SPOOL32.EXE")}),
    };
    system_.threadOwners = {0xFFF10001, 0xFFF30003, 0xFFF30003, 0xFFF30003, 0xFFF20002, 0xFFF99999};
    system_.foreignModules = {Module(0xFFF99999, 0x400000, 0x1000, "C:\\other.exe")};

    const DWORD handles = HandleCount();
    {
        ProcessList list;
        ASSERT_EQ(list.family, Win9x);
        ASSERT_EQ(list.Refresh(), 1);
        EXPECT_EQ(system_.badSizes, 0);
        ASSERT_EQ(list.count, 4u);
        // One thread snapshot per process entry, the overwritten one too.
        EXPECT_EQ(system_.threadSnapshots, 4);

        EXPECT_EQ(list.records[0].processId, 0xFFF10001u);
        EXPECT_EQ(list.records[0].threadCount, 2u);  // counted from 1
        EXPECT_STREQ(list.records[0].name, "KERNEL32.DLL");
        ASSERT_EQ(list.records[0].moduleCount, 1u);

        // MSGSRV32 had no path: the next entry took its record.
        const ProcessRecord& tool = list.records[1];
        EXPECT_EQ(tool.processId, 0xFFF30003u);
        EXPECT_EQ(tool.threadCount, 4u);
        EXPECT_STREQ(tool.name, "MixedCase.exe");  // names keep their case
        ASSERT_EQ(tool.moduleCount, 2u);
        EXPECT_STREQ(tool.modules[0].path, L"C:\\PROGRAM FILES\\TOOL\\MIXEDCASE.EXE");
        EXPECT_STREQ(tool.modules[1].path, L"C:\\TOOL\\\u00C4\u00E3\u00B5A-\u00E9Z.DLL");
        EXPECT_EQ(tool.modules[1].base, reinterpret_cast<HMODULE>(0x10000000));
        EXPECT_EQ(tool.modules[1].size, 0x3000u);

        // The last entry without a path keeps its own record, without modules.
        EXPECT_EQ(list.records[2].processId, 0xFFF40004u);
        EXPECT_EQ(list.records[2].moduleCount, 0u);
        EXPECT_EQ(list.records[2].modules, nullptr);
        // And one record no process filled.
        EXPECT_EQ(list.records[3].processId, 0u);
        EXPECT_EQ(list.records[3].moduleCount, 0u);
    }
    EXPECT_EQ(HandleCount(), handles);

    std::vector<Visit> visits;
    const ScanReport report = RunPass(visits);
    EXPECT_EQ(Paths(visits),
              (std::vector<std::string>{"C:\\WINDOWS\\SYSTEM\\KERNEL32.DLL", "C:\\PROGRAM FILES\\TOOL\\MIXEDCASE.EXE",
                                        "C:\\TOOL\\\xC4\xE3\xB5\x41-\xE9Z.DLL"}));
    EXPECT_EQ(CountMessages(report, PBM_STEPIT), 4u);
}

TEST_F(FakeFamily, Win9xWithoutThreadSnapshotCountsOneThread)
{
    system_.version = Win98Version;
    system_.processes = {Process(1, 0, "C:\\A.EXE", {Module(1, 0x400000, 1, "C:\\A.EXE")})};
    system_.threadOwners.clear();
    ProcessList list;
    ASSERT_EQ(list.Refresh(), 1);
    EXPECT_EQ(list.records[0].threadCount, 1u);
}

TEST_F(FakeFamily, Nt4RecordsThreadCountsAndCapitals)
{
    system_.version = Nt4Version;
    FakeProcess idle = Process(0, 1, "");
    idle.openable = false;
    FakeProcess kernel = Process(2, 28, "");  // opens, lists no modules
    FakeProcess csrss = Process(0x24, 9, "",
                                {Module(0x24, 0x5FFF0000, 0x5000, "\\SystemRoot\\System32\\csrss.exe"),
                                 Module(0x24, 0x77F60000, 0x5C000, "C:\\WINNT\\System32\\ntdll.dll")});
    FakeProcess editor = Process(0x3C, 2, "",
                                 {Module(0x3C, 0x400000, 0x11000, "C:\\Programme\\\xC4\xE3z\\Edit Pad.exe"),
                                  Module(0x3C, 0x10000000, 0x2000, "c:\\winnt\\system32\\mfc42.dll"),
                                  Module(0x3C, 0x20000000, 0x3000, "c:\\winnt\\system32\\gone.dll")});
    editor.secondEnumModules = 2;  // one module went away between the two calls
    FakeProcess locked = Process(0x50, 7, "", {Module(0x50, 0x400000, 1, "C:\\LOCKED.EXE")});
    locked.openable = false;
    FakeProcess bare = Process(0x60, 1, "", {Module(0x60, 0x400000, 1, "SERVICES.EXE")});
    system_.processes = {idle, kernel, csrss, editor, locked, bare};
    // The system information wants three doublings before it fits.
    system_.queryNeeds = 300000;

    const DWORD handles = HandleCount();
    {
        ProcessList list;
        ASSERT_EQ(list.family, NT4);
        ASSERT_EQ(list.Refresh(), 1);
        EXPECT_EQ(system_.badSizes, 0);
        ASSERT_EQ(list.count, 6u);

        EXPECT_EQ(list.records[0].processId, 0u);
        EXPECT_EQ(list.records[0].threadCount, 1u);
        EXPECT_EQ(list.records[1].threadCount, 28u);
        EXPECT_EQ(list.records[1].moduleCount, 0u);

        const ProcessRecord& c = list.records[2];
        EXPECT_EQ(c.processId, 0x24u);
        EXPECT_EQ(c.threadCount, 9u);
        EXPECT_STREQ(c.name, "CSRSS.EXE");
        ASSERT_EQ(c.moduleCount, 2u);
        EXPECT_STREQ(c.modules[0].path, L"\\SYSTEMROOT\\SYSTEM32\\CSRSS.EXE");
        EXPECT_EQ(c.modules[1].base, reinterpret_cast<HMODULE>(0x77F60000));
        EXPECT_EQ(c.modules[1].size, 0x5C000u);

        const ProcessRecord& e = list.records[3];
        EXPECT_STREQ(e.name, "EDIT PAD.EXE");
        ASSERT_EQ(e.moduleCount, 2u);
        // Only a to z are raised: the small a with tilde stays.
        EXPECT_STREQ(e.modules[0].path, L"C:\\PROGRAMME\\\u00C4\u00E3Z\\EDIT PAD.EXE");
        EXPECT_STREQ(e.modules[1].path, L"C:\\WINNT\\SYSTEM32\\MFC42.DLL");

        // Listed but not opened: id and thread count, no modules.
        EXPECT_EQ(list.records[4].processId, 0x50u);
        EXPECT_EQ(list.records[4].threadCount, 7u);
        EXPECT_EQ(list.records[4].moduleCount, 0u);

        // A first module without a path keeps no modules.
        EXPECT_EQ(list.records[5].processId, 0x60u);
        EXPECT_EQ(list.records[5].moduleCount, 0u);
        EXPECT_STREQ(list.records[5].name, "");
    }
    EXPECT_EQ(HandleCount(), handles);

    // Every process's query starts again at 256 expected processes.
    const std::vector<ULONG> perProcess = {51200, 102400, 204800, 409600};
    ASSERT_EQ(system_.queryLengths.size(), 6 * perProcess.size());
    for (size_t i = 0; i < system_.queryLengths.size(); ++i)
        EXPECT_EQ(system_.queryLengths[i], perProcess[i % perProcess.size()]) << i;

    std::vector<Visit> visits;
    const ScanReport report = RunPass(visits);
    EXPECT_EQ(Paths(visits), (std::vector<std::string>{"\\SYSTEMROOT\\SYSTEM32\\CSRSS.EXE",
                                                       "C:\\WINNT\\SYSTEM32\\NTDLL.DLL",
                                                       "C:\\PROGRAMME\\\xC4\xE3Z\\EDIT PAD.EXE",
                                                       "C:\\WINNT\\SYSTEM32\\MFC42.DLL"}));
    EXPECT_EQ(CountMessages(report, PBM_STEPIT), 6u);
}

TEST_F(FakeFamily, ModulePathsTheAnsiCodePageCannotSpellArriveWhole)
{
    // Folder U+6837 U+672C and a file named by an emoji (a surrogate pair):
    // code page 1252 has neither, so the 8-bit functions give '?' for them.
    const std::wstring sample = L"\u6837\u672C";
    const std::wstring emoji = L"\U0001F600";
    const FakeModule exe = Module(0x44, 0x400000, 0x5000, L"C:\\" + sample + L"\\tool.exe");
    const FakeModule dll = Module(0x44, 0x10000000, 0x3000, L"c:\\x\\" + emoji + L".dll");

    system_.processes = {Process(0x44, 1, "tool.exe", {exe, dll})};
    for (DWORD version : {0x0A280105ul, 0x1DB10106ul}) {
        system_.version = version;
        ProcessList list;
        ASSERT_EQ(list.Refresh(), 1);
        ASSERT_EQ(list.count, 1u);
        ASSERT_EQ(list.records[0].moduleCount, 2u);
        EXPECT_EQ(std::wstring(list.records[0].modules[0].path), exe.path) << std::hex << version;
        EXPECT_EQ(std::wstring(list.records[0].modules[1].path), dll.path) << std::hex << version;
    }

    // NT 4.0 raises a to z only.
    system_.version = Nt4Version;
    {
        ProcessList list;
        ASSERT_EQ(list.Refresh(), 1);
        ASSERT_EQ(list.count, 1u);
        const ProcessRecord& record = list.records[0];
        EXPECT_STREQ(record.name, "TOOL.EXE");
        ASSERT_EQ(record.moduleCount, 2u);
        EXPECT_EQ(std::wstring(record.modules[0].path), L"C:\\" + sample + L"\\TOOL.EXE");
        EXPECT_EQ(std::wstring(record.modules[1].path), L"C:\\X\\" + emoji + L".DLL");
    }

    // The Windows 95 family knows only its code page: the 8-bit path, in
    // capitals, read in it (byte 0x80 is the euro sign in 1252).
    system_.version = Win98Version;
    system_.processes = {
        Process(0x44, 1, "C:\\tool.exe",
                {Module(0x44, 0x400000, 0x5000, L"c:\\caf\u00E9\\\u20AC" + sample + L".exe")})};
    {
        ProcessList list;
        ASSERT_EQ(list.Refresh(), 1);
        ASSERT_EQ(list.count, 1u);
        ASSERT_EQ(list.records[0].moduleCount, 1u);
        EXPECT_STREQ(list.records[0].modules[0].path, L"C:\\CAF\u00E9\\\u20AC??.EXE");
    }
    EXPECT_EQ(system_.badSizes, 0);
}

TEST_F(FakeFamily, Nt4ListsAtMost1024Processes)
{
    system_.version = Nt4Version;
    for (DWORD i = 0; i < 1100; ++i) {
        FakeProcess p = Process(4 * (i + 1), 1, "");
        p.openable = false;
        system_.processes.push_back(p);
    }
    ProcessList list;
    ASSERT_EQ(list.Refresh(), 1);
    EXPECT_EQ(list.count, 1024u);
    EXPECT_EQ(list.capacity, 1024u);
    EXPECT_EQ(list.records[1023].processId, 4096u);
    EXPECT_EQ(list.records[1023].threadCount, 1u);
}

TEST_F(FakeFamily, ThreadCountQuery)
{
    system_.version = Nt4Version;
    system_.processes = {Process(8, 31, ""), Process(0x24, 12, "")};
    ProcessList list;
    EXPECT_EQ(list.QueryThreadCount(0x24), 12u);
    EXPECT_EQ(list.QueryThreadCount(8), 31u);
    EXPECT_EQ(list.QueryThreadCount(0x777), 0u);  // not listed

    system_.queryStatus = static_cast<LONG>(0xC0000022);
    EXPECT_EQ(list.QueryThreadCount(0x24), 0u);
    system_.queryStatus = 0;

    // A system that always wants more ends the query, with 0, once the
    // buffer has grown far enough.
    system_.queryMismatchForever = true;
    system_.queryLengths.clear();
    EXPECT_EQ(list.QueryThreadCount(0x24), 0u);
    ASSERT_GE(system_.queryLengths.size(), 5u);
    EXPECT_LE(system_.queryLengths.size(), 16u);
    for (size_t i = 1; i < system_.queryLengths.size(); ++i)
        EXPECT_EQ(system_.queryLengths[i], 2 * system_.queryLengths[i - 1]);
    system_.queryMismatchForever = false;

    // An allocation that fails while the buffer grows ends the query too.
    system_.queryNeeds = 300000;
    system_.queryLengths.clear();
    nothrowCountdown = 2;
    EXPECT_EQ(list.QueryThreadCount(0x24), 0u);
    EXPECT_EQ(system_.queryLengths.size(), 1u);
    nothrowCountdown = 0;
    EXPECT_EQ(list.QueryThreadCount(0x24), 12u);
}

static DWORD WINAPI WaitForRelease(LPVOID event)
{
    return WaitForSingleObject(event, 10000);
}

TEST(ThreadCountQueryUnderWine, MatchesTheThreadsOfThisProcess)
{
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<HANDLE> threads;
    for (int i = 0; i < 3; ++i)
        threads.push_back(CreateThread(nullptr, 0, WaitForRelease, release, 0, nullptr));

    DWORD expected = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    ASSERT_NE(snapshot, INVALID_HANDLE_VALUE);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++expected;
    }
    CloseHandle(snapshot);

    ProcessList list;
    EXPECT_GE(expected, 4u);
    EXPECT_EQ(list.QueryThreadCount(GetCurrentProcessId()), expected);
    EXPECT_EQ(list.QueryThreadCount(0xFFFFFFF0u), 0u);

    SetEvent(release);
    for (HANDLE t : threads) {
        WaitForSingleObject(t, 10000);
        CloseHandle(t);
    }
    CloseHandle(release);
}

TEST_F(FakeFamily, AMissingRequiredFunctionEmptiesThePass)
{
    system_.processes = {Process(0x10, 1, "C:\\A.EXE", {Module(0x10, 0x400000, 1, "C:\\A.EXE")})};
    const struct {
        DWORD version;
        std::vector<size_t> required;
        std::vector<size_t> optional;
    } families[] = {
        {Win98Version, {0, 1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12, 13}},
        {Nt4Version, {7, 8, 9, 10, 11}, {0, 1, 2, 3, 4, 5, 6, 12, 13}},
        {0x0A280105, {0, 1, 2, 12, 13, 7, 8, 9, 10, 11}, {3, 4, 5, 6}},
        {0x3303, {7, 8, 9, 10, 11}, {0, 1, 2, 3, 4, 5, 6, 12, 13}},
    };
    for (const auto& family : families) {
        for (size_t which : family.required) {
            SCOPED_TRACE(testing::Message() << "version " << std::hex << family.version << " without " << std::dec
                                            << which);
            system_.version = family.version;
            system_.processSnapshots = 0;
            missing = {which};
            ProcessList list;
            EXPECT_EQ(list.Refresh(), 0);
            EXPECT_EQ(system_.processSnapshots, 0);
        }
        for (size_t which : family.optional) {
            system_.version = family.version;
            missing = {which};
            ProcessList list;
            EXPECT_EQ(list.Refresh(), 1) << std::hex << family.version << " without " << std::dec << which;
        }
    }

    // Without the library of process-status functions (NT 5 does not call
    // them), and on 3.51, which takes NT 4.0's way, without that library:
    // no range, no step, no visit.
    const struct {
        DWORD version;
        std::vector<size_t> gone;
    } passes[] = {{0x0A280105, {7, 8, 9, 10}}, {0x3303, {7, 8, 9, 10, 11}}, {Win98Version, {6}},
                  {Nt4Version, {11}}};
    for (const auto& pass : passes) {
        system_.version = pass.version;
        missing = pass.gone;
        std::vector<Visit> visits;
        const ScanReport report = RunPass(visits);
        EXPECT_TRUE(report.finished);
        EXPECT_TRUE(visits.empty()) << std::hex << pass.version;
        EXPECT_TRUE(report.progress.empty()) << std::hex << pass.version;
    }
}

TEST_F(FakeFamily, AProcessSnapshotThatFailsEmptiesThePass)
{
    system_.processes = {Process(0x10, 1, "a.exe", Modules(0x10, 1, "C:\\a"))};
    system_.processSnapshotFails = true;
    for (DWORD version : {Win98Version, 0x0A280105ul}) {
        system_.version = version;
        std::vector<Visit> visits;
        const ScanReport report = RunPass(visits);
        EXPECT_TRUE(visits.empty());
        EXPECT_TRUE(report.progress.empty());
    }
}

TEST_F(FakeFamily, StopRequests)
{
    system_.processes = {Process(0x10, 1, "a.exe", Modules(0x10, 3, "C:\\a")),
                         Process(0x20, 1, "b.exe", Modules(0x20, 2, "C:\\b"))};

    // Before the loop: range and step are set, no step is taken.
    std::vector<Visit> visits;
    ScanReport report = RunPass(visits, true);
    EXPECT_TRUE(visits.empty());
    EXPECT_EQ(CountMessages(report, PBM_SETRANGE), 1u);
    EXPECT_EQ(CountMessages(report, PBM_SETSTEP), 1u);
    EXPECT_EQ(CountMessages(report, PBM_STEPIT), 0u);

    // While a process's modules are visited: the rest of them still are.
    report = RunPass(visits, false, [](RecordingWalker& walker, const char*) { walker.context->RequestStop(); });
    EXPECT_EQ(Paths(visits), (std::vector<std::string>{"C:\\a\\m0.dll", "C:\\a\\m1.dll", "C:\\a\\m2.dll"}));
    EXPECT_EQ(CountMessages(report, PBM_STEPIT), 1u);
}

TEST_F(FakeFamily, AModuleSnapshotRefusedWithBadLengthIsTakenAgain)
{
    const struct {
        DWORD error;
        int failures;
        DWORD modules;
        int snapshots;
    } cases[] = {
        {ERROR_BAD_LENGTH, 1, 2, 2},
        {ERROR_BAD_LENGTH, 1000, 0, 16},  // tries end, within the call's limit
        {ERROR_ACCESS_DENIED, 1, 0, 1},
    };
    for (DWORD version : {Win98Version, 0x0A280105ul}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << std::hex << version << std::dec << ", error " << c.error << " "
                                            << c.failures << " times");
            system_.version = version;
            system_.processes = {Process(0x10, 1, "C:\\a\\a.exe", Modules(0x10, 2, "C:\\a"))};
            system_.failSnapshotOf = 0x10;
            system_.snapshotFailures = c.failures;
            system_.snapshotError = c.error;
            system_.moduleSnapshots = 0;
            ProcessList list;
            ASSERT_EQ(list.Refresh(), 1);
            ASSERT_EQ(list.count, 1u);
            EXPECT_EQ(list.records[0].moduleCount, c.modules);
            EXPECT_EQ(system_.moduleSnapshots, c.snapshots);
        }
    }
}

TEST_F(FakeFamily, TimedNextModuleCallHandsBackTheEntry)
{
    system_.processes = {Process(0x10, 1, "a.exe", Modules(0x10, 2, "C:\\a"))};
    ProcessList list;
    {
        SnapshotHandle snapshot(list.TimedModuleSnapshot(0x10));
        ASSERT_TRUE(snapshot);
        MODULEENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        ASSERT_TRUE(list.api.Module32FirstW(snapshot.Get(), &entry));
        EXPECT_STREQ(entry.szExePath, L"C:\\a\\m0.dll");
        EXPECT_EQ(list.TimedModule32Next(snapshot, &entry), 1);
        EXPECT_STREQ(entry.szExePath, L"C:\\a\\m1.dll");
        EXPECT_EQ(entry.modBaseSize, 0x2000u);
        EXPECT_EQ(list.TimedModule32Next(snapshot, &entry), 0);
    }
    // The 8-bit entry of the Windows 95 family.
    {
        SnapshotHandle snapshot(list.TimedModuleSnapshot(0x10));
        ASSERT_TRUE(snapshot);
        MODULEENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        ASSERT_TRUE(list.api.Module32First(snapshot.Get(), &entry));
        EXPECT_EQ(list.TimedModule32Next(snapshot, &entry), 1);
        EXPECT_STREQ(entry.szExePath, "C:\\a\\m1.dll");
        EXPECT_EQ(list.TimedModule32Next(snapshot, &entry), 0);
    }
    EXPECT_EQ(system_.badSizes, 0);
    EXPECT_EQ(list.TimedModuleSnapshot(0x999), INVALID_HANDLE_VALUE);
}

TEST_F(FakeFamily, AllocationFailuresEndTheRefreshCleanly)
{
    for (DWORD version : {Win98Version, Nt4Version, 0x0A280105ul}) {
        CloseHandle(system_.release);
        system_ = FakeSystem();
        system_.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        system_.version = version;
        for (DWORD i = 0; i < 3; ++i)
            system_.processes.push_back(
                Process(4 * (i + 1), 2, "C:\\p\\p.exe", Modules(4 * (i + 1), 2, "C:\\p")));
        system_.threadOwners = {4, 8};

        long allocations = 0;
        {
            ProcessList list;
            nothrowCalls = 0;
            ASSERT_EQ(list.Refresh(), 1);
            allocations = nothrowCalls;
        }
        ASSERT_GT(allocations, 3);

        // Each allocation of a refresh in turn fails.
        system_.queryLengths.clear();
        system_.queryLengths.reserve(20000);
        const DWORD handles = HandleCount();
        const size_t heap = HeapBytesInUse();
        for (long k = 1; k <= allocations; ++k) {
            ProcessList list;
            nothrowCountdown = k;
            const int result = list.Refresh();
            nothrowCountdown = 0;
            if (result == 0) {
                EXPECT_EQ(list.count, 0u) << version << " " << k;
            } else {
                // A call block that could not be had is a failed call: fewer modules.
                EXPECT_EQ(list.count, 3u);
            }
            // The list is still usable afterwards.
            EXPECT_EQ(list.Refresh(), 1);
            EXPECT_EQ(list.count, 3u);
        }
        EXPECT_EQ(HandleCount(), handles) << std::hex << version;
        EXPECT_LE(HeapBytesInUse(), heap + 1024) << std::hex << version;

        // More processes than the first 32 records, and no memory for more.
        for (DWORD i = 3; i < 40; ++i)
            system_.processes.push_back(Process(4 * (i + 1), 1, "C:\\q\\q.exe"));
        {
            ProcessList list;
            nothrowCountdown = version == Nt4Version ? 2 : 1;  // NT 4.0 takes its id array first
            EXPECT_EQ(list.Refresh(), 0);
            nothrowCountdown = 0;
            EXPECT_EQ(list.count, 0u);
            EXPECT_EQ(list.capacity, 32u);
            EXPECT_EQ(list.Refresh(), 1);
            EXPECT_EQ(list.count, 40u);
            EXPECT_EQ(list.capacity, 40u);
        }

        // The scan's pass visits nothing then, and the disk pass follows.
        ScanHost host;
        std::vector<Visit> visits;
        const ScanReport report = host.Run([&](ScanContext& context) {
            RecordingWalker walker(&context);
            walker.firstDrive = walker.lastDrive = 'Q';
            walker.isUsbVolume = [](char) { return false; };
            nothrowCountdown = version == Nt4Version ? 3 : 2;  // after the list's first 32 records
            walker.RunScan();
            nothrowCountdown = 0;
            visits = walker.visits;
        });
        EXPECT_TRUE(report.finished);
        EXPECT_TRUE(visits.empty());
        ASSERT_FALSE(report.progress.empty());
        EXPECT_EQ(report.progress[0].message, static_cast<UINT>(PBM_SETRANGE));
        EXPECT_EQ(report.progress[0].lParam, MAKELPARAM(0, 1));  // the disk pass's range: one letter
        EXPECT_TRUE(report.summaryShown);
    }
}

TEST_F(FakeFamily, NoHandleThreadOrMemoryLeftAfterManyRefreshes)
{
    for (DWORD version : {Win98Version, Nt4Version, 0x0A280105ul}) {
        system_.version = version;
        system_.processes.clear();
        for (DWORD i = 0; i < 36; ++i)
            system_.processes.push_back(
                Process(4 * (i + 1), 2, "C:\\p\\p.exe", Modules(4 * (i + 1), i % 3, "C:\\p")));
        system_.threadOwners = {4, 8};
        system_.queryLengths.clear();
        system_.queryLengths.reserve(20000);  // the fake's own record must not grow meanwhile
        {
            ProcessList warm;
            ASSERT_EQ(warm.Refresh(), 1);
        }
        const DWORD handles = HandleCount();
        const DWORD threads = ThreadsOfThisProcess();
        const size_t heap = HeapBytesInUse();
        for (int i = 0; i < 25; ++i) {
            ProcessList list;
            ASSERT_EQ(list.Refresh(), 1);
        }
        {
            ProcessList list;
            for (int i = 0; i < 25; ++i)
                ASSERT_EQ(list.Refresh(), 1);
        }
        const size_t heapAfter = HeapBytesInUse();
        EXPECT_EQ(HandleCount(), handles) << std::hex << version;
        EXPECT_EQ(ThreadsOfThisProcess(), threads);
        EXPECT_LE(heapAfter, heap + 1024) << std::hex << version << std::dec << ": " << heap << " -> " << heapAfter;
    }
}

// The slow cases: calls that never return and the limits that end them.
class FakeFamilyTimeouts : public FakeFamily {};

TEST_F(FakeFamilyTimeouts, HungModuleCallsCostTheirProcessOnlyWhatIsLeft)
{
    system_.processes = {Process(0x10, 1, "a.exe", Modules(0x10, 3, "C:\\a")),
                         Process(0x20, 1, "b.exe", Modules(0x20, 4, "C:\\b")),
                         Process(0x30, 1, "c.exe", Modules(0x30, 2, "C:\\c"))};
    system_.hangSnapshotOf = 0x10;
    system_.hangNextOf = 0x20;
    system_.hangNextAfter = 2;

    const DWORD handles = HandleCount();
    const DWORD threads = ThreadsOfThisProcess();
    const DWORD start = GetTickCount();
    {
        ProcessList list;
        ASSERT_EQ(list.Refresh(), 1);
        const DWORD elapsed = GetTickCount() - start;
        // 3 s for the snapshot, 5 s for the step; the filling walk stops
        // once the two counted modules are in. Two seconds spare for Wine's
        // scheduling, too few to hide a longer snapshot limit.
        EXPECT_GE(elapsed, 7900u);
        EXPECT_LT(elapsed, 3000u + 5000u + 2000u);
        ASSERT_EQ(list.count, 3u);
        EXPECT_EQ(list.records[0].processId, 0x10u);
        EXPECT_EQ(list.records[0].moduleCount, 0u);
        ASSERT_EQ(list.records[1].moduleCount, 2u);
        EXPECT_STREQ(list.records[1].modules[0].path, L"C:\\b\\m0.dll");
        EXPECT_STREQ(list.records[1].modules[1].path, L"C:\\b\\m1.dll");
        ASSERT_EQ(list.records[2].moduleCount, 2u);
        EXPECT_STREQ(list.records[2].modules[1].path, L"C:\\c\\m1.dll");
    }
    // Given up, not ended: each is still in its call, and once the call
    // returns it ends by itself, leaving no handle and no thread.
    EXPECT_EQ(system_.hungThreads.size(), 2u);
    EXPECT_EQ(TimedCallsRunning(), 2);
    std::vector<HANDLE> hung;
    for (DWORD id : system_.hungThreads) {
        if (HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id))
            hung.push_back(thread);
    }
    EXPECT_EQ(hung.size(), 2u);
    for (HANDLE thread : hung)
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT) << "a call thread was ended at its limit";
    SetEvent(system_.release);
    for (HANDLE thread : hung) {
        EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    EXPECT_EQ(TimedCallsRunning(), 0);
    EXPECT_EQ(HandleCount(), handles);
    EXPECT_EQ(ThreadsOfThisProcess(), threads);
}

namespace {

DWORD WINAPI TakeHeapLock(LPVOID)
{
    HeapLock(GetProcessHeap());
    HeapUnlock(GetProcessHeap());
    return 0;
}

}  // namespace

// A thread ended inside a call keeps whatever lock it held for good: the
// loader's while it starts or ends, the heap's inside the call. The next
// thread start or allocation, and the exit's DLL detach, would wait on it.
TEST_F(FakeFamilyTimeouts, ACallGivenUpAtItsLimitLeavesNoLockTakenForGood)
{
    system_.processes = {Process(0x10, 1, "a.exe", Modules(0x10, 3, "C:\\a"))};
    system_.hangSnapshotOf = 0x10;
    system_.hangHoldingHeap = true;
    ProcessList list;
    EXPECT_EQ(list.TimedModuleSnapshot(0x10), INVALID_HANDLE_VALUE);
    ASSERT_EQ(system_.hungThreads.size(), 1u);
    SetEvent(system_.release);

    HANDLE probe = CreateThread(nullptr, 0, TakeHeapLock, nullptr, 0, nullptr);
    ASSERT_NE(probe, nullptr);
    if (WaitForSingleObject(probe, 5000) != WAIT_OBJECT_0) {
        // This process's heap stays locked: nothing more can be reported.
        static const char message[] = "The process heap stayed locked after a call was given up at its limit.\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, sizeof message - 1, &written, nullptr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(probe);
}

TEST_F(FakeFamilyTimeouts, AStepEndedAtItsLimitNeverWritesTheCallersEntry)
{
    system_.processes = {Process(0x20, 1, "b.exe", Modules(0x20, 4, "C:\\b"))};
    system_.hangNextOf = 0x20;
    system_.hangNextAfter = 1;

    ProcessList list;
    SnapshotHandle snapshot(list.TimedModuleSnapshot(0x20));
    ASSERT_TRUE(snapshot);
    MODULEENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    ASSERT_TRUE(list.api.Module32FirstW(snapshot.Get(), &entry));
    const MODULEENTRY32W before = entry;

    const DWORD start = GetTickCount();
    const HANDLE stepped = snapshot.Get();
    EXPECT_EQ(list.TimedModule32Next(snapshot, &entry), 0);
    EXPECT_GE(GetTickCount() - start, 4900u);
    EXPECT_EQ(std::memcmp(&entry, &before, sizeof entry), 0);
    // The call keeps the handle it steps, which no other snapshot can come
    // to have while it runs; the caller has a copy of its own.
    DWORD flags = 0;
    EXPECT_TRUE(GetHandleInformation(stepped, &flags));
    ASSERT_TRUE(snapshot);
    EXPECT_NE(snapshot.Get(), stepped);
    snapshot.Reset();
    EXPECT_TRUE(GetHandleInformation(stepped, &flags));

    // The call thread works on an entry of its own: let go, it writes there.
    ASSERT_EQ(system_.hungEntries.size(), 1u);
    EXPECT_NE(system_.hungEntries[0], static_cast<void*>(&entry));
    HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, system_.hungThreads[0]);
    ASSERT_NE(thread, nullptr);
    SetEvent(system_.release);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(std::memcmp(&entry, &before, sizeof entry), 0);
    EXPECT_FALSE(GetHandleInformation(stepped, &flags));
}

TEST(ProcessListUnderWine, NoHandleThreadOrMemoryLeftAfterManyRefreshes)
{
    // Nothing else in this program loads Psapi.dll: the list's reference
    // is the only one, and destruction must give it back.
    ASSERT_EQ(GetModuleHandleA("psapi.dll"), nullptr);
    {
        // Wine's first snapshot sets things up that stay.
        ProcessList warm;
        ASSERT_EQ(warm.Refresh(), 1);
        EXPECT_NE(GetModuleHandleA("psapi.dll"), nullptr);
    }
    EXPECT_EQ(GetModuleHandleA("psapi.dll"), nullptr) << "Psapi.dll was not released";

    const DWORD handles = HandleCount();
    const DWORD threads = ThreadsOfThisProcess();
    // A leak grows the heap in every round of refreshes; the blocks Wine
    // and the runtime keep grow to what the busiest round needed (more on a
    // loaded machine) and stop: some round must leave the heap no larger
    // than the round before. Each real refresh starts hundreds of call
    // threads; a few suffice here.
    std::vector<size_t> heaps;
    heaps.reserve(16);  // not measured growing
    heaps.push_back(HeapBytesInUse());
    for (int round = 0; round < 12 && (heaps.size() < 2 || heaps.back() > heaps[heaps.size() - 2]); ++round) {
        {
            // A new list, and one refreshed again.
            ProcessList list;
            ASSERT_EQ(list.Refresh(), 1);
            ASSERT_EQ(list.Refresh(), 1);
        }
        // On a loaded machine a call may pass its limit; given up, it goes
        // on alone and frees its block when it returns.
        for (int i = 0; i < 500 && TimedCallsRunning() != 0; ++i)
            Sleep(20);
        heaps.push_back(HeapBytesInUse());
    }
    EXPECT_EQ(HandleCount(), handles);
    EXPECT_EQ(ThreadsOfThisProcess(), threads);
    EXPECT_LE(heaps.back(), heaps[heaps.size() - 2]) << testing::PrintToString(heaps);
}

// The memory pass for real: Wine's tool-help functions, this test process
// and a DLL it loaded.
#include "Md5.h"
#include "ProcessList.h"
#include "RecordingWalker.h"
#include "Reference.h"
#include "ScanHost.h"
#include "SignatureMatcher.h"
#include "TempTree.h"
#include "TrustedFolders.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(c >= L'A' && c <= L'Z' ? c + 32 : c); });
    return text;
}

std::string OwnPath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::wstring OwnPathW()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

bool Visited(const std::vector<Visit>& visits, const std::string& path)
{
    const std::string wanted = Lower(path);
    return std::any_of(visits.begin(), visits.end(), [&](const Visit& v) { return Lower(v.path) == wanted; });
}

size_t CountMessages(const ScanReport& report, UINT message)
{
    return static_cast<size_t>(std::count_if(report.progress.begin(), report.progress.end(),
                                             [&](const ProgressMessage& m) { return m.message == message; }));
}

}  // namespace

TEST(MemoryPassUnderWine, FamilyOfThisSystemIsNt5PlusWithEveryFunctionResolved)
{
    ProcessList list;
    EXPECT_EQ(list.family, NT5Plus);
    EXPECT_NE(list.kernel32Library.Get(), nullptr);
    EXPECT_NE(list.psapiLibrary.Get(), nullptr);
    EXPECT_NE(list.ntdllLibrary.Get(), nullptr);
    const RuntimeApi& api = list.api;
    const void* resolved[] = {
        reinterpret_cast<const void*>(api.CreateToolhelp32Snapshot), reinterpret_cast<const void*>(api.Process32First),
        reinterpret_cast<const void*>(api.Process32Next), reinterpret_cast<const void*>(api.Module32First),
        reinterpret_cast<const void*>(api.Module32Next), reinterpret_cast<const void*>(api.Module32FirstW),
        reinterpret_cast<const void*>(api.Module32NextW), reinterpret_cast<const void*>(api.Thread32First),
        reinterpret_cast<const void*>(api.Thread32Next), reinterpret_cast<const void*>(api.EnumProcessModules),
        reinterpret_cast<const void*>(api.EnumProcesses), reinterpret_cast<const void*>(api.GetModuleFileNameExW),
        reinterpret_cast<const void*>(api.GetModuleInformation),
        reinterpret_cast<const void*>(api.NtQuerySystemInformation),
        reinterpret_cast<const void*>(api.Wow64DisableWow64FsRedirection),
        reinterpret_cast<const void*>(api.Wow64RevertWow64FsRedirection),
    };
    for (size_t i = 0; i < sizeof resolved / sizeof resolved[0]; ++i)
        EXPECT_NE(resolved[i], nullptr) << "function " << i;
}

TEST(MemoryPassUnderWine, ListHoldsThisProcessWithItsExecutableAndThreads)
{
    ProcessList list;
    ASSERT_EQ(list.Refresh(), 1);
    ASSERT_GT(list.count, 1u);
    EXPECT_GE(list.capacity, list.count);
    const ProcessRecord* self = nullptr;
    for (DWORD i = 0; i < list.count; ++i) {
        if (list.records[i].processId == GetCurrentProcessId())
            self = &list.records[i];
    }
    ASSERT_NE(self, nullptr);
    EXPECT_GE(self->threadCount, 1u);
    ASSERT_GT(self->moduleCount, 1u);
    EXPECT_EQ(Lower(self->name), Lower(OwnPath().substr(OwnPath().rfind('\\') + 1)));
    // The executable is one of the modules, with the base the loader gave it.
    bool exeFound = false;
    for (DWORD j = 0; j < self->moduleCount; ++j) {
        if (self->modules[j].base == GetModuleHandleA(nullptr)) {
            exeFound = true;
            EXPECT_EQ(Lower(std::wstring(self->modules[j].path)), Lower(OwnPathW()));
            EXPECT_GT(self->modules[j].size, 0u);
        }
    }
    EXPECT_TRUE(exeFound);
}

namespace {

// The files with these bytes in the program's own folder on C:.
size_t CopiesWaiting(const std::string& bytes)
{
    size_t count = 0;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA("C:\\TavokRemover.quarantine\\*", &entry);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        std::string held;
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            ReadWholeFile(std::string("C:\\TavokRemover.quarantine\\") + entry.cFileName, held) && held == bytes)
            ++count;
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return count;
}

}  // namespace

TEST(MemoryPassUnderWine, VisitsOwnExecutableAndRemovesALoadedDllCopyThatMatches)
{
    TempTree tree;
    const std::string probe = ProbeDllBytes();
    ASSERT_GT(probe.size(), 1024u);
    const std::string copy = tree.WriteFile(
        "probe-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()) + ".dll", probe);

    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(copy, bytes));
    SignatureEntry row = {static_cast<uint32_t>(bytes.size()), 1, {}};
    Md5Context md5;
    Md5Init(&md5);
    Md5Update(&md5, bytes.data(), bytes.size());
    Md5Final(&md5, row.md5);
    const SignatureSet table = {&row, 1};

    HMODULE dll = LoadLibraryA(copy.c_str());
    ASSERT_NE(dll, nullptr) << GetLastError();
    ASSERT_NE(GetProcAddress(dll, "TavokProbe"), nullptr);

    const size_t waitingBefore = CopiesWaiting(bytes);
    ScanHost host;
    std::vector<Visit> visits;
    UINT files = 0, infected = 0, deleted = 0;
    RuntimeApiOverride = OwnFolderTrusted;
    const ScanReport report = host.Run([&](ScanContext& context) {
        RecordingWalker walker(&context, table);
        walker.examineFiles = true;
        walker.ScanMemory();
        visits = walker.visits;
        files = walker.files;
        infected = walker.infected;
        deleted = walker.deleted;
    });
    RuntimeApiOverride = nullptr;
    ASSERT_TRUE(report.finished);

    EXPECT_TRUE(Visited(visits, OwnPath())) << OwnPath();
    EXPECT_TRUE(Visited(visits, copy)) << copy;
    for (const Visit& visit : visits)
        EXPECT_EQ(visit.fromMemory, 1) << visit.path;
    EXPECT_EQ(files, visits.size());

    // One step per process, over a range of exactly that many.
    ASSERT_EQ(CountMessages(report, PBM_SETRANGE), 1u);
    const auto range = std::find_if(report.progress.begin(), report.progress.end(),
                                    [](const ProgressMessage& m) { return m.message == PBM_SETRANGE; });
    EXPECT_EQ(LOWORD(range->lParam), 0);
    EXPECT_GT(HIWORD(range->lParam), 1);
    EXPECT_EQ(CountMessages(report, PBM_STEPIT), static_cast<size_t>(HIWORD(range->lParam)));
    EXPECT_EQ(CountMessages(report, PBM_SETSTEP), 1u);

    // Wine keeps a loaded DLL from being deleted; the copy is moved into the
    // program's own folder and registered for deletion at restart there.
    EXPECT_EQ(infected, 1u);
    EXPECT_EQ(deleted, 0u);
    ASSERT_EQ(report.rows.size(), 1u);
    EXPECT_EQ(Lower(std::string(report.rows[0].path.begin(), report.rows[0].path.end())), Lower(copy));
    EXPECT_EQ(report.rows[0].name, L"Worm.Win32.Tavok");
    EXPECT_EQ(report.rows[0].outcome, L"Delay Delete");
    EXPECT_FALSE(FileExists(copy));
    EXPECT_EQ(CopiesWaiting(bytes), waitingBefore + 1);

    FreeLibrary(dll);
}

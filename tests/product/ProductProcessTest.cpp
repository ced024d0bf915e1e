// The built program as a user runs it: its own process, its main dialog,
// a whole scan with its summary, and its exit code.
#include "Handle.h"
#include "Reference.h"
#include "ScanHost.h"
#include "SignatureMatcher.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Copied here by the test run: a program must lie on a drive to be started.
// The 32-bit test program starts the shipped build.
#ifdef _WIN64
const char ProductPath[] = "C:\\tavok-product\\TavokRemover.exe";
#else
const char ProductPath[] = "C:\\tavok-product-i686\\TavokRemover.exe";
#endif

// The check of each Windows family's rules starts a copy of the program
// under another name, with Wine's trace on for that process alone.
std::string ProgramToStart()
{
    const char* other = std::getenv("TAVOK_PRODUCT");
    return other && *other ? other : ProductPath;
}

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> dialogs;
};

BOOL CALLBACK CollectDialogs(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsVisibleDialog(window))
        search->dialogs.push_back(window);
    return TRUE;
}

// Polls for a visible dialog of the process that the predicate accepts.
template <class Accept>
HWND WaitForDialog(DWORD processId, Accept accept, DWORD timeoutMs = 30000)
{
    const DWORD start = GetTickCount();
    do {
        DialogSearch search = {processId, {}};
        EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&search));
        for (HWND dialog : search.dialogs) {
            if (accept(dialog))
                return dialog;
        }
        Sleep(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

// Starts the program and waits for its main dialog.
void StartProduct(KernelHandle& process, DWORD& processId, HWND& main)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (const char* trace = std::getenv("TAVOK_PRODUCT_WINEDEBUG"))
        SetEnvironmentVariableA("WINEDEBUG", trace);
    ASSERT_TRUE(CreateProcessA(ProgramToStart().c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, "C:\\",
                               &startup, &started))
        << GetLastError();
    process.Reset(started.hProcess);
    CloseHandle(started.hThread);  // only the process is waited on
    processId = started.dwProcessId;
    WaitForInputIdle(process.Get(), 10000);
    main = WaitForDialog(processId, [](HWND dialog) { return GetDlgItem(dialog, 1002) != nullptr; });
    ASSERT_NE(main, nullptr);
}

class Product : public ::testing::Test {
protected:
    void SetUp() override { StartProduct(process_, processId_, main_); }

    void TearDown() override
    {
        if (process_ && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.Get(), 99);
    }

    DWORD ExitCode(DWORD timeoutMs = 15000)
    {
        EXPECT_EQ(WaitForSingleObject(process_.Get(), timeoutMs), WAIT_OBJECT_0);
        DWORD code = 12345;
        GetExitCodeProcess(process_.Get(), &code);
        return code;
    }

    KernelHandle process_;
    DWORD processId_ = 0;
    HWND main_ = nullptr;
};

}  // namespace

TEST_F(Product, ScanShowsTheSummaryAndExitEndsTheProcessWithCodeZero)
{
    const bool chinese = std::string(std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "").rfind("zh_CN", 0) == 0;
    EXPECT_EQ(WindowTextW(main_), chinese ? L"Veltrane“Tavok”病毒（Worm.Win32.Tavok）专杀工具"
                                          : L"Veltrane \"Worm.Win32.Tavok\" Remover");

    PostMessageA(main_, WM_COMMAND, 1, 0);  // Scan
    HWND summary = WaitForDialog(processId_, [&](HWND dialog) { return dialog != main_; }, 120000);
    ASSERT_NE(summary, nullptr);
    EXPECT_EQ(GetWindow(summary, GW_OWNER), main_);
    EXPECT_FALSE(IsWindowEnabled(main_));  // the box is modal to the dialog
    const std::wstring text = MessageBoxText(summary);
    const std::wstring start = chinese ? L"扫描完毕！\n扫描文件：" : L"Complete!\nFiles: ";
    EXPECT_EQ(text.substr(0, start.size()), start) << "summary: " << std::string(text.begin(), text.end());
    EXPECT_NE(text.find(chinese ? L"\n发现病毒：0\n清除失败：0\n" : L"\nInfected: 0\nKill failed: 0\n"),
              std::wstring::npos);
    EXPECT_EQ(WindowTextW(summary), chinese ? L"提示" : L"Message");
    // For the check of each family's calls, which compares it with what the drive holds.
    if (text.compare(0, start.size(), start) == 0)
        std::printf("Files counted by the scan: %lu\n", std::wcstoul(text.c_str() + start.size(), nullptr, 10));

    PostMessageA(summary, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 500 && !IsWindowEnabled(main_); ++i)
        Sleep(20);
    EXPECT_TRUE(IsWindowEnabled(main_));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main_, 2)));

    // Exit does nothing until the worker has let go, a moment after its box.
    for (int i = 0; i < 100 && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT; ++i) {
        PostMessageA(main_, WM_COMMAND, 2, 0);
        WaitForSingleObject(process_.Get(), 100);
    }
    EXPECT_EQ(ExitCode(), 0u);
}

TEST_F(Product, TheCloseCommandEndsTheProcessWithCodeZero)
{
    PostMessageA(main_, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(ExitCode(), 0u);
}

namespace {

// Child processes that run the probe DLL until the named event is set; the
// first also holds a file open without sharing, through a handle it inherited.
class Holders {
public:
    Holders(const std::string& dll, HANDLE heldFile)
    {
        char system[MAX_PATH] = {};
        GetSystemDirectoryA(system, MAX_PATH);
        for (int i = 0; i < 2; ++i) {
            std::string command = "\"" + std::string(system) + "\\rundll32.exe\" \"" + dll + "\",TavokProbeHold";
            STARTUPINFOA startup = {};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION info = {};
            if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, i == 0 && heldFile, 0, nullptr, nullptr,
                                &startup, &info))
                continue;
            CloseHandle(info.hThread);
            children_.push_back(info.hProcess);
        }
    }
    ~Holders()
    {
        SetEvent(release_.Get());
        for (HANDLE child : children_) {
            if (WaitForSingleObject(child, 10000) != WAIT_OBJECT_0)
                TerminateProcess(child, 1);
            CloseHandle(child);
        }
    }
    Holders(const Holders&) = delete;
    Holders& operator=(const Holders&) = delete;
    size_t Count() const { return children_.size(); }

private:
    KernelHandle release_{CreateEventA(nullptr, TRUE, FALSE, "TavokProbeRelease")};
    std::vector<HANDLE> children_;
};

// A thread of the process loads the DLL, whose attach never returns: the
// loader's lock stays held, as by a thread stopped inside a DLL's attach
// or a tool-help call. kernel32 lies at one address in every process.
void StickInAttach(HANDLE process, const std::string& dll, HANDLE entered)
{
    void* remote = VirtualAllocEx(process, nullptr, dll.size() + 1, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(remote, nullptr);
    ASSERT_TRUE(WriteProcessMemory(process, remote, dll.c_str(), dll.size() + 1, nullptr));
    const auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    ResetEvent(entered);
    KernelHandle thread(CreateRemoteThread(process, nullptr, 0, load, remote, 0, nullptr));
    ASSERT_TRUE(thread) << GetLastError();
    ASSERT_EQ(WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
}

}  // namespace

// The call threads of the memory pass and the worker may still be running
// when the dialog ends, and another thread may hold the loader's lock;
// whatever they hold, Exit must end the process.
TEST(ProductExit, EveryRunEndsWithinASecondOfExitAfterAScanOfFilesAndModulesInUse)
{
    TempTree tree;
    const std::string probe = ProbeDllBytes();
    ASSERT_GT(probe.size(), 1024u);
    const std::string dll = tree.WriteFile("module.dll", probe);
    const std::string held = tree.WriteFile("held.exe", ProductSignatures.rows[0].size, 7);
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE file = CreateFileA(held.c_str(), GENERIC_READ, 0, &inherited, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    Holders holders(dll, file);
    CloseHandle(file);  // the first child holds it now
    ASSERT_EQ(holders.Count(), 2u);
    Sleep(500);  // both load the DLL
    const std::string stuck = tree.WriteFile("stuck-in-attach.dll", probe);
    const KernelHandle entered(CreateEventA(nullptr, TRUE, FALSE, "TavokProbeInAttach"));

    // Twenty runs, or as many as the test's configuration asks.
    const char* asked = std::getenv("TAVOK_EXIT_RUNS");
    const int runs = asked ? std::atoi(asked) : 20;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE(testing::Message() << "run " << run);
        KernelHandle process;
        DWORD processId = 0;
        HWND main = nullptr;
        StartProduct(process, processId, main);
        ASSERT_NE(main, nullptr);
        PostMessageA(main, WM_COMMAND, 1, 0);  // Scan
        HWND summary = WaitForDialog(processId, [&](HWND dialog) { return dialog != main; }, 120000);
        ASSERT_NE(summary, nullptr);
        PostMessageA(summary, WM_COMMAND, IDOK, 0);
        for (int i = 0; i < 500 && !IsWindowEnabled(main); ++i)
            Sleep(20);
        ASSERT_TRUE(IsWindowEnabled(main));
        StickInAttach(process.Get(), stuck, entered.Get());

        // Exit does nothing until the worker has let go, a moment after its box.
        const DWORD exitAt = GetTickCount();
        DWORD waited = WAIT_TIMEOUT;
        while (waited == WAIT_TIMEOUT && GetTickCount() - exitAt < 1000) {
            PostMessageA(main, WM_COMMAND, 2, 0);
            waited = WaitForSingleObject(process.Get(), 50);
        }
        EXPECT_EQ(waited, WAIT_OBJECT_0) << "still running " << GetTickCount() - exitAt << " ms after Exit";
        if (waited != WAIT_OBJECT_0) {
            TerminateProcess(process.Get(), 99);
            WaitForSingleObject(process.Get(), 5000);
        }
        DWORD code = 12345;
        GetExitCodeProcess(process.Get(), &code);
        EXPECT_EQ(code, 0u);
    }
}

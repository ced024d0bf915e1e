// The worker turns off the file-system redirection of 64-bit Windows only
// around the scan's own calls on paths, through the run-time function
// table: never while it sends a window message or shows the summary.
#include "RecordingWalker.h"
#include "Reference.h"
#include "RuntimeApi.h"
#include "ScanHost.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>

namespace {

std::atomic<int> depth{0};
std::atomic<int> deepest{0};
std::atomic<int> disables{0};
std::atomic<int> reverts{0};
std::atomic<int> messagesWhileOff{0};
std::atomic<bool> revertedWithWrongValue{false};
BOOL disableResult = TRUE;

BOOL WINAPI FakeDisable(PVOID* previous)
{
    ++disables;
    *previous = reinterpret_cast<PVOID>(0x5A5A);
    if (!disableResult)
        return FALSE;
    const int now = ++depth;
    if (now > deepest)
        deepest = now;
    return TRUE;
}

BOOL WINAPI FakeRevert(PVOID previous)
{
    ++reverts;
    --depth;
    if (previous != reinterpret_cast<PVOID>(0x5A5A))
        revertedWithWrongValue = true;
    return TRUE;
}

void FakeBoth(RuntimeApi& api)
{
    api.Wow64DisableWow64FsRedirection = FakeDisable;
    api.Wow64RevertWow64FsRedirection = FakeRevert;
}

void FakeNone(RuntimeApi& api)
{
    api.Wow64DisableWow64FsRedirection = nullptr;
    api.Wow64RevertWow64FsRedirection = nullptr;
}

void FakeDisableOnly(RuntimeApi& api)
{
    api.Wow64DisableWow64FsRedirection = FakeDisable;
    api.Wow64RevertWow64FsRedirection = nullptr;
}

// Every window the worker talks to notes a message that arrives while
// redirection is off.
std::map<HWND, WNDPROC> previousProcs;

LRESULT CALLBACK WatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (depth > 0)
        ++messagesWhileOff;
    return CallWindowProcA(previousProcs[window], window, message, wParam, lParam);
}

struct Scan {
    UINT files = 0;
    ScanReport report;
    bool summaryWhileOff = false;
};

Scan RunWith(void (*override)(RuntimeApi&))
{
    depth = deepest = disables = reverts = messagesWhileOff = 0;
    revertedWithWrongValue = false;
    TempTree tree;
    const std::string bytes = UniqueBytes(1300);
    tree.WriteFile("deep\\er\\infected.bin", bytes);
    const SignatureEntry row = RowFor(bytes);

    RuntimeApiOverride = override;
    ScanHost host;
    previousProcs.clear();
    for (HWND window : {host.window, host.progressBar, host.statusLine, host.resultList})
        previousProcs[window] = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WatchProc)));
    RecordingWalker walker(&host.Context(), SignatureSet{&row, 1});
    walker.examineFiles = true;
    walker.lastDrive = 'C';
    Scan scan;
    scan.report = host.Run([&](ScanContext&) { walker.RunScan(); }, 60000,
                           [&](HWND) { scan.summaryWhileOff = depth > 0; });
    RuntimeApiOverride = nullptr;
    scan.files = walker.files;
    EXPECT_FALSE(FileExists(tree.Path("deep\\er\\infected.bin")));
    return scan;
}

}  // namespace

TEST(Redirection, OffOnlyAroundFileCallsNeverAcrossAWindowMessage)
{
    disableResult = TRUE;
    const Scan scan = RunWith(FakeBoth);
    EXPECT_GT(scan.files, 100u);
    EXPECT_GT(disables, 100);  // one for each folder at least
    EXPECT_EQ(reverts.load(), disables.load());
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(depth, 0);
    EXPECT_FALSE(revertedWithWrongValue);
    EXPECT_EQ(messagesWhileOff, 0);
    EXPECT_FALSE(scan.summaryWhileOff);
    ASSERT_EQ(scan.report.rows.size(), 1u);
    EXPECT_EQ(scan.report.rows[0].outcome, L"Deleted");
    EXPECT_TRUE(scan.report.summaryShown);
}

TEST(Redirection, TheScanRunsOnUnchangedWithoutTheFunctionsOrWhenTurningOffFails)
{
    const Scan without = RunWith(FakeNone);
    EXPECT_GT(without.files, 100u);
    EXPECT_EQ(without.report.rows.size(), 1u);
    EXPECT_TRUE(without.report.summaryShown);

    // Never turned off when it could not be turned back on.
    const Scan halfThere = RunWith(FakeDisableOnly);
    EXPECT_EQ(disables, 0);
    EXPECT_EQ(halfThere.report.rows.size(), 1u);

    disableResult = FALSE;
    const Scan refused = RunWith(FakeBoth);
    disableResult = TRUE;
    EXPECT_GT(disables, 0);
    EXPECT_EQ(reverts, 0);
    EXPECT_EQ(refused.report.rows.size(), 1u);
    EXPECT_TRUE(refused.report.summaryShown);
}

namespace {

const char Only64[] = "C:\\windows\\system32\\tavok-only-in-64-bit-system32.bin";
const char Only32[] = "C:\\windows\\syswow64\\tavok-only-in-syswow64.bin";
const char Only32SeenRedirected[] = "C:\\windows\\system32\\tavok-only-in-syswow64.bin";

bool ExistsWithRedirectionOff(const char* path)
{
    PVOID previous = nullptr;
    const BOOL off = Wow64DisableWow64FsRedirection(&previous);
    const bool exists = FileExists(path);
    if (off)
        Wow64RevertWow64FsRedirection(previous);
    return exists;
}

}  // namespace

// Only a 32-bit program in a WoW64 prefix meets real redirection.
TEST(Redirection, UnderWow64TheDiskPassReachesTheReal64BitSystemFolder)
{
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64)
        GTEST_SKIP() << "not a 32-bit process on 64-bit Windows";

    const std::string bytes = UniqueBytes(1300);
    {
        PVOID previous = nullptr;
        ASSERT_TRUE(Wow64DisableWow64FsRedirection(&previous));
        TempTree::WriteFileAt(Only64, bytes);
        Wow64RevertWow64FsRedirection(previous);
    }
    TempTree::WriteFileAt(Only32, "32-bit side");
    ASSERT_FALSE(FileExists(Only64));  // redirected to syswow64, where it is not
    ASSERT_TRUE(FileExists(Only32SeenRedirected));

    const SignatureEntry row = RowFor(bytes);
    ScanHost host;
    RecordingWalker walker(&host.Context(), SignatureSet{&row, 1});
    walker.examineFiles = true;
    walker.lastDrive = 'C';
    bool redirectedAgain = false;
    const ScanReport report = host.Run([&](ScanContext&) {
        walker.RunScan();
        redirectedAgain = FileExists(Only32SeenRedirected);
    });

    const bool removed = !ExistsWithRedirectionOff(Only64);
    DeleteFileA(Only32);
    if (!removed) {
        PVOID previous = nullptr;
        Wow64DisableWow64FsRedirection(&previous);
        DeleteFileA(Only64);
        Wow64RevertWow64FsRedirection(previous);
    }
    ASSERT_EQ(report.rows.size(), 1u);
    EXPECT_EQ(lstrcmpiW(report.rows[0].path.c_str(), Widen(Only64).c_str()), 0);
    EXPECT_EQ(report.rows[0].outcome, L"Deleted");
    EXPECT_TRUE(removed);
    EXPECT_TRUE(redirectedAgain);
}

// The worker turns off the file-system redirection of 64-bit Windows for
// exactly the two passes, through the run-time function table.
#include "RecordingWalker.h"
#include "RuntimeApi.h"
#include "ScanHost.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex logLock;
std::vector<std::string> eventLog;
PVOID revertedWith = nullptr;
BOOL disableResult = TRUE;

void Log(const std::string& event)
{
    std::lock_guard<std::mutex> hold(logLock);
    if (eventLog.empty() || eventLog.back() != event)
        eventLog.push_back(event);
}

BOOL WINAPI FakeDisable(PVOID* previous)
{
    Log("disable");
    *previous = reinterpret_cast<PVOID>(0x5A5A);
    return disableResult;
}

BOOL WINAPI FakeRevert(PVOID previous)
{
    Log("revert");
    revertedWith = previous;
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

struct Scan {
    std::vector<std::string> events;
    UINT files = 0;
    bool summary = false;
};

Scan RunWith(void (*override)(RuntimeApi&))
{
    eventLog.clear();
    revertedWith = nullptr;
    RuntimeApiOverride = override;
    ScanHost host;
    RecordingWalker walker(&host.Context(), ProductSignatures);
    walker.lastDrive = 'C';
    walker.onVisit = [](RecordingWalker& self, const char*) {
        Log(self.visits.back().fromMemory ? "memory" : "disk");
    };
    ScanReport report = host.Run([&](ScanContext&) { walker.RunScan(); }, 60000,
                                 [](HWND) { Log("summary"); });
    RuntimeApiOverride = nullptr;
    return {eventLog, static_cast<UINT>(walker.visits.size()), report.summaryShown};
}

}  // namespace

TEST(Redirection, TurnedOffBeforeTheMemoryPassAndBackOnAfterTheDiskPass)
{
    disableResult = TRUE;
    const Scan scan = RunWith(FakeBoth);
    EXPECT_EQ(scan.events, (std::vector<std::string>{"disable", "memory", "disk", "revert", "summary"}));
    EXPECT_EQ(revertedWith, reinterpret_cast<PVOID>(0x5A5A));
    EXPECT_GT(scan.files, 100u);
    EXPECT_TRUE(scan.summary);
}

TEST(Redirection, TheScanRunsOnUnchangedWithoutTheFunctionsOrWhenTurningOffFails)
{
    const Scan without = RunWith(FakeNone);
    EXPECT_EQ(without.events, (std::vector<std::string>{"memory", "disk", "summary"}));
    EXPECT_GT(without.files, 100u);

    // Never turned off when it could not be turned back on.
    const Scan halfThere = RunWith(FakeDisableOnly);
    EXPECT_EQ(halfThere.events, (std::vector<std::string>{"memory", "disk", "summary"}));

    disableResult = FALSE;
    const Scan refused = RunWith(FakeBoth);
    disableResult = TRUE;
    EXPECT_EQ(refused.events, (std::vector<std::string>{"disable", "memory", "disk", "summary"}));
    EXPECT_EQ(revertedWith, nullptr);
}

#include "RuntimeApi.h"

#include <gtest/gtest.h>

namespace {

// Wine runs no shell here, where Windows has the signed-in user's: a window
// of the test program stands in for it, so that a scan tells who is signed
// in as it would on Windows.
class ShellStandIn : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (GetShellWindow())
            return;
        window_ = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        using SetShellWindowFn = BOOL(WINAPI*)(HWND window);
        const auto setShellWindow = ResolveFunction<SetShellWindowFn>(GetModuleHandleA("user32.dll"), "SetShellWindow");
        if (setShellWindow)
            setShellWindow(window_);
    }
    void TearDown() override
    {
        if (window_)
            DestroyWindow(window_);
    }

private:
    HWND window_ = nullptr;
};
::testing::Environment* const shellStandIn = ::testing::AddGlobalTestEnvironment(new ShellStandIn);

}  // namespace

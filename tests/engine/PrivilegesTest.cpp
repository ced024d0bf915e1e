// The privileges a scan holds while it lives, read back from the token.
#include "Handle.h"
#include "MemAndFileWalker.h"
#include "Privileges.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Read back from the process token, not from what the engine reports.
bool PrivilegeEnabled(const char* name)
{
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken))
        return false;
    KernelHandle token(rawToken);
    LUID debug = {};
    if (!LookupPrivilegeValueA(nullptr, name, &debug))
        return false;
    DWORD bytes = 0;
    GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &bytes);
    std::vector<unsigned char> buffer(bytes);
    if (bytes == 0 || !GetTokenInformation(token.Get(), TokenPrivileges, buffer.data(), bytes, &bytes))
        return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
        if (entry.Luid.LowPart == debug.LowPart && entry.Luid.HighPart == debug.HighPart)
            return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    return false;
}

}  // namespace

TEST(DiskScan, DebugBackupAndRestorePrivilegesAreOnWhileAWalkerLivesAndOffAfterwards)
{
    const char* const names[] = {"SeDebugPrivilege", "SeBackupPrivilege", "SeRestorePrivilege"};
    ASSERT_EQ(EnableDebugPrivilege(1), 1);
    EXPECT_TRUE(PrivilegeEnabled(names[0]));
    ASSERT_EQ(EnableDebugPrivilege(0), 1);
    ASSERT_EQ(EnableBackupPrivileges(0), 1);
    for (const char* name : names)
        ASSERT_FALSE(PrivilegeEnabled(name)) << name;
    {
        MemAndFileWalker walker(nullptr);
        for (const char* name : names)
            EXPECT_TRUE(PrivilegeEnabled(name)) << name;
    }
    for (const char* name : names)
        EXPECT_FALSE(PrivilegeEnabled(name)) << name;
}

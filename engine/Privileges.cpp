// The process's privileges, and whether it runs with an administrator's
// rights where those could have removed a file.
#include "Privileges.h"

#include "FileSystem.h"
#include "Handle.h"
#include "Memory.h"
#include "RestartDeletion.h"

#include <cstddef>
#include <cstring>

namespace {

int EnablePrivilege(const char* name, int on)
{
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &rawToken))
        return 0;
    KernelHandle token(rawToken);

    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = on ? SE_PRIVILEGE_ENABLED : 0;
    // The last error alone tells whether the token holds the privilege.
    AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof privileges, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace

int EnableDebugPrivilege(int on)
{
    return EnablePrivilege("SeDebugPrivilege", on);
}

int EnableBackupPrivileges(int on)
{
    const int backup = EnablePrivilege("SeBackupPrivilege", on);
    const int restore = EnablePrivilege("SeRestorePrivilege", on);
    return backup && restore ? 1 : 0;
}

namespace {

// S-1-5-32-544, the Administrators group, as the token holds it.
const unsigned char AdministratorsSid[16] = {
    SID_REVISION, 2, 0, 0, 0, 0, 0, 5,  // two sub-authorities, SECURITY_NT_AUTHORITY
    0x20, 0, 0, 0, 0x20, 0x02, 0, 0,    // SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS
};

// More than any one user's groups take: a size past it is not believed.
constexpr DWORD MaxTokenGroupBytes = 64 * 1024;

}  // namespace

// Vista and later: whether this process runs elevated. NT 4.0 to XP: whether
// the Administrators group is enabled in its token; CheckTokenMembership
// would say it, but 2000 brought it. The Windows 95 family has no rights to
// lack.
Rights AdministratorRights(const RuntimeApi& api)
{
    const DWORD version = api.GetVersion();
    if (OsFamilyFromVersion(version) == Win9x || !api.GetTokenInformation)
        return Rights::Unknown;
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken))
        return Rights::Unknown;
    KernelHandle token(rawToken);

    DWORD bytes = 0;
    if (HasElevation(version)) {
        TOKEN_ELEVATION elevation = {};
        if (!api.GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &bytes))
            return Rights::Unknown;
        return elevation.TokenIsElevated ? Rights::Administrator : Rights::Lacking;
    }

    api.GetTokenInformation(token.Get(), TokenGroups, nullptr, 0, &bytes);
    if (bytes < sizeof(TOKEN_GROUPS) || bytes > MaxTokenGroupBytes)
        return Rights::Unknown;
    UniquePtr<unsigned char[]> buffer(new (NoThrow) unsigned char[bytes]);
    if (!buffer || !api.GetTokenInformation(token.Get(), TokenGroups, buffer.get(), bytes, &bytes))
        return Rights::Unknown;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.get());
    const size_t fit = (bytes - offsetof(TOKEN_GROUPS, Groups)) / sizeof(SID_AND_ATTRIBUTES);
    for (DWORD i = 0; i < groups->GroupCount && i < fit; ++i) {
        const SID_AND_ATTRIBUTES& group = groups->Groups[i];
        const auto* sid = static_cast<const unsigned char*>(group.Sid);
        // The count comes first: a shorter SID is not read past its end.
        if (sid && sid[1] == AdministratorsSid[1] &&
            std::memcmp(sid, AdministratorsSid, sizeof AdministratorsSid) == 0) {
            // A group kept for denying access only grants nothing.
            const bool granting =
                (group.Attributes & SE_GROUP_ENABLED) && !(group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY);
            return granting ? Rights::Administrator : Rights::Lacking;
        }
    }
    return Rights::Lacking;
}

// Whether administrator rights could have let the file be removed: not on
// a share, a CD or DVD, or a volume mounted read-only.
bool RightsCouldHelp(const RuntimeApi& api, const wchar_t* path)
{
    if (!LaterDeletionReaches(api, path))
        return false;
    const wchar_t* plain = PlainPath(path);
    if (plain[0] == L'\0' || plain[1] != L':')
        return true;
    constexpr DWORD ReadOnlyVolume = 0x00080000;  // FILE_READ_ONLY_VOLUME
    const wchar_t wideRoot[4] = {plain[0], L':', L'\\', L'\0'};
    DWORD flags = 0;
    return !(api.GetVolumeInformationW &&
             api.GetVolumeInformationW(wideRoot, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
             (flags & ReadOnlyVolume));
}

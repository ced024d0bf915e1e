// The process's privileges, and whether it runs with an administrator's
// rights where those could have removed a file.
#pragma once

#include "RuntimeApi.h"

#include <windows.h>

// Enables (on != 0) or disables SeDebugPrivilege in the process token.
int EnableDebugPrivilege(int on);
// The same for SeBackupPrivilege and SeRestorePrivilege, which let a scan
// run as administrator read and delete a file whatever its ACL says.
int EnableBackupPrivileges(int on);

enum class Rights { Administrator, Lacking, Unknown };

// Vista and later: whether this process runs elevated. NT 4.0 to XP: whether
// the Administrators group is enabled in its token. The Windows 95 family
// has no rights to lack.
Rights AdministratorRights(const RuntimeApi& api);

// Whether administrator rights could have let the file be removed: not on
// a share, a CD or DVD, or a volume mounted read-only.
bool RightsCouldHelp(const RuntimeApi& api, const wchar_t* path);

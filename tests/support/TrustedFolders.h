// Wine makes the user the owner of every file and folder, so no folder is
// ever out of that user's reach there. This stands in for the security
// query: a folder whose path holds one of the chosen texts answers as the
// program's own folder does on Windows (owned by Administrators, changed
// only by them and SYSTEM); any other answers as Wine does.
#pragma once

#include "RuntimeApi.h"

#include <windows.h>

#include <string>
#include <vector>

// Lower-case parts of paths; an empty text matches every folder, and a
// drive's root (\\?\c:\) itself alone.
extern std::vector<std::wstring> trustedFolders;

LONG WINAPI TrustedFoldersSecurity(HANDLE object, ULONG parts, PVOID descriptor, ULONG length, PULONG needed);

// The program's own folder at the root of each volume, and C:'s root, which
// on Windows no user may rename, delete or re-ACL, trusted alone.
void OwnFolderTrusted(RuntimeApi& api);

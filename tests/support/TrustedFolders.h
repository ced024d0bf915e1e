// Wine makes the user the owner of every file and folder, so no folder is
// ever out of that user's reach there. This stands in for the security
// query: a folder whose path holds one of the chosen texts answers as the
// program's own folder does on Windows (owned by Administrators, changed
// only by them and SYSTEM); any other answers as Wine does. The program's
// own folder, once made through the stand-in below, answers with what it
// was made with, as Windows keeps it.
#pragma once

#include "RuntimeApi.h"

#include <windows.h>

#include <string>
#include <vector>

// Lower-case parts of paths; an empty text matches every folder, and a
// drive's root (\\?\c:\) itself alone.
extern std::vector<std::wstring> trustedFolders;

LONG WINAPI TrustedFoldersSecurity(HANDLE object, ULONG parts, PVOID descriptor, ULONG length, PULONG needed);

// Windows' CreateDirectoryW, which Wine's keeps no descriptor of: the one
// given, with the root's inheritable entries added unless its ACL is
// protected. The program asks each time; a folder already there was made by
// the same code.
BOOL WINAPI MakeOwnFolderAsWindows(LPCWSTR path, LPSECURITY_ATTRIBUTES security);

// The program's own folders at the root of each volume, made as Windows
// makes them, and C:'s root, which on Windows no user may rename, delete or
// re-ACL, trusted alone.
void OwnFolderTrusted(RuntimeApi& api);

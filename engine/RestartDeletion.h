// Deleting a file that is in use when the system next starts.
#pragma once

#include "RuntimeApi.h"

// The NT family registers the deletion with MoveFileExW. The Windows 95
// family has no such call: there WININIT.EXE deletes, at the next start,
// what the [rename] section of WININIT.INI in the Windows folder names as
// "NUL=<short path>". Neither reaches a network or CD drive, which do not
// exist yet when the deletions are carried out. True when the deletion is
// registered.
bool ScheduleDeletionAtRestart(const RuntimeApi& api, const wchar_t* path);

// The Windows 95 family's registration, for a path in the ANSI code page.
bool ScheduleWininitDeletion(const RuntimeApi& api, const char* path);

// Adds "NUL=<shortPath>" to the [rename] section of the file, making the
// section or the file where they are missing. Every line already there is
// kept, and a line already present is not written again. True when the
// file holds the line afterwards.
bool AddWininitDeletion(const char* wininitPath, const char* shortPath);

// Deletion at the next start on the Windows 95 family, through WININIT.INI.
#pragma once

#include "RuntimeApi.h"

// The Windows 95 family has no MoveFileExA: there WININIT.EXE deletes, at
// the next start and before Windows runs, what the [rename] section of
// WININIT.INI in the Windows folder names as "NUL=<short path>". path is in
// the ANSI code page, as that family's 8-bit walk gives it. False, and
// nothing registered, when real-mode MS-DOS could not reach the file by its
// short path.
bool ScheduleWininitDeletion(const RuntimeApi& api, const char* path);

// Adds "NUL=<dosPath>" to the [rename] section of the file, making the
// section or the file where they are missing; dosPath is written as it is.
// A line already present is not written again. The file is replaced whole,
// never rewritten in place: whatever step fails, every line already there
// survives, and no half-written line is ever left. The file keeps its
// attributes, and a read-only one is replaced all the same. True when the
// file holds the line afterwards.
bool AddWininitDeletion(const RuntimeApi& api, const char* wininitPath, const char* dosPath);

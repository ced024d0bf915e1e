// Deleting a file that is in use when the system next starts.
#pragma once

#include "RuntimeApi.h"

// False for a file on a share, a network drive or a CD or DVD drive, whose
// deletion at restart would never be carried out.
bool LaterDeletionReaches(const RuntimeApi& api, const wchar_t* path);

// The NT family registers the deletion with MoveFileExW, the Windows 95
// family through WININIT.INI (ScheduleWininitDeletion). Neither reaches a
// network or CD drive, which do not exist yet when the deletions are
// carried out. True when the deletion is registered.
//
// examined, where given, is the handle the file was examined by: on Vista
// and later the path registered is the one that handle has now, on the
// volume's own drive letter. Before Vista a drive letter that SUBST or
// DefineDosDevice made for one logon session is no longer there when the
// deletions are carried out, before anyone logs on: the path is taken
// through what QueryDosDevice says the letter stands for, and where no
// letter of every session names it, nothing is registered.
bool ScheduleDeletionAtRestart(const RuntimeApi& api, const wchar_t* path,
                               HANDLE examined = INVALID_HANDLE_VALUE);

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

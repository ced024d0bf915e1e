// The program's own folder at the root of a volume, where a copy in use
// waits for its deletion at the restart under a name of the program's
// choosing: only Administrators and SYSTEM can change that folder, so no
// one can aim the deletion at another file.
#pragma once

#include "RuntimeApi.h"

#include <windows.h>

#include "Strings.h"

// The folder's name at the root of each volume.
extern const wchar_t OwnFolderName[];

// Moves the file open at handle (opened with DELETE), found at path, into
// the folder at the root of its volume, under a name no file has yet. The
// folder is made where there is none, and used only where it is a real
// folder that only Administrators and SYSTEM can change. NT family. True
// with moved set to the file's new path.
bool MoveIntoOwnFolder(const RuntimeApi& api, const wchar_t* path, HANDLE handle, WString& moved);

// Deleting a file that is in use when the system next starts.
#pragma once

#include "RuntimeApi.h"

#include "Strings.h"

// False for a file on a share, a network drive, a CD or DVD drive or a
// removable disk, whose deletion at restart would never be carried out, or
// might be carried out on another disk: the Windows 95 family's test, by
// drive letter.
bool LaterDeletionReaches(const RuntimeApi& api, const wchar_t* path);
// The NT family's: the volume the path lies on decides, a drive's or one
// mounted in a folder (a path from the examined handle names the handle's
// own): none on a share, a network, CD, DVD or removable volume, a
// read-only one, or one on a USB bus, which may be another at the next
// start.
bool VolumeKeepsDeletion(const RuntimeApi& api, const wchar_t* path);

// The NT family registers the deletion with MoveFileExW, the Windows 95
// family through WININIT.INI (Wininit.h). Neither reaches a
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
//
// ownFolder: the file was moved into the program's own folder (Quarantine.h),
// which no one but Administrators and SYSTEM can change. Any other path on
// the NT family is registered only where no one else could put a link in
// the place of one of its folders (FolderTrust.h): the deletion is carried
// out as SYSTEM, following the path as it stands then.
bool ScheduleDeletionAtRestart(const RuntimeApi& api, const wchar_t* path,
                               HANDLE examined = INVALID_HANDLE_VALUE, bool ownFolder = false);

// The NT family's steps of the above, for a caller that acts between them.
// Where the deletion at the restart would find the file: the plain path
// (as the examined handle names the file now, on Vista and later; through
// letters of every session before), empty where none can be named; and
// whether the restart reaches that volume at all.
struct RestartPlace {
    WString path;
    bool reached = false;
};
RestartPlace PlaceForRestart(const RuntimeApi& api, const wchar_t* path, HANDLE examined);
// Registers the deletion of the plain drive path in the form the running
// NT version takes.
bool RegisterDeletionAtRestart(const RuntimeApi& api, const WString& path);

// Whether a folder, or every folder on a file's path, is out of reach of
// every user but Administrators and SYSTEM: no one else could put a link in
// its place. The user the program runs as counts as anyone: an unelevated
// worm shares that account.
#pragma once

#include "RuntimeApi.h"

#include <windows.h>

#include "Memory.h"
#include "Strings.h"

// Rights on a folder that would let its holder replace it, or an entry of
// it, by a link.
constexpr DWORD ReplacingRights = DELETE | WRITE_DAC | WRITE_OWNER | FILE_DELETE_CHILD | GENERIC_ALL;
// And those that would let its holder put something of its own in it.
constexpr DWORD FillingRights = ReplacingRights | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | GENERIC_WRITE;

// The open folder (opened with READ_CONTROL) is a real folder, not a
// reparse point, owned by Administrators, SYSTEM or TrustedInstaller, and
// its ACL grants none of forbidden to anyone else.
bool FolderBeyondUsersReach(const RuntimeApi& api, HANDLE folder, DWORD forbidden);

// True on a drive's own volume of the FAT family, which holds no links, or
// where every folder from the drive's root down to the file's own is beyond
// users' reach: the root itself too, since one who may rename a folder of
// it can put a link in that folder's place. A volume mounted in a folder is
// reached through that link: never. path is a drive path, with or without
// \\?\.
bool PathBeyondUsersReach(const RuntimeApi& api, const wchar_t* path);
// True on a volume of the FAT family, which holds neither links nor ACLs.
bool OnFatVolume(const RuntimeApi& api, const WString& volumeRoot);

// The root of the volume the path lies on, as a drive path ending in a
// backslash (C:\ or C:\Mount\); empty for a path of no drive.
WString VolumeRootOf(const RuntimeApi& api, const wchar_t* path);

// Writes the self-relative security descriptor of a folder that only
// Administrators and SYSTEM may use, owned by Administrators where
// withOwner, its ACL kept from the parent's inheritance where protect (not
// on NT 4.0, which knows no such flag).
constexpr size_t OwnFolderSecuritySize = 88;
void OwnFolderSecurity(bool withOwner, bool protect, BYTE (&sd)[OwnFolderSecuritySize]);

// Gives the open file (opened with WRITE_DAC and WRITE_OWNER) that ACL and
// Administrators as owner: only Administrators and SYSTEM may open, rename
// or delete it, whatever its own ACL said.
bool HandToAdministratorsAndSystem(const RuntimeApi& api, HANDLE file);

// A file's owner and ACL as they were, to be given back where what they
// were changed for does not follow.
class SavedSecurity {
public:
    // file is open with READ_CONTROL.
    SavedSecurity(const RuntimeApi& api, HANDLE file);
    SavedSecurity(const SavedSecurity&) = delete;
    SavedSecurity& operator=(const SavedSecurity&) = delete;
    // Through the handle, opened with WRITE_DAC and WRITE_OWNER.
    void Restore(HANDLE file) const;

private:
    const RuntimeApi& api_;
    UniquePtr<BYTE[]> descriptor_;
};

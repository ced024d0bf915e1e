// The disk walk's side of the find functions: one folder's listing, which
// of its entries the walk takes, and the name by which the file functions
// reach each entry as itself and no other file. The NT family lists with
// the wide functions on \\?\ paths, which carry every name as it is stored;
// the Windows 95 family has only the 8-bit ones, where paths are at most
// MAX_PATH bytes and short names reach what long names cannot.
#pragma once

#include "Handle.h"
#include "RuntimeApi.h"

#include <windows.h>

#include <cstddef>
#include "Strings.h"

// A 32-bit process on 64-bit Windows sees SysWOW64 where System32 is, so the
// scan would never reach the real System32 and would remove the wrong file
// of a System32 path. Redirection is turned off on this thread only around
// the scan's own calls on paths: DLL loading depends on it too, and a hook
// DLL loaded while a window message is sent must come from the right folder.
class RedirectionOff {
public:
    explicit RedirectionOff(const RuntimeApi& api) : api_(api)
    {
        if (api_.Wow64DisableWow64FsRedirection && api_.Wow64RevertWow64FsRedirection)
            off_ = api_.Wow64DisableWow64FsRedirection(&previous_) != FALSE;
    }
    ~RedirectionOff()
    {
        if (off_)
            api_.Wow64RevertWow64FsRedirection(previous_);
    }
    RedirectionOff(const RedirectionOff&) = delete;
    RedirectionOff& operator=(const RedirectionOff&) = delete;

private:
    const RuntimeApi& api_;
    PVOID previous_ = nullptr;
    bool off_ = false;
};

enum class EntryKind { Skipped, File, Folder, MountPoint };

// "." and "..", and reparse points that lead elsewhere, are skipped: a tag
// that is a name surrogate (junction, mount point, symbolic link) may loop
// back to an ancestor. Any other reparse data holds the entry's own content
// (compressed, deduplicated, cloud files such as OneDrive's folders), so
// such a folder is walked and such a file examined. The tag is in
// dwReserved0 only when the attribute says so; a folder whose tag is not
// given (Wine gives none for its symbolic links) is taken for a link.
// A folder with the mount point tag is a junction or a volume mounted
// there; which one the volume functions tell.
template <class FindData>
EntryKind KindOf(const FindData& entry)
{
    const DWORD attributes = entry.dwFileAttributes;
    const bool reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (reparse && entry.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return EntryKind::MountPoint;
    if (reparse && IsReparseTagNameSurrogate(entry.dwReserved0))
        return EntryKind::Skipped;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return EntryKind::File;
    if (reparse && entry.dwReserved0 == 0)
        return EntryKind::Skipped;
    const auto* name = entry.cFileName;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
        return EntryKind::Skipped;
    return EntryKind::Folder;
}

// Online-only cloud files and files moved to tape: opening one downloads
// or recalls its content. The recall attributes are the file system's
// alone; any program can set FILE_ATTRIBUTE_OFFLINE, so it counts only on a
// reparse point, as a storage or cloud file system leaves it.
inline bool IsContentElsewhere(DWORD attributes)
{
    constexpr DWORD Recall = 0x00400000   // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
                           | 0x00040000;  // FILE_ATTRIBUTE_RECALL_ON_OPEN
    constexpr DWORD Offline = FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_REPARSE_POINT;
    return (attributes & Recall) != 0 || (attributes & Offline) == Offline;
}

// Characters no Windows file name may hold, though a file system written
// outside Win32 (or Wine's view of a Unix one) may show them. In 8-bit
// names '?' is also what the find functions give for a character the code
// page cannot spell.
bool HoldsReservedCharacter(const wchar_t* name);
bool HoldsReservedCharacter(const char* name);

// On the NT family: one folder's listing through the wide functions. Where
// basicInfo is set (Windows 7 and later) it asks for no short names and
// for large fetches, which Microsoft documents as faster; where that is
// refused for any reason but an empty, missing or denied folder or an
// absent server or share, the plain FindFirstFileW lists it, and basicInfo
// is cleared for the rest of the walk.
class WideFolderListing {
public:
    // The entry is the caller's: a walk needs only the innermost listing's
    // entry at a time, and all its listings can share one.
    WideFolderListing(const RuntimeApi& api, bool& basicInfo, WIN32_FIND_DATAW& entry)
        : api_(api), basicInfo_(basicInfo), entry_(entry)
    {
    }
    WideFolderListing(const WideFolderListing&) = delete;
    WideFolderListing& operator=(const WideFolderListing&) = delete;

    // Lists dir + "\\*"; dir is restored. False when nothing is listed.
    bool First(WString& dir);
    // The next entry; false at the end of the listing.
    bool Next();
    const WIN32_FIND_DATAW& Entry() const { return entry_; }

    // The name by which the file functions reach the entry of the folder
    // dir: its own, or where that holds a reserved character its short
    // name, when it has one a path can carry. Null: not reachable.
    const wchar_t* ReachableName(const WString& dir);

private:
    const RuntimeApi& api_;
    bool& basicInfo_;
    FindHandle find_;
    WIN32_FIND_DATAW& entry_;
};

// The Windows 95 family's side.

// A name that the Windows 95 family's path handling reads as another one: a
// trailing dot or space is stripped, and a device name of that family (CON,
// PRN, AUX, NUL, CLOCK$, COM1-COM4, LPT1-LPT3), with or without an extension,
// opens the device. length is strlen(name).
bool IsEvasiveName(const char* name, size_t length);

// The form of the folder's path that an entry's name is appended to.
enum class FolderForm {
    Plain,  // as the walk built it
    Short   // through the short names of its parts
};

struct EntryRoute {
    const char* name;       // appended to the folder's path; null: not reached
    const char* shownName;  // appended to the path shown
    FolderForm form;
};

// How the walk reaches an entry of the folder whose path is dir. A name the
// code page cannot spell, that holds a reserved character, or that is
// evasive goes by its short name, else not at all; a path too long for the
// 8-bit functions goes by the short name, then on the folder's short path.
EntryRoute RouteTo(const WIN32_FIND_DATAA& entry, bool isFolder, const AString& dir);

// A folder's path through the short names of all its parts that have one;
// the path itself when there is no such path within MAX_PATH.
AString ShortPathOf(const AString& dir);

// One folder's listing through the run-time table's 8-bit find functions.
class FolderListing {
public:
    explicit FolderListing(const RuntimeApi& api) : api_(api) {}
    FolderListing(const FolderListing&) = delete;
    FolderListing& operator=(const FolderListing&) = delete;

    // Lists dir + "\\*"; dir is restored. False when nothing is listed.
    bool First(AString& dir);
    // The next entry; false at the end of the listing.
    bool Next();
    const WIN32_FIND_DATAA& Entry() const { return entry_; }

private:
    const RuntimeApi& api_;
    FindHandle find_;
    WIN32_FIND_DATAA entry_ = {};
};

// The walk of one root's tree, on either family, handing each entry back
// through a visitor of its own.
#pragma once

#include "FileFind.h"
#include "RuntimeApi.h"

#include <windows.h>

#include "Strings.h"

// What the walk reports to whoever asked for it.
class FolderVisitor {
public:
    // True when the walk is to end now.
    virtual bool WalkStopped() = 0;
    // A file: path is the form the file functions take, null where no path
    // reaches it; shownPath is its own path. knownSize is the size its
    // directory entry gives, or one of FolderWalk's two stand-ins.
    virtual void FileMet(const wchar_t* path, unsigned long long knownSize, const wchar_t* shownPath) = 0;
    // A folder with the mount point tag, folder its path: true when the walk
    // is to enter it.
    virtual bool MountPointMet(WString& folder) = 0;

protected:
    ~FolderVisitor() = default;
};

// Where a walk's root lies: its volume and its folder within that volume.
// Vista and later can say where an open file lies, so that a file opened
// through a link or junction put in the place of a listed entry or folder
// is told apart from the file listed.
struct RootPlace {
    // The root as the walk's paths begin: \\?\C:, \\?\UNC\server\share or
    // a mount point's folder.
    WString path;
    bool known = false;
    DWORD serial = 0;
    // The root's folder within its volume, without a trailing backslash:
    // empty for the volume's own root, \folder for a SUBST of one.
    WString inside;
};

// The place of the root; not known before Vista, or where the system
// cannot say.
RootPlace PlaceOfRoot(const RuntimeApi& api, const WString& root);

// True when the open file lies on the root's volume at the path listed,
// compared name by name without regard to case, nor to dots and blanks that
// end a name, a short name standing for any; listed begins with the root's
// path. Where the system gives no path for the file, the volume alone counts.
bool OpenedWhereListed(const RuntimeApi& api, HANDLE file, const RootPlace& root, const wchar_t* listed);

class FolderWalk {
public:
    // The size of a file as its directory entry gives it, when known.
    static constexpr unsigned long long UnknownSize = ~0ull;

    // api is the scan's table. openEveryFile hands every file over with an
    // unknown size, instead of trusting the sizes of its directory entries.
    // basicListing asks the NT family's listing to leave out short names.
    FolderWalk(const RuntimeApi& api, FolderVisitor& visitor, bool openEveryFile, bool basicListing)
        : api_(api), visitor_(visitor), openEveryFile_(openEveryFile), basicListing_(basicListing)
    {
    }
    FolderWalk(const FolderWalk&) = delete;
    FolderWalk& operator=(const FolderWalk&) = delete;

    // False when the folder itself could not be listed.
    bool WalkFolder(WString& path);
    void WalkFolder9x(AString& path, AString& shown);

private:
    const RuntimeApi& api_;
    FolderVisitor& visitor_;
    const bool openEveryFile_;
    // Cleared where the system refuses the basic listing.
    bool basicListing_;
};

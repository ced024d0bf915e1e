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

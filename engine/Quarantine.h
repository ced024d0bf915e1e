// The program's own folder at the root of a volume, where a copy in use
// waits for its deletion at the restart under a name of the program's
// choosing: only Administrators and SYSTEM can change that folder, or any
// folder above it, so no one can aim the deletion at another file.
#pragma once

#include "Handle.h"
#include "RuntimeApi.h"

#include <windows.h>

#include "Strings.h"

// The folder's usual name at the root of each volume.
extern const wchar_t OwnFolderName[];

class OwnFolders {
public:
    // api is the scan's table, which outlives this.
    explicit OwnFolders(const RuntimeApi& api) : api_(api) {}
    OwnFolders(const OwnFolders&) = delete;
    OwnFolders& operator=(const OwnFolders&) = delete;

    // Moves the file open at handle (opened with DELETE), which lies at the
    // plain drive path, into the own folder at the root of its volume, under
    // a name no file has yet. NT family. True with moved set to the file's
    // new plain path.
    //
    // The folder is made only with Administrators as its owner, which needs
    // an administrator, and used only where it is a real folder that only
    // Administrators and SYSTEM can change, on a volume whose folders above
    // it are as safe. One of the usual name that fails that (made by a
    // plain run of an older version, or by a worm) is left alone, and a
    // folder of a name no one can know beforehand is made beside it. A
    // folder this makes and cannot use is removed again.
    bool MoveInto(const WString& path, HANDLE handle, WString& moved);
    // Puts the file moved by MoveInto back at its plain path, where what the
    // move was for did not follow.
    bool MoveBack(HANDLE handle, const WString& path);

private:
    // The folder at the volume's root, opened so that it can be neither
    // renamed nor removed while the program holds it; with its \\?\ path.
    FileHandle Open(const WString& root, WString& folder);
    // nameTaken: a file or folder of that name was there.
    FileHandle MakeOrOpen(const WString& folder, bool mayExist, bool& nameTaken);

    const RuntimeApi& api_;
    // The folder of a fresh name made on a volume this scan, so that later
    // copies on that volume join it.
    static constexpr int MaxFresh = 8;
    WString freshRoots_[MaxFresh];
    WString freshFolders_[MaxFresh];
    int freshCount_ = 0;
};

// What becomes of an infected file: its removal, and the record of the
// infected files a scan has found.
#pragma once

#include "FileSystem.h"
#include "Quarantine.h"
#include "RuntimeApi.h"

#include <windows.h>

#include "Memory.h"
#include "Strings.h"

enum ScanOutcome : int {
    OutcomeKillFailed = 0,
    OutcomeDeleted = 1,
    OutcomeDelayDelete = 2
};

class Removal {
public:
    // api is the scan's table, which outlives this.
    explicit Removal(const RuntimeApi& api) : api_(api), ownFolders_(api) {}
    Removal(const Removal&) = delete;
    Removal& operator=(const Removal&) = delete;

    // False where this infected file was handled earlier in this scan under
    // this very name (a module that several processes run, or that the disk
    // pass meets again); else remembers it and returns true. Another name of
    // the same file (a hard link) is no such file, nor another file that
    // took the name since.
    bool FirstMeeting(const ExaminedFile& file, const wchar_t* path);
    // Removes the examined file, or registers its deletion at the restart.
    // "Deleted" and "Delay Delete" only where every name of the file goes.
    ScanOutcome Remediate(const wchar_t* path, ExaminedFile& file);

    // A "Kill Failed" where the deletion or its registration for the restart
    // was refused with ERROR_ACCESS_DENIED: rights the scan may have lacked.
    bool RemovalDenied() const { return removalDenied_; }

private:
    // NT family: the copy in use left for the restart, moved into the
    // program's own folder or registered where it is.
    bool LeaveForRestart(const wchar_t* path, ExaminedFile& file);
    // Removes the other names of the file whose deletion is set, closing
    // its handle; true where none is left.
    bool RemoveOtherNames(const wchar_t* path, ExaminedFile& file);

    const RuntimeApi& api_;
    OwnFolders ownFolders_;
    bool removalDenied_ = false;
    // The infected files of this scan: on the NT family by volume serial
    // number, file index and the name handled (a file moved into the
    // program's own folder by its new name too), on the Windows 95 family
    // by short path, which FAT gives one file alone.
    struct FoundFile {
        DWORD volume = 0;
        DWORD indexHigh = 0;
        DWORD indexLow = 0;
        AString path;
        WString name;
    };
    void Remember(FoundFile&& entry);
    UniquePtr<FoundFile[]> found_;
    size_t foundCount_ = 0;
    size_t foundCapacity_ = 0;
};

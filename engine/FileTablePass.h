// The disk pass's fast way over an NTFS volume at a drive letter: its file
// table read from the raw volume instead of every folder listed. It hands
// over what the walk would: every file name counted, each name of a file of
// a signature's size with its path, each volume mounted in a folder. It
// hands over nothing until the whole table has been read and found sound,
// so that the walk can take the volume over whenever it is not.
#pragma once

#include "NtfsVolume.h"
#include "RuntimeApi.h"

#include <windows.h>

#include "Strings.h"

class FileTableVisitor {
public:
    virtual bool WantedSize(unsigned long long size) = 0;
    virtual bool TableStopped() = 0;
    // Names of files of no wanted size in the folder shown: counted only.
    virtual void FilesCounted(UINT count, const wchar_t* shownFolder) = 0;
    // As FolderVisitor::FileMet: a null path for content not on the disk.
    virtual void TableFileMet(const wchar_t* path, unsigned long long size, const wchar_t* shownPath) = 0;
    // A folder with the mount point tag, \\?\X:\...
    virtual void MountedFolderMet(WString& folder) = 0;

protected:
    ~FileTableVisitor() = default;
};

enum class TablePass {
    Done,  // the volume is done, or the scan was stopped
    Walk   // nothing was handed over: the walk is to take the volume
};

// letter: the drive, C to Z. Needs an NTFS volume this reader knows, and the
// rights to read it raw (an administrator's).
TablePass RunFileTablePass(const RuntimeApi& api, wchar_t letter, FileTableVisitor& visitor);

// The same over the volume's bytes from any reader; letter names the paths.
TablePass ReadFileTable(VolumeReader& reader, wchar_t letter, FileTableVisitor& visitor);

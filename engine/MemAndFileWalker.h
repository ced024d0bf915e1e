// One scan: the memory pass, then the disk pass over the roots the drive
// list gives, each file counted, shown, opened, matched, removed and listed,
// and the closing summary.
#pragma once

#include "DriveList.h"
#include "FileTablePass.h"
#include "FileSystem.h"
#include "FolderWalk.h"
#include "MemoryPass.h"
#include "ProcessList.h"
#include "Removal.h"
#include "RuntimeApi.h"
#include "ScanContext.h"
#include "SignatureMatcher.h"

#include <windows.h>

#include "Memory.h"
#include "Strings.h"

// Thread entry of the scan worker. The parameter is the ScanContext; the
// thread owns one reference to it, taken by whoever started the thread.
DWORD WINAPI ScanThreadProc(LPVOID context);

class MemAndFileWalker : private FolderVisitor, private FileTableVisitor, private ModuleVisitor {
public:
    explicit MemAndFileWalker(ScanContext* context,
                              const SignatureSet& signatures = ProductSignatures);
    virtual ~MemAndFileWalker();
    MemAndFileWalker(const MemAndFileWalker&) = delete;
    MemAndFileWalker& operator=(const MemAndFileWalker&) = delete;

    // The size of a file as its directory entry gives it, when known.
    static constexpr unsigned long long UnknownSize = FolderWalk::UnknownSize;

    void RunScan();
    // A file whose known size is no signature size is counted but never
    // opened; any other is opened once, tested, and removed through that
    // open. shownPath, when given, is the file's own path for the status
    // line and the result row, where path is another form of it (a \\?\ or
    // short path) that the file functions take. A null path is a listed
    // file that no path reaches, or whose content is not on the disk (an
    // online-only cloud file, a file moved to tape, which opening would
    // fetch): counted, and, of a signature's size, among those not examined.
    virtual int OnFile(int fromMemory, const wchar_t* path, unsigned long long knownSize = UnknownSize,
                       const wchar_t* shownPath = nullptr);
    void ScanDrives();
    void ScanDirectory(const wchar_t* dir);
    void ScanMemory();

    ScanContext* context;
    UINT files;
    UINT infected;
    UINT deleted;

    // Seams for what this machine cannot show: the bus query of a volume,
    // and the letters of the disk pass.
    bool (*isUsbVolume)(char letter) = IsUsbVolume;
    char firstDrive = 'C';
    char lastDrive = 'Z';
    // Opens every file the disk pass meets instead of trusting the sizes of
    // its directory entries: the slow way, kept to compare results.
    bool openEveryFile = false;
    // Reads an NTFS drive's file table where it can, instead of listing its
    // folders; off, every drive is walked.
    bool readFileTable = true;
    // The only call of a scan that opens a file: a test counts the opens here.
    ExaminedFile (*openFile)(const RuntimeApi& api, const wchar_t* path) = OpenForExamination;
    // Files of a signature's size that could not be opened or read.
    UINT unexamined = 0;

private:
    void ScanShare(char letter, const WString& share);
    // The roots of the walk under way, outermost first: the drive or share,
    // then each volume mounted in a folder that the walk entered.
    void PushRoot(const WString& root);
    // False when the open file is not the file the walk listed at path.
    bool OpenedAsListed(HANDLE file, const wchar_t* path);
    void ShowSummary() const;
    UINT Language() const;

    // What the walks and the memory pass report.
    bool WalkStopped() override;
    void FileMet(const wchar_t* path, unsigned long long knownSize, const wchar_t* shownPath) override;
    bool MountPointMet(WString& folder) override;
    void ModuleMet(const wchar_t* path) override;
    // What the file-table pass reports.
    bool WantedSize(unsigned long long size) override;
    bool TableStopped() override;
    void FilesCounted(UINT count, const wchar_t* shownFolder) override;
    void TableFileMet(const wchar_t* path, unsigned long long size, const wchar_t* shownPath) override;
    void MountedFolderMet(WString& folder) override;
    bool BasicListing() const;

    const SignatureSet signatures_;
    // The file-system redirection pair, the faster listing and the token
    // query, resolved once per scan, and the find functions.
    RuntimeApi api_;
    DriveList drives_;
    Removal removal_;
    // The letters of mapped drives whose shares an elevated scan could not list.
    AString unreachableShares_;
    // Why the memory pass examined nothing, when the process list could say.
    ListGap memoryGap_ = GapNone;
    static constexpr int MaxRoots = 8;
    RootPlace roots_[MaxRoots];
    int rootCount_ = 0;
};

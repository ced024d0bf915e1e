// One scan: the memory pass, the disk pass, the per-file visitor that
// counts, tests and removes, and the closing summary.
#pragma once

#include "FileSystem.h"
#include "ProcessList.h"
#include "RuntimeApi.h"
#include "ScanContext.h"
#include "SignatureMatcher.h"

#include <windows.h>

#include "Memory.h"
#include "Strings.h"

enum ScanOutcome : int {
    OutcomeKillFailed = 0,
    OutcomeDeleted = 1,
    OutcomeDelayDelete = 2
};

// Enables (on != 0) or disables SeDebugPrivilege in the process token.
int EnableDebugPrivilege(int on);
// The same for SeBackupPrivilege and SeRestorePrivilege, which let a scan
// run as administrator read and delete a file whatever its ACL says.
int EnableBackupPrivileges(int on);

// True when the volume of the drive letter reports the USB storage bus.
bool IsUsbVolume(char letter);

// Thread entry of the scan worker. The parameter is the ScanContext; the
// thread owns one reference to it, taken by whoever started the thread.
DWORD WINAPI ScanThreadProc(LPVOID context);

class MemAndFileWalker {
public:
    explicit MemAndFileWalker(ScanContext* context,
                              const SignatureSet& signatures = ProductSignatures);
    virtual ~MemAndFileWalker();
    MemAndFileWalker(const MemAndFileWalker&) = delete;
    MemAndFileWalker& operator=(const MemAndFileWalker&) = delete;

    // The size of a file as its directory entry gives it, when known.
    static constexpr unsigned long long UnknownSize = ~0ull;
    // In place of the size: the file's content is not on the disk (an
    // online-only cloud file, a file moved to tape). Opening it would fetch
    // the content, so it is counted and never opened.
    static constexpr unsigned long long ContentElsewhere = ~0ull - 1;

    void RunScan();
    // A file whose known size is no signature size is counted but never
    // opened; any other is opened once, tested, and removed through that
    // open. shownPath, when given, is the file's own path for the status
    // line and the result row, where path is another form of it (a \\?\ or
    // short path) that the file functions take. A null path is a listed
    // file that no path reaches: counted, and, of a signature's size, among
    // those not examined.
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
    // The only call of a scan that opens a file: a test counts the opens here.
    ExaminedFile (*openFile)(const RuntimeApi& api, const wchar_t* path) = OpenForExamination;
    // Files of a signature's size that could not be opened or read.
    UINT unexamined = 0;

private:
    // False when the folder itself could not be listed.
    bool WalkFolder(WString& path);
    void ScanShare(char letter, const WString& share);
    void WalkFolder9x(AString& path, AString& shown);
    bool TakeMountedVolume(WString& folder);
    ScanOutcome Remediate(const wchar_t* path, ExaminedFile& file);
    // Whether the file was found infected earlier in this scan; Found
    // remembers it.
    bool FoundBefore(const ExaminedFile& file, const wchar_t* path) const;
    void Found(const ExaminedFile& file, const wchar_t* path);
    void ShowSummary() const;
    UINT Language() const;

    const SignatureSet signatures_;
    // The file-system redirection pair, the faster listing and the token
    // query, resolved once per scan, and the find functions.
    RuntimeApi api_;
    // The NT family's listing leaves out short names where the system allows.
    bool basicListing_ = false;
    // Volume names, \\?\Volume{...}\, each ended by a line feed: those at
    // the pass's drive letters, and those walked where they are mounted.
    static constexpr DWORD MaxVolumeName = 50;
    bool letterVolumesListed_ = false;
    WString letterVolumes_;
    WString mountedVolumes_;
    // The letters of mapped drives whose shares an elevated scan could not list.
    AString unreachableShares_;
    // Why the memory pass examined nothing, when the process list could say.
    ListGap memoryGap_ = GapNone;
    // A "Kill Failed" where the deletion or its registration for the restart
    // was refused with ERROR_ACCESS_DENIED: rights the scan may have lacked.
    bool removalDenied_ = false;
    // The infected files of this scan: on the NT family by volume serial
    // number and file index, on the Windows 95 family by short path.
    struct FoundFile {
        DWORD volume = 0;
        DWORD indexHigh = 0;
        DWORD indexLow = 0;
        AString path;
    };
    UniquePtr<FoundFile[]> found_;
    size_t foundCount_ = 0;
    size_t foundCapacity_ = 0;
};

// One scan: the memory pass, the disk pass, the per-file visitor that
// counts, tests and removes, and the closing summary.
#pragma once

#include "ScanContext.h"
#include "SignatureMatcher.h"

#include <windows.h>

#include <string>

enum ScanOutcome : int {
    OutcomeKillFailed = 0,
    OutcomeDeleted = 1,
    OutcomeDelayDelete = 2
};

// Enables (on != 0) or disables SeDebugPrivilege in the process token.
int EnableDebugPrivilege(int on);

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

    void RunScan();
    virtual int OnFile(int fromMemory, const char* path);
    void ScanDrives();
    void ScanDirectory(const char* dir);
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

private:
    void WalkDirectory(std::string& path);
    ScanOutcome Remediate(const char* path);
    void ShowSummary() const;

    const SignatureSet signatures_;
};

// One scan: the memory pass, then the disk pass over the roots the drive
// list gives, each file counted, shown, opened, matched, removed and listed,
// and the closing summary.
#include "MemAndFileWalker.h"

#include "EngineText.h"
#include "FileFind.h"
#include "Privileges.h"
#include "Summary.h"

namespace {

// The status line's count and path of every hundredth file.
void ShowCount(const ScanContext& context, UINT n, int fromMemory, const wchar_t* shownPath)
{
    // Built piece by piece: a path is never a format and has no length limit.
    WString status;
    AppendDecimal(status, n);
    status += L' ';
    if (fromMemory)
        status += L"Memory>>";
    status += shownPath;
    if (!status.failed())
        context.SetStatusText(status.c_str());
}

}  // namespace

DWORD WINAPI ScanThreadProc(LPVOID parameter)
{
    auto* context = static_cast<ScanContext*>(parameter);
    {
        MemAndFileWalker walker(context);
        walker.RunScan();
    }
    if (context)
        context->WorkerDone();
    return 0;
}

MemAndFileWalker::MemAndFileWalker(ScanContext* context_, const SignatureSet& signatures)
    : context(context_), files(0), infected(0), deleted(0), signatures_(signatures), drives_(api_), removal_(api_)
{
    EnableDebugPrivilege(1);
    EnableBackupPrivileges(1);
    ResolveLaterKernel32Functions(api_);
    ResolveLoadedNtdllFunctions(api_);
    ResolveTokenFunctions(api_);
    if (RuntimeApiOverride)
        RuntimeApiOverride(api_);
}

MemAndFileWalker::~MemAndFileWalker()
{
    EnableBackupPrivileges(0);
    EnableDebugPrivilege(0);
}

void MemAndFileWalker::RunScan()
{
    if (!context)
        return;
    // A failed allocation inside a pass ends that pass (the walk stops at a
    // path that failed()); the scan still returns the dialog to idle and
    // shows what it counted.
    if (!context->StopRequested())
        ScanMemory();
    if (!context->StopRequested())
        ScanDrives();
    context->SetProgressPos(0);
    context->SetStatusText("");
    context->NotifyScanDone();
    ShowSummary();
}

UINT MemAndFileWalker::Language() const
{
    return context->language < LanguageCount ? context->language : LanguageEnglish;
}

void MemAndFileWalker::ShowSummary() const
{
    const ScanTally tally = {files, infected, deleted, unexamined, memoryGap_, removal_.RemovalDenied(),
                             unreachableShares_, drives_.SignedInUserUnknown()};
    ::ShowSummary(context->progressBar, Language(), tally, api_);
}

int MemAndFileWalker::OnFile(int fromMemory, const wchar_t* path, unsigned long long knownSize,
                             const wchar_t* shownPath)
{
    if (!shownPath)
        shownPath = path;
    const UINT n = ++files;
    if (n % 100 == 0)
        ShowCount(*context, n, fromMemory, shownPath);
    if (knownSize != UnknownSize && !signatures_.HasSize(knownSize))
        return 1;
    const bool signatureSized = knownSize != UnknownSize;
    if (!path) {
        unexamined += signatureSized;
        return 1;
    }
    ScanOutcome outcome;
    {
        RedirectionOff off(api_);
        ExaminedFile file = openFile(api_, path);
        if (!file.handle) {
            // A module's size is not known: the disk pass counts its file.
            unexamined += signatureSized;
            return 1;
        }
        // A link or junction put in the place of the entry or of a folder on
        // its way since the listing leads to another file, perhaps on a
        // volume the walk keeps out.
        if (!fromMemory && !OpenedAsListed(file.handle.Get(), path)) {
            ++unexamined;
            return 1;
        }
        const MatchResult match = MatchHandle(file.handle.Get(), signatures_);
        if (match != MatchInfected) {
            unexamined += match == MatchUnread;
            return 1;
        }
        // Met again under the same name, by another process's modules or by
        // the disk pass. Hashed first: a file's key may equal another's (a
        // cloned disk, FAT's reused indexes), and another name of the file
        // is removed on its own.
        if (!removal_.FirstMeeting(file, path))
            return 1;
        outcome = removal_.Remediate(path, file);
    }
    ++infected;
    deleted += outcome == OutcomeDeleted;
    context->AddResultRow(shownPath, DetectionName, StatusWords[outcome * 4 + Language()]);
    return 1;
}

void MemAndFileWalker::ScanMemory()
{
    memoryGap_ = RunMemoryPass(*context, Language(), *this);
}

void MemAndFileWalker::ModuleMet(const wchar_t* path)
{
    OnFile(1, path);
}

void MemAndFileWalker::ScanDrives()
{
    // One step per letter reaches the end at the last one: a step past the
    // end would start the bar over. The memory pass leaves it anywhere.
    context->SetProgressRange(0, lastDrive >= firstDrive ? lastDrive - firstDrive + 1 : 0);
    context->SetProgressPos(0);
    context->SetProgressStep(1);

    drives_.ListShares(firstDrive, lastDrive);
    for (char letter = firstDrive; letter <= lastDrive; ++letter) {
        context->StepProgress();
        if (context->StopRequested())
            return;
        if (isUsbVolume(letter))
            continue;
        const DriveRoot root = drives_.RootAt(letter);
        if (root.kind == DriveRoot::Share) {
            ScanShare(letter, *root.share);
        } else if (root.kind == DriveRoot::Letter) {
            const wchar_t drive[3] = {static_cast<wchar_t>(letter), L':', L'\0'};
            ScanDirectory(drive);
        } else if (root.kind == DriveRoot::Unread) {
            unreachableShares_ += letter;
        }
    }
}

bool MemAndFileWalker::BasicListing() const
{
    return api_.FindFirstFileExW && VersionNumber(api_.GetVersion()) >= 601;
}

void MemAndFileWalker::ScanShare(char letter, const WString& share)
{
    // Every path of the share is opened wearing the token of the user whose
    // share it is, if another's.
    const UserImpersonation asUser(api_, drives_.ShareToken());
    if (asUser.Refused()) {
        unreachableShares_ += letter;
        return;
    }
    FolderWalk walk(api_, *this, openEveryFile, BasicListing());
    WString path = L"\\\\?\\UNC" + share.substr(1);
    rootCount_ = 0;
    PushRoot(path);
    if (!walk.WalkFolder(path))
        unreachableShares_ += letter;
}

void MemAndFileWalker::ScanDirectory(const wchar_t* dir)
{
    FolderWalk walk(api_, *this, openEveryFile, BasicListing());
    if (OsFamilyFromVersion(api_.GetVersion()) == Win9x) {
        AString path = AnsiFromWide(dir);
        AString shown = path;
        walk.WalkFolder9x(path, shown);
        return;
    }
    WString path = ExtendedPath(dir);
    if (path.failed())
        return;
    rootCount_ = 0;
    PushRoot(path);
    // A drive's own root: its file table may stand for the walk.
    const bool drive = dir[0] != L'\\' && dir[1] == L':' && dir[2] == L'\0';
    if (drive && readFileTable && !openEveryFile && RunFileTablePass(api_, dir[0], *this) == TablePass::Done)
        return;
    walk.WalkFolder(path);
}

namespace {

bool UnderRoot(const WString& root, const wchar_t* path)
{
    for (size_t i = 0; i < root.size(); ++i) {
        if (path[i] != root[i])
            return false;
    }
    return path[root.size()] == L'\\';
}

}  // namespace

void MemAndFileWalker::PushRoot(const WString& root)
{
    // The walk is depth-first: a root it has left is not met again.
    while (rootCount_ > 0 && !UnderRoot(roots_[rootCount_ - 1].path, root.c_str()))
        roots_[--rootCount_] = RootPlace();
    if (rootCount_ == MaxRoots) {
        // Mounted deeper than this: checked no more, as before Vista.
        roots_[MaxRoots - 1].known = false;
        return;
    }
    roots_[rootCount_++] = PlaceOfRoot(api_, root);
}

bool MemAndFileWalker::OpenedAsListed(HANDLE file, const wchar_t* path)
{
    while (rootCount_ > 0 && !UnderRoot(roots_[rootCount_ - 1].path, path))
        roots_[--rootCount_] = RootPlace();
    if (rootCount_ == 0 || !roots_[rootCount_ - 1].known)
        return true;
    return OpenedWhereListed(api_, file, roots_[rootCount_ - 1], path);
}

bool MemAndFileWalker::WalkStopped()
{
    return context->StopRequested();
}

void MemAndFileWalker::FileMet(const wchar_t* path, unsigned long long knownSize, const wchar_t* shownPath)
{
    OnFile(0, path, knownSize, shownPath);
}

bool MemAndFileWalker::MountPointMet(WString& folder)
{
    if (!drives_.TakeMountedVolume(folder, firstDrive, lastDrive))
        return false;
    PushRoot(folder);
    return true;
}

bool MemAndFileWalker::WantedSize(unsigned long long size)
{
    return signatures_.HasSize(size);
}

bool MemAndFileWalker::TableStopped()
{
    return context->StopRequested();
}

void MemAndFileWalker::FilesCounted(UINT count, const wchar_t* shownFolder)
{
    const UINT before = files;
    files += count;
    if (files / 100 != before / 100)
        ShowCount(*context, files, 0, shownFolder);
}

void MemAndFileWalker::TableFileMet(const wchar_t* path, unsigned long long size, const wchar_t* shownPath)
{
    OnFile(0, path, size, shownPath);
}

void MemAndFileWalker::MountedFolderMet(WString& folder)
{
    if (!MountPointMet(folder))
        return;
    FolderWalk walk(api_, *this, openEveryFile, BasicListing());
    walk.WalkFolder(folder);
}

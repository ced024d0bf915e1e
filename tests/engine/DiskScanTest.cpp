// Whole scans and disk walks over generated trees, with a test table.
#include "ApiOverride.h"
#include "FileFind.h"
#include "FileSystem.h"
#include "FolderTrust.h"
#include "Handle.h"
#include "MemAndFileWalker.h"
#include "NoMemory.h"
#include "RecordingWalker.h"
#include "Reference.h"
#include "RuntimeApi.h"
#include "ScanHost.h"
#include "TempTree.h"
#include "TrustedFolders.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <winioctl.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Infection {
    std::string bytes = UniqueBytes(1300);
    std::string larger = UniqueBytes(524288 * 2 + 100);
    std::vector<SignatureEntry> rows{RowFor(bytes), RowFor(larger)};
    SignatureSet Set() const { return {rows.data(), rows.size()}; }
};

size_t CountFiles(const std::string& dir)
{
    size_t count = 0;
    WIN32_FIND_DATAA entry;
    FindHandle find(FindFirstFileA((dir + "\\*").c_str(), &entry));
    if (!find)
        return 0;
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            count += CountFiles(dir + "\\" + name);
        else
            ++count;
    } while (FindNextFileA(find.Get(), &entry));
    return count;
}

std::wstring WidePath(const std::string& path)
{
    return Widen(path);
}

BOOL WINAPI RefuseRestartDeletion(LPCWSTR, LPCWSTR, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

void NoRestartDeletion(RuntimeApi& api)
{
    api.MoveFileExW = RefuseRestartDeletion;
}

DWORD WINAPI Windows98Version()
{
    return 0xC0000A04;
}

// The Windows 95 family's 8-bit search takes a pattern of fewer than
// MAX_PATH characters; Wine's takes one more.
HANDLE WINAPI FindFirstWithinMaxPath(LPCSTR pattern, LPWIN32_FIND_DATAA entry)
{
    if (std::strlen(pattern) >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    return ::FindFirstFileA(pattern, entry);
}

// The Windows 95 family, where this system is not of it already, with a
// Windows folder of the test's own.
void Windows95Family(RuntimeApi& api)
{
    if (!(api.GetVersion() & 0x80000000u))
        api.GetVersion = Windows98Version;
    api.GetWindowsDirectoryA = TestWindowsFolder;
    api.FindFirstFileA = FindFirstWithinMaxPath;
}

}  // namespace

TEST(DiskScan, RemovesOnlyMatchingFilesAndReportsEachOutcome)
{
    TempTree tree;
    Infection infection;
    // Clean files, among them one of a signature size with other content.
    for (int i = 0; i < 30; ++i)
        tree.WriteFile("clean\\sub" + std::to_string(i % 4) + "\\f" + std::to_string(i), 100 + i * 37, i);
    std::string nearMiss = infection.bytes;
    nearMiss[600] ^= 0x10;
    const std::string nearMissPath = tree.WriteFile("clean\\near-miss.exe", nearMiss);
    const std::string plain = tree.WriteFile("a\\b\\worm.exe", infection.bytes);
    const std::string larger = tree.WriteFile("a\\c\\worm2.dll", infection.larger);
    const std::string readOnly = tree.WriteFile("a\\readonly.exe", infection.bytes);
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    const std::string held = tree.WriteFile("held\\in-use.exe", infection.bytes);
    // Held open without delete sharing, as a running program holds its image.
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    // Held with delete access: only an open that shares deletion reads it.
    const std::string heldForDelete = tree.WriteFile("held\\marked.exe", infection.bytes);
    HANDLE deleter = CreateFileA(heldForDelete.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(deleter, INVALID_HANDLE_VALUE);
    // Held open for writing, as a log or a download is: read only by an
    // open that shares writing.
    const std::string heldForWrite = tree.WriteFile("held\\written.exe", infection.bytes);
    HANDLE writer = CreateFileA(heldForWrite.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    const size_t total = CountFiles(tree.Root());

    ScanHost host;
    RecordingWalker walker(&host.Context(), infection.Set());
    walker.examineFiles = true;
    host.Run([&](ScanContext&) { walker.ScanDirectory(Widen(tree.Root()).c_str()); });
    EXPECT_EQ(walker.files, total);
    EXPECT_EQ(walker.infected, 6u);
    EXPECT_EQ(walker.deleted, 3u);
    CloseHandle(holder);
    CloseHandle(deleter);
    CloseHandle(writer);

    const auto rows = host.Rows();
    ASSERT_EQ(rows.size(), 6u);
    std::vector<std::pair<std::wstring, std::wstring>> found;
    for (const auto& row : rows) {
        EXPECT_EQ(row.name, L"Worm.Win32.Tavok");
        found.emplace_back(row.path, row.outcome);
    }
    auto outcomeOf = [&](const std::string& path) {
        for (const auto& f : found)
            if (f.first == WidePath(path))
                return f.second;
        return std::wstring(L"(no row)");
    };
    EXPECT_EQ(outcomeOf(plain), L"Deleted");
    EXPECT_EQ(outcomeOf(larger), L"Deleted");
    EXPECT_EQ(outcomeOf(readOnly), L"Deleted");
    // Held without delete sharing, they cannot be moved into the program's
    // own folder, and the folders on their paths are the user's (Wine's
    // every folder is): nothing is registered that a link could redirect.
    EXPECT_EQ(outcomeOf(held), L"Kill Failed");
    EXPECT_EQ(outcomeOf(heldForDelete), L"Kill Failed");
    EXPECT_EQ(outcomeOf(heldForWrite), L"Kill Failed");
    EXPECT_FALSE(FileExists(plain));
    EXPECT_FALSE(FileExists(larger));
    EXPECT_FALSE(FileExists(readOnly));
    EXPECT_TRUE(FileExists(held));
    EXPECT_TRUE(FileExists(nearMissPath));
    EXPECT_EQ(CountFiles(tree.Root()), total - 3);
    EXPECT_EQ(host.Context().rowCount, 6u);
}

namespace {

// Between the examination and the removal, the folder that holds the
// examined file's folder is renamed away, and one that holds a link of the
// same name to another folder put in its place. Wine cannot rename a link
// itself, only what it leads to.
std::string swapFolder, swapAway, swapLink;
NtSetInformationFileFn realSetInformation = nullptr;
bool swapped = false;

LONG WINAPI SwapBeforeRemoval(HANDLE file, NativeIoStatus* status, PVOID info, ULONG length, ULONG infoClass)
{
    if (!swapped && !swapFolder.empty()) {
        swapped = true;
        EXPECT_TRUE(MoveFileA(swapFolder.c_str(), swapAway.c_str()));
        EXPECT_TRUE(MoveFileA(swapLink.c_str(), swapFolder.c_str()));
    }
    return realSetInformation(file, status, info, length, infoClass);
}

// An ACL that denies the copies named "guarded" to all but backup semantics,
// and one that lets the copies named "readable" be read but not removed, as
// System32 grants a user without administrator rights.
HANDLE WINAPI GuardedOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                          DWORD disposition, DWORD flags, HANDLE templateFile)
{
    if ((std::wcsstr(path, L"guarded") && !(flags & FILE_FLAG_BACKUP_SEMANTICS)) ||
        (std::wcsstr(path, L"readable") && (access & (DELETE | FILE_WRITE_ATTRIBUTES)))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
}

void SwappedAndGuarded(RuntimeApi& api)
{
    realSetInformation =
        ResolveFunction<NtSetInformationFileFn>(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile");
    api.NtSetInformationFile = SwapBeforeRemoval;
    api.CreateFileW = GuardedOpen;
}

}  // namespace

TEST(DiskScan, WhatIsRemovedIsTheFileThatWasExamined)
{
    // The link is made on the host side (see tests/CMakeLists.txt).
    const std::string base = std::string("C:\\tavok-link-fixture\\swap-") + (sizeof(void*) == 8 ? "x86_64" : "i686");
    swapFolder = base + "\\outer";
    swapAway = base + "\\outer-away";
    swapLink = base + "\\holder";
    ASSERT_TRUE(FileExists(swapLink + "\\scan")) << "fixture missing";
    Infection infection;
    const std::string other = UniqueBytes(infection.bytes.size());
    const std::string victim = base + "\\target\\worm.exe";
    TempTree::WriteFileAt(victim, other);
    SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    const DWORD victimAttributes = GetFileAttributesA(victim.c_str());
    CreateDirectoryA(swapFolder.c_str(), nullptr);
    CreateDirectoryA((swapFolder + "\\scan").c_str(), nullptr);
    const std::string examined = swapFolder + "\\scan\\worm.exe";
    TempTree::WriteFileAt(examined, infection.bytes);

    // Through backup semantics alone, read-only, hidden and system: deleted.
    TempTree tree;
    const std::string guarded = tree.WriteFile("guarded.exe", infection.bytes);
    SetFileAttributesA(guarded.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
    // Readable, not removable: examined, and left for the restart.
    const std::string readable = tree.WriteFile("readable.exe", infection.bytes);
    // Held without read sharing: not examined, counted as such.
    const std::string locked = tree.WriteFile("locked.exe", infection.bytes);
    HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    swapped = false;
    {
        const ApiOverride fake(SwappedAndGuarded);
        ScanHost host;
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        // Visited on its own: Wine's listing would keep the folder from
        // being renamed.
        host.Run([&](ScanContext&) {
            walker.OnFile(0, Widen(examined).c_str(), MemAndFileWalker::UnknownSize);
            swapFolder.clear();
            walker.ScanDirectory(Widen(tree.Root()).c_str());
        });
        EXPECT_TRUE(swapped);
        EXPECT_EQ(walker.files, 4u);
        EXPECT_EQ(walker.infected, 3u);
        EXPECT_EQ(walker.unexamined, 1u);
    }
    CloseHandle(holder);
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(victim, bytes));
    EXPECT_EQ(bytes, other);
    EXPECT_EQ(GetFileAttributesA(victim.c_str()), victimAttributes);
    EXPECT_FALSE(FileExists(guarded));
    EXPECT_TRUE(FileExists(locked));

    // The fixture as it was; Wine may leave the examined copy in place.
    MoveFileA((base + "\\outer").c_str(), swapLink.c_str());
    SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(victim.c_str());
    RemoveTree(swapAway);
}

namespace {

// Between the listing and the open, the folder that holds the listed
// file's folder is renamed away, and one that holds a link of the same name
// to another folder, where a matching file lies, put in its place. The
// listing is the table's: Wine's own would keep the folder from being
// renamed. The handles are real ones, of an empty folder, for FindClose.
struct OpenSwap {
    std::string outer, away, holder, empty;
    HANDLE outerListing = INVALID_HANDLE_VALUE;
    bool scanGiven = false;
    bool swapped = false;
} openSwap;

HANDLE ListSwapFolder(LPCWSTR pattern, WIN32_FIND_DATAW* entry)
{
    const std::wstring listed = pattern;
    auto endsWith = [&](const std::wstring& end) {
        return listed.size() >= end.size() && listed.compare(listed.size() - end.size(), end.size(), end) == 0;
    };
    const bool outer = endsWith(L"\\outer\\*");
    if (!outer && !endsWith(L"\\outer\\scan\\*")) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    WIN32_FIND_DATAW real = {};
    const HANDLE handle = ::FindFirstFileW(Widen(openSwap.empty + "\\*").c_str(), &real);
    *entry = {};
    lstrcpyW(entry->cFileName, outer ? L"plain.exe" : L"worm.exe");
    entry->nFileSizeLow = 1300;
    if (outer) {
        openSwap.outerListing = handle;
        openSwap.scanGiven = false;
    }
    return handle;
}

HANDLE WINAPI ListSwapPlain(LPCWSTR pattern, LPWIN32_FIND_DATAW entry)
{
    return ListSwapFolder(pattern, entry);
}

HANDLE WINAPI ListSwapBasic(LPCWSTR pattern, FINDEX_INFO_LEVELS, LPVOID entry, FINDEX_SEARCH_OPS, LPVOID, DWORD)
{
    return ListSwapFolder(pattern, static_cast<WIN32_FIND_DATAW*>(entry));
}

BOOL WINAPI NextInSwapFolder(HANDLE find, LPWIN32_FIND_DATAW entry)
{
    if (find == openSwap.outerListing && !openSwap.scanGiven) {
        openSwap.scanGiven = true;
        *entry = {};
        lstrcpyW(entry->cFileName, L"scan");
        entry->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
        return TRUE;
    }
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

HANDLE WINAPI SwapBeforeOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE templateFile)
{
    if (!openSwap.swapped && std::wcsstr(path, L"\\outer\\scan\\worm.exe")) {
        openSwap.swapped = true;
        EXPECT_TRUE(MoveFileA(openSwap.outer.c_str(), openSwap.away.c_str()));
        EXPECT_TRUE(MoveFileA(openSwap.holder.c_str(), openSwap.outer.c_str()));
    }
    return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
}

void SwappedBeforeOpen(RuntimeApi& api)
{
    api.FindFirstFileW = ListSwapPlain;
    api.FindFirstFileExW = ListSwapBasic;
    api.FindNextFileW = NextInSwapFolder;
    api.CreateFileW = SwapBeforeOpen;
}

}  // namespace

TEST(DiskScan, AFileOpenedThroughALinkPutInThePlaceOfAListedFolderIsNotExamined)
{
    // The link is made on the host side (see tests/CMakeLists.txt).
    const std::string base = std::string("C:\\tavok-link-fixture\\open-") + (sizeof(void*) == 8 ? "x86_64" : "i686");
    openSwap = OpenSwap();
    openSwap.outer = base + "\\outer";
    openSwap.away = base + "\\outer-away";
    openSwap.holder = base + "\\holder";
    ASSERT_TRUE(FileExists(openSwap.holder + "\\scan")) << "fixture missing";
    TempTree empty;
    openSwap.empty = empty.Root();
    Infection infection;
    // Elsewhere, a file that matches as well.
    const std::string elsewhere = base + "\\target\\worm.exe";
    TempTree::WriteFileAt(elsewhere, infection.bytes);
    CreateDirectoryA(openSwap.outer.c_str(), nullptr);
    CreateDirectoryA((openSwap.outer + "\\scan").c_str(), nullptr);
    const std::string plain = openSwap.outer + "\\plain.exe";
    TempTree::WriteFileAt(plain, infection.bytes);
    TempTree::WriteFileAt(openSwap.outer + "\\scan\\worm.exe", infection.bytes);

    {
        const ApiOverride fake(SwappedBeforeOpen);
        ScanHost host;
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        const ScanReport report =
            host.Run([&](ScanContext&) { walker.ScanDirectory(Widen(openSwap.outer).c_str()); });
        EXPECT_TRUE(openSwap.swapped);
        EXPECT_EQ(walker.files, 2u);
        EXPECT_EQ(walker.infected, 1u);
        EXPECT_EQ(walker.unexamined, 1u);
        ASSERT_EQ(report.rows.size(), 1u);
        EXPECT_EQ(report.rows[0].path, Widen(plain));
    }
    EXPECT_FALSE(FileExists(openSwap.away + "\\plain.exe"));
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(elsewhere, bytes));
    EXPECT_EQ(bytes, infection.bytes);

    // The fixture as it was.
    MoveFileA(openSwap.outer.c_str(), openSwap.holder.c_str());
    DeleteFileA(elsewhere.c_str());
    RemoveTree(openSwap.away);
}

TEST(DiskScan, OnTheWindows95FamilyAFileInUseIsDeletedAtRestartThroughWininit)
{
    TempTree tree;
    Infection infection;
    windowsFolder = tree.MakeDir("windows");
    const std::string wininit = windowsFolder + "\\WININIT.INI";
    const std::string before = "[Rename]\r\nNUL=C:\\OLD.TMP\r\nC:\\A.DLL=C:\\A.NEW\r\n\r\n[Other]\r\nkey=value";
    TempTree::WriteFileAt(wininit, before);
    const std::string held = tree.WriteFile("held\\in-use.exe", infection.bytes);
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    const ApiOverride family(Windows95Family);
    ScanHost host;
    RecordingWalker walker(&host.Context(), infection.Set());
    walker.examineFiles = true;
    // Met twice, as a running worm is by both passes: by its long path and
    // by its short one, registered once.
    char shortHeld[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameA(held.c_str(), shortHeld, MAX_PATH), 0u);
    host.Run([&](ScanContext&) {
        walker.ScanDirectory(Widen(tree.Path("held")).c_str());
        walker.OnFile(1, Widen(shortHeld).c_str(), MemAndFileWalker::UnknownSize);
    });
    CloseHandle(holder);

    const auto rows = host.Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].outcome, L"Delay Delete");
    EXPECT_EQ(walker.files, 2u);
    EXPECT_EQ(walker.infected, 1u);
    EXPECT_EQ(walker.deleted, 0u);
    char shortPath[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameA(held.c_str(), shortPath, MAX_PATH), 0u);
    std::string after;
    ASSERT_TRUE(ReadWholeFile(wininit, after));
    EXPECT_EQ(after, "[Rename]\r\nNUL=C:\\OLD.TMP\r\nC:\\A.DLL=C:\\A.NEW\r\nNUL=" + std::string(shortPath) +
                         "\r\n\r\n[Other]\r\nkey=value");
}

namespace {

// A worm-sized copy at the bottom of folders made through \\?\; the folders
// path, to remove them again.
// A file at a \\?\ path of any length.
void WriteDeepFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::wstring PlantDeep(const std::wstring& root, const std::vector<std::wstring>& folders, const std::string& bytes)
{
    std::wstring deep = L"\\\\?\\" + root;
    for (const auto& folder : folders) {
        deep += L"\\" + folder;
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    WriteDeepFile(deep + L"\\deep.exe", bytes);
    return deep;
}

// The tree's own clean-up cannot reach below the 8-bit limit.
void RemoveDeep(std::wstring deep, size_t levels)
{
    DeleteFileW((deep + L"\\deep.exe").c_str());
    for (size_t i = 0; i < levels; ++i) {
        RemoveDirectoryW(deep.c_str());
        deep.resize(deep.rfind(L'\\'));
    }
}

}  // namespace

namespace {

// Where a deletion at restart is registered, and what the drive is.
std::vector<std::wstring> registered;
DWORD systemVersion = 0;
UINT driveType = DRIVE_FIXED;

BOOL WINAPI RecordRestartDeletion(LPCWSTR path, LPCWSTR replacement, DWORD flags)
{
    if (replacement == nullptr && flags == MOVEFILE_DELAY_UNTIL_REBOOT)
        registered.push_back(path);
    return TRUE;
}

DWORD WINAPI ChosenVersion()
{
    return systemVersion;
}

// DRIVE_UNKNOWN: as the system reports it.
UINT WINAPI ChosenDriveType(LPCSTR root)
{
    return driveType == DRIVE_UNKNOWN ? ::GetDriveTypeA(root) : driveType;
}

void RestartDeletionWatched(RuntimeApi& api)
{
    // Every folder as no user could change it: what is judged here is the
    // path registered.
    trustedFolders = {L""};
    api.NtQuerySecurityObject = TrustedFoldersSecurity;
    api.MoveFileExW = RecordRestartDeletion;
    api.GetDriveTypeA = ChosenDriveType;
    if (systemVersion != 0)
        api.GetVersion = ChosenVersion;
    else
        Windows95Family(api);
}

}  // namespace

TEST(DiskScan, ADeletionAtRestartIsRegisteredOnlyWhereItWillBeCarriedOut)
{
    TempTree tree;
    Infection infection;
    windowsFolder = tree.MakeDir("windows");
    const std::string wininit = windowsFolder + "\\WININIT.INI";
    const std::wstring wideRoot = Widen(tree.Root());
    // Held copies: a plain one, one whose name plain paths read as another,
    // one past MAX_PATH that short names bring within it, and one past
    // MAX_PATH even by short names.
    std::vector<std::wstring> longNames, shortNames;
    for (int i = 0; i < 5; ++i)
        longNames.push_back(std::wstring(70, static_cast<wchar_t>(L'a' + i)));
    for (int i = 0; i < 30; ++i)
        shortNames.push_back(L"level" + std::wstring(1, static_cast<wchar_t>(L'a' + i % 26)) + L"00");
    const std::wstring plain = Widen(tree.WriteFile("held\\in-use.exe", infection.bytes));
    const std::wstring evasive = L"\\\\?\\" + wideRoot + L"\\held\\trailing.exe ";
    TempTree::WriteFileAt(AnsiFromWide(evasive.c_str()).c_str(), infection.bytes);
    const std::wstring longDeep = PlantDeep(wideRoot, longNames, infection.bytes) + L"\\deep.exe";
    const std::wstring deepest = PlantDeep(wideRoot, shortNames, infection.bytes) + L"\\deep.exe";
    std::vector<HANDLE> holders;
    for (const auto& path : {L"\\\\?\\" + plain, evasive, longDeep, deepest}) {
        holders.push_back(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_NE(holders.back(), INVALID_HANDLE_VALUE);
    }
    // And one on the prefix's R:, which Wine reports as a CD-ROM drive
    // (HKLM\Software\Wine\Drives).
    ASSERT_EQ(GetDriveTypeA("R:\\"), UINT(DRIVE_CDROM)) << "the prefix has no CD-ROM drive R:";
    const std::wstring cdRoot = L"R:\\tavok-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring onCd = cdRoot + L"\\in-use.exe";
    CreateDirectoryW(cdRoot.c_str(), nullptr);
    TempTree::WriteFileAt(AnsiFromWide(onCd.c_str()).c_str(), infection.bytes);
    holders.push_back(CreateFileW(onCd.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(holders.back(), INVALID_HANDLE_VALUE);
    auto shortPathOf = [](const std::wstring& path) {
        wchar_t shortPath[1024] = {};
        GetShortPathNameW(path.c_str(), shortPath, 1024);
        return std::wstring(PlainPath(shortPath));
    };

    const struct {
        const char* what;
        DWORD version;  // 0: the Windows 95 family
        UINT drive;
        std::vector<std::wstring> registered;  // in the walk's order: held, then the two deep trees
        size_t delayed;
        const std::wstring* root = nullptr;  // null: the tree's
    } cases[] = {
        {"Windows 2000", 0x08930005, DRIVE_FIXED,
         {plain, shortPathOf(evasive), shortPathOf(longDeep)}, 3},
        {"NT 4.0", 0x05650004, DRIVE_FIXED, {plain, shortPathOf(evasive), shortPathOf(longDeep)}, 3},
        {"XP", 0x0A280105, DRIVE_FIXED, {L"\\\\?\\" + plain, evasive, longDeep, deepest}, 4},
        // The path the examined handle has, where it names that file. Wine's
        // GetFinalPathNameByHandleW drops a trailing space, which names
        // another file, and names no path past MAX_PATH (ERROR_MORE_DATA).
        {"Windows 7", 0x1DB10106, DRIVE_FIXED, {L"\\\\?\\" + plain}, 1},
        {"XP, network drive", 0x0A280105, DRIVE_REMOTE, {}, 0},
        {"XP, CD drive", 0x0A280105, DRIVE_CDROM, {}, 0},
        {"Windows 98, CD drive", 0, DRIVE_CDROM, {}, 0},
        {"XP, a drive Wine reports as a CD-ROM", 0x0A280105, DRIVE_UNKNOWN, {}, 0, &cdRoot},
        {"Windows 98, a drive Wine reports as a CD-ROM", 0, DRIVE_UNKNOWN, {}, 0, &cdRoot},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree::WriteFileAt(wininit, "[rename]\r\n");
        registered.clear();
        systemVersion = c.version;
        driveType = c.drive;
        const ApiOverride watched(RestartDeletionWatched);
        ScanHost host;
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        const ScanReport report =
            host.Run([&](ScanContext&) { walker.ScanDirectory((c.root ? *c.root : wideRoot).c_str()); });
        std::vector<std::wstring> got = registered, expected = c.registered;
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(got, expected);
        size_t delayed = 0, failed = 0;
        for (const auto& row : report.rows) {
            delayed += row.outcome == L"Delay Delete";
            failed += row.outcome == L"Kill Failed";
        }
        EXPECT_EQ(delayed, c.delayed);
        EXPECT_FALSE(report.rows.empty());
        EXPECT_EQ(failed, report.rows.size() - delayed);
        EXPECT_EQ(walker.deleted, 0u);
        std::string after;
        ASSERT_TRUE(ReadWholeFile(wininit, after));
        EXPECT_EQ(after, "[rename]\r\n");
    }
    for (HANDLE holder : holders)
        CloseHandle(holder);
    DeleteFileW(onCd.c_str());
    RemoveDirectoryW(cdRoot.c_str());
    DeleteFileW(evasive.c_str());
    RemoveDeep(longDeep.substr(0, longDeep.rfind(L'\\')), longNames.size());
    RemoveDeep(deepest.substr(0, deepest.rfind(L'\\')), shortNames.size());
}

TEST(DiskScan, TrustingDirectorySizesGivesTheSameResultsAsOpeningEveryFile)
{
    TempTree tree;
    Infection infection;
    for (int i = 0; i < 340; ++i)
        tree.WriteFile("t\\d" + std::to_string(i % 7) + "\\f" + std::to_string(i), (i * 97) % 3000, i);
    // Signature sizes with other content: these must be read either way.
    for (int i = 0; i < 3; ++i) {
        tree.WriteFile("t\\near\\small" + std::to_string(i), 1300, 1000 + i);
        tree.WriteFile("t\\near\\large" + std::to_string(i), infection.larger.size(), 2000 + i);
    }
    const std::vector<std::string> copies = {"t\\d1\\worm.exe", "t\\d3\\worm.dll", "t\\d5\\x\\y\\worm.scr",
                                             "t\\ro.exe"};
    auto plant = [&] {
        for (size_t i = 0; i < copies.size(); ++i)
            tree.WriteFile(copies[i], i % 2 ? infection.larger : infection.bytes);
        SetFileAttributesA(tree.Path("t\\ro.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    };
    plant();
    const std::string held = tree.WriteFile("t\\d2\\held.exe", infection.bytes);
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    struct Outcome {
        UINT files, infected, deleted;
        std::vector<ResultRow> rows;
        std::vector<std::string> status;
    };
    auto scan = [&](bool openEveryFile) {
        ScanHost host;
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        walker.openEveryFile = openEveryFile;
        ScanReport report = host.Run([&](ScanContext&) { walker.ScanDirectory(Widen(tree.Root()).c_str()); });
        return Outcome{walker.files, walker.infected, walker.deleted, report.rows, report.statusTexts};
    };
    const Outcome opened = scan(true);
    plant();
    const Outcome trusted = scan(false);
    CloseHandle(holder);

    EXPECT_EQ(opened.files, 351u);
    EXPECT_EQ(opened.infected, 5u);
    EXPECT_EQ(opened.deleted, 4u);
    EXPECT_EQ(trusted.files, opened.files);
    EXPECT_EQ(trusted.infected, opened.infected);
    EXPECT_EQ(trusted.deleted, opened.deleted);
    EXPECT_EQ(trusted.status, opened.status);
    EXPECT_EQ(trusted.status.size(), 3u);
    ASSERT_EQ(trusted.rows.size(), opened.rows.size());
    for (size_t i = 0; i < trusted.rows.size(); ++i) {
        EXPECT_EQ(trusted.rows[i].path, opened.rows[i].path);
        EXPECT_EQ(trusted.rows[i].outcome, opened.rows[i].outcome);
    }
    for (const auto& copy : copies)
        EXPECT_FALSE(FileExists(tree.Path(copy)));
}

TEST(DiskScan, FilesOfNoSignatureSizeAreNeverOpened)
{
    TempTree tree;
    Infection infection;
    for (int i = 0; i < 40; ++i)
        tree.WriteFile("sizes\\d" + std::to_string(i % 3) + "\\f" + std::to_string(i), 1 + i * 211, i);
    // The one file of a signature size shows that opens are counted.
    const std::string sameSize = tree.WriteFile("sizes\\same-size", 1300, 99);

    static std::vector<std::string> opened;
    opened.clear();
    ScanHost host;
    RecordingWalker walker(&host.Context(), infection.Set());
    walker.examineFiles = true;
    walker.openFile = [](const RuntimeApi& api, const wchar_t* path) {
        opened.push_back(AnsiFromWide(PlainPath(path)).c_str());
        return OpenForExamination(api, path);
    };
    host.Run([&](ScanContext&) { walker.ScanDirectory(Widen(tree.Root()).c_str()); });
    EXPECT_EQ(walker.files, 41u);
    EXPECT_EQ(walker.infected, 0u);
    EXPECT_EQ(opened, std::vector<std::string>{sameSize});
}

TEST(DiskScan, StopIsHonouredFromAnyDepth)
{
    TempTree tree;
    std::string dir;
    for (int depth = 0; depth < 6; ++depth) {
        dir += (depth ? "\\" : "") + std::string("level") + std::to_string(depth);
        for (int i = 0; i < 3; ++i)
            tree.WriteFile(dir + "\\f" + std::to_string(i), 10, i);
    }
    const size_t total = CountFiles(tree.Root());
    ASSERT_EQ(total, 18u);
    Infection infection;
    for (size_t stopAt : {size_t(1), size_t(2), size_t(4), size_t(9), size_t(17), size_t(18)}) {
        ScanHost host;
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        walker.stopAfterDiskFiles = stopAt;
        host.Run([&](ScanContext&) { walker.ScanDirectory(Widen(tree.Root()).c_str()); });
        EXPECT_EQ(walker.diskPaths.size(), stopAt);
        EXPECT_EQ(walker.files, stopAt);
    }
}

TEST(DiskScan, StatusLineShowsEveryHundredthFileWithItsWholePath)
{
    ScanHost host;
    // With a name that no code page spells, read back as wide text.
    const std::wstring longPath = L"C:\\" + std::wstring(300, L'd') + L"\\%s%n%d%x \u6837\U0001F600.exe";
    for (int fromMemory : {1, 0}) {
        MemAndFileWalker walker(&host.Context(), ProductSignatures);
        ScanReport report = host.Run([&](ScanContext&) {
            for (int i = 1; i <= 101; ++i) {
                const std::wstring path = i == 100 ? longPath : L"C:\\missing\\file" + std::to_wstring(i) + L".dll";
                walker.OnFile(fromMemory, path.c_str());
                if (i == 99)
                    walker.context->SetStatusText("unchanged");
            }
        });
        EXPECT_EQ(walker.files, 101u);
        EXPECT_EQ(walker.infected, 0u);
        ASSERT_EQ(report.statusTexts.size(), 2u);
        const std::wstring shown = (fromMemory ? L"100 Memory>>" : L"100 ") + longPath;
        EXPECT_EQ(report.statusTexts[1], std::string(AnsiFromWide(shown.c_str()).c_str()));
        EXPECT_EQ(WindowTextW(host.statusLine), shown);
    }
}

TEST(DiskScan, ReparsePointsAreNeitherFollowedNorVisited)
{
    // Made by the test run on the host side: a Unix symbolic link from deep
    // inside the tree back to its top, which Wine lists as a reparse point.
    const std::string root = "C:\\tavok-link-fixture";
    WIN32_FIND_DATAA entry;
    ASSERT_TRUE(FindHandle(FindFirstFileA((root + "\\top\\inner\\loop").c_str(), &entry)))
        << "fixture missing";
    ASSERT_EQ(entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
              DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));

    ScanHost host;
    Infection infection;
    RecordingWalker walker(&host.Context(), infection.Set());
    walker.examineFiles = true;
    host.Run([&](ScanContext&) { walker.ScanDirectory(Widen(root).c_str()); });
    // Wine lists a link to a file as a plain file, so that one is visited.
    std::vector<std::string> expected = {root + "\\top\\file-link", root + "\\top\\inner\\file"};
    std::sort(walker.diskPaths.begin(), walker.diskPaths.end());
    EXPECT_EQ(walker.diskPaths, expected);
}

TEST(DiskScan, OddNamesVanishingFilesAndOverlongPathsAreCounted)
{
    TempTree tree;
    Infection infection;
    const std::wstring wideRoot = Widen(tree.Root());
    // Deeper than 8-bit paths reach by long names, but not by short ones.
    std::vector<std::wstring> longNames;
    for (int i = 0; i < 5; ++i)
        longNames.push_back(std::wstring(70, static_cast<wchar_t>(L'a' + i)));
    // Deeper than any 8-bit path: names of eight letters are their own short names.
    std::vector<std::wstring> shortNames;
    for (int i = 0; i < 30; ++i)
        shortNames.push_back(L"level" + std::wstring(1, static_cast<wchar_t>(L'a' + i % 26)) + L"00");

    // Folders whose search patterns (the folder, a backslash and a star)
    // are 259 and 260 characters long: the one is listed by its own path,
    // the other only by its short name, or, where its name is its own short
    // name, on its parent's short path.
    const size_t atLimit = MAX_PATH - 1 - 2 - 1 - tree.Root().size();
    const std::vector<std::wstring> fits = {std::wstring(atLimit, L'f')};
    const std::vector<std::wstring> over = {std::wstring(atLimit + 1, L'o')};
    const std::vector<std::wstring> overShort = {std::wstring(atLimit - 8, L'p'), L"eightchr"};

    for (const bool windows95 : {false, true}) {
        SCOPED_TRACE(windows95 ? "Windows 95 family" : "NT family");
        tree.WriteFile("name with  spaces %s %n.exe", infection.bytes);
        tree.WriteFile(std::string(200, 'L') + ".exe", infection.bytes);
        tree.WriteFile("..dots..", 5, 1);
        const std::wstring fitting = PlantDeep(wideRoot, fits, infection.bytes);
        const std::wstring overlong = PlantDeep(wideRoot, over, infection.bytes);
        const std::wstring overShortly = PlantDeep(wideRoot, overShort, infection.bytes);
        // Beside that folder, two names of eight and three letters that
        // only its parent's short path brings within MAX_PATH.
        const std::wstring besideOverShortly = overShortly.substr(0, overShortly.rfind(L'\\'));
        WriteDeepFile(besideOverShortly + L"\\wormcopy.exe", infection.bytes);
        WriteDeepFile(besideOverShortly + L"\\wormcop2.exe", infection.bytes);
        const std::wstring longDeep = PlantDeep(wideRoot, longNames, infection.bytes);
        const std::wstring deepest = PlantDeep(wideRoot, shortNames, infection.bytes);

        ScanHost host;
        const ApiOverride family(windows95 ? Windows95Family : nullptr);
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        host.Run([&](ScanContext&) {
            walker.ScanDirectory(wideRoot.c_str());
            walker.OnFile(0, Widen(tree.Path("vanished.exe")).c_str(), MemAndFileWalker::UnknownSize);
        });
        // Every file listed, and the vanished one.
        EXPECT_EQ(walker.files, windows95 ? 10u : 11u);
        EXPECT_EQ(walker.infected, windows95 ? 8u : 9u);
        EXPECT_EQ(walker.deleted, walker.infected);
        EXPECT_EQ(host.Rows().size(), walker.infected);
        EXPECT_FALSE(FileExists(tree.Path("name with  spaces %s %n.exe")));
        EXPECT_EQ(GetFileAttributesW((fitting + L"\\deep.exe").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetFileAttributesW((overlong + L"\\deep.exe").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetFileAttributesW((overShortly + L"\\deep.exe").c_str()), INVALID_FILE_ATTRIBUTES);
        RemoveDeep(fitting, 1);
        RemoveDeep(overlong, 1);
        RemoveDeep(overShortly, 2);
        EXPECT_EQ(GetFileAttributesW((longDeep + L"\\deep.exe").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetFileAttributesW((deepest + L"\\deep.exe").c_str()) == INVALID_FILE_ATTRIBUTES, !windows95);
        RemoveDeep(longDeep, longNames.size());
        RemoveDeep(deepest, shortNames.size());
    }
}

namespace {

// The form of a path that the file functions take as it is.
std::string Exact(const std::string& path)
{
    return "\\\\?\\" + path;
}

}  // namespace

TEST(DiskScan, RunningOutOfMemoryEndsTheWalkAndNamesNoOtherFile)
{
    // A path that could not grow names no file: never its folder or a part
    // of the name, which a partial append would leave.
    TempTree tree;
    Infection infection;
    for (int i = 0; i < 12; ++i)
        tree.WriteFile("d" + std::to_string(i % 3) + "\\e" + std::to_string(i % 2) + "\\file" + std::to_string(i) + ".exe",
                       infection.bytes.size(), i);
    const std::wstring root = Widen(tree.Root());
    for (const bool windows95 : {false, true}) {
        SCOPED_TRACE(windows95 ? "Windows 95 family" : "NT family");
        const ApiOverride family(windows95 ? Windows95Family : nullptr);
        ScanHost host;
        std::vector<std::wstring> files;
        {
            RecordingWalker walker(&host.Context(), infection.Set());
            host.Run([&](ScanContext&) { walker.ScanDirectory(root.c_str()); });
            files = walker.wideDiskPaths;
        }
        ASSERT_EQ(files.size(), 12u);
        bool refused = true;
        for (LONG allowed = 0; refused; ++allowed) {
            RecordingWalker walker(&host.Context(), infection.Set());
            walker.examineFiles = true;
            host.Run([&](ScanContext&) {
                const NoMemoryAfter noMemory(allowed);
                walker.ScanDirectory(root.c_str());
                refused = NoMemoryAfter::Refused();
            });
            for (const std::wstring& path : walker.wideDiskPaths)
                EXPECT_TRUE(path.empty() || std::find(files.begin(), files.end(), path) != files.end())
                    << allowed << ": " << AnsiFromWide(path.c_str()).c_str();
            EXPECT_EQ(walker.infected, 0u);
            ASSERT_LT(allowed, 5000);
        }
        EXPECT_EQ(CountFiles(tree.Root()), 12u);
    }
}

TEST(DiskScan, EvasiveNamesAreExaminedAsThemselvesOrLeftAlone)
{
    // Copies whose names path handling reads as another file (a trailing
    // space or dot is stripped) or as a device, each beside a clean file of
    // the same size. Wine makes them through \\?\ paths and lists them as
    // they are.
    TempTree tree;
    Infection infection;
    std::string clean = infection.bytes;
    clean[10] ^= 0x10;
    const SignatureEntry cleanRow = RowFor(clean);
    const std::vector<std::string> copies = {"a.exe ", "b.exe.", "nul.bin", "d.\\w.exe"};
    const std::vector<std::string> twins = {"a.exe", "b.exe", "con.bin", "d\\w.exe"};
    tree.MakeDir("d");
    ASSERT_TRUE(CreateDirectoryA(Exact(tree.Path("d.")).c_str(), nullptr));
    for (const auto& twin : twins)
        TempTree::WriteFileAt(Exact(tree.Path(twin)), clean);

    static std::vector<std::string> opened;
    for (const bool windows95 : {false, true}) {
        SCOPED_TRACE(windows95 ? "Windows 95 family" : "NT family");
        for (const auto& copy : copies)
            TempTree::WriteFileAt(Exact(tree.Path(copy)), infection.bytes);
        opened.clear();
        ScanHost host;
        const ApiOverride family(windows95 ? Windows95Family : nullptr);
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        walker.openFile = [](const RuntimeApi& api, const wchar_t* path) {
            opened.push_back(AnsiFromWide(path).c_str());
            return OpenForExamination(api, path);
        };
        const ScanReport report = host.Run([&](ScanContext&) { walker.ScanDirectory(Widen(tree.Root()).c_str()); });

        // The Windows 95 family knows no \\?\ paths: there only short names
        // serve, and nul.bin has none.
        std::vector<std::wstring> expectedRows;
        for (const auto& copy : copies) {
            const bool reached = !windows95 || copy != "nul.bin";
            EXPECT_EQ(FileExists(Exact(tree.Path(copy))), !reached) << copy;
            if (reached)
                expectedRows.push_back(Widen(tree.Path(copy)));
        }
        std::vector<std::wstring> rows;
        for (const auto& row : report.rows) {
            rows.push_back(row.path);
            EXPECT_EQ(row.outcome, L"Deleted");
        }
        std::sort(rows.begin(), rows.end());
        std::sort(expectedRows.begin(), expectedRows.end());
        EXPECT_EQ(rows, expectedRows);
        // nul.bin and its twin are counted there, and among those not examined.
        EXPECT_EQ(walker.files, 8u);
        EXPECT_EQ(walker.unexamined, windows95 ? 2u : 0u);
        for (const auto& twin : twins)
            EXPECT_EQ(MatchFile(Widen(Exact(tree.Path(twin))).c_str(), {&cleanRow, 1}), 1) << twin;
        for (const auto& path : opened)
            EXPECT_TRUE(!windows95 || path.rfind("\\\\?\\", 0) != 0) << path;
    }
}

namespace {

// What Wine cannot show of an NT volume, put into its real listings by name:
// reparse tags, online-only attributes, and no short names at all.
void Disguise(WIN32_FIND_DATAW* entry)
{
    static const struct {
        const wchar_t* name;
        DWORD tag;
        bool attribute;
    } tags[] = {
        {L"dedup.exe", 0x80000013, true},          // IO_REPARSE_TAG_DEDUP
        {L"compact.exe", 0x80000017, true},        // IO_REPARSE_TAG_WOF
        {L"cloud.exe", 0x9000001A, true},          // IO_REPARSE_TAG_CLOUD
        {L"no-attribute.exe", 0xA000000C, false},  // a tag means nothing without the attribute
        {L"symlink.exe", 0xA000000C, true},        // IO_REPARSE_TAG_SYMLINK, a name surrogate
        {L"mount", 0xA0000003, true},              // IO_REPARSE_TAG_MOUNT_POINT, a name surrogate
        {L"OneDrive", 0x9000701A, true},           // OneDrive's folder, as fsutil shows it
        {L"on-tape.exe", 0xC0000004, true},        // IO_REPARSE_TAG_HSM, a file moved to tape
    };
    for (const auto& t : tags) {
        if (lstrcmpiW(entry->cFileName, t.name) == 0) {
            if (t.attribute)
                entry->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            entry->dwReserved0 = t.tag;
        }
    }
    // Content elsewhere, each recall attribute alone and offline with reparse
    // data; offline alone and every other bit say nothing of where it is.
    static const struct {
        const wchar_t* name;
        DWORD attributes;
    } placed[] = {
        {L"online-only.exe", 0x00400000},     // FILE_ATTRIBUTE_RECALL_ON_DATA_ACCESS
        {L"recall-on-open.exe", 0x00040000},  // FILE_ATTRIBUTE_RECALL_ON_OPEN
        {L"on-tape.exe", FILE_ATTRIBUTE_OFFLINE},  // with its storage tag above
        // Any program may set it; without reparse data the content is here.
        {L"offline.exe", FILE_ATTRIBUTE_OFFLINE},
        {L"encrypted.exe", ~DWORD(0x00400000 | 0x00040000 | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_DIRECTORY |
                                  FILE_ATTRIBUTE_REPARSE_POINT)},
    };
    for (const auto& p : placed) {
        if (lstrcmpiW(entry->cFileName, p.name) == 0)
            entry->dwFileAttributes |= p.attributes;
    }
    // A volume made with short-name creation off.
    entry->cAlternateFileName[0] = L'\0';
}

HANDLE WINAPI FindFirstDisguised(LPCWSTR pattern, LPWIN32_FIND_DATAW entry)
{
    const HANDLE find = ::FindFirstFileW(pattern, entry);
    if (find != INVALID_HANDLE_VALUE)
        Disguise(entry);
    return find;
}

// A system before Windows 7 refuses the basic info level and large fetches.
bool refuseBasicInfo = false;
int basicListings = 0;

HANDLE WINAPI FindFirstExDisguised(LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID entry,
                                   FINDEX_SEARCH_OPS search, LPVOID filter, DWORD flags)
{
    ++basicListings;
    if (refuseBasicInfo) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE find = ::FindFirstFileExW(pattern, level, entry, search, filter, flags);
    if (find != INVALID_HANDLE_VALUE)
        Disguise(static_cast<WIN32_FIND_DATAW*>(entry));
    return find;
}

BOOL WINAPI FindNextDisguised(HANDLE find, LPWIN32_FIND_DATAW entry)
{
    if (!::FindNextFileW(find, entry))
        return FALSE;
    Disguise(entry);
    return TRUE;
}

// On the NT family the 8-bit find functions fail as soon as a name or short
// name overflows their fields; the walk must not need them at all.
HANDLE WINAPI FindFirstOverflowing(LPCSTR, LPWIN32_FIND_DATAA)
{
    SetLastError(ERROR_MORE_DATA);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI FindNextOverflowing(HANDLE, LPWIN32_FIND_DATAA)
{
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
}

void DisguisedListing(RuntimeApi& api)
{
    api.FindFirstFileW = FindFirstDisguised;
    if (api.FindFirstFileExW)
        api.FindFirstFileExW = FindFirstExDisguised;
    api.FindNextFileW = FindNextDisguised;
    api.FindFirstFileA = FindFirstOverflowing;
    api.FindNextFileA = FindNextOverflowing;
}

}  // namespace

TEST(DiskScan, TheNtListingReachesEveryNameAndOpensOnlyContentOnTheDisk)
{
    TempTree tree;
    Infection infection;
    // Reparse data that holds the file's own content, a cloud folder, and a
    // folder no code page spells on a volume without short names.
    const std::vector<std::string> examined = {"dedup.exe", "compact.exe", "cloud.exe", "no-attribute.exe",
                                               "offline.exe", "OneDrive\\Desktop\\worm.exe", "encrypted.exe"};
    const std::vector<std::string> leftAlone = {"symlink.exe", "mount\\worm.exe"};
    for (const auto& name : leftAlone)
        tree.WriteFile(name, infection.bytes);
    // Worm-sized, but their content is in the cloud or on tape: counted,
    // never opened.
    const std::vector<std::string> elsewhere = {"online-only.exe", "recall-on-open.exe", "on-tape.exe"};
    for (const auto& name : elsewhere)
        tree.WriteFile(name, infection.bytes);
    const std::wstring unspellable = Widen(tree.Root()) + L"\\\u6837\u672C\U0001F600";
    ASSERT_TRUE(CreateDirectoryW(unspellable.c_str(), nullptr));
    const std::wstring unspellableCopy = unspellable + L"\\worm.exe";
    std::vector<std::wstring> expected = {unspellableCopy};
    for (const auto& name : examined)
        expected.push_back(Widen(tree.Path(name)));
    std::sort(expected.begin(), expected.end());

    static std::vector<std::wstring> opened;
    const ApiOverride fake(DisguisedListing);
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "basic info refused" : "basic info");
        for (const auto& name : examined)
            tree.WriteFile(name, infection.bytes);
        HANDLE file = CreateFileW(unspellableCopy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, infection.bytes.data(), static_cast<DWORD>(infection.bytes.size()), &written, nullptr);
        CloseHandle(file);
        opened.clear();
        refuseBasicInfo = refuse;
        basicListings = 0;

        ScanHost host;
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        walker.openFile = [](const RuntimeApi& api, const wchar_t* path) {
            opened.push_back(PlainPath(path));
            return OpenForExamination(api, path);
        };
        const ScanReport report =
            host.Run([&](ScanContext&) { walker.ScanDirectory(Widen(tree.Root()).c_str()); });

        for (const auto& name : examined)
            EXPECT_FALSE(FileExists(tree.Path(name))) << name;
        EXPECT_EQ(GetFileAttributesW(unspellableCopy.c_str()), INVALID_FILE_ATTRIBUTES);
        for (const auto& name : leftAlone)
            EXPECT_TRUE(FileExists(tree.Path(name))) << name;
        for (const auto& name : elsewhere)
            EXPECT_TRUE(FileExists(tree.Path(name))) << name;
        std::vector<std::wstring> opens = opened;
        std::sort(opens.begin(), opens.end());
        EXPECT_EQ(opens, expected);
        // Every file listed but the name surrogates is counted, and those
        // whose content is elsewhere, of a worm's size, as not examined.
        EXPECT_EQ(walker.files, expected.size() + elsewhere.size());
        EXPECT_EQ(walker.unexamined, elsewhere.size());
        // The row shows the name as the file system holds it.
        std::vector<std::wstring> rows;
        for (const auto& row : report.rows)
            rows.push_back(row.path);
        std::sort(rows.begin(), rows.end());
        EXPECT_EQ(rows, expected);
        // Windows 7's listing for each of the four folders, and no more once refused.
        EXPECT_EQ(basicListings, refuse ? 1 : 4);
    }
    // The tree's own clean-up lists with the 8-bit functions.
    RemoveDirectoryW(unspellable.c_str());
}

TEST(DiskScan, DrivesFromCToZAreSteppedAndUsbVolumesSkipped)
{
    TempTree tree;  // on C:
    Infection infection;
    const std::string worm = tree.WriteFile("drive-walk\\worm.exe", infection.bytes);
    ScanHost host;

    // Every volume on USB: 24 steps, nothing walked. The bar starts over
    // from where a memory pass of 60 processes left it and ends full.
    {
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        walker.isUsbVolume = [](char) { return true; };
        int position = -1;
        ScanReport report = host.Run([&](ScanContext& context) {
            context.SetProgressRange(0, 60);
            context.SetProgressPos(60);
            walker.ScanDrives();
            position = static_cast<int>(SendMessageA(host.progressBar, PBM_GETPOS, 0, 0));
        });
        EXPECT_TRUE(walker.diskPaths.empty());
        ASSERT_GE(report.progress.size(), 5u);
        EXPECT_EQ(report.progress[2].message, UINT(PBM_SETRANGE));
        EXPECT_EQ(report.progress[2].lParam, MAKELPARAM(0, 24));
        EXPECT_EQ(report.progress[3].message, UINT(PBM_SETPOS));
        EXPECT_EQ(report.progress[3].wParam, 0u);
        EXPECT_EQ(report.progress[4].message, UINT(PBM_SETSTEP));
        EXPECT_EQ(report.progress[4].wParam, 1u);
        size_t steps = 0;
        for (const auto& m : report.progress)
            steps += m.message == PBM_STEPIT;
        EXPECT_EQ(steps, 24u);
        EXPECT_EQ(position, 24);
        EXPECT_TRUE(FileExists(worm));
    }
    // Only C: on USB: the others (absent here) are tried, C: is not walked.
    {
        static std::string asked;
        asked.clear();
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        walker.isUsbVolume = [](char letter) { asked += letter; return letter == 'C'; };
        host.Run([&](ScanContext&) { walker.ScanDrives(); });
        EXPECT_EQ(asked, "CDEFGHIJKLMNOPQRSTUVWXYZ");
        EXPECT_TRUE(walker.diskPaths.empty());
        EXPECT_TRUE(FileExists(worm));
    }
    // The real bus query: the prefix's C: is no USB volume, so it is walked.
    {
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        host.Run([&](ScanContext&) { walker.ScanDrives(); });
        EXPECT_EQ(walker.infected, 1u);
        EXPECT_FALSE(FileExists(worm));
        EXPECT_GT(walker.diskPaths.size(), 100u);
    }
}

TEST(DiskScan, StopBetweenDriveLettersEndsThePassBeforeTheNextBusQuery)
{
    static std::string asked;
    static ScanContext* stopping;
    asked.clear();
    ScanHost host;
    stopping = &host.Context();
    RecordingWalker walker(&host.Context(), ProductSignatures);
    walker.isUsbVolume = [](char letter) {
        asked += letter;
        if (letter == 'E')
            stopping->RequestStop();
        return true;
    };
    host.Run([&](ScanContext&) { walker.ScanDrives(); });
    EXPECT_EQ(asked, "CDE");
}

TEST(DiskScan, StopBeforeTheScanSkipsBothPassesAndStillSummarises)
{
    ScanHost host;
    RecordingWalker walker(&host.Context(), ProductSignatures);
    walker.examineFiles = true;
    host.Context().RequestStop();
    ScanReport report = host.Run([&](ScanContext&) { walker.RunScan(); });
    EXPECT_TRUE(walker.diskPaths.empty());
    EXPECT_TRUE(walker.memoryPaths.empty());
    EXPECT_TRUE(report.summaryShown);
    EXPECT_EQ(report.summaryText, L"Complete!\nFiles: 0\nInfected: 0\nKill failed: 0\n");
    ASSERT_EQ(report.progress.size(), 1u);
    EXPECT_EQ(report.progress[0].message, UINT(PBM_SETPOS));
}

namespace {

struct Expected {
    std::wstring deleted;
    std::wstring delayed;
    std::wstring format;  // %u for the three counts
    std::wstring caption;
    std::wstring killFailed;
    // The summary's added lines, without their line breaks.
    std::wstring noPsapi;
    std::wstring runAsAdministrator;
    std::wstring notExamined;  // %u for the count
};

Expected ExpectedForLocale()
{
    const std::string locale = std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "";
    if (locale.rfind("zh_CN", 0) == 0)
        return {L"删除成功", L"重启后删除", L"扫描完毕！\n扫描文件：%u\n发现病毒：%u\n清除失败：%u\n", L"提示",
                L"清除失败", L"无法扫描内存：系统文件夹中缺少 psapi.dll。",
                L"拒绝访问：请以管理员身份运行本程序，然后重新扫描。",
                L"未能检查：%u 个与病毒大小相同的文件无法读取。请关闭其他程序，以管理员身份运行本程序，然后重新扫描。"};
    Expected english = {L"Deleted", L"Delay Delete", L"Complete!\nFiles: %u\nInfected: %u\nKill failed: %u\n",
                        L"Message", L"Kill Failed",
                        L"Memory could not be scanned: psapi.dll is missing from the system folder.",
                        L"Access denied: run this program as an administrator and scan again.",
                        L"Files of a worm's size not examined, as they could not be read: %u. Close other programs, "
                        L"run this program as an administrator and scan again."};
    // Only the added lines are translated there.
    if (locale.rfind("zh_TW", 0) == 0) {
        english.noPsapi = L"無法掃描記憶體：系統資料夾中缺少 psapi.dll。";
        english.runAsAdministrator = L"存取被拒：請以系統管理員身分執行本程式，然後重新掃描。";
        english.notExamined = L"未能檢查：%u 個與病毒大小相同的檔案無法讀取。請關閉其他程式，以系統管理員身分執行本程式，然後重新掃描。";
    } else if (locale.rfind("ja_JP", 0) == 0) {
        english.noPsapi = L"メモリをスキャンできませんでした：システム フォルダーに psapi.dll がありません。";
        english.runAsAdministrator = L"アクセスが拒否されました：管理者として実行し、もう一度スキャンしてください。";
        english.notExamined = L"検査できませんでした：ウイルスと同じサイズのファイル %u 個を読み取れませんでした。ほかのプログラムを閉じ、管理者として実行し、もう一度スキャンしてください。";
    }
    return english;
}

// The summary with its counts and the lines added after them.
std::wstring SummaryText(const Expected& expected, UINT files, UINT infected, UINT notRemoved,
                         const std::vector<std::wstring>& lines = {})
{
    wchar_t text[512];
    swprintf(text, 512, expected.format.c_str(), files, infected, notRemoved);
    std::wstring summary = text;
    for (const auto& line : lines)
        summary += line + L"\n";
    return summary;
}

}  // namespace

namespace {

// A whole scan over a loose copy and a copy that this process holds, whose
// deletion fails; registering it for the restart may be refused too.
struct HeldCopyScan {
    ScanReport report;
    UINT files = 0;
    size_t visited = 0;
    size_t memoryVisits = 0;
    size_t heldVisits = 0;
    std::string held;
    bool heldRemains = false;
    HWND hostWindow = nullptr;
};

enum class Hold {
    Open,         // held open without delete sharing: ERROR_SHARING_VIOLATION
    Loaded,       // a DLL this process runs, met by both passes: ERROR_ACCESS_DENIED
    LoadedTwice,  // the same, and a child process runs it too
    Locked        // held open without read sharing: not examined
};

// A child process that holds the DLL loaded until the event is set.
struct ChildHolder {
    KernelHandle process;
    KernelHandle release{CreateEventA(nullptr, TRUE, FALSE, "TavokProbeRelease")};

    bool Start(const std::string& dll)
    {
        char system[MAX_PATH] = {};
        GetSystemDirectoryA(system, MAX_PATH);
        std::string command = "\"" + std::string(system) + "\\rundll32.exe\" \"" + dll + "\",TavokProbeHold";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return false;
        CloseHandle(info.hThread);
        process.Reset(info.hProcess);
        // Loaded once the process waits for the event.
        for (int i = 0; i < 100 && !Holds(info.dwProcessId, dll); ++i)
            Sleep(50);
        return Holds(info.dwProcessId, dll);
    }
    static bool Holds(DWORD processId, const std::string& dll)
    {
        SnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, processId));
        MODULEENTRY32 module = {};
        module.dwSize = sizeof module;
        for (BOOL more = snapshot && Module32First(snapshot.Get(), &module); more;
             more = Module32Next(snapshot.Get(), &module)) {
            if (lstrcmpiA(module.szExePath, dll.c_str()) == 0)
                return true;
        }
        return false;
    }
    ~ChildHolder()
    {
        if (process) {
            SetEvent(release.Get());
            if (WaitForSingleObject(process.Get(), 10000) != WAIT_OBJECT_0)
                TerminateProcess(process.Get(), 1);
        }
    }
};

HeldCopyScan ScanLooseAndHeldCopies(void (*standIn)(RuntimeApi&), Hold hold = Hold::Open)
{
    TempTree tree;
    Infection infection;
    tree.WriteFile("summary\\worm.exe", infection.bytes);
    HeldCopyScan scan;
    HANDLE holder = INVALID_HANDLE_VALUE;
    HMODULE module = nullptr;
    ChildHolder child;
    if (hold == Hold::Open || hold == Hold::Locked) {
        scan.held = tree.WriteFile("summary\\held.exe", infection.larger);
        holder = CreateFileA(scan.held.c_str(), GENERIC_READ, hold == Hold::Open ? FILE_SHARE_READ : 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(holder, INVALID_HANDLE_VALUE);
    } else {
        // Bytes after the image make this copy's digest its own.
        const std::string dll = ProbeDllBytes() + UniqueBytes(64);
        infection.rows.push_back(RowFor(dll));
        scan.held = tree.WriteFile("summary\\held.dll", dll);
        module = LoadLibraryA(scan.held.c_str());
        EXPECT_NE(module, nullptr);
        if (hold == Hold::LoadedTwice) {
            EXPECT_TRUE(child.Start(scan.held));
        }
    }

    {
        // In place before the walker takes its table.
        const ApiOverride fake(standIn);
        ScanHost host;
        host.Context().language = SystemLanguageIndex();
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        walker.lastDrive = 'C';
        scan.report = host.Run([&](ScanContext&) { walker.RunScan(); });
        scan.hostWindow = host.window;
        scan.files = walker.files;
        scan.visited = walker.memoryPaths.size() + walker.diskPaths.size();
        scan.memoryVisits = walker.memoryPaths.size();
        scan.heldVisits = static_cast<size_t>(std::count(walker.memoryPaths.begin(), walker.memoryPaths.end(), scan.held) +
                                              std::count(walker.diskPaths.begin(), walker.diskPaths.end(), scan.held));
        // The bar and the line are reset before the dialog is told.
        EXPECT_EQ(SendMessageA(host.progressBar, PBM_GETPOS, 0, 0), 0);
        EXPECT_EQ(WindowTextW(host.statusLine), L"");
    }
    if (holder != INVALID_HANDLE_VALUE)
        CloseHandle(holder);
    if (module)
        FreeLibrary(module);
    scan.heldRemains = FileExists(scan.held);
    return scan;
}

}  // namespace

namespace {

// Every folder as one that no user can change: the held copy, which cannot
// be moved, is registered by its path, as on a system folder.
void EveryFolderTrusted(RuntimeApi& api)
{
    trustedFolders = {L""};
    api.NtQuerySecurityObject = TrustedFoldersSecurity;
}

}  // namespace

TEST(DiskScanLocalized, WholeScanRowsAndSummaryInTheSystemLanguage)
{
    const HeldCopyScan scan = ScanLooseAndHeldCopies(EveryFolderTrusted);
    const ScanReport& report = scan.report;
    const Expected expected = ExpectedForLocale();
    ASSERT_TRUE(report.summaryShown);
    EXPECT_TRUE(report.summaryAfterScanDone);
    EXPECT_EQ(report.summaryOwner, scan.hostWindow);
    EXPECT_EQ(report.summaryText, SummaryText(expected, scan.files, 2, 1));
    EXPECT_EQ(report.summaryCaption, expected.caption);
    EXPECT_EQ(scan.files, scan.visited);

    ASSERT_EQ(report.rows.size(), 2u);
    for (const auto& row : report.rows) {
        EXPECT_EQ(row.name, L"Worm.Win32.Tavok");
        EXPECT_EQ(row.outcome, row.path == Widen(scan.held) ? expected.delayed : expected.deleted);
    }
    EXPECT_EQ(report.scanDoneMessages, 1);

    // A module that two processes run is one file: one row, counted once.
    // Wine's folders are the user's, so it stays where it is ("Kill Failed")
    // and the disk pass meets it under the same name too.
    const HeldCopyScan twice = ScanLooseAndHeldCopies(nullptr, Hold::LoadedTwice);
    EXPECT_GE(twice.heldVisits, 3u);
    EXPECT_EQ(twice.report.rows.size(), 2u);
    EXPECT_EQ(std::count_if(twice.report.rows.begin(), twice.report.rows.end(),
                            [&](const ResultRow& row) { return row.path == Widen(twice.held); }), 1);
    EXPECT_EQ(twice.report.summaryText, SummaryText(expected, twice.files, 2, 1));

    // Held without read sharing: not examined, and the summary says so.
    const HeldCopyScan locked = ScanLooseAndHeldCopies(nullptr, Hold::Locked);
    ASSERT_EQ(locked.report.rows.size(), 1u);
    wchar_t line[512];
    swprintf(line, 512, expected.notExamined.c_str(), 1u);
    EXPECT_EQ(locked.report.summaryText, SummaryText(expected, locked.files, 1, 0, {line}));
    EXPECT_TRUE(locked.heldRemains);
}

TEST(DiskScanLocalized, AFileThatCanNeitherBeDeletedNorScheduledIsReportedKillFailed)
{
    const HeldCopyScan scan = ScanLooseAndHeldCopies(NoRestartDeletion);
    const Expected expected = ExpectedForLocale();
    ASSERT_EQ(scan.report.rows.size(), 2u);
    for (const auto& row : scan.report.rows)
        EXPECT_EQ(row.outcome, row.path == Widen(scan.held) ? expected.killFailed : expected.deleted);
    EXPECT_TRUE(scan.heldRemains);
    // Refused for lack of rights, but Wine's token is an elevated administrator's.
    EXPECT_EQ(scan.report.summaryText, SummaryText(expected, scan.files, 2, 1));
}

namespace {

DWORD WINAPI Nt4Version()
{
    return 0x05650004;
}

void NoPsapiOnNt4(RuntimeApi& api)
{
    api.GetVersion = Nt4Version;
    api.EnumProcessModules = nullptr;
    api.EnumProcesses = nullptr;
    api.GetModuleFileNameExW = nullptr;
    api.GetModuleInformation = nullptr;
}

}  // namespace

TEST(DiskScanLocalized, OnNt4WithoutPsapiTheStatusLineAndTheSummarySayWhyMemoryWasNotScanned)
{
    const HeldCopyScan scan = ScanLooseAndHeldCopies(NoPsapiOnNt4);
    const Expected expected = ExpectedForLocale();
    EXPECT_EQ(scan.memoryVisits, 0u);
    ASSERT_EQ(scan.report.rows.size(), 2u);
    ASSERT_FALSE(scan.report.statusTexts.empty());
    EXPECT_EQ(Widen(scan.report.statusTexts[0]), expected.noPsapi);
    EXPECT_EQ(scan.report.summaryText, SummaryText(expected, scan.files, 2, 1, {expected.noPsapi}));
}

namespace {

// A Windows of the test's choosing: its version, what it says of the
// process token, and how it refuses the registration for the restart.
struct StandInSystem {
    DWORD version;
    BOOL elevated;
    DWORD administrators;  // the group's attributes in the token; 0: not in it
    DWORD restartError;
    UINT drive = DRIVE_FIXED;
    // What NTFS says of itself, named streams among it.
    DWORD volumeFlags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK |
                        FILE_PERSISTENT_ACLS | FILE_FILE_COMPRESSION | FILE_NAMED_STREAMS | FILE_SUPPORTS_REPARSE_POINTS;
};
StandInSystem standIn;

BOOL WINAPI StandInVolumeInformation(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR, DWORD)
{
    if (flags)
        *flags = standIn.volumeFlags;
    return TRUE;
}

UINT WINAPI StandInDriveType(LPCSTR)
{
    return standIn.drive;
}

DWORD WINAPI StandInVersion()
{
    return standIn.version;
}

BOOL WINAPI RefuseRestartDeletionWith(LPCWSTR, LPCWSTR, DWORD)
{
    SetLastError(standIn.restartError);
    return FALSE;
}

const unsigned char EveryoneSid[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
const unsigned char UsersSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x21, 0x02, 0, 0};
const unsigned char AdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 0x20, 0, 0, 0, 0x20, 0x02, 0, 0};

// The group list as the system lays it out: the SIDs follow the array. Users
// differs from Administrators in its last byte alone.
BOOL WINAPI StandInTokenInformation(HANDLE, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD bytes,
                                    PDWORD returned)
{
    if (infoClass == TokenElevation && HasElevation(standIn.version)) {
        *returned = sizeof(TOKEN_ELEVATION);
        if (bytes < sizeof(TOKEN_ELEVATION)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = standIn.elevated;
        return TRUE;
    }
    if (infoClass != TokenGroups) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    constexpr DWORD Enabled = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
    std::vector<std::pair<const unsigned char*, DWORD>> groups = {{EveryoneSid, Enabled}};
    groups.emplace_back(UsersSid, Enabled);
    if (standIn.administrators)
        groups.emplace_back(AdministratorsSid, standIn.administrators);
    const size_t array = offsetof(TOKEN_GROUPS, Groups) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
    size_t size = array;
    for (const auto& group : groups)
        size += group.first[1] * 4 + 8;
    *returned = static_cast<DWORD>(size);
    if (bytes < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* list = static_cast<TOKEN_GROUPS*>(info);
    list->GroupCount = static_cast<DWORD>(groups.size());
    unsigned char* sid = static_cast<unsigned char*>(info) + array;
    for (size_t i = 0; i < groups.size(); ++i) {
        const size_t length = groups[i].first[1] * 4 + 8;
        std::memcpy(sid, groups[i].first, length);
        list->Groups[i].Sid = sid;
        list->Groups[i].Attributes = groups[i].second;
        sid += length;
    }
    return TRUE;
}

// A share that grants Change but not Full Control refuses the ACL rights.
bool aclRightsRefused = false;

HANDLE WINAPI RefuseAclRights(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templateFile)
{
    if (aclRightsRefused && (access & (WRITE_DAC | WRITE_OWNER))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
}

void StandInWindows(RuntimeApi& api)
{
    api.GetVersion = StandInVersion;
    api.CreateFileW = RefuseAclRights;
    api.GetTokenInformation = StandInTokenInformation;
    api.MoveFileExW = RefuseRestartDeletionWith;
    api.GetWindowsDirectoryA = TestWindowsFolder;
    api.GetDriveTypeA = StandInDriveType;
    api.GetVolumeInformationW = StandInVolumeInformation;
    // What is judged here is the registration's refusal, not the folders.
    trustedFolders = {L""};
    api.NtQuerySecurityObject = TrustedFoldersSecurity;
}

}  // namespace

TEST(DiskScanLocalized, ARemovalRefusedForLackOfRightsAsksToRunAsAdministrator)
{
    // The Windows 95 family's registration fails too: its WININIT.INI is a
    // folder, which no file opens.
    TempTree windows;
    windowsFolder = windows.MakeDir("windows");
    windows.MakeDir("windows\\WININIT.INI");

    constexpr DWORD Vista = 0x17720006;
    constexpr DWORD Xp = 0x0A280105;
    constexpr DWORD Nt4 = 0x05650004;
    constexpr DWORD Windows98 = 0xC0000A04;
    constexpr DWORD Member = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
    const struct {
        const char* what;
        StandInSystem system;
        Hold hold;
        bool asked;
        bool aclRefused = false;
    } cases[] = {
        // On Vista the group list says the opposite: only the elevation decides.
        {"Vista, not elevated", {Vista, FALSE, Member, ERROR_ACCESS_DENIED}, Hold::Open, true},
        {"Vista, elevated", {Vista, TRUE, 0, ERROR_ACCESS_DENIED}, Hold::Open, false},
        {"Vista, refused for another reason", {Vista, FALSE, 0, ERROR_WRITE_PROTECT}, Hold::Open, false},
        {"Vista, a running copy's deletion denied", {Vista, FALSE, 0, ERROR_WRITE_PROTECT}, Hold::Loaded, true},
        // No rights make a CD writable.
        {"Vista, a running copy on a CD", {Vista, FALSE, 0, ERROR_WRITE_PROTECT, DRIVE_CDROM}, Hold::Loaded, false},
        {"Vista, a running copy on a read-only volume",
         {Vista, FALSE, 0, ERROR_WRITE_PROTECT, DRIVE_FIXED, FILE_READ_ONLY_VOLUME | FILE_CASE_PRESERVED_NAMES},
         Hold::Loaded, false},
        {"NT 4.0, no administrator", {Nt4, FALSE, 0, ERROR_ACCESS_DENIED}, Hold::Open, true},
        {"XP, an administrator", {Xp, FALSE, Member, ERROR_ACCESS_DENIED}, Hold::Open, false},
        {"XP, a share refusing the ACL rights", {Xp, FALSE, Member, ERROR_ACCESS_DENIED}, Hold::Open, false, true},
        {"XP, administrators for denying only", {Xp, FALSE, SE_GROUP_USE_FOR_DENY_ONLY, ERROR_ACCESS_DENIED},
         Hold::Open, true},
        {"Windows 98", {Windows98, FALSE, 0, ERROR_ACCESS_DENIED}, Hold::Open, false},
    };
    const Expected expected = ExpectedForLocale();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        standIn = c.system;
        aclRightsRefused = c.aclRefused;
        const HeldCopyScan scan = ScanLooseAndHeldCopies(StandInWindows, c.hold);
        // A running copy is met by both passes, and is one file.
        const UINT failed = 1;
        ASSERT_EQ(scan.report.rows.size(), 1u + failed);
        for (const auto& row : scan.report.rows)
            EXPECT_EQ(row.outcome, row.path == Widen(scan.held) ? expected.killFailed : expected.deleted);
        std::vector<std::wstring> lines;
        if (c.asked)
            lines.push_back(expected.runAsAdministrator);
        EXPECT_EQ(scan.report.summaryText, SummaryText(expected, scan.files, 1 + failed, failed, lines));
    }
}

TEST(DiskScanLocalized, FoldersOfNamesNoCodePageSpellsAreWalked)
{
    // Made by the test run on the host side, one tree per build and locale: five
    // folders (see make-name-fixture.sh), each with a planted copy and a
    // clean file, and a file whose name and short name both hold a backslash.
    const std::string locale = std::getenv("LC_ALL") ? std::getenv("LC_ALL") : "";
    const std::string build = sizeof(void*) == 8 ? "x86_64" : "i686";
    const std::string root = "C:\\tavok-name-fixture\\" + build + "\\" + locale.substr(0, locale.find('.'));
    ASSERT_TRUE(FileExists(root + "\\plain\\worm.exe")) << "fixture missing";
    const SignatureEntry planted = RowFor("tavok-name-fixture worm\n");

    ScanHost host;
    host.Context().language = SystemLanguageIndex();
    RecordingWalker walker(&host.Context(), {&planted, 1});
    walker.examineFiles = true;
    ScanReport report = host.Run([&](ScanContext&) { walker.ScanDirectory(Widen(root).c_str()); });

    // The file no path reaches is counted too.
    EXPECT_EQ(walker.files, 11u);
    EXPECT_EQ(walker.infected, 5u);
    EXPECT_EQ(walker.deleted, 5u);
    ASSERT_EQ(report.rows.size(), 5u);
    std::vector<std::wstring> rows;
    for (const auto& row : report.rows) {
        EXPECT_EQ(row.outcome, ExpectedForLocale().deleted);
        rows.push_back(row.path);
    }
    // The rows show the names as the file system holds them, those no code
    // page spells and those with a backslash in their 8-bit form included.
    const std::wstring names[] = {L"\u6837\u672C\U0001F600", L"\u8AA0\u8868\u8A31", L"long\\" + std::wstring(70, L'a')};
    for (const std::wstring& name : names) {
        const std::wstring copy = Widen(root) + L"\\" + name + L"\\";
        EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [&](const std::wstring& row) { return row.rfind(copy, 0) == 0; }))
            << AnsiFromWide(name.c_str()).c_str();
    }
}

TEST(DiskScanLocalized, OnTheWindows95FamilyNamesAreWalkedAndShownInTheAnsiCodePage)
{
    // Folders and copies with é and Chinese letters, and one name no code
    // page spells. The 8-bit listing gives a name as it is where the
    // system's code page spells it, else with a '?' for each letter it
    // cannot spell: such an entry is reached, and shown, by its short name.
    TempTree tree;
    Infection infection;
    // The walk starts in a folder named with é where the code page spells it.
    std::wstring root = Widen(tree.Root());
    BOOL noE = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, L"\u00E9", -1, nullptr, 0, nullptr, &noE);
    if (!noE) {
        root += L"\\d\u00E9part";
        ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
    }
    const std::vector<std::vector<std::wstring>> copies = {
        {L"caf\u00E9", L"caf\u00E9.exe"},
        {L"\u6837\u672C", L"\u6587\u4EF6.exe"},
        {L"\u6837\u672C\U0001F600", L"worm.exe"},
    };
    std::vector<std::wstring> expected;
    for (const auto& parts : copies) {
        std::wstring path = L"\\\\?\\" + root, shown = root;
        bool lookAlike = false;
        for (size_t i = 0; i < parts.size(); ++i) {
            path += L"\\" + parts[i];
            if (i + 1 < parts.size()) {
                ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError();
            } else {
                HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
                ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
                DWORD written = 0;
                WriteFile(file, infection.bytes.data(), static_cast<DWORD>(infection.bytes.size()), &written,
                          nullptr);
                CloseHandle(file);
            }
            BOOL lost = FALSE, replaced = FALSE;
            WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, parts[i].c_str(), -1, nullptr, 0, nullptr, &lost);
            WideCharToMultiByte(CP_ACP, 0, parts[i].c_str(), -1, nullptr, 0, nullptr, &replaced);
            lookAlike = lookAlike || (lost && !replaced);
            wchar_t shortPath[1024] = {};
            GetShortPathNameW(path.c_str(), shortPath, 1024);
            shown += L"\\" + (lost ? std::wstring(std::wcsrchr(shortPath, L'\\') + 1) : parts[i]);
        }
        // Where the code page has only a look-alike (é in 950 and 932), the
        // 8-bit listing gives the look-alike ("cafe"), the name of another
        // file or none: such a name is not reached.
        if (!lookAlike)
            expected.push_back(shown);
    }

    const ApiOverride family(Windows95Family);
    ScanHost host;
    host.Context().language = SystemLanguageIndex();
    RecordingWalker walker(&host.Context(), infection.Set());
    walker.examineFiles = true;
    const ScanReport report = host.Run([&](ScanContext&) { walker.ScanDirectory(root.c_str()); });

    std::vector<std::wstring> rows;
    for (const auto& row : report.rows) {
        rows.push_back(row.path);
        EXPECT_EQ(row.outcome, ExpectedForLocale().deleted);
    }
    std::sort(rows.begin(), rows.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(walker.deleted, expected.size());
    // The tree's own clean-up lists with the 8-bit functions.
    for (auto& parts : copies) {
        const std::wstring folder = L"\\\\?\\" + root + L"\\" + parts[0];
        DeleteFileW((folder + L"\\" + parts[1]).c_str());
        RemoveDirectoryW(folder.c_str());
    }
    RemoveDirectoryW(root.c_str());
}

namespace {

// What the table says of the program's own folder and of the volume.
enum class OwnFolder {
    Trusted,       // made by the program, owned by Administrators
    UsersOwn,      // as Wine answers for every folder: the user's
    ReparsePoint,  // trusted by its owner and ACL, but a link
    UsersGroup,    // the program's ACL, but owned by Users, who may change it
    UsersModify,   // owned by Administrators, but Users may rename or delete it
    Squatted,      // one of the usual name that a user made first; a fresh one trusted
    PlainRun,      // a run without an administrator's rights: no folder owned by Administrators can be made
    OpenRoot,      // trusted, but on a root whose folders users may rename (Everyone: Full Control)
};
OwnFolder ownFolderState = OwnFolder::Trusted;
bool fatVolume = false;

bool IsOwnFolder(HANDLE file)
{
    static const auto finalPath = ResolveFunction<GetFinalPathNameByHandleWFn>(GetModuleHandleA("kernel32.dll"),
                                                                               "GetFinalPathNameByHandleW");
    wchar_t path[1024] = {};
    const DWORD length = finalPath(file, path, 1024, 0);
    std::wstring lower(path, length < 1024 ? length : 0);
    for (auto& c : lower)
        c = static_cast<wchar_t>(c >= L'A' && c <= L'Z' ? c + 32 : c);
    return lower.size() > 24 && lower.compare(lower.size() - 24, 24, L"\\tavokremover.quarantine") == 0;
}

BOOL WINAPI OwnFolderInformation(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info)
{
    const BOOL ok = ::GetFileInformationByHandle(file, info);
    if (ok && ownFolderState == OwnFolder::ReparsePoint && IsOwnFolder(file))
        info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    return ok;
}

// A FAT32 volume where chosen: no links, no reparse points.
BOOL WINAPI ChosenVolume(LPCWSTR root, LPWSTR name, DWORD nameSize, LPDWORD serial, LPDWORD maxComponent,
                         LPDWORD flags, LPWSTR fileSystem, DWORD fileSystemSize)
{
    const BOOL ok = ::GetVolumeInformationW(root, name, nameSize, serial, maxComponent, flags, fileSystem,
                                            fileSystemSize);
    if (ok && fatVolume) {
        if (flags)
            *flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
        if (fileSystem && fileSystemSize > 5)
            std::wcscpy(fileSystem, L"FAT32");
    }
    return ok;
}

LONG WINAPI OwnedByUsers(HANDLE object, ULONG parts, PVOID descriptor, ULONG length, PULONG needed)
{
    const LONG status = TrustedFoldersSecurity(object, parts, descriptor, length, needed);
    // The owner, Administrators (S-1-5-32-544), follows the 20-byte header.
    if (status >= 0 && IsOwnFolder(object))
        static_cast<BYTE*>(descriptor)[20 + 12] = 0x21;  // 545: Users
    return status;
}

LONG WINAPI ModifiableByUsers(HANDLE object, ULONG parts, PVOID descriptor, ULONG length, PULONG needed)
{
    const LONG status = TrustedFoldersSecurity(object, parts, descriptor, length, needed);
    // The first ACE, after the owner and the ACL's header, made Users' Modify.
    if (status >= 0 && IsOwnFolder(object)) {
        auto* ace = static_cast<BYTE*>(descriptor) + 20 + 16 + 8;
        const DWORD modify = 0x1301BF;
        std::memcpy(ace + 4, &modify, 4);
        ace[8 + 15] = 0x21;
    }
    return status;
}

// Windows checks the access the handle was granted; Wine does not for the
// attributes.
LONG WINAPI HonouringGrantedAccess(HANDLE file, NativeIoStatus* status, PVOID info, ULONG length, ULONG infoClass)
{
    using QueryObjectFn = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    static const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    static const auto query = ResolveFunction<QueryObjectFn>(ntdll, "NtQueryObject");
    static const auto real = ResolveFunction<NtSetInformationFileFn>(ntdll, "NtSetInformationFile");
    struct {
        ULONG attributes;
        ACCESS_MASK granted;
        ULONG rest[12];
    } basic = {};
    // The attributes (4) need FILE_WRITE_ATTRIBUTES; a rename (10) and the
    // disposition (13), DELETE.
    const ACCESS_MASK needed =
        infoClass == 4 ? FILE_WRITE_ATTRIBUTES : infoClass == 10 || infoClass == 13 ? DELETE : 0;
    EXPECT_GE(query(file, 0, &basic, sizeof basic, nullptr), 0);
    if ((basic.granted & needed) != needed)
        return static_cast<LONG>(0xC0000022);  // STATUS_ACCESS_DENIED
    return real(file, status, info, length, infoClass);
}

// The files whose ACL was handed to Administrators and SYSTEM, by identity,
// and the registrations of a file not handed first.
std::vector<std::pair<DWORD, DWORD>> handed;
size_t registeredUnhanded = 0;

std::pair<DWORD, DWORD> IdentityOf(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    ::GetFileInformationByHandle(file, &info);
    return {info.nFileIndexHigh, info.nFileIndexLow};
}

// Administrators as owner and their ACL, or, given back, any other.
LONG WINAPI RecordHanding(HANDLE object, ULONG parts, PVOID descriptor)
{
    BYTE own[OwnFolderSecuritySize];
    OwnFolderSecurity(true, true, own);
    const auto at = std::find(handed.begin(), handed.end(), IdentityOf(object));
    if (parts == (OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION) &&
        std::memcmp(descriptor, own, sizeof own) == 0)
        handed.push_back(IdentityOf(object));
    else if (at != handed.end())
        handed.erase(at);
    return 0;
}

// Making a folder owned by Administrators needs an administrator.
BOOL WINAPI MadeByAPlainRun(LPCWSTR path, LPSECURITY_ATTRIBUTES security)
{
    const auto* descriptor = static_cast<const BYTE*>(security ? security->lpSecurityDescriptor : nullptr);
    DWORD ownerAt = 0;
    if (descriptor)
        std::memcpy(&ownerAt, descriptor + 4, 4);
    if (ownerAt != 0) {
        SetLastError(ERROR_INVALID_OWNER);
        return FALSE;
    }
    return ::CreateDirectoryW(path, security);
}

// The program's folders at C:'s root, usual or fresh.
std::vector<std::wstring> OwnFoldersMade()
{
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW(L"C:\\TavokRemover.quarantine*", &entry);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry))
        found.push_back(entry.cFileName);
    if (find != INVALID_HANDLE_VALUE)
        FindClose(find);
    return found;
}

void RemoveOwnFolders()
{
    for (const auto& name : OwnFoldersMade()) {
        const std::wstring folder = L"C:\\" + name;
        WIN32_FIND_DATAW entry;
        const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
        for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &entry)) {
            SetFileAttributesW((folder + L"\\" + entry.cFileName).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW((folder + L"\\" + entry.cFileName).c_str());
        }
        if (find != INVALID_HANDLE_VALUE)
            FindClose(find);
        RemoveDirectoryW(folder.c_str());
    }
}

BOOL WINAPI RecordRegistrationOfHanded(LPCWSTR path, LPCWSTR replacement, DWORD flags)
{
    HANDLE file = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (std::find(handed.begin(), handed.end(), IdentityOf(file)) == handed.end())
        ++registeredUnhanded;
    CloseHandle(file);
    return RecordRestartDeletion(path, replacement, flags);
}

void OwnFolderAsChosen(RuntimeApi& api)
{
    if (systemVersion != 0)
        api.GetVersion = ChosenVersion;
    api.NtSetSecurityObject = RecordHanding;
    api.MoveFileExW = RecordRegistrationOfHanded;
    api.GetFileInformationByHandle = OwnFolderInformation;
    api.GetVolumeInformationW = ChosenVolume;
    api.GetDriveTypeA = ChosenDriveType;
    api.NtSetInformationFile = HonouringGrantedAccess;
    if (ownFolderState != OwnFolder::UsersOwn) {
        OwnFolderTrusted(api);
        if (ownFolderState == OwnFolder::Squatted)
            trustedFolders = {L"\\tavokremover.quarantine-", L"\\\\?\\c:\\"};
        // C:'s root as Windows sets it, but where users may change it.
        if (ownFolderState == OwnFolder::OpenRoot)
            trustedFolders = {L"\\tavokremover.quarantine"};
        if (ownFolderState == OwnFolder::PlainRun)
            api.CreateDirectoryW = MadeByAPlainRun;
        if (ownFolderState == OwnFolder::UsersGroup)
            api.NtQuerySecurityObject = OwnedByUsers;
        if (ownFolderState == OwnFolder::UsersModify)
            api.NtQuerySecurityObject = ModifiableByUsers;
    }
}

}  // namespace

TEST(DiskScan, ACopyInUseWaitsForTheRestartInTheProgramsOwnFolderOrWhereNoUserCanChangeItsPath)
{
    const std::wstring ownFolder = L"\\\\?\\C:\\TavokRemover.quarantine";
    const struct {
        const char* what;
        OwnFolder folder;
        bool fat;
        bool moduleMoved;      // registered in the program's own folder
        bool registeredByPath;  // both copies registered where they were found
        DWORD version;          // 0: as Wine reports it
        UINT drive = DRIVE_UNKNOWN;
    } cases[] = {
        {"the program's own folder", OwnFolder::Trusted, false, true, false, 0},
        {"a folder of that name that the user owns", OwnFolder::UsersOwn, false, false, false, 0},
        {"a link of that name", OwnFolder::ReparsePoint, false, false, false, 0},
        {"a folder of that name owned by Users", OwnFolder::UsersGroup, false, false, false, 0},
        {"a folder of that name that Users may modify", OwnFolder::UsersModify, false, false, false, 0},
        {"a folder of that name a user made first: a fresh one beside it", OwnFolder::Squatted, false, true, false,
         0},
        {"a plain run, which cannot make Administrators the owner", OwnFolder::PlainRun, false, false, false, 0},
        {"a root whose folders users may rename", OwnFolder::OpenRoot, false, false, false, 0},
        {"a removable disk, which the restart may not find", OwnFolder::Trusted, false, false, false, 0,
         DRIVE_REMOVABLE},
        {"a FAT volume, which holds no links", OwnFolder::UsersOwn, true, false, true, 0},
        // Its deletion at the restart runs as SYSTEM through the file's
        // own ACL, which a worm may make deny it.
        {"XP: each copy's ACL handed to Administrators and SYSTEM first", OwnFolder::Trusted, false, true, false,
         0x0A280105},
        {"XP, a folder of that name owned by Users", OwnFolder::UsersGroup, false, false, false, 0x0A280105},
        {"XP on FAT", OwnFolder::UsersOwn, true, false, true, 0x0A280105},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        Infection infection;
        // A module this process runs, which Wine, like Windows, lets be
        // renamed but not deleted; and a copy held without delete sharing,
        // which can be neither.
        const std::string dll = ProbeDllBytes() + UniqueBytes(64);
        infection.rows.push_back(RowFor(dll));
        const std::string module = tree.WriteFile("loaded\\module.dll", dll);
        const HMODULE loaded = LoadLibraryA(module.c_str());
        ASSERT_NE(loaded, nullptr);
        // Read-only, which the deletion at the restart would not clear.
        const std::string held = tree.WriteFile("held\\held.exe", infection.bytes);
        SetFileAttributesA(held.c_str(), FILE_ATTRIBUTE_READONLY);
        HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        if (c.folder == OwnFolder::Squatted) {
            ASSERT_TRUE(CreateDirectoryW(ownFolder.c_str(), nullptr));
        }

        registered.clear();
        handed.clear();
        registeredUnhanded = 0;
        ownFolderState = c.folder;
        fatVolume = c.fat;
        systemVersion = c.version;
        driveType = c.drive;
        ScanReport report;
        {
            const ApiOverride chosen(OwnFolderAsChosen);
            ScanHost host;
            RecordingWalker walker(&host.Context(), infection.Set());
            walker.examineFiles = true;
            report = host.Run([&](ScanContext&) { walker.ScanDirectory(Widen(tree.Root()).c_str()); });
            EXPECT_EQ(walker.infected, 2u);
            EXPECT_EQ(walker.deleted, 0u);
        }
        CloseHandle(holder);
        EXPECT_EQ(GetFileAttributesA(held.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
        EXPECT_EQ(registeredUnhanded, 0u);
        // Only the copies that wait for the restart change owner and ACL.
        EXPECT_EQ(handed.size(), registered.size());
        ASSERT_EQ(report.rows.size(), 2u);
        std::wstring moduleOutcome, heldOutcome;
        for (const auto& row : report.rows) {
            // The row keeps the path where the copy was found.
            if (row.path == Widen(module))
                moduleOutcome = row.outcome;
            else if (row.path == Widen(held))
                heldOutcome = row.outcome;
        }
        EXPECT_EQ(moduleOutcome, c.moduleMoved || c.registeredByPath ? L"Delay Delete" : L"Kill Failed");
        EXPECT_EQ(heldOutcome, c.registeredByPath ? L"Delay Delete" : L"Kill Failed");
        EXPECT_EQ(FileExists(module), !c.moduleMoved);
        std::vector<std::wstring> expected;
        if (c.registeredByPath)
            expected = {L"\\\\?\\" + Widen(module), L"\\\\?\\" + Widen(held)};
        std::vector<std::wstring> got = registered;
        if (c.moduleMoved) {
            // Under a name of the program's own, with the module's bytes.
            ASSERT_EQ(got.size(), 1u);
            const std::wstring into = ownFolder + (c.folder == OwnFolder::Squatted ? L"-" : L"\\");
            EXPECT_EQ(got[0].compare(0, into.size(), into), 0) << AnsiFromWide(got[0].c_str()).c_str();
            std::string bytes;
            EXPECT_TRUE(ReadWholeFile(AnsiFromWide(got[0].c_str()).c_str(), bytes) && bytes == dll);
            got.clear();
        }
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(got, expected);
        // No folder of the program's is left that it did not use.
        EXPECT_EQ(OwnFoldersMade().size(), size_t(c.moduleMoved) + (c.folder == OwnFolder::Squatted));
        FreeLibrary(loaded);
        RemoveOwnFolders();
    }
    ownFolderState = OwnFolder::Trusted;
    fatVolume = false;
    systemVersion = 0;
    driveType = DRIVE_FIXED;
}

// The first half of a real restart under Wine, which tests/host/check_restart.py
// drives: the copies in use are registered here; the script then swaps
// their folder for a link to another folder of same-named files, restarts
// the prefix, and checks what is left. Skipped without TAVOK_RESTART_DIR,
// the folder the script made (with the other folder, "other", in it).
TEST(RestartUnderWine, CopiesInUseAreRegistered)
{
    char folder[MAX_PATH] = {};
    if (GetEnvironmentVariableA("TAVOK_RESTART_DIR", folder, MAX_PATH) == 0)
        GTEST_SKIP() << "run by tests/host/check_restart.py";
    const std::string base = folder;
    Infection infection;
    // A copy held by a program, a module a child process runs, both in the
    // folder the script swaps; and a module this process runs, elsewhere.
    const std::string dll = ProbeDllBytes() + UniqueBytes(64);
    const std::string ownDll = ProbeDllBytes() + UniqueBytes(64);
    infection.rows.push_back(RowFor(dll));
    infection.rows.push_back(RowFor(ownDll));
    CreateDirectoryA((base + "\\inf").c_str(), nullptr);
    CreateDirectoryA((base + "\\inf\\mod").c_str(), nullptr);
    CreateDirectoryA((base + "\\plain").c_str(), nullptr);
    CreateDirectoryA((base + "\\links").c_str(), nullptr);
    const std::string heldPath = base + "\\inf\\held-read.bin";
    const std::string heldDeletePath = base + "\\inf\\held-delete.bin";
    const std::string modulePath = base + "\\inf\\mod\\module.dll";
    const std::string plainPath = base + "\\plain\\in-use.dll";
    // Copies removed at once: plain, read-only, hidden and system, and one
    // file under two names.
    const std::vector<std::string> removed = {base + "\\inf\\plain.exe", base + "\\plain\\marked.exe",
                                              base + "\\links\\a.exe", base + "\\links\\b.exe"};
    TempTree::WriteFileAt(heldPath, infection.bytes);
    TempTree::WriteFileAt(heldDeletePath, infection.bytes);
    TempTree::WriteFileAt(modulePath, dll);
    TempTree::WriteFileAt(plainPath, ownDll);
    TempTree::WriteFileAt(removed[0], infection.bytes);
    TempTree::WriteFileAt(removed[1], infection.bytes);
    SetFileAttributesA(removed[1].c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    TempTree::WriteFileAt(removed[2], infection.bytes);
    ASSERT_TRUE(CreateHardLinkA(removed[3].c_str(), removed[2].c_str(), nullptr));
    HANDLE holder = CreateFileA(heldPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    // A holder that could undo a deletion.
    HANDLE deleter = CreateFileA(heldDeletePath.c_str(), GENERIC_READ | DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    ASSERT_NE(deleter, INVALID_HANDLE_VALUE);
    const HMODULE loaded = LoadLibraryA(plainPath.c_str());
    ASSERT_NE(loaded, nullptr);
    ScanReport report;
    {
        ChildHolder child;
        ASSERT_TRUE(child.Start(modulePath));
        // Wine makes the user the owner of every folder: the program's own
        // is taken as Windows would have it. Every other call is Wine's own,
        // the registration included.
        const ApiOverride trusted(OwnFolderTrusted);
        ScanHost host;
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        report = host.Run([&](ScanContext&) {
            walker.OnFile(1, Widen(modulePath).c_str(), MemAndFileWalker::UnknownSize);
            walker.ScanDirectory(Widen(base).c_str());
        });
    }
    CloseHandle(holder);
    CloseHandle(deleter);
    FreeLibrary(loaded);
    std::map<std::wstring, std::wstring> outcomes;
    for (const auto& row : report.rows)
        outcomes[row.path] = row.outcome;
    EXPECT_EQ(outcomes[Widen(modulePath)], L"Delay Delete");
    EXPECT_EQ(outcomes[Widen(plainPath)], L"Delay Delete");
    EXPECT_EQ(outcomes[Widen(heldPath)], L"Kill Failed");
    EXPECT_EQ(outcomes[Widen(heldDeletePath)], L"Kill Failed");
    EXPECT_EQ(outcomes[Widen(removed[0])], L"Deleted");
    EXPECT_EQ(outcomes[Widen(removed[1])], L"Deleted");
    // Wine lists no file's names: the first name met is removed and its
    // row does not say so; the second, met next, then goes as the last.
    EXPECT_EQ(outcomes[Widen(removed[2])], L"Kill Failed");
    EXPECT_EQ(outcomes[Widen(removed[3])], L"Deleted");
    EXPECT_EQ(outcomes.size(), 8u);
    EXPECT_FALSE(FileExists(modulePath));
    EXPECT_FALSE(FileExists(plainPath));
    for (const auto& path : removed)
        EXPECT_FALSE(FileExists(path)) << path;
    EXPECT_TRUE(FileExists(heldDeletePath));
    // Every folder of the program's holds a copy it moved there.
    WIN32_FIND_DATAA entry;
    const HANDLE own = FindFirstFileA("C:\\TavokRemover.quarantine*", &entry);
    ASSERT_NE(own, INVALID_HANDLE_VALUE);
    for (BOOL more = TRUE; more; more = FindNextFileA(own, &entry))
        EXPECT_NE(CountFiles(std::string("C:\\") + entry.cFileName), 0u) << entry.cFileName;
    FindClose(own);
    // For the script: the digests of the copies that must be gone after the
    // restart.
    TempTree::WriteFileAt(base + "\\registered.txt", CryptoApiMd5Hex(dll) + "\n" + CryptoApiMd5Hex(ownDll) + "\n");
}

namespace {

// A cloned disk, or FAT's reused indexes: every file with the same key.
BOOL WINAPI OneKeyForAll(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info)
{
    const BOOL ok = ::GetFileInformationByHandle(file, info);
    if (ok) {
        info->dwVolumeSerialNumber = 0x1234ABCD;
        info->nFileIndexHigh = 7;
        info->nFileIndexLow = 42;
    }
    return ok;
}

// Wine lists no file's names: these stand for what Windows would list, each
// from the volume's root.
std::vector<std::wstring> fileNames;
size_t namesGiven = 0;

BOOL WINAPI NextName(HANDLE, LPDWORD length, PWSTR name)
{
    if (namesGiven == fileNames.size()) {
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    const std::wstring& next = fileNames[namesGiven];
    if (*length <= next.size()) {
        *length = static_cast<DWORD>(next.size() + 1);
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    ++namesGiven;
    lstrcpyW(name, next.c_str());
    *length = static_cast<DWORD>(next.size() + 1);
    return TRUE;
}

HANDLE WINAPI FirstName(LPCWSTR, DWORD, LPDWORD length, PWSTR name)
{
    namesGiven = 0;
    // Any handle FindClose takes.
    WIN32_FIND_DATAW entry;
    const HANDLE find = ::FindFirstFileW(L"C:\\*", &entry);
    if (!NextName(find, length, name)) {
        FindClose(find);
        return INVALID_HANDLE_VALUE;
    }
    return find;
}

bool equalKeys = false;

void NamesAndKeys(RuntimeApi& api)
{
    if (equalKeys)
        api.GetFileInformationByHandle = OneKeyForAll;
    api.FindFirstFileNameW = fileNames.empty() ? nullptr : FirstName;
    api.FindNextFileNameW = NextName;
}

}  // namespace

TEST(DiskScan, EveryNameOfAnInfectedFileIsRemovedAndCopiesWithEqualKeysAreBoth)
{
    enum Second { Walked, Outside, EqualKeys, WrittenBack, HeldWithDelete };
    const struct {
        const char* what;
        Second second;
        bool listed;  // the system lists a file's names (Vista and later)
        const wchar_t* outcome;
        bool gone;  // both files, or both names
    } cases[] = {
        {"two names of one file", Walked, true, L"Deleted", true},
        {"a second name outside the folders walked", Outside, true, L"Deleted", true},
        // Removing one name leaves the file under the other.
        {"a second name the system cannot list", Outside, false, L"Kill Failed", false},
        {"two copies whose keys are equal", EqualKeys, false, L"Deleted", true},
        // Removed by the memory pass, put back by the worm's other process
        // before the disk pass comes to it: another file, met anew.
        {"a copy written back in its place", WrittenBack, false, L"Deleted", true},
        // A handle that may delete could undo the deletion, or rename the
        // file away from its folder.
        {"a copy another handle holds with the right to delete", HeldWithDelete, false, L"Kill Failed", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree tree;
        Infection infection;
        const std::string first = tree.WriteFile("walked\\a\\worm.exe", infection.bytes);
        std::string second;
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (c.second == EqualKeys) {
            second = tree.WriteFile("walked\\b\\copy.exe", infection.larger);
        } else if (c.second == WrittenBack) {
            // Written while the first still is: another file, whatever the file system reuses.
            second = tree.WriteFile("b\\written.exe", infection.bytes);
        } else if (c.second == HeldWithDelete) {
            holder = CreateFileA(first.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                 FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        } else {
            tree.MakeDir(c.second == Walked ? "walked\\b" : "outside");
            second = tree.Path(c.second == Walked ? "walked\\b\\second-name.exe" : "outside\\second-name.exe");
            ASSERT_TRUE(CreateHardLinkA(second.c_str(), first.c_str(), nullptr)) << GetLastError();
            BY_HANDLE_FILE_INFORMATION info = {};
            HANDLE open = CreateFileA(second.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_TRUE(GetFileInformationByHandle(open, &info));
            CloseHandle(open);
            ASSERT_EQ(info.nNumberOfLinks, 2u);
        }
        fileNames.clear();
        if (c.listed)
            fileNames = {Widen(first).substr(2), Widen(second).substr(2)};
        equalKeys = c.second == EqualKeys;
        const ApiOverride names(NamesAndKeys);
        ScanHost host;
        RecordingWalker walker(&host.Context(), infection.Set());
        walker.examineFiles = true;
        const ScanReport report = host.Run([&](ScanContext&) {
            if (c.second == WrittenBack) {
                walker.OnFile(1, Widen(first).c_str(), MemAndFileWalker::UnknownSize);
                EXPECT_TRUE(MoveFileA(second.c_str(), first.c_str()));
            }
            walker.ScanDirectory(Widen(tree.Path("walked")).c_str());
            // The first name met again, as the memory pass gives it, once gone.
            walker.OnFile(1, Widen(first).c_str(), MemAndFileWalker::UnknownSize);
        });
        if (holder != INVALID_HANDLE_VALUE) {
            // What the holder could do: the deletion undone.
            static const auto setInformation =
                ResolveFunction<NtSetInformationFileFn>(GetModuleHandleA("ntdll.dll"), "NtSetInformationFile");
            NativeIoStatus status = {};
            BOOLEAN keep = FALSE;
            setInformation(holder, &status, &keep, sizeof keep, 13);  // FileDispositionInformation
            CloseHandle(holder);
        }
        const size_t copies = c.second == EqualKeys || c.second == WrittenBack ? 2 : 1;
        EXPECT_EQ(walker.infected, copies);
        EXPECT_EQ(report.rows.size(), copies);
        for (const auto& row : report.rows)
            EXPECT_EQ(row.outcome, c.outcome) << AnsiFromWide(row.path.c_str()).c_str();
        EXPECT_EQ(FileExists(first), c.second == HeldWithDelete);
        if (!second.empty()) {
            EXPECT_EQ(FileExists(second), !c.gone);
        }
    }
    fileNames.clear();
    equalKeys = false;
}

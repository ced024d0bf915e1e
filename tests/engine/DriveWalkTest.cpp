// The disk pass over listings of the test's own, through the run-time
// table: trees deeper than a stack could walk, and systems that refuse
// the faster listing.
#include "ApiOverride.h"
#include "FileSystem.h"
#include "MemAndFileWalker.h"
#include "RecordingWalker.h"
#include "RuntimeApi.h"
#include "ScanHost.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Every folder holds one subfolder "folder" until a listing of the next
// one would pass the longest path there is (32,767 characters with the
// terminator); the last holds one worm-sized file "w" instead. Some 4,700
// levels: more than twice what the worker's stack would take in calls.
struct MadeUpTree {
    size_t longest = 32766;
    DWORD basicError = 0;  // how the basic listing is refused; 0: it is not
    int basicListings = 0;
    int plainListings = 0;
    std::vector<std::wstring> opened;
    std::string empty;  // a real empty folder, listed for the handles
};
MadeUpTree tree;
constexpr DWORD WormSize = 1300;
const std::string FolderName = "folder";

// The handles are real ones, of an empty folder, for FindClose to take.
template <class FindData, class Char>
HANDLE List(const Char* pattern, FindData* entry, HANDLE real)
{
    size_t length = 0;
    while (pattern[length])
        ++length;
    const size_t dir = length - 2;  // without "\*"
    *entry = {};
    if (dir + 1 + FolderName.size() + 2 <= tree.longest) {
        std::copy(FolderName.begin(), FolderName.end(), entry->cFileName);
        entry->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    } else {
        entry->cFileName[0] = 'w';
        entry->nFileSizeLow = WormSize;
    }
    return real;
}

HANDLE WINAPI ListPlain(LPCWSTR pattern, LPWIN32_FIND_DATAW entry)
{
    ++tree.plainListings;
    return List(pattern, entry, ::FindFirstFileW(Widen(tree.empty + "\\*").c_str(), entry));
}

HANDLE WINAPI ListBasic(LPCWSTR pattern, FINDEX_INFO_LEVELS, LPVOID entry, FINDEX_SEARCH_OPS, LPVOID, DWORD)
{
    ++tree.basicListings;
    if (tree.basicError) {
        SetLastError(tree.basicError);
        return INVALID_HANDLE_VALUE;
    }
    auto* data = static_cast<WIN32_FIND_DATAW*>(entry);
    return List(pattern, data, ::FindFirstFileW(Widen(tree.empty + "\\*").c_str(), data));
}

HANDLE WINAPI ListAnsi(LPCSTR pattern, LPWIN32_FIND_DATAA entry)
{
    ++tree.plainListings;
    return List(pattern, entry, ::FindFirstFileA((tree.empty + "\\*").c_str(), entry));
}

BOOL WINAPI NoMoreW(HANDLE, LPWIN32_FIND_DATAW)
{
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

BOOL WINAPI NoMoreA(HANDLE, LPWIN32_FIND_DATAA)
{
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

void MadeUpListing(RuntimeApi& api)
{
    api.FindFirstFileW = ListPlain;
    api.FindNextFileW = NoMoreW;
    api.FindFirstFileExW = ListBasic;
    api.FindFirstFileA = ListAnsi;
    api.FindNextFileA = NoMoreA;
}

DWORD WINAPI Windows98Version()
{
    return 0xC0000A04;
}

void MadeUpListingOnWindows98(RuntimeApi& api)
{
    MadeUpListing(api);
    api.GetVersion = Windows98Version;
    api.GetWindowsDirectoryA = TestWindowsFolder;
}

// The path of the file at the bottom of the made-up C:, as shown, where
// the listings take it with prefix characters in front (\\?\ or none).
std::wstring Bottom(size_t prefix)
{
    std::wstring path = L"C:";
    while (prefix + path.size() + 1 + FolderName.size() + 2 <= tree.longest)
        path += L"\\" + Widen(FolderName);
    return path + L"\\w";
}

}  // namespace

TEST(DriveWalk, AListingAsDeepAsPathsGoEndsWithTheSummaryOnBothFamilies)
{
    TempTree folder;
    for (const bool windows98 : {false, true}) {
        SCOPED_TRACE(windows98 ? "Windows 98" : "NT family");
        tree = MadeUpTree();
        tree.empty = folder.Root();
        const ApiOverride fake(windows98 ? MadeUpListingOnWindows98 : MadeUpListing);
        ScanHost host;
        RecordingWalker walker(&host.Context(), ProductSignatures);
        walker.firstDrive = walker.lastDrive = 'C';
        walker.isUsbVolume = [](char) { return false; };
        const ScanReport report = host.Run([&](ScanContext&) { walker.RunScan(); }, 120000);
        EXPECT_TRUE(report.summaryShown);
        ASSERT_EQ(walker.wideDiskPaths.size(), 1u);
        // The Windows 95 family lists without \\?\, so it may go deeper.
        const std::wstring expected = Bottom(windows98 ? 0 : 4);
        EXPECT_EQ(walker.wideDiskPaths[0].size(), expected.size());
        EXPECT_EQ(walker.wideDiskPaths[0], expected);
        EXPECT_GT(tree.plainListings + tree.basicListings, 4600);
    }
}

TEST(DriveWalk, ABasicListingRefusedForAnyReasonButNothingThereListsPlainly)
{
    const struct {
        DWORD error;
        bool listedAgain;
    } cases[] = {
        {ERROR_NOT_SUPPORTED, true}, {ERROR_INVALID_FUNCTION, true}, {ERROR_INVALID_PARAMETER, true},
        {ERROR_FILE_NOT_FOUND, false}, {ERROR_PATH_NOT_FOUND, false}, {ERROR_ACCESS_DENIED, false},
        {ERROR_BAD_NETPATH, false}, {ERROR_BAD_NET_NAME, false}, {ERROR_LOGON_FAILURE, false},
        {ERROR_NETWORK_UNREACHABLE, false}, {ERROR_HOST_UNREACHABLE, false},
        {ERROR_SESSION_CREDENTIAL_CONFLICT, false}, {ERROR_NETNAME_DELETED, false}, {ERROR_SEM_TIMEOUT, false},
    };
    const ApiOverride fake(MadeUpListing);
    TempTree folder;
    for (const auto& c : cases) {
        for (const size_t longest : {size_t(0), size_t(22)}) {
            SCOPED_TRACE(testing::Message() << "error " << c.error << ", longest " << longest);
            tree = MadeUpTree();
            tree.empty = folder.Root();
            tree.longest = longest;  // 0: the root holds the file; 22: two folders above it
            tree.basicError = c.error;
            ScanHost host;
            static std::vector<std::wstring>* opened;
            opened = &tree.opened;
            RecordingWalker walker(&host.Context(), ProductSignatures);
            walker.examineFiles = true;
            walker.openFile = [](const RuntimeApi&, const wchar_t* path) {
                opened->push_back(path);
                return ExaminedFile();
            };
            walker.firstDrive = walker.lastDrive = 'C';
            walker.isUsbVolume = [](char) { return false; };
            host.Run([&](ScanContext&) { walker.ScanDrives(); });
            // Windows 7 and later ask for the basic listing; once refused,
            // that drive is listed plainly.
            EXPECT_EQ(tree.basicListings, 1);
            const std::wstring bottom = longest ? L"\\\\?\\C:\\folder\\folder\\w" : L"\\\\?\\C:\\w";
            if (c.listedAgain) {
                EXPECT_EQ(tree.plainListings, longest ? 3 : 1);
                EXPECT_EQ(tree.opened, std::vector<std::wstring>{bottom});
            } else {
                EXPECT_EQ(tree.plainListings, 0);
                EXPECT_TRUE(tree.opened.empty());
            }
        }
    }
}

namespace {

// Folders with the mount point tag, as an NT volume lists them; the
// volume functions say which of them hold a volume.
void TagMountPoints(WIN32_FIND_DATAW* entry)
{
    for (const wchar_t* name : {L"mounted", L"mounted-again", L"lettered", L"junction"}) {
        if (lstrcmpiW(entry->cFileName, name) == 0) {
            entry->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
            entry->dwReserved0 = IO_REPARSE_TAG_MOUNT_POINT;
        }
    }
}

HANDLE WINAPI ListTagged(LPCWSTR pattern, LPWIN32_FIND_DATAW entry)
{
    const HANDLE find = ::FindFirstFileW(pattern, entry);
    if (find != INVALID_HANDLE_VALUE)
        TagMountPoints(entry);
    return find;
}

HANDLE WINAPI ListTaggedBasic(LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID entry, FINDEX_SEARCH_OPS search,
                              LPVOID filter, DWORD flags)
{
    const HANDLE find = ::FindFirstFileExW(pattern, level, entry, search, filter, flags);
    if (find != INVALID_HANDLE_VALUE)
        TagMountPoints(static_cast<WIN32_FIND_DATAW*>(entry));
    return find;
}

BOOL WINAPI ListTaggedNext(HANDLE find, LPWIN32_FIND_DATAW entry)
{
    if (!::FindNextFileW(find, entry))
        return FALSE;
    TagMountPoints(entry);
    return TRUE;
}

std::vector<std::wstring> volumeQueries;

// "mounted" and "mounted-again" hold one volume, "lettered" another that
// drive Q: also leads to; "junction" is none.
BOOL WINAPI MountedVolumes(LPCWSTR mountPoint, LPWSTR volume, DWORD size)
{
    volumeQueries.push_back(mountPoint);
    const std::wstring point = mountPoint;
    const wchar_t* name = nullptr;
    auto endsWith = [&](const wchar_t* tail) {
        const std::wstring t = tail;
        return point.size() >= t.size() && point.compare(point.size() - t.size(), t.size(), t) == 0;
    };
    if (endsWith(L"\\mounted\\") || endsWith(L"\\mounted-again\\"))
        name = L"\\\\?\\Volume{00000000-0000-0000-0000-000000000001}\\";
    else if (endsWith(L"\\lettered\\") || point == L"Q:\\")
        name = L"\\\\?\\Volume{00000000-0000-0000-0000-000000000002}\\";
    else if (point == L"C:\\")
        name = L"\\\\?\\Volume{00000000-0000-0000-0000-00000000000c}\\";
    if (!name || lstrlenW(name) + 1 > static_cast<int>(size)) {
        SetLastError(ERROR_NOT_A_REPARSE_POINT);
        return FALSE;
    }
    lstrcpyW(volume, name);
    return TRUE;
}

void MountPointsListed(RuntimeApi& api)
{
    api.FindFirstFileW = ListTagged;
    api.FindFirstFileExW = ListTaggedBasic;
    api.FindNextFileW = ListTaggedNext;
    api.GetVolumeNameForVolumeMountPointW = MountedVolumes;
}

}  // namespace

TEST(DriveWalk, AVolumeMountedInAFolderIsWalkedThereOnceUnlessALetterLeadsToIt)
{
    TempTree folder;
    for (const char* name : {"mounted", "mounted-again", "lettered", "junction", "plain"})
        folder.WriteFile(std::string(name) + "\\worm.exe", 1300, 1);
    volumeQueries.clear();
    const ApiOverride fake(MountPointsListed);
    ScanHost host;
    RecordingWalker walker(&host.Context(), ProductSignatures);
    host.Run([&](ScanContext&) {
        walker.ScanDirectory(Widen(folder.Root()).c_str());
        // A later drive meets the volume again.
        walker.ScanDirectory(Widen(folder.Root()).c_str());
    });
    std::vector<std::string> visited = walker.diskPaths;
    std::sort(visited.begin(), visited.end());
    EXPECT_EQ(visited, (std::vector<std::string>{folder.Path("mounted\\worm.exe"), folder.Path("plain\\worm.exe"),
                                                 folder.Path("plain\\worm.exe")}));
    // The letters are asked once a scan, each mount point once a meeting.
    EXPECT_EQ(volumeQueries.size(), 24u + 8u);
}

namespace {

// The drives the signed-in user mapped, as the profile keeps them, and the
// scan's token: elevated with a split token, limited, or another user's.
struct Mappings {
    TOKEN_ELEVATION_TYPE elevation = TokenElevationTypeFull;
    const wchar_t* hive = nullptr;  // the user's under HKEY_USERS; null: HKEY_CURRENT_USER
    bool readable = true;
    DWORD ownRid = 1001;  // the signed-in user's, 1001, or another's
    HWND shell = nullptr;
    HANDLE shellToken = nullptr;  // the token last opened, where the shell's
    bool duplicable = true;       // the shell's token, for the scan to wear
    bool wearing = false;         // the walking thread wears the user's token
    std::vector<bool> worn;       // for each listing of a share
    int opened = 0;
    int closed = 0;
    std::vector<std::wstring> listed;  // the patterns of every listing
    std::string empty;
} mappings;

const wchar_t* RemotePathOf(wchar_t letter)
{
    switch (letter) {
    case L'C': return L"\\\\server\\c-share";  // a letter this process sees
    case L'M': return L"\\\\server\\share";
    case L'N': return L"\\\\SERVER\\Share\\";  // the same share
    case L'O': return L"\\\\gone\\share";      // a share that cannot be reached
    case L'P': return L"\\\\server\\c-share";  // the share of the seen letter
    case L'H': return L"\\\\server\\common";   // the share of G:, which every session has
    case L'Q': return L"\\\\server\\empty";    // a share whose root holds nothing
    default: return nullptr;
    }
}

// G: is a network drive of every session, which the profile does not hold.
UINT WINAPI DriveTypeOfChoice(LPCSTR root)
{
    return (root[0] | 0x20) == 'g' ? DRIVE_REMOTE : ::GetDriveTypeA(root);
}

DWORD WINAPI DeviceOfChoice(LPCWSTR device, LPWSTR target, DWORD size)
{
    static const wchar_t G[] = L"\\Device\\Mup\\;LanmanRedirector\\;G:00000000000003e7\\SERVER\\Common\\";
    if (lstrcmpW(device, L"G:") != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    if (size < sizeof G / sizeof G[0] + 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(target, G, sizeof G);
    target[sizeof G / sizeof G[0]] = L'\0';
    return sizeof G / sizeof G[0] + 1;
}

HWND WINAPI ShellOfChoice()
{
    return mappings.shell;
}

BOOL WINAPI OpenTokenNoting(HANDLE process, DWORD access, PHANDLE token)
{
    const BOOL opened = ::OpenProcessToken(process, access, token);
    mappings.shellToken = opened && process != GetCurrentProcess() ? *token : nullptr;
    return opened;
}

BOOL WINAPI TokenOfChoice(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD bytes,
                          PDWORD returned)
{
    if (infoClass == TokenUser) {
        // S-1-5-21-1-2-3-rid: the signed-in user's is 1001.
        const DWORD rid = token == mappings.shellToken ? 1001 : mappings.ownRid;
        const BYTE sid[28] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0,
                              BYTE(rid), BYTE(rid >> 8), 0, 0};
        if (bytes < sizeof(TOKEN_USER) + sizeof sid) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        auto* user = static_cast<TOKEN_USER*>(info);
        std::memcpy(user + 1, sid, sizeof sid);
        user->User.Sid = user + 1;
        user->User.Attributes = 0;
        *returned = sizeof(TOKEN_USER) + sizeof sid;
        return TRUE;
    }
    if (infoClass != TokenElevationType || bytes < sizeof(TOKEN_ELEVATION_TYPE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *static_cast<TOKEN_ELEVATION_TYPE*>(info) = mappings.elevation;
    *returned = sizeof(TOKEN_ELEVATION_TYPE);
    return TRUE;
}

LONG WINAPI OpenMapping(HKEY root, LPCWSTR subKey, DWORD, REGSAM, PHKEY result)
{
    const std::wstring name = subKey;
    const std::wstring prefix = mappings.hive ? mappings.hive + std::wstring(L"\\Network\\") : L"Network\\";
    if (root != (mappings.hive ? HKEY_USERS : HKEY_CURRENT_USER) || name.size() != prefix.size() + 1 ||
        name.compare(0, prefix.size(), prefix) != 0 || !RemotePathOf(name.back()))
        return ERROR_FILE_NOT_FOUND;
    if (!mappings.readable)
        return ERROR_ACCESS_DENIED;
    ++mappings.opened;
    *result = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1000 + name.back()));
    return ERROR_SUCCESS;
}

LONG WINAPI ReadMapping(HKEY key, LPCWSTR value, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD bytes)
{
    const wchar_t* remote = RemotePathOf(static_cast<wchar_t>(reinterpret_cast<uintptr_t>(key) - 0x1000));
    if (!remote || lstrcmpW(value, L"RemotePath") != 0)
        return ERROR_FILE_NOT_FOUND;
    const DWORD size = static_cast<DWORD>((lstrlenW(remote) + 1) * sizeof(wchar_t));
    if (*bytes < size)
        return ERROR_MORE_DATA;
    std::memcpy(data, remote, size);
    *bytes = size;
    *type = REG_SZ;
    return ERROR_SUCCESS;
}

LONG WINAPI CloseMapping(HKEY)
{
    ++mappings.closed;
    return ERROR_SUCCESS;
}

// The seen C: holds one file, the reachable share another.
HANDLE ListShares(LPCWSTR pattern, WIN32_FIND_DATAW* entry)
{
    mappings.listed.push_back(pattern);
    const std::wstring listed = pattern;
    if (listed.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        mappings.worn.push_back(mappings.wearing);
    const wchar_t* file = listed == L"\\\\?\\C:\\*"                    ? L"c.exe"
                          : listed == L"\\\\?\\G:\\*"                    ? L"g.exe"
                          : listed == L"\\\\?\\UNC\\server\\common\\*" ? L"g.exe"
                          : listed == L"\\\\?\\UNC\\server\\share\\*" ? L"worm.exe"
                                                                       : nullptr;
    if (!file) {
        // A root has no "." or "..": an empty one lists nothing at all.
        SetLastError(listed == L"\\\\?\\UNC\\server\\empty\\*"        ? ERROR_FILE_NOT_FOUND
                     : listed.compare(0, 8, L"\\\\?\\UNC\\") == 0 ? ERROR_BAD_NETPATH
                                                                : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const HANDLE real = ::FindFirstFileW(Widen(mappings.empty + "\\*").c_str(), entry);
    *entry = {};
    lstrcpyW(entry->cFileName, file);
    entry->nFileSizeLow = WormSize;
    return real;
}

HANDLE WINAPI ListSharesPlain(LPCWSTR pattern, LPWIN32_FIND_DATAW entry)
{
    return ListShares(pattern, entry);
}

HANDLE WINAPI ListSharesBasic(LPCWSTR pattern, FINDEX_INFO_LEVELS, LPVOID entry, FINDEX_SEARCH_OPS, LPVOID, DWORD)
{
    return ListShares(pattern, static_cast<WIN32_FIND_DATAW*>(entry));
}

BOOL WINAPI DuplicateOfChoice(HANDLE token, SECURITY_IMPERSONATION_LEVEL level, PHANDLE duplicate)
{
    if (!mappings.duplicable) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return ::DuplicateToken(token, level, duplicate);
}

// Wine runs every process as one user: wearing a token is only noted.
BOOL WINAPI WearToken(PHANDLE thread, HANDLE token)
{
    mappings.wearing = thread == nullptr && token != nullptr;
    return TRUE;
}

BOOL WINAPI TakeOffToken()
{
    mappings.wearing = false;
    return TRUE;
}

void MappedDrives(RuntimeApi& api)
{
    api.DuplicateToken = DuplicateOfChoice;
    api.SetThreadToken = WearToken;
    api.RevertToSelf = TakeOffToken;
    api.GetTokenInformation = TokenOfChoice;
    api.GetShellWindow = ShellOfChoice;
    api.OpenProcessToken = OpenTokenNoting;
    api.RegOpenKeyExW = OpenMapping;
    api.RegQueryValueExW = ReadMapping;
    api.RegCloseKey = CloseMapping;
    api.FindFirstFileW = ListSharesPlain;
    api.FindFirstFileExW = ListSharesBasic;
    api.FindNextFileW = NoMoreW;
    api.GetDriveTypeA = DriveTypeOfChoice;
    api.QueryDosDeviceW = DeviceOfChoice;
}

}  // namespace

TEST(DriveWalk, ElevatedOrRunAsAnotherUserTheSignedInUsersMappedDrivesAreWalkedThroughTheirShares)
{
    TempTree folder;
    // A window of this process stands for the shell's.
    const HWND shell = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(shell, nullptr);
    const wchar_t* const signedIn = L"S-1-5-21-1-2-3-1001";
    const struct {
        const char* what;
        TOKEN_ELEVATION_TYPE elevation;
        DWORD ownRid;
        bool readable;
        bool walked;  // the user's shares
        const char* named = "";  // the letters the summary names: "" where walked, O
        bool duplicable = true;
        bool shellFound = true;
    } cases[] = {
        {"elevated with a split token", TokenElevationTypeFull, 1001, true, true},
        {"limited", TokenElevationTypeLimited, 1001, true, false},
        {"elevated by another administrator's name", TokenElevationTypeFull, 1002, true, true},
        {"the built-in Administrator", TokenElevationTypeDefault, 500, true, true},
        {"another user, who cannot read the user's hive", TokenElevationTypeFull, 1002, false, false, "HMNOPQ"},
        // Its credentials would go to whatever server the user's profile names.
        {"another administrator, refused the user's token", TokenElevationTypeFull, 1002, true, false, "MOQ", false},
        // Its own profile is not the user's.
        {"elevated, with no shell to tell the user by", TokenElevationTypeFull, 1001, true, false, "", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mappings = Mappings();
        mappings.empty = folder.Root();
        mappings.elevation = c.elevation;
        mappings.ownRid = c.ownRid;
        mappings.hive = c.ownRid == 1001 ? nullptr : signedIn;
        mappings.readable = c.readable;
        mappings.shell = c.shellFound ? shell : nullptr;
        mappings.duplicable = c.duplicable;
        const ApiOverride fake(MappedDrives);
        ScanHost host;
        host.Context().language = LanguageEnglish;
        RecordingWalker walker(&host.Context(), ProductSignatures);
        walker.isUsbVolume = [](char) { return false; };
        const ScanReport report = host.Run([&](ScanContext&) { walker.RunScan(); });

        std::vector<std::wstring> shares;
        for (const auto& pattern : mappings.listed) {
            if (pattern.compare(0, 8, L"\\\\?\\UNC\\") == 0)
                shares.push_back(pattern);
        }
        std::string lines;
        // Each letter that could not be reached, or not read, is named.
        for (const char letter : std::string(c.walked ? "O" : c.named)) {
            lines += "Network drive ";
            lines += letter;
            lines += ": could not be reached: scan it on the computer that holds the share.\n";
        }
        if (!c.shellFound)
            lines += "The signed-in user could not be found: that user's network drives were not scanned.\n";
        const std::wstring summary = report.summaryText;
        const size_t notes = std::min(summary.find(L"Network"), summary.find(L"The signed-in"));
        EXPECT_EQ(notes == std::wstring::npos ? L"" : summary.substr(notes), Widen(lines));
        if (c.walked) {
            // H: leads where G: does, and is walked there alone; Q:'s empty
            // share was reached.
            EXPECT_EQ(walker.wideDiskPaths, (std::vector<std::wstring>{L"C:\\c.exe", L"G:\\g.exe",
                                                                       L"\\\\server\\share\\worm.exe"}));
            EXPECT_EQ(shares, (std::vector<std::wstring>{L"\\\\?\\UNC\\server\\share\\*", L"\\\\?\\UNC\\gone\\share\\*",
                                                         L"\\\\?\\UNC\\server\\empty\\*"}));
            EXPECT_EQ(mappings.opened, 7);
            // Another user's shares are opened wearing that user's token alone.
            EXPECT_EQ(mappings.worn, std::vector<bool>(3, mappings.hive != nullptr));
        } else {
            EXPECT_EQ(walker.wideDiskPaths, (std::vector<std::wstring>{L"C:\\c.exe", L"G:\\g.exe"}));
            EXPECT_TRUE(shares.empty());
            EXPECT_EQ(mappings.opened, c.readable && c.named[0] ? 7 : 0);
        }
        EXPECT_EQ(mappings.closed, mappings.opened);
        EXPECT_FALSE(mappings.wearing);
    }
    DestroyWindow(shell);
}

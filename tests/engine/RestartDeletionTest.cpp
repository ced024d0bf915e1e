// The Windows 95 family's own rules, tested where this system is not of it:
// restart deletion through WININIT.INI, and the names that family reads as
// devices.
#include "FileFind.h"
#include "FileSystem.h"
#include "NoMemory.h"
#include "RestartDeletion.h"
#include "RuntimeApi.h"
#include "TempTree.h"
#include "Wininit.h"

#include <gtest/gtest.h>
#include <winioctl.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The short path Windows 95 would give: Wine never puts a letter outside
// ASCII in a short name.
std::string chosenShortPath;

DWORD WINAPI ChosenShortPath(LPCSTR, LPSTR buffer, DWORD size)
{
    if (chosenShortPath.size() >= size)
        return static_cast<DWORD>(chosenShortPath.size() + 1);
    chosenShortPath.copy(buffer, chosenShortPath.size());
    buffer[chosenShortPath.size()] = '\0';
    return static_cast<DWORD>(chosenShortPath.size());
}

// A disk that fills up halfway through a write.
BOOL WINAPI WriteHalfThenFail(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    ::WriteFile(file, bytes, size / 2, written, overlapped);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

// Renames that fail at the chosen calls, counted from 0.
unsigned moves = 0;
unsigned failingMoves = 0;  // bit n: the call n fails

BOOL WINAPI MoveFailingAtChosenCalls(LPCSTR existing, LPCSTR replacement)
{
    const unsigned call = moves++;
    if (call < 32 && (failingMoves >> call) & 1u) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return ::MoveFileA(existing, replacement);
}

// The Windows 95 family's profile cache: another program's change waits in
// it until a flush writes the cached copy over the file.
std::string cachedFile;
std::string cachedText;

BOOL WINAPI CachingProfileWrite(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file)
{
    if (!section && !key && !value && !cachedFile.empty() && cachedFile == file) {
        TempTree::WriteFileAt(cachedFile, cachedText);
        cachedFile.clear();
    }
    return FALSE;
}

struct Windows95Folder {
    TempTree tree;
    std::string wininit;
    std::string fresh;
    std::string old;
    RuntimeApi api;

    Windows95Folder()
    {
        windowsFolder = tree.MakeDir("WINDOWS");
        wininit = windowsFolder + "\\WININIT.INI";
        fresh = windowsFolder + "\\TAVOKWI.NEW";
        old = windowsFolder + "\\TAVOKWI.OLD";
        api.GetWindowsDirectoryA = TestWindowsFolder;
    }

    std::string Wininit() const
    {
        std::string text;
        EXPECT_TRUE(ReadWholeFile(wininit, text));
        return text;
    }

    bool NothingLeftBeside() const { return !FileExists(fresh) && !FileExists(old); }
};

const char Before[] = "[rename]\r\nNUL=C:\\OLD.TMP\r\nC:\\A.DLL=C:\\A.NEW\r\n";

}  // namespace

TEST(RestartDeletion, TheShortPathIsWrittenInTheOemCodePage)
{
    // "é" is E9 in code page 1252, the engine tests' ANSI code page, and 82
    // in both OEM code pages Wine may pair with it.
    ASSERT_EQ(GetACP(), 1252u);
    ASSERT_TRUE(GetOEMCP() == 437u || GetOEMCP() == 850u) << GetOEMCP();
    Windows95Folder folder;
    folder.api.GetShortPathNameA = ChosenShortPath;
    chosenShortPath = "C:\\DOCS\\CAF\xE9.EXE";
    EXPECT_TRUE(ScheduleWininitDeletion(folder.api, "C:\\Docs\\caf\xE9.exe"));
    EXPECT_EQ(folder.Wininit(), "[rename]\r\nNUL=C:\\DOCS\\CAF\x82.EXE\r\n");

    // The euro sign and "Š" have no form in either: CharToOemA writes '?'
    // for the one, and for the other an "S" that names another file.
    for (const char* shortPath : {"C:\\DOCS\\PRIC\x80.EXE", "C:\\DOCS\\\x8A" "ALE.EXE"}) {
        chosenShortPath = shortPath;
        EXPECT_FALSE(ScheduleWininitDeletion(folder.api, "C:\\Docs\\file.exe")) << shortPath;
    }
    EXPECT_EQ(folder.Wininit(), "[rename]\r\nNUL=C:\\DOCS\\CAF\x82.EXE\r\n");
}

// Run in every locale: under a double-byte code page a character's second
// byte may be a backslash.
TEST(RestartDeletionLocalized, AShortPathTooLongForMsDosIsRefused)
{
    Windows95Folder folder;
    TempTree::WriteFileAt(folder.wininit, Before);

    // Real folders, as deep as a short path can go in Windows and not in
    // real-mode MS-DOS.
    const std::string deep = folder.tree.WriteFile(
        "LEVEL001\\LEVEL002\\LEVEL003\\LEVEL004\\LEVEL005\\LEVEL006\\LEVEL007\\LEVEL008\\WORM.EXE", "worm");
    char shortPath[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameA(deep.c_str(), shortPath, MAX_PATH), 80u) << shortPath;
    EXPECT_FALSE(ScheduleWininitDeletion(folder.api, deep.c_str()));
    EXPECT_EQ(folder.Wininit(), Before);

    // At the limit: the folder "C:\" and 63 more characters, then an 8.3 name.
    folder.api.GetShortPathNameA = ChosenShortPath;
    std::string longest = "C:\\" + std::string(7, 'D');
    for (int i = 0; i < 7; ++i)
        longest += "\\" + std::string(7, 'D');
    ASSERT_EQ(longest.size(), 66u);
    struct Case {
        std::string path;
        bool reached;
    };
    std::vector<Case> cases = {
        {longest + "\\WORMFILE.EXE", true},
        {longest + "D\\WORM.EXE", false},       // a folder one longer, though the path is shorter
        {longest + "\\WORMFILE.EXE1", false},  // no 8.3 name
        {"\\\\SERVER\\SHARE\\WORM.EXE", false},   // no drive before Windows runs
    };
    // A name that starts with a letter whose second byte is a backslash in
    // this code page (936, 950 and 932 each have one of these): still in
    // the folder at the limit.
    for (const wchar_t letter : std::wstring(L"\u8AA0\u8868\u8A31")) {
        char bytes[8] = {};
        const wchar_t one[2] = {letter, L'\0'};
        BOOL lost = FALSE;
        if (WideCharToMultiByte(CP_ACP, 0, one, -1, bytes, sizeof bytes, nullptr, &lost) == 3 && !lost &&
            bytes[1] == '\\') {
            cases.push_back({longest + "\\" + std::string(bytes, 2) + "ORMFIL.EXE", true});
            break;
        }
    }
    const UINT codePage = GetACP();
    EXPECT_EQ(cases.size(), codePage == 936 || codePage == 950 || codePage == 932 ? 5u : 4u);
    std::string expected = Before;
    for (const auto& c : cases) {
        chosenShortPath = c.path;
        EXPECT_EQ(ScheduleWininitDeletion(folder.api, "C:\\worm.exe"), c.reached) << c.path;
        if (c.reached)
            expected += "NUL=" + c.path + "\r\n";
        EXPECT_EQ(folder.Wininit(), expected) << c.path;
    }
}

TEST(RestartDeletion, AWriteThatFailsHalfwayLeavesEveryLineThere)
{
    // Where [rename] is followed by another section the lines after it move;
    // where it ends the file the line is appended, and half a line such as
    // "NUL=C:\AB" would name another file.
    for (const std::string& before : {std::string(Before) + "\r\n[Other]\r\nkey=value\r\n", std::string(Before)}) {
        Windows95Folder folder;
        TempTree::WriteFileAt(folder.wininit, before);
        folder.api.WriteFile = WriteHalfThenFail;
        EXPECT_FALSE(AddWininitDeletion(folder.api, folder.wininit.c_str(), "C:\\ABCDEFGH\\WORM.EXE"));
        EXPECT_EQ(folder.Wininit(), before);
        EXPECT_TRUE(folder.NothingLeftBeside());

        folder.api.WriteFile = ::WriteFile;
        EXPECT_TRUE(AddWininitDeletion(folder.api, folder.wininit.c_str(), "C:\\ABCDEFGH\\WORM.EXE"));
        EXPECT_NE(folder.Wininit().find(std::string(Before) + "NUL=C:\\ABCDEFGH\\WORM.EXE\r\n"), std::string::npos);
        EXPECT_TRUE(folder.NothingLeftBeside());
    }
}

TEST(RestartDeletion, RunningOutOfMemoryAnywhereLeavesEveryLineThere)
{
    // Out of memory at each allocation in turn: the file is either as it
    // was or has the line added, never cut short.
    Windows95Folder folder;
    TempTree::WriteFileAt(folder.wininit, Before);
    for (LONG allowed = 0;; ++allowed) {
        bool added;
        bool refused;
        {
            const NoMemoryAfter noMemory(allowed);
            added = AddWininitDeletion(folder.api, folder.wininit.c_str(), "C:\\WORM.EXE");
            refused = NoMemoryAfter::Refused();
        }
        EXPECT_TRUE(folder.NothingLeftBeside()) << allowed;
        if (!added) {
            EXPECT_EQ(folder.Wininit(), Before) << allowed;
            ASSERT_TRUE(refused);
            continue;
        }
        EXPECT_EQ(folder.Wininit(), std::string(Before) + "NUL=C:\\WORM.EXE\r\n") << allowed;
        EXPECT_FALSE(refused);
        break;
    }
}

TEST(RestartDeletion, ARenameThatFailsLeavesEveryLineThere)
{
    // The old file is renamed away (call 0), the new one put in its place
    // (call 1), and where that fails the old one put back (call 2).
    const std::string added = std::string(Before) + "NUL=C:\\WORM.EXE\r\n";
    for (const unsigned failing : {1u, 2u}) {
        Windows95Folder folder;
        TempTree::WriteFileAt(folder.wininit, Before);
        folder.api.MoveFileA = MoveFailingAtChosenCalls;
        moves = 0;
        failingMoves = failing;
        EXPECT_FALSE(AddWininitDeletion(folder.api, folder.wininit.c_str(), "C:\\WORM.EXE")) << failing;
        EXPECT_EQ(folder.Wininit(), Before);
        EXPECT_TRUE(folder.NothingLeftBeside());
    }

    // The new file cannot be put in place, nor the old one back: no
    // WININIT.INI is left for a while, but both files are, and the next
    // call puts the new one in place before it adds its own line.
    Windows95Folder folder;
    TempTree::WriteFileAt(folder.wininit, Before);
    folder.api.MoveFileA = MoveFailingAtChosenCalls;
    moves = 0;
    failingMoves = 2u | 4u;
    EXPECT_FALSE(AddWininitDeletion(folder.api, folder.wininit.c_str(), "C:\\WORM.EXE"));
    EXPECT_FALSE(FileExists(folder.wininit));
    failingMoves = 0;
    EXPECT_TRUE(AddWininitDeletion(folder.api, folder.wininit.c_str(), "C:\\OTHER.EXE"));
    EXPECT_EQ(folder.Wininit(), added + "NUL=C:\\OTHER.EXE\r\n");
    EXPECT_TRUE(folder.NothingLeftBeside());
}

TEST(RestartDeletion, WhatAnInterruptedReplaceLeftIsFinished)
{
    const std::string withWorm = std::string(Before) + "NUL=C:\\WORM.EXE\r\n";
    const std::string other = "NUL=C:\\OTHER.EXE\r\n";
    // An empty text: no such file; an empty "after": the call fails and
    // nothing changes.
    struct {
        const char* what;
        std::string wininit;
        std::string fresh;
        std::string old;
        std::string after;
    } const cases[] = {
        {"between the renames: the new file goes in place", "", withWorm, Before, withWorm + other},
        // The system started since: WININIT.EXE carried the lines out, and
        // they must not come back.
        {"after the new file was in place, then a start", "", "", Before, "[rename]\r\n" + other},
        {"after the new file was in place", withWorm, "", Before, withWorm + other},
        {"while the new file was written", Before, "[rename]\r\nNUL=C:\\WO", "", Before + other},
        // Another program made a WININIT.INI while there was none: its lines
        // are carried out first, and nothing here is touched.
        {"between the renames, and a new WININIT.INI made since", "[rename]\r\nNUL=C:\\SETUP.TMP\r\n", withWorm,
         Before, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Windows95Folder folder;
        if (!c.wininit.empty())
            TempTree::WriteFileAt(folder.wininit, c.wininit);
        if (!c.fresh.empty())
            TempTree::WriteFileAt(folder.fresh, c.fresh);
        if (!c.old.empty())
            TempTree::WriteFileAt(folder.old, c.old);
        EXPECT_EQ(AddWininitDeletion(folder.api, folder.wininit.c_str(), "C:\\OTHER.EXE"), !c.after.empty());
        if (!c.after.empty()) {
            EXPECT_EQ(folder.Wininit(), c.after);
            EXPECT_TRUE(folder.NothingLeftBeside());
        } else {
            EXPECT_EQ(folder.Wininit(), c.wininit);
            std::string text;
            EXPECT_TRUE(ReadWholeFile(folder.fresh, text) && text == c.fresh);
            EXPECT_TRUE(ReadWholeFile(folder.old, text) && text == c.old);
        }
    }
}

TEST(RestartDeletion, AReadOnlyWininitTakesEveryLaterRegistrationAndStaysReadOnly)
{
    Windows95Folder folder;
    TempTree::WriteFileAt(folder.wininit, Before);
    constexpr DWORD Kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(SetFileAttributesA(folder.wininit.c_str(), Kept));
    const DWORD attributes = GetFileAttributesA(folder.wininit.c_str());
    EXPECT_TRUE(AddWininitDeletion(folder.api, folder.wininit.c_str(), "C:\\WORM.EXE"));
    EXPECT_TRUE(AddWininitDeletion(folder.api, folder.wininit.c_str(), "C:\\OTHER.EXE"));
    EXPECT_EQ(folder.Wininit(), std::string(Before) + "NUL=C:\\WORM.EXE\r\nNUL=C:\\OTHER.EXE\r\n");
    EXPECT_EQ(GetFileAttributesA(folder.wininit.c_str()), attributes);
    EXPECT_TRUE(folder.NothingLeftBeside());
    SetFileAttributesA(folder.wininit.c_str(), FILE_ATTRIBUTE_NORMAL);
}

namespace {

// A folder whose path is longer than MAX_PATH + 8 characters.
const std::wstring LongFolder = L"C:\\" + std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b');
const std::wstring LongSubst = L"\\??\\" + LongFolder;

// Drive letters as QueryDosDevice tells them: S: a SUBST of a folder on T:,
// itself a SUBST of C:\real; U: a device this session alone has, which D:
// names for every session; V: one that no letter of every session names;
// W: a SUBST of a long path, which 2000 and XP give only into a buffer
// that holds it all.
DWORD WINAPI ChosenDosDevice(LPCWSTR device, LPWSTR target, DWORD size)
{
    const struct {
        const wchar_t* device;
        const wchar_t* target;
    } devices[] = {
        {L"S:", L"\\??\\T:\\folder\\"}, {L"T:", L"\\??\\C:\\real"},
        {L"C:", L"\\Device\\HarddiskVolume1"}, {L"Global\\C:", L"\\Device\\HarddiskVolume1"},
        {L"U:", L"\\Device\\HarddiskVolume7"}, {L"Global\\D:", L"\\Device\\HarddiskVolume7"},
        {L"V:", L"\\Device\\HarddiskVolume9"}, {L"W:", LongSubst.c_str()},
    };
    for (const auto& d : devices) {
        if (std::wcscmp(device, d.device) == 0 && std::wcslen(d.target) + 2 > size) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        if (std::wcscmp(device, d.device) == 0) {
            std::memset(target, 0, (std::wcslen(d.target) + 2) * sizeof(wchar_t));
            std::wcscpy(target, d.target);
            return static_cast<DWORD>(std::wcslen(d.target) + 2);
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
}

std::wstring lastRegistered;

BOOL WINAPI RecordRegistration(LPCWSTR path, LPCWSTR, DWORD)
{
    lastRegistered = path;
    return TRUE;
}

DWORD WINAPI XpVersion()
{
    return 0x0A280105;
}

UINT WINAPI FixedDrive(LPCSTR)
{
    return DRIVE_FIXED;
}

// The volume's device, opened for the bus query: any handle stands for it,
// the path kept for the query.
std::wstring lastOpened;

HANDLE WINAPI AnyVolume(LPCWSTR path, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    lastOpened = path;
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

// XP with the chosen drive letters, each registration recorded.
RuntimeApi XpRegistrations()
{
    RuntimeApi api;
    api.GetVersion = XpVersion;
    api.QueryDosDeviceW = ChosenDosDevice;
    api.MoveFileExW = RecordRegistration;
    api.CreateFileW = AnyVolume;
    return api;
}

}  // namespace

TEST(RestartDeletion, BeforeVistaALetterOfOneLogonSessionIsRegisteredByALetterOfEverySession)
{
    RuntimeApi api = XpRegistrations();
    api.GetDriveTypeA = FixedDrive;
    const struct {
        const wchar_t* path;
        const wchar_t* registered;  // null: none
    } cases[] = {
        {L"S:\\worm.exe", L"\\\\?\\C:\\real\\folder\\worm.exe"},
        {L"U:\\sub\\worm.exe", L"\\\\?\\D:\\sub\\worm.exe"},
        {L"C:\\worm.exe", L"\\\\?\\C:\\worm.exe"},
        {L"V:\\worm.exe", nullptr},
        {L"W:\\worm.exe", nullptr},  // below, with the long path
    };
    for (const auto& c : cases) {
        const std::wstring registered = std::wcscmp(c.path, L"W:\\worm.exe") == 0
                                            ? L"\\\\?\\" + LongFolder + L"\\worm.exe"
                                            : c.registered ? c.registered : L"";
        lastRegistered.clear();
        // As from the program's own folder: the letters are judged here, not
        // who could change the folders of a path.
        EXPECT_EQ(ScheduleDeletionAtRestart(api, c.path, INVALID_HANDLE_VALUE, true), !registered.empty())
            << AnsiFromWide(c.path).c_str();
        EXPECT_EQ(lastRegistered, registered) << AnsiFromWide(c.path).c_str();
    }
}

TEST(RestartDeletion, ALineAnotherProgramLeftInTheProfileCacheIsKept)
{
    Windows95Folder folder;
    TempTree::WriteFileAt(folder.wininit, Before);
    cachedFile = folder.wininit;
    cachedText = std::string(Before) + "NUL=C:\\CACHED.TMP\r\n";
    folder.api.WritePrivateProfileStringA = CachingProfileWrite;
    EXPECT_TRUE(AddWininitDeletion(folder.api, folder.wininit.c_str(), "C:\\WORM.EXE"));
    // The system flushes its cache at some later time.
    CachingProfileWrite(nullptr, nullptr, nullptr, folder.wininit.c_str());
    EXPECT_EQ(folder.Wininit(), std::string(Before) + "NUL=C:\\CACHED.TMP\r\nNUL=C:\\WORM.EXE\r\n");
}

TEST(RestartDeletion, TheNewLineStandsOnALineOfItsOwn)
{
    struct {
        const char* before;  // null: no file yet
        const char* after;
    } const cases[] = {
        {nullptr, "[rename]\r\nNUL=C:\\WORM.EXE\r\n"},
        {"[Other]\r\nkey=value", "[Other]\r\nkey=value\r\n[rename]\r\nNUL=C:\\WORM.EXE\r\n"},
        // The last line without its line end, with blanks after it, or
        // ended by CR alone.
        {"[rename]\r\nNUL=C:\\OLD.TMP", "[rename]\r\nNUL=C:\\OLD.TMP\r\nNUL=C:\\WORM.EXE\r\n"},
        {"[rename]\r\nNUL=C:\\OLD.TMP \t", "[rename]\r\nNUL=C:\\OLD.TMP \t\r\nNUL=C:\\WORM.EXE\r\n"},
        {"[rename]\r\nNUL=C:\\OLD.TMP\r", "[rename]\r\nNUL=C:\\OLD.TMP\r\r\nNUL=C:\\WORM.EXE\r\n"},
        // Lines ended by CR alone, or LF alone: the section is still found.
        {"[rename]\rNUL=C:\\OLD.TMP", "[rename]\rNUL=C:\\OLD.TMP\r\nNUL=C:\\WORM.EXE\r\n"},
        {"[rename]\nNUL=C:\\OLD.TMP\n[x]\nk=v", "[rename]\nNUL=C:\\OLD.TMP\nNUL=C:\\WORM.EXE\r\n[x]\nk=v"},
        // A DOS editor's Ctrl-Z ends what a reader takes, also where it
        // ends the last line or follows a file without the section.
        {"[rename]\r\nNUL=C:\\OLD.TMP\r\n\x1A", "[rename]\r\nNUL=C:\\OLD.TMP\r\nNUL=C:\\WORM.EXE\r\n\x1A"},
        {"[rename]\r\nNUL=C:\\OLD.TMP\x1A", "[rename]\r\nNUL=C:\\OLD.TMP\r\nNUL=C:\\WORM.EXE\r\n\x1A"},
        {"[Other]\r\nkey=value\r\n\x1A", "[Other]\r\nkey=value\r\n[rename]\r\nNUL=C:\\WORM.EXE\r\n\x1A"},
        // There already, in other letters.
        {"[RENAME]\r\nnul=c:\\worm.exe\r\n", "[RENAME]\r\nnul=c:\\worm.exe\r\n"},
    };
    for (const auto& c : cases) {
        Windows95Folder folder;
        if (c.before)
            TempTree::WriteFileAt(folder.wininit, c.before);
        EXPECT_TRUE(AddWininitDeletion(folder.api, folder.wininit.c_str(), "C:\\WORM.EXE"));
        EXPECT_EQ(folder.Wininit(), c.after) << (c.before ? c.before : "(no file)");
        EXPECT_TRUE(folder.NothingLeftBeside());
    }
    // One that cannot be read registers nothing: the row says Kill Failed.
    Windows95Folder folder;
    EXPECT_FALSE(AddWininitDeletion(folder.api, folder.tree.MakeDir("a-folder").c_str(), "C:\\WORM.EXE"));
}

TEST(Windows95DeviceNames, OnlyThatFamilysDevicesAreEvasive)
{
    auto evasive = [](const char* name) { return IsEvasiveName(name, std::strlen(name)); };
    for (const char* device : {"CON", "prn", "Aux", "NUL", "CLOCK$", "clock$.exe", "COM1", "com2.exe", "COM3",
                               "COM4.dll", "LPT1", "lpt2", "LPT3.txt", "nul .bin", "CON.tar.gz"})
        EXPECT_TRUE(evasive(device)) << device;
    // Devices on the NT family only.
    for (const char* plain : {"COM0", "COM5", "com9.exe", "LPT0", "LPT4", "lpt9.exe", "COM\xB9", "LPT\xB2",
                              "COM\xB3.exe", "CONIN$", "conout$", "CONOUT$.txt", "COM10", "CONX", "LPT"})
        EXPECT_FALSE(evasive(plain)) << plain;
}

namespace {

// A volume as the table describes it: a CD mounted in the folder C:\Mnt\cd,
// and C: itself of the chosen type, read-only flag and bus.
UINT chosenType = DRIVE_FIXED;
bool readOnlyVolume = false;
STORAGE_BUS_TYPE chosenBus = BusTypeAta;

BOOL WINAPI ChosenVolumePath(LPCWSTR path, LPWSTR root, DWORD size)
{
    const std::wstring mounted = L"C:\\Mnt\\cd\\";
    const std::wstring given = PlainPath(path);
    const std::wstring answer = given.compare(0, mounted.size(), mounted) == 0 ? mounted : L"C:\\";
    if (answer.size() >= size)
        return FALSE;
    std::wcscpy(root, answer.c_str());
    return TRUE;
}

UINT WINAPI ChosenTypeOfRoot(LPCSTR root)
{
    return std::strcmp(root, "C:\\Mnt\\cd\\") == 0 ? DRIVE_CDROM : chosenType;
}

BOOL WINAPI ChosenFlags(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR, DWORD)
{
    if (flags)
        *flags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK | (readOnlyVolume ? 0x00080000 : 0);
    return TRUE;
}

// Only the volume's device answers; a root folder (\\.\C:\) is none.
BOOL WINAPI ChosenBus(HANDLE, DWORD code, LPVOID, DWORD, LPVOID out, DWORD outBytes, LPDWORD returned, LPOVERLAPPED)
{
    if (code != IOCTL_STORAGE_QUERY_PROPERTY || outBytes < sizeof(STORAGE_DEVICE_DESCRIPTOR) ||
        lastOpened != L"\\\\.\\C:")
        return FALSE;
    auto* descriptor = static_cast<STORAGE_DEVICE_DESCRIPTOR*>(out);
    descriptor->BusType = chosenBus;
    *returned = sizeof(STORAGE_DEVICE_DESCRIPTOR);
    return TRUE;
}

}  // namespace

TEST(RestartDeletion, TheVolumeThePathLiesOnDecidesNotItsFirstLetter)
{
    RuntimeApi api = XpRegistrations();
    api.GetVolumePathNameW = ChosenVolumePath;
    api.GetDriveTypeA = ChosenTypeOfRoot;
    api.GetVolumeInformationW = ChosenFlags;
    api.DeviceIoControl = ChosenBus;
    const struct {
        const char* what;
        const wchar_t* path;
        UINT type;
        bool readOnly;
        STORAGE_BUS_TYPE bus;
        bool registered;
    } cases[] = {
        {"a fixed disk", L"C:\\worm.exe", DRIVE_FIXED, false, BusTypeAta, true},
        {"a CD mounted in a folder of a fixed disk", L"C:\\Mnt\\cd\\worm.exe", DRIVE_FIXED, false, BusTypeAta, false},
        {"a read-only fixed volume", L"C:\\worm.exe", DRIVE_FIXED, true, BusTypeAta, false},
        {"a removable disk", L"C:\\worm.exe", DRIVE_REMOVABLE, false, BusTypeScsi, false},
        {"a fixed disk on USB", L"C:\\worm.exe", DRIVE_FIXED, false, BusTypeUsb, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        chosenType = c.type;
        readOnlyVolume = c.readOnly;
        chosenBus = c.bus;
        lastRegistered.clear();
        EXPECT_EQ(ScheduleDeletionAtRestart(api, c.path, INVALID_HANDLE_VALUE, true), c.registered);
        EXPECT_EQ(lastRegistered.empty(), !c.registered);
    }
}

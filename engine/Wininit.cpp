// Deletion at the next start on the Windows 95 family: a line in the
// [rename] section of WININIT.INI, which WININIT.EXE carries out in
// real-mode MS-DOS before Windows runs.
#include "Wininit.h"

#include "FileSystem.h"
#include "Handle.h"
#include "Strings.h"

#include <algorithm>
#include <cstring>

namespace {

// WININIT.INI is a handful of lines; anything much larger is not one to edit.
constexpr DWORD MaxWininitBytes = 1024 * 1024;

// WININIT.EXE runs in real-mode MS-DOS, which keeps a folder's path in 64
// bytes after "C:\": the MS-DOS 5.0 Programmer's Reference, Int 21h
// Function 47h, gives it "as long as 63 bytes (without the initial
// backslash), plus the terminating zero byte"; Knowledge Base Q107106 counts
// "the MS-DOS limit of 66 characters" with the drive, colon and backslash.
// A file adds a backslash and its 8.3 name to its folder.
constexpr size_t MaxDosFolder = 3 + 63;
constexpr size_t MaxDosName = 8 + 1 + 3;

// The short path as real-mode MS-DOS reads it: in the OEM code page, where
// Windows gives it in the ANSI one (Knowledge Base Q75435: "all string
// parameters to MS-DOS (filenames) are implicitly coded in the current code
// page"); "é" is E9 in code page 1252 and 82 in 437 and 850. False when a
// character has no OEM form, for which CharToOemA puts a look-alike or '?'
// that would name another file or none, or when the path is not one that
// MS-DOS reaches.
bool DosPathOf(const char* shortPath, AString& dosPath)
{
    const size_t length = std::strlen(shortPath);
    AString oem(length + 1, '\0');
    AString back(length + 1, '\0');
    if (oem.failed() || back.failed())
        return false;
    CharToOemA(shortPath, &oem[0]);
    OemToCharA(oem.c_str(), &back[0]);
    if (std::strcmp(back.c_str(), shortPath) != 0 || std::strlen(oem.c_str()) != length)
        return false;
    oem.resize(length);

    // From a drive's letter: a network path (\\server\share) is not reached
    // before Windows runs.
    if (length < 3 || shortPath[1] != ':' || shortPath[2] != '\\')
        return false;
    // Found in the ANSI form, where a double-byte character's second byte is
    // told from a backslash; the code pages differ only where neither has
    // such characters, and then byte for byte.
    size_t folder = 0;
    for (size_t i = 0; i < length; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(shortPath[i])) && i + 1 < length)
            ++i;
        else if (shortPath[i] == '\\')
            folder = i;
    }
    if (folder > MaxDosFolder || length - folder - 1 > MaxDosName)
        return false;
    dosPath = oem;
    return !dosPath.failed();
}

bool ReadWhole(HANDLE file, AString& text)
{
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size > MaxWininitBytes)
        return false;
    text.resize(size);
    if (text.failed())
        return false;
    DWORD read = 0;
    return size == 0 || (ReadFile(file, &text[0], size, &read, nullptr) && read == size);
}

// The file made anew with these bytes, on the disk when this returns true.
bool WriteWholeFile(const RuntimeApi& api, const AString& path, const AString& bytes)
{
    if (path.failed() || bytes.failed())
        return false;
    FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!file)
        return false;
    const auto size = static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    return api.WriteFile(file.Get(), bytes.data(), size, &written, nullptr) && written == size &&
           FlushFileBuffers(file.Get());
}

bool Exists(const AString& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A copy renamed from a read-only WININIT.INI is read-only too.
bool DeleteAnyway(const AString& path)
{
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != FALSE;
}

// The new WININIT.INI with the attributes of the one it replaced.
void KeepAttributes(const AString& path, DWORD attributes)
{
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & ~FILE_ATTRIBUTE_ARCHIVE) != 0)
        SetFileAttributesA(path.c_str(), attributes);
}

AString Trimmed(const AString& line)
{
    static const char Blanks[] = " \t\r\n";
    const size_t first = line.find_first_not_of(Blanks);
    if (first == AString::npos)
        return line.substr(0, 0);
    const size_t last = line.find_last_not_of(Blanks);
    return line.substr(first, last - first + 1);
}

// Case-insensitive in ASCII only: a double-byte character stays as it is.
bool SameText(const AString& a, const char* b)
{
    if (a.size() != AString::Length(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z')
            x = static_cast<unsigned char>(x - 0x20);
        if (y >= 'a' && y <= 'z')
            y = static_cast<unsigned char>(y - 0x20);
        if (x != y)
            return false;
    }
    return true;
}

enum class RenameLine { Added, Present, NoMemory };

// The text with the line added after the last line of the [rename] section
// that is not blank, or at the end with a new section; Present when the
// section holds the line already.
RenameLine WithRenameLine(const AString& text, const AString& wanted, AString& updated)
{
    if (text.failed() || wanted.failed())
        return RenameLine::NoMemory;
    size_t insertAt = AString::npos;
    bool inRename = false;
    // A DOS editor may end the file with Ctrl-Z, where a reader stops: what
    // follows it is never read, and nothing is added there.
    const size_t readable = std::min(text.find('\x1A'), text.size());
    // A line ends with CR LF, LF or CR alone.
    for (size_t start = 0; start < readable;) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == AString::npos || end >= readable)
            end = readable;
        else if (text[end] == '\r' && end + 1 < readable && text[end + 1] == '\n')
            end += 2;
        else
            end += 1;
        const AString line = Trimmed(text.substr(start, end - start));
        if (line.failed())
            return RenameLine::NoMemory;
        if (!line.empty() && line[0] == '[') {
            inRename = SameText(line, "[rename]");
            if (inRename)
                insertAt = end;
        } else if (inRename && !line.empty()) {
            if (SameText(line, wanted.c_str()))
                return RenameLine::Present;
            insertAt = end;
        }
        start = end;
    }

    AString addition;
    if (insertAt == AString::npos) {
        insertAt = readable;
        addition = "[rename]\r\n";
    }
    // The line before may lack its line end (a file's last line often does),
    // or end with CR alone, which a reader of CR LF lines may not take as
    // one: a blank line is better than two lines joined.
    if (insertAt > 0 && text[insertAt - 1] != '\n')
        addition.insert(0, "\r\n");
    addition += wanted;
    addition += "\r\n";
    updated = text.substr(0, insertAt);
    updated += addition;
    updated += text.substr(insertAt);
    return updated.failed() ? RenameLine::NoMemory : RenameLine::Added;
}

// The Windows 95 family has no rename that replaces a file. WININIT.INI is
// therefore replaced in steps: the new file is written whole beside it as
// TAVOKWI.NEW, the old one renamed to TAVOKWI.OLD, the new one renamed to
// WININIT.INI, the old one deleted. Steps cut short by a power cut leave
// these names behind; a start in between runs WININIT.EXE on what
// WININIT.INI holds then, and renames it. This finishes what such a cut
// left: true when it is done.
bool FinishInterruptedReplace(const RuntimeApi& api, const AString& wininit, const AString& fresh,
                              const AString& old)
{
    const bool haveOld = Exists(old);
    const bool haveFresh = Exists(fresh);
    if (haveOld && haveFresh) {
        // Cut between the renames: the new file is whole (the old one is
        // renamed only then) and holds every line of the old one, none of
        // which was carried out, as there was no WININIT.INI. A WININIT.INI
        // made since by another program is left to be carried out first.
        if (Exists(wininit) || !api.MoveFileA(fresh.c_str(), wininit.c_str()))
            return false;
        KeepAttributes(wininit, GetFileAttributesA(old.c_str()));
        return DeleteAnyway(old);
    }
    if (haveOld) {
        // Cut after the new file was in place: its lines are in WININIT.INI,
        // or were carried out at a start since.
        return DeleteAnyway(old);
    }
    // A new file never put in place, perhaps not whole.
    return !haveFresh || DeleteAnyway(fresh);
}

}  // namespace

bool AddWininitDeletion(const RuntimeApi& api, const char* wininitPath, const char* dosPath)
{
    const AString wininit = wininitPath;
    const size_t slash = wininit.find_last_of('\\');
    const AString folder = slash == AString::npos ? AString() : wininit.substr(0, slash + 1);
    const AString fresh = folder + "TAVOKWI.NEW";
    const AString old = folder + "TAVOKWI.OLD";
    if (wininit.failed() || fresh.failed() || old.failed())
        return false;

    // The system keeps a cached copy of a profile file, which another
    // program's WritePrivateProfileString may have changed: written out
    // first, it is what is read here, and a later flush does not write the
    // copy without this line over the file. It answers FALSE whatever it did.
    api.WritePrivateProfileStringA(nullptr, nullptr, nullptr, wininitPath);

    if (!FinishInterruptedReplace(api, wininit, fresh, old))
        return false;

    // Kept open while the new file is written, so that no other writer
    // comes between.
    FileHandle file(CreateFileA(wininitPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool existed = file.IsValid();
    if (!existed && GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    const DWORD attributes = existed ? GetFileAttributesA(wininitPath) : INVALID_FILE_ATTRIBUTES;
    AString text;
    if (existed && !ReadWhole(file.Get(), text))
        return false;

    AString updated;
    const RenameLine edit = WithRenameLine(text, AString("NUL=") + dosPath, updated);
    if (edit == RenameLine::Present)
        return true;
    if (edit == RenameLine::NoMemory)
        return false;
    if (!WriteWholeFile(api, fresh, updated)) {
        DeleteFileA(fresh.c_str());
        return false;
    }
    file.Reset();

    if (existed && !api.MoveFileA(wininitPath, old.c_str())) {
        DeleteFileA(fresh.c_str());
        return false;
    }
    if (!api.MoveFileA(fresh.c_str(), wininitPath)) {
        // The old file back in its place; where even that fails, the next
        // call finds both and puts the new one in place.
        if (!existed || api.MoveFileA(old.c_str(), wininitPath))
            DeleteFileA(fresh.c_str());
        return false;
    }
    KeepAttributes(wininit, attributes);
    // Left behind, it is deleted by the next call.
    if (existed)
        DeleteAnyway(old);
    return true;
}

bool ScheduleWininitDeletion(const RuntimeApi& api, const char* path)
{
    // WININIT.EXE runs before long names are known: it wants the 8.3 path.
    char shortPath[MAX_PATH] = {};
    const DWORD shortLength = api.GetShortPathNameA(path, shortPath, MAX_PATH);
    if (shortLength == 0 || shortLength >= MAX_PATH)
        return false;
    AString dosPath;
    if (!DosPathOf(shortPath, dosPath))
        return false;
    char windows[MAX_PATH] = {};
    const UINT windowsLength = api.GetWindowsDirectoryA(windows, MAX_PATH);
    if (windowsLength == 0 || windowsLength >= MAX_PATH)
        return false;
    AString wininit(windows, windowsLength);
    if (!wininit.empty() && wininit.back() != '\\')
        wininit += '\\';
    wininit += "WININIT.INI";
    if (wininit.failed())
        return false;
    return AddWininitDeletion(api, wininit.c_str(), dosPath.c_str());
}


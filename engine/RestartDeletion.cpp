#include "RestartDeletion.h"

#include "FileSystem.h"
#include "Handle.h"

#include <string>

namespace {

// WININIT.INI is a handful of lines; anything much larger is not one to edit.
constexpr DWORD MaxWininitBytes = 1024 * 1024;

bool ReadWhole(HANDLE file, std::string& text)
{
    DWORD high = 0;
    const DWORD size = GetFileSize(file, &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size > MaxWininitBytes)
        return false;
    text.resize(size);
    DWORD read = 0;
    return size == 0 || (ReadFile(file, &text[0], size, &read, nullptr) && read == size);
}

bool WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    return bytes.empty() ||
           (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size());
}

std::string Trimmed(const std::string& line)
{
    const size_t first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    const size_t last = line.find_last_not_of(" \t\r\n");
    return line.substr(first, last - first + 1);
}

// Case-insensitive in ASCII only: a double-byte character stays as it is.
bool SameText(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
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

}  // namespace

bool AddWininitDeletion(const char* wininitPath, const char* shortPath)
{
    FileHandle file(CreateFileA(wininitPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    std::string text;
    if (!ReadWhole(file.Get(), text))
        return false;

    const std::string wanted = std::string("NUL=") + shortPath;
    // Where the new line goes: after the last line of the [rename] section
    // that is not blank, or at the end with a new section.
    size_t insertAt = std::string::npos;
    bool inRename = false;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string line = Trimmed(text.substr(start, end - start));
        if (!line.empty() && line[0] == '[') {
            inRename = SameText(line, "[rename]");
            if (inRename)
                insertAt = end;
        } else if (inRename && !line.empty()) {
            if (SameText(line, wanted))
                return true;
            insertAt = end;
        }
        start = end;
    }

    std::string addition;
    if (insertAt == std::string::npos) {
        insertAt = text.size();
        addition = "[rename]\r\n";
    }
    // The line before may lack its line end (a file's last line often does).
    if (insertAt > 0 && text[insertAt - 1] != '\n')
        addition.insert(0, "\r\n");
    addition += wanted + "\r\n";

    // Appending leaves the lines already there untouched; only a section
    // that is followed by another needs the rest of the file rewritten.
    const DWORD from = static_cast<DWORD>(insertAt);
    const std::string rest = addition + text.substr(insertAt);
    if (SetFilePointer(file.Get(), static_cast<LONG>(from), nullptr, FILE_BEGIN) != from)
        return false;
    return WriteAll(file.Get(), rest) && SetEndOfFile(file.Get());
}

namespace {

// A drive whose deletions at restart would never be carried out: network
// drives (MoveFileEx: "the file cannot exist on a remote share, because
// delayed operations are performed before the network is available"; on
// the Windows 95 family WININIT.EXE runs before any network or CD-ROM
// driver is loaded) and CD and DVD drives, which are read-only besides.
bool LaterDeletionReaches(const RuntimeApi& api, const wchar_t* path)
{
    const wchar_t* plain = PlainPath(path);
    if (plain[0] == L'\\' && plain[1] == L'\\')
        return false;  // a share
    if (plain[0] == L'\0' || plain[1] != L':')
        return true;  // no drive to ask about
    const char root[4] = {static_cast<char>(plain[0]), ':', '\\', '\0'};
    const UINT type = api.GetDriveTypeA(root);
    return type != DRIVE_REMOTE && type != DRIVE_CDROM;
}

// Plain path handling reads the path as the same file: it fits in MAX_PATH
// and no part of it ends in a dot or a space or names a device.
bool ReadsAsItself(const wchar_t* path)
{
    wchar_t full[MAX_PATH] = {};
    const DWORD fullLength = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    return fullLength > 0 && fullLength < MAX_PATH && std::wstring(full, fullLength) == path;
}

// Windows 2000 takes no \\?\ path with MOVEFILE_DELAY_UNTIL_REBOOT (the
// MoveFileEx reference of that time), and NT 4.0, of older code, is given
// the same: the plain path where it reads as itself, else the short path,
// else none (empty).
std::wstring PathForOlderNt(const wchar_t* path)
{
    const wchar_t* plain = PlainPath(path);
    if (ReadsAsItself(plain))
        return plain;
    wchar_t shortPath[MAX_PATH + 4] = {};
    const DWORD length = GetShortPathNameW(ExtendedPath(plain).c_str(), shortPath, MAX_PATH + 4);
    if (length == 0 || length >= MAX_PATH + 4)
        return std::wstring();
    const wchar_t* shortPlain = PlainPath(shortPath);
    return ReadsAsItself(shortPlain) ? std::wstring(shortPlain) : std::wstring();
}

}  // namespace

bool ScheduleDeletionAtRestart(const RuntimeApi& api, const wchar_t* path)
{
    if (!LaterDeletionReaches(api, path))
        return false;
    const DWORD version = api.GetVersion();
    if (OsFamilyFromVersion(version) == Win9x)
        return ScheduleWininitDeletion(api, AnsiFromWide(path).c_str());
    const std::wstring target = VersionNumber(version) <= 500 ? PathForOlderNt(path) : ExtendedPath(path);
    if (target.empty())
        return false;
    return api.MoveFileExW(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool ScheduleWininitDeletion(const RuntimeApi& api, const char* path)
{
    // WININIT.EXE runs before long names are known: it wants the 8.3 path.
    char shortPath[MAX_PATH] = {};
    const DWORD shortLength = GetShortPathNameA(path, shortPath, MAX_PATH);
    if (shortLength == 0 || shortLength >= MAX_PATH)
        return false;
    char windows[MAX_PATH] = {};
    const UINT windowsLength = api.GetWindowsDirectoryA(windows, MAX_PATH);
    if (windowsLength == 0 || windowsLength >= MAX_PATH)
        return false;
    std::string wininit(windows, windowsLength);
    if (wininit.back() != '\\')
        wininit += '\\';
    wininit += "WININIT.INI";
    return AddWininitDeletion(wininit.c_str(), shortPath);
}

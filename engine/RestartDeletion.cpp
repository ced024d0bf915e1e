#include "RestartDeletion.h"

#include "Handle.h"

#include <cstring>
#include <string>

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
bool DosPathOf(const char* shortPath, std::string& dosPath)
{
    const size_t length = std::strlen(shortPath);
    std::string oem(length + 1, '\0');
    std::string back(length + 1, '\0');
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
    return true;
}

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

bool AddWininitDeletion(const char* wininitPath, const char* dosPath)
{
    FileHandle file(CreateFileA(wininitPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    std::string text;
    if (!ReadWhole(file.Get(), text))
        return false;

    const std::string wanted = std::string("NUL=") + dosPath;
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

bool ScheduleWininitDeletion(const RuntimeApi& api, const char* path)
{
    // WININIT.EXE runs before long names are known: it wants the 8.3 path.
    char shortPath[MAX_PATH] = {};
    const DWORD shortLength = api.GetShortPathNameA(path, shortPath, MAX_PATH);
    if (shortLength == 0 || shortLength >= MAX_PATH)
        return false;
    std::string dosPath;
    if (!DosPathOf(shortPath, dosPath))
        return false;
    char windows[MAX_PATH] = {};
    const UINT windowsLength = api.GetWindowsDirectoryA(windows, MAX_PATH);
    if (windowsLength == 0 || windowsLength >= MAX_PATH)
        return false;
    std::string wininit(windows, windowsLength);
    if (wininit.back() != '\\')
        wininit += '\\';
    wininit += "WININIT.INI";
    return AddWininitDeletion(wininit.c_str(), dosPath.c_str());
}

bool ScheduleDeletionAtRestart(const RuntimeApi& api, const char* path)
{
    if (OsFamilyFromVersion(api.GetVersion()) != Win9x)
        return api.MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
    return ScheduleWininitDeletion(api, path);
}

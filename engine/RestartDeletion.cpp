#include "RestartDeletion.h"

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

bool ScheduleDeletionAtRestart(const RuntimeApi& api, const char* path)
{
    if (OsFamilyFromVersion(api.GetVersion()) != Win9x)
        return api.MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;

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

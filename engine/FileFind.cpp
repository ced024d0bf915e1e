#include "FileFind.h"

#include <cstring>

bool HoldsReservedCharacter(const char* name)
{
    static const char Reserved[] = "?*\"<>|\\/:";
    // Most names hold none: only those that do are read again byte by byte.
    if (!std::strpbrk(name, Reserved))
        return false;
    // The second byte of a double-byte character may be a backslash or a
    // bar, so it is skipped.
    for (const char* p = name; *p; ++p) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1] != '\0')
            ++p;
        else if (std::strchr(Reserved, *p))
            return true;
    }
    return false;
}

namespace {

// The first n bytes of text equal the capitals in upper, ignoring the case
// of ASCII letters.
bool SameLetters(const char* text, const char* upper, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != upper[i])
            return false;
    }
    return true;
}

// The devices of MS-DOS, on which the Windows 95 family is built: Knowledge
// Base Q74496, "MS-DOS Device Driver Names Cannot be Used as File Names",
// lists CON, PRN, AUX, CLOCK$, NUL, COM1-COM4 and LPT1-LPT3. COM0, COM5-COM9,
// LPT0, LPT4-LPT9, the superscript port digits, CONIN$ and CONOUT$ are
// devices on the NT family only, and plain names here.
bool IsPortDigit(char c, char last)
{
    return c >= '1' && c <= last;
}

bool IsDeviceName(const char* name, size_t length)
{
    // Every device name starts with one of these letters; most names don't.
    switch (name[0] | 0x20) {
    case 'a': case 'c': case 'l': case 'n': case 'p':
        break;
    default:
        return false;
    }
    // The device is read from the part before the first dot, without the
    // blanks that end it.
    size_t base = 0;
    while (base < length && name[base] != '.')
        ++base;
    while (base > 0 && name[base - 1] == ' ')
        --base;
    switch (base) {
    case 3:
        return SameLetters(name, "CON", 3) || SameLetters(name, "PRN", 3) || SameLetters(name, "AUX", 3) ||
               SameLetters(name, "NUL", 3);
    case 4:
        return (SameLetters(name, "COM", 3) && IsPortDigit(name[3], '4')) ||
               (SameLetters(name, "LPT", 3) && IsPortDigit(name[3], '3'));
    case 6:
        return SameLetters(name, "CLOCK$", 6);
    default:
        return false;
    }
}

// The short name of an entry, when it has one that a path can carry as it
// is: Wine copies a backslash or colon of a long name into its short name.
const char* UsableShortName(const WIN32_FIND_DATAA& entry)
{
    const char* alias = entry.cAlternateFileName;
    if (alias[0] == '\0' || HoldsReservedCharacter(alias) || IsEvasiveName(alias, std::strlen(alias)))
        return nullptr;
    return alias;
}

const char ExactPrefix[] = "\\\\?\\";
constexpr size_t ExactPrefixLength = sizeof ExactPrefix - 1;

bool IsExact(const std::string& path)
{
    return path.compare(0, ExactPrefixLength, ExactPrefix) == 0;
}

// The length of the text in a name field; the whole field when it holds no
// terminator.
size_t FieldLength(const char* field, size_t size)
{
    const void* end = std::memchr(field, '\0', size);
    return end ? static_cast<size_t>(static_cast<const char*>(end) - field) : size;
}

}  // namespace

bool IsEvasiveName(const char* name, size_t length)
{
    if (length == 0)
        return false;
    // No trail byte of a double-byte character is a dot or a space.
    const char last = name[length - 1];
    return last == '.' || last == ' ' || IsDeviceName(name, length);
}

EntryKind KindOf(const WIN32_FIND_DATAA& entry)
{
    const DWORD attributes = entry.dwFileAttributes;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return EntryKind::Skipped;
        const char* name = entry.cFileName;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            return EntryKind::Skipped;
        return EntryKind::Folder;
    }
    // The tag is in dwReserved0 only when the attribute says so.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsReparseTagNameSurrogate(entry.dwReserved0))
        return EntryKind::Skipped;
    return EntryKind::File;
}

EntryRoute RouteTo(const WIN32_FIND_DATAA& entry, bool isFolder, const std::string& dir, bool exactPaths)
{
    const char* name = entry.cFileName;
    size_t length = std::strlen(name);
    EntryRoute route = {name, name, FolderForm::Plain};
    // A folder's path needs room for its search's backslash and star.
    const size_t room = isFolder ? 2 : 0;
    const char* alias = nullptr;

    // A reserved character would make the path name another file or none;
    // an evasive name would name another file or a device.
    const bool reserved = HoldsReservedCharacter(name);
    if (reserved || IsEvasiveName(name, length)) {
        alias = UsableShortName(entry);
        if (!reserved && exactPaths) {
            // The \\?\ form is taken as it is. When it is too long and no
            // short name serves, it is handed on and reaches nothing.
            const bool dirExact = IsExact(dir);
            const size_t exactLength = dir.size() + (dirExact ? 0 : ExactPrefixLength) + 1 + length + room;
            if (exactLength < MAX_PATH || !alias) {
                route.form = dirExact ? FolderForm::Plain : FolderForm::Exact;
                return route;
            }
        }
        if (!alias)
            return {nullptr, nullptr, FolderForm::Plain};
        route.name = alias;
        // A reserved character in the row would not show the real name either.
        if (reserved)
            route.shownName = alias;
        length = std::strlen(alias);
    }

    // A path too long for the 8-bit functions takes the short name, and
    // when that is not enough the folder's short path. A path too long even
    // so is handed on and yields nothing.
    if (dir.size() + 1 + length + room >= MAX_PATH) {
        if (!alias && (alias = UsableShortName(entry)) != nullptr) {
            route.name = alias;
            length = std::strlen(alias);
        }
        if (dir.size() + 1 + length + room >= MAX_PATH)
            route.form = FolderForm::Short;
    }
    return route;
}

std::string ExactPathOf(const std::string& dir)
{
    return IsExact(dir) ? dir : ExactPrefix + dir;
}

std::string ShortPathOf(const std::string& dir)
{
    // A drive root is its own short path: "C:" alone would name the current
    // folder of drive C.
    if (!dir.empty() && dir.back() == ':')
        return dir;
    char shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameA(dir.c_str(), shortPath, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::string(shortPath, length) : dir;
}

bool FolderListing::First(std::string& dir)
{
    const size_t length = dir.size();
    dir += "\\*";
    const HANDLE find = api_.FindFirstFileA(dir.c_str(), &entry_);
    dir.resize(length);
    if (find == nullptr)
        return false;
    find_.Reset(find);
    return find_.IsValid();
}

bool FolderListing::Next()
{
    while (overflows_ < MaxOverflowsInARow) {
        // Cleared, so that a failed call leaves no name of an earlier entry.
        std::memset(&entry_, 0, sizeof entry_);
        if (api_.FindNextFileA(find_.Get(), &entry_)) {
            overflows_ = 0;
            return true;
        }
        if (GetLastError() != ERROR_MORE_DATA)
            return false;
        // A search that fails the same way again has not moved.
        if (overflows_++ > 0 && std::memcmp(&entry_, &lastOverflow_, sizeof entry_) == 0)
            return false;
        lastOverflow_ = entry_;
        if (Salvage())
            return true;
    }
    return false;
}

// The fixed part of the entry (attributes, times, sizes) comes before the
// names and is whole. A name cut to fit its field fills it to within one
// character, at most four bytes in any code page, of its end; a shorter
// one is whole.
bool FolderListing::Salvage()
{
    const size_t nameLength = FieldLength(entry_.cFileName, sizeof entry_.cFileName);
    if (nameLength > 0 && nameLength + 4 < sizeof entry_.cFileName) {
        // The short name overflowed and may be cut: the entry goes by its name.
        entry_.cAlternateFileName[0] = '\0';
        return true;
    }
    // The name overflowed: the entry goes by its short name, which needs
    // 12 bytes at most; one that fills its field was cut.
    const size_t aliasLength = FieldLength(entry_.cAlternateFileName, sizeof entry_.cAlternateFileName);
    if (aliasLength > 0 && aliasLength + 1 < sizeof entry_.cAlternateFileName) {
        std::memcpy(entry_.cFileName, entry_.cAlternateFileName, aliasLength + 1);
        entry_.cAlternateFileName[0] = '\0';
        return true;
    }
    return false;
}

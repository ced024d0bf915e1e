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

}  // namespace

bool HoldsReservedCharacter(const wchar_t* name)
{
    for (; *name; ++name) {
        switch (*name) {
        case L'?': case L'*': case L'"': case L'<': case L'>': case L'|': case L'\\': case L'/': case L':':
            return true;
        default:
            break;
        }
    }
    return false;
}

bool IsEvasiveName(const char* name, size_t length)
{
    if (length == 0)
        return false;
    // No trail byte of a double-byte character is a dot or a space.
    const char last = name[length - 1];
    return last == '.' || last == ' ' || IsDeviceName(name, length);
}

EntryRoute RouteTo(const WIN32_FIND_DATAA& entry, bool isFolder, const AString& dir)
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

AString ShortPathOf(const AString& dir)
{
    // A drive root is its own short path: "C:" alone would name the current
    // folder of drive C.
    if (!dir.empty() && dir.back() == ':')
        return dir;
    char shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameA(dir.c_str(), shortPath, MAX_PATH);
    return length > 0 && length < MAX_PATH ? AString(shortPath, length) : dir;
}

bool FolderListing::First(AString& dir)
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
    return api_.FindNextFileA(find_.Get(), &entry_) != FALSE;
}

namespace {

bool SameName(const wchar_t* a, const wchar_t* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Windows 7's info level without short names, and its large fetch; the
// headers of an earlier target lack them.
const FINDEX_INFO_LEVELS FindExInfoBasicLevel = static_cast<FINDEX_INFO_LEVELS>(1);
constexpr DWORD FindFirstExLargeFetch = 2;

// What a listing that FindFirstFileW would give no differently answers: an
// empty, missing or denied folder, and a server or share that is not there,
// cannot be reached or refuses the session's logon (asked twice, an
// unreachable server would cost its time-out twice). Anything else may be
// the basic info level or the large fetch refused, in whatever words a
// redirector or a file system of another maker chooses.
bool NothingThere(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_ACCESS_DENIED:
    case ERROR_NO_MORE_FILES:
    // The network: no such server or share, or none that answers.
    case ERROR_REM_NOT_LIST:
    case ERROR_BAD_NETPATH:
    case ERROR_NETWORK_BUSY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_NETNAME_DELETED:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_BAD_NET_NAME:
    case ERROR_SEM_TIMEOUT:
    case ERROR_NO_NET_OR_BAD_PATH:
    case ERROR_NO_NETWORK:
    case ERROR_CONNECTION_REFUSED:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_HOST_UNREACHABLE:
    case ERROR_PROTOCOL_UNREACHABLE:
    case ERROR_PORT_UNREACHABLE:
    case ERROR_CONNECTION_ABORTED:
    case ERROR_HOST_DOWN:
    case ERROR_NOT_CONNECTED:
    // Or one that will not take this logon session's credentials.
    case ERROR_SESSION_CREDENTIAL_CONFLICT:
    case ERROR_NO_LOGON_SERVERS:
    case ERROR_NO_SUCH_LOGON_SESSION:
    case ERROR_LOGON_FAILURE:
    case ERROR_ACCOUNT_RESTRICTION:
    case ERROR_INVALID_LOGON_HOURS:
    case ERROR_INVALID_WORKSTATION:
    case ERROR_PASSWORD_EXPIRED:
    case ERROR_ACCOUNT_DISABLED:
    case ERROR_LOGON_TYPE_NOT_GRANTED:
    case ERROR_TRUSTED_RELATIONSHIP_FAILURE:
    case ERROR_PASSWORD_MUST_CHANGE:
    case ERROR_ACCOUNT_LOCKED_OUT:
    case ERROR_DOWNGRADE_DETECTED:
        return true;
    default:
        return false;
    }
}

}  // namespace

bool WideFolderListing::First(WString& dir)
{
    const size_t length = dir.size();
    dir += L"\\*";
    HANDLE find = INVALID_HANDLE_VALUE;
    if (basicInfo_) {
        find = api_.FindFirstFileExW(dir.c_str(), FindExInfoBasicLevel, &entry_, FindExSearchNameMatch, nullptr,
                                     FindFirstExLargeFetch);
        if (find == INVALID_HANDLE_VALUE && !NothingThere(GetLastError()))
            basicInfo_ = false;
    }
    if (!basicInfo_)
        find = api_.FindFirstFileW(dir.c_str(), &entry_);
    dir.resize(length);
    if (find == nullptr)
        return false;
    find_.Reset(find);
    return find_.IsValid();
}

bool WideFolderListing::Next()
{
    return api_.FindNextFileW(find_.Get(), &entry_) != FALSE;
}

const wchar_t* WideFolderListing::ReachableName(const WString& dir)
{
    if (!HoldsReservedCharacter(entry_.cFileName))
        return entry_.cFileName;
    // A listing without short names is asked once more, with them, for
    // this one entry: such names are rare.
    if (entry_.cAlternateFileName[0] == L'\0') {
        WIN32_FIND_DATAW full = {};
        FindHandle find;
        {
            RedirectionOff off(api_);
            find.Reset(api_.FindFirstFileW((dir + L"\\*").c_str(), &full));
        }
        if (find.Get() == nullptr || !find.IsValid())
            return nullptr;
        while (!SameName(full.cFileName, entry_.cFileName)) {
            if (!api_.FindNextFileW(find.Get(), &full))
                return nullptr;
        }
        std::memcpy(entry_.cAlternateFileName, full.cAlternateFileName, sizeof full.cAlternateFileName);
    }
    const wchar_t* alias = entry_.cAlternateFileName;
    if (alias[0] == L'\0' || HoldsReservedCharacter(alias))
        return nullptr;
    return alias;
}

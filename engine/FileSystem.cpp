#include "FileSystem.h"

#include "RuntimeApi.h"


WString WideFromAnsi(const char* text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1)
        return WString();
    WString wide(static_cast<size_t>(length), L'\0');
    if (wide.failed())
        return wide;
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

AString AnsiFromWide(const wchar_t* text)
{
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return AString();
    AString ansi(static_cast<size_t>(length), '\0');
    if (ansi.failed())
        return ansi;
    WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], length, nullptr, nullptr);
    ansi.resize(static_cast<size_t>(length - 1));
    return ansi;
}

namespace {

const wchar_t ExtendedPrefix[] = L"\\\\?\\";
constexpr size_t ExtendedPrefixLength = 4;

bool IsDrivePath(const wchar_t* path)
{
    const wchar_t letter = static_cast<wchar_t>(path[0] | 0x20);
    return letter >= L'a' && letter <= L'z' && path[1] == L':' && (path[2] == L'\0' || path[2] == L'\\');
}

}  // namespace

WString ExtendedPath(const wchar_t* path)
{
    return IsDrivePath(path) ? ExtendedPrefix + WString(path) : WString(path);
}

const wchar_t* PlainPath(const wchar_t* path)
{
    bool extended = true;
    for (size_t i = 0; i < ExtendedPrefixLength && extended; ++i)
        extended = path[i] == ExtendedPrefix[i];
    return extended && IsDrivePath(path + ExtendedPrefixLength) ? path + ExtendedPrefixLength : path;
}

HANDLE OpenForScan(const wchar_t* path)
{
    const DWORD flags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN;
    // The Windows 95 family rejects FILE_SHARE_DELETE as an invalid parameter.
    if (OnWindows9x())
        return CreateFileA(AnsiFromWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, flags, nullptr);
    return CreateFileW(ExtendedPath(path).c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

void ResetAttributes(const wchar_t* path)
{
    if (OnWindows9x())
        SetFileAttributesA(AnsiFromWide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    else
        SetFileAttributesW(ExtendedPath(path).c_str(), FILE_ATTRIBUTE_NORMAL);
}

bool RemoveFile(const wchar_t* path)
{
    if (OnWindows9x())
        return DeleteFileA(AnsiFromWide(path).c_str()) != FALSE;
    return DeleteFileW(ExtendedPath(path).c_str()) != FALSE;
}

#include "FileSystem.h"

#include "RuntimeApi.h"


WString WideFromAnsi(const char* text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1)
        return WString();
    // The string keeps room for its terminator, which the conversion writes.
    WString wide(static_cast<size_t>(length - 1), L'\0');
    if (wide.failed())
        return wide;
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], length);
    return wide;
}

AString AnsiFromWide(const wchar_t* text)
{
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return AString();
    // The string keeps room for its terminator, which the conversion writes.
    AString ansi(static_cast<size_t>(length - 1), '\0');
    if (ansi.failed())
        return ansi;
    WideCharToMultiByte(CP_ACP, 0, text, -1, &ansi[0], length, nullptr, nullptr);
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

namespace {

constexpr DWORD AclRights = WRITE_DAC | WRITE_OWNER;

// The open with access, asked first with the owner and ACL rights too; those
// alone refused, without them.
bool OpenWith(const RuntimeApi& api, const WString& path, DWORD access, DWORD share, ExaminedFile& file)
{
    const DWORD flags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_BACKUP_SEMANTICS;
    file.handle.Reset(api.CreateFileW(path.c_str(), access | AclRights, share, nullptr, OPEN_EXISTING, flags,
                                      nullptr));
    file.aclWritable = file.handle.IsValid();
    if (file.aclWritable || GetLastError() != ERROR_ACCESS_DENIED)
        return file.aclWritable;
    file.handle.Reset(api.CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, flags, nullptr));
    return file.handle.IsValid();
}

void ReadKey(const RuntimeApi& api, ExaminedFile& file)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!api.GetFileInformationByHandle || !api.GetFileInformationByHandle(file.handle.Get(), &info))
        return;
    file.keyKnown = true;
    file.volume = info.dwVolumeSerialNumber;
    file.indexHigh = info.nFileIndexHigh;
    file.indexLow = info.nFileIndexLow;
    file.links = info.nNumberOfLinks;
}

}  // namespace

ExaminedFile OpenForExamination(const RuntimeApi& api, const wchar_t* path)
{
    ExaminedFile file;
    const DWORD version = api.GetVersion();
    // The Windows 95 family rejects FILE_SHARE_DELETE as an invalid parameter.
    if (OsFamilyFromVersion(version) == Win9x) {
        file.handle.Reset(CreateFileA(AnsiFromWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN,
                                      nullptr));
        if (!file.handle)
            file.refusal = GetLastError();
        return file;
    }
    const WString extended = ExtendedPath(path);
    constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (OpenWith(api, extended, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, file)) {
        file.removable = true;
        file.attributesWritable = true;
    } else {
        file.refusal = GetLastError();
        if (file.refusal == ERROR_FILE_NOT_FOUND || file.refusal == ERROR_PATH_NOT_FOUND)
            return file;
        // The attributes and the ACL take no part in sharing.
        if (file.refusal == ERROR_SHARING_VIOLATION &&
            OpenWith(api, extended, GENERIC_READ | FILE_WRITE_ATTRIBUTES, ShareAll, file)) {
            file.attributesWritable = true;
        } else {
            file.handle.Reset(api.CreateFileW(extended.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN |
                                                  FILE_FLAG_BACKUP_SEMANTICS,
                                              nullptr));
            file.aclWritable = false;
            if (!file.handle) {
                file.refusal = GetLastError();
                return file;
            }
        }
    }
    ReadKey(api, file);
    return file;
}

namespace {

// FILE_BASIC_INFORMATION and FILE_DISPOSITION_INFORMATION of the native
// API; zero times leave the times as they are.
struct BasicInformation {
    LARGE_INTEGER creationTime;
    LARGE_INTEGER lastAccessTime;
    LARGE_INTEGER lastWriteTime;
    LARGE_INTEGER changeTime;
    ULONG attributes;
};
struct DispositionInformation {
    BOOLEAN deleteFile;
};
constexpr ULONG FileBasicInformationClass = 4;
constexpr ULONG FileDispositionInformationClass = 13;

}  // namespace

LONG RemoveThroughHandle(const RuntimeApi& api, HANDLE file)
{
    if (!api.NtSetInformationFile)
        return StatusNotResolved;
    // A read-only file refuses its deletion; the result shows in the next call.
    ResetAttributesThroughHandle(api, file);
    NativeIoStatus status = {};
    DispositionInformation disposition = {TRUE};
    return api.NtSetInformationFile(file, &status, &disposition, sizeof disposition,
                                    FileDispositionInformationClass);
}

void ResetAttributesThroughHandle(const RuntimeApi& api, HANDLE file)
{
    if (!api.NtSetInformationFile)
        return;
    NativeIoStatus status = {};
    BasicInformation basic = {};
    basic.attributes = FILE_ATTRIBUTE_NORMAL;
    api.NtSetInformationFile(file, &status, &basic, sizeof basic, FileBasicInformationClass);
}

void ResetAttributes(const wchar_t* path)
{
    SetFileAttributesA(AnsiFromWide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
}

bool RemoveFile(const wchar_t* path)
{
    return DeleteFileA(AnsiFromWide(path).c_str()) != FALSE;
}

WString DosDeviceTarget(const RuntimeApi& api, const wchar_t* device)
{
    if (!api.QueryDosDeviceW)
        return WString();
    // 2000 and XP fail, rather than cut, an answer longer than the buffer
    // (the SUBST of a long path): asked again with more room.
    for (DWORD room = MAX_PATH + 8; room <= 0x20000; room *= 2) {
        WString target(room, L'\0');
        if (target.failed())
            return WString();
        if (api.QueryDosDeviceW(device, &target[0], room) != 0) {
            target[room - 1] = L'\0';
            return WString(target.c_str());
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return WString();
    }
    return WString();
}

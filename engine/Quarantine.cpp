// A copy in use moved, through the handle it was examined by, into the
// program's own folder at the root of its volume, where it waits for the
// restart.
#include "Quarantine.h"

#include "FileSystem.h"
#include "FolderTrust.h"
#include "Handle.h"

#include <cstddef>

const wchar_t OwnFolderName[] = L"TavokRemover.quarantine";

namespace {

constexpr ULONG FileRenameInformationClass = 10;
constexpr LONG StatusObjectNameCollision = static_cast<LONG>(0xC0000035);

// FILE_RENAME_INFORMATION of the native API, with room for a name of ours.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    wchar_t fileName[40];
};

// The folder, made with its ACL where it is missing, opened so that it can
// be neither renamed nor removed while the program holds it.
FileHandle OpenOwnFolder(const RuntimeApi& api, const WString& folder)
{
    const DWORD version = api.GetVersion();
    BYTE security[OwnFolderSecuritySize];
    // Administrators as owner needs that group enabled for owning or the
    // restore privilege; else the token's own default owner.
    for (int withOwner = 1; withOwner >= 0; --withOwner) {
        OwnFolderSecurity(withOwner != 0, VersionNumber(version) >= 500, security);
        SECURITY_ATTRIBUTES attributes = {sizeof attributes, security, FALSE};
        if (!api.CreateDirectoryW || api.CreateDirectoryW(folder.c_str(), &attributes) ||
            GetLastError() != ERROR_INVALID_OWNER)
            break;
    }
    FileHandle open(api.CreateFileW(folder.c_str(), READ_CONTROL | FILE_ADD_FILE | FILE_TRAVERSE | SYNCHRONIZE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (open && !FolderBeyondUsersReach(api, open.Get(), FillingRights))
        open.Reset();
    return open;
}

// Names given in this process, so that two moves never try the same one.
DWORD namesGiven = 0;

void AppendHex(wchar_t* name, size_t& at, DWORD value)
{
    for (int shift = 28; shift >= 0; shift -= 4)
        name[at++] = L"0123456789abcdef"[(value >> shift) & 0xF];
}

}  // namespace

bool MoveIntoOwnFolder(const RuntimeApi& api, const wchar_t* path, HANDLE handle, WString& moved)
{
    if (!api.NtSetInformationFile)
        return false;
    const WString root = VolumeRootOf(api, path);
    WString folder = ExtendedPath((root + OwnFolderName).c_str());
    if (root.empty() || folder.failed())
        return false;
    const FileHandle own = OpenOwnFolder(api, folder);
    if (!own)
        return false;
    // The file's identity, the process and a count: a name that no file in
    // the folder has, or the rename says so and the next is taken.
    BY_HANDLE_FILE_INFORMATION info = {};
    if (api.GetFileInformationByHandle)
        api.GetFileInformationByHandle(handle, &info);
    for (int attempt = 0; attempt < 16; ++attempt) {
        RenameInformation rename = {};
        rename.rootDirectory = own.Get();
        size_t at = 0;
        AppendHex(rename.fileName, at, info.nFileIndexHigh);
        AppendHex(rename.fileName, at, info.nFileIndexLow);
        rename.fileName[at++] = L'-';
        AppendHex(rename.fileName, at, GetCurrentProcessId());
        rename.fileName[at++] = L'-';
        AppendHex(rename.fileName, at, ++namesGiven);
        rename.fileNameLength = static_cast<ULONG>(at * sizeof(wchar_t));
        NativeIoStatus status = {};
        const LONG result = api.NtSetInformationFile(
            handle, &status, &rename, static_cast<ULONG>(offsetof(RenameInformation, fileName) + at * sizeof(wchar_t)),
            FileRenameInformationClass);
        if (result >= 0) {
            moved = PlainPath(folder.c_str());
            moved += L'\\';
            moved.append(rename.fileName, at);
            return !moved.failed();
        }
        if (result != StatusObjectNameCollision)
            return false;
    }
    return false;
}

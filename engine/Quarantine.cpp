// A copy in use moved, through the handle it was examined by, into the
// program's own folder at the root of its volume, where it waits for the
// restart.
#include "Quarantine.h"

#include "FileSystem.h"
#include "FolderTrust.h"
#include "Md5.h"

#include <cstddef>

const wchar_t OwnFolderName[] = L"TavokRemover.quarantine";

namespace {

constexpr ULONG FileRenameInformationClass = 10;
constexpr LONG StatusObjectNameCollision = static_cast<LONG>(0xC0000035);

// FILE_RENAME_INFORMATION of the native API, with room for a name: one of
// ours in a folder, or a whole NT path.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    wchar_t fileName[1];
};

LONG Rename(const RuntimeApi& api, HANDLE file, HANDLE folder, const wchar_t* name, size_t length)
{
    if (length > 32767)
        return StatusNotResolved;
    const size_t bytes = offsetof(RenameInformation, fileName) + (length + 1) * sizeof(wchar_t);
    UniquePtr<BYTE[]> buffer(new (NoThrow) BYTE[bytes]());
    if (!buffer)
        return StatusNotResolved;
    auto* rename = reinterpret_cast<RenameInformation*>(buffer.get());
    rename->rootDirectory = folder;
    rename->fileNameLength = static_cast<ULONG>(length * sizeof(wchar_t));
    for (size_t i = 0; i < length; ++i)
        rename->fileName[i] = name[i];
    NativeIoStatus status = {};
    return api.NtSetInformationFile(file, &status, rename, static_cast<ULONG>(bytes), FileRenameInformationClass);
}

// Names given in this process, so that two moves never try the same one.
DWORD namesGiven = 0;

void AppendHex(WString& name, DWORD value)
{
    for (int shift = 28; shift >= 0; shift -= 4)
        name += L"0123456789abcdef"[(value >> shift) & 0xF];
}

// Sixteen hex digits no one can know beforehand: the system's random
// numbers where it has them, mixed with what only this moment gives.
WString UnforeseeableName(const RuntimeApi& api)
{
    struct {
        BYTE random[16];
        LARGE_INTEGER counter;
        DWORD tick, process, thread, count;
    } seed = {};
    HCRYPTPROV provider = 0;
    if (api.CryptAcquireContextA && api.CryptGenRandom && api.CryptReleaseContext &&
        api.CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        api.CryptGenRandom(provider, sizeof seed.random, seed.random);
        api.CryptReleaseContext(provider, 0);
    }
    QueryPerformanceCounter(&seed.counter);
    seed.tick = GetTickCount();
    seed.process = GetCurrentProcessId();
    seed.thread = GetCurrentThreadId();
    seed.count = ++namesGiven;
    Md5Context md5;
    Md5Init(&md5);
    Md5Update(&md5, &seed, sizeof seed);
    unsigned char digest[16];
    Md5Final(&md5, digest);
    WString name = OwnFolderName;
    name += L'-';
    AppendHex(name, DWORD(digest[0]) | DWORD(digest[1]) << 8 | DWORD(digest[2]) << 16 | DWORD(digest[3]) << 24);
    AppendHex(name, DWORD(digest[4]) | DWORD(digest[5]) << 8 | DWORD(digest[6]) << 16 | DWORD(digest[7]) << 24);
    return name;
}

}  // namespace

FileHandle OwnFolders::MakeOrOpen(const WString& folder, bool mayExist, bool& nameTaken)
{
    // Administrators as owner needs that group enabled for owning or the
    // restore privilege: a run without an administrator's rights makes none.
    BYTE security[OwnFolderSecuritySize];
    OwnFolderSecurity(true, VersionNumber(api_.GetVersion()) >= 500, security);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, security, FALSE};
    const bool made = api_.CreateDirectoryW(folder.c_str(), &attributes) != FALSE;
    nameTaken = !made && GetLastError() == ERROR_ALREADY_EXISTS;
    if (!made && (!mayExist || !nameTaken))
        return FileHandle();
    FileHandle open(api_.CreateFileW(folder.c_str(),
                                     READ_CONTROL | FILE_ADD_FILE | FILE_TRAVERSE | SYNCHRONIZE | (made ? DELETE : 0),
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (open && FolderBeyondUsersReach(api_, open.Get(), FillingRights))
        return open;
    // One made here and not to be used is not left behind.
    if (made && open)
        RemoveThroughHandle(api_, open.Get());
    return FileHandle();
}

FileHandle OwnFolders::Open(const WString& root, WString& folder)
{
    // One who may rename a folder above it could put its path elsewhere
    // after the scan. FAT keeps no owner or ACL to trust.
    const WString extendedRoot = ExtendedPath(root.c_str());
    folder = extendedRoot + OwnFolderName;
    if (folder.failed() || OnFatVolume(api_, root) || !PathBeyondUsersReach(api_, folder.c_str()))
        return FileHandle();
    bool nameTaken = false;
    for (int i = 0; i < freshCount_; ++i) {
        if (freshRoots_[i] == root) {
            FileHandle fresh = MakeOrOpen(freshFolders_[i], true, nameTaken);
            if (fresh) {
                folder = freshFolders_[i];
                return fresh;
            }
        }
    }
    FileHandle usual = MakeOrOpen(folder, true, nameTaken);
    if (usual || !nameTaken)
        return usual;
    // A folder of that name the program will not use: its name is known to
    // everyone, the fresh one to no one, and a folder is never made where
    // any other file or folder already is.
    for (int attempt = 0; attempt < 4; ++attempt) {
        folder = extendedRoot + UnforeseeableName(api_);
        FileHandle fresh = folder.failed() ? FileHandle() : MakeOrOpen(folder, false, nameTaken);
        if (fresh) {
            if (freshCount_ < MaxFresh) {
                freshRoots_[freshCount_] = root;
                freshFolders_[freshCount_++] = folder;
            }
            return fresh;
        }
        if (!nameTaken)
            break;
    }
    return FileHandle();
}

bool OwnFolders::MoveInto(const WString& path, HANDLE handle, WString& moved)
{
    if (!api_.NtSetInformationFile || !api_.CreateDirectoryW)
        return false;
    const WString root = VolumeRootOf(api_, path.c_str());
    if (root.empty() || root.failed())
        return false;
    WString folder;
    const FileHandle own = Open(root, folder);
    if (!own)
        return false;
    // The file's identity, the process and a count: a name that no file in
    // the folder has, or the rename says so and the next is taken.
    BY_HANDLE_FILE_INFORMATION info = {};
    if (api_.GetFileInformationByHandle)
        api_.GetFileInformationByHandle(handle, &info);
    for (int attempt = 0; attempt < 16; ++attempt) {
        WString name;
        AppendHex(name, info.nFileIndexHigh);
        AppendHex(name, info.nFileIndexLow);
        name += L'-';
        AppendHex(name, GetCurrentProcessId());
        name += L'-';
        AppendHex(name, ++namesGiven);
        if (name.failed())
            return false;
        const LONG result = Rename(api_, handle, own.Get(), name.c_str(), name.size());
        if (result >= 0) {
            moved = PlainPath(folder.c_str());
            moved += L'\\';
            moved += name;
            return !moved.failed();
        }
        if (result != StatusObjectNameCollision)
            return false;
    }
    return false;
}

bool OwnFolders::MoveBack(HANDLE handle, const WString& path)
{
    // The NT name of a drive path; never over a file that took its place.
    const WString target = L"\\??\\" + WString(PlainPath(path.c_str()));
    return !target.failed() && api_.NtSetInformationFile && Rename(api_, handle, nullptr, target.c_str(), target.size()) >= 0;
}

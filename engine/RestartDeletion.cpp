// Deleting a file that is in use when the system next starts: MoveFileExW
// on the NT family, WININIT.INI (Wininit.h) on the Windows 95 family.
#include "RestartDeletion.h"

#include "FileSystem.h"
#include "FolderTrust.h"
#include "Handle.h"
#include "Strings.h"
#include "Wininit.h"

#include <winioctl.h>

#include <cstddef>
#include <cstring>

// Network drives (MoveFileEx: "the file cannot exist on a remote share,
// because delayed operations are performed before the network is
// available"; on the Windows 95 family WININIT.EXE runs before any network
// or CD-ROM driver is loaded) and CD and DVD drives, which are read-only
// besides.
bool LaterDeletionReaches(const RuntimeApi& api, const wchar_t* path)
{
    const wchar_t* plain = PlainPath(path);
    if (plain[0] == L'\\' && plain[1] == L'\\')
        return false;  // a share
    if (plain[0] == L'\0' || plain[1] != L':')
        return true;  // no drive to ask about
    const char root[4] = {static_cast<char>(plain[0]), ':', '\\', '\0'};
    const UINT type = api.GetDriveTypeA(root);
    // A removable disk may be absent, or another, at the next start.
    return type != DRIVE_REMOTE && type != DRIVE_CDROM && type != DRIVE_REMOVABLE;
}

namespace {

// The device of a volume root: \\.\C: for a drive's, \\?\Volume{...} for
// one mounted in a folder.
WString VolumeDevice(const RuntimeApi& api, const WString& root)
{
    if (root.size() == 3)
        return L"\\\\.\\" + root.substr(0, 2);
    wchar_t name[64] = {};
    if (!api.GetVolumeNameForVolumeMountPointW || !api.GetVolumeNameForVolumeMountPointW(root.c_str(), name, 64))
        return WString();
    name[63] = L'\0';
    WString volume(name);
    if (!volume.empty() && volume.back() == L'\\')
        volume.resize(volume.size() - 1);
    return volume;
}

// The bus type sits at the same place in the 32-bit and the 64-bit layout.
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28, "descriptor layout");

// The storage query of the volume, opened with no access rights (which the
// query needs none of): true where it answers USB.
bool OnUsbBus(const RuntimeApi& api, const WString& root)
{
    const WString device = VolumeDevice(api, root);
    if (device.empty() || device.failed())
        return false;
    FileHandle volume(api.CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
    if (!volume)
        return false;
    union {
        STORAGE_DEVICE_DESCRIPTOR descriptor;
        unsigned char bytes[552];
    } answer = {};
    answer.descriptor.Size = sizeof answer;
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    DWORD returned = 0;
    return api.DeviceIoControl(volume.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, 12, &answer, sizeof answer,
                               &returned, nullptr) == TRUE &&
           answer.descriptor.BusType == BusTypeUsb;
}

}  // namespace

bool VolumeKeepsDeletion(const RuntimeApi& api, const wchar_t* path)
{
    const wchar_t* plain = PlainPath(path);
    if (plain[0] == L'\\' && plain[1] == L'\\')
        return false;  // a share
    const WString root = VolumeRootOf(api, plain);
    if (root.empty())
        return true;  // no drive to ask about
    if (root.failed())
        return false;
    const UINT type = api.GetDriveTypeA(AnsiFromWide(root.c_str()).c_str());
    if (type == DRIVE_REMOTE || type == DRIVE_CDROM || type == DRIVE_REMOVABLE)
        return false;
    constexpr DWORD ReadOnlyVolume = 0x00080000;  // FILE_READ_ONLY_VOLUME
    DWORD flags = 0;
    if (api.GetVolumeInformationW &&
        api.GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
        (flags & ReadOnlyVolume))
        return false;
    return !OnUsbBus(api, root);
}

namespace {

// Plain path handling reads the path as the same file: it fits in MAX_PATH
// and no part of it ends in a dot or a space or names a device.
bool ReadsAsItself(const wchar_t* path)
{
    wchar_t full[MAX_PATH] = {};
    const DWORD fullLength = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    return fullLength > 0 && fullLength < MAX_PATH && WString::Length(path) == fullLength &&
           std::memcmp(full, path, fullLength * sizeof *path) == 0;
}

// Windows 2000 takes no \\?\ path with MOVEFILE_DELAY_UNTIL_REBOOT (the
// MoveFileEx reference of that time), and NT 4.0, of older code, is given
// the same: the plain path where it reads as itself, else the short path,
// else none (empty).
WString PathForOlderNt(const wchar_t* path)
{
    const wchar_t* plain = PlainPath(path);
    if (ReadsAsItself(plain))
        return plain;
    wchar_t shortPath[MAX_PATH + 4] = {};
    const DWORD length = GetShortPathNameW(ExtendedPath(plain).c_str(), shortPath, MAX_PATH + 4);
    if (length == 0 || length >= MAX_PATH + 4)
        return WString();
    const wchar_t* shortPlain = PlainPath(shortPath);
    return ReadsAsItself(shortPlain) ? WString(shortPlain) : WString();
}

// Whether the path opens the very file of the handle: the name a system
// gives may not be the file's own (Wine's drops a trailing space).
bool NamesFile(const RuntimeApi& api, const WString& path, HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION expected = {};
    if (!api.GetFileInformationByHandle || !api.GetFileInformationByHandle(file, &expected))
        return true;
    FileHandle named(api.CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION found = {};
    return named && api.GetFileInformationByHandle(named.Get(), &found) &&
           found.dwVolumeSerialNumber == expected.dwVolumeSerialNumber &&
           found.nFileIndexHigh == expected.nFileIndexHigh && found.nFileIndexLow == expected.nFileIndexLow;
}

// The path the open file has now, with its volume's drive letter, where it
// names that file.
bool FinalPathOf(const RuntimeApi& api, HANDLE file, WString& path)
{
    if (!api.GetFinalPathNameByHandleW)
        return false;
    constexpr DWORD VolumeNameDos = 0;
    DWORD size = MAX_PATH;
    for (int attempt = 0; attempt < 3; ++attempt) {
        path.clear();
        path.resize(size);
        if (path.failed())
            return false;
        const DWORD length = api.GetFinalPathNameByHandleW(file, &path[0], size, VolumeNameDos);
        if (length == 0)
            return false;
        if (length < size) {
            path.resize(length);
            return NamesFile(api, path, file);
        }
        size = length + 1;
    }
    return false;
}

// The first string QueryDosDevice gives for a device name; empty when none.
WString DeviceTarget(const RuntimeApi& api, const WString& device)
{
    return DosDeviceTarget(api, device.c_str());
}

// The plain path through drive letters that every session has: a SUBST
// letter's target is followed, and a letter that DefineDosDevice made for
// this session alone is replaced by a global letter of the same device.
// Empty when no such letter names it. Where the system cannot say, the
// path as it is.
WString PathForEverySession(const RuntimeApi& api, const wchar_t* path)
{
    WString current = path;
    static const wchar_t SubstPrefix[] = L"\\??\\";
    // A SUBST letter may name a folder on another SUBST letter.
    for (int depth = 0; depth < 8; ++depth) {
        const wchar_t letter = static_cast<wchar_t>(current[0] | 0x20);
        if (current.size() < 2 || current[1] != L':' || letter < L'a' || letter > L'z')
            return current;
        const WString drive = current.substr(0, 2);
        const WString own = DeviceTarget(api, drive);
        if (own.empty())
            return current;
        if (own.substr(0, 4) == SubstPrefix && own.size() >= 6 && own[5] == L':') {
            WString folder = own.substr(4);
            while (!folder.empty() && folder.back() == L'\\')
                folder.resize(folder.size() - 1);
            current = folder + current.substr(2);
            continue;
        }
        if (DeviceTarget(api, L"Global\\" + drive) == own)
            return current;
        // A system without a namespace for every session answers for no
        // letter: there every letter is every session's.
        bool anyGlobal = false;
        for (wchar_t other = L'A'; other <= L'Z'; ++other) {
            const wchar_t otherDrive[3] = {other, L':', L'\0'};
            const WString global = DeviceTarget(api, WString(L"Global\\") + otherDrive);
            if (global == own)
                return otherDrive + current.substr(2);
            anyGlobal = anyGlobal || !global.empty();
        }
        return anyGlobal ? WString() : current;
    }
    return WString();
}

}  // namespace

RestartPlace PlaceForRestart(const RuntimeApi& api, const wchar_t* path, HANDLE examined)
{
    RestartPlace place;
    if (VersionNumber(api.GetVersion()) >= 600 && examined != INVALID_HANDLE_VALUE) {
        if (!FinalPathOf(api, examined, place.path))
            place.path.clear();
    } else {
        place.path = PathForEverySession(api, PlainPath(path));
    }
    place.reached = !place.path.empty() && !place.path.failed() && VolumeKeepsDeletion(api, place.path.c_str());
    return place;
}

bool RegisterDeletionAtRestart(const RuntimeApi& api, const WString& path)
{
    const WString target =
        VersionNumber(api.GetVersion()) <= 500 ? PathForOlderNt(path.c_str()) : ExtendedPath(path.c_str());
    return !target.empty() && !target.failed() &&
           api.MoveFileExW(target.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

bool ScheduleDeletionAtRestart(const RuntimeApi& api, const wchar_t* path, HANDLE examined, bool ownFolder)
{
    if (OsFamilyFromVersion(api.GetVersion()) == Win9x) {
        if (!LaterDeletionReaches(api, path))
            return false;
        return ScheduleWininitDeletion(api, AnsiFromWide(path).c_str());
    }
    const RestartPlace place = PlaceForRestart(api, path, examined);
    if (!place.reached || (!ownFolder && !PathBeyondUsersReach(api, place.path.c_str())))
        return false;
    return RegisterDeletionAtRestart(api, place.path);
}

// Whether a folder is out of every user's reach but Administrators' and
// SYSTEM's, read from its owner and ACL as the native security query gives
// them (self-relative).
#include "FolderTrust.h"

#include "FileSystem.h"
#include "Handle.h"

#include <cstring>

namespace {

// Well-known SIDs, as they lie in memory.
const BYTE SystemSid[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const BYTE AdministratorsSid[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
// NT SERVICE\TrustedInstaller, owner of the system's own folders from Vista on.
const BYTE TrustedInstallerSid[] = {1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,    0,
                                    0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D,
                                    0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};
// CREATOR OWNER, which an ACE names only to be inherited: it grants no one.
const BYTE CreatorOwnerSid[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};

template <size_t N>
bool SidIs(const BYTE* sid, size_t room, const BYTE (&known)[N])
{
    return room >= N && std::memcmp(sid, known, N) == 0;
}

// The length of the SID at sid, or 0 where it does not fit in room.
size_t SidLength(const BYTE* sid, size_t room)
{
    if (room < 8)
        return 0;
    const size_t length = 8 + 4 * size_t(sid[1]);
    return length <= room ? length : 0;
}

bool Trusted(const BYTE* sid, size_t room)
{
    return SidIs(sid, room, SystemSid) || SidIs(sid, room, AdministratorsSid) ||
           SidIs(sid, room, TrustedInstallerSid);
}

DWORD ReadDword(const BYTE* p)
{
    DWORD value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

WORD ReadWord(const BYTE* p)
{
    WORD value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

constexpr ULONG OwnerAndDacl = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
constexpr BYTE AllowedAce = 0;
constexpr BYTE DeniedAce = 1;
constexpr BYTE InheritOnly = 0x08;

// The owner and every ACE that applies to the folder itself.
bool DescriptorKeepsOthersOut(const BYTE* sd, size_t size, DWORD forbidden)
{
    if (size < 20 || sd[0] != 1 || !(ReadWord(sd + 2) & SE_SELF_RELATIVE))
        return false;
    const DWORD ownerAt = ReadDword(sd + 4);
    if (ownerAt == 0 || ownerAt >= size || !Trusted(sd + ownerAt, size - ownerAt))
        return false;
    // No ACL at all grants everyone everything.
    const DWORD daclAt = ReadDword(sd + 16);
    if (!(ReadWord(sd + 2) & SE_DACL_PRESENT) || daclAt == 0 || daclAt + 8 > size)
        return false;
    const BYTE* acl = sd + daclAt;
    const size_t aclSize = ReadWord(acl + 2);
    if (daclAt + aclSize > size)
        return false;
    size_t at = 8;
    for (WORD i = 0, count = ReadWord(acl + 4); i < count; ++i) {
        if (at + 4 > aclSize)
            return false;
        const BYTE type = acl[at];
        const BYTE flags = acl[at + 1];
        const size_t aceSize = ReadWord(acl + at + 2);
        if (aceSize < 4 || at + aceSize > aclSize)
            return false;
        if (!(flags & InheritOnly) && type != DeniedAce) {
            // An allowing ACE of another form (with a condition, or of an
            // object) cannot be read here: taken as granting all.
            if (type != AllowedAce || aceSize < 8)
                return false;
            const BYTE* sid = acl + at + 8;
            const size_t room = aceSize - 8;
            if (SidLength(sid, room) == 0)
                return false;
            if ((ReadDword(acl + at + 4) & forbidden) && !Trusted(sid, room) && !SidIs(sid, room, CreatorOwnerSid))
                return false;
        }
        at += aceSize;
    }
    return true;
}

// FAT, FAT12, FAT16, FAT32, exFAT.
bool OfTheFatFamily(const wchar_t* name)
{
    const wchar_t* fat = name[0] == L'e' && name[1] == L'x' ? name + 2 : name;
    return fat[0] == L'F' && fat[1] == L'A' && fat[2] == L'T';
}

// The owner and ACL of an open object, self-relative; null where unread.
UniquePtr<BYTE[]> SecurityOf(const RuntimeApi& api, HANDLE object, ULONG& size)
{
    size = 0;
    if (!api.NtQuerySecurityObject)
        return UniquePtr<BYTE[]>();
    ULONG needed = 0;
    for (ULONG room = 512; room <= 65536; room = needed > room ? needed : 65537) {
        UniquePtr<BYTE[]> buffer(new (NoThrow) BYTE[room]);
        if (!buffer)
            return buffer;
        needed = 0;
        if (api.NtQuerySecurityObject(object, OwnerAndDacl, buffer.get(), room, &needed) >= 0) {
            size = needed && needed <= room ? needed : room;
            return buffer;
        }
        if (needed <= room)
            break;
    }
    return UniquePtr<BYTE[]>();
}

}  // namespace

bool FolderBeyondUsersReach(const RuntimeApi& api, HANDLE folder, DWORD forbidden)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!api.GetFileInformationByHandle || !api.GetFileInformationByHandle(folder, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    ULONG size = 0;
    const UniquePtr<BYTE[]> descriptor = SecurityOf(api, folder, size);
    return descriptor && DescriptorKeepsOthersOut(descriptor.get(), size, forbidden);
}

WString VolumeRootOf(const RuntimeApi& api, const wchar_t* path)
{
    const wchar_t* plain = PlainPath(path);
    const wchar_t letter = static_cast<wchar_t>(plain[0] | 0x20);
    if (letter < L'a' || letter > L'z' || plain[1] != L':' || plain[2] != L'\\')
        return WString();
    if (api.GetVolumePathNameW) {
        wchar_t root[MAX_PATH + 1] = {};
        const WString extended = ExtendedPath(plain);
        if (api.GetVolumePathNameW(extended.c_str(), root, MAX_PATH)) {
            WString found = PlainPath(root);
            if (found.size() >= 3 && found[1] == L':' && found.back() == L'\\')
                return found;
        }
    }
    return WString(plain, 3);
}

bool OnFatVolume(const RuntimeApi& api, const WString& volumeRoot)
{
    // The flag alone does not say so: Wine's volumes lack it and follow the
    // host's links.
    constexpr DWORD SupportsReparsePoints = 0x80;  // FILE_SUPPORTS_REPARSE_POINTS
    DWORD flags = 0;
    wchar_t fileSystem[16] = {};
    return api.GetVolumeInformationW &&
           api.GetVolumeInformationW(ExtendedPath(volumeRoot.c_str()).c_str(), nullptr, 0, nullptr, nullptr, &flags,
                                     fileSystem, 16) &&
           !(flags & SupportsReparsePoints) && OfTheFatFamily(fileSystem);
}

bool PathBeyondUsersReach(const RuntimeApi& api, const wchar_t* path)
{
    const WString root = VolumeRootOf(api, path);
    if (root.empty() || root.failed())
        return false;
    // FAT holds no links. A volume mounted in a folder is reached through
    // that folder, itself a link, which the check below refuses.
    if (root.size() == 3 && OnFatVolume(api, root))
        return true;
    const WString plain = PlainPath(path);
    for (size_t end = 2; end != WString::npos; end = plain.find(L'\\', end + 1)) {
        // The drive's root with its backslash, any other folder without.
        const WString folder = ExtendedPath(plain.substr(0, end == 2 ? 3 : end).c_str());
        if (folder.failed())
            return false;
        FileHandle open(api.CreateFileW(folder.c_str(), READ_CONTROL,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
        if (!open || !FolderBeyondUsersReach(api, open.Get(), ReplacingRights))
            return false;
    }
    return true;
}

void OwnFolderSecurity(bool withOwner, bool protect, BYTE (&sd)[OwnFolderSecuritySize])
{
    // Header, owner, then an ACL of two ACEs, both inherited by what the
    // folder holds: full control for Administrators and for SYSTEM.
    static_assert(OwnFolderSecuritySize ==
                      20 + sizeof AdministratorsSid + 8 + 8 + sizeof AdministratorsSid + 8 + sizeof SystemSid,
                  "header, owner and ACL");
    std::memset(sd, 0, sizeof sd);
    const WORD control = SE_SELF_RELATIVE | SE_DACL_PRESENT | (protect ? SE_DACL_PROTECTED : 0);
    sd[0] = 1;
    std::memcpy(sd + 2, &control, 2);
    DWORD at = 20;
    if (withOwner) {
        std::memcpy(sd + 4, &at, 4);
        std::memcpy(sd + at, AdministratorsSid, sizeof AdministratorsSid);
        at += sizeof AdministratorsSid;
    }
    std::memcpy(sd + 16, &at, 4);
    BYTE* acl = sd + at;
    const WORD aclSize = 8 + 8 + sizeof AdministratorsSid + 8 + sizeof SystemSid;
    const WORD aceCount = 2;
    acl[0] = ACL_REVISION;
    std::memcpy(acl + 2, &aclSize, 2);
    std::memcpy(acl + 4, &aceCount, 2);
    BYTE* ace = acl + 8;
    const auto addAce = [&ace](const BYTE* sid, WORD sidSize) {
        const WORD aceSize = 8 + sidSize;
        const DWORD mask = FILE_ALL_ACCESS;
        ace[0] = AllowedAce;
        ace[1] = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        std::memcpy(ace + 2, &aceSize, 2);
        std::memcpy(ace + 4, &mask, 4);
        std::memcpy(ace + 8, sid, sidSize);
        ace += aceSize;
    };
    addAce(AdministratorsSid, sizeof AdministratorsSid);
    addAce(SystemSid, sizeof SystemSid);
}

bool HandToAdministratorsAndSystem(const RuntimeApi& api, HANDLE file)
{
    if (!api.NtSetSecurityObject)
        return false;
    BYTE security[OwnFolderSecuritySize];
    OwnFolderSecurity(true, VersionNumber(api.GetVersion()) >= 500, security);
    return api.NtSetSecurityObject(file, OwnerAndDacl, security) >= 0;
}

SavedSecurity::SavedSecurity(const RuntimeApi& api, HANDLE file) : api_(api)
{
    ULONG size = 0;
    descriptor_ = SecurityOf(api, file, size);
}

void SavedSecurity::Restore(HANDLE file) const
{
    if (descriptor_ && api_.NtSetSecurityObject)
        api_.NtSetSecurityObject(file, OwnerAndDacl, descriptor_.get());
}

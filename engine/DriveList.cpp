// Which roots the disk pass walks: the drive letters but those of USB
// volumes, a mapped drive's share where an elevated scan cannot see the
// letter, and a volume mounted in a folder that no letter leads to.
#include "DriveList.h"

#include "FileFind.h"
#include "FileSystem.h"
#include "Handle.h"
#include "Memory.h"

#include <winioctl.h>

#include <cstddef>
#include <cstring>

// The bus type sits at the same place in the 32-bit and the 64-bit layout.
static_assert(offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) == 28, "descriptor layout");

namespace {

// The storage property query of an opened volume.
bool ReportsUsbBus(const RuntimeApi& api, const FileHandle& device)
{
    if (!device)
        return false;

    constexpr DWORD DescriptorBufferSize = 551;
    UniquePtr<unsigned char[]> buffer(new (NoThrow) unsigned char[DescriptorBufferSize]());
    if (!buffer)
        return false;
    auto* descriptor = reinterpret_cast<STORAGE_DEVICE_DESCRIPTOR*>(buffer.get());
    descriptor->Size = DescriptorBufferSize;

    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    DWORD returned = 0;
    const BOOL answered = api.DeviceIoControl(device.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, 12,
                                              buffer.get(), DescriptorBufferSize, &returned, nullptr);
    // The buffer starts zeroed, so a short answer reads as no bus at all.
    return answered == TRUE && descriptor->BusType == BusTypeUsb;
}

// A volume by its name, \\?\Volume{...}\, on the NT family.
bool IsUsbVolumeNamed(const RuntimeApi& api, WString volume)
{
    if (!volume.empty() && volume.back() == L'\\')
        volume.resize(volume.size() - 1);
    FileHandle device(CreateFileW(volume.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  0, nullptr));
    return ReportsUsbBus(api, device);
}

}  // namespace

bool IsUsbVolume(char letter)
{
    const RuntimeApi api = OrdinaryApi();
    // The Windows 95 family knows neither volume paths nor this query.
    if (OsFamilyFromVersion(api.GetVersion()) == Win9x)
        return false;
    const char volume[] = {'\\', '\\', '?', '\\', letter, ':', '\0'};
    // No access asked: the query needs none, and reading a volume needs an
    // administrator, which the tool need not be.
    FileHandle device(CreateFileA(volume, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    return ReportsUsbBus(api, device);
}

namespace {

// A registry key opened through the run-time table, closed through it.
class RegistryKey {
public:
    explicit RegistryKey(const RuntimeApi& api) : api_(api) {}
    ~RegistryKey()
    {
        if (key_)
            api_.RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY* Receive() { return &key_; }
    HKEY Get() const { return key_; }

private:
    const RuntimeApi& api_;
    HKEY key_ = nullptr;
};

// Where a user's mappings lie: root\prefix<letter>.
struct MappingsKey {
    HKEY root = nullptr;
    WString prefix;
};

// The share the user mapped at the letter, \\server\share, as the user's
// profile keeps it; empty when there is none. unread: there may be one,
// but it could not be read.
WString MappedShare(const RuntimeApi& api, const MappingsKey& mappings, char letter, bool& unread)
{
    unread = false;
    if (!api.RegOpenKeyExW || !api.RegQueryValueExW || !api.RegCloseKey)
        return WString();
    const WString subKey = mappings.prefix + static_cast<wchar_t>(letter);
    if (subKey.failed())
        return WString();
    RegistryKey key(api);
    const LONG opened = api.RegOpenKeyExW(mappings.root, subKey.c_str(), 0, KEY_QUERY_VALUE, key.Receive());
    if (opened != ERROR_SUCCESS) {
        unread = opened != ERROR_FILE_NOT_FOUND;
        return WString();
    }
    constexpr DWORD Room = 1024;
    wchar_t remote[Room] = {};
    DWORD type = 0;
    DWORD bytes = (Room - 1) * sizeof(wchar_t);
    const LONG read =
        api.RegQueryValueExW(key.Get(), L"RemotePath", nullptr, &type, reinterpret_cast<BYTE*>(remote), &bytes);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        unread = read != ERROR_SUCCESS && read != ERROR_FILE_NOT_FOUND;
        return WString();
    }
    remote[bytes / sizeof(wchar_t) < Room ? bytes / sizeof(wchar_t) : Room - 1] = L'\0';
    WString share = remote;
    while (share.size() > 2 && share.back() == L'\\')
        share.pop_back();
    if (share.size() < 3 || share[0] != L'\\' || share[1] != L'\\')
        return WString();
    return share;
}

// The share a network drive letter that this process sees leads to, from
// what the letter stands for: \Device\LanmanRedirector\;M:0...\server\share,
// on 7 and later \Device\Mup\;LanmanRedirector\;M:0...\server\share, or
// \??\UNC\server\share; empty where it is none of these.
WString SeenShare(const RuntimeApi& api, char letter)
{
    const wchar_t drive[3] = {static_cast<wchar_t>(letter), L':', L'\0'};
    const WString target = DosDeviceTarget(api, drive);
    static const wchar_t Unc[] = L"\\??\\UNC\\";
    static const wchar_t Mup[] = L"\\Device\\Mup\\";
    WString share;
    const size_t semicolon = target.find_last_of(L';');
    if (target.substr(0, 8) == Unc) {
        share = L"\\" + target.substr(7);
    } else if (semicolon != WString::npos) {
        const size_t slash = target.find(L'\\', semicolon);
        if (slash != WString::npos)
            share = L"\\" + target.substr(slash);
    } else if (target.substr(0, 12) == Mup) {
        share = L"\\" + target.substr(11);
    }
    while (share.size() > 2 && share.back() == L'\\')
        share.pop_back();
    if (share.size() < 3 || share[2] == L'\\')
        return WString();
    return share;
}

// Server and share names, without regard to the case of ASCII letters.
bool SameShare(const WString& a, const WString& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const wchar_t x = a[i] >= L'A' && a[i] <= L'Z' ? static_cast<wchar_t>(a[i] + 32) : a[i];
        const wchar_t y = b[i] >= L'A' && b[i] <= L'Z' ? static_cast<wchar_t>(b[i] + 32) : b[i];
        if (x != y)
            return false;
    }
    return true;
}

// Vista and later, an administrator's process run elevated beside the
// user's limited one: its logon session is another one, without the drive
// letters the user mapped (Knowledge Base 937624).
bool ElevatedWithSplitToken(const RuntimeApi& api)
{
    if (!HasElevation(api.GetVersion()) || !api.GetTokenInformation)
        return false;
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken))
        return false;
    KernelHandle token(rawToken);
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD bytes = 0;
    return api.GetTokenInformation(token.Get(), TokenElevationType, &type, sizeof type, &bytes) &&
           type == TokenElevationTypeFull;
}

// The user SID of a token, as long as a SID can be.
constexpr size_t MaxSidBytes = 68;
bool TokenUserSid(const RuntimeApi& api, HANDLE token, BYTE (&sid)[MaxSidBytes])
{
    if (!api.GetTokenInformation)
        return false;
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + MaxSidBytes];
    } answer = {};
    DWORD bytes = 0;
    if (!api.GetTokenInformation(token, TokenUser, &answer, sizeof answer, &bytes))
        return false;
    const BYTE* found = static_cast<const BYTE*>(answer.user.User.Sid);
    const BYTE* end = answer.bytes + sizeof answer;
    if (found < answer.bytes || found + 8 > end || found[1] > 15 || found + 8 + 4 * found[1] > end)
        return false;
    std::memcpy(sid, found, 8 + 4 * found[1]);
    return true;
}

bool ProcessUserSid(const RuntimeApi& api, HANDLE process, DWORD access, BYTE (&sid)[MaxSidBytes],
                    KernelHandle* token = nullptr)
{
    HANDLE rawToken = nullptr;
    if (!api.OpenProcessToken(process, access, &rawToken))
        return false;
    KernelHandle opened(rawToken);
    if (!TokenUserSid(api, opened.Get(), sid))
        return false;
    if (token)
        *token = static_cast<KernelHandle&&>(opened);
    return true;
}

// S-1-5-21-..., as HKEY_USERS names the hive of a signed-in user.
WString SidText(const BYTE* sid)
{
    WString text = L"S-";
    AppendDecimal(text, sid[0]);
    text += L'-';
    ULONGLONG authority = 0;
    for (int i = 2; i < 8; ++i)
        authority = authority << 8 | sid[i];
    AppendDecimal(text, authority);
    for (BYTE i = 0; i < sid[1]; ++i) {
        DWORD part;
        std::memcpy(&part, sid + 8 + 4 * i, sizeof part);
        text += L'-';
        AppendDecimal(text, part);
    }
    return text;
}

enum class SignedIn { Unknown, Same, Another };

// Who owns the shell's process: the scan's own user, another (an
// administrator's name and password given to "Run as administrator", the
// built-in Administrator, Run as on 2000 and XP), or no one the scan can
// tell (no shell running, or its process or token refused). For another,
// the hive of that user and, where the system grants it, a copy of the
// user's token to wear while walking the user's shares.
SignedIn SignedInUser(const RuntimeApi& api, WString& hive, KernelHandle& userToken)
{
    if (!api.GetShellWindow || !api.GetWindowThreadProcessId)
        return SignedIn::Unknown;
    const HWND shell = api.GetShellWindow();
    DWORD processId = 0;
    if (!shell || !api.GetWindowThreadProcessId(shell, &processId) || processId == 0)
        return SignedIn::Unknown;
    // Vista and later grant the lesser right where the other is refused.
    const DWORD access = HasElevation(api.GetVersion()) ? PROCESS_QUERY_LIMITED_INFORMATION
                                                        : PROCESS_QUERY_INFORMATION;
    KernelHandle process(api.OpenProcess(access, FALSE, processId));
    BYTE signedIn[MaxSidBytes] = {};
    BYTE own[MaxSidBytes] = {};
    KernelHandle token;
    if (!process ||
        (!ProcessUserSid(api, process.Get(), TOKEN_QUERY | TOKEN_DUPLICATE, signedIn, &token) &&
         !ProcessUserSid(api, process.Get(), TOKEN_QUERY, signedIn)) ||
        !ProcessUserSid(api, GetCurrentProcess(), TOKEN_QUERY, own))
        return SignedIn::Unknown;
    if (std::memcmp(signedIn, own, 8 + 4 * signedIn[1]) == 0)
        return SignedIn::Same;
    hive = SidText(signedIn);
    if (hive.failed())
        return SignedIn::Unknown;
    HANDLE duplicate = nullptr;
    if (token && api.DuplicateToken && api.DuplicateToken(token.Get(), SecurityImpersonation, &duplicate))
        userToken.Reset(duplicate);
    return SignedIn::Another;
}

}  // namespace

void DriveList::ListShares(char firstDrive, char lastDrive)
{
    firstDrive_ = firstDrive;
    lastDrive_ = lastDrive;
    for (WString& share : shares_)
        share = WString();
    for (bool& seen : visible_)
        seen = false;
    for (bool& unread : unread_)
        unread = false;
    userToken_.Reset();
    sharesNeedUser_ = false;
    userUnknown_ = false;
    // Elevated with a split token, or run as another user, the signed-in
    // user's mapped drives are reached through their shares, each once; a
    // share that a letter this process sees leads to is walked at that
    // letter. Where such a letter is a network drive, the system says which
    // share; it may be in every session and not in the user's profile at all.
    if (OsFamilyFromVersion(api_.GetVersion()) == Win9x)
        return;
    MappingsKey mappings;
    WString hive;
    switch (SignedInUser(api_, hive, userToken_)) {
    case SignedIn::Another:
        // That user's profile may name any server: it is reached only
        // with that user's own credentials, never the scan's.
        mappings.root = HKEY_USERS;
        mappings.prefix = hive + L"\\Network\\";
        sharesNeedUser_ = true;
        break;
    case SignedIn::Same:
        if (!ElevatedWithSplitToken(api_))
            return;
        mappings.root = HKEY_CURRENT_USER;
        mappings.prefix = L"Network\\";
        break;
    case SignedIn::Unknown:
        // The scan's own profile is not the user's to speak for.
        userUnknown_ = ElevatedWithSplitToken(api_);
        return;
    }
    for (char letter = firstDrive; letter <= lastDrive; ++letter) {
        const char root[4] = {letter, ':', '\\', '\0'};
        const UINT type = api_.GetDriveTypeA(root);
        visible_[letter - 'A'] = type != DRIVE_NO_ROOT_DIR;
        WString seen = type == DRIVE_REMOTE ? SeenShare(api_, letter) : WString();
        shares_[letter - 'A'] = seen.empty() ? MappedShare(api_, mappings, letter, unread_[letter - 'A']) : seen;
    }
}

DriveRoot DriveList::RootAt(char letter) const
{
    if (unread_[letter - 'A'] && !visible_[letter - 'A'])
        return {DriveRoot::Unread, nullptr};
    if (shares_[letter - 'A'].empty() || visible_[letter - 'A'])
        return {DriveRoot::Letter, nullptr};
    const WString& share = shares_[letter - 'A'];
    for (char other = firstDrive_; other <= lastDrive_; ++other) {
        if ((visible_[other - 'A'] || other < letter) && SameShare(shares_[other - 'A'], share))
            return {DriveRoot::Nothing, nullptr};
    }
    // Another user's share without that user's token is not opened at all.
    if (sharesNeedUser_ && !userToken_)
        return {DriveRoot::Unread, nullptr};
    return {DriveRoot::Share, &share};
}

// A volume mounted in a folder is walked there when no drive letter of the
// pass leads to it and it is not on USB, once a scan; any other folder with
// the mount point tag is a junction and left alone.
bool DriveList::TakeMountedVolume(WString& folder, char firstDrive, char lastDrive)
{
    if (!api_.GetVolumeNameForVolumeMountPointW)
        return false;
    wchar_t volume[MaxVolumeName] = {};
    folder += L'\\';
    BOOL mounted;
    {
        RedirectionOff off(api_);
        mounted = api_.GetVolumeNameForVolumeMountPointW(folder.c_str(), volume, MaxVolumeName);
    }
    folder.pop_back();
    if (!mounted)
        return false;
    volume[MaxVolumeName - 1] = L'\0';

    if (!letterVolumesListed_) {
        letterVolumesListed_ = true;
        for (char letter = firstDrive; letter <= lastDrive; ++letter) {
            const wchar_t root[4] = {static_cast<wchar_t>(letter), L':', L'\\', L'\0'};
            wchar_t name[MaxVolumeName] = {};
            if (api_.GetVolumeNameForVolumeMountPointW(root, name, MaxVolumeName)) {
                name[MaxVolumeName - 1] = L'\0';
                letterVolumes_ += name;
                letterVolumes_ += L'\n';
            }
        }
    }
    const WString line = WString(volume) + L'\n';
    if (letterVolumes_.find(line) != WString::npos || mountedVolumes_.find(line) != WString::npos)
        return false;
    mountedVolumes_ += line;
    return !IsUsbVolumeNamed(api_, volume);
}

UserImpersonation::UserImpersonation(const RuntimeApi& api, HANDLE token) : api_(api)
{
    if (!token)
        return;
    if (api.SetThreadToken && api.RevertToSelf && api.SetThreadToken(nullptr, token))
        wearing_ = true;
    else
        refused_ = true;
}

UserImpersonation::~UserImpersonation()
{
    if (wearing_)
        api_.RevertToSelf();
}

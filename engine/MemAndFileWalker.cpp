#include "MemAndFileWalker.h"

#include "EngineText.h"
#include "FileFind.h"
#include "FileSystem.h"
#include "Handle.h"
#include "Memory.h"
#include "RestartDeletion.h"
#include "RuntimeApi.h"

#include <winioctl.h>

#include <cstddef>
#include <cstring>

namespace {

int EnablePrivilege(const char* name, int on)
{
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &rawToken))
        return 0;
    KernelHandle token(rawToken);

    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = on ? SE_PRIVILEGE_ENABLED : 0;
    // The last error alone tells whether the token holds the privilege.
    AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof privileges, nullptr, nullptr);
    return GetLastError() == ERROR_SUCCESS ? 1 : 0;
}

}  // namespace

int EnableDebugPrivilege(int on)
{
    return EnablePrivilege("SeDebugPrivilege", on);
}

int EnableBackupPrivileges(int on)
{
    const int backup = EnablePrivilege("SeBackupPrivilege", on);
    const int restore = EnablePrivilege("SeRestorePrivilege", on);
    return backup && restore ? 1 : 0;
}

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

// S-1-5-32-544, the Administrators group, as the token holds it.
const unsigned char AdministratorsSid[16] = {
    SID_REVISION, 2, 0, 0, 0, 0, 0, 5,  // two sub-authorities, SECURITY_NT_AUTHORITY
    0x20, 0, 0, 0, 0x20, 0x02, 0, 0,    // SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS
};

// More than any one user's groups take: a size past it is not believed.
constexpr DWORD MaxTokenGroupBytes = 64 * 1024;

enum class Rights { Administrator, Lacking, Unknown };

// Vista and later: whether this process runs elevated. NT 4.0 to XP: whether
// the Administrators group is enabled in its token; CheckTokenMembership
// would say it, but 2000 brought it. The Windows 95 family has no rights to
// lack.
Rights AdministratorRights(const RuntimeApi& api)
{
    const DWORD version = api.GetVersion();
    if (OsFamilyFromVersion(version) == Win9x || !api.GetTokenInformation)
        return Rights::Unknown;
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken))
        return Rights::Unknown;
    KernelHandle token(rawToken);

    DWORD bytes = 0;
    if (HasElevation(version)) {
        TOKEN_ELEVATION elevation = {};
        if (!api.GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &bytes))
            return Rights::Unknown;
        return elevation.TokenIsElevated ? Rights::Administrator : Rights::Lacking;
    }

    api.GetTokenInformation(token.Get(), TokenGroups, nullptr, 0, &bytes);
    if (bytes < sizeof(TOKEN_GROUPS) || bytes > MaxTokenGroupBytes)
        return Rights::Unknown;
    UniquePtr<unsigned char[]> buffer(new (NoThrow) unsigned char[bytes]);
    if (!buffer || !api.GetTokenInformation(token.Get(), TokenGroups, buffer.get(), bytes, &bytes))
        return Rights::Unknown;
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.get());
    const size_t fit = (bytes - offsetof(TOKEN_GROUPS, Groups)) / sizeof(SID_AND_ATTRIBUTES);
    for (DWORD i = 0; i < groups->GroupCount && i < fit; ++i) {
        const SID_AND_ATTRIBUTES& group = groups->Groups[i];
        const auto* sid = static_cast<const unsigned char*>(group.Sid);
        // The count comes first: a shorter SID is not read past its end.
        if (sid && sid[1] == AdministratorsSid[1] &&
            std::memcmp(sid, AdministratorsSid, sizeof AdministratorsSid) == 0) {
            // A group kept for denying access only grants nothing.
            const bool granting =
                (group.Attributes & SE_GROUP_ENABLED) && !(group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY);
            return granting ? Rights::Administrator : Rights::Lacking;
        }
    }
    return Rights::Lacking;
}

// Appends text and a line break where they fit whole.
void AppendLine(char* buffer, size_t size, const char* text)
{
    const size_t used = std::strlen(buffer);
    const size_t length = std::strlen(text);
    if (used + length + 2 > size)
        return;
    std::memcpy(buffer + used, text, length);
    buffer[used + length] = '\n';
    buffer[used + length + 1] = '\0';
}

// The format with each %d replaced by the next value in decimal and each
// %c by the next value as a character, cut to fit size.
void FormatCounts(char* buffer, size_t size, const char* format, const int* values, size_t count)
{
    size_t used = 0;
    size_t next = 0;
    for (const char* p = format; *p != '\0' && used + 1 < size; ++p) {
        if (p[0] == '%' && p[1] == 'c' && next < count) {
            buffer[used++] = static_cast<char>(values[next++]);
            ++p;
        } else if (p[0] == '%' && p[1] == 'd' && next < count) {
            const int value = values[next++];
            unsigned int rest = value < 0 ? 0u - static_cast<unsigned int>(value) : static_cast<unsigned int>(value);
            char digits[12];
            size_t n = 0;
            do {
                digits[n++] = static_cast<char>('0' + rest % 10);
                rest /= 10;
            } while (rest != 0);
            if (value < 0)
                digits[n++] = '-';
            while (n > 0 && used + 1 < size)
                buffer[used++] = digits[--n];
            ++p;
        } else {
            buffer[used++] = *p;
        }
    }
    buffer[used] = '\0';
}

}  // namespace

DWORD WINAPI ScanThreadProc(LPVOID parameter)
{
    auto* context = static_cast<ScanContext*>(parameter);
    {
        MemAndFileWalker walker(context);
        walker.RunScan();
    }
    if (context)
        context->WorkerDone();
    return 0;
}

MemAndFileWalker::MemAndFileWalker(ScanContext* context_, const SignatureSet& signatures)
    : context(context_), files(0), infected(0), deleted(0), signatures_(signatures)
{
    EnableDebugPrivilege(1);
    EnableBackupPrivileges(1);
    ResolveLaterKernel32Functions(api_);
    ResolveLoadedNtdllFunctions(api_);
    ResolveTokenFunctions(api_);
    if (RuntimeApiOverride)
        RuntimeApiOverride(api_);
}

MemAndFileWalker::~MemAndFileWalker()
{
    EnableBackupPrivileges(0);
    EnableDebugPrivilege(0);
}

void MemAndFileWalker::RunScan()
{
    if (!context)
        return;
    // A failed allocation inside a pass ends that pass (the walk stops at a
    // path that failed()); the scan still returns the dialog to idle and
    // shows what it counted.
    if (!context->StopRequested())
        ScanMemory();
    if (!context->StopRequested())
        ScanDrives();
    context->SetProgressPos(0);
    context->SetStatusText("");
    context->NotifyScanDone();
    ShowSummary();
}

UINT MemAndFileWalker::Language() const
{
    return context->language < LanguageCount ? context->language : LanguageEnglish;
}

void MemAndFileWalker::ShowSummary() const
{
    const UINT language = Language();
    // The counts, then a line for each reason the scan fell short.
    char summary[1024] = {};
    const int counts[3] = {static_cast<int>(files), static_cast<int>(infected), static_cast<int>(infected - deleted)};
    FormatCounts(summary, sizeof summary, SummaryFormat[language], counts, 3);
    if (memoryGap_ == GapNoPsapi)
        AppendLine(summary, sizeof summary, NoPsapiNote[language]);
    if (removalDenied_ && AdministratorRights(api_) == Rights::Lacking)
        AppendLine(summary, sizeof summary, RunAsAdministratorNote[language]);
    if (unexamined != 0) {
        char line[320] = {};
        const int count = static_cast<int>(unexamined);
        FormatCounts(line, sizeof line, NotExaminedNote[language], &count, 1);
        AppendLine(summary, sizeof summary, line);
    }
    for (size_t i = 0; i < unreachableShares_.size(); ++i) {
        char line[160] = {};
        const int letter = unreachableShares_[i];
        FormatCounts(line, sizeof line, UnreachableShareNote[language], &letter, 1);
        AppendLine(summary, sizeof summary, line);
    }
    MessageBoxA(context->progressBar, summary, SummaryCaption[language], MB_OK);
}

int MemAndFileWalker::OnFile(int fromMemory, const wchar_t* path, unsigned long long knownSize,
                             const wchar_t* shownPath)
{
    if (!shownPath)
        shownPath = path;
    const UINT n = ++files;
    if (n % 100 == 0) {
        // Built piece by piece: a path is never a format and has no length limit.
        wchar_t count[12];
        size_t digits = sizeof count / sizeof count[0];
        count[--digits] = L'\0';
        for (UINT rest = n; rest != 0; rest /= 10)
            count[--digits] = static_cast<wchar_t>(L'0' + rest % 10);
        WString status(count + digits);
        status += L' ';
        if (fromMemory)
            status += L"Memory>>";
        status += shownPath;
        if (!status.failed())
            context->SetStatusText(status.c_str());
    }
    if (knownSize == ContentElsewhere || (knownSize != UnknownSize && !signatures_.HasSize(knownSize)))
        return 1;
    const bool signatureSized = knownSize != UnknownSize;
    if (!path) {
        unexamined += signatureSized;
        return 1;
    }
    ScanOutcome outcome;
    {
        RedirectionOff off(api_);
        ExaminedFile file = openFile(api_, path);
        if (!file.handle) {
            // A module's size is not known: the disk pass counts its file.
            unexamined += signatureSized;
            return 1;
        }
        // Met again, by another process's modules or by the disk pass.
        if (foundCount_ != 0 && FoundBefore(file, path))
            return 1;
        const MatchResult match = MatchHandle(file.handle.Get(), signatures_);
        if (match != MatchInfected) {
            unexamined += match == MatchUnread;
            return 1;
        }
        Found(file, path);
        outcome = Remediate(path, file);
    }
    ++infected;
    const UINT language = context->language < LanguageCount ? context->language : LanguageEnglish;
    context->AddResultRow(shownPath, DetectionName, StatusWords[outcome * 4 + language]);
    return 1;
}

namespace {

// The Windows 95 family's key for a file: its short path, which both passes
// can give in another form.
AString PathKey(const wchar_t* path)
{
    const AString ansi = AnsiFromWide(path);
    char shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameA(ansi.c_str(), shortPath, MAX_PATH);
    return length > 0 && length < MAX_PATH ? AString(shortPath, length) : ansi;
}

unsigned char LowerAscii(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 0x20) : c;
}

// Case-insensitive in ASCII, as FAT names are; both bytes of a double-byte
// character as they are.
bool SamePath(const AString& a, const AString& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (IsDBCSLeadByte(x) && i + 1 < a.size()) {
            if (x != y || a[i + 1] != b[i + 1])
                return false;
            ++i;
        } else if (LowerAscii(x) != LowerAscii(y)) {
            return false;
        }
    }
    return true;
}

// Whether administrator rights could have let the file be removed: not on
// a share, a CD or DVD, or a volume mounted read-only.
bool RightsCouldHelp(const RuntimeApi& api, const wchar_t* path)
{
    if (!LaterDeletionReaches(api, path))
        return false;
    const wchar_t* plain = PlainPath(path);
    if (plain[0] == L'\0' || plain[1] != L':')
        return true;
    constexpr DWORD ReadOnlyVolume = 0x00080000;  // FILE_READ_ONLY_VOLUME
    const wchar_t wideRoot[4] = {plain[0], L':', L'\\', L'\0'};
    DWORD flags = 0;
    return !(api.GetVolumeInformationW &&
             api.GetVolumeInformationW(wideRoot, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
             (flags & ReadOnlyVolume));
}

}  // namespace

bool MemAndFileWalker::FoundBefore(const ExaminedFile& file, const wchar_t* path) const
{
    if (OsFamilyFromVersion(api_.GetVersion()) == Win9x) {
        const AString key = PathKey(path);
        for (size_t i = 0; i < foundCount_; ++i) {
            if (SamePath(found_[i].path, key))
                return true;
        }
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!api_.GetFileInformationByHandle || !api_.GetFileInformationByHandle(file.handle.Get(), &info))
        return false;
    for (size_t i = 0; i < foundCount_; ++i) {
        const FoundFile& f = found_[i];
        if (f.path.empty() && f.volume == info.dwVolumeSerialNumber && f.indexHigh == info.nFileIndexHigh &&
            f.indexLow == info.nFileIndexLow)
            return true;
    }
    return false;
}

void MemAndFileWalker::Found(const ExaminedFile& file, const wchar_t* path)
{
    FoundFile entry;
    if (OsFamilyFromVersion(api_.GetVersion()) == Win9x) {
        entry.path = PathKey(path);
    } else {
        BY_HANDLE_FILE_INFORMATION info = {};
        if (!api_.GetFileInformationByHandle || !api_.GetFileInformationByHandle(file.handle.Get(), &info))
            return;
        entry.volume = info.dwVolumeSerialNumber;
        entry.indexHigh = info.nFileIndexHigh;
        entry.indexLow = info.nFileIndexLow;
    }
    if (foundCount_ == foundCapacity_) {
        const size_t capacity = foundCapacity_ ? foundCapacity_ * 2 : 8;
        UniquePtr<FoundFile[]> grown(new (NoThrow) FoundFile[capacity]);
        if (!grown)
            return;
        for (size_t i = 0; i < foundCount_; ++i)
            grown[i] = std::move(found_[i]);
        found_.reset(grown.release());
        foundCapacity_ = capacity;
    }
    found_[foundCount_++] = std::move(entry);
}

ScanOutcome MemAndFileWalker::Remediate(const wchar_t* path, ExaminedFile& file)
{
    bool denied = false;
    if (OsFamilyFromVersion(api_.GetVersion()) == Win9x) {
        // Its deletion by path needs the file closed.
        file.handle.Reset();
        ResetAttributes(path);
        if (RemoveFile(path)) {
            ++deleted;
            return OutcomeDeleted;
        }
        denied = GetLastError() == ERROR_ACCESS_DENIED;
    } else if (file.removable) {
        // Deleted when the handle closes, at the end of the visit.
        const LONG status = RemoveThroughHandle(api_, file.handle.Get());
        if (status >= 0) {
            ++deleted;
            return OutcomeDeleted;
        }
        denied = status == StatusAccessDenied || status == StatusCannotDelete;
    } else {
        denied = file.refusal == ERROR_ACCESS_DENIED;
    }
    if (ScheduleDeletionAtRestart(api_, path, file.handle.IsValid() ? file.handle.Get() : INVALID_HANDLE_VALUE))
        return OutcomeDelayDelete;
    if ((denied || GetLastError() == ERROR_ACCESS_DENIED) && RightsCouldHelp(api_, path))
        removalDenied_ = true;
    return OutcomeKillFailed;
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

// The share the user mapped at the letter, \\server\share, as the user's
// profile keeps it; empty when there is none.
WString MappedShare(const RuntimeApi& api, char letter)
{
    if (!api.RegOpenKeyExW || !api.RegQueryValueExW || !api.RegCloseKey)
        return WString();
    const wchar_t subKey[] = {L'N', L'e', L't', L'w', L'o', L'r', L'k', L'\\', static_cast<wchar_t>(letter), L'\0'};
    RegistryKey key(api);
    if (api.RegOpenKeyExW(HKEY_CURRENT_USER, subKey, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS)
        return WString();
    constexpr DWORD Room = 1024;
    wchar_t remote[Room] = {};
    DWORD type = 0;
    DWORD bytes = (Room - 1) * sizeof(wchar_t);
    if (api.RegQueryValueExW(key.Get(), L"RemotePath", nullptr, &type, reinterpret_cast<BYTE*>(remote), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return WString();
    remote[bytes / sizeof(wchar_t) < Room ? bytes / sizeof(wchar_t) : Room - 1] = L'\0';
    WString share = remote;
    while (share.size() > 2 && share.back() == L'\\')
        share.pop_back();
    if (share.size() < 3 || share[0] != L'\\' || share[1] != L'\\')
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

}  // namespace

void MemAndFileWalker::ScanDrives()
{
    // One step per letter reaches the end at the last one: a step past the
    // end would start the bar over. The memory pass leaves it anywhere.
    context->SetProgressRange(0, lastDrive >= firstDrive ? lastDrive - firstDrive + 1 : 0);
    context->SetProgressPos(0);
    context->SetProgressStep(1);

    // Elevated with a split token, the user's mapped drives are reached
    // through their shares, each once; a share that a letter this process
    // sees leads to is walked at that letter.
    WString shares[26];
    bool visible[26] = {};
    if (ElevatedWithSplitToken(api_)) {
        for (char letter = firstDrive; letter <= lastDrive; ++letter) {
            const char root[4] = {letter, ':', '\\', '\0'};
            visible[letter - 'A'] = api_.GetDriveTypeA(root) != DRIVE_NO_ROOT_DIR;
            shares[letter - 'A'] = MappedShare(api_, letter);
        }
    }
    auto shareOf = [&](char letter) -> const WString* {
        const WString& share = shares[letter - 'A'];
        if (share.empty() || visible[letter - 'A'])
            return nullptr;
        for (char other = firstDrive; other <= lastDrive; ++other) {
            if ((visible[other - 'A'] || other < letter) && SameShare(shares[other - 'A'], share))
                return nullptr;
        }
        return &share;
    };

    for (char letter = firstDrive; letter <= lastDrive; ++letter) {
        context->StepProgress();
        if (context->StopRequested())
            return;
        if (isUsbVolume(letter))
            continue;
        if (!shares[letter - 'A'].empty() && !visible[letter - 'A']) {
            if (const WString* share = shareOf(letter))
                ScanShare(letter, *share);
            continue;
        }
        const wchar_t root[3] = {static_cast<wchar_t>(letter), L':', L'\0'};
        ScanDirectory(root);
    }
}

void MemAndFileWalker::ScanShare(char letter, const WString& share)
{
    basicListing_ = api_.FindFirstFileExW && VersionNumber(api_.GetVersion()) >= 601;
    WString path = L"\\\\?\\UNC" + share.substr(1);
    if (!WalkFolder(path))
        unreachableShares_ += letter;
}

void MemAndFileWalker::ScanDirectory(const wchar_t* dir)
{
    const DWORD version = api_.GetVersion();
    if (OsFamilyFromVersion(version) == Win9x) {
        AString path = AnsiFromWide(dir);
        AString shown = path;
        WalkFolder9x(path, shown);
        return;
    }
    basicListing_ = api_.FindFirstFileExW && VersionNumber(version) >= 601;
    WString path = ExtendedPath(dir);
    if (!path.failed())
        WalkFolder(path);
}

namespace {

template <class FindData>
unsigned long long FileSize(const FindData& entry)
{
    return static_cast<unsigned long long>(entry.nFileSizeHigh) << 32 | entry.nFileSizeLow;
}

// The folders a walk has entered and not yet finished, innermost on top,
// each with its open listing. They live on the heap, so that no depth a
// file system allows can exhaust the worker's stack; each level holds one
// open search, and there are never more levels than the path has
// backslashes.
template <class Level>
class LevelStack {
public:
    LevelStack() = default;
    ~LevelStack()
    {
        while (top_)
            Pop();
    }
    LevelStack(const LevelStack&) = delete;
    LevelStack& operator=(const LevelStack&) = delete;

    Level* Top() const { return top_; }
    // Takes the level; false when there is none (a failed allocation).
    bool Push(Level* level)
    {
        if (!level)
            return false;
        level->parent = top_;
        top_ = level;
        return true;
    }
    void Pop()
    {
        Level* level = top_;
        top_ = level->parent;
        delete level;
    }

private:
    Level* top_ = nullptr;
};

struct WideLevel {
    WideLevel(const RuntimeApi& api, bool& basicInfo, WIN32_FIND_DATAW& entry, size_t length_)
        : listing(api, basicInfo, entry), length(length_)
    {
    }
    WideFolderListing listing;
    size_t length;           // of the folder's path
    bool entryTaken = false;  // the listing's current entry has been visited
    WideLevel* parent = nullptr;
};

struct AnsiLevel {
    AnsiLevel(const RuntimeApi& api, AString* dir_, size_t length_, size_t shownLength_)
        : listing(api), dir(dir_), length(length_), shownLength(shownLength_)
    {
    }
    FolderListing listing;
    // The string that holds the folder's path in the form the file
    // functions take: the walk's own, or an outer folder's short path.
    AString* dir;
    size_t length;
    size_t shownLength;
    // The folder's short path, made when an entry first needs it; empty
    // while not made, and when the folder has none.
    AString shortDir;
    size_t shortLength = 0;
    bool shortDirMade = false;
    bool entryTaken = false;
    AnsiLevel* parent = nullptr;
};

}  // namespace

// path holds the folder on entry and again on return; entries are appended
// to it in place, so one buffer serves the whole walk. It is the form the
// wide functions take, a drive path with \\?\ in front; without that
// prefix it is the path shown. The walk is depth-first in the order of the
// listings: a folder is entered the moment its entry is met. A path that
// failed() (no memory to grow it) ends the walk.
bool MemAndFileWalker::WalkFolder(WString& path)
{
    const size_t rootLength = path.size();
    // A share's files are shown as \\server\share\..., without \\?\UNC.
    const bool share = path.substr(0, 8) == L"\\\\?\\UNC\\";
    auto shownOf = [share](const WString& path) {
        return share ? L"\\" + path.substr(7) : WString(PlainPath(path.c_str()));
    };
    LevelStack<WideLevel> levels;
    // The innermost listing's entry; an outer one's is not needed again.
    WIN32_FIND_DATAW entry = {};
    // True when the folder in path is listed and now the innermost level.
    auto enter = [&]() {
        if (!levels.Push(new (NoThrow) WideLevel(api_, basicListing_, entry, path.size())))
            return false;
        RedirectionOff off(api_);
        if (levels.Top()->listing.First(path))
            return true;
        levels.Pop();
        return false;
    };
    const bool listed = enter();
    while (WideLevel* level = levels.Top()) {
        WideFolderListing& listing = level->listing;
        const size_t length = level->length;
        path.resize(length);
        // The first entry comes with the listing; a level returned to has
        // taken the one it descended into.
        bool more = !level->entryTaken || listing.Next();
        level->entryTaken = true;
        bool entered = false;
        for (; more && !entered; more = !entered && listing.Next()) {
            if (context->StopRequested() || path.failed()) {
                path.resize(rootLength);
                return listed;
            }
            const EntryKind kind = KindOf(entry);
            if (kind == EntryKind::Skipped)
                continue;
            const wchar_t* name = listing.ReachableName(path);
            if (!name) {
                if (kind == EntryKind::File)
                    OnFile(0, nullptr, FileSize(entry), (shownOf(path) + L'\\' + entry.cFileName).c_str());
                continue;
            }
            path += L'\\';
            path += name;
            if (path.failed())
                return listed;
            if (kind == EntryKind::Folder || (kind == EntryKind::MountPoint && TakeMountedVolume(path))) {
                entered = enter();
            } else if (kind == EntryKind::File) {
                const unsigned long long known = IsContentElsewhere(entry.dwFileAttributes) ? ContentElsewhere
                                                 : openEveryFile                             ? UnknownSize
                                                                                             : FileSize(entry);
                OnFile(0, path.c_str(), known, share ? shownOf(path).c_str() : PlainPath(path.c_str()));
            }
            if (!entered)
                path.resize(length);
        }
        if (!entered)
            levels.Pop();
    }
    path.resize(rootLength);
    return listed;
}

// The Windows 95 family's walk, in the ANSI code page. path and shown hold
// the folder on entry and again on return; path is the form the file
// functions take, shown the folder's own path.
void MemAndFileWalker::WalkFolder9x(AString& path, AString& shown)
{
    const size_t rootLength = path.size();
    const size_t shownRootLength = shown.size();
    LevelStack<AnsiLevel> levels;
    auto enter = [&](AString* dir) {
        if (!levels.Push(new (NoThrow) AnsiLevel(api_, dir, dir->size(), shown.size())))
            return;
        if (!levels.Top()->listing.First(*dir))
            levels.Pop();
    };
    enter(&path);
    while (AnsiLevel* level = levels.Top()) {
        AString& dir = *level->dir;
        dir.resize(level->length);
        shown.resize(level->shownLength);
        if (level->entryTaken && !level->listing.Next()) {
            levels.Pop();
            continue;
        }
        level->entryTaken = true;
        if (context->StopRequested() || dir.failed() || shown.failed())
            break;
        const WIN32_FIND_DATAA& entry = level->listing.Entry();
        const EntryKind kind = KindOf(entry);
        if (kind == EntryKind::Skipped || kind == EntryKind::MountPoint)
            continue;
        const EntryRoute route = RouteTo(entry, kind == EntryKind::Folder, dir);
        if (!route.name) {
            if (kind == EntryKind::File)
                OnFile(0, nullptr, FileSize(entry), WideFromAnsi((shown + '\\' + entry.cFileName).c_str()).c_str());
            continue;
        }
        AString* base = &dir;
        if (route.form == FolderForm::Short) {
            if (!level->shortDirMade) {
                level->shortDirMade = true;
                // A folder without a short path is reached as it is: no copy
                // of a long path is kept.
                AString shortDir = ShortPathOf(dir);
                if (!shortDir.failed() && !(shortDir == dir)) {
                    level->shortDir = std::move(shortDir);
                    level->shortLength = level->shortDir.size();
                }
            }
            if (!level->shortDir.empty())
                base = &level->shortDir;
        }

        // The short path keeps what its last entry appended until now.
        if (base != &dir)
            base->resize(level->shortLength);
        *base += '\\';
        *base += route.name;
        shown += '\\';
        shown += route.shownName;
        if (base->failed() || shown.failed())
            break;
        if (kind == EntryKind::Folder) {
            enter(base);
        } else {
            OnFile(0, WideFromAnsi(base->c_str()).c_str(), openEveryFile ? UnknownSize : FileSize(entry),
                   WideFromAnsi(shown.c_str()).c_str());
        }
    }
    path.resize(rootLength);
    shown.resize(shownRootLength);
}

// A volume mounted in a folder is walked there when no drive letter of the
// pass leads to it and it is not on USB, once a scan; any other folder with
// the mount point tag is a junction and left alone.
bool MemAndFileWalker::TakeMountedVolume(WString& folder)
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

// What becomes of an infected file: removed through the handle it was
// examined by or by its path, else registered for deletion at the next
// restart; and the record of the files found, so that one met again is
// not reported twice.
#include "Removal.h"

#include "FolderTrust.h"
#include "Privileges.h"
#include "Quarantine.h"
#include "RestartDeletion.h"

#include <utility>

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

// The name as both passes may give it: without \\?\, any case of the
// ASCII letters (the NT family's names are case-insensitive).
bool SameName(const WString& handled, const wchar_t* path)
{
    const wchar_t* plain = PlainPath(path);
    if (WString::Length(plain) != handled.size())
        return false;
    for (size_t i = 0; i < handled.size(); ++i) {
        const wchar_t x = handled[i];
        const wchar_t y = plain[i];
        const wchar_t lowerX = x >= L'A' && x <= L'Z' ? static_cast<wchar_t>(x + 0x20) : x;
        const wchar_t lowerY = y >= L'A' && y <= L'Z' ? static_cast<wchar_t>(y + 0x20) : y;
        if (lowerX != lowerY)
            return false;
    }
    return true;
}

}  // namespace

bool Removal::FirstMeeting(const ExaminedFile& file, const wchar_t* path)
{
    FoundFile entry;
    if (OsFamilyFromVersion(api_.GetVersion()) == Win9x) {
        entry.path = PathKey(path);
        for (size_t i = 0; i < foundCount_; ++i) {
            if (SamePath(found_[i].path, entry.path))
                return false;
        }
    } else {
        // Without a key the file cannot be told from another: handled anew.
        if (!file.keyKnown)
            return true;
        entry.volume = file.volume;
        entry.indexHigh = file.indexHigh;
        entry.indexLow = file.indexLow;
        entry.name = PlainPath(path);
        for (size_t i = 0; i < foundCount_; ++i) {
            const FoundFile& f = found_[i];
            if (f.path.empty() && f.volume == entry.volume && f.indexHigh == entry.indexHigh &&
                f.indexLow == entry.indexLow && SameName(f.name, path))
                return false;
        }
        if (entry.name.failed())
            return true;
    }
    Remember(static_cast<FoundFile&&>(entry));
    return true;
}

void Removal::Remember(FoundFile&& entry)
{
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

ScanOutcome Removal::Remediate(const wchar_t* path, ExaminedFile& file)
{
    bool denied = false;
    if (OsFamilyFromVersion(api_.GetVersion()) == Win9x) {
        // Its deletion by path needs the file closed.
        file.handle.Reset();
        ResetAttributes(path);
        if (RemoveFile(path))
            return OutcomeDeleted;
        denied = GetLastError() == ERROR_ACCESS_DENIED;
        if (ScheduleDeletionAtRestart(api_, path))
            return OutcomeDelayDelete;
    } else {
        if (file.removable) {
            // Deleted when the handle closes, at the end of the visit.
            const LONG status = RemoveThroughHandle(api_, file.handle.Get());
            if (status >= 0)
                return file.links <= 1 || RemoveOtherNames(path, file) ? OutcomeDeleted : OutcomeKillFailed;
            denied = status == StatusAccessDenied || status == StatusCannotDelete;
        } else {
            denied = file.refusal == ERROR_ACCESS_DENIED;
            // The deletion at the restart does not clear it either.
            if (file.attributesWritable)
                ResetAttributesThroughHandle(api_, file.handle.Get());
        }
        if (LeaveForRestart(path, file))
            return OutcomeDelayDelete;
    }
    if ((denied || GetLastError() == ERROR_ACCESS_DENIED) && RightsCouldHelp(api_, path))
        removalDenied_ = true;
    return OutcomeKillFailed;
}

bool Removal::LeaveForRestart(const wchar_t* path, ExaminedFile& file)
{
    const HANDLE examined = file.handle.Get();
    // Nothing is moved or changed for a restart that will not reach the
    // file, nor where another name would keep it: that name cannot be
    // removed while the handle, sharing no deletion, holds the file.
    if (file.links > 1)
        return false;
    const RestartPlace place = PlaceForRestart(api_, path, examined);
    if (!place.reached)
        return false;
    // The copy's owner and ACL become those of the program's own folder
    // only where its registration follows.
    const SavedSecurity saved(api_, examined);
    WString moved;
    if (file.removable && ownFolders_.MoveInto(place.path, examined, moved)) {
        // Its own ACL would let its user, and the worm, open it there and
        // rename it back.
        const bool handed = file.aclWritable && HandToAdministratorsAndSystem(api_, examined);
        if (handed && RegisterDeletionAtRestart(api_, moved)) {
            // The disk pass may meet it there: the same file, handled.
            FirstMeeting(file, moved.c_str());
            return true;
        }
        if (handed)
            saved.Restore(examined);
        if (!ownFolders_.MoveBack(examined, place.path))
            return false;
    }
    // Where it cannot be moved, only a path no user can change is
    // registered: the deletion is carried out as SYSTEM, following the path
    // as it stands then. NT 4.0 to XP delete it by its own ACL, which a
    // worm may have made deny that.
    if (!PathBeyondUsersReach(api_, place.path.c_str()))
        return false;
    const bool handed = file.aclWritable && HandToAdministratorsAndSystem(api_, examined);
    if (RegisterDeletionAtRestart(api_, place.path))
        return true;
    if (handed)
        saved.Restore(examined);
    return false;
}

namespace {

// Removes the name at the plain path where it is a name of the file with
// the key, through a handle of its own checked to be that file.
bool RemoveName(const RuntimeApi& api, const WString& path, const ExaminedFile& file)
{
    FileHandle name(api.CreateFileW(ExtendedPath(path.c_str()).c_str(), DELETE | FILE_READ_ATTRIBUTES |
                                        FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    return name && api.GetFileInformationByHandle(name.Get(), &info) && info.dwVolumeSerialNumber == file.volume &&
           info.nFileIndexHigh == file.indexHigh && info.nFileIndexLow == file.indexLow &&
           RemoveThroughHandle(api, name.Get()) >= 0;
}

// Every name of the file at path, each from its volume's root, after one
// another with their terminators; empty where the system cannot list them.
WString ListNames(const RuntimeApi& api, const wchar_t* path)
{
    WString names;
    if (!api.FindFirstFileNameW || !api.FindNextFileNameW)
        return names;
    WString name(MAX_PATH, L'\0');
    FindHandle find;
    for (;;) {
        DWORD length = static_cast<DWORD>(name.size());
        bool listed;
        if (find) {
            listed = api.FindNextFileNameW(find.Get(), &length, &name[0]) != FALSE;
        } else {
            find.Reset(api.FindFirstFileNameW(ExtendedPath(path).c_str(), 0, &length, &name[0]));
            listed = find.IsValid();
        }
        const DWORD error = listed ? NO_ERROR : GetLastError();
        if (error == ERROR_MORE_DATA && length > name.size() && length <= 32768) {
            name.resize(length);
        } else if (listed) {
            names += name.c_str();
            names += L'\0';
        } else {
            return find && error == ERROR_HANDLE_EOF ? names : WString();
        }
        if (name.failed() || names.failed())
            return WString();
    }
}

}  // namespace

bool Removal::RemoveOtherNames(const wchar_t* path, ExaminedFile& file)
{
    // Vista and later list a file's names; before, a file with another name
    // keeps it. Listed while this name is still there.
    const WString names = ListNames(api_, path);
    WString root = VolumeRootOf(api_, path);
    if (names.empty() || root.empty() || root.failed())
        return false;
    root.pop_back();
    // This name goes now: the handle, sharing no deletion, would refuse
    // every other open for it.
    file.handle.Reset();
    const wchar_t* handled = PlainPath(path);
    DWORD removed = 0;
    for (size_t at = 0; at < names.size(); at += WString::Length(names.c_str() + at) + 1) {
        const WString other = root + (names.c_str() + at);
        if (!other.failed() && !SameName(other, handled))
            removed += RemoveName(api_, other, file);
    }
    return removed + 1 == file.links;
}

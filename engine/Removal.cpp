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

bool Removal::FoundBefore(const ExaminedFile& file, const wchar_t* path) const
{
    if (foundCount_ == 0)
        return false;
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
            f.indexLow == info.nFileIndexLow && SameName(f.name, path))
            return true;
    }
    return false;
}

void Removal::Found(const ExaminedFile& file, const wchar_t* path)
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
        entry.name = PlainPath(path);
        if (entry.name.failed())
            return;
    }
    Remember(static_cast<FoundFile&&>(entry));
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
    } else if (file.removable) {
        // Deleted when the handle closes, at the end of the visit.
        const LONG status = RemoveThroughHandle(api_, file.handle.Get());
        if (status >= 0)
            return OutcomeDeleted;
        denied = status == StatusAccessDenied || status == StatusCannotDelete;
    } else {
        denied = file.refusal == ERROR_ACCESS_DENIED;
        // The deletion at the restart does not clear it either.
        if (file.attributesWritable)
            ResetAttributesThroughHandle(api_, file.handle.Get());
    }
    const HANDLE examined = file.handle.IsValid() ? file.handle.Get() : INVALID_HANDLE_VALUE;
    if (OsFamilyFromVersion(api_.GetVersion()) == Win9x) {
        if (ScheduleDeletionAtRestart(api_, path, examined))
            return OutcomeDelayDelete;
    } else {
        // Moved out of any folder a user could swap for a link, the copy
        // waits in the program's own; where it cannot be moved, only a path
        // no user can change is registered. Either way the row keeps the
        // path it was found at. NT 4.0 to XP delete it then as SYSTEM, by
        // its own ACL, which a worm may have made deny that.
        if (file.aclWritable)
            HandToAdministratorsAndSystem(api_, examined);
        WString moved;
        if (file.removable && MoveIntoOwnFolder(api_, path, examined, moved)) {
            // The disk pass may meet it there: the same file, handled.
            Found(file, moved.c_str());
            if (ScheduleDeletionAtRestart(api_, moved.c_str(), examined, true))
                return OutcomeDelayDelete;
        } else if (ScheduleDeletionAtRestart(api_, path, examined)) {
            return OutcomeDelayDelete;
        }
    }
    if ((denied || GetLastError() == ERROR_ACCESS_DENIED) && RightsCouldHelp(api_, path))
        removalDenied_ = true;
    return OutcomeKillFailed;
}


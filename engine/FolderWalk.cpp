// The walk of one root's tree, on the NT family in wide paths and on the
// Windows 95 family in the ANSI code page, depth-first through a stack of
// open listings on the heap; each file and mount point met is handed to the
// visitor.
#include "FolderWalk.h"

#include "FileSystem.h"
#include "Memory.h"

#include <utility>

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
bool FolderWalk::WalkFolder(WString& path)
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
    DWORD refusal = NO_ERROR;
    auto enter = [&]() {
        if (!levels.Push(new (NoThrow) WideLevel(api_, basicListing_, entry, path.size())))
            return false;
        RedirectionOff off(api_);
        if (levels.Top()->listing.First(path))
            return true;
        refusal = GetLastError();
        levels.Pop();
        return false;
    };
    // A root lists no "." or "..": an empty one is reached, yet its listing
    // fails as if nothing matched.
    const bool listed = enter() || refusal == ERROR_FILE_NOT_FOUND || refusal == ERROR_NO_MORE_FILES;
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
            if (visitor_.WalkStopped() || path.failed()) {
                path.resize(rootLength);
                return listed;
            }
            const EntryKind kind = KindOf(entry);
            if (kind == EntryKind::Skipped)
                continue;
            const wchar_t* name = listing.ReachableName(path);
            if (!name) {
                if (kind == EntryKind::File)
                    visitor_.FileMet(nullptr, FileSize(entry), (shownOf(path) + L'\\' + entry.cFileName).c_str());
                continue;
            }
            path += L'\\';
            path += name;
            if (path.failed())
                return listed;
            if (kind == EntryKind::Folder || (kind == EntryKind::MountPoint && visitor_.MountPointMet(path))) {
                entered = enter();
            } else if (kind == EntryKind::File) {
                // Content elsewhere is never opened, which would fetch it:
                // handed over as a file no path reaches, with its size.
                const bool elsewhere = IsContentElsewhere(entry.dwFileAttributes);
                const unsigned long long known = openEveryFile_ && !elsewhere ? UnknownSize : FileSize(entry);
                visitor_.FileMet(elsewhere ? nullptr : path.c_str(), known,
                                 share ? shownOf(path).c_str() : PlainPath(path.c_str()));
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
void FolderWalk::WalkFolder9x(AString& path, AString& shown)
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
        if (visitor_.WalkStopped() || dir.failed() || shown.failed())
            break;
        const WIN32_FIND_DATAA& entry = level->listing.Entry();
        const EntryKind kind = KindOf(entry);
        if (kind == EntryKind::Skipped || kind == EntryKind::MountPoint)
            continue;
        const EntryRoute route = RouteTo(entry, kind == EntryKind::Folder, dir);
        if (!route.name) {
            if (kind == EntryKind::File)
                visitor_.FileMet(nullptr, FileSize(entry),
                                 WideFromAnsi((shown + '\\' + entry.cFileName).c_str()).c_str());
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
            visitor_.FileMet(WideFromAnsi(base->c_str()).c_str(), openEveryFile_ ? UnknownSize : FileSize(entry),
                             WideFromAnsi(shown.c_str()).c_str());
        }
    }
    path.resize(rootLength);
    shown.resize(shownRootLength);
}

namespace {

// The open file's path within its volume, as the system names it now.
bool PathInsideVolume(const RuntimeApi& api, HANDLE file, WString& path)
{
    constexpr DWORD VolumeNameNone = 0x4;
    // The name the file was opened by, a short name included, not the
    // normalized long one.
    constexpr DWORD FileNameOpened = 0x8;
    DWORD size = MAX_PATH;
    for (int attempt = 0; attempt < 3; ++attempt) {
        path.resize(size);
        if (path.failed())
            return false;
        const DWORD length = api.GetFinalPathNameByHandleW(file, &path[0], size, VolumeNameNone | FileNameOpened);
        if (length == 0)
            return false;
        if (length < size) {
            path.resize(length);
            return true;
        }
        size = length + 1;
    }
    return false;
}

// Two names without regard to case, nor to the dots and blanks that end
// them: Wine names a file whose name ends so without them (a.exe for
// "a.exe "), as path handling would read its name.
bool SameName(const wchar_t* a, int aLength, const wchar_t* b, int bLength)
{
    while (aLength > 0 && (a[aLength - 1] == L'.' || a[aLength - 1] == L' '))
        --aLength;
    while (bLength > 0 && (b[bLength - 1] == L'.' || b[bLength - 1] == L' '))
        --bLength;
    if (aLength == 0 || bLength == 0)
        return aLength == bLength;
    return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a, aLength, b, bLength) == CSTR_EQUAL;
}

size_t NameEnd(const WString& path, size_t start)
{
    const size_t slash = path.find(L'\\', start);
    return slash == WString::npos ? path.size() : slash;
}

size_t NameStart(const WString& path, size_t end)
{
    while (end > 0 && path[end - 1] != L'\\')
        --end;
    return end;
}

// A name with a tilde may be a short one.
bool MayBeShortName(const WString& path, size_t start, size_t end)
{
    for (size_t k = start; k < end; ++k) {
        if (path[k] == L'~')
            return true;
    }
    return false;
}

bool SameNameAt(const WString& a, size_t aStart, size_t aEnd, const WString& b, size_t bStart, size_t bEnd)
{
    return SameName(a.c_str() + aStart, static_cast<int>(aEnd - aStart), b.c_str() + bStart,
                    static_cast<int>(bEnd - bStart));
}

// The path the system names against the one listed, name by name. A short
// name, by which the walk reaches a name that no path can carry, the system
// may name long (Wine does, a long name with a backslash in it included):
// from the first listed name that may be short to the last, whatever the
// system names there stands for them.
bool SamePath(const WString& named, const WString& listed)
{
    size_t i = 0;
    size_t j = 0;
    for (;;) {
        const size_t jEnd = NameEnd(listed, j);
        if (MayBeShortName(listed, j, jEnd))
            break;
        const size_t iEnd = NameEnd(named, i);
        if (!SameNameAt(named, i, iEnd, listed, j, jEnd))
            return false;
        if (iEnd == named.size() || jEnd == listed.size())
            return iEnd == named.size() && jEnd == listed.size();
        i = iEnd + 1;
        j = jEnd + 1;
    }
    size_t iEnd = named.size();
    size_t jEnd = listed.size();
    for (;;) {
        const size_t jStart = NameStart(listed, jEnd);
        if (MayBeShortName(listed, jStart, jEnd))
            return iEnd > i;
        const size_t iStart = NameStart(named, iEnd);
        if (iStart <= i || !SameNameAt(named, iStart, iEnd, listed, jStart, jEnd))
            return false;
        iEnd = iStart - 1;
        jEnd = jStart - 1;
    }
}

}  // namespace

RootPlace PlaceOfRoot(const RuntimeApi& api, const WString& root)
{
    RootPlace place;
    place.path = root;
    if (!api.GetFinalPathNameByHandleW || !api.GetFileInformationByHandle || VersionNumber(api.GetVersion()) < 600)
        return place;
    FileHandle folder;
    {
        RedirectionOff off(api);
        folder.Reset(api.CreateFileW((root + L'\\').c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!folder || !api.GetFileInformationByHandle(folder.Get(), &info) ||
        !PathInsideVolume(api, folder.Get(), place.inside) || place.path.failed())
        return place;
    while (!place.inside.empty() && place.inside.back() == L'\\')
        place.inside.pop_back();
    place.serial = info.dwVolumeSerialNumber;
    place.known = true;
    return place;
}

bool OpenedWhereListed(const RuntimeApi& api, HANDLE file, const RootPlace& root, const wchar_t* listed)
{
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!api.GetFileInformationByHandle(file, &info) || info.dwVolumeSerialNumber != root.serial)
        return false;
    // Where the system cannot name the file (Wine names none past MAX_PATH),
    // its volume alone is compared.
    WString inside;
    if (!PathInsideVolume(api, file, inside))
        return true;
    const WString expected = root.inside + (listed + root.path.size());
    return !expected.failed() && SamePath(inside, expected);
}

// Where each folder and file of a file table lies, from its parent
// references.
#include "NtfsPaths.h"

namespace {

constexpr uint32_t RootRecord = 5;
constexpr uint8_t Unresolved = 0;
constexpr uint8_t Listed = 1;
constexpr uint8_t NotReached = 2;
constexpr uint8_t Resolving = 3;

// What the walk could not name as it is: such a volume is walked.
bool Nameable(const FileTable& table, uint32_t start, uint16_t length)
{
    for (uint32_t i = start; i < start + length; ++i) {
        switch (table.names[i]) {
        case L'?': case L'*': case L'"': case L'<': case L'>': case L'|': case L'\\': case L'/': case L':':
        case L'\0':
            return false;
        default:
            break;
        }
    }
    return true;
}

}  // namespace

long FindFolder(const FileTable& table, uint32_t record, uint16_t sequence)
{
    size_t low = 0;
    size_t high = table.folders.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        const uint32_t at = table.folders[middle].record;
        if (at == record)
            return table.folders[middle].sequence == sequence ? static_cast<long>(middle) : -1;
        if (at < record)
            low = middle + 1;
        else
            high = middle;
    }
    return -1;
}

bool Reached(const TableFolder& folder)
{
    return folder.reach == Listed;
}

bool Walked(const TableFolder& folder)
{
    return folder.reach == Listed && folder.kind == TableFolder::Walked;
}

bool ResolveFolders(FileTable& table)
{
    PodArray<TableFolder>& folders = table.folders;
    PodArray<uint32_t> chain;
    for (size_t i = 0; i < folders.size(); ++i) {
        // Up to a resolved folder or the root, then down the same way.
        chain.resize(0);
        size_t at = i;
        while (folders[at].reach == Unresolved) {
            TableFolder& folder = folders[at];
            if (folder.record == RootRecord) {
                if (folder.parent != RootRecord || folder.parentSequence != folder.sequence ||
                    folder.kind != TableFolder::Walked)
                    return false;
                folder.parentIndex = static_cast<uint32_t>(at);
                folder.reach = Listed;
                break;
            }
            const long parent = FindFolder(table, folder.parent, folder.parentSequence);
            if (parent < 0)
                return false;
            folder.parentIndex = static_cast<uint32_t>(parent);
            folder.reach = Resolving;
            chain.push_back(static_cast<uint32_t>(at));
            at = static_cast<size_t>(parent);
        }
        // A folder met again on its own way up: a loop.
        if (folders[at].reach == Resolving || chain.failed())
            return false;
        for (size_t j = chain.size(); j-- > 0;) {
            TableFolder& folder = folders[chain[j]];
            folder.reach = Walked(folders[folder.parentIndex]) && folder.kind != TableFolder::Hidden ? Listed
                                                                                                        : NotReached;
        }
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        if (folders[i].reach == Listed && folders[i].record != RootRecord &&
            !Nameable(table, folders[i].nameStart, folders[i].nameLength))
            return false;
    }
    for (size_t i = 0; i < table.files.size(); ++i) {
        if (!Nameable(table, table.files[i].nameStart, table.files[i].nameLength))
            return false;
    }
    return true;
}

bool AppendFolderPath(const FileTable& table, size_t folder, WString& path)
{
    size_t length = 0;
    for (size_t at = folder; table.folders[at].record != RootRecord; at = table.folders[at].parentIndex)
        length += 1 + table.folders[at].nameLength;
    size_t end = path.size() + length;
    path.resize(end);
    if (path.failed())
        return false;
    for (size_t at = folder; table.folders[at].record != RootRecord; at = table.folders[at].parentIndex) {
        const TableFolder& f = table.folders[at];
        end -= f.nameLength;
        for (uint16_t i = 0; i < f.nameLength; ++i)
            path[end + i] = table.names[f.nameStart + i];
        path[--end] = L'\\';
    }
    return true;
}

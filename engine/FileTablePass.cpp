// The file-table pass over one NTFS drive, read through its raw volume.
#include "FileTablePass.h"

#include "FileFind.h"
#include "FileSystem.h"
#include "Handle.h"
#include "NtfsPaths.h"
#include "NtfsVolume.h"

namespace {

class RawVolume : public VolumeReader {
public:
    explicit RawVolume(HANDLE volume) : volume_(volume) {}
    bool Read(uint64_t offset, void* buffer, uint32_t bytes) override
    {
        LONG high = static_cast<LONG>(offset >> 32);
        if (SetFilePointer(volume_, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN) ==
                INVALID_SET_FILE_POINTER &&
            GetLastError() != NO_ERROR)
            return false;
        DWORD read = 0;
        return ReadFile(volume_, buffer, bytes, &read, nullptr) && read == bytes;
    }

private:
    HANDLE volume_;
};

class Questions : public TableQuestions {
public:
    explicit Questions(FileTableVisitor& visitor) : visitor_(visitor) {}
    bool WantedSize(uint64_t size) override { return visitor_.WantedSize(size); }
    bool Stopped() override { return visitor_.TableStopped(); }

private:
    FileTableVisitor& visitor_;
};

bool IsNtfs(const RuntimeApi& api, wchar_t letter)
{
    if (!api.GetVolumeInformationW)
        return false;
    const wchar_t root[4] = {letter, L':', L'\\', L'\0'};
    wchar_t system[16] = {};
    RedirectionOff off(api);
    return api.GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, system, 16) &&
           WString(system) == L"NTFS";
}

// Every name counted in its folder; false where one lies where the walk
// would go but the table is not what this pass expects there.
bool CountNames(FileTable& table)
{
    for (size_t i = 0; i < table.others.size(); ++i) {
        const TableParent& name = table.others[i];
        const long folder = FindFolder(table, name.parent, name.sequence);
        if (folder < 0)
            return false;
        TableFolder& in = table.folders[static_cast<size_t>(folder)];
        if (Walked(in)) {
            if (name.noData)
                return false;
            ++in.files;
        }
    }
    for (size_t i = 0; i < table.files.size(); ++i) {
        if (FindFolder(table, table.files[i].parent, table.files[i].parentSequence) < 0)
            return false;
    }
    return true;
}

}  // namespace

// A SUBST letter names a folder, and a network drive a share: neither is a
// volume whose whole table the letter's paths lead into.
bool IsVolumeLetter(const RuntimeApi& api, wchar_t letter)
{
    const wchar_t drive[3] = {letter, L':', L'\0'};
    const char root[4] = {static_cast<char>(letter), ':', '\\', '\0'};
    const WString target = DosDeviceTarget(api, drive);
    // Wine names no letter that its mount manager does not know: an unnamed
    // one is left to the raw open and the boot sector.
    return target.substr(0, 4) != L"\\??\\" && api.GetDriveTypeA(root) != DRIVE_REMOTE;
}

TablePass RunFileTablePass(const RuntimeApi& api, wchar_t letter, FileTableVisitor& visitor)
{
    if (!IsVolumeLetter(api, letter) || !IsNtfs(api, letter))
        return TablePass::Walk;
    const wchar_t device[7] = {L'\\', L'\\', L'.', L'\\', letter, L':', L'\0'};
    {
        // What the system's cache still holds of the table is written out
        // first, so that the sweep meets files as they stand. Flushing a
        // volume takes a handle that may write, which nothing here does.
        FileHandle flush(api.CreateFileW(device, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, 0, nullptr));
        if (flush)
            FlushFileBuffers(flush.Get());
    }
    FileHandle volume(api.CreateFileW(device, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!volume)
        return TablePass::Walk;
    RawVolume reader(volume.Get());
    return ReadFileTable(reader, letter, visitor);
}

TablePass ReadFileTable(VolumeReader& reader, wchar_t letter, FileTableVisitor& visitor)
{
    FileTable table;
    Questions questions(visitor);
    const FileTable::Result read = table.Load(reader, questions);
    if (read == FileTable::Stopped)
        return TablePass::Done;
    if (read != FileTable::Read || !ResolveFolders(table) || !CountNames(table))
        return TablePass::Walk;

    const wchar_t drive[3] = {letter, L':', L'\0'};
    const WString root = ExtendedPath(drive);
    WString path;
    for (size_t i = 0; i < table.folders.size(); ++i) {
        const TableFolder& folder = table.folders[i];
        if (folder.files == 0 || !Walked(folder))
            continue;
        path = drive;
        if (!AppendFolderPath(table, i, path) || visitor.TableStopped())
            return TablePass::Done;
        visitor.FilesCounted(folder.files, path.c_str());
    }
    for (size_t i = 0; i < table.files.size(); ++i) {
        const TableFile& file = table.files[i];
        const size_t in = static_cast<size_t>(FindFolder(table, file.parent, file.parentSequence));
        if (!Walked(table.folders[in]))
            continue;
        path = root;
        if (!AppendFolderPath(table, in, path))
            return TablePass::Done;
        path += L'\\';
        path.append(&table.names[file.nameStart], file.nameLength);
        if (path.failed() || visitor.TableStopped())
            return TablePass::Done;
        visitor.TableFileMet(IsContentElsewhere(file.attributes) ? nullptr : path.c_str(), file.size,
                             PlainPath(path.c_str()));
    }
    for (size_t i = 0; i < table.folders.size(); ++i) {
        const TableFolder& folder = table.folders[i];
        if (folder.kind != TableFolder::MountPoint || !Reached(folder))
            continue;
        path = root;
        if (!AppendFolderPath(table, i, path) || visitor.TableStopped())
            return TablePass::Done;
        visitor.MountedFolderMet(path);
    }
    return TablePass::Done;
}

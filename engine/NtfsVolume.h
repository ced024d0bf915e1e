// An NTFS volume's file table read in one sweep through a reader of raw
// bytes: every folder with its name and parent, and of the files only what
// the disk pass needs: each name of a file whose size is wanted, and the
// parent of every other name, to count it where the walk would.
#pragma once

#include "Memory.h"
#include "NtfsRecords.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

// Raw bytes of a volume; offset and bytes are multiples of its sector size.
class VolumeReader {
public:
    virtual bool Read(uint64_t offset, void* buffer, uint32_t bytes) = 0;

protected:
    ~VolumeReader() = default;
};

// What the sweep asks of whoever runs it.
class TableQuestions {
public:
    // A file of this size is a candidate: its names and paths are kept.
    virtual bool WantedSize(uint64_t size) = 0;
    virtual bool Stopped() = 0;

protected:
    ~TableQuestions() = default;
};

// A growing array of plain values on the program's heap; a failed growth
// leaves it failed() and unchanged.
template <class T>
class PodArray {
public:
    PodArray() = default;
    ~PodArray() { FreeBytes(items_); }
    PodArray(const PodArray&) = delete;
    PodArray& operator=(const PodArray&) = delete;

    size_t size() const { return size_; }
    bool failed() const { return failed_; }
    T& operator[](size_t i) { return items_[i]; }
    const T& operator[](size_t i) const { return items_[i]; }
    T* data() { return items_; }
    void resize(size_t count)
    {
        if (count <= size_ || Room(count))
            size_ = count;
    }
    void push_back(const T& item)
    {
        if (Room(size_ + 1))
            items_[size_++] = item;
    }

private:
    bool Room(size_t count)
    {
        if (failed_)
            return false;
        if (count <= capacity_)
            return true;
        size_t wanted = capacity_ ? capacity_ : 64;
        while (wanted < count && wanted <= (~size_t{0} / 2) / sizeof(T))
            wanted *= 2;
        T* grown = wanted >= count ? static_cast<T*>(AllocateBytes(wanted * sizeof(T))) : nullptr;
        if (!grown) {
            failed_ = true;
            return false;
        }
        if (size_)
            std::memcpy(grown, items_, size_ * sizeof(T));
        FreeBytes(items_);
        items_ = grown;
        capacity_ = wanted;
        return true;
    }

    T* items_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool failed_ = false;
};

// A folder of the table. How the walk treats it follows its reparse tag.
struct TableFolder {
    enum Kind : uint8_t { Walked, Skipped, MountPoint, Hidden };
    uint32_t record;
    uint16_t sequence;
    uint16_t parentSequence;
    uint32_t parent;
    uint32_t parentIndex;  // in folders, once resolved
    uint32_t nameStart;    // in the table's names
    uint16_t nameLength;
    Kind kind;
    // Set when the folders are resolved: 1 reached by the walk, 2 not.
    uint8_t reach;
    uint32_t files;  // names of files of no wanted size in it
};

// One name of a file of a wanted size.
struct TableFile {
    uint32_t record;
    uint32_t parent;
    uint16_t parentSequence;
    uint16_t nameLength;
    uint32_t nameStart;
    uint64_t size;
    // Of its standard information: the walk never opens a file whose
    // content is elsewhere.
    uint32_t attributes;
};

// The parent of one name of a file of no wanted size.
struct TableParent {
    uint32_t parent;
    uint16_t sequence;
    // Without an unnamed data stream: the system's own files in $Extend
    // are, and any the walk would reach is unexpected.
    uint16_t noData;
};

class FileTable {
public:
    enum Result {
        Read,
        NotKnown,  // no NTFS volume, or one whose table this reader does not know
        Damaged,   // something in the table did not add up
        NoMemory,
        Stopped
    };

    FileTable() = default;
    FileTable(const FileTable&) = delete;
    FileTable& operator=(const FileTable&) = delete;

    Result Load(VolumeReader& reader, TableQuestions& questions);

    // Folders in the order of their records; files likewise.
    PodArray<TableFolder> folders;
    PodArray<TableFile> files;
    PodArray<TableParent> others;
    PodArray<wchar_t> names;
    // Bytes of the table read, and the records found in use.
    uint64_t tableBytes = 0;
    uint32_t recordsInUse = 0;

private:
    struct Gathered;
    bool ReadTable(uint64_t offset, uint8_t* buffer, uint32_t bytes);
    Result LoadTableRuns(const uint8_t* zero);
    Result ReadNonResident(const ntfs::Attribute& attribute, uint8_t* buffer, uint64_t room);
    Result TakeRecord(uint32_t number, uint8_t* record, TableQuestions& questions);
    Result Gather(const uint8_t* record, const ntfs::RecordHeader& header, Gathered& gathered, bool base);
    Result GatherList(const ntfs::Attribute& list, uint64_t reference, Gathered& gathered);

    VolumeReader* reader_ = nullptr;
    ntfs::Geometry geometry_;
    uint32_t recordBytes_ = 0;
    PodArray<ntfs::Run> tableRuns_;
    uint64_t tableSize_ = 0;
    // The table's own record of which records are in use.
    UniquePtr<uint8_t[]> inUse_;
    uint64_t inUseBytes_ = 0;
    // Extension records met in the sweep, and those that base records named.
    uint32_t extensionsMet_ = 0;
    uint32_t extensionsNamed_ = 0;
    // One record's room for an extension record, and an attribute list.
    UniquePtr<uint8_t[]> extension_;
    UniquePtr<uint8_t[]> list_;
    // The names of the record being read, and its extension records.
    struct Pending {
        uint64_t parent;
        uint32_t start;
        uint16_t length;
    };
    PodArray<Pending> pending_;
    PodArray<uint64_t> extensions_;
};

// The on-disk pieces of an NTFS volume that the file-table pass reads: the
// boot sector, a file record with its fix-ups, its attributes, a run list.
// Every length and offset is checked against the buffer it lies in before it
// is used: a worm can shape the table, and whatever does not add up is
// refused, never read past.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ntfs {

inline uint16_t Get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t Get32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t Get64(const uint8_t* p)
{
    return static_cast<uint64_t>(Get32(p)) | static_cast<uint64_t>(Get32(p + 4)) << 32;
}

// The record number and sequence number of a file reference.
inline uint64_t RecordOf(uint64_t reference)
{
    return reference & 0xFFFFFFFFFFFFull;
}
inline uint16_t SequenceOf(uint64_t reference)
{
    return static_cast<uint16_t>(reference >> 48);
}

// What the boot sector says about the volume; all sizes are powers of two.
struct Geometry {
    unsigned sectorShift = 0;
    unsigned clusterShift = 0;
    unsigned recordShift = 0;
    uint64_t clusters = 0;  // on the volume
    uint64_t mftCluster = 0;
};

// False where the sector is no NTFS boot sector this reader knows: sizes
// out of range or not powers of two, the table outside the volume.
bool ReadBootSector(const uint8_t* sector, size_t bytes, Geometry& geometry);

enum AttributeType : uint32_t {
    StandardInformation = 0x10,
    AttributeList = 0x20,
    FileName = 0x30,
    Data = 0x80,
    IndexRoot = 0x90,
    Bitmap = 0xB0,
    ReparsePoint = 0xC0,
    EndOfAttributes = 0xFFFFFFFF
};

enum RecordFlags : uint16_t {
    RecordInUse = 0x1,
    RecordIsDirectory = 0x2
};

// A file record's header, after its fix-ups are undone.
struct RecordHeader {
    uint16_t sequence = 0;
    uint16_t flags = 0;
    uint32_t firstAttribute = 0;
    uint32_t bytesInUse = 0;
    uint64_t base = 0;  // the base record's reference; 0 in a base record
};

enum class RecordState { Unused, Good, Damaged };

// Checks the record's signature and header and undoes its fix-ups in place.
// Unused: never written (all zero signature). Damaged: anything that does
// not add up, a fix-up that does not match its sector included.
RecordState OpenRecord(uint8_t* record, size_t bytes, RecordHeader& header);

// One attribute of a record, its fields checked to lie inside it.
struct Attribute {
    uint32_t type = 0;
    bool resident = false;
    uint16_t id = 0;
    uint8_t nameLength = 0;
    const uint8_t* name = nullptr;  // nameLength UTF-16 units, unaligned
    // Resident: the value. Non-resident: the run list, and the sizes.
    const uint8_t* value = nullptr;
    uint32_t valueLength = 0;
    uint64_t lowestVcn = 0;
    uint64_t highestVcn = 0;
    uint64_t dataSize = 0;
    uint64_t initializedSize = 0;
};

// The attributes of an opened record, in order.
class AttributeReader {
public:
    AttributeReader(const uint8_t* record, const RecordHeader& header)
        : record_(record), end_(header.bytesInUse), offset_(header.firstAttribute)
    {
    }
    // False at the end; damaged() then tells an end marker from a fault.
    bool Next(Attribute& attribute);
    bool damaged() const { return damaged_; }

private:
    const uint8_t* record_;
    uint32_t end_;
    uint32_t offset_;
    uint32_t lastType_ = 0;
    bool damaged_ = false;
    bool ended_ = false;
};

// A $FILE_NAME value: the parent, the namespace and the name in place.
struct NameValue {
    uint64_t parent = 0;
    uint8_t space = 0;  // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
    uint8_t length = 0;
    const uint8_t* name = nullptr;  // length UTF-16 units, unaligned
};
bool ReadNameValue(const Attribute& attribute, NameValue& name);

// One stretch of a run list: count clusters from cluster, or a hole.
struct Run {
    uint64_t vcn = 0;
    uint64_t cluster = 0;
    uint64_t count = 0;
    bool hole = false;
};

// The runs of a non-resident attribute. Refused where a run leaves the
// volume of clusters clusters, is empty, or the list does not cover the
// attribute's VCNs exactly.
class RunReader {
public:
    RunReader(const Attribute& attribute, uint64_t clusters)
        : p_(attribute.value), end_(attribute.value + attribute.valueLength), vcn_(attribute.lowestVcn),
          lastVcn_(attribute.highestVcn), clusters_(clusters)
    {
    }
    bool Next(Run& run);
    // After Next gave false: true where the list ended where it should.
    bool complete() const { return complete_; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    uint64_t vcn_;
    uint64_t lastVcn_;
    uint64_t clusters_;
    int64_t cluster_ = 0;
    bool complete_ = false;
};

// An $ATTRIBUTE_LIST entry.
struct ListEntry {
    uint32_t type = 0;
    uint8_t nameLength = 0;
    uint64_t lowestVcn = 0;
    uint64_t record = 0;  // reference
    uint16_t id = 0;
};

class ListReader {
public:
    ListReader(const uint8_t* list, size_t bytes) : p_(list), end_(list + bytes) {}
    bool Next(ListEntry& entry);
    bool damaged() const { return damaged_; }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    bool damaged_ = false;
};

// True where the attribute's name is the folder index's, $I30.
bool IsFolderIndex(const Attribute& attribute);

// The reparse tag of a resident $REPARSE_POINT value; 0 where it has none.
uint32_t ReparseTagOf(const Attribute& attribute);

}  // namespace ntfs

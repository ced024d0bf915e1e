// The on-disk pieces of an NTFS volume, read with every field checked.
#include "NtfsRecords.h"

namespace ntfs {

namespace {

constexpr uint32_t FileSignature = 0x454C4946;  // "FILE"
// Fix-ups guard every 512 bytes of a record, whatever the sector size.
constexpr size_t FixupStride = 512;

// A power of two between 2^low and 2^high: its exponent, else 0.
unsigned ShiftOf(uint64_t value, unsigned low, unsigned high)
{
    for (unsigned shift = low; shift <= high; ++shift) {
        if (value == uint64_t{1} << shift)
            return shift;
    }
    return 0;
}

bool KnownType(uint32_t type)
{
    return type >= 0x10 && type <= 0x100 && (type & 0xF) == 0;
}

// n little-endian bytes, sign-extended where signedValue is set.
uint64_t Bytes(const uint8_t* p, unsigned n, bool signedValue)
{
    uint64_t value = 0;
    for (unsigned i = n; i-- > 0;)
        value = value << 8 | p[i];
    if (signedValue && n > 0 && n < 8 && (p[n - 1] & 0x80))
        value |= ~uint64_t{0} << (8 * n);
    return value;
}

}  // namespace

bool ReadBootSector(const uint8_t* sector, size_t bytes, Geometry& geometry)
{
    static const char Oem[] = "NTFS    ";
    if (bytes < 512 || sector[510] != 0x55 || sector[511] != 0xAA)
        return false;
    for (int i = 0; i < 8; ++i) {
        if (sector[3 + i] != static_cast<uint8_t>(Oem[i]))
            return false;
    }
    const unsigned sectorShift = ShiftOf(Get16(sector + 0x0B), 9, 12);
    // Above 128 sectors a cluster is given as a negative power of two.
    const uint8_t perCluster = sector[0x0D];
    const unsigned sectorsShift = perCluster <= 0x80 ? ShiftOf(perCluster, 0, 7)
                                  : perCluster >= 0xF4 ? 256u - perCluster : 99u;
    if (!sectorShift || sectorsShift > 12 || (perCluster <= 0x80 && perCluster != 1u << sectorsShift))
        return false;
    const unsigned clusterShift = sectorShift + sectorsShift;
    if (clusterShift > 21)
        return false;
    const int8_t perRecord = static_cast<int8_t>(sector[0x40]);
    uint64_t recordBytes = 0;
    if (perRecord > 0)
        recordBytes = static_cast<uint64_t>(perRecord) << clusterShift;
    else if (perRecord >= -31)
        recordBytes = uint64_t{1} << -perRecord;
    const unsigned recordShift = ShiftOf(recordBytes, 10, 12);
    if (!recordShift || recordShift < sectorShift)
        return false;
    const uint64_t sectors = Get64(sector + 0x28);
    geometry.sectorShift = sectorShift;
    geometry.clusterShift = clusterShift;
    geometry.recordShift = recordShift;
    geometry.clusters = sectors >> sectorsShift;
    geometry.mftCluster = Get64(sector + 0x30);
    return geometry.clusters > 0 && geometry.clusters < (uint64_t{1} << 48) &&
           geometry.mftCluster < geometry.clusters;
}

RecordState OpenRecord(uint8_t* record, size_t bytes, RecordHeader& header)
{
    const uint32_t signature = Get32(record);
    if (signature == 0)
        return RecordState::Unused;
    if (signature != FileSignature || bytes % FixupStride != 0)
        return RecordState::Damaged;
    const uint16_t usaOffset = Get16(record + 4);
    const uint16_t usaCount = Get16(record + 6);
    if (usaCount != bytes / FixupStride + 1 || (usaOffset & 1) || usaOffset < 0x28 ||
        usaOffset + 2u * usaCount > FixupStride)
        return RecordState::Damaged;
    const uint8_t* usa = record + usaOffset;
    for (size_t i = 1; i < usaCount; ++i) {
        uint8_t* end = record + i * FixupStride - 2;
        if (end[0] != usa[0] || end[1] != usa[1])
            return RecordState::Damaged;
        end[0] = usa[2 * i];
        end[1] = usa[2 * i + 1];
    }
    header.sequence = Get16(record + 0x10);
    header.firstAttribute = Get16(record + 0x14);
    header.flags = Get16(record + 0x16);
    header.bytesInUse = Get32(record + 0x18);
    header.base = Get64(record + 0x20);
    if (Get32(record + 0x1C) != bytes || header.bytesInUse > bytes || (header.bytesInUse & 7) ||
        (header.firstAttribute & 7) || header.firstAttribute < usaOffset + 2u * usaCount ||
        header.firstAttribute + 8u > header.bytesInUse)
        return RecordState::Damaged;
    return RecordState::Good;
}

bool AttributeReader::Next(Attribute& attribute)
{
    if (ended_ || damaged_)
        return false;
    damaged_ = true;
    if (end_ - offset_ < 4)
        return false;
    const uint8_t* p = record_ + offset_;
    const uint32_t type = Get32(p);
    if (type == EndOfAttributes) {
        damaged_ = false;
        ended_ = true;
        return false;
    }
    // Attributes lie in the order of their types.
    if (end_ - offset_ < 0x18 || !KnownType(type) || type < lastType_)
        return false;
    const uint32_t length = Get32(p + 4);
    if (length < 0x18 || (length & 7) || length > end_ - offset_)
        return false;
    const uint8_t nonResident = p[8];
    const uint8_t nameLength = p[9];
    const uint16_t nameOffset = Get16(p + 0x0A);
    if (nonResident > 1 || (nameLength && nameOffset + 2u * nameLength > length))
        return false;
    Attribute next;
    next.type = type;
    next.resident = nonResident == 0;
    next.id = Get16(p + 0x0E);
    next.nameLength = nameLength;
    next.name = p + nameOffset;
    if (next.resident) {
        next.valueLength = Get32(p + 0x10);
        const uint16_t valueOffset = Get16(p + 0x14);
        // A resident attribute ends with its value, eight-byte aligned.
        if (valueOffset < 0x18 || valueOffset > length || next.valueLength > length - valueOffset ||
            ((valueOffset + next.valueLength + 7u) & ~7u) != length)
            return false;
        next.value = p + valueOffset;
    } else {
        if (length < 0x40)
            return false;
        const uint16_t runsOffset = Get16(p + 0x20);
        if (runsOffset < 0x40 || runsOffset >= length)
            return false;
        next.lowestVcn = Get64(p + 0x10);
        next.highestVcn = Get64(p + 0x18);
        next.dataSize = Get64(p + 0x30);
        next.initializedSize = Get64(p + 0x38);
        // No volume holds 2^56 bytes; an empty attribute ends before it starts.
        if (next.dataSize >> 56 || next.initializedSize > next.dataSize ||
            next.highestVcn + 1 < next.lowestVcn || next.lowestVcn >> 56)
            return false;
        next.value = p + runsOffset;
        next.valueLength = length - runsOffset;
    }
    offset_ += length;
    lastType_ = type;
    attribute = next;
    damaged_ = false;
    return true;
}

bool ReadNameValue(const Attribute& attribute, NameValue& name)
{
    if (!attribute.resident || attribute.type != FileName || attribute.nameLength || attribute.valueLength < 0x42)
        return false;
    const uint8_t* v = attribute.value;
    name.parent = Get64(v);
    name.length = v[0x40];
    name.space = v[0x41];
    name.name = v + 0x42;
    return name.length > 0 && name.space <= 3 && 0x42u + 2u * name.length == attribute.valueLength;
}

bool RunReader::Next(Run& run)
{
    if (p_ >= end_ || *p_ == 0) {
        complete_ = vcn_ == lastVcn_ + 1;
        return false;
    }
    const unsigned lengthBytes = *p_ & 0xF;
    const unsigned offsetBytes = *p_ >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 ||
        static_cast<size_t>(end_ - p_) < 1 + lengthBytes + offsetBytes)
        return false;
    const uint64_t count = Bytes(p_ + 1, lengthBytes, false);
    const uint64_t delta = Bytes(p_ + 1 + lengthBytes, offsetBytes, true);
    p_ += 1 + lengthBytes + offsetBytes;
    // Within the VCNs the attribute claims, and on the volume.
    if (count == 0 || count >> 48 || count > lastVcn_ + 1 - vcn_)
        return false;
    run.vcn = vcn_;
    run.count = count;
    run.hole = offsetBytes == 0;
    vcn_ += count;
    if (run.hole) {
        run.cluster = 0;
        return true;
    }
    const uint64_t cluster = static_cast<uint64_t>(cluster_) + delta;
    if (cluster >= clusters_ || count > clusters_ - cluster)
        return false;
    cluster_ = static_cast<int64_t>(cluster);
    run.cluster = cluster;
    return true;
}

bool ListReader::Next(ListEntry& entry)
{
    if (p_ == end_ || damaged_)
        return false;
    damaged_ = true;
    if (end_ - p_ < 0x1A)
        return false;
    const uint16_t length = Get16(p_ + 4);
    if (length < 0x1A || length > end_ - p_)
        return false;
    entry.type = Get32(p_);
    entry.nameLength = p_[6];
    const uint8_t nameOffset = p_[7];
    if (!KnownType(entry.type) || (entry.nameLength && nameOffset + 2u * entry.nameLength > length))
        return false;
    entry.lowestVcn = Get64(p_ + 8);
    entry.record = Get64(p_ + 0x10);
    entry.id = Get16(p_ + 0x18);
    // Entries are eight-byte aligned; the last may end with the list.
    p_ += length;
    damaged_ = false;
    return true;
}

bool IsFolderIndex(const Attribute& attribute)
{
    static const char I30[] = "$I30";
    if (attribute.nameLength != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        if (Get16(attribute.name + 2 * i) != static_cast<uint8_t>(I30[i]))
            return false;
    }
    return true;
}

uint32_t ReparseTagOf(const Attribute& attribute)
{
    if (!attribute.resident || attribute.type != ReparsePoint || attribute.valueLength < 8)
        return 0;
    return Get32(attribute.value);
}

}  // namespace ntfs

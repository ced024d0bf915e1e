// An NTFS volume's file table read in one sweep: the boot sector gives the
// table's first record, whose run list gives the table (itself a file, and
// maybe fragmented); each record in use is read with its extension records
// where an attribute list names them.
#include "NtfsVolume.h"

using namespace ntfs;

namespace {

constexpr uint32_t Chunk = 256 * 1024;
constexpr uint32_t BootBytes = 4096;
// Longer attribute lists, and more extension records, than any file this
// pass expects: such a volume is walked.
constexpr uint32_t ListRoom = 256 * 1024;
constexpr size_t MaxExtensions = 1024;
constexpr uint64_t MaxInUseBytes = 64u << 20;
constexpr uint32_t RootRecord = 5;
constexpr uint32_t ExtendRecord = 11;
constexpr uint32_t FirstUserRecord = 16;
constexpr uint32_t TagMountPoint = 0xA0000003;
constexpr uint32_t TagNameSurrogate = 0x20000000;

}  // namespace

struct FileTable::Gathered {
    uint64_t reference = 0;
    bool folderIndex = false;
    // Win32 and DOS names come in pairs.
    int win32Names = 0;
    int dosNames = 0;
    bool data = false;
    uint64_t size = 0;
    uint32_t tag = 0;
    uint32_t attributes = 0;
};

bool FileTable::ReadTable(uint64_t offset, uint8_t* buffer, uint32_t bytes)
{
    const unsigned shift = geometry_.clusterShift;
    size_t run = 0;
    while (bytes > 0) {
        const uint64_t vcn = offset >> shift;
        while (run < tableRuns_.size() && vcn >= tableRuns_[run].vcn + tableRuns_[run].count)
            ++run;
        if (run == tableRuns_.size() || vcn < tableRuns_[run].vcn)
            return false;
        const Run& r = tableRuns_[run];
        const uint64_t within = offset - (r.vcn << shift);
        const uint64_t left = (r.count << shift) - within;
        const uint32_t n = left < bytes ? static_cast<uint32_t>(left) : bytes;
        if (!reader_->Read((r.cluster << shift) + within, buffer, n))
            return false;
        offset += n;
        buffer += n;
        bytes -= n;
    }
    return true;
}

FileTable::Result FileTable::LoadTableRuns(const uint8_t* zero)
{
    RecordHeader header;
    if (OpenRecord(const_cast<uint8_t*>(zero), recordBytes_, header) != RecordState::Good ||
        !(header.flags & RecordInUse) || header.base != 0)
        return Damaged;
    AttributeReader attributes(zero, header);
    Attribute a;
    bool found = false;
    while (attributes.Next(a)) {
        // The table's own extension records are not followed: walked instead.
        if (a.type == AttributeList)
            return NotKnown;
        if (a.type == Bitmap && !a.nameLength) {
            if (inUse_ || a.resident || a.lowestVcn != 0 || a.dataSize > MaxInUseBytes)
                return a.dataSize > MaxInUseBytes ? NotKnown : Damaged;
            const uint64_t room = (a.highestVcn + 1) << geometry_.clusterShift;
            if (room > MaxInUseBytes + (uint64_t{1} << geometry_.clusterShift))
                return Damaged;
            inUse_.reset(new (NoThrow) uint8_t[static_cast<size_t>(room)]);
            if (!inUse_)
                return NoMemory;
            const Result read = ReadNonResident(a, inUse_.get(), room);
            if (read != Read)
                return read;
            inUseBytes_ = a.initializedSize < room ? a.initializedSize : room;
            continue;
        }
        if (a.type != Data || a.nameLength)
            continue;
        if (found || a.resident || a.lowestVcn != 0)
            return Damaged;
        found = true;
        RunReader runs(a, geometry_.clusters);
        Run run;
        while (runs.Next(run)) {
            if (run.hole)
                return Damaged;
            tableRuns_.push_back(run);
        }
        if (!runs.complete() || tableRuns_.size() == 0 || tableRuns_[0].cluster != geometry_.mftCluster)
            return Damaged;
        if (tableRuns_.failed())
            return NoMemory;
        const uint64_t covered = (a.highestVcn + 1) << geometry_.clusterShift;
        tableSize_ = a.initializedSize < covered ? a.initializedSize : covered;
        tableSize_ = tableSize_ >> geometry_.recordShift << geometry_.recordShift;
    }
    const uint64_t records = tableSize_ >> geometry_.recordShift;
    if (attributes.damaged() || !found || !inUse_ || inUseBytes_ < (records + 7) >> 3)
        return Damaged;
    return records >> 32 ? NotKnown : Read;
}

FileTable::Result FileTable::Load(VolumeReader& reader, TableQuestions& questions)
{
    reader_ = &reader;
    UniquePtr<uint8_t[]> boot(new (NoThrow) uint8_t[BootBytes]);
    if (!boot)
        return NoMemory;
    if (!reader.Read(0, boot.get(), BootBytes) || !ReadBootSector(boot.get(), BootBytes, geometry_))
        return NotKnown;
    recordBytes_ = 1u << geometry_.recordShift;
    extension_.reset(new (NoThrow) uint8_t[recordBytes_]);
    UniquePtr<uint8_t[]> chunk(new (NoThrow) uint8_t[Chunk]);
    if (!extension_ || !chunk)
        return NoMemory;
    if (!reader.Read(geometry_.mftCluster << geometry_.clusterShift, chunk.get(), recordBytes_))
        return NotKnown;
    Result result = LoadTableRuns(chunk.get());
    if (result != Read)
        return result;

    uint32_t number = 0;
    for (uint64_t offset = 0; offset < tableSize_;) {
        if (questions.Stopped())
            return Stopped;
        const uint64_t left = tableSize_ - offset;
        const uint32_t n = left < Chunk ? static_cast<uint32_t>(left) : Chunk;
        if (!ReadTable(offset, chunk.get(), n))
            return NotKnown;
        for (uint32_t at = 0; at < n; at += recordBytes_) {
            result = TakeRecord(number++, chunk.get() + at, questions);
            if (result != Read)
                return result;
        }
        offset += n;
    }
    tableBytes = tableSize_;
    // A record that claims to extend another that never named it: a base
    // record made to look like one, whose file would go unseen.
    if (extensionsMet_ != extensionsNamed_)
        return Damaged;
    if (folders.failed() || files.failed() || others.failed() || names.failed())
        return NoMemory;
    return Read;
}

FileTable::Result FileTable::TakeRecord(uint32_t number, uint8_t* record, TableQuestions& questions)
{
    RecordHeader header;
    const RecordState state = OpenRecord(record, recordBytes_, header);
    if (state == RecordState::Damaged)
        return Damaged;
    // The record and the table's map of records in use agree, or a file
    // could vanish by one flipped flag.
    const bool mapped = (inUse_[number >> 3] >> (number & 7)) & 1;
    if (state == RecordState::Unused || !(header.flags & RecordInUse))
        return mapped ? Damaged : Read;
    if (!mapped)
        return Damaged;
    if (header.base != 0) {
        ++extensionsMet_;
        return Read;
    }
    // The system's own files but the root and $Extend, which holds more of
    // them, are never listed.
    if (number < FirstUserRecord && number != RootRecord && number != ExtendRecord)
        return Read;
    // From NTFS 3.1 on a record names its own number: one out of place is
    // not the record it claims to be.
    if (Get16(record + 4) >= 0x30 && Get32(record + 0x2C) != number)
        return Damaged;
    ++recordsInUse;
    Gathered gathered;
    gathered.reference = number | static_cast<uint64_t>(header.sequence) << 48;
    const size_t namesMark = names.size();
    pending_.resize(0);
    const Result result = Gather(record, header, gathered, true);
    if (result != Read)
        return result;
    if (pending_.size() == 0 || gathered.win32Names != gathered.dosNames ||
        gathered.folderIndex != ((header.flags & RecordIsDirectory) != 0))
        return Damaged;

    if (header.flags & RecordIsDirectory) {
        // A folder has one name, besides its short one.
        if (pending_.size() != 1)
            return Damaged;
        TableFolder folder = {};
        folder.record = number;
        folder.sequence = header.sequence;
        folder.parent = static_cast<uint32_t>(RecordOf(pending_[0].parent));
        folder.parentSequence = SequenceOf(pending_[0].parent);
        folder.nameStart = pending_[0].start;
        folder.nameLength = pending_[0].length;
        if (number < FirstUserRecord && number != RootRecord)
            folder.kind = TableFolder::Hidden;
        else if (gathered.tag == TagMountPoint)
            folder.kind = TableFolder::MountPoint;
        else if (gathered.tag & TagNameSurrogate)
            folder.kind = TableFolder::Skipped;
        else
            folder.kind = TableFolder::Walked;
        folders.push_back(folder);
        return Read;
    }
    // The system's own files, and links the walk never follows, are not
    // listed.
    const bool listed = number >= FirstUserRecord && !(gathered.tag & TagNameSurrogate);
    const bool wanted = listed && gathered.data && questions.WantedSize(gathered.size);
    for (size_t i = 0; listed && i < pending_.size(); ++i) {
        const uint32_t parent = static_cast<uint32_t>(RecordOf(pending_[i].parent));
        const uint16_t sequence = SequenceOf(pending_[i].parent);
        if (wanted) {
            const TableFile file = {number, parent, sequence, pending_[i].length, pending_[i].start, gathered.size,
                                    gathered.attributes};
            files.push_back(file);
        } else {
            others.push_back({parent, sequence, static_cast<uint16_t>(!gathered.data)});
        }
    }
    if (!wanted)
        names.resize(namesMark);
    return Read;
}

FileTable::Result FileTable::Gather(const uint8_t* record, const RecordHeader& header, Gathered& gathered,
                                    bool base)
{
    AttributeReader attributes(record, header);
    Attribute a;
    while (attributes.Next(a)) {
        // Every run list stays on the volume, whatever it belongs to.
        if (!a.resident) {
            RunReader runs(a, geometry_.clusters);
            Run run;
            while (runs.Next(run)) {
            }
            if (!runs.complete())
                return Damaged;
        }
        switch (a.type) {
        case StandardInformation:
            if (a.resident && a.valueLength >= 0x24)
                gathered.attributes = Get32(a.value + 0x20);
            break;
        case AttributeList: {
            if (!base)
                return Damaged;
            const Result result = GatherList(a, gathered.reference, gathered);
            if (result != Read)
                return result;
            break;
        }
        case FileName: {
            NameValue name;
            if (!ReadNameValue(a, name) || RecordOf(name.parent) >> 32)
                return Damaged;
            gathered.win32Names += name.space == 1;
            gathered.dosNames += name.space == 2;
            // A short name stands beside its long one, which the walk lists.
            if (name.space == 2)
                break;
            const uint32_t start = static_cast<uint32_t>(names.size());
            for (unsigned i = 0; i < name.length; ++i)
                names.push_back(static_cast<wchar_t>(Get16(name.name + 2 * i)));
            pending_.push_back({name.parent, start, name.length});
            break;
        }
        case Data:
            // Named streams are not what the walk sizes; of the unnamed
            // one, only its first extent gives the size.
            if (a.nameLength || (!a.resident && a.lowestVcn != 0))
                break;
            if (gathered.data)
                return Damaged;
            gathered.data = true;
            gathered.size = a.resident ? a.valueLength : a.dataSize;
            break;
        case IndexRoot:
            if (IsFolderIndex(a)) {
                if (gathered.folderIndex)
                    return Damaged;
                gathered.folderIndex = true;
            }
            break;
        case ReparsePoint:
            if (!a.resident)
                return Damaged;
            gathered.tag = ReparseTagOf(a);
            break;
        default:
            break;
        }
    }
    if (attributes.damaged())
        return Damaged;
    return names.failed() || pending_.failed() ? NoMemory : Read;
}

FileTable::Result FileTable::GatherList(const Attribute& list, uint64_t reference, Gathered& gathered)
{
    const uint8_t* bytes = list.value;
    uint32_t length = list.valueLength;
    if (!list.resident) {
        const uint64_t allocated = (list.highestVcn + 1) << geometry_.clusterShift;
        if (list.lowestVcn != 0 || allocated > ListRoom || list.initializedSize != list.dataSize)
            return NotKnown;
        if (!list_)
            list_.reset(new (NoThrow) uint8_t[ListRoom]);
        if (!list_)
            return NoMemory;
        const Result read = ReadNonResident(list, list_.get(), ListRoom);
        if (read != Read)
            return read;
        bytes = list_.get();
        length = static_cast<uint32_t>(list.dataSize);
    }
    extensions_.resize(0);
    ListReader entries(bytes, length);
    ListEntry entry;
    while (entries.Next(entry)) {
        if (RecordOf(entry.record) == RecordOf(reference))
            continue;
        bool known = false;
        for (size_t i = 0; i < extensions_.size() && !known; ++i)
            known = extensions_[i] == entry.record;
        if (known)
            continue;
        if (extensions_.size() == MaxExtensions)
            return NotKnown;
        extensions_.push_back(entry.record);
    }
    if (entries.damaged())
        return Damaged;
    if (extensions_.failed())
        return NoMemory;
    for (size_t i = 0; i < extensions_.size(); ++i) {
        const uint64_t number = RecordOf(extensions_[i]);
        if (number >= tableSize_ >> geometry_.recordShift)
            return Damaged;
        if (!ReadTable(number << geometry_.recordShift, extension_.get(), recordBytes_))
            return NotKnown;
        RecordHeader header;
        if (OpenRecord(extension_.get(), recordBytes_, header) != RecordState::Good ||
            !(header.flags & RecordInUse) || header.base != reference ||
            header.sequence != SequenceOf(extensions_[i]))
            return Damaged;
        const Result result = Gather(extension_.get(), header, gathered, false);
        if (result != Read)
            return result;
        ++extensionsNamed_;
    }
    return Read;
}

// A whole attribute of room bytes at most, without holes, into buffer.
FileTable::Result FileTable::ReadNonResident(const Attribute& attribute, uint8_t* buffer, uint64_t room)
{
    const unsigned shift = geometry_.clusterShift;
    if (attribute.lowestVcn != 0 || ((attribute.highestVcn + 1) << shift) > room)
        return Damaged;
    RunReader runs(attribute, geometry_.clusters);
    Run run;
    while (runs.Next(run)) {
        if (run.hole)
            return Damaged;
        if (!reader_->Read(run.cluster << shift, buffer + (run.vcn << shift), static_cast<uint32_t>(run.count << shift)))
            return NotKnown;
    }
    return runs.complete() ? Read : Damaged;
}

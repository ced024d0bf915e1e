// The file-table pass against the walk of the same NTFS volume: the fixture's
// image (tests/host/ntfs_fixture.py), raw at \\.\B: and its files at B:
// through ntfs-3g. B:, as floppy drives are, is a letter no scan of C: to Z:
// walks, so the other tests meet none of it.
#include "ApiOverride.h"
#include "FileFind.h"
#include "FileTablePass.h"
#include "FolderWalk.h"
#include "Handle.h"
#include "MemAndFileWalker.h"
#include "NoMemory.h"
#include "NtfsVolume.h"
#include "Reference.h"
#include "RuntimeApi.h"
#include "ScanHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t Letter = L'B';
using Wanted = std::function<bool(uint64_t)>;
using Met = std::set<std::pair<std::wstring, uint64_t>>;

class TableRecorder : public FileTableVisitor {
public:
    explicit TableRecorder(Wanted wanted) : wanted_(std::move(wanted)) {}
    bool WantedSize(unsigned long long size) override { return wanted_(size); }
    bool TableStopped() override { return false; }
    void FilesCounted(UINT count, const wchar_t*) override { names += count; }
    void TableFileMet(const wchar_t* path, unsigned long long size, const wchar_t* shownPath) override
    {
        ++names;
        EXPECT_TRUE(path) << "content elsewhere: " << AnsiFromWide(shownPath).c_str();
        met.insert({shownPath, size});
    }
    void MountedFolderMet(WString& folder) override { mounts.push_back(folder.c_str()); }

    UINT names = 0;
    Met met;
    std::vector<std::wstring> mounts;

private:
    Wanted wanted_;
};

class WalkRecorder : public FolderVisitor {
public:
    explicit WalkRecorder(Wanted wanted) : wanted_(std::move(wanted)) {}
    bool WalkStopped() override { return false; }
    void FileMet(const wchar_t*, unsigned long long size, const wchar_t* shownPath) override
    {
        ++names;
        if (wanted_(size))
            met.insert({shownPath, size});
    }
    bool MountPointMet(WString&) override { return false; }

    UINT names = 0;
    Met met;

private:
    Wanted wanted_;
};

RuntimeApi ScanApi()
{
    RuntimeApi api;
    ResolveLaterKernel32Functions(api);
    return api;
}

void Walk(WalkRecorder& recorder)
{
    const RuntimeApi api = ScanApi();
    FolderWalk walk(api, recorder, false, false);
    WString root = L"\\\\?\\B:";
    ASSERT_TRUE(walk.WalkFolder(root));
}

// The whole image, read through the raw volume as the pass reads it.
std::vector<uint8_t> ImageBytes()
{
    FileHandle volume(CreateFileW(L"\\\\.\\B:", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    std::vector<uint8_t> bytes;
    if (!volume)
        return bytes;
    std::vector<uint8_t> piece(1 << 20);
    DWORD read = 0;
    while (ReadFile(volume.Get(), piece.data(), static_cast<DWORD>(piece.size()), &read, nullptr) && read > 0)
        bytes.insert(bytes.end(), piece.begin(), piece.begin() + read);
    return bytes;
}

class MemoryVolume : public VolumeReader {
public:
    explicit MemoryVolume(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Read(uint64_t offset, void* buffer, uint32_t bytes) override
    {
        ++reads;
        if (offset > bytes_.size() || bytes > bytes_.size() - offset || offset % 512 || bytes % 512)
            return false;
        std::memcpy(buffer, bytes_.data() + offset, bytes);
        return true;
    }
    size_t reads = 0;

private:
    const std::vector<uint8_t>& bytes_;
};

// What one set holds and the other lacks, for the failure's message.
std::string Difference(const Met& a, const Met& b)
{
    std::string text;
    for (const auto& item : a) {
        if (!b.count(item))
            text += std::string(AnsiFromWide(item.first.c_str()).c_str()) + " " + std::to_string(item.second) + "\n";
    }
    return text;
}

struct SizeCase {
    const char* name;
    Wanted wanted;
};

const SizeCase SizeCases[] = {
    {"every size", [](uint64_t) { return true; }},
    {"no size", [](uint64_t) { return false; }},
    {"1300 bytes, non-resident", [](uint64_t size) { return size == 1300; }},
    {"300 bytes, resident", [](uint64_t size) { return size == 300; }},
    {"empty", [](uint64_t size) { return size == 0; }},
    {"4 GiB and more", [](uint64_t size) { return size >= (4ull << 30); }},
    {"compressed", [](uint64_t size) { return size == 130000; }},
};

}  // namespace

TEST(FileTable, TheTableAndTheWalkMeetTheSameFilesForEverySize)
{
    ASSERT_NE(GetFileAttributesW(L"B:\\names"), INVALID_FILE_ATTRIBUTES) << "the NTFS fixture is not at B:";
    for (const SizeCase& c : SizeCases) {
        SCOPED_TRACE(c.name);
        TableRecorder table(c.wanted);
        WalkRecorder walk(c.wanted);
        ASSERT_EQ(RunFileTablePass(ScanApi(), Letter, table), TablePass::Done);
        Walk(walk);
        EXPECT_EQ(table.met, walk.met) << "only in the table:\n"
                                       << Difference(table.met, walk.met) << "only in the walk:\n"
                                       << Difference(walk.met, table.met);
        EXPECT_EQ(table.names, walk.names);
        // A junction the walk lists as a link and leaves alone; the scan asks
        // whether a volume is mounted there.
        EXPECT_EQ(table.mounts, std::vector<std::wstring>{L"\\\\?\\B:\\junction"});
    }
}

TEST(FileTable, EveryCaseOfTheImageIsMet)
{
    TableRecorder table([](uint64_t) { return true; });
    ASSERT_EQ(RunFileTablePass(ScanApi(), Letter, table), TablePass::Done);
    const std::wstring deep = L"B:\\level-00\\level-01\\level-02\\level-03\\level-04\\level-05\\level-06\\level-07"
                              L"\\level-08\\level-09\\level-10\\level-11\\level-12\\level-13\\level-14\\level-15"
                              L"\\level-16\\level-17\\level-18\\level-19\\level-20\\level-21\\level-22\\level-23"
                              L"\\level-24\\level-25\\level-26\\level-27\\level-28\\level-29\\level-30\\level-31"
                              L"\\level-32\\level-33\\level-34\\level-35\\level-36\\level-37\\level-38\\level-39"
                              L"\\bottom.bin";
    const std::pair<std::wstring, uint64_t> expected[] = {
        {L"B:\\resident.bin", 300},
        {L"B:\\nonresident.bin", 1300},
        {L"B:\\empty.txt", 0},
        {L"B:\\streams.bin", 300},
        {L"B:\\links\\target.bin", 1300},
        {L"B:\\links\\a-rather-long-hard-link-name-that-fills-the-record-39.bin", 1300},
        {L"B:\\links\\other\\elsewhere.bin", 1300},
        {L"B:\\large\\exactly-4g.bin", 4ull << 30},
        {L"B:\\large\\over-5g.bin", (5ull << 30) + 1300},
        {L"B:\\compressed\\squeezed.bin", 130000},
        {L"B:\\names\\A long file name with spaces.bin", 1300},
        {L"B:\\names\\\x4E2D\x6587\x540D\x5B57.bin", 1300},
        {L"B:\\names\\emoji-\xD83D\xDE00.bin", 300},
        {L"B:\\names\\\x6587\x4EF6\x5939\\inner.bin", 1300},
        {deep, 1300},
    };
    for (const auto& file : expected)
        EXPECT_EQ(table.met.count(file), 1u) << AnsiFromWide(file.first.c_str()).c_str();
    size_t links = 0;
    size_t churn = 0;
    for (const auto& file : table.met) {
        links += file.first.find(L"B:\\links\\") == 0;
        churn += file.first.find(L"B:\\churn\\r") == 0;
        // The link is a reparse point the walk never follows.
        EXPECT_EQ(file.first.find(L"link-to-names"), std::wstring::npos);
    }
    EXPECT_EQ(links, 42u);
    // Half the records of the churn were deleted.
    EXPECT_EQ(churn, 900u);
}

namespace {

uint16_t At16(const std::vector<uint8_t>& b, size_t i)
{
    return static_cast<uint16_t>(b[i] | b[i + 1] << 8);
}
uint32_t At32(const std::vector<uint8_t>& b, size_t i)
{
    return At16(b, i) | static_cast<uint32_t>(At16(b, i + 2)) << 16;
}

constexpr size_t RecordBytes = 1024;

// The bytes of a record that say where things lie and how long they are:
// its header, fix-ups, attribute headers, run lists, name lengths and
// namespaces, attribute-list entries. A changed name, size, parent or time
// is another volume's truth, which the walk would read the same way.
void StructureBytes(const std::vector<uint8_t>& image, size_t record, std::vector<size_t>& out)
{
    for (size_t i = 0; i < 0x30; ++i)
        out.push_back(record + i);
    out.push_back(record + 510);
    out.push_back(record + 511);
    out.push_back(record + 1022);
    out.push_back(record + 1023);
    // The attributes, read from a copy with the fix-ups undone.
    std::vector<uint8_t> r(image.begin() + record, image.begin() + record + RecordBytes);
    const uint16_t usa = At16(r, 4);
    if (usa + 6u > RecordBytes)
        return;
    for (size_t i = 1; i <= 2; ++i) {
        r[i * 512 - 2] = r[usa + 2 * i];
        r[i * 512 - 1] = r[usa + 2 * i + 1];
    }
    const uint32_t used = std::min<uint32_t>(At32(r, 0x18), RecordBytes);
    for (size_t a = At16(r, 0x14); a + 0x18 <= used;) {
        const uint32_t type = At32(r, a);
        const uint32_t length = At32(r, a + 4);
        for (size_t i = 0; i < 0x10 && a + i < used; ++i)
            out.push_back(record + a + i);
        if (type == 0xFFFFFFFF || length < 0x18 || a + length > used)
            break;
        if (r[a + 8]) {
            for (size_t i = 0x10; i < 0x28; ++i)
                out.push_back(record + a + i);
            for (size_t i = At16(r, a + 0x20); i < length; ++i)
                out.push_back(record + a + i);
        } else {
            const size_t value = a + At16(r, a + 0x14);
            out.push_back(record + a + 0x14);
            out.push_back(record + a + 0x15);
            if (type == 0x30 && value + 0x42 <= a + length) {
                out.push_back(record + value + 0x40);
                out.push_back(record + value + 0x41);
            }
            if (type == 0x20) {
                const size_t end = std::min<size_t>(value + At32(r, a + 0x10), a + length);
                for (size_t e = value; e + 0x1A <= end && At16(r, e + 4) >= 0x1A; e += At16(r, e + 4)) {
                    for (size_t i = 0; i < 0x1A; ++i)
                        if (i < 0x10 || i >= 0x16)  // not the sequence number's
                            out.push_back(record + e + i);
                }
            }
        }
        a += length;
    }
}

struct DamageCase {
    const char* name;
    bool structureOnly;
    int images;
};

const DamageCase DamageCases[] = {
    {"structure bytes", true, 300},
    {"any byte of a record", false, 200},
};

}  // namespace

// Bytes of the image that a worm could change: the table is read as before,
// or the walk takes over; never a crash, a hang or a write past a buffer
// (the guarded heap sees that).
TEST(FileTable, DamagedTablesFallBackOrFindTheSameFiles)
{
    std::vector<uint8_t> image = ImageBytes();
    ASSERT_GT(image.size(), 1u << 20);
    const Wanted wanted = [](uint64_t size) { return size == 1300 || size == 300; };
    TableRecorder reference(wanted);
    {
        MemoryVolume volume(image);
        ASSERT_EQ(ReadFileTable(volume, Letter, reference), TablePass::Done);
    }
    ASSERT_GT(reference.met.size(), 50u);

    std::vector<size_t> records;
    for (size_t at = 0; at + RecordBytes <= image.size(); at += RecordBytes) {
        if (std::memcmp(&image[at], "FILE", 4) == 0)
            records.push_back(at);
    }
    ASSERT_GT(records.size(), 1000u);

    uint32_t seed = 42;
    auto next = [&seed](uint32_t below) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % below;
    };
    for (const DamageCase& c : DamageCases) {
        SCOPED_TRACE(c.name);
        int fellBack = 0;
        for (int n = 0; n < c.images; ++n) {
            std::vector<std::pair<size_t, uint8_t>> changed;
            const uint32_t damaged = 1 + next(3);
            for (uint32_t k = 0; k < damaged; ++k) {
                const size_t record = records[next(static_cast<uint32_t>(records.size()))];
                std::vector<size_t> bytes;
                if (c.structureOnly) {
                    StructureBytes(image, record, bytes);
                } else {
                    for (size_t i = 0; i < RecordBytes; ++i)
                        bytes.push_back(record + i);
                }
                const size_t at = bytes[next(static_cast<uint32_t>(bytes.size()))];
                changed.push_back({at, image[at]});
                image[at] = static_cast<uint8_t>(image[at] ^ (1 + next(255)));
            }
            TableRecorder recorder(wanted);
            MemoryVolume volume(image);
            const TablePass pass = ReadFileTable(volume, Letter, recorder);
            for (auto it = changed.rbegin(); it != changed.rend(); ++it)
                image[it->first] = it->second;
            if (pass == TablePass::Walk) {
                EXPECT_TRUE(recorder.met.empty());
                EXPECT_EQ(recorder.names, 0u);
                ++fellBack;
                continue;
            }
            if (!c.structureOnly)
                continue;
            EXPECT_EQ(recorder.met, reference.met) << "image " << n;
            EXPECT_EQ(recorder.names, reference.names) << "image " << n;
        }
        std::printf("%s: %d of %d images fell back to the walk\n", c.name, fellBack, c.images);
    }
}

namespace {

std::string ReadWide(const wchar_t* path)
{
    FileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes(4096, '\0');
    DWORD read = 0;
    if (!file || !ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
        return std::string();
    bytes.resize(read);
    return bytes;
}

int listingsOfB = 0;
FindFirstFileExWFn realFindFirstFileExW = nullptr;

bool UnderB(LPCWSTR pattern)
{
    return std::wstring(pattern).find(L"B:") != std::wstring::npos;
}

HANDLE WINAPI CountingFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW entry)
{
    listingsOfB += UnderB(pattern);
    return FindFirstFileW(pattern, entry);
}

HANDLE WINAPI CountingFindFirstFileExW(LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID entry,
                                       FINDEX_SEARCH_OPS search, LPVOID filter, DWORD flags)
{
    listingsOfB += UnderB(pattern);
    return realFindFirstFileExW(pattern, level, entry, search, filter, flags);
}

BOOL WINAPI RefuseRestartDeletion(LPCWSTR, LPCWSTR, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

void CountListings(RuntimeApi& api)
{
    api.MoveFileExW = RefuseRestartDeletion;
    api.FindFirstFileW = CountingFindFirstFileW;
    if (api.FindFirstFileExW) {
        realFindFirstFileExW = api.FindFirstFileExW;
        api.FindFirstFileExW = CountingFindFirstFileExW;
    }
}

struct DriveScan {
    UINT files = 0;
    UINT infected = 0;
    UINT unexamined = 0;
    std::vector<std::wstring> rows;
    int listings = 0;
};

DriveScan ScanB(const SignatureSet& signatures, bool readFileTable)
{
    ApiOverride override(CountListings);
    ScanHost host;
    MemAndFileWalker walker(&host.Context(), signatures);
    walker.readFileTable = readFileTable;
    walker.firstDrive = walker.lastDrive = 'B';
    listingsOfB = 0;
    const ScanReport report = host.Run([&](ScanContext&) { walker.ScanDrives(); });
    DriveScan scan;
    scan.files = walker.files;
    scan.infected = walker.infected;
    scan.unexamined = walker.unexamined;
    scan.listings = listingsOfB;
    for (const ResultRow& row : report.rows)
        scan.rows.push_back(row.path + L"\t" + row.name + L"\t" + row.outcome);
    std::sort(scan.rows.begin(), scan.rows.end());
    return scan;
}

}  // namespace

// Each file of a signature's size is opened by its path, examined and
// removed as the walk's would be (the mount is read-only: "Kill Failed").
TEST(FileTable, AScanOfTheDriveGivesTheWalksCountsAndRows)
{
    const std::string resident = ReadWide(L"B:\\resident.bin");
    const std::string linked = ReadWide(L"B:\\links\\target.bin");
    const std::string chinese = ReadWide(L"B:\\names\\\x4E2D\x6587\x540D\x5B57.bin");
    ASSERT_EQ(resident.size(), 300u);
    ASSERT_EQ(linked.size(), 1300u);
    ASSERT_EQ(chinese.size(), 1300u);
    const std::vector<SignatureEntry> rows{RowFor(resident), RowFor(linked), RowFor(chinese)};
    const SignatureSet signatures{rows.data(), rows.size()};

    const DriveScan table = ScanB(signatures, true);
    const DriveScan walk = ScanB(signatures, false);
    EXPECT_EQ(table.listings, 0);
    EXPECT_GT(walk.listings, 40);
    EXPECT_EQ(table.files, walk.files);
    EXPECT_GT(table.files, 900u);
    // One file, 42 names of another, and a third.
    EXPECT_EQ(table.infected, 44u);
    EXPECT_EQ(table.infected, walk.infected);
    EXPECT_EQ(table.unexamined, walk.unexamined);
    EXPECT_EQ(table.rows, walk.rows);
}

namespace {

// A record of the image with its fix-ups undone, edited, and written back
// with them done again.
class RecordEdit {
public:
    RecordEdit(std::vector<uint8_t>& image, size_t offset)
        : image_(image), offset_(offset), bytes_(image.begin() + offset, image.begin() + offset + RecordBytes)
    {
        const uint16_t usa = At16(bytes_, 4);
        for (size_t i = 1; i <= RecordBytes / 512; ++i) {
            bytes_[i * 512 - 2] = bytes_[usa + 2 * i];
            bytes_[i * 512 - 1] = bytes_[usa + 2 * i + 1];
        }
    }
    ~RecordEdit()
    {
        const uint16_t usa = At16(bytes_, 4);
        for (size_t i = 1; i <= RecordBytes / 512; ++i) {
            bytes_[usa + 2 * i] = bytes_[i * 512 - 2];
            bytes_[usa + 2 * i + 1] = bytes_[i * 512 - 1];
            bytes_[i * 512 - 2] = bytes_[usa];
            bytes_[i * 512 - 1] = bytes_[usa + 1];
        }
        std::copy(bytes_.begin(), bytes_.end(), image_.begin() + offset_);
    }
    RecordEdit(const RecordEdit&) = delete;
    RecordEdit& operator=(const RecordEdit&) = delete;

    std::vector<uint8_t>& bytes() { return bytes_; }
    // The offset of the record's first attribute of that type, or 0.
    size_t Attribute(uint32_t type, size_t after = 0) const
    {
        for (size_t a = At16(bytes_, 0x14); a + 8 <= RecordBytes && At32(bytes_, a) != 0xFFFFFFFF;
             a += At32(bytes_, a + 4)) {
            if (At32(bytes_, a) == type && a > after)
                return a;
            if (At32(bytes_, a + 4) == 0)
                break;
        }
        return 0;
    }
    size_t Value(size_t attribute) const { return attribute + At16(bytes_, attribute + 0x14); }
    void Put16(size_t at, uint16_t value)
    {
        bytes_[at] = static_cast<uint8_t>(value);
        bytes_[at + 1] = static_cast<uint8_t>(value >> 8);
    }
    void Put64(size_t at, uint64_t value)
    {
        for (int i = 0; i < 8; ++i)
            bytes_[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }

private:
    std::vector<uint8_t>& image_;
    size_t offset_;
    std::vector<uint8_t> bytes_;
};

// The table's record (below the mirror's copies) of the file or folder of
// that long name.
size_t RecordNamed(const std::vector<uint8_t>& image, const std::wstring& name)
{
    std::vector<uint8_t> wanted;
    for (wchar_t c : name) {
        wanted.push_back(static_cast<uint8_t>(c));
        wanted.push_back(static_cast<uint8_t>(c >> 8));
    }
    for (size_t at = 0; at + RecordBytes <= image.size(); at += RecordBytes) {
        if (std::memcmp(&image[at], "FILE", 4) != 0 || At32(image, at + 0x2C) < 16)
            continue;
        std::vector<uint8_t> copy(image.begin() + at, image.begin() + at + RecordBytes);
        RecordEdit record(copy, 0);
        for (size_t a = record.Attribute(0x30); a; a = record.Attribute(0x30, a)) {
            const size_t value = record.Value(a);
            if (record.bytes()[value + 0x40] == name.size() &&
                std::memcmp(&record.bytes()[value + 0x42], wanted.data(), wanted.size()) == 0)
                return at;
        }
    }
    return 0;
}

// The first file record with an attribute list.
size_t RecordWithList(const std::vector<uint8_t>& image)
{
    for (size_t at = 0; at + RecordBytes <= image.size(); at += RecordBytes) {
        if (std::memcmp(&image[at], "FILE", 4) != 0 || At32(image, at + 0x2C) < 16 || At32(image, at + 0x20))
            continue;
        std::vector<uint8_t> copy(image.begin() + at, image.begin() + at + RecordBytes);
        if (RecordEdit(copy, 0).Attribute(0x20))
            return at;
    }
    return 0;
}

uint64_t ReferenceAt(const std::vector<uint8_t>& image, size_t record)
{
    return At32(image, record + 0x2C) | static_cast<uint64_t>(At16(image, record + 0x10)) << 48;
}

struct Damage {
    const char* name;
    std::function<void(std::vector<uint8_t>& image)> apply;
};

}  // namespace

// Each damage the reader must meet by leaving the drive to the walk.
TEST(FileTable, WhatDoesNotAddUpLeavesTheDriveToTheWalk)
{
    std::vector<uint8_t> image = ImageBytes();
    ASSERT_GT(image.size(), 1u << 20);
    const size_t file = RecordNamed(image, L"nonresident.bin");
    const size_t linked = RecordWithList(image);
    const size_t resident = RecordNamed(image, L"resident.bin");
    const size_t link = RecordNamed(image, L"elsewhere.bin");
    const size_t names = RecordNamed(image, L"names");
    const size_t inner = RecordNamed(image, L"\x6587\x4EF6\x5939");
    ASSERT_TRUE(file);
    ASSERT_TRUE(linked);
    ASSERT_TRUE(names);
    ASSERT_TRUE(inner);
    ASSERT_TRUE(resident);
    ASSERT_TRUE(link);
    const uint64_t innerReference = ReferenceAt(image, inner);
    const uint64_t fileReference = ReferenceAt(image, file);
    size_t table = 0;
    for (size_t at = 0; at < image.size() && !table; at += RecordBytes)
        table = std::memcmp(&image[at], "FILE", 4) == 0 && At32(image, at + 0x2C) == 0 ? at : 0;
    ASSERT_TRUE(table);

    const Damage damages[] = {
        {"nothing", nullptr},
        {"a fix-up that does not match its sector", [&](std::vector<uint8_t>& i) { i[file + 510] ^= 1; }},
        {"a file's run leaving the volume",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, file);
             const size_t runs = r.Attribute(0x80) + At16(r.bytes(), r.Attribute(0x80) + 0x20);
             r.bytes()[runs] = 0x41;  // one byte of length, four of cluster
             r.Put16(runs + 2, 0);
             r.Put16(runs + 4, 0x100);
         }},
        {"the table's own run leaving the volume",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, table);
             const size_t runs = r.Attribute(0x80) + At16(r.bytes(), r.Attribute(0x80) + 0x20);
             r.bytes()[runs + 1 + (r.bytes()[runs] & 0xF) + (r.bytes()[runs] >> 4) - 1] = 0x7F;
         }},
        {"folders that are each other's parent",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, names);
             r.Put64(r.Value(r.Attribute(0x30)), innerReference);
         }},
        {"a parent that is no folder",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, file);
             r.Put64(r.Value(r.Attribute(0x30)), fileReference);
         }},
        {"an attribute longer than its record",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, file);
             r.Put16(r.Attribute(0x80) + 4, 0x800);
         }},
        {"a record in use that the table's map does not mark",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, file);
             r.bytes()[0x16] &= 0xFE;
         }},
        {"a file record that claims to extend another",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, file);
             r.Put64(0x20, innerReference);
         }},
        {"a file with only a short name",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, file);
             r.bytes()[r.Value(r.Attribute(0x30)) + 0x41] = 2;
         }},
        {"one of a file's hard links made a short name, without its long one",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, link);
             for (size_t a = r.Attribute(0x30); a; a = r.Attribute(0x30, a)) {
                 if (r.bytes()[r.Value(a) + 0x40] == 13)  // elsewhere.bin
                     r.bytes()[r.Value(a) + 0x41] = 2;
             }
         }},
        {"a resident value shorter than its attribute",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, resident);
             r.Put16(r.Attribute(0x80) + 0x10, 296);
         }},
        {"a file marked as a folder",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, file);
             r.bytes()[0x16] |= 2;
         }},
        {"an attribute list naming a record that does not extend the file",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, linked);
             const size_t a = r.Attribute(0x20);
             // The list in the record, or in its first run's clusters.
             std::vector<uint8_t>* bytes = &r.bytes();
             size_t entry = r.Value(a);
             if (r.bytes()[a + 8]) {
                 const size_t runs = a + At16(r.bytes(), a + 0x20);
                 const unsigned lengthBytes = r.bytes()[runs] & 0xF;
                 size_t cluster = 0;
                 for (unsigned k = r.bytes()[runs] >> 4; k-- > 0;)
                     cluster = cluster << 8 | r.bytes()[runs + 1 + lengthBytes + k];
                 bytes = &i;
                 entry = cluster * 4096;
             }
             while (At32(*bytes, entry + 0x10) == At32(r.bytes(), 0x2C))
                 entry += At16(*bytes, entry + 4);
             for (int k = 0; k < 8; ++k)
                 (*bytes)[entry + 0x10 + k] = static_cast<uint8_t>(innerReference >> (8 * k));
         }},
        {"a name no path can carry",
         [&](std::vector<uint8_t>& i) {
             RecordEdit r(i, file);
             r.Put16(r.Value(r.Attribute(0x30)) + 0x42, L':');
         }},
    };
    const Wanted wanted = [](uint64_t size) { return size == 1300; };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        std::vector<uint8_t> copy = image;
        if (damage.apply)
            damage.apply(copy);
        TableRecorder recorder(wanted);
        MemoryVolume volume(copy);
        EXPECT_EQ(ReadFileTable(volume, Letter, recorder), damage.apply ? TablePass::Walk : TablePass::Done);
    }
}

// Memory that runs out at any allocation of the pass: while the table is
// read, the drive is left to the walk; while its files are handed over,
// the pass ends there, as a walk does; never a file that is not there, and
// every block given back (the guarded heap checks them).
TEST(FileTable, MemoryRunningOutAtAnyAllocationEndsCleanly)
{
    std::vector<uint8_t> image = ImageBytes();
    ASSERT_GT(image.size(), 1u << 20);
    const Wanted wanted = [](uint64_t size) { return size == 1300; };
    TableRecorder reference(wanted);
    {
        MemoryVolume volume(image);
        ASSERT_EQ(ReadFileTable(volume, Letter, reference), TablePass::Done);
    }
    int walks = 0;
    for (LONG allowed = 0; allowed < 1000; ++allowed) {
        SCOPED_TRACE(allowed);
        TableRecorder recorder(wanted);
        MemoryVolume volume(image);
        TablePass pass;
        bool refused;
        {
            NoMemoryAfter limit(allowed);
            pass = ReadFileTable(volume, Letter, recorder);
            refused = NoMemoryAfter::Refused();
        }
        if (!refused) {
            EXPECT_EQ(pass, TablePass::Done);
            EXPECT_EQ(recorder.met, reference.met);
            EXPECT_GT(walks, 10);
            return;
        }
        walks += pass == TablePass::Walk;
        for (const auto& file : recorder.met)
            EXPECT_EQ(reference.met.count(file), 1u);
        if (pass == TablePass::Walk) {
            EXPECT_TRUE(recorder.met.empty());
        }
    }
    ADD_FAILURE() << "the pass never ended without running out";
}

namespace {

DWORD WINAPI SubstTarget(LPCWSTR, LPWSTR target, DWORD size)
{
    const wchar_t text[] = L"\\??\\C:\\folder\0";
    if (size < sizeof text / sizeof text[0])
        return 0;
    std::memcpy(target, text, sizeof text);
    return sizeof text / sizeof text[0];
}

DWORD WINAPI NoTarget(LPCWSTR, LPWSTR, DWORD)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
}

UINT WINAPI RemoteDrive(LPCSTR)
{
    return DRIVE_REMOTE;
}

}  // namespace

// Letters that lead to no volume of their own are walked, NTFS or not.
TEST(FileTable, OnlyAVolumesOwnLetterIsRead)
{
    struct Case {
        const char* name;
        void (*change)(RuntimeApi& api);
        TablePass pass;
    };
    const Case cases[] = {
        {"the volume's own letter", [](RuntimeApi&) {}, TablePass::Done},
        {"a SUBST letter", [](RuntimeApi& api) { api.QueryDosDeviceW = SubstTarget; }, TablePass::Walk},
        {"a letter the system does not name", [](RuntimeApi& api) { api.QueryDosDeviceW = NoTarget; },
         TablePass::Done},
        {"a network drive", [](RuntimeApi& api) { api.GetDriveTypeA = RemoteDrive; }, TablePass::Walk},
        {"no volume query", [](RuntimeApi& api) { api.GetVolumeInformationW = nullptr; }, TablePass::Walk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RuntimeApi api = ScanApi();
        c.change(api);
        TableRecorder recorder([](uint64_t) { return false; });
        EXPECT_EQ(RunFileTablePass(api, Letter, recorder), c.pass);
    }
}

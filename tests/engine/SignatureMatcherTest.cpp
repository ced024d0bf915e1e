// The matcher against files the tests make, described by a test table.
#include "Handle.h"
#include "Reference.h"
#include "SignatureMatcher.h"
#include "ScanHost.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

namespace {

struct TestTable {
    explicit TestTable(std::vector<SignatureEntry> entries) : rows(std::move(entries)) {}
    SignatureSet Set() const { return {rows.data(), rows.size()}; }
    std::vector<SignatureEntry> rows;
};

}  // namespace

TEST(SignatureTable, SevenRowsOfDistinctSizesWithKindOneExactlyForSectorMultiples)
{
    for (size_t i = 0; i < SignatureRowCount; ++i) {
        EXPECT_EQ(SignatureTable[i].kind, SignatureTable[i].size % 512 == 0 ? 1u : 0u) << i;
        for (size_t j = i + 1; j < SignatureRowCount; ++j)
            EXPECT_NE(SignatureTable[i].size, SignatureTable[j].size);
    }
    EXPECT_EQ(ProductSignatures.rows, SignatureTable);
    EXPECT_EQ(ProductSignatures.count, 7u);
}

TEST(SignatureTable, RowsEqualThePublishedDetectionData)
{
    // Typed from the published detection data, not derived from the table.
    const struct {
        uint32_t size;
        const char* md5;
    } published[] = {
        {53534, "5ad73d2e4e33bb84155ee4b35fbefc2b"},
        {1300, "c81d037b723adc43e3ee17b1eee9d6cc"},
        {160768, "296e04abb00ea5f18ba021c34e486746"},
        {643072, "bb5441af1e1741fca600e9c433cb1550"},
        {6166528, "bdc9e04388bda8527b398a8c34667e18"},
        {827392, "c9e00c9d94d1a790d5923b050b0bd741"},
        {1721856, "d53b39fb50841ff163f6e9cfd8b52c2e"},
    };
    static_assert(sizeof published / sizeof published[0] == SignatureRowCount, "seven rows");
    for (size_t i = 0; i < SignatureRowCount; ++i) {
        char hex[33] = {};
        for (size_t b = 0; b < 16; ++b)
            std::snprintf(hex + 2 * b, 3, "%02x", SignatureTable[i].md5[b]);
        EXPECT_EQ(SignatureTable[i].size, published[i].size) << "row " << i + 1;
        EXPECT_STREQ(hex, published[i].md5) << "row " << i + 1;
    }
}

TEST(MatchFile, ByteExactCopiesMatchWhateverTheirNameAndPlace)
{
    TempTree tree;
    const std::string small = UniqueBytes(1300);
    const std::string large = UniqueBytes(3 * 524288);  // ends with a read of 0 bytes
    const std::string odd = UniqueBytes(524288 + 77);
    // A row of the same size as another, listed first: both are held against
    // the one read of the file.
    const TestTable table({RowFor(UniqueBytes(1300)), RowFor(small), RowFor(large), RowFor(odd)});

    for (const char* name : {"a.exe", "deep\\er\\copy.txt", "no extension", "x.dll.bak"}) {
        EXPECT_EQ(MatchFile(Widen(tree.WriteFile(std::string("s-") + name, small)).c_str(), table.Set()), 1) << name;
        EXPECT_EQ(MatchFile(Widen(tree.WriteFile(std::string("l-") + name, large)).c_str(), table.Set()), 1) << name;
        EXPECT_EQ(MatchFile(Widen(tree.WriteFile(std::string("o-") + name, odd)).c_str(), table.Set()), 1) << name;
    }
    // Read-only and hidden files are matched all the same, and left unchanged.
    const std::string hidden = tree.WriteFile("hidden", small);
    SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(MatchFile(Widen(hidden).c_str(), table.Set()), 1);
    const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    EXPECT_EQ(GetFileAttributesA(hidden.c_str()) & kept, kept);
    SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(MatchFile, SameSizeOtherContentAndOtherSizesAreClean)
{
    TempTree tree;
    const std::string bytes = UniqueBytes(1300);
    const TestTable table({RowFor(bytes)});

    std::string changed = bytes;
    changed[1299] ^= 1;
    EXPECT_EQ(MatchFile(Widen(tree.WriteFile("last-byte", changed)).c_str(), table.Set()), 0);
    changed = bytes;
    changed[0] ^= 0x80;
    EXPECT_EQ(MatchFile(Widen(tree.WriteFile("first-byte", changed)).c_str(), table.Set()), 0);
    EXPECT_EQ(MatchFile(Widen(tree.WriteFile("shorter", bytes.substr(0, 1299))).c_str(), table.Set()), 0);
    EXPECT_EQ(MatchFile(Widen(tree.WriteFile("longer", bytes + "x")).c_str(), table.Set()), 0);
    EXPECT_EQ(MatchFile(Widen(tree.WriteFile("empty", std::string())).c_str(), table.Set()), 0);
    // The product's table knows none of these files.
    EXPECT_EQ(MatchFile(Widen(tree.Path("last-byte")).c_str()), 0);
    EXPECT_EQ(MatchFile(Widen(tree.WriteFile("exact", bytes)).c_str()), 0);
    EXPECT_EQ(MatchFile(Widen(tree.Path("exact")).c_str(), table.Set()), 1);
}

TEST(MatchFile, FilesThatCannotBeOpenedOrReadAreClean)
{
    TempTree tree;
    const std::string bytes = UniqueBytes(1300);
    const TestTable table({RowFor(bytes)});
    const std::string path = tree.WriteFile("target", bytes);
    ASSERT_EQ(MatchFile(Widen(path).c_str(), table.Set()), 1);

    EXPECT_EQ(MatchFile(Widen(tree.Path("missing")).c_str(), table.Set()), 0);
    EXPECT_EQ(MatchFile(Widen(tree.Root()).c_str(), table.Set()), 0);
    EXPECT_EQ(MatchFile(L"", table.Set()), 0);
    EXPECT_EQ(MatchFile(Widen((tree.Root() + "\\" + std::string(400, 'n'))).c_str(), table.Set()), 0);

    // Held by another handle that shares nothing: the open fails.
    HANDLE exclusive = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    SetLastError(0xdeadbeef);
    HANDLE probe = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(probe, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(MatchFile(Widen(path).c_str(), table.Set()), 0);
    CloseHandle(exclusive);

    // Its size known, its content refused (a locked range, a bad sector):
    // unread, not clean, against either of two rows of its size.
    const TestTable twoRows({RowFor(UniqueBytes(1300)), RowFor(bytes)});
    FileHandle sizeOnly(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    ASSERT_TRUE(sizeOnly);
    EXPECT_EQ(MatchHandle(sizeOnly.Get(), twoRows.Set()), MatchUnread);

    EXPECT_EQ(MatchFile(Widen(path).c_str(), table.Set()), 1);
}

TEST(MatchFile, FilesOfFourGibibytesOrMoreAreClean)
{
    TempTree tree;
    const std::string path = tree.Path("huge");
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER end;
    end.QuadPart = 0x100000000LL + 1300;  // sparse: costs no disk
    ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);

    // A row whose size equals the low 32 bits of the file's size.
    SignatureEntry row = RowFor(std::string(1300, '\0'));
    const TestTable table({row});
    EXPECT_EQ(MatchFile(Widen(path).c_str(), table.Set()), 0);
}

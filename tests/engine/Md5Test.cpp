// MD5 against RFC 1321's test suite and against the platform's own MD5.
#include "Md5.h"
#include "SignatureMatcher.h"
#include "Reference.h"
#include "TempTree.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Hex(const unsigned char digest[16])
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (int i = 0; i < 16; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

std::string Md5Hex(const std::string& input)
{
    Md5Context context;
    Md5Init(&context);
    Md5Update(&context, input.data(), input.size());
    unsigned char digest[16];
    Md5Final(&context, digest);
    return Hex(digest);
}

std::string HashFileHex(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    unsigned char digest[16] = {};
    EXPECT_EQ(HashFile(file, digest), S_OK);
    CloseHandle(file);
    return Hex(digest);
}

}  // namespace

TEST(Md5, Rfc1321TestSuite)
{
    EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(Md5Hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Md5Hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(Md5Hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(Md5Hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(Md5Hex("1234567890123456789012345678901234567890"
                     "1234567890123456789012345678901234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, PiecewiseUpdatesEqualOneUpdate)
{
    const std::string input = PatternBytes(1000, 7);
    for (size_t split : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 127u, 128u, 999u}) {
        Md5Context context;
        Md5Init(&context);
        Md5Update(&context, input.data(), split);
        Md5Update(&context, input.data() + split, input.size() - split);
        unsigned char digest[16];
        Md5Final(&context, digest);
        EXPECT_EQ(Hex(digest), Md5Hex(input)) << "split at " << split;
    }
}

TEST(Md5, AgreesWithCryptoApiAroundBlockAndPaddingBoundaries)
{
    for (size_t size = 0; size <= 130; ++size) {
        const std::string input = PatternBytes(size, static_cast<unsigned>(size));
        EXPECT_EQ(Md5Hex(input), CryptoApiMd5Hex(input)) << "size " << size;
    }
}

TEST(HashFile, AgreesWithCryptoApiOnFilesAroundReadBoundaries)
{
    TempTree tree;
    const size_t chunk = 524288;
    for (size_t size : {size_t(0), size_t(1), size_t(55), size_t(56), size_t(57), size_t(63),
                        size_t(64), size_t(65), size_t(1300), chunk - 1, chunk, chunk + 1,
                        2 * chunk, 3 * chunk + 511}) {
        const std::string bytes = PatternBytes(size, static_cast<unsigned>(size) + 3);
        const std::string path = tree.WriteFile("f" + std::to_string(size), bytes);
        EXPECT_EQ(HashFileHex(path), CryptoApiMd5Hex(bytes)) << "size " << size;
    }
}

TEST(HashFile, ArgumentAndReadFailures)
{
    TempTree tree;
    const std::string path = tree.WriteFile("file", 100, 1);
    unsigned char digest[16];
    EXPECT_EQ(HashFile(nullptr, digest), E_INVALIDARG);

    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(HashFile(file, nullptr), E_INVALIDARG);
    CloseHandle(file);

    // A handle without read access: the read fails and the digest is left alone.
    file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    unsigned char untouched[16];
    memset(untouched, 0x5A, sizeof untouched);
    EXPECT_EQ(HashFile(file, untouched), E_FAIL);
    for (unsigned char byte : untouched)
        EXPECT_EQ(byte, 0x5A);
    CloseHandle(file);

    EXPECT_EQ(HashFile(INVALID_HANDLE_VALUE, digest), E_FAIL);
}

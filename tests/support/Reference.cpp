#include "Reference.h"

#include "TempTree.h"

#include <gtest/gtest.h>
#include <wincrypt.h>

#include <cstring>

void CryptoApiMd5(const std::string& bytes, unsigned char digest[16])
{
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    DWORD length = 16;
    ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    EXPECT_TRUE(CryptCreateHash(provider, CALG_MD5, 0, 0, &hash));
    EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<DWORD>(bytes.size()), 0));
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0));
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
}

std::string CryptoApiMd5Hex(const std::string& bytes)
{
    unsigned char digest[16] = {};
    CryptoApiMd5(bytes, digest);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

SignatureEntry RowFor(const std::string& bytes)
{
    SignatureEntry row = {};
    row.size = static_cast<uint32_t>(bytes.size());
    CryptoApiMd5(bytes, row.md5);
    return row;
}

std::string UniqueBytes(size_t size)
{
    static LONG counter = 0;
    const unsigned seed = GetCurrentProcessId() * 7919u + static_cast<unsigned>(InterlockedIncrement(&counter)) +
                          GetTickCount() * 31u;
    std::string bytes = PatternBytes(size, seed);
    const std::string tag = std::to_string(GetCurrentProcessId()) + ":" + std::to_string(counter) + ":";
    std::memcpy(&bytes[0], tag.data(), std::min(tag.size(), bytes.size()));
    return bytes;
}

std::string ProbeDllBytes()
{
    HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10));
    if (!resource)
        return std::string();
    const void* data = LockResource(LoadResource(nullptr, resource));
    return std::string(static_cast<const char*>(data), SizeofResource(nullptr, resource));
}

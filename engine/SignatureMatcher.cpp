#include "SignatureMatcher.h"

#include "Handle.h"
#include "FileSystem.h"
#include "Md5.h"

#include <cstring>

const SignatureEntry SignatureTable[SignatureRowCount] = {
    {53534, 0, {0x5a, 0xd7, 0x3d, 0x2e, 0x4e, 0x33, 0xbb, 0x84, 0x15, 0x5e, 0xe4, 0xb3, 0x5f, 0xbe, 0xfc, 0x2b}},
    {1300, 0, {0xc8, 0x1d, 0x03, 0x7b, 0x72, 0x3a, 0xdc, 0x43, 0xe3, 0xee, 0x17, 0xb1, 0xee, 0xe9, 0xd6, 0xcc}},
    {160768, 1, {0x29, 0x6e, 0x04, 0xab, 0xb0, 0x0e, 0xa5, 0xf1, 0x8b, 0xa0, 0x21, 0xc3, 0x4e, 0x48, 0x67, 0x46}},
    {643072, 1, {0xbb, 0x54, 0x41, 0xaf, 0x1e, 0x17, 0x41, 0xfc, 0xa6, 0x00, 0xe9, 0xc4, 0x33, 0xcb, 0x15, 0x50}},
    {6166528, 1, {0xbd, 0xc9, 0xe0, 0x43, 0x88, 0xbd, 0xa8, 0x52, 0x7b, 0x39, 0x8a, 0x8c, 0x34, 0x66, 0x7e, 0x18}},
    {827392, 1, {0xc9, 0xe0, 0x0c, 0x9d, 0x94, 0xd1, 0xa7, 0x90, 0xd5, 0x92, 0x3b, 0x05, 0x0b, 0x0b, 0xd7, 0x41}},
    {1721856, 1, {0xd5, 0x3b, 0x39, 0xfb, 0x50, 0x84, 0x1f, 0xf1, 0x63, 0xf6, 0xe9, 0xcf, 0xd8, 0xb5, 0x2c, 0x2e}},
};

const SignatureSet ProductSignatures = {SignatureTable, SignatureRowCount};

bool SignatureSet::HasSize(unsigned long long size) const
{
    for (size_t i = 0; i < count; ++i) {
        if (rows[i].size == size)
            return true;
    }
    return false;
}

namespace {

constexpr DWORD ReadChunk = 0x80000;  // 512 KiB, a multiple of every sector size

// Unbuffered reads need a sector-aligned buffer; VirtualAlloc gives a whole
// page-aligned block.
struct ReadBuffer {
    ReadBuffer() : data(VirtualAlloc(nullptr, ReadChunk, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~ReadBuffer()
    {
        if (data)
            VirtualFree(data, 0, MEM_RELEASE);
    }
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;

    void* data;
};

}  // namespace

HRESULT HashFile(HANDLE file, unsigned char* digest)
{
    if (!file || !digest)
        return E_INVALIDARG;
    ReadBuffer buffer;
    if (!buffer.data)
        return E_OUTOFMEMORY;

    Md5Context md5;
    Md5Init(&md5);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.data, ReadChunk, &read, nullptr))
            return E_FAIL;
        Md5Update(&md5, buffer.data, read);
        if (read < ReadChunk)
            break;
    }
    Md5Final(&md5, digest);
    return S_OK;
}

int MatchFile(const wchar_t* path)
{
    return MatchFile(path, ProductSignatures);
}

int MatchFile(const wchar_t* path, const SignatureSet& signatures)
{
    const ExaminedFile file = OpenForExamination(OrdinaryApi(), path);
    return file.handle && MatchHandle(file.handle.Get(), signatures) == MatchInfected ? 1 : 0;
}

MatchResult MatchHandle(HANDLE file, const SignatureSet& signatures)
{
    // GetFileSize, not GetFileSizeEx: Windows 95 and NT 4.0 lack the latter.
    // All ones is a valid low word, so only the last error tells a failure.
    DWORD sizeHigh = 0;
    SetLastError(NO_ERROR);
    const DWORD size = GetFileSize(file, &sizeHigh);
    if ((size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || sizeHigh != 0)
        return MatchClean;

    // Rows of one size share the one digest: the file is read once.
    unsigned char digest[16] = {};
    bool hashed = false;
    for (size_t i = 0; i < signatures.count; ++i) {
        const SignatureEntry& row = signatures.rows[i];
        if (row.size != size)
            continue;
        if (!hashed && FAILED(HashFile(file, digest)))
            return MatchUnread;
        hashed = true;
        if (std::memcmp(digest, row.md5, sizeof digest) == 0)
            return MatchInfected;
    }
    return MatchClean;
}

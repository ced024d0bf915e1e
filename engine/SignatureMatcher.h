// Decides whether a file is one of the worm's known files: same size and
// same MD5 digest as a row of the signature table.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

struct SignatureEntry {
    uint32_t size;
    uint32_t kind;
    unsigned char md5[16];
};

constexpr size_t SignatureRowCount = 7;
extern const SignatureEntry SignatureTable[SignatureRowCount];

// A table to match against. The product only ever uses the compiled-in one;
// tests hand in rows that describe files they made themselves.
struct SignatureSet {
    const SignatureEntry* rows;
    size_t count;

    bool HasSize(unsigned long long size) const;
};

extern const SignatureSet ProductSignatures;

// Reads the file from its current position to the end and writes the MD5
// digest. S_OK, E_INVALIDARG, E_OUTOFMEMORY or E_FAIL.
HRESULT HashFile(HANDLE file, unsigned char* digest);

// What reading an open file found.
enum MatchResult : int {
    MatchClean = 0,
    MatchInfected = 1,
    // Of a signature's size, but the read failed: not known to be clean.
    MatchUnread = 2
};

// The open file, read from its current position. Only a file whose size is
// a signature's is read, at most once.
MatchResult MatchHandle(HANDLE file, const SignatureSet& signatures);

// 1 when the file at path matches a row of the table, else 0: opened as
// the scan opens it, matched and closed.
int MatchFile(const wchar_t* path);
int MatchFile(const wchar_t* path, const SignatureSet& signatures);

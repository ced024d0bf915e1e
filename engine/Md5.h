// MD5 message digest (RFC 1321), incremental.
#pragma once

#include <cstddef>
#include <cstdint>

struct Md5Context {
    uint32_t count[2];  // bits processed, low word first
    uint32_t state[4];
    unsigned char buffer[64];
};

void Md5Init(Md5Context* context);
void Md5Update(Md5Context* context, const void* data, size_t length);
void Md5Final(Md5Context* context, unsigned char digest[16]);

// Independent references the tests compare the engine with.
#pragma once

#include "SignatureMatcher.h"

#include <string>

// MD5 through the platform's CryptoAPI.
void CryptoApiMd5(const std::string& bytes, unsigned char digest[16]);
std::string CryptoApiMd5Hex(const std::string& bytes);

// A signature row for these bytes, digest from CryptoAPI.
SignatureEntry RowFor(const std::string& bytes);

// Bytes that no other test, and no other test process, writes.
std::string UniqueBytes(size_t size);

// The probe DLL's bytes, which the test program carries as resource 1; empty
// in a program without it.
std::string ProbeDllBytes();

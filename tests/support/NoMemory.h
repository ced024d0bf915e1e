// The program's allocations fail after the first few, as when memory runs
// out, for as long as this lives. The C++ library's are not touched.
#pragma once

#include "Memory.h"

#include <windows.h>

class NoMemoryAfter {
public:
    explicit NoMemoryAfter(LONG allowed)
    {
        left_ = allowed;
        AllocationAllowed = [](size_t) { return InterlockedDecrement(&left_) >= 0; };
    }
    ~NoMemoryAfter() { AllocationAllowed = nullptr; }
    NoMemoryAfter(const NoMemoryAfter&) = delete;
    NoMemoryAfter& operator=(const NoMemoryAfter&) = delete;

    // Whether an allocation was refused.
    static bool Refused() { return left_ < 0; }

private:
    static inline volatile LONG left_ = 0;
};

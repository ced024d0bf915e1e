#include "Memory.h"

#include <windows.h>

bool (*AllocationAllowed)(size_t bytes) = nullptr;

#if TAVOK_OWN_RUNTIME
// The shipped program's heap is the process heap, on every Windows.
void* AllocateBytes(size_t bytes) noexcept
{
    if (AllocationAllowed && !AllocationAllowed(bytes))
        return nullptr;
    return HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
}

void FreeBytes(void* block) noexcept
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

// What delete and delete[] free. No operator new without NoThrow is given:
// a plain new, which would crash on a null block, does not link.
void operator delete(void* block) noexcept { FreeBytes(block); }
void operator delete[](void* block) noexcept { FreeBytes(block); }
void operator delete(void* block, size_t) noexcept { FreeBytes(block); }
void operator delete[](void* block, size_t) noexcept { FreeBytes(block); }
#else
#include <new>

const BlockSource* TestBlockSource = nullptr;

// The test programs keep the C++ library's heap, which their own delete frees.
void* AllocateBytes(size_t bytes) noexcept
{
    if (AllocationAllowed && !AllocationAllowed(bytes))
        return nullptr;
    if (TestBlockSource)
        return TestBlockSource->allocate(bytes);
    return ::operator new(bytes, std::nothrow);
}

void FreeBytes(void* block) noexcept
{
    if (TestBlockSource)
        TestBlockSource->release(block);
    else
        ::operator delete(block);
}
#endif

void* operator new(size_t bytes, NoThrowTag) noexcept { return AllocateBytes(bytes); }
void* operator new[](size_t bytes, NoThrowTag) noexcept { return AllocateBytes(bytes); }
void operator delete(void* block, NoThrowTag) noexcept { FreeBytes(block); }
void operator delete[](void* block, NoThrowTag) noexcept { FreeBytes(block); }

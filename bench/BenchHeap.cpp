// In the product's build tree the engine frees with the program's own
// delete (engine/Memory.cpp, the process heap): the benchmark's C++ library
// allocates from the same heap.
#include <windows.h>

#include <cstddef>
#include <cstdlib>

void* operator new(size_t bytes)
{
    void* block = HeapAlloc(GetProcessHeap(), 0, bytes ? bytes : 1);
    if (!block)
        std::abort();
    return block;
}

void* operator new[](size_t bytes)
{
    return operator new(bytes);
}

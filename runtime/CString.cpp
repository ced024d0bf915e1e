// The C library's memory and string functions that the program's code and
// the compiler's own block copies call, in place of msvcrt.dll's: the first
// Windows 95 releases have no msvcrt.dll, and on NT 4.0 it is no known DLL,
// so a copy lying beside the program would be loaded instead of the
// system's. Plain byte loops: portable, and nothing the i486 lacks.
//
// This file is compiled with -fno-builtin -fno-tree-loop-distribute-patterns
// (runtime/CMakeLists.txt): otherwise GCC recognises the loops below as
// memcpy, memset and strlen and calls them, from their own bodies.
#include <stddef.h>
#include <string.h>

extern "C" {

void* memcpy(void* destination, const void* source, size_t count)
{
    unsigned char* to = static_cast<unsigned char*>(destination);
    const unsigned char* from = static_cast<const unsigned char*>(source);
    while (count--)
        *to++ = *from++;
    return destination;
}

void* memset(void* destination, int value, size_t count)
{
    unsigned char* to = static_cast<unsigned char*>(destination);
    const unsigned char byte = static_cast<unsigned char>(value);
    while (count--)
        *to++ = byte;
    return destination;
}

// Bytes compare as unsigned char, as the C standard says.
int memcmp(const void* first, const void* second, size_t count)
{
    const unsigned char* a = static_cast<const unsigned char*>(first);
    const unsigned char* b = static_cast<const unsigned char*>(second);
    for (; count; --count, ++a, ++b) {
        if (*a != *b)
            return *a < *b ? -1 : 1;
    }
    return 0;
}

size_t strlen(const char* text)
{
    const char* end = text;
    while (*end)
        ++end;
    return static_cast<size_t>(end - text);
}

int strcmp(const char* first, const char* second)
{
    const unsigned char* a = reinterpret_cast<const unsigned char*>(first);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(second);
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b ? 0 : (*a < *b ? -1 : 1);
}

// The terminator counts as part of the text: strchr(text, 0) finds it.
char* strchr(const char* text, int character)
{
    const char wanted = static_cast<char>(character);
    for (;; ++text) {
        if (*text == wanted)
            return const_cast<char*>(text);
        if (!*text)
            return nullptr;
    }
}

char* strpbrk(const char* text, const char* set)
{
    for (; *text; ++text) {
        for (const char* s = set; *s; ++s) {
            if (*text == *s)
                return const_cast<char*>(text);
        }
    }
    return nullptr;
}

}  // extern "C"

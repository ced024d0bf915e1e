// A DLL of the tests' own: a real module for a process to load, whose copy
// under a fresh name the memory pass must meet and remove.
#include <windows.h>

extern "C" __declspec(dllexport) int TavokProbe()
{
    return 0x7A40;
}

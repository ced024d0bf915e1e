// A DLL of the tests' own: a real module for a process to load, whose copy
// under a fresh name the memory pass must meet and remove.
#include <windows.h>

extern "C" __declspec(dllexport) int TavokProbe()
{
    return 0x7A40;
}

// For rundll32: keeps a second process holding the module until the test
// sets the named event, or a minute has passed.
extern "C" __declspec(dllexport) void CALLBACK TavokProbeHold(HWND, HINSTANCE, LPSTR, int)
{
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, "TavokProbeRelease");
    if (release) {
        WaitForSingleObject(release, 60000);
        CloseHandle(release);
    }
}

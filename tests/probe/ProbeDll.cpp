// A DLL of the tests' own: a real module for a process to load, whose copy
// under a fresh name the memory pass must meet and remove.
#include <windows.h>

#include <cstring>

// A copy named stuck-in-attach.dll never returns from its attach, so the
// thread that loads it holds the loader's lock for good; it says so first.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    char path[MAX_PATH] = {};
    if (reason != DLL_PROCESS_ATTACH || !GetModuleFileNameA(instance, path, MAX_PATH) ||
        !std::strstr(path, "stuck-in-attach.dll"))
        return TRUE;
    if (HANDLE entered = OpenEventA(EVENT_MODIFY_STATE, FALSE, "TavokProbeInAttach"))
        SetEvent(entered);
    Sleep(INFINITE);
    return TRUE;
}

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

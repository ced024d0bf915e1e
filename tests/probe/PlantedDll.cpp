// A DLL planted beside the program under the name of a system DLL: if the
// program ever loads it, it leaves "<its path>.loaded" behind. It exports
// what the program asks comctl32 for, ordinal 17, so that nothing but the
// marker tells a load.
#include <windows.h>

// No arguments, so the plain C convention is the same as WINAPI and the
// name needs no decoration in the export list.
extern "C" void PlantedInitCommonControls() {}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH + 8] = {};
        const DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatA(path, ".loaded");
            HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            if (marker != INVALID_HANDLE_VALUE)
                CloseHandle(marker);
        }
    }
    return TRUE;
}

// The program's start and the pieces of the C++ runtime that its code
// needs, in place of the MinGW start-up code, libstdc++, libsupc++ and
// libgcc, which are compiled for the Pentium Pro. The heap is in
// engine/Memory.cpp, the strings in engine/Strings.h.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// The linker's list of static constructors: -1, the constructors, 0.
extern "C" void (*__CTOR_LIST__[])();

namespace {

void RunStaticConstructors()
{
    size_t count = 0;
    while (__CTOR_LIST__[count + 1])
        ++count;
    // Run last to first, as the MinGW start-up code does.
    while (count > 0)
        __CTOR_LIST__[count--]();
}

}  // namespace

// The entry point of the image: WinMain's return value is the exit code.
// The program takes no command line.
extern "C" void WinMainCRTStartup()
{
    RunStaticConstructors();
    char noArguments[] = "";
    const int code = WinMain(GetModuleHandleA(nullptr), nullptr, noArguments, SW_SHOWDEFAULT);
    ExitProcess(static_cast<UINT>(code));
}

// A pure virtual function called through a half-made or half-destroyed
// object: there is nothing sound to go on with.
extern "C" void __cxa_pure_virtual()
{
    ExitProcess(255);
}

// Functions that only some Windows families have: tool-help (Windows 95
// family, 2000 and later), process-status (NT family), the native
// system-information query and the token query (NT family). They are
// resolved by name at run time so that the program starts on every family,
// and they all live in one table so that tests can stand in for a family
// this machine is not.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <psapi.h>

#include <cstdint>

using CreateToolhelp32SnapshotFn = HANDLE(WINAPI*)(DWORD flags, DWORD processId);
using Process32FirstFn = BOOL(WINAPI*)(HANDLE snapshot, PROCESSENTRY32* entry);
using Process32NextFn = BOOL(WINAPI*)(HANDLE snapshot, PROCESSENTRY32* entry);
using Module32FirstFn = BOOL(WINAPI*)(HANDLE snapshot, MODULEENTRY32* entry);
using Module32NextFn = BOOL(WINAPI*)(HANDLE snapshot, MODULEENTRY32* entry);
using Thread32FirstFn = BOOL(WINAPI*)(HANDLE snapshot, THREADENTRY32* entry);
using Thread32NextFn = BOOL(WINAPI*)(HANDLE snapshot, THREADENTRY32* entry);

using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* needed);
using EnumProcessesFn = BOOL(WINAPI*)(DWORD* ids, DWORD bytes, DWORD* returned);
using GetModuleFileNameExAFn = DWORD(WINAPI*)(HANDLE process, HMODULE module, LPSTR path, DWORD size);
using GetModuleInformationFn = BOOL(WINAPI*)(HANDLE process, HMODULE module, MODULEINFO* info, DWORD bytes);

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned);

using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                            DWORD bytes, PDWORD returned);

using Wow64DisableWow64FsRedirectionFn = BOOL(WINAPI*)(PVOID* oldValue);
using Wow64RevertWow64FsRedirectionFn = BOOL(WINAPI*)(PVOID oldValue);

using FindFirstFileAFn = HANDLE(WINAPI*)(LPCSTR pattern, LPWIN32_FIND_DATAA entry);
using FindNextFileAFn = BOOL(WINAPI*)(HANDLE find, LPWIN32_FIND_DATAA entry);

using GetVersionFn = DWORD(WINAPI*)(void);
using OpenProcessFn = HANDLE(WINAPI*)(DWORD access, BOOL inherit, DWORD processId);
using MoveFileExAFn = BOOL(WINAPI*)(LPCSTR existing, LPCSTR replacement, DWORD flags);
using GetWindowsDirectoryAFn = UINT(WINAPI*)(LPSTR buffer, UINT size);
using LoadCursorAFn = HCURSOR(WINAPI*)(HINSTANCE instance, LPCSTR name);
using ShellExecuteAFn = HINSTANCE(WINAPI*)(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                           LPCSTR directory, INT show);
using DeviceIoControlFn = BOOL(WINAPI*)(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out,
                                        DWORD outBytes, LPDWORD returned, LPOVERLAPPED overlapped);

enum OsFamily : uint16_t {
    Win9x = 0,
    NT4 = 1,
    NT5Plus = 2
};

// From a GetVersion result: the high bit marks the Windows 95 family; on NT
// the low word (major version in its low byte) below 5 is NT 4.0 or older.
OsFamily OsFamilyFromVersion(DWORD version);

// NT 6.0 (Vista) or later: where an administrator's process runs without
// its rights unless elevated.
bool HasElevation(DWORD version);

struct RuntimeApi {
    // Tool-help, from "Kernel32.dll".
    CreateToolhelp32SnapshotFn CreateToolhelp32Snapshot = nullptr;
    Process32FirstFn Process32First = nullptr;
    Process32NextFn Process32Next = nullptr;
    Module32FirstFn Module32First = nullptr;
    Module32NextFn Module32Next = nullptr;
    Thread32FirstFn Thread32First = nullptr;
    Thread32NextFn Thread32Next = nullptr;

    // Process-status, from "Psapi.dll".
    EnumProcessModulesFn EnumProcessModules = nullptr;
    EnumProcessesFn EnumProcesses = nullptr;
    GetModuleFileNameExAFn GetModuleFileNameExA = nullptr;
    GetModuleInformationFn GetModuleInformation = nullptr;

    // From "NTDll.dll".
    NtQuerySystemInformationFn NtQuerySystemInformation = nullptr;

    // File-system redirection of a 32-bit process on 64-bit Windows; absent
    // before Windows XP x64.
    Wow64DisableWow64FsRedirectionFn Wow64DisableWow64FsRedirection = nullptr;
    Wow64RevertWow64FsRedirectionFn Wow64RevertWow64FsRedirection = nullptr;

    // The token query that tells whether the scan could have had an
    // administrator's rights. Windows 95's advapi32 is not known to export
    // it and that family never asks, so it is looked up, not imported.
    GetTokenInformationFn GetTokenInformation = nullptr;

    // The disk walk's directory search, an ordinary import kept here so that
    // a test can stand in for it: Wine's listings never fail with
    // ERROR_MORE_DATA and give no file a reparse tag.
    FindFirstFileAFn FindFirstFileA = ::FindFirstFileA;
    FindNextFileAFn FindNextFileA = ::FindNextFileA;

    // Ordinary imports, kept here only so that a test can stand in for them:
    // the family comes from GetVersion, and the NT 4.0 strategy opens the
    // processes that EnumProcesses lists. Wine always registers a deletion
    // at restart and never reports a USB bus, so the other outcome of each
    // can only be faked. A test gives the Windows 95 family's restart
    // deletion a Windows folder of its own.
    GetVersionFn GetVersion = ::GetVersion;
    OpenProcessFn OpenProcess = ::OpenProcess;
    MoveFileExAFn MoveFileExA = ::MoveFileExA;
    GetWindowsDirectoryAFn GetWindowsDirectoryA = ::GetWindowsDirectoryA;
    DeviceIoControlFn DeviceIoControl = ::DeviceIoControl;
    // The links' cursor, which Windows 95 and NT 4.0 lack, and the page
    // they open, which a test must not really open.
    LoadCursorAFn LoadCursorA = ::LoadCursorA;
    ShellExecuteAFn ShellExecuteA = ::ShellExecuteA;
};

// GetProcAddress with the type of the function it returns; null when the
// module is null or lacks the name. The detour through void (*)(void)
// tells the compiler the cast between function types is meant.
template <class Function>
Function ResolveFunction(HMODULE module, const char* name)
{
    if (!module)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

// A library from the system folder, by its full path. Loaded by bare name, a
// library that is not one of the system's known DLLs is looked for in the
// program's own folder first, where any download may lie beside it.
HMODULE LoadSystemLibrary(const char* name);

void ResolveToolhelpFunctions(RuntimeApi& api, HMODULE kernel32);
void ResolvePsapiFunctions(RuntimeApi& api, HMODULE psapi);
void ResolveNtdllFunctions(RuntimeApi& api, HMODULE ntdll);
// From the kernel32 that every process has loaded; needs no library handle.
void ResolveWow64Functions(RuntimeApi& api);
// From the advapi32 that the program imports from, so it is loaded.
void ResolveTokenFunctions(RuntimeApi& api);

// Null in the product. A test sets it to change the table after resolving:
// to fake a Windows family, a missing function, a hang or a failure.
extern void (*RuntimeApiOverride)(RuntimeApi& api);

// The ordinary imports alone, as a test may have changed them.
RuntimeApi OrdinaryApi();

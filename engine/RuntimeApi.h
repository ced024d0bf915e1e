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
using Module32FirstWFn = BOOL(WINAPI*)(HANDLE snapshot, MODULEENTRY32W* entry);
using Module32NextWFn = BOOL(WINAPI*)(HANDLE snapshot, MODULEENTRY32W* entry);
using Thread32FirstFn = BOOL(WINAPI*)(HANDLE snapshot, THREADENTRY32* entry);
using Thread32NextFn = BOOL(WINAPI*)(HANDLE snapshot, THREADENTRY32* entry);

using EnumProcessModulesFn = BOOL(WINAPI*)(HANDLE process, HMODULE* modules, DWORD bytes, DWORD* needed);
using EnumProcessesFn = BOOL(WINAPI*)(DWORD* ids, DWORD bytes, DWORD* returned);
using GetModuleFileNameExWFn = DWORD(WINAPI*)(HANDLE process, HMODULE module, LPWSTR path, DWORD size);
using GetModuleInformationFn = BOOL(WINAPI*)(HANDLE process, HMODULE module, MODULEINFO* info, DWORD bytes);

using NtQuerySystemInformationFn = LONG(WINAPI*)(ULONG infoClass, PVOID buffer, ULONG length, PULONG returned);
// The I/O status block of the native file functions.
struct NativeIoStatus {
    union {
        LONG status;
        PVOID pointer;
    };
    ULONG_PTR information;
};
using NtSetInformationFileFn = LONG(WINAPI*)(HANDLE file, NativeIoStatus* status, PVOID info, ULONG length,
                                             ULONG infoClass);
using NtQuerySecurityObjectFn = LONG(WINAPI*)(HANDLE object, ULONG parts, PVOID descriptor, ULONG length,
                                              PULONG needed);
using NtSetSecurityObjectFn = LONG(WINAPI*)(HANDLE object, ULONG parts, PVOID descriptor);

using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info,
                                            DWORD bytes, PDWORD returned);

using GetShellWindowFn = HWND(WINAPI*)(void);
using GetWindowThreadProcessIdFn = DWORD(WINAPI*)(HWND window, LPDWORD processId);
using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE process, DWORD access, PHANDLE token);
using DuplicateTokenFn = BOOL(WINAPI*)(HANDLE token, SECURITY_IMPERSONATION_LEVEL level, PHANDLE duplicate);
using SetThreadTokenFn = BOOL(WINAPI*)(PHANDLE thread, HANDLE token);
using RevertToSelfFn = BOOL(WINAPI*)(void);
using CryptAcquireContextAFn = BOOL(WINAPI*)(HCRYPTPROV* provider, LPCSTR container, LPCSTR providerName,
                                             DWORD type, DWORD flags);
using CryptGenRandomFn = BOOL(WINAPI*)(HCRYPTPROV provider, DWORD length, BYTE* buffer);
using CryptReleaseContextFn = BOOL(WINAPI*)(HCRYPTPROV provider, DWORD flags);

using RegOpenKeyExWFn = LONG(WINAPI*)(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
using RegQueryValueExWFn = LONG(WINAPI*)(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                         LPDWORD bytes);
using RegCloseKeyFn = LONG(WINAPI*)(HKEY key);

using Wow64DisableWow64FsRedirectionFn = BOOL(WINAPI*)(PVOID* oldValue);
using Wow64RevertWow64FsRedirectionFn = BOOL(WINAPI*)(PVOID oldValue);

using FindFirstFileAFn = HANDLE(WINAPI*)(LPCSTR pattern, LPWIN32_FIND_DATAA entry);
using FindNextFileAFn = BOOL(WINAPI*)(HANDLE find, LPWIN32_FIND_DATAA entry);
using FindFirstFileWFn = HANDLE(WINAPI*)(LPCWSTR pattern, LPWIN32_FIND_DATAW entry);
using FindNextFileWFn = BOOL(WINAPI*)(HANDLE find, LPWIN32_FIND_DATAW entry);
using FindFirstFileExWFn = HANDLE(WINAPI*)(LPCWSTR pattern, FINDEX_INFO_LEVELS level, LPVOID entry,
                                           FINDEX_SEARCH_OPS search, LPVOID filter, DWORD flags);

using FindFirstFileNameWFn = HANDLE(WINAPI*)(LPCWSTR path, DWORD flags, LPDWORD length, PWSTR name);
using FindNextFileNameWFn = BOOL(WINAPI*)(HANDLE find, LPDWORD length, PWSTR name);

using GetFinalPathNameByHandleWFn = DWORD(WINAPI*)(HANDLE file, LPWSTR path, DWORD size, DWORD flags);
using QueryDosDeviceWFn = DWORD(WINAPI*)(LPCWSTR device, LPWSTR target, DWORD size);
using GetFileInformationByHandleFn = BOOL(WINAPI*)(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info);
using GetVolumeInformationWFn = BOOL(WINAPI*)(LPCWSTR root, LPWSTR name, DWORD nameSize, LPDWORD serial,
                                              LPDWORD maxComponent, LPDWORD flags, LPWSTR fileSystem,
                                              DWORD fileSystemSize);
using CreateFileWFn = HANDLE(WINAPI*)(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                      DWORD disposition, DWORD flags, HANDLE templateFile);
using GetVolumeNameForVolumeMountPointWFn = BOOL(WINAPI*)(LPCWSTR mountPoint, LPWSTR volumeName, DWORD size);
using GetVolumePathNameWFn = BOOL(WINAPI*)(LPCWSTR path, LPWSTR root, DWORD size);
using CreateDirectoryWFn = BOOL(WINAPI*)(LPCWSTR path, LPSECURITY_ATTRIBUTES security);

using FindActCtxSectionStringAFn = BOOL(WINAPI*)(DWORD flags, const GUID* extension, ULONG section, LPCSTR name,
                                                 PACTCTX_SECTION_KEYED_DATA data);

using GetVersionFn = DWORD(WINAPI*)(void);
using OpenProcessFn = HANDLE(WINAPI*)(DWORD access, BOOL inherit, DWORD processId);
using MoveFileExWFn = BOOL(WINAPI*)(LPCWSTR existing, LPCWSTR replacement, DWORD flags);
using GetDriveTypeAFn = UINT(WINAPI*)(LPCSTR root);
using GetWindowsDirectoryAFn = UINT(WINAPI*)(LPSTR buffer, UINT size);
using LoadCursorAFn = HCURSOR(WINAPI*)(HINSTANCE instance, LPCSTR name);
using ShellExecuteAFn = HINSTANCE(WINAPI*)(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                           LPCSTR directory, INT show);
using DeviceIoControlFn = BOOL(WINAPI*)(HANDLE device, DWORD code, LPVOID in, DWORD inBytes, LPVOID out,
                                        DWORD outBytes, LPDWORD returned, LPOVERLAPPED overlapped);
using GetShortPathNameAFn = DWORD(WINAPI*)(LPCSTR path, LPSTR shortPath, DWORD size);
using WriteFileFn = BOOL(WINAPI*)(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
using MoveFileAFn = BOOL(WINAPI*)(LPCSTR existing, LPCSTR replacement);
using WritePrivateProfileStringAFn = BOOL(WINAPI*)(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);

enum OsFamily : uint16_t {
    Win9x = 0,
    NT4 = 1,
    NT5Plus = 2
};

// From a GetVersion result: the high bit marks the Windows 95 family; on NT
// a major version (the low byte) below 5 is NT 4.0 or older.
OsFamily OsFamilyFromVersion(DWORD version);

// The major and minor version of a GetVersion result, as major * 100 + minor:
// 400 for NT 4.0, 500 for 2000, 601 for 7.
unsigned VersionNumber(DWORD version);

// NT 6.0 (Vista) or later: where an administrator's process runs without
// its rights unless elevated.
bool HasElevation(DWORD version);

struct RuntimeApi {
    // Tool-help, from "Kernel32.dll". Module paths come wide on 2000 and
    // later; the Windows 95 family has only the 8-bit functions.
    CreateToolhelp32SnapshotFn CreateToolhelp32Snapshot = nullptr;
    Process32FirstFn Process32First = nullptr;
    Process32NextFn Process32Next = nullptr;
    Module32FirstFn Module32First = nullptr;
    Module32NextFn Module32Next = nullptr;
    Module32FirstWFn Module32FirstW = nullptr;
    Module32NextWFn Module32NextW = nullptr;
    Thread32FirstFn Thread32First = nullptr;
    Thread32NextFn Thread32Next = nullptr;

    // Process-status, from "Psapi.dll".
    EnumProcessModulesFn EnumProcessModules = nullptr;
    EnumProcessesFn EnumProcesses = nullptr;
    GetModuleFileNameExWFn GetModuleFileNameExW = nullptr;
    GetModuleInformationFn GetModuleInformation = nullptr;

    // From "NTDll.dll". The file information call removes an examined file
    // through the handle it was examined by, or moves it into the program's
    // own folder; the security query reads a folder's owner and ACL, and
    // the security call gives a copy waiting for the restart an ACL that
    // lets SYSTEM delete it. Wine makes the user every file's owner and
    // keeps no ACL from refusing: any other can only be faked.
    NtQuerySystemInformationFn NtQuerySystemInformation = nullptr;
    NtSetInformationFileFn NtSetInformationFile = nullptr;
    NtQuerySecurityObjectFn NtQuerySecurityObject = nullptr;
    NtSetSecurityObjectFn NtSetSecurityObject = nullptr;

    // File-system redirection of a 32-bit process on 64-bit Windows; absent
    // before Windows XP x64.
    Wow64DisableWow64FsRedirectionFn Wow64DisableWow64FsRedirection = nullptr;
    Wow64RevertWow64FsRedirectionFn Wow64RevertWow64FsRedirection = nullptr;
    // The NT family's listing; its faster info level needs Windows 7.
    FindFirstFileExWFn FindFirstFileExW = nullptr;
    // Every name of a file with hard links, Vista and later.
    FindFirstFileNameWFn FindFirstFileNameW = nullptr;
    FindNextFileNameWFn FindNextFileNameW = nullptr;
    // The path of an open file, Vista and later.
    GetFinalPathNameByHandleWFn GetFinalPathNameByHandleW = nullptr;
    // NT family, looked up because no list of NT 4.0's exports vouches for
    // them: what a drive letter stands for, a file's identity, a volume's
    // flags.
    QueryDosDeviceWFn QueryDosDeviceW = nullptr;
    GetFileInformationByHandleFn GetFileInformationByHandle = nullptr;
    GetVolumeInformationWFn GetVolumeInformationW = nullptr;
    // The volume mounted in a folder, or at a drive letter; Windows 2000
    // and later.
    GetVolumeNameForVolumeMountPointWFn GetVolumeNameForVolumeMountPointW = nullptr;
    // The root of the volume a path lies on; Windows 2000 and later.
    GetVolumePathNameWFn GetVolumePathNameW = nullptr;
    // The program's own folder at a volume's root, made with its ACL; looked
    // up for the same reason as the NT family's queries above.
    CreateDirectoryWFn CreateDirectoryW = nullptr;

    // What the process's activation context redirects, Windows XP and
    // later: the common controls of version 6 that the manifest asks for.
    FindActCtxSectionStringAFn FindActCtxSectionStringA = nullptr;

    // The token query that tells whether the scan could have had an
    // administrator's rights. Windows 95's advapi32 is not known to export
    // it and that family never asks, so it is looked up, not imported.
    GetTokenInformationFn GetTokenInformation = nullptr;
    // The drives the user mapped, as the user's profile keeps them: an
    // elevated process of a split token does not see them. The lists of
    // Windows 95's and NT 4.0's advapi32 do not show these names either.
    RegOpenKeyExWFn RegOpenKeyExW = nullptr;
    RegQueryValueExWFn RegQueryValueExW = nullptr;
    RegCloseKeyFn RegCloseKey = nullptr;
    // The window of the signed-in user's shell, whose owner's mappings a
    // scan run as another user reads; Windows 2000 and later. The lists of
    // older exports do not show the process query either.
    GetShellWindowFn GetShellWindow = nullptr;
    GetWindowThreadProcessIdFn GetWindowThreadProcessId = nullptr;
    // The signed-in user's own token, which the walk of that user's shares
    // wears, so that no other account's credentials go to a server the
    // user's profile names. NT family.
    DuplicateTokenFn DuplicateToken = nullptr;
    SetThreadTokenFn SetThreadToken = nullptr;
    RevertToSelfFn RevertToSelf = nullptr;
    // The system's random numbers, for a folder name no one can know
    // beforehand; Windows 95 before OSR2 lacks them.
    CryptAcquireContextAFn CryptAcquireContextA = nullptr;
    CryptGenRandomFn CryptGenRandom = nullptr;
    CryptReleaseContextFn CryptReleaseContext = nullptr;

    // The disk walk's directory search, ordinary imports kept here so that a
    // test can stand in for them: Wine gives no file a reparse tag, no file
    // an online-only attribute, and short names on every volume. The 8-bit
    // pair serves the Windows 95 family, the wide pair the NT family.
    FindFirstFileAFn FindFirstFileA = ::FindFirstFileA;
    FindNextFileAFn FindNextFileA = ::FindNextFileA;
    FindFirstFileWFn FindFirstFileW = ::FindFirstFileW;
    FindNextFileWFn FindNextFileW = ::FindNextFileW;

    // Ordinary imports, kept here only so that a test can stand in for them:
    // the family comes from GetVersion, and the NT 4.0 strategy opens the
    // processes that EnumProcesses lists. Wine always registers a deletion
    // at restart, never reports a USB bus and has no network or CD drive
    // here, so the other outcome of each can only be faked. A test gives the
    // Windows 95 family's restart deletion a Windows folder of its own.
    GetVersionFn GetVersion = ::GetVersion;
    // The NT family's open of a file to examine: Wine grants every access a
    // file's owner could, so an ACL's refusal can only be faked.
    CreateFileWFn CreateFileW = ::CreateFileW;
    OpenProcessFn OpenProcess = ::OpenProcess;
    // Wine runs every process as one user: another can only be faked.
    OpenProcessTokenFn OpenProcessToken = ::OpenProcessToken;
    MoveFileExWFn MoveFileExW = ::MoveFileExW;
    GetDriveTypeAFn GetDriveTypeA = ::GetDriveTypeA;
    GetWindowsDirectoryAFn GetWindowsDirectoryA = ::GetWindowsDirectoryA;
    DeviceIoControlFn DeviceIoControl = ::DeviceIoControl;
    // The Windows 95 family's restart deletion. Wine gives no short name
    // outside ASCII, where Windows 95 does in the ANSI code page; its writes
    // and renames do not fail halfway; and it writes each profile change at
    // once, where Windows 95 keeps it in a cache.
    GetShortPathNameAFn GetShortPathNameA = ::GetShortPathNameA;
    WriteFileFn WriteFile = ::WriteFile;
    MoveFileAFn MoveFileA = ::MoveFileA;
    WritePrivateProfileStringAFn WritePrivateProfileStringA = ::WritePrivateProfileStringA;
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
// From the kernel32 that every process has loaded; needs no library handle:
// file-system redirection, the faster listing, mounted volumes, and the
// file and volume queries of removal.
void ResolveLaterKernel32Functions(RuntimeApi& api);
// From the kernel32 that every process has loaded: the activation context query.
void ResolveActivationContextFunctions(RuntimeApi& api);
// From the ntdll that every NT process has loaded: the file information call.
void ResolveLoadedNtdllFunctions(RuntimeApi& api);
// From the advapi32 that the program imports from, so it is loaded: the
// token query and the registry functions.
void ResolveTokenFunctions(RuntimeApi& api);

// Null in the product. A test sets it to change the table after resolving:
// to fake a Windows family, a missing function, a hang or a failure.
extern void (*RuntimeApiOverride)(RuntimeApi& api);

// The ordinary imports alone, as a test may have changed them.
RuntimeApi OrdinaryApi();

// The Windows 95 family, by the ordinary GetVersion.
bool OnWindows9x();

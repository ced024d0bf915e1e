#include "RuntimeApi.h"

#include <cstring>

void (*RuntimeApiOverride)(RuntimeApi& api) = nullptr;

OsFamily OsFamilyFromVersion(DWORD version)
{
    if (version & 0x80000000u)
        return Win9x;
    return (version & 0xFFu) < 5 ? NT4 : NT5Plus;
}

bool HasElevation(DWORD version)
{
    return OsFamilyFromVersion(version) != Win9x && VersionNumber(version) >= 600;
}

HMODULE LoadSystemLibrary(const char* name)
{
    char path[MAX_PATH] = {};
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    const size_t nameLength = std::strlen(name);
    if (length == 0 || length + 1 + nameLength >= MAX_PATH)
        return nullptr;
    if (path[length - 1] != '\\')
        path[length++] = '\\';
    std::memcpy(path + length, name, nameLength + 1);
    return LoadLibraryA(path);
}

void ResolveToolhelpFunctions(RuntimeApi& api, HMODULE kernel32)
{
    api.CreateToolhelp32Snapshot = ResolveFunction<CreateToolhelp32SnapshotFn>(kernel32, "CreateToolhelp32Snapshot");
    api.Process32First = ResolveFunction<Process32FirstFn>(kernel32, "Process32First");
    api.Process32Next = ResolveFunction<Process32NextFn>(kernel32, "Process32Next");
    api.Module32First = ResolveFunction<Module32FirstFn>(kernel32, "Module32First");
    api.Module32Next = ResolveFunction<Module32NextFn>(kernel32, "Module32Next");
    api.Module32FirstW = ResolveFunction<Module32FirstWFn>(kernel32, "Module32FirstW");
    api.Module32NextW = ResolveFunction<Module32NextWFn>(kernel32, "Module32NextW");
    api.Thread32First = ResolveFunction<Thread32FirstFn>(kernel32, "Thread32First");
    api.Thread32Next = ResolveFunction<Thread32NextFn>(kernel32, "Thread32Next");
}

void ResolvePsapiFunctions(RuntimeApi& api, HMODULE psapi)
{
    api.EnumProcessModules = ResolveFunction<EnumProcessModulesFn>(psapi, "EnumProcessModules");
    api.EnumProcesses = ResolveFunction<EnumProcessesFn>(psapi, "EnumProcesses");
    api.GetModuleFileNameExW = ResolveFunction<GetModuleFileNameExWFn>(psapi, "GetModuleFileNameExW");
    api.GetModuleInformation = ResolveFunction<GetModuleInformationFn>(psapi, "GetModuleInformation");
}

void ResolveNtdllFunctions(RuntimeApi& api, HMODULE ntdll)
{
    api.NtQuerySystemInformation = ResolveFunction<NtQuerySystemInformationFn>(ntdll, "NtQuerySystemInformation");
}

unsigned VersionNumber(DWORD version)
{
    return (version & 0xFFu) * 100 + ((version >> 8) & 0xFFu);
}

void ResolveLaterKernel32Functions(RuntimeApi& api)
{
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    api.FindFirstFileExW = ResolveFunction<FindFirstFileExWFn>(kernel32, "FindFirstFileExW");
    api.GetVolumeNameForVolumeMountPointW =
        ResolveFunction<GetVolumeNameForVolumeMountPointWFn>(kernel32, "GetVolumeNameForVolumeMountPointW");
    api.Wow64DisableWow64FsRedirection =
        ResolveFunction<Wow64DisableWow64FsRedirectionFn>(kernel32, "Wow64DisableWow64FsRedirection");
    api.Wow64RevertWow64FsRedirection =
        ResolveFunction<Wow64RevertWow64FsRedirectionFn>(kernel32, "Wow64RevertWow64FsRedirection");
    api.GetFinalPathNameByHandleW =
        ResolveFunction<GetFinalPathNameByHandleWFn>(kernel32, "GetFinalPathNameByHandleW");
    api.QueryDosDeviceW = ResolveFunction<QueryDosDeviceWFn>(kernel32, "QueryDosDeviceW");
    api.GetFileInformationByHandle =
        ResolveFunction<GetFileInformationByHandleFn>(kernel32, "GetFileInformationByHandle");
    api.GetVolumeInformationW = ResolveFunction<GetVolumeInformationWFn>(kernel32, "GetVolumeInformationW");
    api.GetVolumePathNameW = ResolveFunction<GetVolumePathNameWFn>(kernel32, "GetVolumePathNameW");
    api.CreateDirectoryW = ResolveFunction<CreateDirectoryWFn>(kernel32, "CreateDirectoryW");
    api.FindFirstFileNameW = ResolveFunction<FindFirstFileNameWFn>(kernel32, "FindFirstFileNameW");
    api.FindNextFileNameW = ResolveFunction<FindNextFileNameWFn>(kernel32, "FindNextFileNameW");
}

void ResolveActivationContextFunctions(RuntimeApi& api)
{
    api.FindActCtxSectionStringA = ResolveFunction<FindActCtxSectionStringAFn>(GetModuleHandleA("kernel32.dll"),
                                                                              "FindActCtxSectionStringA");
}

void ResolveLoadedNtdllFunctions(RuntimeApi& api)
{
    // The Windows 95 family has no ntdll of its own to look in.
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    api.NtSetInformationFile = ResolveFunction<NtSetInformationFileFn>(ntdll, "NtSetInformationFile");
    api.NtQuerySecurityObject = ResolveFunction<NtQuerySecurityObjectFn>(ntdll, "NtQuerySecurityObject");
    api.NtSetSecurityObject = ResolveFunction<NtSetSecurityObjectFn>(ntdll, "NtSetSecurityObject");
}

void ResolveTokenFunctions(RuntimeApi& api)
{
    const HMODULE advapi32 = GetModuleHandleA("advapi32.dll");
    api.GetTokenInformation = ResolveFunction<GetTokenInformationFn>(advapi32, "GetTokenInformation");
    api.RegOpenKeyExW = ResolveFunction<RegOpenKeyExWFn>(advapi32, "RegOpenKeyExW");
    api.RegQueryValueExW = ResolveFunction<RegQueryValueExWFn>(advapi32, "RegQueryValueExW");
    api.RegCloseKey = ResolveFunction<RegCloseKeyFn>(advapi32, "RegCloseKey");
    api.DuplicateToken = ResolveFunction<DuplicateTokenFn>(advapi32, "DuplicateToken");
    api.SetThreadToken = ResolveFunction<SetThreadTokenFn>(advapi32, "SetThreadToken");
    api.RevertToSelf = ResolveFunction<RevertToSelfFn>(advapi32, "RevertToSelf");
    api.CryptAcquireContextA = ResolveFunction<CryptAcquireContextAFn>(advapi32, "CryptAcquireContextA");
    api.CryptGenRandom = ResolveFunction<CryptGenRandomFn>(advapi32, "CryptGenRandom");
    api.CryptReleaseContext = ResolveFunction<CryptReleaseContextFn>(advapi32, "CryptReleaseContext");
    const HMODULE user32 = GetModuleHandleA("user32.dll");
    api.GetShellWindow = ResolveFunction<GetShellWindowFn>(user32, "GetShellWindow");
    api.GetWindowThreadProcessId = ResolveFunction<GetWindowThreadProcessIdFn>(user32, "GetWindowThreadProcessId");
}

RuntimeApi OrdinaryApi()
{
    RuntimeApi api;
    if (RuntimeApiOverride)
        RuntimeApiOverride(api);
    return api;
}

bool OnWindows9x()
{
    return OsFamilyFromVersion(OrdinaryApi().GetVersion()) == Win9x;
}

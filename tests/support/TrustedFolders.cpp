#include "TrustedFolders.h"

#include "FolderTrust.h"

#include <algorithm>
#include <cstring>

std::vector<std::wstring> trustedFolders;

LONG WINAPI TrustedFoldersSecurity(HANDLE object, ULONG parts, PVOID descriptor, ULONG length, PULONG needed)
{
    wchar_t path[1024] = {};
    static const auto finalPath = ResolveFunction<GetFinalPathNameByHandleWFn>(GetModuleHandleA("kernel32.dll"),
                                                                               "GetFinalPathNameByHandleW");
    const DWORD pathLength = finalPath(object, path, 1024, 0);
    std::wstring lower(path, pathLength < 1024 ? pathLength : 0);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(c >= L'A' && c <= L'Z' ? c + 32 : c); });
    const bool trusted = std::any_of(trustedFolders.begin(), trustedFolders.end(), [&](const std::wstring& part) {
        // A drive's root, \\?\c:\, stands for itself alone.
        if (part.size() > 2 && part.compare(part.size() - 2, 2, L":\\") == 0)
            return lower == part;
        return part.empty() || lower.find(part) != std::wstring::npos;
    });
    if (!trusted) {
        static const auto real = ResolveFunction<NtQuerySecurityObjectFn>(GetModuleHandleA("ntdll.dll"),
                                                                          "NtQuerySecurityObject");
        return real(object, parts, descriptor, length, needed);
    }
    BYTE own[OwnFolderSecuritySize];
    OwnFolderSecurity(true, true, own);
    *needed = sizeof own;
    if (length < sizeof own)
        return static_cast<LONG>(0xC0000023);  // STATUS_BUFFER_TOO_SMALL
    std::memcpy(descriptor, own, sizeof own);
    return 0;
}

void OwnFolderTrusted(RuntimeApi& api)
{
    trustedFolders = {L"\\tavokremover.quarantine", L"\\\\?\\c:\\"};
    api.NtQuerySecurityObject = TrustedFoldersSecurity;
}

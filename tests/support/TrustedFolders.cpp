#include "TrustedFolders.h"

#include "FolderTrust.h"

#include <algorithm>
#include <cstring>
#include <map>

std::vector<std::wstring> trustedFolders;

namespace {

// The descriptor each folder was made with, by its lower-case path.
std::map<std::wstring, std::vector<BYTE>> foldersMadeWith;

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(c >= L'A' && c <= L'Z' ? c + 32 : c); });
    return text;
}

}  // namespace

BOOL WINAPI MakeOwnFolderAsWindows(LPCWSTR path, LPSECURITY_ATTRIBUTES security)
{
    std::vector<BYTE> ownFolderMadeWith;
    if (security && security->lpSecurityDescriptor) {
        const auto* sd = static_cast<const BYTE*>(security->lpSecurityDescriptor);
        ownFolderMadeWith.assign(sd, sd + GetSecurityDescriptorLength(security->lpSecurityDescriptor));
        WORD control, aclSize, aceCount;
        DWORD daclAt;
        std::memcpy(&control, sd + 2, 2);
        std::memcpy(&daclAt, sd + 16, 4);
        std::memcpy(&aclSize, sd + daclAt + 2, 2);
        std::memcpy(&aceCount, sd + daclAt + 4, 2);
        // The root's entry for every user: Everyone's full control on 2000,
        // Users' new folders on XP, Authenticated Users' Modify from Vista on.
        static const BYTE everyone[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
        static const BYTE users[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
        static const BYTE authenticated[] = {1, 1, 0, 0, 0, 0, 0, 5, 11, 0, 0, 0};
        const unsigned version = VersionNumber(OrdinaryApi().GetVersion());
        const BYTE* sid = version == 500 ? everyone : version < 600 ? users : authenticated;
        const DWORD mask = version == 500 ? FILE_ALL_ACCESS : version < 600 ? FILE_ADD_SUBDIRECTORY : 0x1301BF;
        const WORD aceSize = static_cast<WORD>(16 + 4 * sid[1]);
        const BYTE ace[8] = {ACCESS_ALLOWED_ACE_TYPE, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE | INHERITED_ACE,
                             BYTE(aceSize), 0, BYTE(mask), BYTE(mask >> 8), BYTE(mask >> 16), BYTE(mask >> 24)};
        // NT 4.0 takes a given ACL as it is. The program writes its ACL last.
        if (version >= 500 && !(control & SE_DACL_PROTECTED) && (control & SE_DACL_PRESENT) &&
            daclAt + aclSize == ownFolderMadeWith.size()) {
            ownFolderMadeWith.insert(ownFolderMadeWith.end(), ace, ace + 8);
            ownFolderMadeWith.insert(ownFolderMadeWith.end(), sid, sid + aceSize - 8);
            aclSize = static_cast<WORD>(aclSize + aceSize);
            ++aceCount;
            control |= SE_DACL_AUTO_INHERITED;
            std::memcpy(&ownFolderMadeWith[2], &control, 2);
            std::memcpy(&ownFolderMadeWith[daclAt + 2], &aclSize, 2);
            std::memcpy(&ownFolderMadeWith[daclAt + 4], &aceCount, 2);
        }
    }
    // One already there keeps what it was made with.
    const BOOL made = ::CreateDirectoryW(path, security);
    if (made && !ownFolderMadeWith.empty())
        foldersMadeWith[Lower(path)] = ownFolderMadeWith;
    return made;
}

LONG WINAPI TrustedFoldersSecurity(HANDLE object, ULONG parts, PVOID descriptor, ULONG length, PULONG needed)
{
    wchar_t path[1024] = {};
    static const auto finalPath = ResolveFunction<GetFinalPathNameByHandleWFn>(GetModuleHandleA("kernel32.dll"),
                                                                               "GetFinalPathNameByHandleW");
    const DWORD pathLength = finalPath(object, path, 1024, 0);
    const std::wstring lower = Lower(std::wstring(path, pathLength < 1024 ? pathLength : 0));
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
    std::vector<BYTE> answer(own, own + sizeof own);
    const auto made = foldersMadeWith.find(lower);
    if (made != foldersMadeWith.end())
        answer = made->second;
    *needed = static_cast<ULONG>(answer.size());
    if (length < answer.size())
        return static_cast<LONG>(0xC0000023);  // STATUS_BUFFER_TOO_SMALL
    std::memcpy(descriptor, answer.data(), answer.size());
    return 0;
}

void OwnFolderTrusted(RuntimeApi& api)
{
    trustedFolders = {L"\\tavokremover.quarantine", L"\\\\?\\c:\\"};
    api.NtQuerySecurityObject = TrustedFoldersSecurity;
    api.CreateDirectoryW = MakeOwnFolderAsWindows;
}

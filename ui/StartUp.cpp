#include "StartUp.h"

#include "MemAndFileWalker.h"
#include "Privileges.h"
#include "RuntimeApi.h"

namespace {

using InitCommonControlsFn = void(WINAPI*)(void);

// The manifest asks for the common controls of version 6. Where the
// process's activation context redirects comctl32.dll to the system's
// side-by-side store (Windows XP and later), a load by name goes there and
// never looks in the program's folder; a load by full path would take the
// old version from the system folder instead. The Windows 95 family and
// 2000 have no store: there only the system folder's copy is safe.
HMODULE LoadCommonControls()
{
    RuntimeApi api;
    ResolveActivationContextFunctions(api);
    if (RuntimeApiOverride)
        RuntimeApiOverride(api);
    if (OsFamilyFromVersion(api.GetVersion()) != Win9x && api.FindActCtxSectionStringA) {
        ACTCTX_SECTION_KEYED_DATA redirection = {};
        redirection.cbSize = sizeof redirection;
        if (api.FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, "comctl32.dll",
                                         &redirection))
            return LoadLibraryA("comctl32.dll");
    }
    return LoadSystemLibrary("comctl32.dll");
}

}  // namespace

LibraryHandle PrepareProcess()
{
    // An empty floppy, CD or card reader must not stop the scan with a
    // system "no disk" box: the summary is the only message the tool shows.
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS);
    EnableDebugPrivilege(1);
    // comctl32 is a known DLL on no Windows. Ordinal 17 is the one export
    // every version has.
    LibraryHandle commonControls(LoadCommonControls());
    if (auto init = ResolveFunction<InitCommonControlsFn>(commonControls.Get(), MAKEINTRESOURCEA(17)))
        init();
    return commonControls;
}

#include "StartUp.h"

#include "MemAndFileWalker.h"
#include "Privileges.h"
#include "RuntimeApi.h"

namespace {

using InitCommonControlsFn = void(WINAPI*)(void);

}  // namespace

LibraryHandle PrepareProcess()
{
    // An empty floppy, CD or card reader must not stop the scan with a
    // system "no disk" box: the summary is the only message the tool shows.
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS);
    EnableDebugPrivilege(1);
    // comctl32 is a known DLL on no Windows: only from the system folder.
    // Ordinal 17 is the one export every version has.
    LibraryHandle commonControls(LoadSystemLibrary("comctl32.dll"));
    if (auto init = ResolveFunction<InitCommonControlsFn>(commonControls.Get(), MAKEINTRESOURCEA(17)))
        init();
    return commonControls;
}

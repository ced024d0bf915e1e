#include "App.h"
#include "MainDialog.h"
#include "Resource.h"
#include "StartUp.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    AppInstance = instance;
    const LibraryHandle commonControls = PrepareProcess();

    SharedTooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                    AppInstance, nullptr);
    SetWindowPos(SharedTooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    SendMessageA(SharedTooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 32767);

    DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlgProc, 0);

    DestroyWindow(SharedTooltip);
    // After a scan the ordinary exit could wait for good: it stops the other
    // threads wherever they are, the worker on its way out or a tool-help
    // call given up at its limit and still inside the system, then runs
    // every DLL's detach, which waits on any lock a stopped thread held.
    // Nothing is left to write, so the process ends here, detach skipped.
    if (ScanThreadsStarted())
        TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}

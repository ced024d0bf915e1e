#include "App.h"
#include "MainDialog.h"
#include "MemAndFileWalker.h"
#include "Resource.h"

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    AppInstance = instance;
    // An empty floppy, CD or card reader must not stop the scan with a
    // system "no disk" box: the summary is the only message the tool shows.
    SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS);
    EnableDebugPrivilege(1);
    // Imported by ordinal 17: the one export every comctl32 version has.
    InitCommonControls();

    SharedTooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                    AppInstance, nullptr);
    SetWindowPos(SharedTooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE);
    SendMessageA(SharedTooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, 32767);

    DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlgProc, 0);

    DestroyWindow(SharedTooltip);
    return 0;
}

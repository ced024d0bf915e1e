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
    return 0;
}

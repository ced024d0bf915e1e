// Shows the real dialogs in a given state for the pictures of the README:
//   showcase idle | rows | summary | about
// "rows" fills the list as a scan that found files leaves it, without
// needing infected files on the disk; "summary" adds the box that closes
// such a scan. Both are staged: no scan runs.
#include "AboutDialog.h"
#include "App.h"
#include "EngineText.h"
#include "MainDialog.h"
#include "MemAndFileWalker.h"
#include "Resource.h"
#include "ScanContext.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

ScanContext* ContextOf(HWND dialog)
{
    return reinterpret_cast<ScanContext*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

void FillRows(HWND dialog)
{
    ScanContext* context = ContextOf(dialog);
    if (!context)
        return;
    const UINT language = context->language;
    struct Row {
        const wchar_t* path;
        ScanOutcome outcome;
    };
    static const Row Rows[] = {
        {L"C:\\windows\\system32\\tavsvc.exe", OutcomeDeleted},
        {L"C:\\users\\Public\\Downloads\\setup_tav.exe", OutcomeDeleted},
        {L"C:\\windows\\system32\\drivers\\tavok32.sys", OutcomeDelayDelete},
        {L"C:\\Program Files\\Shared\\autorun.exe", OutcomeKillFailed},
    };
    for (const Row& row : Rows)
        context->AddResultRow(row.path, DetectionName, StatusWords[row.outcome * 4 + language]);
    SendMessageA(dialog, WM_SCAN_DONE, 0, 0);
}

// The box as the scan shows it, with the counts of the rows above: four
// infected, two of them not removed (the one to go at restart among them),
// and every line the summary can add after its counts, in its order.
void ShowSummary(HWND dialog)
{
    const ScanContext* context = ContextOf(dialog);
    if (!context)
        return;
    const UINT language = context->language;
    char summary[1024] = {};
    std::snprintf(summary, sizeof summary, SummaryFormat[language], 48213, 4, 2);
    char notExamined[320] = {};
    std::snprintf(notExamined, sizeof notExamined, NotExaminedNote[language], 1);
    for (const char* line : {NoPsapiNote[language], RunAsAdministratorNote[language],
                             static_cast<const char*>(notExamined)}) {
        std::strncat(summary, line, sizeof summary - std::strlen(summary) - 2);
        std::strncat(summary, "\n", sizeof summary - std::strlen(summary) - 1);
    }
    MessageBoxA(context->progressBar, summary, SummaryCaption[language], MB_OK);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    AppInstance = instance;
    InitCommonControls();
    SharedTooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                    AppInstance, nullptr);

    HWND dialog = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlgProc, 0);
    ShowWindow(dialog, SW_SHOW);
    if (std::strstr(commandLine, "rows") || std::strstr(commandLine, "summary"))
        FillRows(dialog);
    if (std::strstr(commandLine, "summary")) {
        ShowSummary(dialog);
    } else if (std::strstr(commandLine, "about")) {
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUT), dialog, AboutDlgProc, 0);
    } else {
        MSG message;
        while (IsWindow(dialog) && GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (!IsDialogMessageA(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
    }
    DestroyWindow(dialog);
    DestroyWindow(SharedTooltip);
    return 0;
}

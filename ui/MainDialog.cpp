#include "MainDialog.h"

#include "AboutDialog.h"
#include "App.h"
#include "LinkStatic.h"
#include "Memory.h"
#include "MemAndFileWalker.h"
#include "Resource.h"
#include "ScanContext.h"
#include "UiText.h"

#include <commctrl.h>

#include <initializer_list>


HINSTANCE AppInstance = nullptr;
HWND SharedTooltip = nullptr;

namespace {

ScanContext* ContextOf(HWND dialog)
{
    return reinterpret_cast<ScanContext*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
}

// Keyboard and close-box commands still reach the dialog while a worker
// runs, also after WM_SCAN_DONE has made it idle and before the worker's
// summary box disables it; they must not act on the context then.
bool IsScanning(HWND dialog)
{
    const ScanContext* context = ContextOf(dialog);
    return context && context->WorkerBusy();
}

void SetButtonLook(HWND dialog, int id, DWORD style)
{
    SendDlgItemMessageA(dialog, id, BM_SETSTYLE, style, TRUE);
}

void EnterScanningState(HWND dialog)
{
    EnableMenuItem(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    EnableWindow(GetDlgItem(dialog, IDC_STOP), TRUE);
    SetFocus(GetDlgItem(dialog, IDC_STOP));
    SetButtonLook(dialog, IDC_STOP, BS_DEFPUSHBUTTON);
    for (int id : {IDC_SCAN, IDC_EXIT, IDC_ABOUT})
        EnableWindow(GetDlgItem(dialog, id), FALSE);
    for (int id : {IDC_SCAN, IDC_EXIT, IDC_ABOUT})
        SetButtonLook(dialog, id, BS_PUSHBUTTON);
}

void OnScanDone(HWND dialog)
{
    EnableMenuItem(GetSystemMenu(dialog, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    for (int id : {IDC_SCAN, IDC_EXIT, IDC_ABOUT})
        EnableWindow(GetDlgItem(dialog, id), TRUE);
    SetFocus(GetDlgItem(dialog, IDC_EXIT));
    SetButtonLook(dialog, IDC_EXIT, BS_DEFPUSHBUTTON);
    EnableWindow(GetDlgItem(dialog, IDC_STOP), FALSE);
    SetButtonLook(dialog, IDC_STOP, BS_PUSHBUTTON);
}

void OnScan(HWND dialog)
{
    ScanContext* context = ContextOf(dialog);
    if (!context || IsScanning(dialog))
        return;
    EnterScanningState(dialog);
    SendDlgItemMessageA(dialog, IDC_RESULTS, LVM_DELETEALLITEMS, 0, 0);
    context->stopFlag = 0;
    context->rowCount = 0;
    context->SetProgressPos(0);

    // The worker's reference keeps the context alive after the dialog ends.
    context->WorkerStarting();
    // The Windows 95 family fails CreateThread without somewhere to put the id.
    DWORD workerId = 0;
    HANDLE worker = CreateThread(nullptr, 0, ScanThreadProc, context, 0, &workerId);
    if (!worker) {
        context->WorkerDone();
        OnScanDone(dialog);  // no worker will ever report back
        return;
    }
    CloseHandle(worker);
}

void OnStop(HWND dialog)
{
    if (ScanContext* context = ContextOf(dialog))
        context->RequestStop();
}

void OnExit(HWND dialog)
{
    if (!IsScanning(dialog))
        EndDialog(dialog, 0);
}

void OnAbout(HWND dialog)
{
    DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUT), dialog, AboutDlgProc, 0);
}

BOOL OnCommand(HWND dialog, WPARAM command)
{
    switch (command) {
    case IDC_SCAN: OnScan(dialog); return TRUE;
    case IDC_EXIT: OnExit(dialog); return TRUE;
    case IDC_ABOUT: OnAbout(dialog); return TRUE;
    case IDC_STOP: OnStop(dialog); return TRUE;
    default: return FALSE;  // notifications and other ids
    }
}

void InsertColumns(HWND list, UINT language)
{
    static const int Widths[3] = {270, 100, 100};
    for (int column = 0; column < 3; ++column) {
        LVCOLUMNA header = {};
        header.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        header.cx = Widths[column];
        header.pszText = const_cast<char*>(ColumnTitle[language][column]);
        header.iSubItem = column;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                     reinterpret_cast<LPARAM>(&header));
    }
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
}

void OnDestroy(HWND dialog)
{
    if (ScanContext* context = ContextOf(dialog)) {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
        context->Release();
    }
}

}  // namespace

BOOL InitMainDialog(HWND dialog)
{
    SendMessageA(dialog, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadIconA(AppInstance, MAKEINTRESOURCEA(IDI_APP))));

    HWND list = GetDlgItem(dialog, IDC_RESULTS);
    auto* context = new (NoThrow)
        ScanContext(GetDlgItem(dialog, IDC_PROGRESS), GetDlgItem(dialog, IDC_STATUS), list);
    if (!context) {
        // Every command needs the context; without one the tool cannot work.
        EndDialog(dialog, 0);
        return FALSE;
    }
    context->language = SystemLanguageIndex();
    SetWindowLongPtrA(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(context));

    const UINT language = context->language;
    InsertColumns(list, language);
    SetWindowTextA(dialog, MainTitle[language]);
    SetDlgItemTextA(dialog, IDC_PROGRESS_LABEL, ProgressLabel[language]);
    for (int id = IDC_SCAN; id <= IDC_STOP; ++id)
        SetDlgItemTextA(dialog, id, ButtonText[language][id - IDC_SCAN]);
    SetFocus(GetDlgItem(dialog, IDC_SCAN));

    // Last: the banner's procedure reads the context slot as its hover flag.
    InstallLinkProc(GetDlgItem(dialog, IDC_BANNER), ProductLinkProc);
    return FALSE;
}

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: return InitMainDialog(dialog);
    case WM_COMMAND: return OnCommand(dialog, wParam);
    case WM_SCAN_DONE: OnScanDone(dialog); return TRUE;
    case WM_DESTROY: OnDestroy(dialog); return TRUE;
    default: return FALSE;
    }
}

#include "MainDialog.h"

#include "AboutDialog.h"
#include "App.h"
#include "LinkStatic.h"
#include "Memory.h"
#include "MemAndFileWalker.h"
#include "Resource.h"
#include "ResultCopy.h"
#include "RuntimeApi.h"
#include "ScanContext.h"
#include "UiText.h"

#include <commctrl.h>
#include <windowsx.h>

#include <initializer_list>


HINSTANCE AppInstance = nullptr;
HWND SharedTooltip = nullptr;

namespace {

volatile LONG scanThreadsStarted = 0;

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
    InterlockedExchange(&scanThreadsStarted, 1);
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
    case IDM_COPY: CopySelectedRows(GetDlgItem(dialog, IDC_RESULTS), dialog); return TRUE;
    default: return FALSE;  // notifications and other ids
    }
}

// The pixels of the screen's logical inch: 96 at 100 %, 144 at 150 %. A
// program the manifest declares DPI-aware sees the real value from Windows
// Vista on; before that, and on the systems that ignore the manifest, the
// value the whole desktop is drawn at.
int ScreenDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

void InsertColumns(HWND list, UINT language)
{
    // Pixels at 96 DPI; the list grows with the dialog's font, so they grow
    // with the screen's scale.
    static const int Widths[3] = {270, 100, 100};
    const int dpi = ScreenDpi();
    for (int column = 0; column < 3; ++column) {
        LVCOLUMNA header = {};
        header.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        header.cx = MulDiv(Widths[column], dpi, 96);
        header.pszText = const_cast<char*>(ColumnTitle[language][column]);
        header.iSubItem = column;
        SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                     reinterpret_cast<LPARAM>(&header));
    }
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
}

// A copy of the bitmap at the given size, drawn with the halftone filter
// where the system has one (the NT family): stretched with a plain filter,
// the banner's letters would come out ragged.
HBITMAP StretchedBitmap(HBITMAP source, int sourceWidth, int sourceHeight, int width, int height)
{
    HDC screen = GetDC(nullptr);
    if (!screen)
        return nullptr;
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = height;
    format.bmiHeader.biPlanes = 1;
    // No alpha channel, so the static shows this bitmap itself, not a copy.
    format.bmiHeader.biBitCount = 24;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP scaled = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC from = CreateCompatibleDC(screen);
    HDC to = CreateCompatibleDC(screen);
    bool drawn = false;
    if (scaled && from && to) {
        HGDIOBJ oldFrom = SelectObject(from, source);
        HGDIOBJ oldTo = SelectObject(to, scaled);
        if (OnWindows9x()) {
            SetStretchBltMode(to, COLORONCOLOR);
        } else {
            SetStretchBltMode(to, HALFTONE);
            SetBrushOrgEx(to, 0, 0, nullptr);  // as HALFTONE requires
        }
        drawn = StretchBlt(to, 0, 0, width, height, from, 0, 0, sourceWidth, sourceHeight, SRCCOPY) != FALSE;
        SelectObject(to, oldTo);
        SelectObject(from, oldFrom);
    }
    if (to)
        DeleteDC(to);
    if (from)
        DeleteDC(from);
    ReleaseDC(nullptr, screen);
    if (!drawn && scaled) {
        DeleteObject(scaled);
        scaled = nullptr;
    }
    return scaled;
}

// The static shows its bitmap at the bitmap's own size, which fills the
// banner's place only where the dialog's font has the size the picture was
// drawn for (SimSun at 96 DPI): at any other scale, or with another font,
// the banner is drawn again at the size of its place.
void FitBanner(HWND dialog)
{
    HWND banner = GetDlgItem(dialog, IDC_BANNER);
    RECT place = {BANNER_LEFT, BANNER_TOP, BANNER_LEFT + BANNER_WIDTH, BANNER_TOP + BANNER_HEIGHT};
    MapDialogRect(dialog, &place);
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    auto source = reinterpret_cast<HBITMAP>(SendMessageA(banner, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP size = {};
    if (!source || !GetObjectA(source, sizeof size, &size) || width <= 0 || height <= 0)
        return;
    if (size.bmWidth == width && size.bmHeight == height)
        return;
    HBITMAP scaled = StretchedBitmap(source, size.bmWidth, size.bmHeight, width, height);
    if (!scaled)
        return;
    // The static gives back the bitmap it loaded from the template; from
    // now on it holds the drawn one, which the dialog frees at its end.
    if (HGDIOBJ previous = reinterpret_cast<HGDIOBJ>(
            SendMessageA(banner, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(scaled))))
        DeleteObject(previous);
    SetWindowPos(banner, nullptr, place.left, place.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The small icon at the size the screen's scale asks for, from the sizes
// IDI_APP holds; LoadIcon would give the large one, shrunk when drawn.
void SetSmallIcon(HWND dialog)
{
    HANDLE icon = LoadImageA(AppInstance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                             GetSystemMetrics(SM_CYSMICON), 0);
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

// The images the dialog made: the icon and, once drawn again, the banner.
void FreeImages(HWND dialog)
{
    if (HGDIOBJ banner = reinterpret_cast<HGDIOBJ>(
            SendDlgItemMessageA(dialog, IDC_BANNER, STM_SETIMAGE, IMAGE_BITMAP, 0)))
        DeleteObject(banner);
    if (auto icon = reinterpret_cast<HICON>(SendMessageA(dialog, WM_SETICON, ICON_SMALL, 0)))
        DestroyIcon(icon);
}

// Right-click or the menu key on the list: one item, Copy, grayed while no
// row is selected. Its command comes back as IDM_COPY.
void ShowListMenu(HWND dialog, HWND list, LPARAM position)
{
    POINT at = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    if (position == -1) {  // from the keyboard: at the focused row
        RECT row = {};
        const int focused =
            static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_FOCUSED));
        row.left = LVIR_LABEL;
        at = {0, 0};
        if (focused >= 0 &&
            SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(focused), reinterpret_cast<LPARAM>(&row)))
            at = {row.left, row.bottom};
        ClientToScreen(list, &at);
    }
    const ScanContext* context = ContextOf(dialog);
    const UINT language = context ? context->language : LanguageEnglish;
    HMENU menu = CreatePopupMenu();
    if (!menu)
        return;
    const bool anySelected = SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0) > 0;
    AppendMenuA(menu, MF_STRING | (anySelected ? MF_ENABLED : MF_GRAYED), IDM_COPY, CopyText[language]);
    TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, at.x, at.y, 0, dialog, nullptr);
    DestroyMenu(menu);
}

// Ctrl+A and Ctrl+C in the result list.
BOOL OnNotify(HWND dialog, const NMHDR* header)
{
    if (!header || header->idFrom != IDC_RESULTS || header->code != LVN_KEYDOWN)
        return FALSE;
    if (GetKeyState(VK_CONTROL) >= 0)
        return FALSE;
    const WORD key = reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey;
    if (key == 'A')
        SelectAllRows(header->hwndFrom);
    else if (key == 'C')
        CopySelectedRows(header->hwndFrom, dialog);
    return FALSE;
}

void OnDestroy(HWND dialog)
{
    FreeImages(dialog);
    if (ScanContext* context = ContextOf(dialog)) {
        SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
        context->Release();
    }
}

}  // namespace

bool ScanThreadsStarted()
{
    return InterlockedCompareExchange(&scanThreadsStarted, 0, 0) != 0;
}

BOOL InitMainDialog(HWND dialog)
{
    SetSmallIcon(dialog);
    FitBanner(dialog);

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

INT_PTR CALLBACK MainDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return InitMainDialog(dialog);
    case WM_COMMAND: return OnCommand(dialog, wParam);
    case WM_NOTIFY: return OnNotify(dialog, reinterpret_cast<const NMHDR*>(lParam));
    case WM_CONTEXTMENU:
        if (reinterpret_cast<HWND>(wParam) != GetDlgItem(dialog, IDC_RESULTS))
            return FALSE;
        ShowListMenu(dialog, reinterpret_cast<HWND>(wParam), lParam);
        return TRUE;
    case WM_SCAN_DONE: OnScanDone(dialog); return TRUE;
    case WM_DESTROY: OnDestroy(dialog); return TRUE;
    default: return FALSE;
    }
}

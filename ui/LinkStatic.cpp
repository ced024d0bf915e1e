#include "LinkStatic.h"

#include "RuntimeApi.h"

const char HomePageAddress[] = "https://www.veltrane.com";
const char ProductPageAddress[] = "https://www.veltrane.com/2012/tavok.html";

namespace {

WNDPROC PreviousProc(HWND control)
{
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(control, GWLP_USERDATA));
}

LRESULT PassOn(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(PreviousProc(control), control, message, wParam, lParam);
}

// The parent's user data: the About dialog's hover flag, or the main
// dialog's context pointer, which is never 0 and so never starts a hover.
LONG_PTR HoverFlag(HWND control)
{
    return GetWindowLongPtrA(GetParent(control), GWLP_USERDATA);
}

// Windows 95 and NT 4.0 have no hand cursor; a null cursor would hide the
// pointer over the link, so they get the arrow.
HCURSOR LinkCursor()
{
    const RuntimeApi api = OrdinaryApi();
    if (HCURSOR hand = api.LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)))  // IDC_HAND
        return hand;
    return api.LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
}

void SetHoverFlag(HWND control, LONG_PTR flag)
{
    SetWindowLongPtrA(GetParent(control), GWLP_USERDATA, flag);
}

LRESULT OnNcHitTest(HWND control, WPARAM wParam, LPARAM lParam)
{
    POINT cursor = {};
    GetCursorPos(&cursor);
    ScreenToClient(control, &cursor);
    RECT client = {};
    GetClientRect(control, &client);
    if (!PtInRect(&client, cursor))
        return PassOn(control, WM_NCHITTEST, wParam, lParam);
    if (HoverFlag(control) == 0) {
        SetHoverFlag(control, 1);
        SetTimer(control, LinkHoverTimer, 1, nullptr);
        InvalidateRect(control, nullptr, TRUE);
    }
    return HTCLIENT;
}

void OnTimer(HWND control)
{
    POINT cursor = {};
    GetCursorPos(&cursor);
    if (WindowFromPoint(cursor) != control) {
        KillTimer(control, LinkHoverTimer);
        SetHoverFlag(control, 0);
        InvalidateRect(control, nullptr, TRUE);
    }
}

LRESULT OnDestroy(HWND control, WPARAM wParam, LPARAM lParam)
{
    if (HoverFlag(control) != 0)
        KillTimer(control, LinkHoverTimer);
    return PassOn(control, WM_DESTROY, wParam, lParam);
}

LRESULT LinkProc(const char* address, HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETCURSOR:
        SetCursor(LinkCursor());
        return TRUE;
    case WM_NCHITTEST:
        return OnNcHitTest(control, wParam, lParam);
    case WM_TIMER:
        OnTimer(control);
        return 0;
    case WM_LBUTTONDOWN:
        OrdinaryApi().ShellExecuteA(nullptr, nullptr, address, nullptr, nullptr, SW_SHOW);
        return 0;
    case WM_DESTROY:
        return OnDestroy(control, wParam, lParam);
    default:
        return PassOn(control, message, wParam, lParam);
    }
}

}  // namespace

LRESULT CALLBACK HomeLinkProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    return LinkProc(HomePageAddress, control, message, wParam, lParam);
}

LRESULT CALLBACK ProductLinkProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    return LinkProc(ProductPageAddress, control, message, wParam, lParam);
}

void InstallLinkProc(HWND control, WNDPROC linkProc)
{
    const LONG_PTR previous =
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(linkProc));
    SetWindowLongPtrA(control, GWLP_USERDATA, previous);
}

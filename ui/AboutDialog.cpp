#include "AboutDialog.h"

#include "App.h"
#include "LinkStatic.h"
#include "Resource.h"
#include "ScanContext.h"
#include "UiText.h"

#include <commctrl.h>

HFONT LinkHoverFont = nullptr;

// Common controls before version 6, which is what every Windows gives this
// program, refuse a tool record longer than they know: send the record only
// up to lParam, the size that every version accepts.
constexpr UINT LinkToolSize = offsetof(TOOLINFOA, lParam);
#ifndef _WIN64
static_assert(LinkToolSize == 40, "the 32-bit tool record without lParam");
#endif

namespace {

// The language comes from the owner's context; English when there is none.
UINT DialogLanguage(HWND dialog)
{
    const auto* context =
        reinterpret_cast<const ScanContext*>(GetWindowLongPtrA(GetParent(dialog), GWLP_USERDATA));
    return context && context->language < LanguageCount ? context->language : LanguageEnglish;
}

TOOLINFOA LinkTool(HWND dialog, HWND link)
{
    TOOLINFOA tool = {};
    tool.cbSize = LinkToolSize;
    tool.hwnd = dialog;
    tool.uId = reinterpret_cast<UINT_PTR>(link);
    return tool;
}

HFONT CreateUnderlinedSystemFont()
{
    LOGFONTA font = {};
    GetObjectA(GetStockObject(SYSTEM_FONT), sizeof font, &font);
    font.lfUnderline = 1;
    return CreateFontIndirectA(&font);
}

BOOL OnCommand(HWND dialog, WPARAM command)
{
    if (command != IDOK && command != IDCANCEL)
        return FALSE;
    EndDialog(dialog, 0);
    return TRUE;
}

INT_PTR OnCtlColorStatic(HWND dialog, HDC dc, HWND control)
{
    if (GetDlgCtrlID(control) != IDC_HOME_LINK)
        return FALSE;
    if (GetWindowLongPtrA(dialog, GWLP_USERDATA) != 0) {
        SelectObject(dc, LinkHoverFont);
        SetTextColor(dc, RGB(255, 0, 0));
    } else {
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        SetTextColor(dc, RGB(0, 0, 255));
    }
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
}

void OnDestroy(HWND dialog)
{
    TOOLINFOA tool = LinkTool(dialog, GetDlgItem(dialog, IDC_HOME_LINK));
    SendMessageA(SharedTooltip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    DeleteObject(LinkHoverFont);
    LinkHoverFont = nullptr;
}

}  // namespace

BOOL InitAboutDialog(HWND dialog, HFONT& fontSlot)
{
    HWND link = GetDlgItem(dialog, IDC_HOME_LINK);
    const UINT language = DialogLanguage(dialog);
    fontSlot = CreateUnderlinedSystemFont();

    TOOLINFOA tool = LinkTool(dialog, link);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.lpszText = const_cast<char*>(LinkTipText[language]);
    SendMessageA(SharedTooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));

    // After the tool: the link procedure then sees every message first.
    InstallLinkProc(link, HomeLinkProc);

    SetWindowTextA(dialog, AboutTitle[language]);
    SetDlgItemTextA(dialog, IDOK, OkText[language]);
    for (int line = 0; line < 4; ++line)
        SetDlgItemTextA(dialog, IDC_ABOUT_TITLE + line, AboutText[language * 4 + line]);
    return TRUE;
}

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: return InitAboutDialog(dialog, LinkHoverFont);
    case WM_COMMAND: return OnCommand(dialog, wParam);
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic(dialog, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DESTROY: OnDestroy(dialog); return TRUE;
    default: return FALSE;
    }
}

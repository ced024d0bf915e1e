// The About dialog from the real IDD_ABOUT template, owned by a real main
// dialog, with its link, the hover timer and the tool on SharedTooltip.
#include "UiTestSupport.h"

#include "AboutDialog.h"
#include "App.h"
#include "LinkStatic.h"
#include "Resource.h"
#include "RuntimeApi.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What the links ask the shell to open, and a system without the hand
// cursor: stand-ins for both, since a test must open no page.
std::vector<std::string> opened;

HINSTANCE WINAPI RecordOpen(HWND, LPCSTR, LPCSTR file, LPCSTR, LPCSTR, INT)
{
    opened.push_back(file ? file : "(null)");
    return reinterpret_cast<HINSTANCE>(33);
}

HCURSOR WINAPI NoHandCursor(HINSTANCE instance, LPCSTR name)
{
    return name == MAKEINTRESOURCEA(32649) ? nullptr : LoadCursorA(instance, name);
}

void RecordOpenWithoutHandCursor(RuntimeApi& api)
{
    api.ShellExecuteA = RecordOpen;
    api.LoadCursorA = NoHandCursor;
}

class AboutWindow {
public:
    explicit AboutWindow(HWND owner)
    {
        SetLastError(0xdeadbeef);
        window = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDlgProc, 0);
        EXPECT_NE(window, nullptr) << "error " << GetLastError();
        ShowWindow(window, SW_SHOW);
        font = LinkHoverFont;
    }
    // Closed as the modal loop does: EndDialog from the command, then
    // the window goes.
    ~AboutWindow() { Close(IDOK); }
    AboutWindow(const AboutWindow&) = delete;
    AboutWindow& operator=(const AboutWindow&) = delete;

    void Close(WPARAM command)
    {
        if (!window)
            return;
        SendMessageA(window, WM_COMMAND, command, 0);
        EXPECT_FALSE(IsWindowVisible(window)) << "ended by command " << command;
        DestroyWindow(window);
        window = nullptr;
    }

    HWND Link() const { return GetDlgItem(window, IDC_HOME_LINK); }
    LONG_PTR HoverFlag() const { return GetWindowLongPtrA(window, GWLP_USERDATA); }

    HWND window = nullptr;
    HFONT font = nullptr;
};

class AboutDialogTest : public ::testing::Test {
protected:
    UiProcess process;
    MainDialogWindow main;

    static LRESULT ToolCount() { return SendMessageA(SharedTooltip, TTM_GETTOOLCOUNT, 0, 0); }

    static POINT CenterOf(HWND window)
    {
        RECT rect = {};
        GetWindowRect(window, &rect);
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }

    // Waits, without dispatching it, for a WM_TIMER of the window: a loaded
    // machine may post it late.
    static bool TimerMessageComes(HWND window)
    {
        for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(1)) {
            if (HasTimerMessage(window))
                return true;
        }
        return false;
    }

    // Moves the cursor onto the link and lets it see the hit test.
    static void Hover(const AboutWindow& about)
    {
        const POINT center = CenterOf(about.Link());
        ASSERT_TRUE(SetCursorPos(center.x, center.y));
        EXPECT_EQ(SendMessageA(about.Link(), WM_NCHITTEST, 0, MAKELPARAM(center.x, center.y)), HTCLIENT);
    }

    // Parks the cursor beside the About dialog, on the main dialog's list.
    void Leave()
    {
        const POINT away = CenterOf(main.Item(IDC_RESULTS));
        RECT about = {};
        GetWindowRect(FindOwnedDialog(main.window), &about);
        POINT spot = {away.x, about.bottom + 5};
        ASSERT_TRUE(SetCursorPos(spot.x, spot.y));
    }
};

BOOL CALLBACK CollectTexts(HWND window, LPARAM parameter)
{
    reinterpret_cast<std::vector<std::wstring>*>(parameter)->push_back(TextW(window));
    return TRUE;
}

// The size of the tool record that TTM_ADDTOOLA carried: Wine takes any,
// common controls before version 6 only up to lParam.
WNDPROC tooltipProc = nullptr;
UINT addedToolSize = 0;

LRESULT CALLBACK RecordAddTool(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == TTM_ADDTOOLA)
        addedToolSize = reinterpret_cast<const TOOLINFOA*>(lParam)->cbSize;
    return CallWindowProcA(tooltipProc, window, message, wParam, lParam);
}

TEST_F(AboutDialogTest, LocalizedTexts)
{
    const ExpectedTexts& expected = ExpectedForSystem();
    tooltipProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(SharedTooltip, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordAddTool)));
    AboutWindow about(main.window);
    SetWindowLongPtrA(SharedTooltip, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(tooltipProc));
    EXPECT_EQ(addedToolSize, offsetof(TOOLINFOA, lParam));
#ifndef _WIN64
    EXPECT_EQ(addedToolSize, 40u);
#endif
    EXPECT_EQ(GetParent(about.window), main.window);
    EXPECT_EQ(TextW(about.window), expected.aboutTitle);
    EXPECT_EQ(TextW(GetDlgItem(about.window, IDOK)), expected.ok);
    for (int line = 0; line < 4; ++line)
        EXPECT_EQ(TextW(GetDlgItem(about.window, IDC_ABOUT_TITLE + line)), expected.aboutLines[line]) << line;
    EXPECT_EQ(TextW(about.Link()), L"www.veltrane.com");
    // The link opens the host it names, over https; the banner's page lies
    // on the same host under the year path.
    EXPECT_EQ(std::string(HomePageAddress), "https://www.veltrane.com");
    EXPECT_EQ(std::string(ProductPageAddress).rfind(std::string(HomePageAddress) + "/2012/", 0), 0u)
        << ProductPageAddress;

    // The same in every language: the version, the date and the link.
    std::vector<std::wstring> texts;
    EnumChildWindows(about.window, CollectTexts, reinterpret_cast<LPARAM>(&texts));
    ASSERT_EQ(texts.size(), 9u);
    EXPECT_EQ(texts[6], L"1.0");
    EXPECT_EQ(texts[7], L"2012-05-30");
    EXPECT_EQ(GetFocus(), GetDlgItem(about.window, IDOK));
    EXPECT_EQ(about.HoverFlag(), 0);

    // The tool: the whole link, watched through the tooltip's subclassing.
    ASSERT_EQ(ToolCount(), 1);
    wchar_t tip[128] = {};
    TTTOOLINFOW tool = {};
    tool.cbSize = sizeof tool;
    tool.lpszText = tip;
    ASSERT_TRUE(SendMessageW(SharedTooltip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_STREQ(tip, expected.linkTip);
    EXPECT_EQ(tool.hwnd, about.window);
    EXPECT_EQ(tool.uId, reinterpret_cast<UINT_PTR>(about.Link()));
    EXPECT_EQ(tool.uFlags & (TTF_IDISHWND | TTF_SUBCLASS), static_cast<UINT>(TTF_IDISHWND | TTF_SUBCLASS));
}

// At the prefix's scale (96 or 144 DPI): every control inside the dialog
// and apart from the others, no text cut (the link in the font it is drawn
// in), and the icon at the size the scale asks for.
TEST_F(AboutDialogTest, LayoutAtTheScreensScale)
{
    if (ExpectedDpi()) {
        ASSERT_EQ(ScreenDpi(), ExpectedDpi()) << "the prefix's LogPixels";
    }
    AboutWindow about(main.window);
    ExpectLaidOutWithoutCuts(about.window);

    HICON icon = nullptr;
    for (const ChildPlace& place : ChildPlaces(about.window)) {
        if ((GetWindowLongA(place.window, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            icon = reinterpret_cast<HICON>(SendMessageA(place.window, STM_GETICON, 0, 0));
    }
    ASSERT_NE(icon, nullptr);
    const SIZE size = IconSize(icon);
    EXPECT_EQ(size.cx, GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(size.cy, GetSystemMetrics(SM_CYICON));
}

TEST_F(AboutDialogTest, LinkColoursAndFontFollowTheHoverFlag)
{
    AboutWindow about(main.window);
    HDC dc = CreateCompatibleDC(nullptr);
    ASSERT_NE(dc, nullptr);
    HGDIOBJ originalFont = GetCurrentObject(dc, OBJ_FONT);

    LRESULT brush = SendMessageA(about.window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                 reinterpret_cast<LPARAM>(about.Link()));
    EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE)));
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 255));
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), GetStockObject(SYSTEM_FONT));

    SetWindowLongPtrA(about.window, GWLP_USERDATA, 1);
    SendMessageA(about.window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(about.Link()));
    EXPECT_EQ(GetTextColor(dc), RGB(255, 0, 0));
    HGDIOBJ hoverFont = GetCurrentObject(dc, OBJ_FONT);
    EXPECT_EQ(hoverFont, LinkHoverFont);
    LOGFONTA hover = {}, system = {};
    ASSERT_TRUE(GetObjectA(hoverFont, sizeof hover, &hover));
    ASSERT_TRUE(GetObjectA(GetStockObject(SYSTEM_FONT), sizeof system, &system));
    EXPECT_EQ(hover.lfUnderline, 1);
    EXPECT_EQ(hover.lfHeight, system.lfHeight);
    EXPECT_STREQ(hover.lfFaceName, system.lfFaceName);
    SetWindowLongPtrA(about.window, GWLP_USERDATA, 0);

    // Other statics are left to the default handling: the system's text
    // colour and the font already in the device context.
    SelectObject(dc, originalFont);
    for (int id : {IDC_ABOUT_TITLE, IDC_ABOUT_VERSION_LABEL, IDC_ABOUT_DATE_LABEL, IDC_ABOUT_COMPANY}) {
        SetTextColor(dc, RGB(1, 2, 3));
        HWND control = GetDlgItem(about.window, id);
        EXPECT_EQ(AboutDlgProc(about.window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                               reinterpret_cast<LPARAM>(control)),
                  FALSE) << id;
        SendMessageA(about.window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(control));
        EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT)) << id;
        EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), originalFont) << id;
    }
    DeleteDC(dc);
}

TEST_F(AboutDialogTest, HoverStartsTheTimerAndLeavingStopsIt)
{
    AboutWindow about(main.window);
    HWND link = about.Link();
    EXPECT_EQ(GetWindowLongPtrA(link, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(HomeLinkProc));

    Hover(about);
    EXPECT_EQ(about.HoverFlag(), 1);
    EXPECT_TRUE(TimerMessageComes(link));
    EXPECT_EQ(WindowFromPoint(CenterOf(link)), link);
    EXPECT_EQ(SendMessageA(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));
    // A tick with the cursor still over the link changes nothing.
    EXPECT_EQ(SendMessageA(link, WM_TIMER, LinkHoverTimer, 0), 0);
    EXPECT_EQ(about.HoverFlag(), 1);

    Leave();
    ASSERT_TRUE(PumpUntil(about.window, [&] { return about.HoverFlag() == 0; }, 5000));
    PumpFor(about.window, 30);
    // A timer of the same period started now has ticked by the time it is
    // seen: the link's would have ticked too, had it been left running.
    const UINT_PTR witness = SetTimer(main.window, 0x7A, 1, nullptr);
    ASSERT_NE(witness, 0u);
    EXPECT_TRUE(TimerMessageComes(main.window));
    EXPECT_FALSE(HasTimerMessage(link)) << "the timer runs only while hovering";
    KillTimer(main.window, witness);

    // The flag is kept in the dialog, the previous procedure in the link.
    EXPECT_NE(GetWindowLongPtrA(link, GWLP_USERDATA), 0);
}

TEST_F(AboutDialogTest, ClosingWhileHoveringLeavesNothingBehind)
{
    for (WPARAM command : {WPARAM(IDOK), WPARAM(IDCANCEL)}) {
        AboutWindow about(main.window);
        HFONT font = about.font;
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(GetObjectType(font), static_cast<DWORD>(OBJ_FONT));
        Hover(about);
        EXPECT_EQ(about.HoverFlag(), 1);
        HWND link = about.Link();
        about.Close(command);
        EXPECT_FALSE(IsWindow(link));
        EXPECT_EQ(GetObjectType(font), 0u) << "the font goes with the dialog";
        EXPECT_EQ(ToolCount(), 0);
        MSG message;
        EXPECT_FALSE(PeekMessageA(&message, nullptr, WM_TIMER, WM_TIMER, PM_NOREMOVE));
    }
}

TEST_F(AboutDialogTest, EveryOpeningHasOneToolAndOneFont)
{
    std::vector<HFONT> fonts;
    for (int opening = 0; opening < 4; ++opening) {
        AboutWindow about(main.window);
        EXPECT_EQ(ToolCount(), 1) << opening;
        EXPECT_EQ(GetObjectType(about.font), static_cast<DWORD>(OBJ_FONT));
        EXPECT_EQ(about.HoverFlag(), 0) << "a new dialog starts blue and plain";
        fonts.push_back(about.font);
        about.Close(opening % 2 ? IDCANCEL : IDOK);
        EXPECT_EQ(ToolCount(), 0);
    }
    for (HFONT font : fonts)
        EXPECT_EQ(GetObjectType(font), 0u);
}

TEST_F(AboutDialogTest, OtherCommandsDoNotCloseIt)
{
    AboutWindow about(main.window);
    EXPECT_EQ(AboutDlgProc(about.window, WM_COMMAND, MAKEWPARAM(IDOK, 1), 0), FALSE);
    EXPECT_EQ(AboutDlgProc(about.window, WM_COMMAND, IDC_HOME_LINK, 0), FALSE);
    SendMessageA(about.window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_SETFOCUS), 0);
    EXPECT_TRUE(IsWindowVisible(about.window));
}

TEST_F(AboutDialogTest, WithoutAnOwnerContextItIsEnglish)
{
    ScanContext* context = main.Context();
    SetWindowLongPtrA(main.window, GWLP_USERDATA, 0);
    {
        AboutWindow about(main.window);
        EXPECT_EQ(TextW(about.window), L"About");
        EXPECT_EQ(TextW(GetDlgItem(about.window, IDOK)), L"Ok");
    }
    SetWindowLongPtrA(main.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(context));
}

}  // namespace

TEST_F(AboutDialogTest, EachLinkOpensItsOwnPageAndShowsTheArrowWhereThereIsNoHand)
{
    AboutWindow about(main.window);
    opened.clear();
    RuntimeApiOverride = RecordOpenWithoutHandCursor;
    for (HWND link : {main.Item(IDC_BANNER), about.Link()}) {
        EXPECT_EQ(SendMessageA(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2)), 0);
        SetCursor(nullptr);
        EXPECT_EQ(SendMessageA(link, WM_SETCURSOR, reinterpret_cast<WPARAM>(link),
                               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
        EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
    }
    RuntimeApiOverride = nullptr;
    EXPECT_EQ(opened, (std::vector<std::string>{ProductPageAddress, HomePageAddress}));
}

// The main dialog from the real IDD_MAIN template with MainDlgProc.
#include "UiTestSupport.h"

#include "App.h"
#include "LinkStatic.h"
#include "MainDialog.h"
#include "Resource.h"
#include "ResultCopy.h"
#include "RuntimeApi.h"
#include "StartUp.h"
#include "EngineText.h"
#include "MemAndFileWalker.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

class MainDialogTest : public ::testing::Test {
protected:
    UiProcess process;
    MainDialogWindow main;

    void ExpectButton(int id, bool enabled, LONG type)
    {
        SCOPED_TRACE(id);
        EXPECT_EQ(IsWindowEnabled(main.Item(id)) != FALSE, enabled);
        EXPECT_EQ(ButtonType(main.Item(id)), type);
    }

    bool CloseGrayed()
    {
        const UINT state = GetMenuState(GetSystemMenu(main.window, FALSE), SC_CLOSE, MF_BYCOMMAND);
        EXPECT_NE(state, static_cast<UINT>(-1));
        return (state & MF_GRAYED) != 0;
    }

    void ExpectIdleAtStart()
    {
        ExpectButton(IDC_SCAN, true, BS_DEFPUSHBUTTON);
        ExpectButton(IDC_EXIT, true, BS_PUSHBUTTON);
        ExpectButton(IDC_ABOUT, true, BS_PUSHBUTTON);
        ExpectButton(IDC_STOP, false, BS_PUSHBUTTON);
        EXPECT_EQ(GetFocus(), main.Item(IDC_SCAN));
        EXPECT_FALSE(CloseGrayed());
    }

    void ExpectScanning()
    {
        ExpectButton(IDC_SCAN, false, BS_PUSHBUTTON);
        ExpectButton(IDC_EXIT, false, BS_PUSHBUTTON);
        ExpectButton(IDC_ABOUT, false, BS_PUSHBUTTON);
        ExpectButton(IDC_STOP, true, BS_DEFPUSHBUTTON);
        EXPECT_EQ(GetFocus(), main.Item(IDC_STOP));
        EXPECT_TRUE(CloseGrayed());
    }

    void ExpectIdleAfterScan()
    {
        ExpectButton(IDC_SCAN, true, BS_PUSHBUTTON);
        ExpectButton(IDC_EXIT, true, BS_DEFPUSHBUTTON);
        ExpectButton(IDC_ABOUT, true, BS_PUSHBUTTON);
        ExpectButton(IDC_STOP, false, BS_PUSHBUTTON);
        EXPECT_FALSE(CloseGrayed());
    }

    int RowCount() { return static_cast<int>(SendMessageW(main.Item(IDC_RESULTS), LVM_GETITEMCOUNT, 0, 0)); }

    std::wstring Cell(int row, int column)
    {
        wchar_t buffer[300] = {};
        LVITEMW item = {};
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = 300;
        SendMessageW(main.Item(IDC_RESULTS), LVM_GETITEMTEXTW, static_cast<WPARAM>(row),
                     reinterpret_cast<LPARAM>(&item));
        return buffer;
    }
};

TEST_F(MainDialogTest, LocalizedTextsAtStart)
{
    const ExpectedTexts& expected = ExpectedForSystem();
    EXPECT_EQ(TextW(main.window), expected.mainTitle);
    EXPECT_EQ(TextW(main.Item(IDC_PROGRESS_LABEL)), expected.progressLabel);
    for (int id = IDC_SCAN; id <= IDC_STOP; ++id)
        EXPECT_EQ(TextW(main.Item(id)), expected.buttons[id - IDC_SCAN]) << id;
    EXPECT_EQ(TextW(main.Item(IDC_STATUS)), L"");

    HWND list = main.Item(IDC_RESULTS);
    for (int column = 0; column < 3; ++column) {
        wchar_t title[64] = {};
        LVCOLUMNW header = {};
        header.mask = LVCF_TEXT | LVCF_SUBITEM | LVCF_FMT;
        header.pszText = title;
        header.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(column),
                                 reinterpret_cast<LPARAM>(&header)));
        EXPECT_STREQ(title, expected.columns[column]);
        EXPECT_EQ(header.iSubItem, column);
        EXPECT_EQ(header.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
    }
    // Under zh_HK (0x0C04) the English texts are shown.
    if (GetSystemDefaultLangID() == 0x0C04) {
        EXPECT_STREQ(expected.buttons[0], L"Scan");
    }
}

TEST_F(MainDialogTest, InitialState)
{
    ScanContext* context = main.Context();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->language, static_cast<UINT>(SystemLanguageIndex()));
    EXPECT_EQ(context->progressBar, main.Item(IDC_PROGRESS));
    EXPECT_EQ(context->statusLine, main.Item(IDC_STATUS));
    EXPECT_EQ(context->resultList, main.Item(IDC_RESULTS));
    EXPECT_EQ(context->references.load(), 1);
    ExpectIdleAtStart();

    HWND list = main.Item(IDC_RESULTS);
    // 270, 100 and 100 pixels at 96 DPI, larger with the screen's scale.
    const int dpi = ScreenDpi();
    EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 0, 0), MulDiv(270, dpi, 96));
    EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0), MulDiv(100, dpi, 96));
    EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 2, 0), MulDiv(100, dpi, 96));
    EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, 3, 0), 0);  // no fourth column
    EXPECT_EQ(RowCount(), 0);
    EXPECT_EQ(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT,
              LVS_EX_FULLROWSELECT);
    const LONG listStyle = GetWindowLongA(list, GWL_STYLE);
    EXPECT_EQ(listStyle & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_FALSE(listStyle & LVS_SINGLESEL) << "rows are selected together to copy them";
    EXPECT_TRUE(listStyle & LVS_SHOWSELALWAYS);
    EXPECT_TRUE(listStyle & LVS_NOSORTHEADER);

    // The small icon only, from IDI_APP, at the size the screen's scale asks for.
    auto icon = reinterpret_cast<HICON>(SendMessageA(main.window, WM_GETICON, ICON_SMALL, 0));
    ASSERT_NE(icon, nullptr);
    const SIZE iconSize = IconSize(icon);
    EXPECT_EQ(iconSize.cx, GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(iconSize.cy, GetSystemMetrics(SM_CYSMICON));
    EXPECT_EQ(SendMessageA(main.window, WM_GETICON, ICON_BIG, 0), 0);
}

// At the prefix's scale (96 or 144 DPI): the banner fills its place in the
// template, every control lies inside the dialog and apart from the others,
// no text is cut, and the columns fit the list.
TEST_F(MainDialogTest, LayoutAtTheScreensScale)
{
    const int dpi = ScreenDpi();
    if (ExpectedDpi()) {
        ASSERT_EQ(dpi, ExpectedDpi()) << "the prefix's LogPixels";
    }

    HWND banner = main.Item(IDC_BANNER);
    RECT place = {BANNER_LEFT, BANNER_TOP, BANNER_LEFT + BANNER_WIDTH, BANNER_TOP + BANNER_HEIGHT};
    ASSERT_TRUE(MapDialogRect(main.window, &place));
    RECT shown = {};
    GetWindowRect(banner, &shown);
    MapWindowPoints(nullptr, main.window, reinterpret_cast<POINT*>(&shown), 2);
    EXPECT_EQ(shown.left, place.left);
    EXPECT_EQ(shown.top, place.top);
    EXPECT_EQ(shown.right, place.right);
    EXPECT_EQ(shown.bottom, place.bottom);
    auto bitmap = reinterpret_cast<HBITMAP>(SendMessageA(banner, STM_GETIMAGE, IMAGE_BITMAP, 0));
    ASSERT_NE(bitmap, nullptr);
    BITMAP info = {};
    ASSERT_EQ(GetObjectA(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
    EXPECT_EQ(info.bmWidth, place.right - place.left) << "the banner fills its control";
    EXPECT_EQ(info.bmHeight, place.bottom - place.top);
    std::printf("DPI %d: banner %ld x %ld pixels\n", dpi, place.right - place.left, place.bottom - place.top);

    ExpectLaidOutWithoutCuts(main.window);

    HWND list = main.Item(IDC_RESULTS);
    RECT listClient = {};
    GetClientRect(list, &listClient);
    int columns = 0;
    for (int column = 0; column < 3; ++column)
        columns += static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
    EXPECT_LE(columns, listClient.right) << "a column cut by the list's edge";
}

TEST_F(MainDialogTest, ScanStopAndReturnToIdle)
{
    ScanContext* context = main.Context();
    ASSERT_NE(context, nullptr);
    context->rowCount = 7;
    context->stopFlag = 1;
    SendMessageA(main.Item(IDC_PROGRESS), PBM_SETPOS, 30, 0);

    main.Command(IDC_SCAN);
    // Until this thread pumps, the worker cannot report back.
    ExpectScanning();
    EXPECT_EQ(context->stopFlag.load(), 0u);
    EXPECT_EQ(context->rowCount, 0u);
    EXPECT_EQ(SendMessageA(main.Item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(context->references.load(), 2) << "the worker holds a reference";

    // Stop only raises the flag.
    main.Command(IDC_STOP);
    EXPECT_EQ(context->stopFlag.load(), 1u);
    ExpectScanning();

    // Enter, Escape and the close box arrive as commands 1 and 2 while
    // scanning: no second worker, and the dialog stays.
    main.Command(IDOK);
    main.Command(IDCANCEL);
    SendMessageA(main.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(context->references.load(), 2);
    EXPECT_TRUE(IsWindowVisible(main.window));
    ExpectScanning();

    // WM_SCAN_DONE comes before the summary box, which the dialog owns.
    HWND box = nullptr;
    ASSERT_TRUE(PumpUntil(main.window, [&] { return (box = FindOwnedDialog(main.window)) != nullptr; }));
    ExpectIdleAfterScan();
    EXPECT_FALSE(IsWindowEnabled(main.window)) << "the summary box is modal";
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(PumpUntil(main.window, [&] { return context->references.load() == 1; }));
    EXPECT_TRUE(IsWindowEnabled(main.window));
    ExpectIdleAfterScan();
    // The box's owner is the dialog, so the dialog is active again. Which of
    // its controls then has the focus is the window manager's part: Wine
    // restores it from a save that races with the box's thread.
    EXPECT_TRUE(PumpUntil(main.window, [&] { return GetActiveWindow() == main.window; }, 5000));
    EXPECT_EQ(main.Context(), context);
}

TEST_F(MainDialogTest, ScanDoneGivesExitTheFocus)
{
    ScanContext* context = main.Context();
    ASSERT_NE(context, nullptr);
    main.Command(IDC_SCAN);
    ExpectScanning();
    // As the worker sends it, before its summary box takes the focus.
    SendMessageA(main.window, WM_SCAN_DONE, 0, 0);
    ExpectIdleAfterScan();
    EXPECT_EQ(GetFocus(), main.Item(IDC_EXIT));
    // Enter and Escape in that moment: the worker has yet to show its summary.
    main.Command(IDOK);
    main.Command(IDCANCEL);
    EXPECT_EQ(context->references.load(), 2) << "no second worker";
    EXPECT_TRUE(IsWindowVisible(main.window));
    FinishScan(main);
}

TEST_F(MainDialogTest, AWholeScanOfThePrefixEndsInIdle)
{
    ScanContext* context = main.Context();
    ASSERT_NE(context, nullptr);
    main.Command(IDC_SCAN);
    HWND box = nullptr;
    ASSERT_TRUE(PumpUntil(main.window, [&] { return (box = FindOwnedDialog(main.window)) != nullptr; }));
    ExpectIdleAfterScan();
    EXPECT_EQ(TextW(main.Item(IDC_STATUS)), L"");
    EXPECT_EQ(SendMessageA(main.Item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
    std::string summary(200, '\0');
    summary.resize(static_cast<size_t>(GetDlgItemTextA(box, 0xFFFF, &summary[0], 200)));
    EXPECT_FALSE(summary.empty()) << "the worker's summary";
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(PumpUntil(main.window, [&] { return context->references.load() == 1; }));
    EXPECT_EQ(RowCount(), 0) << "the prefix holds no infected file";
}

TEST_F(MainDialogTest, RowsStayUntilTheNextScan)
{
    ScanContext* context = main.Context();
    ASSERT_NE(context, nullptr);
    HWND list = main.Item(IDC_RESULTS);

    main.Command(IDC_SCAN);
    // Rows as the worker appends them.
    context->AddResultRow(L"C:\\a\\first.exe", "Worm.Win32.Tavok", "Deleted");
    context->AddResultRow(L"C:\\b\\second.exe", "Worm.Win32.Tavok", "Delay Delete");
    FinishScan(main);
    ASSERT_EQ(RowCount(), 2);
    EXPECT_EQ(Cell(0, 0), L"C:\\a\\first.exe");
    EXPECT_EQ(Cell(1, 0), L"C:\\b\\second.exe");
    EXPECT_EQ(Cell(1, 1), L"Worm.Win32.Tavok");
    EXPECT_EQ(Cell(1, 2), L"Delay Delete");
    EXPECT_EQ(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);
    EXPECT_EQ(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0), 1);

    main.Command(IDC_SCAN);
    EXPECT_EQ(RowCount(), 0) << "emptied before the new worker starts";
    EXPECT_EQ(context->rowCount, 0u);
    context->AddResultRow(L"C:\\c\\third.exe", "Worm.Win32.Tavok", "Kill Failed");
    FinishScan(main);
    ASSERT_EQ(RowCount(), 1);
    EXPECT_EQ(Cell(0, 0), L"C:\\c\\third.exe");
}

TEST_F(MainDialogTest, CommandsWithNotificationCodeAreIgnored)
{
    ScanContext* context = main.Context();
    ASSERT_NE(context, nullptr);
    for (WORD id = IDC_SCAN; id <= IDC_STOP; ++id) {
        for (WORD code : {WORD(1), WORD(BN_SETFOCUS), WORD(BN_KILLFOCUS)}) {
            EXPECT_EQ(MainDlgProc(main.window, WM_COMMAND, MAKEWPARAM(id, code), 0), FALSE) << id;
            main.Command(MAKEWPARAM(id, code));
        }
    }
    EXPECT_EQ(MainDlgProc(main.window, WM_COMMAND, 5, 0), FALSE);
    EXPECT_EQ(context->references.load(), 1);
    EXPECT_EQ(context->stopFlag.load(), 0u);
    EXPECT_TRUE(IsWindowVisible(main.window));
    ExpectIdleAtStart();
}

TEST_F(MainDialogTest, ExitEndsTheDialogWhenIdle)
{
    main.Command(IDC_EXIT);
    EXPECT_FALSE(IsWindowVisible(main.window));
}

TEST_F(MainDialogTest, MissingContextIsTolerated)
{
    ScanContext* context = main.Context();
    SetWindowLongPtrA(main.window, GWLP_USERDATA, 0);
    main.Command(IDC_SCAN);
    main.Command(IDC_STOP);
    EXPECT_FALSE(IsWindowEnabled(main.Item(IDC_STOP))) << "no scan without a context";
    EXPECT_EQ(context->references.load(), 1);
    SetWindowLongPtrA(main.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(context));
}

TEST_F(MainDialogTest, BannerKeepsTheContextAfterMouseActivity)
{
    HWND banner = main.Item(IDC_BANNER);
    const LONG_PTR context = GetWindowLongPtrA(main.window, GWLP_USERDATA);
    EXPECT_EQ(GetWindowLongPtrA(banner, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(ProductLinkProc));
    EXPECT_NE(GetWindowLongPtrA(banner, GWLP_USERDATA), 0) << "the previous procedure";
    EXPECT_FALSE(GetWindowLongA(banner, GWL_STYLE) & SS_NOTIFY);

    RECT rect = {};
    GetWindowRect(banner, &rect);
    const POINT center = {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ASSERT_TRUE(SetCursorPos(center.x, center.y));
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(SendMessageA(banner, WM_NCHITTEST, 0, MAKELPARAM(center.x, center.y)), HTCLIENT);
        EXPECT_EQ(SendMessageA(banner, WM_SETCURSOR, reinterpret_cast<WPARAM>(banner),
                               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)), TRUE);
        EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));
        SendMessageA(banner, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
    }
    Sleep(20);
    EXPECT_FALSE(HasTimerMessage(banner)) << "the banner has no hover state";
    EXPECT_EQ(GetWindowLongPtrA(main.window, GWLP_USERDATA), context);

    // Outside its rectangle the static stays transparent to the mouse.
    ASSERT_TRUE(SetCursorPos(rect.right + 20, rect.bottom + 60));
    EXPECT_EQ(SendMessageA(banner, WM_NCHITTEST, 0, 0), HTTRANSPARENT);
    EXPECT_EQ(GetWindowLongPtrA(main.window, GWLP_USERDATA), context);
}

// The About command runs the About dialog modally, owned by this dialog.
struct AboutProbe {
    HWND main = nullptr;
    HWND about = nullptr;
    bool mainEnabled = true;
    std::wstring title;
};
AboutProbe* Probe = nullptr;

void CALLBACK ProbeAbout(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND about = FindOwnedDialog(Probe->main);
    if (!about)
        return;
    KillTimer(nullptr, timer);
    Probe->about = about;
    Probe->mainEnabled = IsWindowEnabled(Probe->main) != FALSE;
    Probe->title = TextW(about);
    PostMessageA(about, WM_COMMAND, IDCANCEL, 0);
}

TEST_F(MainDialogTest, AboutCommandRunsTheOwnedAboutDialog)
{
    AboutProbe probe;
    probe.main = main.window;
    Probe = &probe;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, ProbeAbout);
    ASSERT_NE(timer, 0u);
    main.Command(IDC_ABOUT);
    KillTimer(nullptr, timer);
    Probe = nullptr;

    ASSERT_NE(probe.about, nullptr);
    EXPECT_FALSE(IsWindow(probe.about));
    EXPECT_FALSE(probe.mainEnabled);
    EXPECT_EQ(probe.title, ExpectedForSystem().aboutTitle);
    EXPECT_EQ(SendMessageA(SharedTooltip, TTM_GETTOOLCOUNT, 0, 0), 0);
    EXPECT_TRUE(IsWindowEnabled(main.window));
}


// The clipboard as the user would paste it, in one format.
template <class Char>
std::basic_string<Char> ClipboardText(UINT format)
{
    std::basic_string<Char> text;
    static const char unopened[] = "(clipboard not opened)";
    if (!OpenClipboard(nullptr))
        return std::basic_string<Char>(unopened, unopened + sizeof unopened - 1);
    if (HANDLE data = GetClipboardData(format)) {
        if (const auto* chars = static_cast<const Char*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

std::wstring ClipboardUnicode()
{
    return ClipboardText<wchar_t>(CF_UNICODETEXT);
}

std::string ClipboardBytes()
{
    return ClipboardText<char>(CF_TEXT);
}

// The format the program put there; the system makes the others from it.
UINT FirstClipboardFormat()
{
    if (!OpenClipboard(nullptr))
        return 0;
    const UINT format = EnumClipboardFormats(0);
    CloseClipboard();
    return format;
}

void EmptyTheClipboard(HWND owner)
{
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    CloseClipboard();
}

// A key pressed in the list with Ctrl held, as the keyboard would send it.
void PressWithControl(HWND list, WPARAM key)
{
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    const BYTE saved = keys[VK_CONTROL];
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    SendMessageA(list, WM_KEYDOWN, key, 1);
    SendMessageA(list, WM_KEYUP, key, 0xC0000001);
    keys[VK_CONTROL] = saved;
    SetKeyboardState(keys);
}

int SelectedCount(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0));
}

TEST_F(MainDialogTest, CtrlAAndCtrlCCopyEveryRowAsUnicodeText)
{
    ScanContext* context = main.Context();
    ASSERT_NE(context, nullptr);
    HWND list = main.Item(IDC_RESULTS);
    // Names no 8-bit code page spells all of: Chinese, and an emoji
    // outside the basic plane (a surrogate pair).
    context->AddResultRow(L"C:\\病毒\\样本.exe", "Worm.Win32.Tavok", "Deleted");
    context->AddResultRow(L"C:\\Users\\小明\\😀 tavok.exe", "Worm.Win32.Tavok", "Delay Delete");
    context->AddResultRow(L"D:\\plain.exe", "Worm.Win32.Tavok", "Kill Failed");
    EXPECT_EQ(SelectedCount(list), 1) << "the newest row alone, as the scan leaves it";
    SetFocus(list);

    EmptyTheClipboard(main.window);
    SendMessageA(list, WM_KEYDOWN, 'C', 1);
    EXPECT_EQ(FirstClipboardFormat(), 0u) << "C without Ctrl copies nothing";

    PressWithControl(list, 'C');
    EXPECT_EQ(ClipboardUnicode(), L"D:\\plain.exe\tWorm.Win32.Tavok\tKill Failed\r\n");

    PressWithControl(list, 'A');
    EXPECT_EQ(SelectedCount(list), 3);
    EmptyTheClipboard(main.window);
    PressWithControl(list, 'C');
    EXPECT_EQ(FirstClipboardFormat(), static_cast<UINT>(CF_UNICODETEXT));
    EXPECT_EQ(ClipboardUnicode(), L"C:\\病毒\\样本.exe\tWorm.Win32.Tavok\tDeleted\r\n"
                                  L"C:\\Users\\小明\\😀 tavok.exe\tWorm.Win32.Tavok\tDelay Delete\r\n"
                                  L"D:\\plain.exe\tWorm.Win32.Tavok\tKill Failed\r\n");

    // A new row after a copy: again only the newest is selected.
    context->AddResultRow(L"E:\\next.exe", "Worm.Win32.Tavok", "Deleted");
    EXPECT_EQ(SelectedCount(list), 1);
}

// A path the ANSI code page spells, as the Windows 95 family's walk gives it.
const wchar_t* PathInTheCodePage()
{
    switch (GetACP()) {
    case 936: return L"C:\\病毒\\样本.exe";
    case 950: return L"C:\\病毒\\樣本.exe";
    case 932: return L"C:\\ウイルス\\検体.exe";
    default: return L"C:\\Café\\Übung.exe";
    }
}

DWORD WINAPI Windows98Version()
{
    return 0xC0000A04;
}

void FakeWindows98(RuntimeApi& api)
{
    api.GetVersion = Windows98Version;
}

std::string Ansi(const wchar_t* text)
{
    char buffer[300] = {};
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    return buffer;
}

TEST_F(MainDialogTest, OnTheWindows95FamilyRowsAreCopiedInTheCodePage)
{
    ScanContext* context = main.Context();
    ASSERT_NE(context, nullptr);
    HWND list = main.Item(IDC_RESULTS);
    const UINT language = context->language;
    RuntimeApiOverride = FakeWindows98;
    context->AddResultRow(PathInTheCodePage(), DetectionName, StatusWords[OutcomeDeleted * 4 + language]);
    context->AddResultRow(L"C:\\a\\plain.exe", DetectionName, StatusWords[OutcomeKillFailed * 4 + language]);
    SetFocus(list);
    EmptyTheClipboard(main.window);
    PressWithControl(list, 'A');
    PressWithControl(list, 'C');
    RuntimeApiOverride = nullptr;

    EXPECT_EQ(FirstClipboardFormat(), static_cast<UINT>(CF_TEXT)) << "8-bit text, as that family's list holds";
    const std::string expected = Ansi(PathInTheCodePage()) + "\tWorm.Win32.Tavok\t" +
                                 StatusWords[OutcomeDeleted * 4 + language] + "\r\n" +
                                 "C:\\a\\plain.exe\tWorm.Win32.Tavok\t" +
                                 StatusWords[OutcomeKillFailed * 4 + language] + "\r\n";
    EXPECT_EQ(ClipboardBytes(), expected);
    EXPECT_EQ(Ansi(PathInTheCodePage()).find('?'), std::string::npos) << "the code page spells the path";
}

#ifndef MN_GETHMENU
#define MN_GETHMENU 0x01E1
#endif

struct MenuProbe {
    bool seen = false;
    std::wstring text;
    UINT state = 0;
    UINT id = 0;
    int count = 0;
};
MenuProbe* ShownMenu = nullptr;

void CALLBACK ProbeMenu(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND window = FindWindowA("#32768", nullptr);
    if (!window || !IsWindowVisible(window))
        return;
    auto menu = reinterpret_cast<HMENU>(SendMessageA(window, MN_GETHMENU, 0, 0));
    if (!menu)
        return;
    KillTimer(nullptr, timer);
    wchar_t text[64] = {};
    GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
    ShownMenu->seen = true;
    ShownMenu->text = text;
    ShownMenu->state = GetMenuState(menu, 0, MF_BYPOSITION);
    ShownMenu->id = GetMenuItemID(menu, 0);
    ShownMenu->count = GetMenuItemCount(menu);
    EndMenu();
}

// With fromKeyboard, as Shift+F10 or the menu key sends it: no position.
MenuProbe ContextMenuOf(HWND dialog, HWND list, bool fromKeyboard = false)
{
    MenuProbe probe;
    ShownMenu = &probe;
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, ProbeMenu);
    RECT rect = {};
    GetWindowRect(list, &rect);
    SendMessageA(dialog, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list),
                 fromKeyboard ? static_cast<LPARAM>(-1)
                              : MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2));
    KillTimer(nullptr, timer);
    ShownMenu = nullptr;
    return probe;
}

TEST_F(MainDialogTest, TheListsContextMenuCopiesTheSelectedRows)
{
    ScanContext* context = main.Context();
    ASSERT_NE(context, nullptr);
    HWND list = main.Item(IDC_RESULTS);

    MenuProbe empty = ContextMenuOf(main.window, list);
    ASSERT_TRUE(empty.seen) << "no menu shown";
    EXPECT_EQ(empty.count, 1);
    EXPECT_EQ(empty.text, ExpectedForSystem().copy);
    EXPECT_TRUE(empty.state & MF_GRAYED) << "nothing to copy";
    // Chosen all the same, the command leaves the clipboard alone.
    EmptyTheClipboard(main.window);
    main.Command(IDM_COPY);
    EXPECT_EQ(FirstClipboardFormat(), 0u);

    context->AddResultRow(L"C:\\病毒\\😀.exe", "Worm.Win32.Tavok", "Deleted");
    MenuProbe withRow = ContextMenuOf(main.window, list);
    ASSERT_TRUE(withRow.seen);
    EXPECT_EQ(withRow.text, ExpectedForSystem().copy);
    EXPECT_FALSE(withRow.state & MF_GRAYED);
    EXPECT_EQ(withRow.id, static_cast<UINT>(IDM_COPY));
    MenuProbe fromKeyboard = ContextMenuOf(main.window, list, true);
    ASSERT_TRUE(fromKeyboard.seen) << "no menu from the keyboard";
    EXPECT_EQ(fromKeyboard.text, ExpectedForSystem().copy);

    // The item's command, as the menu sends it when chosen.
    EmptyTheClipboard(main.window);
    main.Command(IDM_COPY);
    EXPECT_EQ(ClipboardUnicode(), L"C:\\病毒\\😀.exe\tWorm.Win32.Tavok\tDeleted\r\n");

    // Elsewhere than on the list the dialog shows no menu of its own.
    EXPECT_EQ(MainDlgProc(main.window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(main.Item(IDC_SCAN)), 0), FALSE);
}

}  // namespace

TEST(StartUp, AnEmptyDriveShowsNoSystemBox)
{
    const UINT before = SetErrorMode(0);
    {
        const LibraryHandle commonControls = PrepareProcess();
        const UINT mode = SetErrorMode(0);
        EXPECT_NE(mode & SEM_FAILCRITICALERRORS, 0u);
        EXPECT_TRUE(commonControls);
    }
    SetErrorMode(before);
}

// The program's manifest asks for the common controls of version 6: the
// process's activation context redirects comctl32.dll to the system's
// store, and start-up takes it from there. Every test of this program runs
// with those controls.
TEST(StartUp, TheCommonControlsOfVersion6ComeFromTheSideBySideStore)
{
    ACTCTX_SECTION_KEYED_DATA redirection = {};
    redirection.cbSize = sizeof redirection;
    ASSERT_TRUE(FindActCtxSectionStringA(0, nullptr, ACTIVATION_CONTEXT_SECTION_DLL_REDIRECTION, "comctl32.dll",
                                         &redirection))
        << "no activation context from the manifest";
    const LibraryHandle commonControls = PrepareProcess();
    ASSERT_TRUE(commonControls);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(commonControls.Get(), path, MAX_PATH);
    CharLowerA(path);
    EXPECT_NE(std::string(path).find("\\winsxs\\"), std::string::npos) << path;
}

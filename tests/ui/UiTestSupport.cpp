#include "UiTestSupport.h"

#include "App.h"
#include "MainDialog.h"
#include "Resource.h"
#include "ScanHost.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const ExpectedTexts ZhCn = {
    L"Veltrane“Tavok”病毒（Worm.Win32.Tavok）专杀工具",
    L"进度：",
    {L"杀毒", L"退出", L"关于...", L"停止"},
    {L"文件名", L"病毒名", L"状态"},
    L"Veltrane专杀工具",
    {L"Veltrane“Tavok”病毒（Worm.Win32.Tavok）专杀工具", L"版本号：", L"更新时间：",
     L"Veltrane信息技术有限公司"},
    L"确定",
    L"访问Veltrane网站，获取更多信息...",
    L"复制",
};

const ExpectedTexts English = {
    L"Veltrane \"Worm.Win32.Tavok\" Remover",
    L"Progress:",
    {L"Scan", L"Exit", L"About...", L"Stop"},
    {L"File Name", L"Virus Name", L"Status"},
    L"About",
    {L"Veltrane \"Worm.Win32.Tavok\" Remover", L"Version: ", L"Update: ", L"Veltrane Tech Co. Ltd."},
    L"Ok",
    L"To get more infomation, please visit our web site.",
    L"Copy",
};

const ExpectedTexts ZhTw = {
    L"Worm.Win32.Tavok專用查殺工具",
    L"進度：",
    {L"殺毒", L"退出", L"關於...", L"停止"},
    {L"文件名", L"病毒名", L"狀態"},
    L"Veltrane殺毒工具",
    {L"Worm.Win32.Tavok 專用查殺工具", L"版本號：", L"更新時間：", L"Veltrane科技股份有限公司"},
    L"確定",
    L"訪問Veltrane網站，獲取更多信息...",
    L"複製",
};

const ExpectedTexts Japanese = {
    L"ウイルス：Worm.Win32.Tavok 除去ツール",
    L"進捗状況",
    {L"スキャン", L"退出", L"...について", L"停止"},
    {L"ファイル名前", L"ウイルス名前", L"状態"},
    L"除去ツール",
    {L"Worm.Win32.Tavok 除去専用ツール", L"バージョン: ", L"更新日時: ", L"Veltrane科技株式会社"},
    L"OK",
    L"Veltraneのホームページを訪問し、詳細情報を入手する",
    L"コピー",
};

struct OwnedSearch {
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindOwned(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<OwnedSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsVisibleDialog(window) &&
        GetWindow(window, GW_OWNER) == search->owner) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

const ExpectedTexts& ExpectedForSystem()
{
    // Only these exact identifiers have texts of their own; zh_HK (0x0C04)
    // and everything else shows English.
    switch (GetSystemDefaultLangID()) {
    case 0x0804: return ZhCn;
    case 0x0404: return ZhTw;
    case 0x0411: return Japanese;
    default: return English;
    }
}

UiProcess::UiProcess()
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&classes);
    AppInstance = GetModuleHandleA(nullptr);
    SharedTooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, TTS_ALWAYSTIP, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                    AppInstance, nullptr);
    EXPECT_NE(SharedTooltip, nullptr);
}

UiProcess::~UiProcess()
{
    DestroyWindow(SharedTooltip);
    SharedTooltip = nullptr;
}

MainDialogWindow::MainDialogWindow()
{
    SetLastError(0xdeadbeef);
    window = CreateDialogParamA(AppInstance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDlgProc, 0);
    EXPECT_NE(window, nullptr) << "error " << GetLastError();
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
}

MainDialogWindow::~MainDialogWindow()
{
    DestroyWindow(window);
}

ScanContext* MainDialogWindow::Context() const
{
    return reinterpret_cast<ScanContext*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

bool PumpUntil(HWND dialog, const std::function<bool()>& done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog && IsDialogMessageA(dialog, &message))
                continue;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

void PumpFor(HWND dialog, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    PumpUntil(dialog, [&] { return GetTickCount() - start >= milliseconds; }, milliseconds + 1000);
}

HWND FindOwnedDialog(HWND owner)
{
    OwnedSearch search = {owner, nullptr};
    EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void FinishScan(MainDialogWindow& main)
{
    main.Command(IDC_STOP);
    HWND box = nullptr;
    ASSERT_TRUE(PumpUntil(main.window, [&] { return (box = FindOwnedDialog(main.window)) != nullptr; }))
        << "no summary box";
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ScanContext* context = main.Context();
    ASSERT_TRUE(PumpUntil(main.window, [&] { return context->references.load() == 1; }))
        << "the worker kept its reference";
}

std::wstring TextW(HWND window)
{
    wchar_t buffer[512] = {};
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

LONG ButtonType(HWND button)
{
    return GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK;
}

bool HasTimerMessage(HWND window)
{
    MSG message;
    return PeekMessageA(&message, window, WM_TIMER, WM_TIMER, PM_NOREMOVE) != FALSE;
}

int ScreenDpi()
{
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}

int ExpectedDpi()
{
    const char* value = std::getenv("TAVOK_EXPECT_DPI");
    return value ? std::atoi(value) : 0;
}

namespace {

BOOL CALLBACK CollectChild(HWND window, LPARAM parameter)
{
    auto* places = reinterpret_cast<std::vector<ChildPlace>*>(parameter);
    HWND parent = GetParent(window);
    RECT rect = {};
    GetWindowRect(window, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    places->push_back({window, rect});
    return TRUE;
}

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

}  // namespace

std::vector<ChildPlace> ChildPlaces(HWND parent)
{
    std::vector<ChildPlace> places;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&places));
    // Only the dialog's own controls, not their children (the list's header).
    std::vector<ChildPlace> own;
    for (const ChildPlace& place : places) {
        if (GetParent(place.window) == parent)
            own.push_back(place);
    }
    return own;
}

void ExpectLaidOutWithoutCuts(HWND parent)
{
    RECT client = {};
    GetClientRect(parent, &client);
    const std::vector<ChildPlace> places = ChildPlaces(parent);
    ASSERT_FALSE(places.empty());
    for (size_t i = 0; i < places.size(); ++i) {
        const ChildPlace& place = places[i];
        const int id = GetDlgCtrlID(place.window);
        SCOPED_TRACE(id);
        EXPECT_GE(place.rect.left, client.left);
        EXPECT_GE(place.rect.top, client.top);
        EXPECT_LE(place.rect.right, client.right);
        EXPECT_LE(place.rect.bottom, client.bottom);
        for (size_t j = i + 1; j < places.size(); ++j) {
            RECT overlap = {};
            EXPECT_FALSE(IntersectRect(&overlap, &place.rect, &places[j].rect))
                << "overlaps control " << GetDlgCtrlID(places[j].window);
        }

        // The text in the font the control draws it with.
        const std::wstring cls = ClassOf(place.window);
        const LONG style = GetWindowLongA(place.window, GWL_STYLE);
        const bool textStatic = _wcsicmp(cls.c_str(), L"Static") == 0 && (style & SS_TYPEMASK) <= SS_RIGHT;
        const bool pushButton = _wcsicmp(cls.c_str(), L"Button") == 0;
        const std::wstring text = TextW(place.window);
        if ((!textStatic && !pushButton) || text.empty())
            continue;
        HDC dc = GetDC(place.window);
        // As the control draws: its own font, then what its parent selects
        // for it (the About link's font).
        HGDIOBJ font = reinterpret_cast<HGDIOBJ>(SendMessageA(place.window, WM_GETFONT, 0, 0));
        HGDIOBJ previous = SelectObject(dc, font ? font : GetStockObject(SYSTEM_FONT));
        if (textStatic)
            SendMessageA(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                         reinterpret_cast<LPARAM>(place.window));
        SIZE extent = {};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
        SelectObject(dc, previous);
        ReleaseDC(place.window, dc);
        RECT inside = {};
        GetClientRect(place.window, &inside);
        // A push button draws its text inside its edges and focus frame.
        const int margin = pushButton ? 2 * GetSystemMetrics(SM_CXEDGE) + 2 : 0;
        EXPECT_LE(extent.cx, inside.right - margin) << "text cut: width";
        EXPECT_LE(extent.cy, inside.bottom) << "text cut: height";
    }
}

SIZE IconSize(HICON icon)
{
    ICONINFO info = {};
    SIZE size = {};
    if (!GetIconInfo(icon, &info))
        return size;
    BITMAP bitmap = {};
    GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
    size.cx = bitmap.bmWidth;
    size.cy = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return size;
}

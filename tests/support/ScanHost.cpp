#include "ScanHost.h"

#include "FileSystem.h"

#include <commctrl.h>
#include <gtest/gtest.h>

namespace {

const char HostClass[] = "TavokTestScanHost";


ScanHost* HostOf(HWND window)
{
    return reinterpret_cast<ScanHost*>(GetWindowLongPtrA(GetAncestor(window, GA_ROOT), GWLP_USERDATA));
}

struct WorkerStart {
    const std::function<void(ScanContext&)>* body;
    ScanContext* context;
};

DWORD WINAPI WorkerProc(LPVOID parameter)
{
    auto* start = static_cast<WorkerStart*>(parameter);
    (*start->body)(*start->context);
    return 0;
}

struct BoxSearch {
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter)
{
    if (IsVisibleDialog(window)) {
        reinterpret_cast<BoxSearch*>(parameter)->box = window;
        return FALSE;
    }
    return TRUE;
}

struct TextSearch {
    std::wstring text;
};

BOOL CALLBACK FindBoxText(HWND window, LPARAM parameter)
{
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    if (_stricmp(name, "Static") == 0 && (GetWindowLongA(window, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
        std::wstring text = WindowTextW(window);
        if (!text.empty()) {
            reinterpret_cast<TextSearch*>(parameter)->text = text;
            return FALSE;
        }
    }
    return TRUE;
}

}  // namespace

bool IsVisibleDialog(HWND window)
{
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    return std::string(name) == "#32770" && IsWindowVisible(window);
}

std::wstring MessageBoxText(HWND box)
{
    TextSearch search;
    EnumChildWindows(box, FindBoxText, reinterpret_cast<LPARAM>(&search));
    return search.text;
}

std::wstring WindowTextW(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

std::wstring Widen(const std::string& ansi)
{
    if (ansi.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], length);
    return wide;
}

ScanHost::ScanHost()
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&classes);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = HostClass;
    RegisterClassA(&windowClass);  // a second host finds it registered already

    window = CreateWindowExA(0, HostClass, "scan host", WS_OVERLAPPEDWINDOW, 0, 0, 600, 400,
                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    progressBar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 10, 300, 20,
                                  window, reinterpret_cast<HMENU>(1001), nullptr, nullptr);
    statusLine = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP, 10, 40,
                                 500, 20, window, reinterpret_cast<HMENU>(1000), nullptr, nullptr);
    resultList = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL,
                                 10, 70, 560, 280, window, reinterpret_cast<HMENU>(1002), nullptr, nullptr);
    for (int column = 0; column < 3; ++column) {
        LVCOLUMNA header = {};
        header.mask = LVCF_WIDTH | LVCF_SUBITEM;
        header.cx = 100;
        header.iSubItem = column;
        SendMessageA(resultList, LVM_INSERTCOLUMNA, column, reinterpret_cast<LPARAM>(&header));
    }
    // A wide subclass, so that a name outside the code page reaches the
    // control as it is.
    statusPrevious_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(statusLine, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusProc)));
    progressPrevious_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(progressBar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressProc)));

    context_ = new ScanContext(progressBar, statusLine, resultList);
}

ScanHost::~ScanHost()
{
    DestroyWindow(window);
    context_->Release();
}

LRESULT CALLBACK ScanHost::HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SCAN_DONE) {
        ScanHost* host = HostOf(hwnd);
        if (host && host->current_)
            ++host->current_->scanDoneMessages;
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK ScanHost::StatusProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    ScanHost* host = HostOf(hwnd);
    if (message == WM_SETTEXT && host->current_)
        host->current_->statusTexts.push_back(AnsiFromWide(reinterpret_cast<const wchar_t*>(lParam)).c_str());
    return CallWindowProcW(host->statusPrevious_, hwnd, message, wParam, lParam);
}

LRESULT CALLBACK ScanHost::ProgressProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    ScanHost* host = HostOf(hwnd);
    if (message >= WM_USER && message <= WM_USER + 20 && host->current_)
        host->current_->progress.push_back({message, wParam, lParam});
    return CallWindowProcA(host->progressPrevious_, hwnd, message, wParam, lParam);
}

ScanReport ScanHost::Run(const std::function<void(ScanContext&)>& body, DWORD timeoutMs,
                         const std::function<void(HWND)>& onSummary)
{
    ScanReport report;
    current_ = &report;
    WorkerStart start = {&body, context_};
    DWORD workerId = 0;
    HANDLE worker = CreateThread(nullptr, 0, WorkerProc, &start, 0, &workerId);
    EXPECT_NE(worker, nullptr);

    const DWORD deadline = GetTickCount() + timeoutMs;
    for (;;) {
        const DWORD wait = MsgWaitForMultipleObjects(1, &worker, FALSE, 20, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) {
            report.finished = true;
            break;
        }
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        BoxSearch search = {nullptr};
        EnumThreadWindows(workerId, FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.box && !report.summaryShown) {
            report.summaryShown = true;
            report.summaryAfterScanDone = report.scanDoneMessages == 1;
            report.summaryCaption = WindowTextW(search.box);
            report.summaryText = MessageBoxText(search.box);
            report.summaryOwner = GetWindow(search.box, GW_OWNER);
            if (onSummary)
                onSummary(search.box);
            PostMessageA(search.box, WM_COMMAND, IDOK, 0);
        }
        if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
            ADD_FAILURE() << "scan did not finish in time";
            context_->RequestStop();
            if (search.box)
                PostMessageA(search.box, WM_COMMAND, IDOK, 0);
            if (WaitForSingleObject(worker, 5000) == WAIT_OBJECT_0)
                report.finished = true;
            else
                TerminateThread(worker, 1);  // its stack refers to this frame
            break;
        }
    }
    CloseHandle(worker);
    current_ = nullptr;
    report.rows = Rows();
    return report;
}

std::vector<ResultRow> ScanHost::Rows() const
{
    std::vector<ResultRow> rows;
    const int count = static_cast<int>(SendMessageW(resultList, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        ResultRow row;
        std::wstring* cells[3] = {&row.path, &row.name, &row.outcome};
        for (int column = 0; column < 3; ++column) {
            wchar_t buffer[1024] = {};
            LVITEMW item = {};
            item.iSubItem = column;
            item.pszText = buffer;
            item.cchTextMax = 1024;
            SendMessageW(resultList, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
            *cells[column] = buffer;
        }
        rows.push_back(row);
    }
    return rows;
}

#include "ScanContext.h"

#include "FileSystem.h"
#include "RuntimeApi.h"

#include <commctrl.h>


LanguageIndex LanguageIndexFromLangId(LANGID id)
{
    switch (id) {
    case 0x0804: return LanguageZhCn;
    case 0x0404: return LanguageZhTw;
    case 0x0411: return LanguageJapanese;
    default:     return LanguageEnglish;
    }
}

LanguageIndex SystemLanguageIndex()
{
    return LanguageIndexFromLangId(GetSystemDefaultLangID());
}

ScanContext::ScanContext(HWND progressBar_, HWND statusLine_, HWND resultList_)
    : statusLine(statusLine_), progressBar(progressBar_), resultList(resultList_),
      rowCount(0), language(LanguageEnglish), stopFlag(0), references(1), workerBusy(false)
{
}

void ScanContext::Release()
{
    if (references.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

void ScanContext::SetProgressRange(int low, int high) const
{
    SendMessageA(progressBar, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void ScanContext::SetProgressPos(int pos) const
{
    SendMessageA(progressBar, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void ScanContext::SetProgressStep(int step) const
{
    SendMessageA(progressBar, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void ScanContext::StepProgress() const
{
    SendMessageA(progressBar, PBM_STEPIT, 0, 0);
}

void ScanContext::SetStatusText(const char* text) const
{
    SetWindowTextA(statusLine, text);
}

void ScanContext::SetStatusText(const wchar_t* text) const
{
    if (OnWindows9x())
        SetWindowTextA(statusLine, AnsiFromWide(text).c_str());
    else
        SetWindowTextW(statusLine, text);
}

void ScanContext::AddResultRow(const wchar_t* path, const char* name, const char* outcome)
{
    int index;
    if (OnWindows9x()) {
        AString ansiPath = AnsiFromWide(path);
        LVITEMA row = {};
        row.mask = LVIF_TEXT;
        row.iItem = static_cast<int>(rowCount);
        row.pszText = &ansiPath[0];
        index = static_cast<int>(SendMessageA(resultList, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&row)));
    } else {
        // The list view takes wide text on the NT family, though the dialog
        // was made with the 8-bit functions.
        LVITEMW row = {};
        row.mask = LVIF_TEXT;
        row.iItem = static_cast<int>(rowCount);
        row.pszText = const_cast<wchar_t*>(path);
        index = static_cast<int>(SendMessageA(resultList, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&row)));
    }

    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = index;
    item.iSubItem = 1;
    item.pszText = const_cast<char*>(name);
    SendMessageA(resultList, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    item.iSubItem = 2;
    item.pszText = const_cast<char*>(outcome);
    SendMessageA(resultList, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));

    // A user may select many rows to copy them; as the scan goes, the
    // newest row alone is selected.
    LVITEMA none = {};
    none.stateMask = LVIS_SELECTED;
    SendMessageA(resultList, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    LVITEMA state = {};
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(resultList, LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&state));
    SendMessageA(resultList, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);

    ++rowCount;
}

void ScanContext::NotifyScanDone() const
{
    SendMessageA(GetParent(progressBar), WM_SCAN_DONE, 0, 0);
}

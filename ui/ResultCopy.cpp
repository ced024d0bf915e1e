#include "ResultCopy.h"

#include "RuntimeApi.h"
#include "Strings.h"

#include <commctrl.h>

#include <cstring>

namespace {

// The text of one cell, however long: paths may run to 32,767 characters.
template <class Char, class Item, UINT GetText>
bool AppendCell(HWND list, int row, int column, BasicString<Char>& text)
{
    BasicString<Char> cell;
    for (size_t room = MAX_PATH;; room *= 4) {
        cell.resize(room);
        if (cell.failed())
            return false;
        Item item = {};
        item.iSubItem = column;
        item.pszText = &cell[0];
        item.cchTextMax = static_cast<int>(room);
        const size_t length = static_cast<size_t>(
            SendMessageA(list, GetText, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
        if (length + 1 < room || room > 0x10000) {
            text.append(cell.c_str(), length < room ? length : room - 1);
            return !text.failed();
        }
    }
}

template <class Char, class Item, UINT GetText>
BasicString<Char> SelectedRowsText(HWND list, const Char* tab, const Char* lineEnd)
{
    BasicString<Char> text;
    for (int row = -1;;) {
        row = static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(row), LVNI_SELECTED));
        if (row < 0)
            break;
        for (int column = 0; column < 3; ++column) {
            if (!AppendCell<Char, Item, GetText>(list, row, column, text))
                return BasicString<Char>();
            text += column < 2 ? tab : lineEnd;
        }
    }
    return text.failed() ? BasicString<Char>() : text;
}

// The clipboard owns the memory once SetClipboardData takes it.
BOOL PutOnClipboard(HWND owner, UINT format, const void* text, size_t bytes)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, bytes);
    if (!memory)
        return FALSE;
    void* target = GlobalLock(memory);
    if (!target) {
        GlobalFree(memory);
        return FALSE;
    }
    std::memcpy(target, text, bytes);
    GlobalUnlock(memory);
    if (!OpenClipboard(owner)) {
        GlobalFree(memory);
        return FALSE;
    }
    EmptyClipboard();
    const bool taken = SetClipboardData(format, memory) != nullptr;
    CloseClipboard();
    if (!taken)
        GlobalFree(memory);
    return taken;
}

}  // namespace

void SelectAllRows(HWND list)
{
    LVITEMA state = {};
    state.state = LVIS_SELECTED;
    state.stateMask = LVIS_SELECTED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&state));
}

BOOL CopySelectedRows(HWND list, HWND owner)
{
    if (OnWindows9x()) {
        // The Windows 95 family has no wide list text: the rows are 8-bit
        // already, in the code page the window shows them in.
        const AString text = SelectedRowsText<char, LVITEMA, LVM_GETITEMTEXTA>(list, "\t", "\r\n");
        if (text.empty())
            return FALSE;
        return PutOnClipboard(owner, CF_TEXT, text.c_str(), text.size() + 1);
    }
    const WString text = SelectedRowsText<wchar_t, LVITEMW, LVM_GETITEMTEXTW>(list, L"\t", L"\r\n");
    if (text.empty())
        return FALSE;
    return PutOnClipboard(owner, CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

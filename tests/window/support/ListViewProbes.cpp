#include "ListViewProbes.h"

#include "Utils.h"

#include <commctrl.h>

int ListRowCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

std::string ListText(HWND list, int row, int column)
{
    char buffer[1024] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = sizeof(buffer);
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return buffer;
}

std::string ListTextUtf8(HWND list, int row, int column)
{
    std::vector<wchar_t> buffer(65536);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return WideToUtf8(buffer.data());
}

std::string ListHeaders(HWND list, std::vector<int>* widths)
{
    std::string captions;
    auto header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    int count = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char caption[256] = {};
        HDITEMA item{};
        item.mask = HDI_TEXT | HDI_WIDTH;
        item.pszText = caption;
        item.cchTextMax = sizeof(caption);
        SendMessageA(header, HDM_GETITEMA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
        captions += std::string(caption) + ";";
        if (widths)
            widths->push_back(item.cxy);
    }
    return captions;
}

void SelectListRow(HWND list, int row)
{
    LVITEMA none{};
    none.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
    if (row < 0)
        return;
    LVITEMA one{};
    one.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    one.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&one));
}

int ListSelectedRow(HWND list)
{
    return static_cast<int>(SendMessageA(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

int RowOfProcess(HWND list, DWORD processId)
{
    for (int row = 0; row < ListRowCount(list); ++row)
        if (ListText(list, row, 0) == std::to_string(processId))
            return row;
    return -1;
}

RECT ListCellRect(HWND list, int row, int column)
{
    RECT rect{};
    rect.top = column;
    rect.left = LVIR_BOUNDS;
    SendMessageA(list, column == 0 ? LVM_GETITEMRECT : LVM_GETSUBITEMRECT, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&rect));
    return rect;
}

#include "Actions.h"

#include "Errors.h"

TAction& TActionList::Add(TAction action)
{
    VASSERT(!Find(action.Id), "Actions");
    FActions.push_back(std::make_unique<TAction>(std::move(action)));
    return *FActions.back();
}

TAction* TActionList::Find(int id) const
{
    for (const auto& action : FActions)
        if (action->Id == id)
            return action.get();
    return nullptr;
}

TAction* TActionList::FindShortCut(WORD key, BYTE modifiers) const
{
    for (const auto& action : FActions)
        if (action->ShortCut && action->ShortCut == key && action->ShortCutModifiers == modifiers)
            return action.get();
    return nullptr;
}

std::string ShortCutText(WORD key, BYTE modifiers)
{
    std::string text;
    if (modifiers & FCONTROL)
        text += "Ctrl+";
    if (modifiers & FSHIFT)
        text += "Shift+";
    if (modifiers & FALT)
        text += "Alt+";
    if ((key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9'))
        text += static_cast<char>(key);
    else if (key >= VK_F1 && key <= VK_F24)
        text += "F" + std::to_string(key - VK_F1 + 1);
    return text;
}

BYTE ShortCutModifiersHeld()
{
    BYTE modifiers = 0;
    if (GetKeyState(VK_CONTROL) & 0x8000)
        modifiers |= FCONTROL;
    if (GetKeyState(VK_SHIFT) & 0x8000)
        modifiers |= FSHIFT;
    if (GetKeyState(VK_MENU) & 0x8000)
        modifiers |= FALT;
    return modifiers;
}

void TActionList::UpdateActions()
{
    for (const auto& action : FActions) {
        if (action->OnUpdate)
            action->OnUpdate(*action);
        Show(*action);
    }
}

bool TActionList::Execute(int id)
{
    TAction* action = Find(id);
    if (!action)
        return false;
    // The state shown may be older than the last idle moment; a command that arrives
    // for a disabled action (a queued click, a posted command) must not run.
    if (action->OnUpdate)
        action->OnUpdate(*action);
    Show(*action);
    if (action->Enabled && action->OnExecute)
        action->OnExecute();
    return true;
}

void TActionList::BindMenu(HMENU menu) { FMenus.push_back(menu); }

void TActionList::BindToolBar(HWND toolBar) { FToolBars.push_back(toolBar); }

void TActionList::AppendMenuItem(HMENU menu, int id)
{
    TAction* action = Find(id);
    VASSERT(action, "Actions");
    MENUITEMINFOA item{};
    item.cbSize = sizeof(item);
    item.fMask = MIIM_ID | MIIM_STRING | MIIM_FTYPE;
    item.fType = MFT_STRING;
    item.wID = static_cast<UINT>(id);
    std::string caption = action->Caption;
    if (action->ShortCut)
        caption += "\t" + ShortCutText(action->ShortCut, action->ShortCutModifiers);
    item.dwTypeData = caption.data();
    if (action->ImageIndex >= 0) {
        item.fMask |= MIIM_BITMAP;
        item.hbmpItem = HBMMENU_CALLBACK;
    }
    InsertMenuItemA(menu, GetMenuItemCount(menu), TRUE, &item);
}

bool TActionList::MeasureMenuImage(MEASUREITEMSTRUCT& item) const
{
    if (item.CtlType != ODT_MENU || !Find(static_cast<int>(item.itemID)))
        return false;
    int cx = 16, cy = 16;
    if (Images)
        ImageList_GetIconSize(Images, &cx, &cy);
    item.itemWidth = static_cast<UINT>(cx);
    item.itemHeight = static_cast<UINT>(cy);
    return true;
}

bool TActionList::DrawMenuImage(const DRAWITEMSTRUCT& item) const
{
    if (item.CtlType != ODT_MENU)
        return false;
    TAction* action = Find(static_cast<int>(item.itemID));
    if (!action || !Images || action->ImageIndex < 0)
        return false;
    int cx = 16, cy = 16;
    ImageList_GetIconSize(Images, &cx, &cy);
    int x = item.rcItem.left;
    int y = item.rcItem.top + (item.rcItem.bottom - item.rcItem.top - cy) / 2;
    UINT style = (item.itemState & ODS_GRAYED) ? ILD_TRANSPARENT | ILD_BLEND50 : ILD_TRANSPARENT;
    ImageList_Draw(Images, action->ImageIndex, item.hDC, x, y, style);
    return true;
}

void TActionList::Show(const TAction& action)
{
    for (HMENU menu : FMenus) {
        UINT enable = action.Enabled ? MF_ENABLED : MF_GRAYED;
        UINT state = GetMenuState(menu, static_cast<UINT>(action.Id), MF_BYCOMMAND);
        if (state == static_cast<UINT>(-1))
            continue;
        if (((state & MF_GRAYED) != 0) == action.Enabled)
            EnableMenuItem(menu, static_cast<UINT>(action.Id), MF_BYCOMMAND | enable);
        if (((state & MF_CHECKED) != 0) != action.Checked)
            CheckMenuItem(menu, static_cast<UINT>(action.Id), MF_BYCOMMAND | (action.Checked ? MF_CHECKED : MF_UNCHECKED));
    }
    for (HWND toolBar : FToolBars) {
        WPARAM id = static_cast<WPARAM>(action.Id);
        if (SendMessageA(toolBar, TB_COMMANDTOINDEX, id, 0) < 0)
            continue;
        if ((SendMessageA(toolBar, TB_ISBUTTONENABLED, id, 0) != 0) != action.Enabled)
            SendMessageA(toolBar, TB_ENABLEBUTTON, id, MAKELPARAM(action.Enabled, 0));
        if ((SendMessageA(toolBar, TB_ISBUTTONCHECKED, id, 0) != 0) != action.Checked)
            SendMessageA(toolBar, TB_CHECKBUTTON, id, MAKELPARAM(action.Checked, 0));
    }
}

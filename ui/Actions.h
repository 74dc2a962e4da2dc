// Commands as data: an action has an id, a caption, an image, a category, an update rule
// that sets its enabled and checked state, and a handler. Menu items and tool buttons are
// bound to actions by id: one WM_COMMAND dispatcher runs them, and the states that the
// update rules set (whenever the application falls idle) are shown on every menu and
// tool bar that carries the action.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class TAction {
public:
    int Id = 0;
    const char* Category = "";
    const char* Caption = "";
    int ImageIndex = -1;
    // The key that runs the action (a virtual-key code, 0 for none) with the modifiers
    // held (FCONTROL, FSHIFT, FALT); the menus show it after the caption.
    WORD ShortCut = 0;
    BYTE ShortCutModifiers = 0;
    std::function<void()> OnExecute;
    // Sets Enabled and Checked; none means always enabled.
    std::function<void(TAction&)> OnUpdate;

    bool Enabled = true;
    bool Checked = false;
};

// How a menu shows a short cut: "Ctrl+Shift+S".
std::string ShortCutText(WORD key, BYTE modifiers);
// The modifiers held now, as the calling thread's key state has them (FCONTROL, FSHIFT,
// FALT).
BYTE ShortCutModifiersHeld();

class TActionList {
public:
    // The images of the actions, for the menus (the tool bars hold their own reference).
    HIMAGELIST Images = nullptr;

    TAction& Add(TAction action);
    // The action with this id, or none.
    TAction* Find(int id) const;
    // The action whose short cut is this key with these modifiers (FCONTROL, FSHIFT,
    // FALT), or none.
    TAction* FindShortCut(WORD key, BYTE modifiers) const;

    // Runs every update rule and shows the states.
    void UpdateActions();
    // The dispatcher: refreshes the action's state and runs it if it is enabled. False
    // when id belongs to no action.
    bool Execute(int id);

    // Menus and tool bars whose items (by command id) show the actions' states.
    void BindMenu(HMENU menu);
    void BindToolBar(HWND toolBar);
    // A menu item for an action: its caption, and its image drawn by the owner window
    // (which passes WM_MEASUREITEM and WM_DRAWITEM of menus to the two calls below).
    void AppendMenuItem(HMENU menu, int id);
    bool MeasureMenuImage(MEASUREITEMSTRUCT& item) const;
    bool DrawMenuImage(const DRAWITEMSTRUCT& item) const;

private:
    void Show(const TAction& action);

    std::vector<std::unique_ptr<TAction>> FActions;
    std::vector<HMENU> FMenus;
    std::vector<HWND> FToolBars;
};

// The main window's commands: the action table, the menus and the tool bar bound to it,
// and the actions' handlers.
#include "Main.h"

#include "Application.h"
#include "DlgAbout.h"
#include "DlgControls.h"
#include "DlgRun.h"
#include "DlgSelProcess.h"
#include "DlgStmtColor.h"
#include "DlgTraceMask.h"
#include "Errors.h"
#include "Images.h"
#include "TraceExport.h"
#include "Utils.h"

namespace {

const char* const Unit = "Main";

struct TActionDef {
    int Id;
    const char* Category;
    const char* Caption;
    int Image;
    void (TfrmMain::*Execute)();
    void (TfrmMain::*Update)(TAction&);
    WORD ShortCut = 0;
    BYTE ShortCutModifiers = 0;
};

const TActionDef ActionDefs[] = {
    {cmDebugAttach, "Debug", "Attach...", imgAttach, &TfrmMain::actDebugAttachExecute,
     &TfrmMain::actDebugAttachUpdate},
    {cmDebugRun, "Debug", "Run...", imgRun, &TfrmMain::actDebugRunExecute,
     &TfrmMain::actDebugAttachUpdate},
    {cmDebugStop, "Debug", "Stop", imgStop, &TfrmMain::actDebugStopExecute,
     &TfrmMain::actDebugStopUpdate},
    {cmSave, "Trace", "Save log...", imgSave, &TfrmMain::actSaveExecute, nullptr},
    {cmViewClear, "Trace", "Clear log", imgClear, &TfrmMain::actViewClearExecute, nullptr},
    {cmTraceOpt, "Trace", "Options...", -1, &TfrmMain::actTraceOptExecute,
     &TfrmMain::actDebugAttachUpdate},
    {cmAbout, "Help", "About...", -1, &TfrmMain::actAboutExecute, nullptr},
    {cmExit, "Debug", "Exit", -1, &TfrmMain::actExitExecute, nullptr},
    {cmTraceEnable, "Trace", "Enable trace", imgTraceEnable,
     &TfrmMain::actTraceEnableExecute, &TfrmMain::actTraceEnableUpdate},
    {cmStmtColorize, "Trace", "Statement colorize...", imgColorize,
     &TfrmMain::actStmtColorizeExecute, nullptr},
    {cmEditCopy, "Edit", "&Copy", -1, &TfrmMain::actEditCopyExecute, nullptr, 'C', FCONTROL},
    {cmEditSelectAll, "Edit", "Select &All", -1, &TfrmMain::actEditSelectAllExecute,
     nullptr, 'A', FCONTROL},
    {cmEditFilter, "Edit", "&Filter", -1, &TfrmMain::actEditFilterExecute, nullptr, 'F',
     FCONTROL},
    {cmViewStatements, "View", "&Statements", -1, &TfrmMain::actViewStatementsExecute,
     &TfrmMain::actViewStatementsUpdate, 'T', FCONTROL},
    {cmSaveStatements, "Trace", "Save &statements...", -1,
     &TfrmMain::actSaveStatementsExecute, nullptr, 'S', FCONTROL | FSHIFT},
    {cmViewGroupByShape, "View", "Group by s&hape", -1, &TfrmMain::actViewGroupByShapeExecute,
     &TfrmMain::actViewGroupByShapeUpdate},
    {cmTraceOpen, "Trace", "Open trace...", -1, &TfrmMain::actTraceOpenExecute, nullptr, 'O', FCONTROL},
};

// Menu bar: a caption and the command ids of its items, 0 for a separator.
struct TMenuDef {
    const char* Caption;
    int Items[8];
};

// The menus in the usual order: the program's own first, as a File menu stands, then Edit
// and View, then the rest, Help last.
const TMenuDef MenuDefs[] = {
    {"&Debug", {cmDebugRun, cmDebugAttach, cmDebugStop, 0, cmExit, -1}},
    {"&Edit", {cmEditCopy, cmEditSelectAll, 0, cmEditFilter, -1}},
    {"&View", {cmViewStatements, cmViewGroupByShape, -1}},
    {"&Trace", {cmTraceOpen, cmSave, cmViewClear, cmTraceOpt, cmTraceEnable, cmStmtColorize, cmSaveStatements, -1}},
    {"Help", {cmAbout, -1}},
};

struct TToolButtonDef {
    int Id;  // 0: separator
    const char* Hint;
    BYTE Style;
};

// btnRun, btnAttach, btnDebugStop, ToolButton1, btnSave, btnClear, btnTraceEnable, btnColorize.
const TToolButtonDef ToolButtonDefs[] = {
    {cmDebugRun, nullptr, BTNS_DROPDOWN},
    {cmDebugAttach, "Attach", BTNS_BUTTON},
    {cmDebugStop, "Stop", BTNS_BUTTON},
    {0, nullptr, BTNS_SEP},
    {cmSave, "Save", BTNS_BUTTON},
    {cmViewClear, "Clear view", BTNS_BUTTON},
    {cmTraceEnable, "Enable trace", BTNS_CHECK},
    {cmStmtColorize, "Statement colorize", BTNS_BUTTON},
};

const int ToolSeparatorWidth = 8;
const int ToolButtonSize = 25;

const char* HintOf(int id)
{
    for (const TToolButtonDef& def : ToolButtonDefs)
        if (def.Id == id && def.Id != 0)
            return def.Hint;
    return nullptr;
}

} // namespace

// ---------------------------------------------------------------------------
// Creation

void TfrmMain::CreateActions()
{
    for (const TActionDef& def : ActionDefs) {
        TAction action;
        action.Id = def.Id;
        action.Category = def.Category;
        action.Caption = def.Caption;
        action.ImageIndex = def.Image;
        action.ShortCut = def.ShortCut;
        action.ShortCutModifiers = def.ShortCutModifiers;
        action.OnExecute = [this, execute = def.Execute] { (this->*execute)(); };
        if (def.Update)
            action.OnUpdate = [this, update = def.Update](TAction& sender) { (this->*update)(sender); };
        ActionList.Add(std::move(action));
    }
}

void TfrmMain::CreateMenus()
{
    // Held here until the window has taken it (see the constructor).
    FMenuBar.reset(CreateMenu());
    mmu = FMenuBar.get();
    for (const TMenuDef& def : MenuDefs) {
        HMENU popup = CreatePopupMenu();
        for (int id : def.Items) {
            if (id < 0)
                break;
            if (id == 0)
                AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
            else
                ActionList.AppendMenuItem(popup, id);
        }
        AppendMenuA(mmu, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup), def.Caption);
    }
    ActionList.BindMenu(mmu);
    pmnRecents.reset(CreatePopupMenu());
}

void TfrmMain::CreateToolBar()
{
    ToolBar1 = CreateChildControl(Handle, TOOLBARCLASSNAMEA, "",
                                  TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_NODIVIDER | CCS_NORESIZE | CCS_NOPARENTALIGN |
                                      CCS_TOP,
                                  0, 2, 0, ToolBarHeight - 4, idToolBar, 0, FFont.get());
    SendMessageA(ToolBar1, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(ToolBar1, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    SendMessageA(ToolBar1, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(IML.get()));
    std::vector<TBBUTTON> buttons;
    for (const TToolButtonDef& def : ToolButtonDefs) {
        TBBUTTON button{};
        button.idCommand = def.Id;
        button.fsStyle = def.Style;
        button.fsState = TBSTATE_ENABLED;
        if (def.Style == BTNS_SEP) {
            button.iBitmap = ToolSeparatorWidth;
        } else {
            const TAction* action = ActionList.Find(def.Id);
            VASSERT(action, Unit);
            button.iBitmap = action->ImageIndex;
        }
        button.iString = -1;
        buttons.push_back(button);
    }
    SendMessageA(ToolBar1, TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    SendMessageA(ToolBar1, TB_SETBUTTONSIZE, 0, MAKELPARAM(ToolButtonSize, ToolButtonSize));
    ActionList.BindToolBar(ToolBar1);
    ActionList.UpdateActions();
}

LRESULT TfrmMain::ToolBarNotify(NMHDR& header)
{
    switch (header.code) {
    case TBN_DROPDOWN: {
        auto& info = reinterpret_cast<NMTOOLBARA&>(header);
        if (info.iItem != cmDebugRun)
            return TBDDRET_NODEFAULT;
        RECT r{};
        SendMessageA(ToolBar1, TB_GETRECT, cmDebugRun, reinterpret_cast<LPARAM>(&r));
        MapWindowPoints(ToolBar1, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
        TrackPopupMenu(pmnRecents.get(), TPM_LEFTALIGN | TPM_TOPALIGN, r.left, r.bottom, 0, Handle, nullptr);
        return TBDDRET_DEFAULT;
    }
    case TTN_GETDISPINFOA:
    case TTN_GETDISPINFOW: {
        const char* hint = HintOf(static_cast<int>(header.idFrom));
        SetToolTipText(header, hint ? hint : "");
        return 0;
    }
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Handlers

void TfrmMain::actDebugAttachUpdate(TAction& sender) { sender.Enabled = !Session.Active(); }

void TfrmMain::actDebugStopUpdate(TAction& sender) { sender.Enabled = Session.Active(); }

void TfrmMain::actTraceEnableUpdate(TAction& sender) { sender.Checked = TraceEnabled; }

void TfrmMain::actDebugRunExecute()
{
    VASSERT(!Session.Active(), Unit);
    TRunDlg dlg(odg);
    if (dlg.ShowModal() == mrOk)
        RunProgram(dlg.Run);
}

void TfrmMain::actDebugAttachExecute()
{
    VASSERT(!Session.Active(), Unit);
    TSelProcessDlg dlg;
    if (dlg.ShowModal() == mrOk && dlg.SelectedProcess)
        AttachProcess(dlg.SelectedProcess);
}

void TfrmMain::actDebugStopExecute() { StopSession(); }

// The rows shown: all of them, or those the filter lets through; a trace file, the whole list.
void TfrmMain::actSaveExecute()
{
    if (!sdg.Execute(Handle, true))
        return;
    if (sdg.FilterIndex != TraceFileFilterIndex) {
        SaveChosenFile(sdg, TraceView->TraceFilter);
        return;
    }
    sdg.FileName = TraceFileName(sdg.FileName);
    SaveTraceFile(sdg.FileName);
    sdg.InitialDir = ExtractFileDir(sdg.FileName);
}

void TfrmMain::actViewClearExecute() { ClearView(); }

void TfrmMain::actTraceOptExecute()
{
    TTraceMaskDlg dlg(TraceMask, Settings.Hooks, Settings.HideValues);
    if (dlg.ShowModal() == mrOk) {
        TraceMask = dlg.TraceMask;
        Settings.Hooks = dlg.Hooks;
        Settings.HideValues = dlg.HideValues;
    }
}

void TfrmMain::actAboutExecute()
{
    TAboutDlg dlg;
    dlg.ShowModal();
}

void TfrmMain::actExitExecute() { PostMessageA(Handle, WM_CLOSE, 0, 0); }

void TfrmMain::actTraceEnableExecute() { TraceEnabled = !TraceEnabled; }

void TfrmMain::actStmtColorizeExecute()
{
    // Taken back or kept, the rules now in force show at once. (A dialog that fails
    // leaves the rules as they were.)
    EditColorRules(Settings.ColorRules, IML.get());
    InvalidateRect(TraceView->lvwTrace, nullptr, TRUE);
}

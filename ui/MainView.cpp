// The main window's view of a long trace: the filter box and the rows it lets through, the
// selection and Copy, the statements view, the short cuts and the status bar.
#include "Main.h"

#include "DlgControls.h"
#include "Errors.h"
#include "HookKinds.h"
#include "Utils.h"

#include <cwchar>
#include <iterator>

namespace {

const char* const Unit = "Main";
void CopyToClipboard(HWND owner, const std::string& text)
{
    std::wstring wide = Utf8ToWide(text);
    // Another program may hold the clipboard for a moment.
    bool open = false;
    for (int attempt = 0; attempt < 10 && !(open = OpenClipboard(owner)); ++attempt)
        Sleep(20);
    if (!open)
        RaiseLastOSError();
    HGLOBAL memory = nullptr;
    try {
        if (!EmptyClipboard())
            RaiseLastOSError();
        memory = GlobalAlloc(GMEM_MOVEABLE, (wide.size() + 1) * sizeof(wchar_t));
        if (!memory)
            RaiseLastOSError();
        auto* copy = static_cast<wchar_t*>(GlobalLock(memory));
        std::wmemcpy(copy, wide.c_str(), wide.size() + 1);
        GlobalUnlock(memory);
        // The clipboard owns the memory once it has taken it.
        if (!SetClipboardData(CF_UNICODETEXT, memory))
            RaiseLastOSError();
    } catch (...) {
        if (memory)
            GlobalFree(memory);
        CloseClipboard();
        throw;
    }
    CloseClipboard();
}

// 52310 as "52,310", whatever the locale: the status bar's counts.
std::string GroupedNumber(long long n)
{
    std::string digits = std::to_string(n < 0 ? -n : n);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return n < 0 ? "-" + text : text;
}

const char* HookKindCaption(THookKind kind)
{
    for (const THookKindName& name : HookKindNames)
        if (name.Kind == kind)
            return name.Caption;
    return "";
}

} // namespace

void TfrmMain::ClearView()
{
    TraceView->Clear();
    if (frmStatements)
        frmStatements->Refresh();
}

// ---------------------------------------------------------------------------
// Edit and View

void TfrmMain::actEditCopyExecute()
{
    // Exactly what Save log writes as tab-delimited text, of the selected rows alone.
    std::string text = TraceView->SelectedText();
    if (!text.empty())
        CopyToClipboard(Handle, text);
}

void TfrmMain::actEditSelectAllExecute() { TraceListView::SetAllSelected(TraceView->lvwTrace, true); }

void TfrmMain::actEditFilterExecute()
{
    SetFocus(TraceView->edtFilter);
    SendMessageW(TraceView->edtFilter, EM_SETSEL, 0, -1);
}

void TfrmMain::actViewStatementsExecute()
{
    if (!frmStatements) {
        frmStatements = std::make_unique<TfrmStatements>(Handle, TraceView->Totals, FFont.get());
        frmStatements->OnStatementChosen = [this](int statement) { TraceView->FilterStatement(statement); };
    }
    if (frmStatements->IsOpen())
        frmStatements->Close();
    else
        frmStatements->Open();
}

void TfrmMain::actViewStatementsUpdate(TAction& sender) { sender.Checked = frmStatements && frmStatements->IsOpen(); }

void TfrmMain::actViewGroupByShapeExecute()
{
    Settings.GroupByShape = !Settings.GroupByShape;
    TraceView->SetGrouping(Settings.GroupByShape ? TStatementGrouping::Shape : TStatementGrouping::Text);
    if (frmStatements && frmStatements->IsOpen())
        frmStatements->Refresh();
    SaveSettings();
}

void TfrmMain::actViewGroupByShapeUpdate(TAction& sender) { sender.Checked = Settings.GroupByShape; }

void TfrmMain::actSaveStatementsExecute()
{
    if (!sdgStatements.Execute(Handle, true))
        return;
    SaveStatementTotals(TraceView->Totals, sdgStatements.FileName);
    sdgStatements.InitialDir = ExtractFileDir(sdgStatements.FileName);
}

// The actions' keys, wherever the focus is in the window (the list view would otherwise
// take them for its own); in the filter box and the memo Ctrl+C and Ctrl+A are theirs, and
// the rows' commands do not reach over into the statements view.
bool TfrmMain::ShortCut(MSG& msg)
{
    if ((msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN) || !msg.hwnd)
        return false;
    bool inStatements = frmStatements && frmStatements->Handle &&
                        (msg.hwnd == frmStatements->Handle || IsChild(frmStatements->Handle, msg.hwnd));
    if (msg.hwnd != Handle && !IsChild(Handle, msg.hwnd) && !inStatements)
        return false;
    TAction* action = ActionList.FindShortCut(static_cast<WORD>(msg.wParam), ShortCutModifiersHeld());
    if (!action)
        return false;
    bool rowCommand = action->Id == cmEditCopy || action->Id == cmEditSelectAll;
    if (rowCommand && (msg.hwnd == TraceView->edtFilter || msg.hwnd == TraceView->memSQL || inStatements))
        return false;
    ActionList.Execute(action->Id);
    return true;
}

// ---------------------------------------------------------------------------
// The status bar

void TfrmMain::LayoutStatusBar()
{
    // Right edges: the counts, the session, the hooks; the notes take the rest.
    const int widths[StatusPartCount - 1] = {170, 200, 170};
    int edges[StatusPartCount];
    int right = 0;
    for (int part = 0; part < StatusPartCount - 1; ++part)
        edges[part] = right += widths[part];
    edges[StatusPartCount - 1] = -1;
    SendMessageW(StatusBar1, SB_SETPARTS, StatusPartCount, reinterpret_cast<LPARAM>(edges));
}

void TfrmMain::SetStatusText(int part, const std::string& text)
{
    if (FStatusTexts[part] == text)
        return;
    FStatusTexts[part] = text;
    SendMessageW(StatusBar1, SB_SETTEXTW, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(Utf8ToWide(text).c_str()));
}

void TfrmMain::ShowRowCounts()
{
    SetStatusText(spRows, GroupedNumber(TraceView->TraceFilter.RowCount()) + " of " +
                              GroupedNumber(TraceView->TraceRows.RowCount()) + " rows");
}

void TfrmMain::ShowSessionState()
{
    SetStatusText(spSession, FSessionState.empty() ? "Idle" : FSessionState);
    // The rows in the list were traced as their session started (or their file says);
    // before any, the next session hooks as the options say now.
    std::optional<THookKind> listHooks = HookKindOfWord(FListHeader.Hooks);
    SetStatusText(spHooks, std::string("Hooks: ") + HookKindCaption(listHooks.value_or(Settings.Hooks)));
}

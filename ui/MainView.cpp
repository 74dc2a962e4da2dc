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
const UINT_PTR FilterSubclassId = 1;

// Escape empties the box, and neither Escape nor Enter rings the bell of a one-line edit.
LRESULT CALLBACK FilterBoxProc(HWND edit, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    switch (msg) {
    case WM_KEYDOWN:
        if (wParam == VK_ESCAPE) {
            SetWindowTextW(edit, L"");
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == VK_ESCAPE || wParam == VK_RETURN)
            return 0;
        break;
    case WM_NCDESTROY:
        RemoveWindowSubclass(edit, FilterBoxProc, FilterSubclassId);
        break;
    }
    return DefSubclassProc(edit, msg, wParam, lParam);
}

// Some rows of the list, in the order given: what Copy writes.
class TChosenRows : public TRowSource {
public:
    TChosenRows(const TRowSource& rows, const std::vector<int>& chosen) : FRows(rows), FChosen(chosen) {}
    int RowCount() const override { return static_cast<int>(FChosen.size()); }
    void GetRow(int index, TListRow& row) const override { FRows.GetRow(FChosen[static_cast<size_t>(index)], row); }

private:
    const TRowSource& FRows;
    const std::vector<int>& FChosen;
};

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

// ---------------------------------------------------------------------------
// The filter

void TfrmMain::CreateFilterBox()
{
    lblFilter = CreateChildControl(Handle, "STATIC", "Filter:", SS_LEFT | SS_NOPREFIX, 0, 0, 0, 0, idFilterLabel, 0,
                                   FFont.get());
    AutoSizeLabel(lblFilter);
    edtFilter = CreateUnicodeChildControl(Handle, L"EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, 0, 0, 0, 0, idFilter,
                                          WS_EX_CLIENTEDGE, FFont.get());
    SetWindowSubclass(edtFilter, FilterBoxProc, FilterSubclassId, 0);
}

void TfrmMain::edtFilterChange()
{
    if (!FSettingFilterText)
        FilterText(WindowTextUtf8(edtFilter));
}

int TfrmMain::MemoRow() const
{
    int focused = TraceListView::FocusedRow(lvwTrace);
    if (focused < 0 || focused >= TraceFilter.RowCount() || !TraceListView::IsRowSelected(lvwTrace, focused))
        return -1;
    return TraceFilter.RowOf(focused);
}

void TfrmMain::FilterText(const std::string& text)
{
    int keep = MemoRow();
    if (WindowTextUtf8(edtFilter) != text) {
        FSettingFilterText = true;
        SetWindowTextUtf8(edtFilter, text);
        FSettingFilterText = false;
    }
    if (WindowText(lblFilter) != "Filter:") {
        SetWindowTextA(lblFilter, "Filter:");
        AutoSizeLabel(lblFilter);
        Layout();
    }
    TraceFilter.SetText(text);
    ShowFiltered(keep);
}

void TfrmMain::FilterStatement(int statement)
{
    VASSERT(statement >= 0 && statement < Totals.Count(), Unit);
    int keep = MemoRow();
    // The box names the statement; typing in it filters by text again.
    FSettingFilterText = true;
    SetWindowTextUtf8(edtFilter, Totals.Item(statement).Statement);
    FSettingFilterText = false;
    SetWindowTextA(lblFilter, "Statement:");
    AutoSizeLabel(lblFilter);
    Layout();
    TraceFilter.SetStatement(statement);
    ShowFiltered(keep);
}

void TfrmMain::ShowFiltered(int keep)
{
    int line = keep >= 0 ? TraceFilter.IndexOf(keep) : -1;
    TraceListView::ShowNewRows(lvwTrace, TraceFilter.RowCount(), line);
    lvwTraceChange(line);
    ShowRowCounts();
}

void TfrmMain::ClearView()
{
    TraceRows.Clear();
    TraceFilter.Clear();
    Totals.Clear();
    FPendingRows.clear();
    // The statement shown is gone with the totals; a text stays and filters what comes.
    if (TraceFilter.Mode() == TTraceFilter::TMode::Statement)
        FilterText("");
    SendMessageA(lvwTrace, LVM_DELETEALLITEMS, 0, 0);
    SendMessageA(lvwTrace, LVM_SETITEMCOUNT, 0, 0);
    SetWindowTextUtf8(memSQL, "");
    ShowRowCounts();
    if (frmStatements)
        frmStatements->Refresh();
}

// ---------------------------------------------------------------------------
// Edit and View

void TfrmMain::actEditCopyExecute()
{
    std::vector<int> lines = TraceListView::SelectedRows(lvwTrace);
    if (lines.empty())
        return;
    // Exactly what Save log writes as tab-delimited text, of the selected rows alone.
    CopyToClipboard(Handle, ItemsAsText(TChosenRows(TraceFilter, lines), '\t'));
}

void TfrmMain::actEditSelectAllExecute() { TraceListView::SetAllSelected(lvwTrace, true); }

void TfrmMain::actEditFilterExecute()
{
    SetFocus(edtFilter);
    SendMessageW(edtFilter, EM_SETSEL, 0, -1);
}

void TfrmMain::actViewStatementsExecute()
{
    if (!frmStatements) {
        frmStatements = std::make_unique<TfrmStatements>(Handle, Totals, FFont.get());
        frmStatements->OnStatementChosen = [this](int statement) { FilterStatement(statement); };
    }
    if (frmStatements->IsOpen())
        frmStatements->Close();
    else
        frmStatements->Open();
}

void TfrmMain::actViewStatementsUpdate(TAction& sender) { sender.Checked = frmStatements && frmStatements->IsOpen(); }

void TfrmMain::actSaveStatementsExecute()
{
    if (!sdgStatements.Execute(Handle, true))
        return;
    SaveStatementTotals(Totals, sdgStatements.FileName);
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
    if (rowCommand && (msg.hwnd == edtFilter || msg.hwnd == memSQL || inStatements))
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
    SetStatusText(spRows, GroupedNumber(TraceFilter.RowCount()) + " of " + GroupedNumber(TraceRows.RowCount()) + " rows");
}

void TfrmMain::ShowSessionState()
{
    SetStatusText(spSession, FSessionState.empty() ? "Idle" : FSessionState);
    // A session hooks as it started; the next one as the options say now.
    SetStatusText(spHooks, std::string("Hooks: ") + HookKindCaption(Session.Active() ? Session.Hooks : Settings.Hooks));
}

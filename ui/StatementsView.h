// The statements view: a window of its own, owned by the main window, with one line per
// distinct statement of the trace and its totals (TStatementTotals), sorted by any column.
// It follows the totals while rows arrive, a few times a second rather than per row, and a
// line double-clicked (or Enter on it) names its statement to the main window, which then
// shows that statement's rows.
#pragma once

#include "Forms.h"
#include "StatementTotals.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <vector>

class TfrmStatements : public TWindow {
public:
    TfrmStatements(HWND owner, const TStatementTotals& totals, HFONT font);

    HWND lvwStatements = nullptr;
    // A line chosen: the index of its statement in the totals.
    std::function<void(int statement)> OnStatementChosen;

    // Shows the window with its lines up to date, or hides it (its close box hides it too).
    void Open();
    void Close();
    bool IsOpen() const { return Handle && IsWindowVisible(Handle); }
    // Brings the lines up to the totals now: sorted anew, the statement selected before
    // still selected.
    void Refresh();
    // A click on a column's header: the same column again reverses the order; another
    // column starts with the largest first (texts: the statements and SQL_IDs, in
    // alphabetical order).
    void SortBy(int column);
    int SortColumn() const { return FSortColumn; }
    bool SortDescending() const { return FSortDescending; }
    // The statement on a line (-1: none).
    int StatementAt(int line) const;
    int LineCount() const { return static_cast<int>(FOrder.size()); }

    static constexpr UINT RefreshMs = 250;

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    LRESULT OnNotify(NMHDR& header);
    void ShowSortMark();
    void Choose(int line);

    const TStatementTotals& FTotals;
    std::vector<int> FOrder;
    uint64_t FVersion = 0;
    int FSortColumn = scTotalMs;
    bool FSortDescending = true;
};

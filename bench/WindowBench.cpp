// window_bench: how the main window copes with long traces.
//
//   window_bench.exe [ROWS]        (default 1000000)
//
// 1. Memory per row: ROWS records posted in batches of 10,000 (so that few are in flight
//    at a time), the process's committed private bytes after them less before, per row.
// 2. Ingestion: after Clear log, a thread posts ROWS records to the real window as fast
//    as it can, then the session's end; the figure is rows handled per second, from the
//    first post to the "Finish" row, with the application's idle step running as in the
//    program (the list view is shown and kept up to date meanwhile). For scale, the bare
//    cost of the platform's message queue is measured the same way. Then the same with the
//    statements view open, and what counting the totals per statement costs by itself.
// 3. With all the rows in the list, coloured by three rules: the time to paint it, to
//    scroll (to the middle, a page down, a line down, to an end) and to select a row with
//    a click or the Down key (its SQL then shown in the memo), each the median of several
//    runs, painting included; and where the time went (mean per run): the list's own
//    painting and erasing, within them the window's answers to the list's custom drawing
//    and text requests and the header's painting, and for a selection the list's handling of the click or key, the
//    window's answer to the change (the memo set) and the memo's painting.
// 4. With all the rows in the list: filtering them by a text (one that every row holds,
//    one that a fortieth of the rows hold, one typed on from a shorter one, one that none
//    holds), by a statement, and back to all rows, each with the list shown anew; and
//    selecting every row.
// Figures only; nothing is asserted.
#include "Application.h"
#include "BenchRows.h"
#include "MessagePump.h"
#include "ModalDriver.h"
#include "Main.h"
#include "OCITexts.h"
#include "StatementTotals.h"
#include "Utils.h"

#include <windows.h>
#include <commctrl.h>
#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

double MsSince(TClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
}

// Executes and fetches of those statements, elapsed times of a few milliseconds, the odd
// error.
TTraceRecord BenchRecord(int i, const std::vector<std::string>& texts)
{
    TTraceRecord record;
    if (i % 3 == 0) {
        record.Action = TTraceAction::Execute;
        record.Result = i % 97 == 0 ? OCI_ERROR : OCI_SUCCESS;
    } else {
        record.Action = TTraceAction::Fetch;
        record.FetchRows = 10 + i % 5 * 10;
        record.Result = i % 3 == 2 ? OCI_NO_DATA : OCI_SUCCESS;
    }
    record.Statement = texts[static_cast<size_t>(i / 3) % texts.size()];
    record.ElapsedDays = (1 + i % 250) / MSecsPerDay;
    return record;
}

struct TPoster {
    ITraceEvents* Events;
    int From;
    int To;
    const std::vector<std::string>* Texts;
    bool Finish = true;
};

DWORD WINAPI PostRecords(void* param)
{
    auto* poster = static_cast<TPoster*>(param);
    for (int i = poster->From; i < poster->To; ++i)
        poster->Events->TraceRecord(BenchRecord(i, *poster->Texts));
    if (poster->Finish)
        poster->Events->SessionFinished(0);
    else
        poster->Events->Flush();  // as the engine does when the program falls quiet
    return 0;
}

// The message queue alone: posts from a thread, handled by a window that does nothing.
HWND BareWindow = nullptr;
int BareTotal = 0;
int BareHandled = 0;

LRESULT CALLBACK BareProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_APP) {
        ++BareHandled;
        return 0;
    }
    return DefWindowProcA(window, msg, wParam, lParam);
}

DWORD WINAPI PostBare(void*)
{
    for (int i = 0; i < BareTotal; ++i)
        while (!PostMessageA(BareWindow, WM_APP, 0, 0))
            Sleep(1);
    return 0;
}

double BareQueueRate(int count)
{
    WNDCLASSA cls{};
    cls.lpfnWndProc = BareProc;
    cls.lpszClassName = "BareQueue";
    RegisterClassA(&cls);
    BareWindow = CreateWindowA("BareQueue", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    BareTotal = count;
    BareHandled = 0;
    auto start = TClock::now();
    HANDLE thread = CreateThread(nullptr, 0, PostBare, nullptr, 0, nullptr);
    PumpUntil([&] { return BareHandled >= count; }, 600000);
    double ms = MsSince(start);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    DestroyWindow(BareWindow);
    return count / (ms / 1000);
}

// The rows list's client point at the middle of a row's Action cell.
LPARAM RowPoint(HWND list, int row)
{
    RECT r{};
    r.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
    return MAKELPARAM(r.left + 20, (r.top + r.bottom) / 2);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Time and calls of one kind of message, summed over the runs of an operation.
struct TCost {
    double Ms = 0;
    int Calls = 0;
};

struct TListCosts {
    TCost Paint;
    TCost Erase;
    // The list's header, which repaints within the list's painting when the list is
    // invalidated whole.
    TCost Header;
    TCost CustomDraw;
    TCost DispInfo;
    // The list's handling of the click or key, and the window's answer to the selection
    // change that it causes (the memo's text set); the memo's painting after it.
    TCost Input;
    TCost ItemChanged;
    TCost Memo;
};

TListCosts Costs;
HWND CostList = nullptr;

template <class F>
LRESULT Timed(TCost& cost, F call)
{
    auto start = TClock::now();
    LRESULT result = call();
    cost.Ms += MsSince(start);
    ++cost.Calls;
    return result;
}

LRESULT CALLBACK CostListProc(HWND list, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    auto next = [&] { return DefSubclassProc(list, msg, wParam, lParam); };
    if (msg == WM_PAINT)
        return Timed(Costs.Paint, next);
    if (msg == WM_ERASEBKGND)
        return Timed(Costs.Erase, next);
    if (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONUP || msg == WM_KEYDOWN || msg == WM_KEYUP)
        return Timed(Costs.Input, next);
    return next();
}

LRESULT CALLBACK CostHeaderProc(HWND header, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    auto next = [&] { return DefSubclassProc(header, msg, wParam, lParam); };
    if (msg == WM_PAINT)
        return Timed(Costs.Header, next);
    return next();
}

LRESULT CALLBACK CostMemoProc(HWND memo, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    auto next = [&] { return DefSubclassProc(memo, msg, wParam, lParam); };
    if (msg == WM_PAINT || msg == WM_ERASEBKGND)
        return Timed(Costs.Memo, next);
    return next();
}

LRESULT CALLBACK CostFormProc(HWND form, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    auto next = [&] { return DefSubclassProc(form, msg, wParam, lParam); };
    if (msg == WM_NOTIFY) {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (header.hwndFrom == CostList && header.code == NM_CUSTOMDRAW)
            return Timed(Costs.CustomDraw, next);
        if (header.hwndFrom == CostList && header.code == LVN_GETDISPINFOW)
            return Timed(Costs.DispInfo, next);
        if (header.hwndFrom == CostList && header.code == LVN_ITEMCHANGED)
            return Timed(Costs.ItemChanged, next);
    }
    return next();
}

// The statements view while rows arrive: its refreshes (the timer) and its painting.
TCost ViewRefresh;
TCost ViewPaint;

LRESULT CALLBACK CostViewProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    auto next = [&] { return DefSubclassProc(window, msg, wParam, lParam); };
    if (msg == WM_TIMER)
        return Timed(ViewRefresh, next);
    if (msg == WM_PAINT || msg == WM_ERASEBKGND)
        return Timed(ViewPaint, next);
    return next();
}

void WatchCosts(HWND form, HWND list, HWND memo)
{
    CostList = list;
    SetWindowSubclass(list, CostListProc, 1, 0);
    SetWindowSubclass(ListView_GetHeader(list), CostHeaderProc, 1, 0);
    SetWindowSubclass(form, CostFormProc, 1, 0);
    SetWindowSubclass(memo, CostMemoProc, 1, 0);
}

void UnwatchCosts(HWND form, HWND list, HWND memo)
{
    RemoveWindowSubclass(list, CostListProc, 1);
    RemoveWindowSubclass(ListView_GetHeader(list), CostHeaderProc, 1);
    RemoveWindowSubclass(form, CostFormProc, 1);
    RemoveWindowSubclass(memo, CostMemoProc, 1);
}

const int Runs = 7;

template <class F>
double TimeMs(F action)
{
    Costs = {};
    std::vector<double> times;
    for (int i = 0; i < Runs; ++i) {
        auto start = TClock::now();
        action(i);
        times.push_back(MsSince(start));
    }
    return Median(times);
}

void PrintTimed(const char* what, double ms)
{
    auto part = [](const TCost& cost) { return cost.Ms / Runs; };
    auto calls = [](const TCost& cost) { return static_cast<double>(cost.Calls) / Runs; };
    std::printf("  %-24s %5.1f ms   (list paint %.1f ms, erase %.1f ms; custom draw %.1f ms in %.0f calls, "
                "texts %.1f ms in %.0f calls, header paint %.1f ms)\n",
                what, ms, part(Costs.Paint), part(Costs.Erase), part(Costs.CustomDraw), calls(Costs.CustomDraw),
                part(Costs.DispInfo), calls(Costs.DispInfo), part(Costs.Header));
    if (Costs.Input.Calls > 0)
        std::printf("  %-24s          (the list's handling of the input %.1f ms, selection change %.1f ms in %.0f "
                    "calls, memo paint %.1f ms)\n",
                    "", part(Costs.Input), part(Costs.ItemChanged), calls(Costs.ItemChanged), part(Costs.Memo));
}

} // namespace

int main(int argc, char** argv)
{
    int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
    Application().SetMainThread();
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);

    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string settings = std::string(temp) + "window_bench.ini";
    const std::vector<std::string> texts = SqlTexts();
    {
        TfrmMain form(settings);
        // Colour rules as a user keeps them (those of the screenshots): every row painted is
        // matched against them.
        std::vector<TColorInfo> rules(3);
        rules[0].SearchString = "OCI_ERROR";
        rules[0].ForeColor = clWhite;
        rules[0].BackColor = 0x000000FF;
        rules[1].SearchString = "INSERT";
        rules[1].ForeColor = 0x00008000;
        rules[1].BackColor = 0x0000FFFF;
        rules[2].SearchString = "Fetch";
        rules[2].ForeColor = 0x00808080;
        form.Settings.ColorRules.Assign(rules);
        ShowWindow(form.Handle, SW_SHOWNORMAL);
        UpdateWindow(form.Handle);
        PumpFor(200);
        HWND list = form.TraceView->lvwTrace;

        auto last = [&] {
            int n = form.TraceView->TraceRows.RowCount();
            return n > 0 ? form.TraceView->TraceRows.CellText(n - 1, 0) : std::string();
        };

        // 1. Memory, in batches.
        size_t before = PrivateBytes();
        for (int from = 0; from < rows; from += 10000) {
            TPoster batch{&form.Session.Queue(), from, std::min(rows, from + 10000), &texts, false};
            PostRecords(&batch);
            PumpUntil([&] { return form.TraceView->TraceRows.RowCount() >= batch.To; }, 600000);
        }
        PumpFor(100);
        size_t after = PrivateBytes();
        std::printf("memory: %.1f bytes per row (%d rows, %zu distinct texts; private bytes %+.1f MB)\n",
                    (static_cast<double>(after) - before) / rows, form.TraceView->TraceRows.RowCount(),
                    form.TraceView->TraceRows.DistinctTexts(), (static_cast<double>(after) - before) / 1048576.0);

        // 2. Ingestion, as fast as the records can be handed over.
        auto ingest = [&]() -> double {
            SendMessageA(form.Handle, WM_COMMAND, cmViewClear, 0);
            TPoster poster{&form.Session.Queue(), 0, rows, &texts};
            auto start = TClock::now();
            HANDLE thread = CreateThread(nullptr, 0, PostRecords, &poster, 0, nullptr);
            bool done = PumpUntil([&] { return last() == "Finish"; }, 600000);
            double ms = MsSince(start);
            WaitForSingleObject(thread, INFINITE);
            CloseHandle(thread);
            PumpFor(100);
            return done ? ms : -1;
        };
        double ingestMs = ingest();
        if (ingestMs < 0) {
            std::printf("ingestion did not finish within 10 minutes\n");
            return 1;
        }
        int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
        std::printf("ingestion: %.0f rows/s (%d rows in %.2f s)\n", rows / (ingestMs / 1000), rows, ingestMs / 1000);
        SendMessageA(form.Handle, WM_COMMAND, cmViewStatements, 0);
        SetWindowSubclass(form.frmStatements->Handle, CostViewProc, 1, 0);
        SetWindowSubclass(form.frmStatements->lvwStatements, CostViewProc, 1, 0);
        double viewMs = ingest();
        RemoveWindowSubclass(form.frmStatements->Handle, CostViewProc, 1);
        RemoveWindowSubclass(form.frmStatements->lvwStatements, CostViewProc, 1);
        std::printf("  with the statements view open: %.0f rows/s (%d rows in %.2f s; %d statements shown; "
                    "%d refreshes, %.0f ms; painting %.0f ms)\n",
                    rows / (viewMs / 1000), rows, viewMs / 1000, form.frmStatements->LineCount(), ViewRefresh.Calls,
                    ViewRefresh.Ms, ViewPaint.Ms);
        SendMessageA(form.Handle, WM_COMMAND, cmViewStatements, 0);
        {
            std::vector<TTraceRecord> records;
            for (int i = 0; i < 3000; ++i)
                records.push_back(BenchRecord(i, texts));
            TStatementTotals totals;
            auto start = TClock::now();
            for (int i = 0; i < rows; ++i)
                totals.Add(records[static_cast<size_t>(i) % records.size()]);
            double ms = MsSince(start);
            std::printf("  the totals per statement alone: %.2f us per record, %.1f%% of a row's ingestion\n",
                        ms * 1000 / rows, 100 * ms / ingestMs);
        }
        std::printf("  the bare message queue, for scale: %.0f messages/s\n", BareQueueRate(std::min(rows, 200000)));

        // 3. Showing, scrolling, selecting.
        WatchCosts(form.Handle, list, form.TraceView->memSQL);
        std::printf("with %d rows, median of %d, painting included:\n", count, Runs);
        PrintTimed("paint the list:", TimeMs([&](int) {
                       InvalidateRect(list, nullptr, TRUE);
                       UpdateWindow(list);
                   }));
        PrintTimed("scroll to the middle:", TimeMs([&](int i) {
                       SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(count / 2 + i * 1000), FALSE);
                       UpdateWindow(list);
                   }));
        PrintTimed("scroll a page down:", TimeMs([&](int) {
                       SendMessageA(list, WM_VSCROLL, SB_PAGEDOWN, 0);
                       UpdateWindow(list);
                   }));
        PrintTimed("scroll a line down:", TimeMs([&](int) {
                       SendMessageA(list, WM_VSCROLL, SB_LINEDOWN, 0);
                       UpdateWindow(list);
                   }));
        PrintTimed("scroll to an end:", TimeMs([&](int i) {
                       SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(i % 2 ? 0 : count - 1), FALSE);
                       UpdateWindow(list);
                   }));
        SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(count / 2), FALSE);
        int top = static_cast<int>(SendMessageA(list, LVM_GETTOPINDEX, 0, 0));
        SetFocus(list);
        PrintTimed("select a row, click:", TimeMs([&](int i) {
                       LPARAM at = RowPoint(list, top + 2 + i % 5);
                       SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
                       SendMessageA(list, WM_LBUTTONUP, 0, at);
                       UpdateWindow(list);
                       UpdateWindow(form.TraceView->memSQL);
                   }));
        PrintTimed("select a row, Down key:", TimeMs([&](int) {
                       SendMessageA(list, WM_KEYDOWN, VK_DOWN, 0);
                       SendMessageA(list, WM_KEYUP, VK_DOWN, 0);
                       UpdateWindow(list);
                       UpdateWindow(form.TraceView->memSQL);
                   }));
        UnwatchCosts(form.Handle, list, form.TraceView->memSQL);
        int selected = static_cast<int>(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0));
        std::printf("  (%d row selected, its SQL in the memo: %d characters)\n", selected,
                    GetWindowTextLengthA(form.TraceView->memSQL));

        // 4. Filtering.
        std::printf("filtering %d rows, the list shown anew (median of %d):\n", count, Runs);
        auto filtered = [&](const char* what, const std::function<void()>& before, const std::function<void()>& filter) {
            std::vector<double> times;
            for (int i = 0; i < Runs; ++i) {
                before();
                UpdateWindow(list);
                auto start = TClock::now();
                filter();
                UpdateWindow(list);
                times.push_back(MsSince(start));
            }
            std::printf("  %-34s %6.1f ms  (%d rows shown)\n", what, Median(times), form.TraceView->TraceFilter.RowCount());
        };
        auto text = [&](const char* t) { return [&form, t] { form.TraceView->FilterText(t); }; };
        filtered("a text every row holds (\"select\"):", text(""), text("select"));
        filtered("a text a fortieth of them hold:", text(""), text(":r17 "));
        filtered("typed on (\":r1\" to \":r17\"):", text(":r1"), text(":r17"));
        filtered("a text none holds:", text(""), text("no such text"));
        filtered("the rows of a statement:", text(""), [&] { form.TraceView->FilterStatement(17); });
        filtered("back to all rows:", text("select"), text(""));
        form.TraceView->FilterText("");
        auto selectStart = TClock::now();
        SendMessageA(form.Handle, WM_COMMAND, cmEditSelectAll, 0);
        UpdateWindow(list);
        std::printf("  select all:                        %6.1f ms  (%d rows selected)\n", MsSince(selectStart),
                    static_cast<int>(SendMessageA(list, LVM_GETSELECTEDCOUNT, 0, 0)));

        auto clearStart = TClock::now();
        SendMessageA(form.Handle, WM_COMMAND, cmViewClear, 0);
        std::printf("  clear log:               %.1f ms\n", MsSince(clearStart));
    }
    DeleteFileA(settings.c_str());
    return 0;
}

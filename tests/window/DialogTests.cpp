// The dialog frame and the trace options dialog, shown for real.
#include "DlgTraceMask.h"
#include "MainWindowFixture.h"

#include "TraceMask.h"

#include <gtest/gtest.h>

namespace {

struct TPlace {
    const char* Name;
    RECT Expected;  // left, top, right, bottom
};

RECT Rect(int left, int top, int width, int height) { return RECT{left, top, left + width, top + height}; }

bool SameRect(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string RectText(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
           std::to_string(r.bottom - r.top);
}

} // namespace

TEST(TemplateDlg, FrameHasItsPlacesCaptionsAndButtons)
{
    TTemplateDlg dlg;
    RECT ok{}, cancel{}, client{}, window{};
    std::string okText, cancelText;
    LONG style = 0;
    int defaultId = 0;
    std::vector<int> tabOrder;
    TModalDriver driver("dlgTemplate", [&](HWND w) {
        ok = ControlBounds(GetDlgItem(w, IDOK));
        cancel = ControlBounds(GetDlgItem(w, IDCANCEL));
        okText = WindowText(GetDlgItem(w, IDOK));
        cancelText = WindowText(GetDlgItem(w, IDCANCEL));
        GetClientRect(w, &client);
        GetWindowRect(w, &window);
        style = GetWindowLongA(w, GWL_STYLE);
        defaultId = LOWORD(SendMessageA(w, DM_GETDEFID, 0, 0));
        for (HWND child = GetWindow(w, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            tabOrder.push_back(GetDlgCtrlID(child));
        PressKey(w, VK_RETURN);
    });
    EXPECT_EQ(dlg.ShowModal(), mrOk);
    ASSERT_TRUE(driver.Wait());
    EXPECT_TRUE(SameRect(ok, Rect(240, 208, 75, 25))) << RectText(ok);
    EXPECT_TRUE(SameRect(cancel, Rect(318, 208, 75, 25))) << RectText(cancel);
    EXPECT_EQ(okText, "&OK");
    EXPECT_EQ(cancelText, "&Cancel");
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 240);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MAXIMIZEBOX | WS_MINIMIZEBOX));
    EXPECT_TRUE(style & WS_CAPTION);
    // Centred on the screen (to within a pixel of rounding).
    int cx = (window.left + window.right) / 2, cy = (window.top + window.bottom) / 2;
    EXPECT_LE(std::abs(cx - GetSystemMetrics(SM_CXSCREEN) / 2), 1);
    EXPECT_LE(std::abs(cy - GetSystemMetrics(SM_CYSCREEN) / 2), 1);
    EXPECT_EQ(defaultId, IDOK);
    EXPECT_EQ(tabOrder, (std::vector<int>{IDOK, IDCANCEL}));
}

TEST(TemplateDlg, EachWayOfClosingGivesItsResult)
{
    struct TCase {
        const char* Name;
        std::function<void(HWND)> Close;
        int Expected;
    } cases[] = {
        {"OK button", [](HWND w) { PressButton(w, IDOK); }, mrOk},
        {"Enter", [](HWND w) { PressKey(w, VK_RETURN); }, mrOk},
        {"Cancel button", [](HWND w) { PressButton(w, IDCANCEL); }, mrCancel},
        {"Escape", [](HWND w) { PressKey(w, VK_ESCAPE); }, mrCancel},
        {"close box", [](HWND w) { PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0); }, mrCancel},
    };
    for (const TCase& c : cases) {
        TTemplateDlg dlg;
        TModalDriver driver("dlgTemplate", c.Close);
        EXPECT_EQ(dlg.ShowModal(), c.Expected) << c.Name;
        EXPECT_TRUE(driver.Wait()) << c.Name;
        EXPECT_EQ(dlg.Handle, nullptr) << c.Name;
    }
}

// ---------------------------------------------------------------------------
// Trace options, opened from the main window's Options... action.

namespace {

const int CheckBoxIds[3] = {100, 101, 102};  // cbxPrepare, cbxExecute, cbxFetch in creation order

BYTE MaskShown(HWND dialog)
{
    BYTE mask = 0;
    const BYTE bits[3] = {TraceMaskPrepare, TraceMaskExecute, TraceMaskFetch};
    for (int i = 0; i < 3; ++i)
        if (SendMessageA(GetDlgItem(dialog, CheckBoxIds[i]), BM_GETCHECK, 0, 0) == BST_CHECKED)
            mask |= bits[i];
    return mask;
}

void ShowMask(HWND dialog, BYTE mask)
{
    const BYTE bits[3] = {TraceMaskPrepare, TraceMaskExecute, TraceMaskFetch};
    for (int i = 0; i < 3; ++i)
        SendMessageA(GetDlgItem(dialog, CheckBoxIds[i]), BM_SETCHECK, (mask & bits[i]) ? BST_CHECKED : BST_UNCHECKED, 0);
}

} // namespace

TEST_F(MainWindowTest, TraceOptionsDialogHasItsPlacesAndCaptions)
{
    struct TControl {
        int Id;
        const char* Text;
        RECT Place;
    };
    const TControl expected[] = {
        {IDOK, "&OK", Rect(48, 112, 75, 25)},
        {IDCANCEL, "&Cancel", Rect(126, 112, 75, 25)},
        {100, "Prepare (OCIStmtPrepare)", Rect(24, 24, 169, 17)},
        {101, "Execute (OCIStmtExecute)", Rect(24, 48, 169, 17)},
        {102, "Fetch (OCIStmtFetch)", Rect(24, 72, 169, 17)},
    };
    std::vector<std::pair<std::string, RECT>> seen;
    std::vector<int> tabOrder;
    TModalDriver driver("Choose actions to trace", [&](HWND w) {
        for (const TControl& c : expected)
            seen.emplace_back(WindowText(GetDlgItem(w, c.Id)), ControlBounds(GetDlgItem(w, c.Id)));
        for (HWND child = GetWindow(w, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            tabOrder.push_back(GetDlgCtrlID(child));
        PressButton(w, IDCANCEL);
    });
    Command(cmTraceOpt);
    ASSERT_TRUE(driver.Wait());
    EXPECT_EQ(driver.Seen().Client.right, 208);
    EXPECT_EQ(driver.Seen().Client.bottom, 144);
    ASSERT_EQ(seen.size(), std::size(expected));
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].first, expected[i].Text);
        EXPECT_TRUE(SameRect(seen[i].second, expected[i].Place)) << expected[i].Text << ": " << RectText(seen[i].second);
    }
    EXPECT_EQ(tabOrder, (std::vector<int>{IDOK, IDCANCEL, 100, 101, 102}));
}

TEST_F(MainWindowTest, TraceOptionsPresetFromTheMaskAndOnlyOkApplies)
{
    const struct {
        const char* Name;
        BYTE Before;
        BYTE Chosen;
        std::function<void(HWND)> Close;
        BYTE After;
    } cases[] = {
        {"OK, none checked", TraceMaskExecute, 0, [](HWND w) { PressButton(w, IDOK); }, 0},
        {"Enter", TraceMaskExecute, TraceMaskPrepare | TraceMaskFetch, [](HWND w) { PressKey(w, VK_RETURN); },
         TraceMaskPrepare | TraceMaskFetch},
        {"OK, all", 0, 7, [](HWND w) { PressButton(w, IDOK); }, 7},
        {"Cancel", TraceMaskPrepare, 7, [](HWND w) { PressButton(w, IDCANCEL); }, TraceMaskPrepare},
        {"Escape", TraceMaskExecute | TraceMaskFetch, 0, [](HWND w) { PressKey(w, VK_ESCAPE); },
         TraceMaskExecute | TraceMaskFetch},
        {"close box", 7, 0, [](HWND w) { PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0); }, 7},
    };
    for (const auto& c : cases) {
        Form->TraceMask = c.Before;
        BYTE shown = 0xFF;
        TModalDriver driver("Choose actions to trace", [&](HWND w) {
            shown = MaskShown(w);
            ShowMask(w, c.Chosen);
            c.Close(w);
        });
        Command(cmTraceOpt);
        ASSERT_TRUE(driver.Wait()) << c.Name;
        EXPECT_EQ(shown, c.Before) << c.Name;
        EXPECT_EQ(Form->TraceMask, c.After) << c.Name;
    }
}

TEST_F(MainWindowTest, TraceOptionsCannotOpenDuringASession)
{
    std::string gate = Scratch.File("gate");
    SetClientScript({"load", "alloc S", "prepare S SELECT 1 FROM dual", "execute S", "waitfile " + gate, "free S"});
    Form->RunProgram(Client());
    ASSERT_TRUE(WaitForRow("Execute"));
    PumpFor(30);
    EXPECT_FALSE(MenuEnabled(cmTraceOpt));
    // A command that arrives anyway (a queued click) opens nothing: had a dialog opened,
    // the driver would have closed it and said so.
    TModalDriver driver("Choose actions to trace", [](HWND w) { PressButton(w, IDCANCEL); }, 1500);
    Command(cmTraceOpt);
    EXPECT_FALSE(driver.Wait());
    WriteFileBytes(gate, "");
    ASSERT_TRUE(WaitForFinish());
    PumpFor(30);
    EXPECT_TRUE(MenuEnabled(cmTraceOpt));
}

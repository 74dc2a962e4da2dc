// The dialog frame and the trace options dialog, shown for real.
#include "DlgTraceMask.h"
#include "IniFile.h"
#include "MainWindowFixture.h"

#include "TraceMask.h"

#include <gtest/gtest.h>

#include <optional>

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

// In creation order: the check boxes of TraceMaskBits (prepare, execute, fetch, binds,
// errors, rows, connect, commit, lobs), cbxHideValues, grpHooks, then rbnBreakpoint, rbnFast
// and rbnLog.
const int CheckBoxIds[9] = {100, 101, 102, 103, 104, 105, 106, 107, 108};
const TTraceMask CheckBoxBits[9] = {TraceMaskPrepare, TraceMaskExecute, TraceMaskFetch,  TraceMaskBinds, TraceMaskErrors,
                                    TraceMaskRows,    TraceMaskConnect, TraceMaskCommit, TraceMaskLobs};
const int HideValuesId = 109;
const int GroupHooksId = 110;
const int HookRadioIds[3] = {111, 112, 113};
const THookKind HookRadioKinds[3] = {THookKind::Breakpoint, THookKind::Fast, THookKind::Log};

TTraceMask MaskShown(HWND dialog)
{
    TTraceMask mask = 0;
    for (int i = 0; i < 9; ++i)
        if (SendMessageA(GetDlgItem(dialog, CheckBoxIds[i]), BM_GETCHECK, 0, 0) == BST_CHECKED)
            mask |= CheckBoxBits[i];
    return mask;
}

// The kind whose radio button is checked; nothing unless exactly one is.
std::optional<THookKind> HooksShown(HWND dialog)
{
    std::optional<THookKind> shown;
    for (int i = 0; i < 3; ++i)
        if (SendMessageA(GetDlgItem(dialog, HookRadioIds[i]), BM_GETCHECK, 0, 0) == BST_CHECKED) {
            if (shown)
                return std::nullopt;
            shown = HookRadioKinds[i];
        }
    return shown;
}

// Clicks the radio button of a kind as the mouse does.
void ClickHooks(HWND dialog, THookKind kind)
{
    for (int i = 0; i < 3; ++i)
        if (HookRadioKinds[i] == kind)
            SendMessageA(GetDlgItem(dialog, HookRadioIds[i]), BM_CLICK, 0, 0);
}

void ShowMask(HWND dialog, TTraceMask mask)
{
    for (int i = 0; i < 9; ++i)
        SendMessageA(GetDlgItem(dialog, CheckBoxIds[i]), BM_SETCHECK, (mask & CheckBoxBits[i]) ? BST_CHECKED : BST_UNCHECKED,
                     0);
}

} // namespace

TEST_F(MainWindowTest, TraceOptionsDialogHasItsPlacesAndCaptions)
{
    struct TControl {
        int Id;
        const char* Text;
        RECT Place;
        DWORD Type;  // BS_TYPEMASK of the style
    };
    const TControl expected[] = {
        {IDOK, "&OK", Rect(48, 374, 75, 25), BS_DEFPUSHBUTTON},
        {IDCANCEL, "&Cancel", Rect(126, 374, 75, 25), BS_PUSHBUTTON},
        // Today's three where they always were, the new ones below.
        {100, "Prepare (OCIStmtPrepare)", Rect(24, 24, 169, 17), BS_AUTOCHECKBOX},
        {101, "Execute (OCIStmtExecute)", Rect(24, 48, 169, 17), BS_AUTOCHECKBOX},
        {102, "Fetch (OCIStmtFetch)", Rect(24, 72, 169, 17), BS_AUTOCHECKBOX},
        {103, "Binds (OCIBindByName/Pos)", Rect(24, 96, 169, 17), BS_AUTOCHECKBOX},
        {104, "Errors (OCIErrorGet)", Rect(24, 120, 169, 17), BS_AUTOCHECKBOX},
        {105, "Rows (OCIAttrGet)", Rect(24, 144, 169, 17), BS_AUTOCHECKBOX},
        {106, "Connect and Disconnect", Rect(24, 168, 169, 17), BS_AUTOCHECKBOX},
        {107, "Commit and Rollback", Rect(24, 192, 169, 17), BS_AUTOCHECKBOX},
        {108, "LOBs (OCILob*)", Rect(24, 216, 169, 17), BS_AUTOCHECKBOX},
        {HideValuesId, "Hide bound values", Rect(24, 240, 169, 17), BS_AUTOCHECKBOX},
        {GroupHooksId, "Hooks", Rect(8, 280, 193, 87), BS_GROUPBOX},
        {HookRadioIds[0], "Breakpoints (int3)", Rect(24, 298, 169, 17), BS_AUTORADIOBUTTON},
        {HookRadioIds[1], "Fast (jump to stub)", Rect(24, 320, 169, 17), BS_AUTORADIOBUTTON},
        {HookRadioIds[2], "Logged (no stop per call)", Rect(24, 342, 169, 17), BS_AUTORADIOBUTTON},
    };
    std::vector<std::pair<std::string, RECT>> seen;
    std::vector<LONG> styles;
    std::vector<int> tabOrder;
    TModalDriver driver("Choose actions to trace", [&](HWND w) {
        for (const TControl& c : expected) {
            seen.emplace_back(WindowText(GetDlgItem(w, c.Id)), ControlBounds(GetDlgItem(w, c.Id)));
            styles.push_back(GetWindowLongA(GetDlgItem(w, c.Id), GWL_STYLE));
        }
        for (HWND child = GetWindow(w, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            tabOrder.push_back(GetDlgCtrlID(child));
        PressButton(w, IDCANCEL);
    });
    Command(cmTraceOpt);
    ASSERT_TRUE(driver.Wait());
    EXPECT_EQ(driver.Seen().Client.right, 208);
    EXPECT_EQ(driver.Seen().Client.bottom, 406);
    ASSERT_EQ(seen.size(), std::size(expected));
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].first, expected[i].Text);
        EXPECT_TRUE(SameRect(seen[i].second, expected[i].Place)) << expected[i].Text << ": " << RectText(seen[i].second);
        EXPECT_EQ(static_cast<DWORD>(styles[i]) & BS_TYPEMASK, expected[i].Type) << expected[i].Text;
    }
    EXPECT_EQ(tabOrder, (std::vector<int>{IDOK, IDCANCEL, 100, 101, 102, 103, 104, 105, 106, 107, 108, HideValuesId,
                                          GroupHooksId, HookRadioIds[0], HookRadioIds[1], HookRadioIds[2]}));
    // The radio buttons are a group of their own, reached by one tab stop; the box is none.
    EXPECT_EQ(styles[12] & (WS_GROUP | WS_TABSTOP), 0);
    EXPECT_EQ(styles[13] & (WS_GROUP | WS_TABSTOP), WS_GROUP | WS_TABSTOP);
    EXPECT_EQ(styles[14] & (WS_GROUP | WS_TABSTOP), 0);
    EXPECT_EQ(styles[15] & (WS_GROUP | WS_TABSTOP), 0);
}

TEST_F(MainWindowTest, TraceOptionsPresetFromTheMaskAndOnlyOkApplies)
{
    const struct {
        const char* Name;
        TTraceMask Before;
        TTraceMask Chosen;
        std::function<void(HWND)> Close;
        TTraceMask After;
    } cases[] = {
        {"OK, none checked", TraceMaskExecute, 0, [](HWND w) { PressButton(w, IDOK); }, 0},
        {"Enter", TraceMaskExecute, TraceMaskPrepare | TraceMaskFetch, [](HWND w) { PressKey(w, VK_RETURN); },
         TraceMaskPrepare | TraceMaskFetch},
        {"OK, all", 0, TraceMaskAll, [](HWND w) { PressButton(w, IDOK); }, TraceMaskAll},
        {"OK, the details", TraceMaskExecute, TraceMaskFetch | TraceMaskErrors | TraceMaskRows,
         [](HWND w) { PressButton(w, IDOK); }, TraceMaskFetch | TraceMaskErrors | TraceMaskRows},
        {"OK, sessions", TraceMaskExecute, TraceMaskConnect | TraceMaskCommit, [](HWND w) { PressButton(w, IDOK); },
         TraceMaskConnect | TraceMaskCommit},
        {"Cancel", TraceMaskPrepare, 7, [](HWND w) { PressButton(w, IDCANCEL); }, TraceMaskPrepare},
        {"Escape", TraceMaskExecute | TraceMaskFetch, 0, [](HWND w) { PressKey(w, VK_ESCAPE); },
         TraceMaskExecute | TraceMaskFetch},
        {"close box", 7, 0, [](HWND w) { PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0); }, 7},
    };
    for (const auto& c : cases) {
        Form->TraceMask = c.Before;
        TTraceMask shown = ~TTraceMask{0};
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

TEST_F(MainWindowTest, TraceOptionsShowTheHookKindAndKeepTheOneChosen)
{
    const struct {
        const char* Name;
        THookKind Before;
        std::function<void(HWND)> Choose;
        std::function<void(HWND)> Close;
        THookKind After;
    } cases[] = {
        {"Fast clicked, OK", THookKind::Breakpoint, [](HWND w) { ClickHooks(w, THookKind::Fast); },
         [](HWND w) { PressButton(w, IDOK); }, THookKind::Fast},
        {"Breakpoints clicked, Enter", THookKind::Fast, [](HWND w) { ClickHooks(w, THookKind::Breakpoint); },
         [](HWND w) { PressKey(w, VK_RETURN); }, THookKind::Breakpoint},
        {"Fast clicked, Cancel", THookKind::Breakpoint, [](HWND w) { ClickHooks(w, THookKind::Fast); },
         [](HWND w) { PressButton(w, IDCANCEL); }, THookKind::Breakpoint},
        {"Breakpoints clicked, Escape", THookKind::Fast, [](HWND w) { ClickHooks(w, THookKind::Breakpoint); },
         [](HWND w) { PressKey(w, VK_ESCAPE); }, THookKind::Fast},
        {"nothing clicked, OK", THookKind::Fast, [](HWND) {}, [](HWND w) { PressButton(w, IDOK); }, THookKind::Fast},
        {"Logged clicked, OK", THookKind::Fast, [](HWND w) { ClickHooks(w, THookKind::Log); },
         [](HWND w) { PressButton(w, IDOK); }, THookKind::Log},
        {"Fast clicked after Logged shown, OK", THookKind::Log, [](HWND w) { ClickHooks(w, THookKind::Fast); },
         [](HWND w) { PressButton(w, IDOK); }, THookKind::Fast},
    };
    for (const auto& c : cases) {
        Form->Settings.Hooks = c.Before;
        Form->TraceMask = TraceMaskPrepare;
        std::optional<THookKind> shown, chosen;
        TModalDriver driver("Choose actions to trace", [&](HWND w) {
            shown = HooksShown(w);
            c.Choose(w);
            chosen = HooksShown(w);
            c.Close(w);
        });
        Command(cmTraceOpt);
        ASSERT_TRUE(driver.Wait()) << c.Name;
        EXPECT_EQ(shown, c.Before) << c.Name;
        // A click checks its button and unchecks the other.
        EXPECT_TRUE(chosen.has_value()) << c.Name;
        EXPECT_EQ(Form->Settings.Hooks, c.After) << c.Name;
        EXPECT_EQ(Form->TraceMask, TraceMaskPrepare) << c.Name;
    }

    // Chosen in the dialog, kept in the settings file when the program ends, and shown
    // again after a restart.
    TModalDriver choose("Choose actions to trace", [](HWND w) {
        ClickHooks(w, THookKind::Fast);
        PressButton(w, IDOK);
    });
    Form->Settings.Hooks = THookKind::Breakpoint;
    Command(cmTraceOpt);
    ASSERT_TRUE(choose.Wait());
    DestroyForm();
    EXPECT_EQ(TIniFile(SettingsPath()).ReadString("TRACEOPT", "HOOKS", "<none>"), "fast");
    CreateForm();
    EXPECT_EQ(Form->Settings.Hooks, THookKind::Fast);
    std::optional<THookKind> shown;
    TModalDriver reopen("Choose actions to trace", [&](HWND w) {
        shown = HooksShown(w);
        PressButton(w, IDCANCEL);
    });
    Command(cmTraceOpt);
    ASSERT_TRUE(reopen.Wait());
    EXPECT_EQ(shown, THookKind::Fast);
}

// Hidden values: shown and taken like the mask, kept in the settings file.
TEST_F(MainWindowTest, TraceOptionsHideValuesAndKeepTheSetting)
{
    auto hideShown = [](HWND w) { return SendMessageA(GetDlgItem(w, HideValuesId), BM_GETCHECK, 0, 0) == BST_CHECKED; };
    for (bool ok : {false, true}) {
        Form->Settings.HideValues = false;
        bool shown = true;
        TModalDriver driver("Choose actions to trace", [&](HWND w) {
            shown = hideShown(w);
            SendMessageA(GetDlgItem(w, HideValuesId), BM_CLICK, 0, 0);
            PressButton(w, ok ? IDOK : IDCANCEL);
        });
        Command(cmTraceOpt);
        ASSERT_TRUE(driver.Wait());
        EXPECT_FALSE(shown);
        EXPECT_EQ(Form->Settings.HideValues, ok);
    }
    DestroyForm();
    EXPECT_EQ(TIniFile(SettingsPath()).ReadString("TRACEOPT", "HIDE_VALUES", "<none>"), "1");
    CreateForm();
    bool shown = false;
    TModalDriver reopen("Choose actions to trace", [&](HWND w) {
        shown = hideShown(w);
        PressButton(w, IDCANCEL);
    });
    Command(cmTraceOpt);
    ASSERT_TRUE(reopen.Wait());
    EXPECT_TRUE(shown);
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

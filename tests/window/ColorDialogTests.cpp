// The rules dialog and the rule editor, shown for real and driven from a helper thread.
#include "DlgSelColors.h"
#include "DlgStmtColor.h"
#include "Images.h"
#include "ListViewProbes.h"
#include "MessagePump.h"
#include "ModalDriver.h"
#include "PixelChecks.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr COLORREF Red = RGB(255, 0, 0);
constexpr COLORREF Blue = RGB(0, 0, 255);
constexpr COLORREF Yellow = RGB(255, 255, 0);

TColorInfo Rule(const char* search, TColor fore, TColor back)
{
    TColorInfo rule;
    rule.SearchString = search;
    rule.ForeColor = fore;
    rule.BackColor = back;
    return rule;
}

std::string Describe(const TColorInfos& rules)
{
    std::string text;
    for (const auto& rule : rules)
        text += Format("[%s|%06X|%06X]", rule->SearchString.c_str(), rule->ForeColor, rule->BackColor);
    return text;
}

bool SameRect(const RECT& r, int left, int top, int width, int height)
{
    return r.left == left && r.top == top && r.right - r.left == width && r.bottom - r.top == height;
}

// The image list of the main window, for the tool bar of the rules dialog.
class TImages {
public:
    TImages() : FList(CreateActionImages()), Handle(FList.get()) {}

private:
    TUniqueImageList FList;

public:
    const HIMAGELIST Handle;
};

TStmtColorDlg* RulesDialog(HWND dlg) { return reinterpret_cast<TStmtColorDlg*>(GetWindowLongPtrA(dlg, GWLP_USERDATA)); }

bool ToolButtonEnabled(HWND toolBar, int id) { return SendMessageA(toolBar, TB_ISBUTTONENABLED, id, 0) != 0; }

} // namespace

TEST(StmtColorDlg, ListsTheRulesWithTheirPreviewAndTheToolBar)
{
    TImages images;
    TColorInfos rules;
    rules.Assign({Rule("SELECT", Red, Yellow), Rule("FROM", Blue, clWhite)});
    RECT list{}, bar{};
    std::string texts, headers, hints;
    std::vector<int> widths;
    int bitmaps[3] = {};
    COLORREF previewBack = 0;
    bool previewText = false;
    TModalDriver driver("Statement colorize", [&](HWND dlg) {
        TStmtColorDlg* self = RulesDialog(dlg);
        list = ControlBounds(self->lvw);
        bar = ControlBounds(self->tbr);
        for (int row = 0; row < ListRowCount(self->lvw); ++row)
            texts += ListText(self->lvw, row, 0) + "/" + ListText(self->lvw, row, 1) + ";";
        headers = ListHeaders(self->lvw, &widths);
        for (int i = 0; i < 3; ++i) {
            TBBUTTON button{};
            SendMessageA(self->tbr, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
            bitmaps[i] = button.iBitmap;
        }
        for (int id : {TStmtColorDlg::actNew, TStmtColorDlg::actEdit, TStmtColorDlg::actDelete}) {
            // What the tool bar's tooltip asks the dialog for.
            NMTTDISPINFOA info{};
            info.hdr.hwndFrom = reinterpret_cast<HWND>(SendMessageA(self->tbr, TB_GETTOOLTIPS, 0, 0));
            info.hdr.idFrom = static_cast<UINT_PTR>(id);
            info.hdr.code = TTN_GETDISPINFOA;
            SendMessageA(dlg, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
            hints += std::string(info.lpszText ? info.lpszText : "(none)") + ";";
        }
        RECT cell = ListCellRect(self->lvw, 0, 1);
        previewBack = PixelAt(self->lvw, cell.left + 3, cell.top + 3);
        previewText = AnyPixelIs(self->lvw, cell, Red);
        PressKey(dlg, VK_ESCAPE);
    });
    EXPECT_FALSE(EditColorRules(rules, images.Handle));
    ASSERT_TRUE(driver.Wait());
    EXPECT_TRUE(SameRect(list, 16, 34, 369, 159));
    EXPECT_TRUE(SameRect(bar, 16, 10, 73, 24));
    EXPECT_EQ(texts, "SELECT/PREVIEW;FROM/PREVIEW;");
    EXPECT_EQ(headers, "Search string;Color;");
    EXPECT_EQ(hints, "New rule;Edit rule;Delete rule;");
    EXPECT_EQ(widths, (std::vector<int>{300, 65}));
    EXPECT_EQ(bitmaps[0], imgNew);
    EXPECT_EQ(bitmaps[1], imgEdit);
    EXPECT_EQ(bitmaps[2], imgDelete);
    EXPECT_EQ(previewBack, Yellow);
    EXPECT_TRUE(previewText) << "no pixel of PREVIEW in the rule's text colour";
}

TEST(StmtColorDlg, EditAndDeleteNeedASelectedRule)
{
    TImages images;
    struct TCase {
        const char* Name;
        std::vector<TColorInfo> Rules;
        int Select;
        bool Enabled;
    } cases[] = {
        {"no rules", {}, -1, false},
        {"rules, none selected", {Rule("a", Red, Blue), Rule("b", Red, Blue)}, -1, false},
        {"rules, one selected", {Rule("a", Red, Blue), Rule("b", Red, Blue)}, 1, true},
    };
    for (const TCase& c : cases) {
        TColorInfos rules;
        rules.Assign(c.Rules);
        bool edit = !c.Enabled, del = !c.Enabled, newEnabled = false, editorOpened = false;
        TModalDriver driver("Statement colorize", [&](HWND dlg) {
            TStmtColorDlg* self = RulesDialog(dlg);
            SelectListRow(self->lvw, c.Select);
            Sleep(100);
            edit = ToolButtonEnabled(self->tbr, TStmtColorDlg::actEdit);
            del = ToolButtonEnabled(self->tbr, TStmtColorDlg::actDelete);
            newEnabled = ToolButtonEnabled(self->tbr, TStmtColorDlg::actNew);
            if (c.Select == -1) {
                // A double click or a queued Edit without a selection opens nothing.
                PostMessageA(self->lvw, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(200, 150));
                PressButton(dlg, TStmtColorDlg::actEdit);
                editorOpened = WaitForWindow("Choose colors", 700) != nullptr;
            }
            PressButton(dlg, IDCANCEL);
        });
        EditColorRules(rules, images.Handle);
        ASSERT_TRUE(driver.Wait()) << c.Name;
        EXPECT_EQ(edit, c.Enabled) << c.Name;
        EXPECT_EQ(del, c.Enabled) << c.Name;
        EXPECT_TRUE(newEnabled) << c.Name;
        EXPECT_FALSE(editorOpened) << c.Name;
    }
}

TEST(StmtColorDlg, OkKeepsTheChangesAndAnyOtherEndTakesThemBack)
{
    TImages images;
    const std::vector<TColorInfo> start = {Rule("SELECT", Red, clWhite), Rule("FROM", Blue, Yellow),
                                           Rule("WHERE", 0x80000008, 0x80000005)};
    const std::string before = "[SELECT|0000FF|FFFFFF][FROM|FF0000|00FFFF][WHERE|80000008|80000005]";
    struct TCase {
        const char* Name;
        std::function<void(HWND dlg, TStmtColorDlg* self)> Change;
        int Close;
        std::string Expected;
    } cases[] = {
        {"delete, Cancel",
         [](HWND dlg, TStmtColorDlg* self) {
             SelectListRow(self->lvw, 1);
             PressButton(dlg, TStmtColorDlg::actDelete);
         },
         IDCANCEL, before},
        {"delete, OK",
         [](HWND dlg, TStmtColorDlg* self) {
             SelectListRow(self->lvw, 1);
             PressButton(dlg, TStmtColorDlg::actDelete);
         },
         IDOK, "[SELECT|0000FF|FFFFFF][WHERE|80000008|80000005]"},
        {"add, Cancel",
         [](HWND dlg, TStmtColorDlg*) {
             PressButton(dlg, TStmtColorDlg::actNew);
             AnswerRuleEditor("ORDER BY", Blue, CLR_INVALID, IDOK);
         },
         IDCANCEL, before},
        {"add, OK",
         [](HWND dlg, TStmtColorDlg*) {
             PressButton(dlg, TStmtColorDlg::actNew);
             AnswerRuleEditor(" ORDER BY ", Blue, Red, IDOK);
         },
         IDOK, before + "[ ORDER BY |FF0000|0000FF]"},
        {"add, editor cancelled, OK",
         [](HWND dlg, TStmtColorDlg*) {
             PressButton(dlg, TStmtColorDlg::actNew);
             AnswerRuleEditor("never", Blue, CLR_INVALID, IDCANCEL);
         },
         IDOK, before},
        {"edit colours, Cancel",
         [](HWND dlg, TStmtColorDlg* self) {
             SelectListRow(self->lvw, 0);
             PressButton(dlg, TStmtColorDlg::actEdit);
             AnswerRuleEditor("select", Yellow, Blue, IDOK);
         },
         IDCANCEL, before},
        {"edit by double click, OK",
         [](HWND, TStmtColorDlg* self) {
             SelectListRow(self->lvw, 2);
             RECT cell = ListCellRect(self->lvw, 2, 0);
             PostMessageA(self->lvw, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(cell.left + 5, cell.top + 3));
             AnswerRuleEditor(nullptr, CLR_INVALID, Red, IDOK);
         },
         IDOK, "[SELECT|0000FF|FFFFFF][FROM|FF0000|00FFFF][WHERE|80000008|0000FF]"},
        {"delete, add and edit, Escape",
         [](HWND dlg, TStmtColorDlg* self) {
             SelectListRow(self->lvw, 0);
             PressButton(dlg, TStmtColorDlg::actDelete);
             PressButton(dlg, TStmtColorDlg::actNew);
             AnswerRuleEditor("x", Red, Red, IDOK);
             WaitForWindow("Statement colorize");
             SelectListRow(self->lvw, 0);
             PressButton(dlg, TStmtColorDlg::actEdit);
             AnswerRuleEditor("y", Yellow, Yellow, IDOK);
         },
         IDCANCEL, before},
    };
    for (const TCase& c : cases) {
        TColorInfos rules;
        rules.Assign(start);
        ASSERT_EQ(Describe(rules), before);
        std::string shown;
        TModalDriver driver("Statement colorize", [&](HWND dlg) {
            TStmtColorDlg* self = RulesDialog(dlg);
            c.Change(dlg, self);
            WaitForWindow("Statement colorize");
            for (int row = 0; row < ListRowCount(self->lvw); ++row)
                shown += ListText(self->lvw, row, 0) + ";";
            if (c.Close == IDCANCEL && std::string(c.Name).find("Escape") != std::string::npos)
                PressKey(dlg, VK_ESCAPE);
            else
                PressButton(dlg, c.Close);
        });
        bool ok = EditColorRules(rules, images.Handle);
        ASSERT_TRUE(driver.Wait()) << c.Name;
        EXPECT_EQ(ok, c.Close == IDOK) << c.Name;
        EXPECT_EQ(Describe(rules), c.Expected) << c.Name << " (the dialog showed " << shown << ")";
    }
}

TEST(SelColorsDlg, LayoutFocusAndThePreviewInTheRulesColours)
{
    TSelColorsDlg dlg;
    dlg.SearchString = "FROM";
    dlg.ForeColor = Blue;
    dlg.BackColor = Yellow;
    RECT client{}, edit{}, fore{}, back{}, sample{}, ok{}, cancel{};
    std::string editText, sampleText;
    HWND focus = nullptr;
    COLORREF forePixel = 0, backPixel = 0, samplePixel = 0;
    bool sampleHasText = false;
    TModalDriver driver("Choose colors", [&](HWND w) {
        GetClientRect(w, &client);
        edit = ControlBounds(dlg.edt);
        fore = ControlBounds(dlg.lblFore);
        back = ControlBounds(dlg.lblBack);
        sample = ControlBounds(dlg.lblSample);
        ok = ControlBounds(dlg.btnOK);
        cancel = ControlBounds(dlg.btnCancel);
        editText = WindowText(dlg.edt);
        sampleText = WindowText(dlg.lblSample);
        // Tests run side by side on one display and take the activation from each
        // other; while the dialog is active again, the focus is back where it put it.
        for (int attempt = 0; attempt < 20 && focus != dlg.edt; ++attempt) {
            SetForegroundWindow(w);
            Sleep(50);
            GUITHREADINFO info{};
            info.cbSize = sizeof(info);
            GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &info);
            focus = info.hwndFocus;
        }
        forePixel = PixelAt(dlg.lblFore, 5, 5);
        backPixel = PixelAt(dlg.lblBack, 5, 5);
        samplePixel = PixelAt(dlg.lblSample, 2, 2);
        sampleHasText = AnyPixelIs(dlg.lblSample, RECT{0, 0, 140, 40}, Blue);
        SetWindowTextA(dlg.edt, "");
        PressKey(w, VK_RETURN);
    });
    EXPECT_EQ(dlg.ShowModal(), mrOk);
    ASSERT_TRUE(driver.Wait());
    EXPECT_EQ(client.bottom, 200);
    EXPECT_EQ(dlg.Bevel1.Height, 153);
    EXPECT_EQ(edit.left, 16);
    EXPECT_EQ(edit.top, 40);
    EXPECT_EQ(edit.right - edit.left, 369);
    EXPECT_TRUE(SameRect(fore, 104, 72, 97, 13));
    EXPECT_TRUE(SameRect(back, 296, 72, 88, 13));
    EXPECT_TRUE(SameRect(sample, 130, 100, 140, 40));
    EXPECT_EQ(ok.top, 168);
    EXPECT_EQ(cancel.top, 168);
    EXPECT_EQ(editText, "FROM");
    EXPECT_EQ(sampleText, "SAMPLE");
    EXPECT_EQ(focus, dlg.edt);
    EXPECT_EQ(forePixel, Blue);
    EXPECT_EQ(backPixel, Yellow);
    EXPECT_EQ(samplePixel, Yellow);
    EXPECT_TRUE(sampleHasText);
    // An empty search string is accepted.
    EXPECT_EQ(dlg.SearchString, "");
}

TEST(SelColorsDlg, ASwatchClickOffersItsColourAndTakesTheChosenOne)
{
    TSelColorsDlg dlg;
    dlg.ForeColor = RGB(10, 20, 30);
    COLORREF offeredFore = 0, offeredBack = 0, samplePixel = 0;
    TModalDriver driver("Choose colors", [&](HWND w) {
        ClickLabel(dlg.lblFore);
        offeredFore = AnswerColorDialog(Red, true);
        WaitForWindow("Choose colors");
        ClickLabel(dlg.lblBack);
        offeredBack = AnswerColorDialog(Blue, false);
        WaitForWindow("Choose colors");
        samplePixel = PixelAt(dlg.lblSample, 2, 2);
        PressButton(w, IDOK);
    });
    EXPECT_EQ(dlg.ShowModal(), mrOk);
    ASSERT_TRUE(driver.Wait());
    EXPECT_EQ(offeredFore, RGB(10, 20, 30));
    EXPECT_EQ(offeredBack, RGB(255, 255, 255));
    EXPECT_EQ(dlg.ForeColor, Red);
    EXPECT_EQ(dlg.BackColor, clWhite);
    EXPECT_EQ(samplePixel, RGB(255, 255, 255));
}

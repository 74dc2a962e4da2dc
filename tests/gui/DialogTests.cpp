// The dialog frame and the trace options dialog, shown for real.
#include "DlgTraceMask.h"
#include "GuiDriver.h"

#include "DebugCore.h"

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
    int focusId = 0;
    TModalDriver driver("dlgTemplate", [&](HWND w) {
        ok = ControlBounds(GetDlgItem(w, IDOK));
        cancel = ControlBounds(GetDlgItem(w, IDCANCEL));
        okText = WindowText(GetDlgItem(w, IDOK));
        cancelText = WindowText(GetDlgItem(w, IDCANCEL));
        GetClientRect(w, &client);
        GetWindowRect(w, &window);
        style = GetWindowLongA(w, GWL_STYLE);
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        GetGUIThreadInfo(GetWindowThreadProcessId(w, nullptr), &info);
        focusId = GetDlgCtrlID(info.hwndFocus);
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
    EXPECT_EQ(focusId, IDOK);
    EXPECT_EQ(dlg.Bevel1.Left, 8);
    EXPECT_EQ(dlg.Bevel1.Width, 385);
    EXPECT_EQ(dlg.Bevel1.Height, 193);
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

// The thin window layer of the user interface: windows that find their C++ object from
// their handle, colours and fonts in the program's own terms, child controls placed in
// pixels, and the application's message loop with its idle step.
#pragma once

#include "Handles.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// ---------------------------------------------------------------------------
// Colours and fonts

// A colour value: a direct colour 0x00BBGGRR, or 0x80000000 + n, the system's colour n.
using TColor = uint32_t;
constexpr TColor clBlack = 0x00000000;
constexpr TColor clWhite = 0x00FFFFFF;
constexpr TColor clBtnFace = 0x80000000 | COLOR_BTNFACE;
constexpr TColor clWindow = 0x80000000 | COLOR_WINDOW;
constexpr TColor clWindowText = 0x80000000 | COLOR_WINDOWTEXT;
constexpr TColor clHighlight = 0x80000000 | COLOR_HIGHLIGHT;
constexpr TColor clHighlightText = 0x80000000 | COLOR_HIGHLIGHTTEXT;

// The colour to paint with: system colours resolved to their current value.
COLORREF ColorToRGB(TColor color);

struct TDeleteObject {
    void operator()(HGDIOBJ object) const { ::DeleteObject(object); }
};
using TUniqueFont = TUniqueAny<HFONT, TDeleteObject, nullptr>;
using TUniqueBrush = TUniqueAny<HBRUSH, TDeleteObject, nullptr>;
using TUniqueBitmap = TUniqueAny<HBITMAP, TDeleteObject, nullptr>;

// A menu that no window holds (a menu bar set on a window goes with the window).
struct TDestroyMenu {
    void operator()(HMENU menu) const { ::DestroyMenu(menu); }
};
using TUniqueMenu = TUniqueAny<HMENU, TDestroyMenu, nullptr>;

// A font by face name and character height in pixels (the cell is taller by the
// internal leading). pitchAndFamily guides the choice where the face is missing.
TUniqueFont CreatePixelFont(const char* face, int height, bool bold = false, BYTE charset = DEFAULT_CHARSET,
                            BYTE pitchAndFamily = DEFAULT_PITCH | FF_DONTCARE);

// ---------------------------------------------------------------------------
// Child controls in pixels

// A child control of parent at a client-area rectangle, in the given font. WS_CHILD and
// WS_VISIBLE are added; controls take the tab order in which they are created.
HWND CreateChildControl(HWND parent, const char* className, const char* text, DWORD style, int left, int top,
                        int width, int height, int id = 0, DWORD exStyle = 0, HFONT font = nullptr);

// Moves a control to a rectangle of its parent's client area.
void SetControlBounds(HWND control, int left, int top, int width, int height);
// The control's rectangle in its parent's client coordinates.
RECT ControlBounds(HWND control);

std::string WindowText(HWND window);

// Controls that show any Unicode text: created as Unicode windows, their texts set and read
// as UTF-8 (the program's own texts) through the system's UTF-16. A Unicode control of an
// ANSI parent asks the parent with WM_NOTIFYFORMAT how to notify; a parent that wants its
// notifications in UTF-16 (LVN_GETDISPINFOW) answers NFR_UNICODE.
HWND CreateUnicodeChildControl(HWND parent, const wchar_t* className, const std::string& text, DWORD style,
                               int left, int top, int width, int height, int id = 0, DWORD exStyle = 0,
                               HFONT font = nullptr);
void SetWindowTextUtf8(HWND window, const std::string& text);
std::string WindowTextUtf8(HWND window);
// Check boxes.
bool IsChecked(HWND checkBox);
void SetChecked(HWND checkBox, bool checked);

// Sizes a top-level window so that its client area is width x height and centres it on
// the screen.
void SetClientSizeCentred(HWND window, int width, int height);

// ---------------------------------------------------------------------------
// Windows with an object behind them

// A window whose messages go to a C++ object: `this` is stored at WM_NCCREATE and every
// later message reaches WndProc. An exception that escapes a handler is shown through the
// application's error display instead of crossing the system's code.
class TWindow {
public:
    TWindow() = default;
    TWindow(const TWindow&) = delete;
    TWindow& operator=(const TWindow&) = delete;
    // Destroys the window if it still exists.
    virtual ~TWindow();

    HWND Handle = nullptr;

protected:
    // Registers the class on first use (with this type's window procedure) and creates
    // the window.
    void CreateHandle(const char* className, const char* caption, DWORD style, DWORD exStyle, int left, int top,
                      int width, int height, HWND parent = nullptr, HMENU menu = nullptr, HCURSOR cursor = nullptr,
                      HBRUSH background = nullptr);
    virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK StdWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
};

// A bar between two panes, dragged up and down; OnMoved receives the bar's new top in its
// parent's client coordinates.
class TSplitter : public TWindow {
public:
    void Create(HWND parent, int id);
    std::function<void(int top)> OnMoved;

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    int FGrabOffset = -1;
};

// Runs a handler and shows what it throws through the application's error display.
void HandleGuarded(const std::function<void()>& handler);

// ---------------------------------------------------------------------------
// The message loop

// The application's loop: after the queue has run empty it runs the idle handler once,
// then waits for the next message.
class TMessageLoop {
public:
    // Set by the main window: the application's idle event.
    std::function<void()> OnIdle;
    // Set by the main window: sees every message before it is dispatched (the short cuts
    // of its actions); true when it has handled the message.
    std::function<bool(MSG&)> OnMessage;

    // Dispatches every waiting message; false once WM_QUIT has been seen (it is re-posted).
    bool ProcessMessages();
    // The idle step, for loops of their own (modal states, tests).
    void Idle();
    // Translates and dispatches a message taken with PeekMessageW, unless OnMessage
    // handles it.
    void Dispatch(MSG& msg);
    // Dispatches messages, idling whenever the queue is empty, until window has been
    // destroyed or WM_QUIT arrives.
    void RunUntilClosed(HWND window);
};

TMessageLoop& MessageLoop();

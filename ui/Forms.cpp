#include "Forms.h"

#include "Application.h"
#include "Errors.h"
#include "Utils.h"

#include <set>

COLORREF ColorToRGB(TColor color)
{
    if (color & 0x80000000)
        return GetSysColor(static_cast<int>(color & 0xFF));
    return static_cast<COLORREF>(color & 0x00FFFFFF);
}

TUniqueFont CreatePixelFont(const char* face, int height, bool bold, BYTE charset, BYTE pitchAndFamily)
{
    LOGFONTA lf{};
    // A negative height asks for the character height rather than the cell height.
    lf.lfHeight = -height;
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfCharSet = charset;
    lf.lfQuality = DEFAULT_QUALITY;
    lf.lfPitchAndFamily = pitchAndFamily;
    lstrcpynA(lf.lfFaceName, face, LF_FACESIZE);
    TUniqueFont font(CreateFontIndirectA(&lf));
    if (!font)
        RaiseLastOSError();
    return font;
}

HWND CreateChildControl(HWND parent, const char* className, const char* text, DWORD style, int left, int top,
                        int width, int height, int id, DWORD exStyle, HFONT font)
{
    HWND control = CreateWindowExA(exStyle, className, text, style | WS_CHILD | WS_VISIBLE, left, top, width, height,
                                   parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleA(nullptr), nullptr);
    if (!control)
        RaiseLastOSError();
    if (font)
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

HWND CreateUnicodeChildControl(HWND parent, const wchar_t* className, const std::string& text, DWORD style,
                               int left, int top, int width, int height, int id, DWORD exStyle, HFONT font)
{
    HWND control = CreateWindowExW(exStyle, className, Utf8ToWide(text).c_str(), style | WS_CHILD | WS_VISIBLE, left,
                                   top, width, height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   GetModuleHandleW(nullptr), nullptr);
    if (!control)
        RaiseLastOSError();
    if (font)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

void SetWindowTextUtf8(HWND window, const std::string& text) { SetWindowTextW(window, Utf8ToWide(text).c_str()); }

std::string WindowTextUtf8(HWND window)
{
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int n = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(n < 0 ? 0 : n));
    return WideToUtf8(text);
}

void SetControlBounds(HWND control, int left, int top, int width, int height)
{
    SetWindowPos(control, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

RECT ControlBounds(HWND control)
{
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string WindowText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int n = GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(n < 0 ? 0 : n));
    return text;
}

bool IsChecked(HWND checkBox) { return SendMessageA(checkBox, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void SetChecked(HWND checkBox, bool checked)
{
    SendMessageA(checkBox, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void SetClientSizeCentred(HWND window, int width, int height)
{
    RECT r{0, 0, width, height};
    DWORD style = static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE));
    DWORD exStyle = static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE));
    AdjustWindowRectEx(&r, style, GetMenu(window) != nullptr && !(style & WS_CHILD), exStyle);
    int w = r.right - r.left;
    int h = r.bottom - r.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    SetWindowPos(window, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------------------
// TWindow

TWindow::~TWindow()
{
    if (Handle && IsWindow(Handle)) {
        HWND window = Handle;
        DestroyWindow(window);
    }
}

void TWindow::CreateHandle(const char* className, const char* caption, DWORD style, DWORD exStyle, int left,
                           int top, int width, int height, HWND parent, HMENU menu, HCURSOR cursor,
                           HBRUSH background)
{
    static std::set<std::string> registered;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!registered.count(className)) {
        WNDCLASSA cls{};
        cls.style = CS_DBLCLKS;
        cls.lpfnWndProc = StdWndProc;
        cls.hInstance = instance;
        cls.hCursor = cursor ? cursor : LoadCursorA(nullptr, IDC_ARROW);
        cls.hbrBackground = background;
        cls.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
        cls.lpszClassName = className;
        if (!RegisterClassA(&cls))
            RaiseLastOSError();
        registered.insert(className);
    }
    if (!CreateWindowExA(exStyle, className, caption, style, left, top, width, height, parent, menu, instance, this))
        RaiseLastOSError();
}

LRESULT TWindow::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) { return DefaultHandler(msg, wParam, lParam); }

LRESULT TWindow::DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(Handle, msg, wParam, lParam);
}

LRESULT CALLBACK TWindow::StdWndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<TWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->Handle = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcA(window, msg, wParam, lParam);
    LRESULT result = 0;
    try {
        result = self->WndProc(msg, wParam, lParam);
    } catch (...) {
        Application().ShowException(std::current_exception());
    }
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->Handle = nullptr;
    }
    return result;
}

// ---------------------------------------------------------------------------
// TSplitter

void TSplitter::Create(HWND parent, int id)
{
    CreateHandle("TSplitter", "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, 0, parent,
                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), LoadCursorA(nullptr, IDC_SIZENS),
                 GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT TSplitter::WndProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_LBUTTONDOWN:
        FGrabOffset = static_cast<short>(HIWORD(lParam));
        SetCapture(Handle);
        return 0;
    case WM_MOUSEMOVE:
        if (FGrabOffset >= 0 && OnMoved) {
            POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            MapWindowPoints(Handle, GetParent(Handle), &p, 1);
            OnMoved(p.y - FGrabOffset);
        }
        return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        if (FGrabOffset >= 0) {
            FGrabOffset = -1;
            if (msg == WM_LBUTTONUP)
                ReleaseCapture();
        }
        return 0;
    }
    return DefaultHandler(msg, wParam, lParam);
}

void HandleGuarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (...) {
        Application().ShowException(std::current_exception());
    }
}

// ---------------------------------------------------------------------------
// TMessageLoop

bool TMessageLoop::ProcessMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        Dispatch(msg);
    }
    return true;
}

void TMessageLoop::Dispatch(MSG& msg)
{
    bool handled = false;
    if (OnMessage)
        HandleGuarded([&] { handled = OnMessage(msg); });
    if (handled)
        return;
    TranslateMessage(&msg);
    // In UTF-16 all the way: a character typed into a Unicode control (the filter box)
    // that the system's code page lacks would not survive a trip through it.
    DispatchMessageW(&msg);
}

void TMessageLoop::Idle()
{
    if (OnIdle)
        HandleGuarded(OnIdle);
}

void TMessageLoop::RunUntilClosed(HWND window)
{
    MSG msg;
    while (IsWindow(window)) {
        if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            Idle();
            if (!IsWindow(window))
                break;
            WaitMessage();
            continue;
        }
        if (msg.message == WM_QUIT)
            break;
        Dispatch(msg);
    }
}

TMessageLoop& MessageLoop()
{
    static TMessageLoop loop;
    return loop;
}

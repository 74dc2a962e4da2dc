#include "Images.h"

#include "Errors.h"
#include "Forms.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace {

constexpr COLORREF None = CLR_NONE;

// Draws one image with GDI at four times its size and reduces it to 16 x 16, the share
// of covered subpixels giving the alpha, so that edges come out smooth.
class TIconPainter {
public:
    static constexpr int Scale = 4;
    static constexpr int Size = 16 * Scale;
    // Marks the subpixels left uncovered; drawing in it (Hole) cuts holes.
    static constexpr uint32_t Key = 0x00FF00FF;

    struct TPt {
        double X, Y;
    };

    TIconPainter()
    {
        FDC = CreateCompatibleDC(nullptr);
        FBitmap = CreateTopDownDib(FDC, Size, Size, reinterpret_cast<void**>(&FBits));
        if (!FDC || !FBitmap)
            RaiseLastOSError();
        FOld = SelectObject(FDC, FBitmap);
        SetGraphicsMode(FDC, GM_ADVANCED);
        for (int i = 0; i < Size * Size; ++i)
            FBits[i] = Key;
    }

    ~TIconPainter()
    {
        SelectObject(FDC, FOld);
        DeleteObject(FBitmap);
        DeleteDC(FDC);
    }

    void Polygon(std::initializer_list<TPt> points, COLORREF fill, COLORREF outline = None, double width = 1)
    {
        std::vector<POINT> p;
        for (const TPt& pt : points)
            p.push_back(Px(pt));
        WithTools(fill, outline, width, [&] { ::Polygon(FDC, p.data(), static_cast<int>(p.size())); });
    }

    void Line(std::initializer_list<TPt> points, COLORREF color, double width)
    {
        std::vector<POINT> p;
        for (const TPt& pt : points)
            p.push_back(Px(pt));
        WithTools(None, color, width, [&] { ::Polyline(FDC, p.data(), static_cast<int>(p.size())); });
    }

    void Ellipse(double l, double t, double r, double b, COLORREF fill, COLORREF outline = None, double width = 1)
    {
        WithTools(fill, outline, width, [&] { ::Ellipse(FDC, S(l), S(t), S(r), S(b)); });
    }

    void RoundRect(double l, double t, double r, double b, double radius, COLORREF fill, COLORREF outline = None,
                   double width = 1)
    {
        WithTools(fill, outline, width,
                  [&] { ::RoundRect(FDC, S(l), S(t), S(r), S(b), S(radius * 2), S(radius * 2)); });
    }

    void Rect(double l, double t, double r, double b, COLORREF fill, COLORREF outline = None, double width = 1)
    {
        Polygon({{l, t}, {r, t}, {r, b}, {l, b}}, fill, outline, width);
    }

    // Later drawings are rotated by degrees around (cx, cy); Rotate(0) ends it.
    void Rotate(double degrees, double cx = 8, double cy = 8)
    {
        double a = degrees * 3.14159265358979 / 180;
        XFORM x{};
        x.eM11 = static_cast<FLOAT>(std::cos(a));
        x.eM12 = static_cast<FLOAT>(std::sin(a));
        x.eM21 = static_cast<FLOAT>(-std::sin(a));
        x.eM22 = static_cast<FLOAT>(std::cos(a));
        x.eDx = static_cast<FLOAT>(cx * Scale - cx * Scale * x.eM11 - cy * Scale * x.eM21);
        x.eDy = static_cast<FLOAT>(cy * Scale - cx * Scale * x.eM12 - cy * Scale * x.eM22);
        SetWorldTransform(FDC, &x);
    }

    // The image as premultiplied BGRA, 16 rows of 16 pixels, top row first.
    void Reduce(uint32_t* out, int stride) const
    {
        GdiFlush();
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                unsigned n = 0, r = 0, g = 0, b = 0;
                for (int sy = 0; sy < Scale; ++sy)
                    for (int sx = 0; sx < Scale; ++sx) {
                        uint32_t p = FBits[(y * Scale + sy) * Size + x * Scale + sx] & 0x00FFFFFF;
                        if (p == Key)
                            continue;
                        ++n;
                        b += p & 0xFF;
                        g += (p >> 8) & 0xFF;
                        r += (p >> 16) & 0xFF;
                    }
                const unsigned all = Scale * Scale;
                // Premultiplied: each channel is its average over the covered subpixels
                // times the covered share, which is the sum over all of them.
                uint32_t a = n * 255 / all;
                out[y * stride + x] = n == 0 ? 0 : (a << 24) | ((r / all) << 16) | ((g / all) << 8) | (b / all);
            }
    }

private:
    static int S(double v) { return static_cast<int>(std::lround(v * Scale)); }
    static POINT Px(const TPt& p) { return POINT{S(p.X), S(p.Y)}; }

    template <class F>
    void WithTools(COLORREF fill, COLORREF outline, double width, F draw)
    {
        HBRUSH brush = fill == None ? static_cast<HBRUSH>(GetStockObject(NULL_BRUSH)) : CreateSolidBrush(fill);
        HPEN pen = static_cast<HPEN>(GetStockObject(NULL_PEN));
        if (outline != None) {
            LOGBRUSH lb{BS_SOLID, outline, 0};
            pen = ExtCreatePen(PS_GEOMETRIC | PS_SOLID | PS_ENDCAP_ROUND | PS_JOIN_ROUND,
                               static_cast<DWORD>(std::max(1L, std::lround(width * Scale))), &lb, 0, nullptr);
        }
        HGDIOBJ oldBrush = SelectObject(FDC, brush);
        HGDIOBJ oldPen = SelectObject(FDC, pen);
        draw();
        SelectObject(FDC, oldBrush);
        SelectObject(FDC, oldPen);
        if (fill != None)
            DeleteObject(brush);
        if (outline != None)
            DeleteObject(pen);
    }

    HDC FDC = nullptr;
    HBITMAP FBitmap = nullptr;
    HGDIOBJ FOld = nullptr;
    uint32_t* FBits = nullptr;
};

const COLORREF Ink = RGB(40, 40, 48);
const COLORREF DarkGreen = RGB(0, 110, 30);
const COLORREF Green = RGB(40, 185, 60);
const COLORREF DarkRed = RGB(150, 20, 20);
const COLORREF Red = RGB(220, 45, 40);
const COLORREF DarkBlue = RGB(20, 50, 130);
const COLORREF Blue = RGB(50, 100, 200);
const COLORREF Steel = RGB(110, 120, 135);
const COLORREF Silver = RGB(200, 205, 212);
const COLORREF Paper = RGB(252, 252, 252);
const COLORREF Yellow = RGB(250, 205, 40);
const COLORREF Wood = RGB(230, 190, 130);
const COLORREF Pink = RGB(240, 140, 150);
// The painter's key colour: what is drawn in it stays transparent.
const COLORREF Hole = RGB(255, 0, 255);

void DrawRun(TIconPainter& p) { p.Polygon({{4, 2}, {14, 8}, {4, 14}}, Green, DarkGreen, 1); }

void DrawAttach(TIconPainter& p)
{
    // Two links of a chain, the second through the first.
    p.Rotate(-45);
    p.RoundRect(0.5, 5, 9.5, 11, 3, None, Steel, 1.5);
    p.RoundRect(6.5, 5, 15.5, 11, 3, None, Blue, 1.5);
    // The first link again where it passes in front of the second.
    p.Line({{9.5, 7}, {9.5, 9}}, Steel, 1.5);
    p.Rotate(0);
}

void DrawStop(TIconPainter& p) { p.RoundRect(3, 3, 13, 13, 1.5, Red, DarkRed, 1); }

void DrawClear(TIconPainter& p)
{
    // An eraser rubbing out a line.
    p.Line({{1.5, 14.5}, {9, 14.5}}, Steel, 1);
    p.Rotate(-40, 9, 7);
    p.RoundRect(3, 4, 15, 10, 1, Pink, DarkRed, 0.8);
    p.Rect(3.4, 4.4, 7.5, 9.6, Blue);
    p.Rotate(0);
}

void DrawSave(TIconPainter& p)
{
    // A floppy disk: body, metal shutter, label.
    p.Polygon({{1.5, 1.5}, {12.5, 1.5}, {14.5, 3.5}, {14.5, 14.5}, {1.5, 14.5}}, Blue, DarkBlue, 1);
    p.Rect(4.5, 1.5, 11.5, 6.5, Silver, DarkBlue, 0.6);
    p.Rect(8.8, 2.5, 10.4, 5.5, DarkBlue);
    p.Rect(3.5, 8.5, 12.5, 14.5, Paper, DarkBlue, 0.6);
    p.Line({{5, 10.8}, {11, 10.8}}, Silver, 0.7);
    p.Line({{5, 12.6}, {11, 12.6}}, Silver, 0.7);
}

void DrawTraceEnable(TIconPainter& p)
{
    // A monitor trace: a pulse on a dark screen.
    p.RoundRect(0.5, 2.5, 15.5, 13.5, 1.5, RGB(30, 40, 45), Ink, 1);
    p.Line({{2, 8.5}, {5, 8.5}, {6.5, 4.5}, {9, 12}, {10.5, 8.5}, {14, 8.5}}, RGB(80, 235, 90), 1.3);
}

void DrawNew(TIconPainter& p)
{
    // A blank page with a folded corner and a spark.
    p.Polygon({{2.5, 1.5}, {9.5, 1.5}, {13.5, 5.5}, {13.5, 14.5}, {2.5, 14.5}}, Paper, Steel, 1);
    p.Polygon({{9.5, 1.5}, {9.5, 5.5}, {13.5, 5.5}}, Silver, Steel, 0.8);
    p.Polygon({{12, 8}, {13, 10.5}, {15.5, 11.5}, {13, 12.5}, {12, 15}, {11, 12.5}, {8.5, 11.5}, {11, 10.5}}, Yellow,
              RGB(200, 140, 0), 0.6);
}

void DrawDelete(TIconPainter& p)
{
    p.Line({{3.5, 3.5}, {12.5, 12.5}}, DarkRed, 3.4);
    p.Line({{12.5, 3.5}, {3.5, 12.5}}, DarkRed, 3.4);
    p.Line({{3.5, 3.5}, {12.5, 12.5}}, Red, 2.2);
    p.Line({{12.5, 3.5}, {3.5, 12.5}}, Red, 2.2);
}

void DrawColorize(TIconPainter& p)
{
    // A painter's palette with its thumb hole and four paints.
    p.Ellipse(0.5, 2, 15.5, 14.5, Wood, RGB(150, 100, 40), 1);
    p.Ellipse(3, 9, 6.5, 12.5, Hole);
    p.Ellipse(3.5, 4.2, 6.8, 7.5, Red);
    p.Ellipse(7, 3.5, 10.3, 6.8, Yellow);
    p.Ellipse(10.5, 5.5, 13.8, 8.8, RGB(40, 160, 60));
    p.Ellipse(9, 9.5, 12.3, 12.8, Blue);
}

void DrawEdit(TIconPainter& p)
{
    // A pencil, point down to the left.
    p.Rotate(-45);
    p.Rect(4.5, 6, 13, 10, Yellow, RGB(170, 120, 0), 0.6);
    p.Rect(13, 6, 15.5, 10, Pink, RGB(170, 70, 80), 0.6);
    p.Polygon({{4.5, 6}, {4.5, 10}, {0.8, 8}}, Wood, RGB(150, 100, 40), 0.6);
    p.Polygon({{2.1, 7.3}, {2.1, 8.7}, {0.8, 8}}, Ink);
    p.Rotate(0);
}

} // namespace

HBITMAP CreateTopDownDib(HDC dc, int width, int height, void** bits)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    return CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

TUniqueImageList CreateActionImages()
{
    using TDraw = void (*)(TIconPainter&);
    const TDraw draws[ImageCount] = {DrawRun,   DrawAttach,      DrawStop, DrawClear,  DrawSave,
                                     DrawTraceEnable, DrawNew, DrawDelete, DrawColorize, DrawEdit};
    const int width = 16 * ImageCount;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -16;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    uint32_t* bits = nullptr;
    TUniqueBitmap strip(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0));
    if (!strip)
        RaiseLastOSError();
    for (int i = 0; i < ImageCount; ++i) {
        TIconPainter painter;
        draws[i](painter);
        painter.Reduce(bits + i * 16, width);
    }
    TUniqueImageList list(ImageList_Create(16, 16, ILC_COLOR32, ImageCount, 0));
    if (!list)
        RaiseLastOSError();
    // The list copies the strip's pixels.
    ImageList_Add(list.get(), strip.get(), nullptr);
    return list;
}

#include "app/core/RotatePhoto.h"

#include "raster/ScopeGuard.h"
#include "raster/Transform.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr long double kPi = 3.14159265358979323846264338327950288L;

// Fills every pixel of the bitmap outside r (r within the bounds) with color.
void FillOutside(TBitmap32& b, const TRect& r, TColor32 color)
{
    const int w = b.Width();
    TColor32* bits = b.Bits();
    for (int y = 0; y < b.Height(); ++y) {
        TColor32* row = bits + static_cast<size_t>(y) * static_cast<size_t>(w);
        if (y < r.Top || y >= r.Bottom || r.Left >= r.Right) {
            std::fill_n(row, w, color);
        } else {
            std::fill(row, row + r.Left, color);
            std::fill(row + r.Right, row + w, color);
        }
    }
}

} // namespace

float FitScale(int width, int height, float angle)
{
    // Evaluated at extended precision, stored as single where the values are kept.
    const float a = static_cast<float>(kPi * angle / 180);
    const long double c = std::fabs(std::cos(static_cast<long double>(a)));
    const long double s = std::fabs(std::sin(static_cast<long double>(a)));
    const float dw = static_cast<float>(c * (width - 1) + s * (height - 1));
    const float dh = static_cast<float>(s * (width - 1) + c * (height - 1));
    const float sx = static_cast<float>(width / static_cast<long double>(dw));
    const float sy = static_cast<float>(height / static_cast<long double>(dh));
    return std::min(sx, sy);
}

bool CanRotatePhoto(int width, int height)
{
    return width >= 2 && height >= 2 && width <= 32767 && height <= 32767;
}

bool RotatePhoto(TBitmap32& src, TBitmap32& dst, float angle)
{
    const int w = src.Width();
    const int h = src.Height();
    if (!CanRotatePhoto(w, h) || src.IsEmpty())
        return false;
    TAffineTransformation t;
    t.SetSrcRect({0, 0, static_cast<float>(w), static_cast<float>(h)});
    t.Clear();
    const float cx = static_cast<float>((w - 1) / 2.0L);
    const float cy = static_cast<float>((h - 1) / 2.0L);
    t.Translate(-cx, -cy);
    t.Rotate(0, 0, angle);
    const float s = FitScale(w, h, angle);
    t.Scale(s, s);
    t.Translate(cx, cy);

    dst.BeginUpdate();
    {
        const TScopeGuard endUpdate([&] { dst.EndUpdate(); });
        // The render writes every pixel of the covered area (opaque store),
        // so only the rest needs the black first; with clipping on either
        // side the whole bitmap is cleared.
        if (!dst.Clipping() && !src.Clipping() && src.DrawMode() == TDrawMode::dmOpaque && !dst.IsEmpty()) {
            FillOutside(dst, IntersectRect(t.TransformedBounds(), dst.Bounds()), clBlack32);
            dst.Changed();
        } else {
            dst.Clear(clBlack32);
        }
        Transform(dst, src, t);
    }
    // Only a finished render is announced.
    dst.Changed();
    return true;
}

bool OrientationAngle(int orientation, float& angle)
{
    switch (orientation) {
    case 3:
        angle = 180;
        return true;
    case 6:
        angle = -90;
        return true;
    case 8:
        angle = 90;
        return true;
    default:
        return false;
    }
}

bool RenderUpright(TBitmap32& src, TBitmap32& dst, int orientation)
{
    const int w = src.Width();
    const int h = src.Height();
    if (!CanRotatePhoto(w, h) || src.IsEmpty())
        return false;
    dst.SetSize(w, h);
    ClearBorderAlpha(src, src.Bounds());
    float angle = 0;
    OrientationAngle(orientation, angle);
    return RotatePhoto(src, dst, angle);
}

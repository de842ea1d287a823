#include "graphics/Graphics.h"
#include "platform/FileStream.h"

#include <algorithm>
#include <array>
#include <cstring>

// ---- TGraphic ----

void TGraphic::LoadFromFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName)
{
    TFileStream stream(fileName, fmCreate);
    SaveToStream(stream);
}

void TGraphic::Assign(const TGraphic* source)
{
    if (source == nullptr)
        AssignError(nullptr);
    source->AssignTo(*this);
}

void TGraphic::AssignTo(TGraphic& dest) const
{
    dest.AssignError(this);
}

bool TGraphic::Equals(TGraphic& other)
{
    if (&other == this)
        return true;
    if (other.ClassName() != ClassName() || other.Empty() != Empty())
        return false;
    if (Empty())
        return true;
    TMemoryStream mine;
    TMemoryStream theirs;
    SaveToStream(mine);
    other.SaveToStream(theirs);
    return mine.Size() == theirs.Size() &&
           (mine.Size() == 0 ||
            std::memcmp(mine.Memory(), theirs.Memory(), static_cast<size_t>(mine.Size())) == 0);
}

void TGraphic::Changed() const
{
    if (OnChange)
        OnChange(*this);
}

void TGraphic::Progress(TProgressStage stage, uint8_t percentDone, bool redrawNow, const TRect& rect,
                        const std::string& msg) const
{
    if (OnProgress)
        OnProgress(*this, stage, percentDone, redrawNow, rect, msg);
}

void TGraphic::AssignError(const TGraphic* source) const
{
    const std::string sourceName = source != nullptr ? source->ClassName() : "nil";
    std::string text = FormatS("%s kann nicht zu  %s zugewiesen werden", sourceName);
    throw EConvertError(FormatS(text, ClassName()));
}

// ---- TCanvas ----

TCanvas::TCanvas(uint8_t* bits, int width, int height, int stride)
    : FBits(bits)
    , FWidth(std::max(width, 0))
    , FHeight(std::max(height, 0))
    , FStride(stride)
{
}

void TCanvas::StretchDraw(const TRect& rect, const TBitmap& bitmap)
{
    const int srcW = bitmap.Width();
    const int srcH = bitmap.Height();
    const int dstW = rect.Width();
    const int dstH = rect.Height();
    if (FBits == nullptr || bitmap.Empty() || dstW <= 0 || dstH <= 0)
        return;
    // The part of rect that lies on the canvas.
    const int x0 = std::max(rect.Left, 0);
    const int x1 = std::min(rect.Right, FWidth);
    const int y0 = std::max(rect.Top, 0);
    const int y1 = std::min(rect.Bottom, FHeight);
    if (x0 >= x1 || y0 >= y1)
        return;

    std::array<uint32_t, 256> lut{};
    const TPixelFormat format = bitmap.PixelFormat();
    if (format == TPixelFormat::pf8bit) {
        const TPalette& pal = bitmap.Palette();
        for (size_t i = 0; i < pal.size() && i < lut.size(); ++i)
            lut[i] = uint32_t{pal[i].Blue} | uint32_t{pal[i].Green} << 8 | uint32_t{pal[i].Red} << 16 |
                     0xFF000000u;
        for (size_t i = pal.size(); i < lut.size(); ++i)
            lut[i] = 0xFF000000u;
    }

    // Source column of every destination column: the pixel whose centre lies
    // nearest to the destination pixel's centre.
    const bool sameWidth = dstW == srcW;
    std::vector<int> srcX;
    if (!sameWidth) {
        srcX.resize(static_cast<size_t>(x1 - x0));
        for (int x = x0; x < x1; ++x)
            srcX[static_cast<size_t>(x - x0)] = static_cast<int>(
                ((2 * static_cast<int64_t>(x - rect.Left) + 1) * srcW) / (2 * static_cast<int64_t>(dstW)));
    }
    for (int y = y0; y < y1; ++y) {
        const int sy = dstH == srcH ? y - rect.Top
                                    : static_cast<int>(((2 * static_cast<int64_t>(y - rect.Top) + 1) * srcH) /
                                                       (2 * static_cast<int64_t>(dstH)));
        const uint8_t* src = bitmap.ScanLine(sy);
        uint8_t* dst = FBits + static_cast<ptrdiff_t>(y) * FStride + static_cast<ptrdiff_t>(x0) * 4;
        const int n = x1 - x0;
        const int first = x0 - rect.Left;
        switch (format) {
        case TPixelFormat::pf24bit:
            for (int i = 0; i < n; ++i) {
                const uint8_t* s =
                    src + 3 * static_cast<ptrdiff_t>(sameWidth ? first + i : srcX[static_cast<size_t>(i)]);
                dst[0] = s[0];
                dst[1] = s[1];
                dst[2] = s[2];
                dst[3] = 255;
                dst += 4;
            }
            break;
        case TPixelFormat::pf32bit:
            if (sameWidth) {
                std::memcpy(dst, src + 4 * static_cast<ptrdiff_t>(first), static_cast<size_t>(n) * 4);
            } else {
                for (int i = 0; i < n; ++i, dst += 4)
                    std::memcpy(dst, src + 4 * static_cast<ptrdiff_t>(srcX[static_cast<size_t>(i)]), 4);
            }
            break;
        case TPixelFormat::pf8bit:
            for (int i = 0; i < n; ++i, dst += 4) {
                const uint32_t c = lut[src[sameWidth ? first + i : srcX[static_cast<size_t>(i)]]];
                std::memcpy(dst, &c, 4); // little-endian: blue, green, red, alpha
            }
            break;
        }
    }
}

void TCanvas::StretchDraw(const TRect& rect, const TGraphic& graphic)
{
    graphic.Draw(*this, rect);
}

void TCanvas::Draw(int x, int y, const TGraphic& graphic)
{
    graphic.Draw(*this, Rect(x, y, x + graphic.Width(), y + graphic.Height()));
}

// ---- helpers ----

std::string LowerCaseExt(const std::string& s)
{
    std::string result = s;
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

std::string ExtractExtension(const std::string& fileName)
{
    const auto dot = fileName.find_last_of('.');
    const auto slash = fileName.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return fileName.substr(dot + 1);
}

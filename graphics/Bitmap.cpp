#include "graphics/Graphics.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// Largest pixel memory a bitmap may take (1 GiB: a 16384 × 16384 picture of
// 32 bits per pixel); larger sizes come only from damaged or hostile files.
constexpr int64_t kMaxBitmapBytes = int64_t{1} << 30;

int64_t StrideFor(int64_t width, TPixelFormat format)
{
    return (width * TBitmap::BitsPerPixel(format) + 31) / 32 * 4;
}

// The palette an 8-bit bitmap gets when it needs one and has none: a 6 × 6 × 6
// colour cube followed by 40 gray levels.
TPalette DefaultPalette()
{
    TPalette pal;
    pal.reserve(256);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                pal.push_back(TRGBQuad{static_cast<uint8_t>(b * 51), static_cast<uint8_t>(g * 51),
                                       static_cast<uint8_t>(r * 51), 0});
    for (int i = 0; i < 40; ++i) {
        const auto v = static_cast<uint8_t>((i * 255 + 19) / 39);
        pal.push_back(TRGBQuad{v, v, v, 0});
    }
    return pal;
}

// Maps colours onto the nearest palette entry, through a table of 32 levels per channel.
class TNearestColour
{
public:
    explicit TNearestColour(const TPalette& pal)
        : FPalette(pal)
        , FTable(32 * 32 * 32, -1)
    {
    }

    uint8_t Map(uint8_t b, uint8_t g, uint8_t r)
    {
        const size_t key = static_cast<size_t>((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
        if (FTable[key] < 0) {
            const int cb = (b & 0xF8) | 4;
            const int cg = (g & 0xF8) | 4;
            const int cr = (r & 0xF8) | 4;
            int best = 0;
            int bestDist = std::numeric_limits<int>::max();
            for (size_t i = 0; i < FPalette.size(); ++i) {
                const int db = FPalette[i].Blue - cb;
                const int dg = FPalette[i].Green - cg;
                const int dr = FPalette[i].Red - cr;
                const int dist = db * db + dg * dg + dr * dr;
                if (dist < bestDist) {
                    bestDist = dist;
                    best = static_cast<int>(i);
                }
            }
            FTable[key] = best;
        }
        return static_cast<uint8_t>(FTable[key]);
    }

private:
    const TPalette& FPalette;
    std::vector<int> FTable;
};

uint32_t ReadLE32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint16_t ReadLE16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void PutLE32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutLE16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

[[noreturn]] void InvalidBitmap()
{
    throw EInvalidGraphic("Bitmap ist ungültig");
}

} // namespace

// Zeroed pixel memory. calloc hands out fresh pages without writing them,
// which saves a pass over a large picture that is about to be filled anyway.
struct TBitmap::TPixelBuffer
{
    explicit TPixelBuffer(size_t size)
        : Data(static_cast<uint8_t*>(std::calloc(size, 1)))
        , Size(size)
    {
        if (Data == nullptr)
            throw EOutOfResources("Bitmap zu groß");
    }
    ~TPixelBuffer() { std::free(Data); }
    TPixelBuffer(const TPixelBuffer&) = delete;
    TPixelBuffer& operator=(const TPixelBuffer&) = delete;

    uint8_t* Data;
    size_t Size;
};

TBitmap::TBitmap(int width, int height, TPixelFormat format)
    : FPixelFormat(format)
{
    SetSize(width, height);
}

int TBitmap::BitsPerPixel(TPixelFormat format)
{
    switch (format) {
    case TPixelFormat::pf8bit:
        return 8;
    case TPixelFormat::pf24bit:
        return 24;
    case TPixelFormat::pf32bit:
        return 32;
    }
    return 24;
}

void TBitmap::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == FWidth && height == FHeight)
        return;
    const int64_t stride = StrideFor(width, FPixelFormat);
    if (height > 0 && stride > kMaxBitmapBytes / height)
        throw EOutOfResources(
            FormatS("Bitmap zu groß (%s Pixel)", std::to_string(width) + " × " + std::to_string(height)));
    FPixels =
        stride * height > 0 ? std::make_shared<TPixelBuffer>(static_cast<size_t>(stride * height)) : nullptr;
    FWidth = width;
    FHeight = height;
    FStride = static_cast<int>(stride);
    Changed();
}

uint8_t* TBitmap::WritableBits()
{
    if (!FPixels)
        return nullptr;
    if (FPixels.use_count() > 1) {
        auto own = std::make_shared<TPixelBuffer>(FPixels->Size);
        std::memcpy(own->Data, FPixels->Data, own->Size);
        FPixels = std::move(own);
    }
    return FPixels->Data;
}

uint8_t* TBitmap::Bits()
{
    return WritableBits();
}

const uint8_t* TBitmap::Bits() const
{
    return FPixels ? FPixels->Data : nullptr;
}

uint8_t* TBitmap::ScanLine(int y)
{
    return WritableBits() + static_cast<ptrdiff_t>(y) * FStride;
}

const uint8_t* TBitmap::ScanLine(int y) const
{
    return Bits() + static_cast<ptrdiff_t>(y) * FStride;
}

void TBitmap::SetPalette(TPalette palette)
{
    if (palette.size() > 256)
        palette.resize(256);
    FPalette = std::move(palette);
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat value)
{
    if (value == FPixelFormat)
        return;
    const TPixelFormat from = FPixelFormat;
    if (value == TPixelFormat::pf8bit && FPalette.empty())
        FPalette = DefaultPalette();
    const int64_t stride = StrideFor(FWidth, value);
    if (FHeight > 0 && stride > kMaxBitmapBytes / FHeight)
        throw EOutOfResources("Bitmap zu groß");
    std::shared_ptr<TPixelBuffer> bits =
        stride * FHeight > 0 ? std::make_shared<TPixelBuffer>(static_cast<size_t>(stride * FHeight))
                             : nullptr;
    std::array<TRGBQuad, 256> pal{};
    std::copy(FPalette.begin(),
              FPalette.begin() + static_cast<ptrdiff_t>(std::min<size_t>(FPalette.size(), 256)), pal.begin());
    TNearestColour nearest(FPalette);
    const int srcBytes = BitsPerPixel(from) / 8;
    const int dstBytes = BitsPerPixel(value) / 8;
    for (int y = 0; y < FHeight; ++y) {
        const uint8_t* s = std::as_const(*this).ScanLine(y);
        uint8_t* d = bits->Data + static_cast<ptrdiff_t>(y) * stride;
        for (int x = 0; x < FWidth; ++x, s += srcBytes, d += dstBytes) {
            uint8_t b, g, r;
            if (from == TPixelFormat::pf8bit) {
                b = pal[*s].Blue;
                g = pal[*s].Green;
                r = pal[*s].Red;
            } else {
                b = s[0];
                g = s[1];
                r = s[2];
            }
            if (value == TPixelFormat::pf8bit) {
                d[0] = nearest.Map(b, g, r);
            } else {
                d[0] = b;
                d[1] = g;
                d[2] = r;
                if (value == TPixelFormat::pf32bit)
                    d[3] = from == TPixelFormat::pf32bit ? s[3] : 255;
            }
        }
    }
    FPixels = std::move(bits);
    FStride = static_cast<int>(stride);
    FPixelFormat = value;
    Changed();
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) const
{
    canvas.StretchDraw(rect, *this);
}

void TBitmap::Assign(const TGraphic* source)
{
    if (source == this)
        return;
    if (source == nullptr) {
        SetSize(0, 0);
        return;
    }
    if (const auto* other = dynamic_cast<const TBitmap*>(source)) {
        FWidth = other->FWidth;
        FHeight = other->FHeight;
        FStride = other->FStride;
        FPixelFormat = other->FPixelFormat;
        FPixels = other->FPixels;
        FPalette = other->FPalette;
        FTransparent = other->FTransparent;
        FTransparentColor = other->FTransparentColor;
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

void TBitmap::AssignTo(TGraphic& dest) const
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->Assign(this);
        return;
    }
    TGraphic::AssignTo(dest);
}

// Windows bitmap file: a 14-byte file header, a 40-byte (or longer) info
// header, the palette for 8 bits per pixel, then rows padded to 4 bytes,
// bottom-up unless the height is negative.
void TBitmap::LoadFromStream(TStream& stream)
{
    const int64_t size = stream.Size() - stream.Position();
    if (size < 54 || size > kMaxBitmapBytes + 2048)
        InvalidBitmap();
    std::vector<uint8_t> file(static_cast<size_t>(size));
    stream.ReadBuffer(file.data(), size);
    const uint8_t* p = file.data();
    const auto fileSize = static_cast<uint64_t>(size);
    if (p[0] != 'B' || p[1] != 'M')
        InvalidBitmap();
    const uint32_t offBits = ReadLE32(p + 10);
    const uint32_t infoSize = ReadLE32(p + 14);
    if (infoSize < 40 || infoSize > fileSize - 14)
        InvalidBitmap();
    const auto width = static_cast<int32_t>(ReadLE32(p + 18));
    const auto rawHeight = static_cast<int32_t>(ReadLE32(p + 22));
    const uint16_t bitCount = ReadLE16(p + 28);
    const uint32_t compression = ReadLE32(p + 30);
    uint32_t colorsUsed = ReadLE32(p + 46);
    if (width < 0 || rawHeight == std::numeric_limits<int32_t>::min() || compression != 0)
        InvalidBitmap();
    const bool topDown = rawHeight < 0;
    const int32_t height = topDown ? -rawHeight : rawHeight;
    TPixelFormat format;
    switch (bitCount) {
    case 8:
        format = TPixelFormat::pf8bit;
        break;
    case 24:
        format = TPixelFormat::pf24bit;
        break;
    case 32:
        format = TPixelFormat::pf32bit;
        break;
    default:
        InvalidBitmap();
    }
    TPalette palette;
    if (format == TPixelFormat::pf8bit) {
        if (colorsUsed == 0 || colorsUsed > 256)
            colorsUsed = 256;
        const uint64_t palStart = 14 + uint64_t{infoSize};
        if (uint64_t{colorsUsed} * 4 > fileSize - palStart)
            InvalidBitmap();
        for (uint32_t i = 0; i < colorsUsed; ++i) {
            const uint8_t* e = p + palStart + 4 * i;
            palette.push_back(TRGBQuad{e[0], e[1], e[2], 0});
        }
    }
    const int64_t stride = StrideFor(width, format);
    if (height > 0 && stride > kMaxBitmapBytes / height)
        InvalidBitmap();
    if (offBits > fileSize ||
        static_cast<uint64_t>(stride) * static_cast<uint64_t>(height) > fileSize - offBits)
        InvalidBitmap();

    TBitmap loaded(0, 0, format);
    loaded.SetSize(width, height);
    loaded.FPalette = std::move(palette);
    for (int32_t y = 0; y < height; ++y) {
        const int32_t fileRow = topDown ? y : height - 1 - y;
        std::memcpy(loaded.ScanLine(y),
                    p + offBits + static_cast<uint64_t>(fileRow) * static_cast<uint64_t>(stride),
                    static_cast<size_t>(stride));
    }
    FWidth = loaded.FWidth;
    FHeight = loaded.FHeight;
    FStride = loaded.FStride;
    FPixelFormat = format;
    FPixels = std::move(loaded.FPixels);
    FPalette.swap(loaded.FPalette);
    Changed();
}

void TBitmap::SaveToStream(TStream& stream)
{
    const uint32_t paletteBytes =
        FPixelFormat == TPixelFormat::pf8bit ? 4 * static_cast<uint32_t>(FPalette.size()) : 0;
    const uint32_t offBits = 54 + paletteBytes;
    const auto imageBytes = static_cast<uint32_t>(FPixels ? FPixels->Size : 0);
    std::vector<uint8_t> header(offBits, 0);
    uint8_t* p = header.data();
    p[0] = 'B';
    p[1] = 'M';
    PutLE32(p + 2, offBits + imageBytes);
    PutLE32(p + 10, offBits);
    PutLE32(p + 14, 40);
    PutLE32(p + 18, static_cast<uint32_t>(FWidth));
    PutLE32(p + 22, static_cast<uint32_t>(FHeight));
    PutLE16(p + 26, 1);
    PutLE16(p + 28, static_cast<uint16_t>(BitsPerPixel(FPixelFormat)));
    PutLE32(p + 34, imageBytes);
    if (FPixelFormat == TPixelFormat::pf8bit) {
        PutLE32(p + 46, static_cast<uint32_t>(FPalette.size()));
        for (size_t i = 0; i < FPalette.size(); ++i) {
            p[54 + 4 * i] = FPalette[i].Blue;
            p[55 + 4 * i] = FPalette[i].Green;
            p[56 + 4 * i] = FPalette[i].Red;
        }
    }
    stream.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
    for (int y = FHeight - 1; y >= 0; --y)
        stream.WriteBuffer(std::as_const(*this).ScanLine(y), FStride);
}

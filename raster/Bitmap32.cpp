#include "raster/Bitmap32.h"

#include "raster/Resamplers.h"
#include "raster/ScopeGuard.h"

#include <algorithm>
#include <cstring>

namespace {

// 2^38 pixels (1 TiB of pixel memory).
constexpr uint64_t kMaxPixels = uint64_t{1} << 38;

// Brings v into lo..hi-1 (hi > lo) by the wrap mode's rule.
int WrapInto(int v, int lo, int hi, TWrapMode mode)
{
    const int64_t n = static_cast<int64_t>(hi) - lo;
    const int64_t d = static_cast<int64_t>(v) - lo;
    switch (mode) {
    case TWrapMode::wmClamp:
        return static_cast<int>(std::clamp<int64_t>(d, 0, n - 1) + lo);
    case TWrapMode::wmRepeat:
        return static_cast<int>(((d % n) + n) % n + lo);
    case TWrapMode::wmMirror: {
        // Reflect about the edges: ..., 1, 0, 0, 1, ..., n-1, n-1, n-2, ...
        const int64_t period = 2 * n;
        const int64_t m = ((d % period) + period) % period;
        return static_cast<int>((m < n ? m : period - 1 - m) + lo);
    }
    }
    return v;
}

} // namespace

TRect IntersectRect(const TRect& a, const TRect& b)
{
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
    if (r.Right < r.Left || r.Bottom < r.Top)
        return {};
    return r;
}

void TCustomMap::ChangeSize(int& width, int& height, int newWidth, int newHeight)
{
    width = newWidth;
    height = newHeight;
}

void TCustomMap::Resized()
{
    if (OnResize)
        OnResize(*this);
}

bool TCustomMap::SetSize(int newWidth, int newHeight)
{
    newWidth = std::max(newWidth, 0);
    newHeight = std::max(newHeight, 0);
    if (newWidth == FWidth && newHeight == FHeight)
        return false;
    ChangeSize(FWidth, FHeight, newWidth, newHeight);
    Changed();
    Resized();
    return true;
}

TBitmap32::TBitmap32()
{
    FResampler = std::make_unique<TNearestResampler>(*this);
}

TBitmap32::~TBitmap32()
{
    BeginUpdate();
    Lock();
    FBits.reset();
    FWidth = 0;
    FHeight = 0;
    Unlock();
}

void TBitmap32::ChangeSize(int& width, int& height, int newWidth, int newHeight)
{
    struct TOnExit
    {
        TBitmap32& Self;
        ~TOnExit() { Self.HandleChanged(); }
    } onExit{*this};

    FBits.reset();
    width = 0;
    height = 0;
    FClipRect = {};
    FClipping = false;
    if (newWidth > 0 && newHeight > 0) {
        // Zeroed like a fresh section of the window system. Sizes beyond any
        // real memory are refused before asking for them.
        const uint64_t pixels = static_cast<uint64_t>(newWidth) * static_cast<uint64_t>(newHeight);
        void* p = pixels <= kMaxPixels ? std::calloc(static_cast<size_t>(pixels), sizeof(TColor32)) : nullptr;
        if (!p)
            throw EOutOfResources("Can't allocate the DIB handle");
        FBits.reset(static_cast<TColor32*>(p));
    }
    width = newWidth;
    height = newHeight;
    SetClipRect(Bounds());
}

void TBitmap32::SetClipRect(const TRect& value)
{
    FClipRect = IntersectRect(value, Bounds());
    // 16.16 copies wrap around beyond 32767, as the fixed-point format does.
    const auto fixed = [](int v) { return static_cast<int>(static_cast<uint32_t>(v) << 16); };
    FFixedClipRect = {fixed(FClipRect.Left), fixed(FClipRect.Top), fixed(FClipRect.Right),
                      fixed(FClipRect.Bottom)};
    const auto eight = [](int v) { return static_cast<int>(static_cast<uint32_t>(v) << 8); };
    F8Clip = {eight(FClipRect.Left), eight(FClipRect.Top), eight(FClipRect.Right), eight(FClipRect.Bottom)};
    FClipping = !(FClipRect == Bounds());
}

void TBitmap32::Clear(TColor32 color)
{
    if (IsEmpty())
        return;
    if (!FMeasuring) {
        if (FClipping) {
            for (int y = FClipRect.Top; y < FClipRect.Bottom; ++y) {
                TColor32* row = Bits() + static_cast<size_t>(y) * FWidth;
                std::fill(row + FClipRect.Left, row + FClipRect.Right, color);
            }
        } else {
            std::fill_n(Bits(), static_cast<size_t>(FWidth) * FHeight, color);
        }
    }
    Changed();
}

void TBitmap32::FillAlpha(uint8_t alpha)
{
    if (IsEmpty())
        return;
    if (!FMeasuring) {
        const TColor32 a = static_cast<TColor32>(alpha) << 24;
        TColor32* p = Bits();
        const size_t n = static_cast<size_t>(FWidth) * FHeight;
        for (size_t i = 0; i < n; ++i)
            p[i] = (p[i] & 0x00FFFFFF) | a;
    }
    Changed();
}

TColor32 TBitmap32::PixelW(int x, int y) const
{
    if (FClipRect.Right <= FClipRect.Left || FClipRect.Bottom <= FClipRect.Top)
        return FOuterColor;
    return Pixel(WrapInto(x, FClipRect.Left, FClipRect.Right, FWrapMode),
                 WrapInto(y, FClipRect.Top, FClipRect.Bottom, FWrapMode));
}

void TBitmap32::LoadFromFile(const std::string& fileName)
{
    TPicture picture;
    picture.LoadFromFile(fileName);
    Assign(picture);
}

void TBitmap32::Assign(const TBitmap32* source)
{
    if (source == this)
        return;
    BeginUpdate();
    const TScopeGuard closeUpdate([this] {
        EndUpdate();
        Changed();
    });
    if (!source) {
        SetSize(0, 0);
    } else {
        source->CopyPixelsTo(*this);
        source->CopySettingsTo(*this);
    }
}

void TBitmap32::Assign(const TGraphic* source)
{
    BeginUpdate();
    const TScopeGuard closeUpdate([this] {
        EndUpdate();
        Changed();
    });
    if (!source)
        SetSize(0, 0);
    else if (const auto* bitmap = dynamic_cast<const TBitmap*>(source))
        AssignRuntimeBitmap(*bitmap);
    else
        AssignGraphic(*source, source->Width(), source->Height());
}

void TBitmap32::Assign(const TPicture& source)
{
    const TGraphic* graphic = source.Graphic();
    if (!graphic || dynamic_cast<const TBitmap*>(graphic)) {
        Assign(graphic);
        return;
    }
    BeginUpdate();
    const TScopeGuard closeUpdate([this] {
        EndUpdate();
        Changed();
    });
    AssignGraphic(*graphic, source.Width(), source.Height());
}

void TBitmap32::AssignRuntimeBitmap(const TBitmap& source)
{
    SetSize(source.Width(), source.Height());
    if (IsEmpty())
        return;
    TCanvas canvas(reinterpret_cast<uint8_t*>(Bits()), FWidth, FHeight, FWidth * 4);
    canvas.StretchDraw(Rect(0, 0, FWidth, FHeight), source);
    if (source.PixelFormat() != TPixelFormat::pf32bit)
        FillAlpha(255);
    if (source.Transparent()) {
        // TColor is 0x00BBGGRR; the pixel's red, green and blue must all match.
        const TColor c = source.TransparentColor();
        const TColor32 key = ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
        TColor32* p = Bits();
        const size_t n = static_cast<size_t>(FWidth) * FHeight;
        for (size_t i = 0; i < n; ++i)
            if ((p[i] & 0x00FFFFFF) == key)
                p[i] &= 0x00FFFFFF;
    }
}

void TBitmap32::AssignGraphic(const TGraphic& source, int width, int height)
{
    SetSize(width, height);
    if (IsEmpty())
        return;
    TCanvas canvas(reinterpret_cast<uint8_t*>(Bits()), FWidth, FHeight, FWidth * 4);
    source.Draw(canvas, Rect(0, 0, FWidth, FHeight));
    FillAlpha(255);
}

void TBitmap32::AssignTo(TBitmap& dest) const
{
    dest.SetPixelFormat(TPixelFormat::pf32bit);
    dest.SetSize(FWidth, FHeight);
    if (IsEmpty() || dest.Empty())
        return;
    const size_t rowBytes = static_cast<size_t>(FWidth) * 4;
    for (int y = 0; y < FHeight; ++y)
        std::memcpy(dest.ScanLine(y), Bits() + static_cast<size_t>(y) * FWidth, rowBytes);
}

void TBitmap32::AssignTo(TPicture& dest) const
{
    AssignTo(dest.Bitmap());
}

void TBitmap32::CopyPixelsTo(TBitmap32& dest) const
{
    dest.SetSize(FWidth, FHeight);
    if (!IsEmpty() && !dest.IsEmpty())
        std::memcpy(dest.Bits(), Bits(), static_cast<size_t>(FWidth) * FHeight * sizeof(TColor32));
}

void TBitmap32::CopySettingsTo(TBitmap32& dest) const
{
    dest.SetDrawMode(FDrawMode);
    dest.SetCombineMode(FCombineMode);
    dest.SetWrapMode(FWrapMode);
    dest.SetMasterAlpha(FMasterAlpha);
    dest.SetOuterColor(FOuterColor);
    dest.SetResamplerClassName(ResamplerClassName());
    const auto* mine = dynamic_cast<const TBitmap32Resampler*>(FResampler.get());
    auto* theirs = dynamic_cast<TBitmap32Resampler*>(&dest.Resampler());
    if (mine && theirs)
        theirs->SetPixelAccessMode(mine->PixelAccessMode());
}

void TBitmap32::HandleChanged()
{
    if (OnHandleChanged)
        OnHandleChanged(*this);
}

void TBitmap32::AreaChanged(const TRect& area, uint32_t info)
{
    if ((UpdateCount() == 0 || FMeasuring) && OnAreaChanged)
        OnAreaChanged(*this, area, info);
    if (!FMeasuring)
        Changed();
}

void TBitmap32::SetDrawMode(TDrawMode value)
{
    if (value != FDrawMode) {
        FDrawMode = value;
        Changed();
    }
}

void TBitmap32::SetCombineMode(TCombineMode value)
{
    if (value != FCombineMode) {
        FCombineMode = value;
        Changed();
    }
}

void TBitmap32::SetWrapMode(TWrapMode value)
{
    if (value != FWrapMode) {
        FWrapMode = value;
        Changed();
    }
}

void TBitmap32::SetMasterAlpha(uint32_t value)
{
    value = std::min<uint32_t>(value, 255);
    if (value != FMasterAlpha) {
        FMasterAlpha = value;
        Changed();
    }
}

void TBitmap32::SetOuterColor(TColor32 value)
{
    if (value != FOuterColor) {
        FOuterColor = value;
        Changed();
    }
}

void TBitmap32::SetResampler(std::unique_ptr<TCustomResampler> resampler)
{
    if (!resampler)
        return;
    if (resampler.get() == FResampler.get()) {
        (void)resampler.release();
        return;
    }
    FResampler = std::move(resampler);
    Changed();
}

std::string TBitmap32::ResamplerClassName() const
{
    return FResampler->ClassName();
}

void TBitmap32::SetResamplerClassName(const std::string& name)
{
    if (name == ResamplerClassName())
        return;
    CreateRegisteredResampler(name, *this);
}

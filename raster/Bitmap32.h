#pragma once

#include "graphics/Graphics.h"
#include "raster/Persistent.h"

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

/// Pixel 0xAARRGGBB; in memory blue, green, red, alpha. Alpha 255 is opaque.
using TColor32 = uint32_t;

constexpr TColor32 clBlack32 = 0xFF000000;
constexpr TColor32 clWhite32 = 0xFFFFFFFF;

/// The rectangle common to a and b (right and bottom exclusive); (0, 0, 0, 0) when the result would have
/// Right < Left or Bottom < Top. Rectangles that only touch give an empty one on their common edge.
TRect IntersectRect(const TRect& a, const TRect& b);

/// Info code of AreaChanged: the area is a rectangle.
constexpr uint32_t AREAINFO_RECT = 0x80000000u;

enum class TDrawMode : uint8_t
{
    dmOpaque,
    dmBlend,
    dmCustom,
    dmTransparent
};

enum class TCombineMode : uint8_t
{
    cmBlend,
    cmMerge
};

enum class TWrapMode : uint8_t
{
    wmClamp,
    wmRepeat,
    wmMirror
};

/// Width and height with the resize event. SetSize turns negative values into
/// 0 and returns false when nothing changes.
class TCustomMap : public TThreadPersistent
{
public:
    int Height() const { return FHeight; }
    int Width() const { return FWidth; }

    /// Stores the new size (the bitmap class also replaces its pixel memory).
    virtual void ChangeSize(int& width, int& height, int newWidth, int newHeight);
    void Delete() { SetSize(0, 0); }
    virtual bool IsEmpty() const { return FWidth == 0 || FHeight == 0; }
    virtual void Resized();
    /// Negative values count as 0. Returns false (and notifies nothing) when
    /// the size stays; else resizes, then Changed, then Resized.
    virtual bool SetSize(int newWidth, int newHeight);

    TNotifyEvent OnResize;

protected:
    int FHeight = 0;
    int FWidth = 0;
};

class TCustomResampler;
class TBitmap32;

/// Custom pixel store: (sample, destination pixel, master alpha).
using TPixelCombineEvent = std::function<void(TColor32 f, TColor32& b, TColor32 m)>;
/// Area of a bitmap that changed, with an info code.
using TAreaChangedEvent = std::function<void(TBitmap32& sender, const TRect& area, uint32_t info)>;

/// 32-bit ARGB raster with top-down rows: pixel (X, Y) at Bits()[Y * Width + X].
/// The pixel memory is an ordinary aligned buffer owned by the bitmap and is
/// replaced at every size change.
class TBitmap32 : public TCustomMap
{
public:
    TBitmap32();
    ~TBitmap32() override;

    /// Empty (0 x 0, no pixels) on "Can't allocate the DIB handle" (EOutOfResources).
    void ChangeSize(int& width, int& height, int newWidth, int newHeight) override;
    bool IsEmpty() const override { return TCustomMap::IsEmpty() || !FBits; }

    TColor32* Bits() { return FBits.get(); }
    const TColor32* Bits() const { return FBits.get(); }
    TRect Bounds() const { return {0, 0, FWidth, FHeight}; }

    TRect ClipRect() const { return FClipRect; }
    /// Stores value intersected with Bounds() and refreshes the fixed-point
    /// copies and Clipping().
    void SetClipRect(const TRect& value);
    bool Clipping() const { return FClipping; }

    /// Fills the clip rectangle (all pixels when not clipping), then Changed.
    /// Nothing, not even a notification, on an empty bitmap.
    void Clear(TColor32 color);
    /// Sets the alpha byte of every pixel, then Changed.
    void FillAlpha(uint8_t alpha);

    /// Unchecked read and write.
    TColor32 Pixel(int x, int y) const { return FBits.get()[static_cast<size_t>(y) * FWidth + x]; }
    void SetPixel(int x, int y, TColor32 value) { FBits.get()[static_cast<size_t>(y) * FWidth + x] = value; }
    /// Read checked against the clip rectangle; OuterColor() outside.
    TColor32 PixelS(int x, int y) const
    {
        if (x >= FClipRect.Left && x < FClipRect.Right && y >= FClipRect.Top && y < FClipRect.Bottom)
            return Pixel(x, y);
        return FOuterColor;
    }
    /// Read after bringing the point into the clip rectangle by WrapMode().
    TColor32 PixelW(int x, int y) const;

    /// Decodes a picture file (chosen by its extension) into this bitmap;
    /// every pixel of a decoded JPEG is opaque. Loader errors propagate.
    void LoadFromFile(const std::string& fileName);
    /// From another TBitmap32 (pixels and settings), a runtime TBitmap, a
    /// TPicture's graphic or any TGraphic; null empties the bitmap.
    void Assign(const TBitmap32* source);
    void Assign(const TGraphic* source);
    void Assign(const TPicture& source);
    /// Into a runtime bitmap: 32 bits per pixel, same size, all four bytes.
    void AssignTo(TBitmap& dest) const;
    void AssignTo(TPicture& dest) const;

    /// Sizes dest to this size and copies all pixels.
    virtual void CopyPixelsTo(TBitmap32& dest) const;
    /// Copies draw, combine and wrap mode, master alpha, outer colour and the
    /// resampler class with its settings.
    virtual void CopySettingsTo(TBitmap32& dest) const;
    /// Fires OnHandleChanged (the pixel memory was replaced).
    virtual void HandleChanged();
    /// Fires OnAreaChanged when no update is open or while measuring, then,
    /// unless measuring, Changed.
    virtual void AreaChanged(const TRect& area, uint32_t info);

    TDrawMode DrawMode() const { return FDrawMode; }
    void SetDrawMode(TDrawMode value);
    TCombineMode CombineMode() const { return FCombineMode; }
    void SetCombineMode(TCombineMode value);
    TWrapMode WrapMode() const { return FWrapMode; }
    void SetWrapMode(TWrapMode value);
    uint32_t MasterAlpha() const { return FMasterAlpha; }
    void SetMasterAlpha(uint32_t value);
    TColor32 OuterColor() const { return FOuterColor; }
    void SetOuterColor(TColor32 value);

    /// While measuring, drawing only reports the areas it would change.
    bool Measuring() const { return FMeasuring; }

    /// The resampler used when this bitmap is a sampling source (owned).
    TCustomResampler& Resampler() const { return *FResampler; }
    /// Null and the current object are ignored; else the old one is released,
    /// the new one taken and Changed called.
    void SetResampler(std::unique_ptr<TCustomResampler> resampler);
    std::string ResamplerClassName() const;
    /// Installs a new resampler of a registered class; an unknown name or the
    /// current class changes nothing.
    void SetResamplerClassName(const std::string& name);

    TNotifyEvent OnHandleChanged;
    TPixelCombineEvent OnPixelCombine;
    TAreaChangedEvent OnAreaChanged;

private:
    struct TFree
    {
        void operator()(TColor32* p) const { std::free(p); }
    };

    void AssignRuntimeBitmap(const TBitmap& source);
    void AssignGraphic(const TGraphic& source, int width, int height);

    std::unique_ptr<TColor32, TFree> FBits;
    TRect FClipRect;
    TRect FFixedClipRect; ///< edges in 16.16
    TRect F8Clip;         ///< edges with 8 fractional bits
    bool FClipping = false;
    TDrawMode FDrawMode = TDrawMode::dmOpaque;
    TCombineMode FCombineMode = TCombineMode::cmBlend;
    TWrapMode FWrapMode = TWrapMode::wmClamp;
    uint32_t FMasterAlpha = 255;
    TColor32 FOuterColor = 0;
    bool FMeasuring = false;
    std::unique_ptr<TCustomResampler> FResampler;
};

#pragma once

#include "raster/Bitmap32.h"
#include "raster/Resamplers.h"

#include <memory>

/// Walks destination pixels and stores the samples of its sampler (not
/// owned) as the source bitmap's draw mode says.
class TRasterizer : public TThreadPersistent
{
public:
    TCustomSampler* Sampler() const { return FSampler; }
    /// A different value notifies.
    void SetSampler(TCustomSampler* value);

    /// Fills dstRect of dst from Sampler(), combining as src's settings say.
    /// Sampling is bracketed by BeginSampling/EndSampling, and updates of dst
    /// left open by an error are closed.
    void Rasterize(TBitmap32& dst, const TRect& dstRect, const TBitmap32& src);

protected:
    /// Fills r (already clipped to dst and the sampler's bounds).
    virtual void DoRasterize(TBitmap32& dst, const TRect& r) = 0;
    void AssignColor(TColor32& dst, TColor32 src) { (this->*FAssignColor)(dst, src); }
    /// The store of this run overwrites all four bytes.
    bool StoresOpaque() const { return FAssignColor == &TRasterizer::AssignOpaque; }

private:
    using TAssignColor = void (TRasterizer::*)(TColor32& dst, TColor32 src);

    void AssignOpaque(TColor32& dst, TColor32 src) { dst = src; }
    void AssignBlend(TColor32& dst, TColor32 src);
    void AssignTransparent(TColor32& dst, TColor32 src)
    {
        if (src != FTransparentColor)
            dst = src;
    }
    void AssignCustom(TColor32& dst, TColor32 src) { FPixelCombine(src, dst, FMasterAlpha); }

    TCustomSampler* FSampler = nullptr;
    uint32_t FMasterAlpha = 255;
    TPixelCombineEvent FPixelCombine;
    TAssignColor FAssignColor = &TRasterizer::AssignOpaque;
    TColor32 FTransparentColor = 0;
};

/// Rows top to bottom, each left to right. Every UpdateRowCount() rows (never
/// with 0) the destination is told which rows changed.
class TRegularRasterizer : public TRasterizer
{
public:
    int UpdateRowCount() const { return FUpdateRowCount; }
    void SetUpdateRowCount(int value) { FUpdateRowCount = value; }

protected:
    void DoRasterize(TBitmap32& dst, const TRect& r) override;

private:
    int FUpdateRowCount = 0;
};

using TRasterizerClass = std::unique_ptr<TRasterizer> (*)();

/// The rasterizer class Transform uses when none is passed: TRegularRasterizer.
extern TRasterizerClass DefaultRasterizerClass;

#include "raster/Rasterizers.h"

#include "raster/NearestRender.h"
#include "raster/ScopeGuard.h"

#include <algorithm>
#include <typeinfo>

namespace {

std::unique_ptr<TRasterizer> CreateRegularRasterizer()
{
    return std::make_unique<TRegularRasterizer>();
}

// Recognises the nearest transformer over a nearest resampler with checked
// reads and an affine transformation (exactly these classes, so that no
// override is bypassed), and fills the job for the integer-only renderer.
bool BindNearestJob(TCustomSampler* sampler, TBitmap32& dst, const TRect& r, TNearestJob& job)
{
    if (!sampler || typeid(*sampler) != typeid(TNearestTransformer))
        return false;
    auto& transformer = static_cast<TNearestTransformer&>(*sampler);
    TCustomSampler* nested = transformer.Sampler();
    if (!nested || typeid(*nested) != typeid(TNearestResampler))
        return false;
    auto& resampler = static_cast<TNearestResampler&>(*nested);
    if (resampler.PixelAccessMode() != TPixelAccessMode::pamSafe)
        return false;
    TTransformation& t = transformer.Transformation();
    if (typeid(t) != typeid(TAffineTransformation) || !t.Prepared())
        return false;
    if (r.Left < 0 || r.Top < 0 || r.Right > MaxFixedIndex + 1 || r.Bottom > MaxFixedIndex + 1)
        return false;
    const TBitmap32& src = resampler.Bitmap();
    job.Dst = dst.Bits();
    job.DstWidth = dst.Width();
    job.Src = src.Bits();
    job.SrcWidth = src.Width();
    job.SrcClip = src.IsEmpty() ? TRect{} : src.ClipRect();
    job.Outer = src.OuterColor();
    job.Inverse = static_cast<TAffineTransformation&>(t).InverseFixed();
    return true;
}

} // namespace

TRasterizerClass DefaultRasterizerClass = &CreateRegularRasterizer;

void TRasterizer::SetSampler(TCustomSampler* value)
{
    if (value != FSampler) {
        FSampler = value;
        Changed();
    }
}

void TRasterizer::AssignBlend(TColor32& dst, TColor32 src)
{
    // Source over destination, weighted by the source alpha times the master alpha.
    const uint32_t w = ((src >> 24) * FMasterAlpha + 127) / 255;
    TColor32 out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const uint32_t f = (src >> shift) & 0xFF;
        const uint32_t b = (dst >> shift) & 0xFF;
        const uint32_t c = shift == 24 ? std::min<uint32_t>(255, b + (255 - b) * w / 255)
                                       : (f * w + b * (255 - w) + 127) / 255;
        out |= c << shift;
    }
    dst = out;
}

void TRasterizer::Rasterize(TBitmap32& dst, const TRect& dstRect, const TBitmap32& src)
{
    FMasterAlpha = src.MasterAlpha();
    TDrawMode mode = src.DrawMode();
    if (mode == TDrawMode::dmCustom && !src.OnPixelCombine)
        mode = TDrawMode::dmOpaque;
    FPixelCombine = src.OnPixelCombine;
    FTransparentColor = src.OuterColor();
    switch (mode) {
    case TDrawMode::dmOpaque:
        FAssignColor = &TRasterizer::AssignOpaque;
        break;
    case TDrawMode::dmBlend:
        FAssignColor = &TRasterizer::AssignBlend;
        break;
    case TDrawMode::dmTransparent:
        FAssignColor = &TRasterizer::AssignTransparent;
        break;
    case TDrawMode::dmCustom:
        FAssignColor = &TRasterizer::AssignCustom;
        break;
    }
    if (!FSampler)
        return;

    // Updates of dst that the sampling leaves open are closed with it.
    const int updateCount = dst.UpdateCount();
    FSampler->BeginSampling();
    const TScopeGuard endSampling([&] {
        while (dst.UpdateCount() > updateCount)
            dst.EndUpdate();
        FSampler->EndSampling();
    });
    TRect r = IntersectRect(dstRect, dst.Bounds());
    if (FSampler->HasBounds())
        r = IntersectRect(r, FSampler->SampleBounds());
    DoRasterize(dst, r);
}

void TRegularRasterizer::DoRasterize(TBitmap32& dst, const TRect& r)
{
    if (r.Left >= r.Right || r.Top >= r.Bottom || dst.IsEmpty())
        return;
    TNearestJob job;
    const bool fast = StoresOpaque() && BindNearestJob(Sampler(), dst, r, job);
    TCustomSampler& sampler = *Sampler();
    TColor32* bits = dst.Bits();
    const size_t width = static_cast<size_t>(dst.Width());
    const int groupRows = FUpdateRowCount > 0 ? FUpdateRowCount : r.Bottom - r.Top;
    for (int top = r.Top; top < r.Bottom; top += groupRows) {
        const int bottom = std::min(r.Bottom, top + groupRows);
        if (fast) {
            RenderNearest(job, r.Left, top, r.Right, bottom);
        } else {
            for (int j = top; j < bottom; ++j) {
                TColor32* row = bits + static_cast<size_t>(j) * width;
                for (int i = r.Left; i < r.Right; ++i)
                    AssignColor(row[i], sampler.SampleInt(i, j));
            }
        }
        if (FUpdateRowCount > 0)
            dst.AreaChanged(Rect(r.Left, top, r.Right, bottom), AREAINFO_RECT);
    }
}

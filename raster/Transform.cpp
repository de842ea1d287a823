#include "raster/Transform.h"

#include "raster/ScopeGuard.h"

void Transform(TBitmap32& dst, TBitmap32& src, TTransformation& t)
{
    const std::unique_ptr<TRasterizer> rasterizer = DefaultRasterizerClass();
    Transform(dst, src, t, *rasterizer);
}

void Transform(TBitmap32& dst, TBitmap32& src, TTransformation& t, TRasterizer& rasterizer)
{
    Transform(dst, src, t, dst.Bounds(), rasterizer);
}

void Transform(TBitmap32& dst, TBitmap32& src, TTransformation& t, const TRect& dstClip,
               TRasterizer& rasterizer)
{
    TRect r = t.TransformedBounds();
    r = IntersectRect(r, dst.ClipRect());
    r = IntersectRect(r, dstClip);
    if (!dst.Measuring()) {
        auto* resampler = dynamic_cast<TBitmap32Resampler*>(&src.Resampler());
        if (!resampler)
            throw EInvalidCast();
        const std::unique_ptr<TTransformer> transformer = resampler->TransformerClass()(resampler, t);
        rasterizer.SetSampler(transformer.get());
        const TScopeGuard releaseSampler([&] { rasterizer.SetSampler(nullptr); });
        rasterizer.Rasterize(dst, r, src);
    }
    dst.AreaChanged(r, AREAINFO_RECT);
}

void ClearBorderAlpha(TBitmap32& bitmap, const TRect& rect)
{
    const TRect r = IntersectRect(rect, bitmap.Bounds());
    const TRect clip = bitmap.ClipRect();
    if (r.Left >= r.Right || r.Top >= r.Bottom)
        return;
    if (r.Left >= clip.Right || r.Top >= clip.Bottom || clip.Left >= r.Right || clip.Top >= r.Bottom)
        return;
    for (int x = r.Left; x < r.Right; ++x) {
        bitmap.SetPixel(x, r.Top, bitmap.Pixel(x, r.Top) & 0x00FFFFFF);
        bitmap.SetPixel(x, r.Bottom - 1, bitmap.Pixel(x, r.Bottom - 1) & 0x00FFFFFF);
    }
    for (int y = r.Top; y < r.Bottom; ++y) {
        bitmap.SetPixel(r.Left, y, bitmap.Pixel(r.Left, y) & 0x00FFFFFF);
        bitmap.SetPixel(r.Right - 1, y, bitmap.Pixel(r.Right - 1, y) & 0x00FFFFFF);
    }
    bitmap.Changed();
}

#include "raster/Resamplers.h"

#include <cmath>
#include <limits>

namespace {

TColor32 ReadUnsafe(const TBitmap32& bitmap, int x, int y)
{
    return bitmap.Pixel(x, y);
}

TColor32 ReadSafe(const TBitmap32& bitmap, int x, int y)
{
    return bitmap.PixelS(x, y);
}

TColor32 ReadWrap(const TBitmap32& bitmap, int x, int y)
{
    return bitmap.PixelW(x, y);
}

TFloatRect ToFloatRect(const TRect& r)
{
    return {static_cast<float>(r.Left), static_cast<float>(r.Top), static_cast<float>(r.Right),
            static_cast<float>(r.Bottom)};
}

} // namespace

TColor32 TCustomSampler::SampleInt(int x, int y)
{
    return SampleFixed(IntToFixed(x), IntToFixed(y));
}

TColor32 TCustomSampler::SampleFixed(TFixed x, TFixed y)
{
    return SampleFloat(static_cast<float>(static_cast<long double>(x) / FixedOne),
                       static_cast<float>(static_cast<long double>(y) / FixedOne));
}

TColor32 TCustomSampler::SampleFloat(float x, float y)
{
    return SampleFixed(ToFixed(x), ToFixed(y));
}

TRect TCustomSampler::SampleBounds() const
{
    return {std::numeric_limits<int>::min(), std::numeric_limits<int>::min(), std::numeric_limits<int>::max(),
            std::numeric_limits<int>::max()};
}

TBitmap32Resampler::TBitmap32Resampler(TBitmap32& bitmap)
    : FBitmap(bitmap)
    , FClipRect(bitmap.ClipRect())
    , FTransformerClass(&TTransformer::Create)
{
}

void TBitmap32Resampler::SetPixelAccessMode(TPixelAccessMode value)
{
    if (value == FPixelAccessMode)
        return;
    FPixelAccessMode = value;
    Changed();
}

void TBitmap32Resampler::Changed()
{
    FBitmap.Changed();
}

void TBitmap32Resampler::BeginSampling()
{
    FClipRect = FBitmap.ClipRect();
}

TNearestResampler::TNearestResampler(TBitmap32& bitmap)
    : TBitmap32Resampler(bitmap)
    , FGetSampleInt(&ReadSafe)
{
    FTransformerClass = &TNearestTransformer::Create;
}

void TNearestResampler::BeginSampling()
{
    TBitmap32Resampler::BeginSampling();
    switch (FPixelAccessMode) {
    case TPixelAccessMode::pamUnsafe:
        FGetSampleInt = &ReadUnsafe;
        break;
    case TPixelAccessMode::pamSafe:
        FGetSampleInt = &ReadSafe;
        break;
    case TPixelAccessMode::pamWrap:
        FGetSampleInt = &ReadWrap;
        break;
    }
}

TColor32 TNearestResampler::SampleFixed(TFixed x, TFixed y)
{
    return SampleInt(FixedRound(x), FixedRound(y));
}

TColor32 TNearestResampler::SampleFloat(float x, float y)
{
    return SampleInt(RoundToInt(x), RoundToInt(y));
}

TCustomSampler& TNestedSampler::Nested() const
{
    if (!FSampler)
        throw ENestedException("Nested sampler is nil");
    return *FSampler;
}

void TNestedSampler::BeginSampling()
{
    Nested().BeginSampling();
}

void TNestedSampler::EndSampling()
{
    Nested().EndSampling();
}

bool TNestedSampler::HasBounds() const
{
    return Nested().HasBounds();
}

TRect TNestedSampler::SampleBounds() const
{
    return Nested().SampleBounds();
}

TTransformer::TTransformer(TCustomSampler* sampler, TTransformation& transformation)
    : TNestedSampler(sampler)
    , FTransformation(&transformation)
{
}

std::unique_ptr<TTransformer> TTransformer::Create(TCustomSampler* sampler, TTransformation& transformation)
{
    return std::make_unique<TTransformer>(sampler, transformation);
}

void TTransformer::BeginSampling()
{
    TNestedSampler::BeginSampling();
    if (!FTransformation->Prepared())
        FTransformation->Prepare();
}

bool TTransformer::HasBounds() const
{
    return FTransformation->HasTransformedBounds() && TNestedSampler::HasBounds();
}

TRect TTransformer::SampleBounds() const
{
    return FTransformation->TransformedBounds(ToFloatRect(TNestedSampler::SampleBounds()));
}

TColor32 TTransformer::SampleInt(int x, int y)
{
    const TFixedPoint p = FTransformation->ReverseMapFixed(IntToFixed(x), IntToFixed(y));
    return Nested().SampleFixed(p.X, p.Y);
}

TColor32 TTransformer::SampleFixed(TFixed x, TFixed y)
{
    const TFixedPoint p = FTransformation->ReverseMapFixed(x, y);
    return Nested().SampleFixed(p.X, p.Y);
}

TColor32 TTransformer::SampleFloat(float x, float y)
{
    const TFloatPoint p = FTransformation->ReverseMapFloat(x, y);
    return Nested().SampleFloat(p.X, p.Y);
}

std::unique_ptr<TTransformer> TNearestTransformer::Create(TCustomSampler* sampler,
                                                          TTransformation& transformation)
{
    return std::make_unique<TNearestTransformer>(sampler, transformation);
}

TColor32 TNearestTransformer::SampleInt(int x, int y)
{
    const TPoint p = FTransformation->ReverseMapInt(x, y);
    return Nested().SampleInt(p.X, p.Y);
}

TColor32 TNearestTransformer::SampleFixed(TFixed x, TFixed y)
{
    const TFixedPoint p = FTransformation->ReverseMapFixed(x, y);
    return Nested().SampleInt(FixedRound(p.X), FixedRound(p.Y));
}

TColor32 TNearestTransformer::SampleFloat(float x, float y)
{
    const TFloatPoint p = FTransformation->ReverseMapFloat(x, y);
    return Nested().SampleInt(RoundToInt(p.X), RoundToInt(p.Y));
}

bool CreateRegisteredResampler(const std::string& className, TBitmap32& bitmap)
{
    if (className == "TNearestResampler") {
        bitmap.SetResampler(std::make_unique<TNearestResampler>(bitmap));
        return true;
    }
    return false;
}

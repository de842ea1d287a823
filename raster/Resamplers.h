#pragma once

#include "raster/Bitmap32.h"
#include "raster/Transformation.h"

#include <memory>
#include <string>

/// A transformer has no sampler to forward to.
class ENestedException : public Exception
{
public:
    using Exception::Exception;
};

/// An object is not of the class an operation needs.
class EInvalidCast : public Exception
{
public:
    EInvalidCast()
        : Exception("Invalid class typecast")
    {
    }
};

/// Something that yields a colour for a point in integer, 16.16 or float
/// coordinates. The base forms call each other (integer -> fixed -> float ->
/// fixed), so a subclass overrides at least one of them.
class TCustomSampler : public TNotifiablePersistent
{
public:
    virtual TColor32 SampleInt(int x, int y);
    virtual TColor32 SampleFixed(TFixed x, TFixed y);
    virtual TColor32 SampleFloat(float x, float y);
    virtual void BeginSampling() {}
    virtual void EndSampling() {}
    virtual bool HasBounds() const { return false; }
    virtual TRect SampleBounds() const;
    virtual std::string ClassName() const = 0;
};

/// A sampler that reads a bitmap through a filter.
class TCustomResampler : public TCustomSampler
{
public:
    /// Support width of the filter in pixels.
    virtual float Width() const = 0;
};

class TTransformer;

/// Makes the transformer sampler that pairs with a resampler.
using TTransformerClass = std::unique_ptr<TTransformer> (*)(TCustomSampler* sampler,
                                                            TTransformation& transformation);

enum class TPixelAccessMode : uint8_t
{
    pamUnsafe, ///< no check at all: the caller keeps points inside the bitmap
    pamSafe,   ///< checked against the clip rectangle, OuterColor outside
    pamWrap    ///< brought into the clip rectangle by the bitmap's WrapMode
};

/// A resampler bound to (and owned by) one TBitmap32.
class TBitmap32Resampler : public TCustomResampler
{
public:
    explicit TBitmap32Resampler(TBitmap32& bitmap);

    TBitmap32& Bitmap() const { return FBitmap; }
    TTransformerClass TransformerClass() const { return FTransformerClass; }
    TPixelAccessMode PixelAccessMode() const { return FPixelAccessMode; }
    /// A new value notifies the bitmap.
    void SetPixelAccessMode(TPixelAccessMode value);

    /// Passed on to the bitmap.
    void Changed() override;
    /// Takes a copy of the bitmap's clip rectangle.
    void BeginSampling() override;
    bool HasBounds() const override { return true; }
    TRect SampleBounds() const override { return FBitmap.ClipRect(); }

protected:
    TBitmap32& FBitmap;
    TRect FClipRect;
    TTransformerClass FTransformerClass;
    TPixelAccessMode FPixelAccessMode = TPixelAccessMode::pamSafe;
};

/// Nearest-neighbour reading of the bitmap's pixels.
class TNearestResampler : public TBitmap32Resampler
{
public:
    explicit TNearestResampler(TBitmap32& bitmap);

    /// Binds the pixel read for PixelAccessMode().
    void BeginSampling() override;
    TColor32 SampleInt(int x, int y) override { return FGetSampleInt(FBitmap, x, y); }
    /// The nearest pixel, an exact half going to the lower index.
    TColor32 SampleFixed(TFixed x, TFixed y) override;
    /// The nearest pixel, ties to even.
    TColor32 SampleFloat(float x, float y) override;
    float Width() const override { return 1; }
    std::string ClassName() const override { return "TNearestResampler"; }

private:
    using TPixelRead = TColor32 (*)(const TBitmap32&, int, int);
    TPixelRead FGetSampleInt;
};

/// A sampler that forwards to another one (not owned).
class TNestedSampler : public TCustomSampler
{
public:
    explicit TNestedSampler(TCustomSampler* sampler)
        : FSampler(sampler)
    {
    }

    TCustomSampler* Sampler() const { return FSampler; }
    void SetSampler(TCustomSampler* value) { FSampler = value; }

    /// These four raise ENestedException "Nested sampler is nil" without a sampler.
    void BeginSampling() override;
    void EndSampling() override;
    bool HasBounds() const override;
    TRect SampleBounds() const override;

protected:
    /// The nested sampler, or ENestedException.
    TCustomSampler& Nested() const;

    TCustomSampler* FSampler;
};

/// Maps every requested point back through a transformation (not owned)
/// and samples the nested sampler there.
class TTransformer : public TNestedSampler
{
public:
    TTransformer(TCustomSampler* sampler, TTransformation& transformation);

    TTransformation& Transformation() const { return *FTransformation; }
    void SetTransformation(TTransformation& value) { FTransformation = &value; }

    /// Nested BeginSampling, then Prepare when the transformation changed.
    void BeginSampling() override;
    bool HasBounds() const override;
    /// The transformed bounds of the nested sampler's bounds.
    TRect SampleBounds() const override;
    TColor32 SampleInt(int x, int y) override;
    TColor32 SampleFixed(TFixed x, TFixed y) override;
    TColor32 SampleFloat(float x, float y) override;
    std::string ClassName() const override { return "TTransformer"; }

    static std::unique_ptr<TTransformer> Create(TCustomSampler* sampler, TTransformation& transformation);

protected:
    TTransformation* FTransformation;
};

/// Transformer that rounds the mapped point to the nearest pixel and reads it
/// with the nested sampler's integer form.
class TNearestTransformer : public TTransformer
{
public:
    using TTransformer::TTransformer;

    TColor32 SampleInt(int x, int y) override;
    TColor32 SampleFixed(TFixed x, TFixed y) override;
    TColor32 SampleFloat(float x, float y) override;
    std::string ClassName() const override { return "TNearestTransformer"; }

    static std::unique_ptr<TTransformer> Create(TCustomSampler* sampler, TTransformation& transformation);
};

/// Creates a resampler of the named registered class and installs it into the
/// bitmap; false when the name is unknown.
bool CreateRegisteredResampler(const std::string& className, TBitmap32& bitmap);

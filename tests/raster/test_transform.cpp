#include "raster/Transform.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Same behaviour as its base, but not recognised by the integer-only
// renderer: rendering through it takes the per-pixel sampler path.
class TPlainAffine : public TAffineTransformation
{
};

void Number(TBitmap32& b, int w, int h)
{
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.SetPixel(x, y,
                       0x10000000u * static_cast<uint32_t>(y + 1) + 0x000100u * static_cast<uint32_t>(x + 1) +
                           static_cast<uint32_t>(y * w + x));
}

std::vector<TColor32> Pixels(const TBitmap32& b)
{
    return std::vector<TColor32>(b.Bits(), b.Bits() + static_cast<size_t>(b.Width()) * b.Height());
}

constexpr TColor32 kClear = 0xFF0000FF;

// A sampler that fails after a number of samples, opening an update of the
// destination first, and tells whether sampling was ended.
class TFailingSampler : public TCustomSampler
{
public:
    TFailingSampler(TBitmap32& dst, int failAt)
        : FDst(dst)
        , FFailAt(failAt)
    {
    }
    TColor32 SampleInt(int, int) override
    {
        if (++FCount == FFailAt) {
            FDst.BeginUpdate();
            FDst.BeginUpdate();
            throw EAbort();
        }
        return 0x12345678;
    }
    void EndSampling() override { Ended = true; }
    std::string ClassName() const override { return "TFailingSampler"; }
    bool Ended = false;

private:
    TBitmap32& FDst;
    int FFailAt;
    int FCount = 0;
};

class TOtherResampler : public TCustomResampler
{
public:
    TColor32 SampleInt(int, int) override { return 0; }
    float Width() const override { return 1; }
    std::string ClassName() const override { return "TOtherResampler"; }
};

} // namespace

TEST(Transform, IdentityCopiesEveryPixelWithItsAlpha)
{
    TBitmap32 src, dst;
    Number(src, 5, 4);
    src.SetPixel(2, 2, 0x00FFFFFF);
    dst.SetSize(5, 4);
    dst.Clear(kClear);
    TAffineTransformation t;
    t.SetSrcRect({0, 0, 5, 4});
    Transform(dst, src, t);
    EXPECT_EQ(Pixels(dst), Pixels(src));
}

TEST(Transform, SourceMappedOffTheDestinationChangesNothing)
{
    TBitmap32 src, dst;
    Number(src, 4, 4);
    dst.SetSize(4, 4);
    dst.Clear(kClear);
    TAffineTransformation t;
    t.SetSrcRect({0, 0, 4, 4});
    t.Translate(10, -20);
    std::vector<TRect> areas;
    dst.OnAreaChanged = [&](TBitmap32&, const TRect& r, uint32_t) { areas.push_back(r); };
    Transform(dst, src, t);
    EXPECT_EQ(Pixels(dst), std::vector<TColor32>(16, kClear));
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_EQ(areas[0], TRect{});
}

TEST(Transform, HalfScaleCoversTheRoundedBoundsOnly)
{
    TBitmap32 src, dst;
    Number(src, 4, 2);
    dst.SetSize(4, 2);
    dst.Clear(kClear);
    TAffineTransformation t;
    t.SetSrcRect({0, 0, 4, 2});
    t.Scale(0.5f, 0.5f);
    Transform(dst, src, t);
    const std::vector<TColor32> expected = {src.Pixel(0, 0), src.Pixel(2, 0), kClear, kClear, 0, 0,
                                            kClear,          kClear};
    EXPECT_EQ(Pixels(dst), expected);
}

TEST(Transform, HalfWayPointsTakeTheLowerPixel)
{
    TBitmap32 src, dst;
    Number(src, 3, 3);
    dst.SetSize(4, 4);
    dst.Clear(kClear);
    TAffineTransformation t;
    t.SetSrcRect({0, 0, 2, 2});
    t.Scale(2, 2);
    Transform(dst, src, t);
    // Destination 1 maps to 0.5 and 3 to 1.5: both round down.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(dst.Pixel(x, y), src.Pixel(x / 2, y / 2)) << x << "," << y;
}

TEST(Transform, DrawModesAndClipping)
{
    TBitmap32 src, dst;
    Number(src, 3, 3);
    src.SetPixel(1, 1, 0xCAFEBABE);
    src.SetOuterColor(0xCAFEBABE);
    src.SetDrawMode(TDrawMode::dmTransparent);
    dst.SetSize(3, 3);
    dst.Clear(kClear);
    TAffineTransformation t;
    t.SetSrcRect({0, 0, 3, 3});
    Transform(dst, src, t);
    EXPECT_EQ(dst.Pixel(1, 1), kClear) << "the transparent colour is not stored";
    EXPECT_EQ(dst.Pixel(2, 2), src.Pixel(2, 2));

    src.SetDrawMode(TDrawMode::dmOpaque);
    dst.Clear(kClear);
    dst.SetClipRect(Rect(1, 0, 3, 2));
    TRegularRasterizer rasterizer;
    Transform(dst, src, t, Rect(0, 0, 2, 3), rasterizer);
    const std::vector<TColor32> expected = {kClear, src.Pixel(1, 0), kClear, kClear, 0xCAFEBABE,
                                            kClear, kClear,          kClear, kClear};
    EXPECT_EQ(Pixels(dst), expected) << "only dst's clip and the given clip are drawn";
}

TEST(Transform, IntegerRendererEqualsTheSamplerChain)
{
    std::mt19937 rng(20261207);
    std::uniform_real_distribution<float> angle(-180, 180), scale(0.3f, 3.0f), shift(-20, 20);
    std::uniform_int_distribution<int> size(1, 90);
    for (int run = 0; run < 200; ++run) {
        const int sw = size(rng), sh = size(rng), dw = size(rng), dh = size(rng);
        TBitmap32 src, fast, plain;
        Number(src, sw, sh);
        src.SetOuterColor(run % 2 ? 0xABCDEF01 : 0);
        if (run % 3 == 0)
            src.SetClipRect(Rect(sw / 4, sh / 3, sw - sw / 5, sh));
        fast.SetSize(dw, dh);
        plain.SetSize(dw, dh);
        fast.Clear(kClear);
        plain.Clear(kClear);
        TAffineTransformation a;
        TPlainAffine b;
        for (TAffineTransformation* t : {&a, static_cast<TAffineTransformation*>(&b)}) {
            t->SetSrcRect({0, 0, static_cast<float>(sw), static_cast<float>(sh)});
            t->Translate(-static_cast<float>(sw - 1) / 2, -static_cast<float>(sh - 1) / 2);
        }
        // Right angles and unit scales are where the rounding decides.
        const float turn = run % 4 == 0 ? 90.0f * static_cast<float>(run % 8 / 4 * 2 - 1) : angle(rng);
        const float s = run % 5 == 0 ? 1.0f : scale(rng);
        const float dx = shift(rng) + static_cast<float>(dw - 1) / 2;
        const float dy = shift(rng) + static_cast<float>(dh - 1) / 2;
        for (TAffineTransformation* t : {&a, static_cast<TAffineTransformation*>(&b)}) {
            t->Rotate(0, 0, turn);
            t->Scale(s, s);
            t->Translate(dx, dy);
        }
        Transform(fast, src, a);
        Transform(plain, src, b);
        ASSERT_EQ(Pixels(fast), Pixels(plain)) << "run " << run << ": " << sw << "x" << sh << " -> " << dw
                                               << "x" << dh << " angle " << turn << " scale " << s;
    }
}

TEST(Transform, UpdateRowCountReportsRowGroups)
{
    TBitmap32 src, dst;
    Number(src, 4, 7);
    dst.SetSize(4, 7);
    TAffineTransformation t;
    t.SetSrcRect({0, 0, 4, 7});
    TRegularRasterizer rasterizer;
    rasterizer.SetUpdateRowCount(3);
    std::vector<TRect> areas;
    dst.OnAreaChanged = [&](TBitmap32&, const TRect& r, uint32_t) { areas.push_back(r); };
    Transform(dst, src, t, rasterizer);
    const std::vector<TRect> expected = {Rect(0, 0, 4, 3), Rect(0, 3, 4, 6), Rect(0, 6, 4, 7),
                                         Rect(0, 0, 4, 7)};
    EXPECT_EQ(areas, expected);
    EXPECT_EQ(Pixels(dst), Pixels(src));
}

TEST(Transform, FailuresEndSamplingAndCloseUpdates)
{
    TBitmap32 src, dst;
    Number(src, 3, 3);
    dst.SetSize(3, 3);
    dst.Clear(kClear);

    TFailingSampler failing(dst, 5);
    TRegularRasterizer rasterizer;
    rasterizer.SetSampler(&failing);
    EXPECT_THROW(rasterizer.Rasterize(dst, dst.Bounds(), src), EAbort);
    EXPECT_TRUE(failing.Ended);
    EXPECT_EQ(dst.UpdateCount(), 0);
    EXPECT_EQ(dst.Pixel(0, 1), 0x12345678u) << "pixels written before the error stay";
    EXPECT_EQ(dst.Pixel(1, 1), kClear);

    TAffineTransformation t;
    TNearestTransformer orphan(nullptr, t);
    rasterizer.SetSampler(&orphan);
    try {
        rasterizer.Rasterize(dst, dst.Bounds(), src);
        FAIL();
    } catch (const ENestedException& e) {
        EXPECT_STREQ(e.what(), "Nested sampler is nil");
    }

    src.SetResampler(std::make_unique<TOtherResampler>());
    t.SetSrcRect({0, 0, 3, 3});
    EXPECT_THROW(Transform(dst, src, t), EInvalidCast);
}

TEST(ClearBorderAlpha, ClearsTheOuterRingOnly)
{
    TBitmap32 one;
    one.SetSize(1, 1);
    one.Clear(0xFF112233);
    ClearBorderAlpha(one, one.Bounds());
    EXPECT_EQ(one.Pixel(0, 0), 0x00112233u);

    TBitmap32 b;
    b.SetSize(5, 4);
    b.Clear(0xFF445566);
    int changes = 0;
    b.OnChange = [&](TNotifiablePersistent&) { ++changes; };
    ClearBorderAlpha(b, Rect(2, 2, 2, 4));
    ClearBorderAlpha(b, Rect(7, 0, 9, 4));
    b.SetClipRect(Rect(0, 0, 2, 2));
    changes = 0;
    ClearBorderAlpha(b, Rect(3, 2, 5, 4));
    EXPECT_EQ(changes, 0) << "empty or wholly outside the clip: no change";
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(b.Bits()[i], 0xFF445566u);

    b.SetClipRect(b.Bounds());
    ClearBorderAlpha(b, Rect(-3, -3, 50, 50));
    EXPECT_EQ(changes, 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool ring = x == 0 || y == 0 || x == 4 || y == 3;
            EXPECT_EQ(b.Pixel(x, y), ring ? 0x00445566u : 0xFF445566u) << x << "," << y;
        }
}

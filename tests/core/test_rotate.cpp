#include "app/core/RotatePhoto.h"
#include "raster/Transform.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace {

constexpr TColor32 k = 0xFF000000; // the clear colour, opaque black
constexpr TColor32 t = 0;          // outside the source: transparent black

// Opaque pixels that differ in every byte position.
void Number(TBitmap32& b, int w, int h)
{
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.SetPixel(x, y, 0xFF000000u | static_cast<uint32_t>((y + 1) << 16 | (x + 1) << 8 | (y * w + x)));
}

std::vector<TColor32> Pixels(const TBitmap32& b)
{
    return std::vector<TColor32>(b.Bits(), b.Bits() + static_cast<size_t>(b.Width()) * b.Height());
}

// Not recognised by the integer-only renderer: rendering through it takes
// the per-pixel sampler chain.
class TPlainAffine : public TAffineTransformation
{
};

// A resampler that is not bound to a bitmap: rendering from it is refused.
class TOtherResampler : public TCustomResampler
{
public:
    TColor32 SampleInt(int, int) override { return 0; }
    float Width() const override { return 1; }
    std::string ClassName() const override { return "TOtherResampler"; }
};

// The turn as written: the transformation built step by step, the whole
// destination cleared to opaque black, then rendered through the samplers.
void LiteralRotate(TBitmap32& src, TBitmap32& dst, float angle)
{
    const int w = src.Width();
    const int h = src.Height();
    TPlainAffine tr;
    tr.SetSrcRect({0, 0, static_cast<float>(w), static_cast<float>(h)});
    tr.Clear();
    tr.Translate(-static_cast<float>(w - 1) / 2, -static_cast<float>(h - 1) / 2);
    tr.Rotate(0, 0, angle);
    const float s = FitScale(w, h, angle);
    tr.Scale(s, s);
    tr.Translate(static_cast<float>(w - 1) / 2, static_cast<float>(h - 1) / 2);
    dst.Clear(k);
    Transform(dst, src, tr);
}

// The correction's steps as written: size, clear the ring's alpha, angle 0,
// then the turn for 3, 6 and 8.
void LiteralRender(TBitmap32& src, TBitmap32& dst, int orientation)
{
    dst.SetSize(src.Width(), src.Height());
    ClearBorderAlpha(src, src.Bounds());
    LiteralRotate(src, dst, 0);
    float angle = 0;
    if (OrientationAngle(orientation, angle))
        LiteralRotate(src, dst, angle);
}

} // namespace

TEST(RotatePhoto, FourByThreePictures)
{
    TBitmap32 src, dst;
    Number(src, 4, 3);
    ClearBorderAlpha(src, src.Bounds());
    auto P = [&](char row, int col) { return src.Pixel(col, row - 'A'); };
    dst.SetSize(4, 3);

    struct Case
    {
        float angle;
        std::vector<TColor32> expected;
    };
    const Case cases[] = {
        {0, Pixels(src)},
        {180,
         {P('C', 3), P('C', 2), P('C', 1), P('C', 0), P('B', 3), P('B', 2), P('B', 1), P('B', 0), P('A', 3),
          P('A', 2), P('A', 1), P('A', 0)}},
        {-90,
         {P('C', 0), P('B', 0), P('A', 0), k, P('C', 1), P('B', 1), P('A', 1), k, P('C', 2), P('B', 2),
          P('A', 2), k}},
        {90,
         {t, P('A', 2), P('B', 2), P('C', 2), t, P('A', 1), P('B', 1), P('C', 1), t, P('A', 0), P('B', 0),
          P('C', 0)}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(RotatePhoto(src, dst, c.angle));
        EXPECT_EQ(Pixels(dst), c.expected) << "angle " << c.angle;
    }
    EXPECT_EQ(FitScale(4, 3, 0), 4.0f / 3);
    // The single-precision half turn has a sine of about -8.7e-8, which
    // widens Dw by one unit in the last place.
    EXPECT_FLOAT_EQ(FitScale(4, 3, 180), 4.0f / 3);
    EXPECT_LT(FitScale(4, 3, 180), 4.0f / 3);
    EXPECT_EQ(FitScale(4, 3, -90), 1.0f);
}

TEST(RotatePhoto, AnnouncesOnlyAFinishedRenderAndClosesItsUpdateOnFailure)
{
    TBitmap32 src, dst;
    Number(src, 6, 4);
    dst.SetSize(6, 4);
    int changes = 0;
    dst.OnChange = [&](TNotifiablePersistent&) { ++changes; };
    ASSERT_TRUE(RotatePhoto(src, dst, 90));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(dst.UpdateCount(), 0);

    // A source whose resampler cannot render: the turn fails after the black fill, announcing nothing.
    src.SetResampler(std::make_unique<TOtherResampler>());
    changes = 0;
    EXPECT_THROW(RotatePhoto(src, dst, 90), EInvalidCast);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(dst.UpdateCount(), 0);
    dst.Clear(0xFF112233);
    EXPECT_EQ(changes, 1) << "the bitmap notifies again afterwards";
}

TEST(RotatePhoto, FitScales)
{
    EXPECT_FLOAT_EQ(FitScale(4000, 3000, -90), 3000.0f / 3999);
    EXPECT_FLOAT_EQ(FitScale(4000, 3000, 90), 3000.0f / 3999);
    EXPECT_EQ(FitScale(4000, 3000, 0), 4000.0f / 3999);
    for (int w : {2, 3, 640, 4001}) {
        const float unturned = FitScale(w, w, 0);
        EXPECT_EQ(unturned, static_cast<float>(w) / static_cast<float>(w - 1));
        EXPECT_EQ(FitScale(w, w, -90), unturned) << "a square turned a quarter scales like the unturned one";
        EXPECT_EQ(FitScale(w, w, 90), unturned);
    }
}

TEST(RotatePhoto, LandscapeQuarterTurnSitsBetweenBlackBands)
{
    TBitmap32 src, dst;
    src.SetSize(4000, 3000);
    src.Clear(0xFF808080);
    ASSERT_TRUE(RenderUpright(src, dst, 6));
    ASSERT_EQ(dst.Width(), 4000);
    ASSERT_EQ(dst.Height(), 3000);
    for (int y : {0, 1500, 2999}) {
        int first = -1, last = -1;
        for (int x = 0; x < 4000; ++x)
            if ((dst.Pixel(x, y) & 0xFFFFFF) != 0) {
                if (first < 0)
                    first = x;
                last = x;
            }
        const int width = last - first + 1;
        EXPECT_NEAR(width, 2250, 2) << "row " << y;
        EXPECT_NEAR(first, 4000 - 1 - last, 1) << "centred, row " << y;
        EXPECT_EQ(dst.Pixel(0, y), k);
        EXPECT_EQ(dst.Pixel(3999, y), k);
    }
}

TEST(RenderUpright, OneRenderEqualsTheLiteralSteps)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> size(2, 70);
    // The last runs are large enough for several tiles of the quarter turns.
    const TPoint large[] = {{1100, 700}, {700, 1100}, {613, 613}};
    for (int run = 0; run < 63; ++run) {
        const int w = run == 0 ? 2 : run >= 60 ? large[run - 60].X : size(rng);
        const int h = run == 1 ? 2 : run >= 60 ? large[run - 60].Y : size(rng);
        for (int orientation : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}) {
            TBitmap32 a, b, da, db;
            Number(a, w, h);
            Number(b, w, h);
            db.SetSize(3, 3); // a stale result of another photo
            db.Clear(0xFF00FF00);
            LiteralRender(a, da, orientation);
            ASSERT_TRUE(RenderUpright(b, db, orientation));
            ASSERT_EQ(Pixels(da), Pixels(db)) << w << "x" << h << " orientation " << orientation;
            ASSERT_EQ(Pixels(a), Pixels(b));
        }
    }
}

TEST(RenderUpright, RefusesPhotosItCannotTurn)
{
    // One pixel wide or high: the fit scale would divide by zero. Beyond
    // 32767: the 16.16 coordinates would wrap around.
    const TPoint sizes[] = {{1, 1}, {1, 50}, {50, 1}, {32768, 2}, {2, 32768}, {0, 0}};
    for (const TPoint s : sizes) {
        TBitmap32 src, dst;
        src.SetSize(s.X, s.Y);
        src.Clear(0xFF123456);
        dst.SetSize(5, 5);
        dst.Clear(0xFF654321);
        EXPECT_FALSE(RenderUpright(src, dst, 6)) << s.X << "x" << s.Y;
        EXPECT_FALSE(RotatePhoto(src, dst, 0));
        EXPECT_EQ(dst.Width(), 5);
        EXPECT_EQ(Pixels(dst), std::vector<TColor32>(25, 0xFF654321));
        if (!src.IsEmpty()) {
            EXPECT_EQ(src.Pixel(0, 0), 0xFF123456u) << "source untouched";
        }
    }
    EXPECT_TRUE(CanRotatePhoto(32767, 2));
    EXPECT_TRUE(CanRotatePhoto(2, 32767));
}

#include "raster/Transformation.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// pi / 180 at extended precision, as the rotation uses it.
constexpr long double kDegToRad = 3.14159265358979323846264338327950288L / 180.0L;

class TNoMappingTransformation : public TTransformation
{
public:
    std::string ClassName() const override { return "TNoMappingTransformation"; }
};

} // namespace

TEST(FixedPoint, RoundingRules)
{
    struct Case
    {
        TFixed value;
        int rounded;
    };
    // An exact half goes down, on both sides of zero.
    const Case cases[] = {{0x18000, 1},
                          {0x28000, 2},
                          {-0x18000, -2},
                          {-0x8000, -1},
                          {0x17FFF, 1},
                          {0x18001, 2},
                          {0, 0},
                          {-1, 0},
                          {0x7FFF0000, 32767},
                          {static_cast<TFixed>(0x80000000u), -32768}};
    for (const Case& c : cases)
        EXPECT_EQ(FixedRound(c.value), c.rounded) << c.value;

    EXPECT_EQ(FixedMul(3 * FixedOne, FixedOne / 2), 3 * FixedOne / 2);
    EXPECT_EQ(FixedMul(-1, 1), -1) << "the shift rounds toward minus infinity";
    EXPECT_EQ(FixedMul(1, 1), 0);
    EXPECT_EQ(FixedMul(0x40000000, 0x40000000), 0) << "low 32 bits of 2^44";

    EXPECT_EQ(ToFixed(1.5f), 0x18000);
    EXPECT_EQ(ToFixed(-2.25f), -0x24000);
    EXPECT_EQ(ToFixed(0.5f / 65536), 0) << "ties to even";
    EXPECT_EQ(ToFixed(1.5f / 65536), 2) << "ties to even";
    EXPECT_EQ(ToFixed(-0.5f / 65536), 0);
    EXPECT_EQ(ToFixed(std::nanf("")), 0);

    EXPECT_EQ(RoundToInt(2.5L), 2);
    EXPECT_EQ(RoundToInt(3.5L), 4);
    EXPECT_EQ(RoundToInt(-0.5L), 0);
    EXPECT_EQ(RoundToInt(1e30L), 2147483647);
}

TEST(TAffineTransformation, ClearGivesIdentityInEveryFormat)
{
    TAffineTransformation t;
    t.Translate(3, 4);
    t.Scale(2, 5);
    t.Clear();
    t.Prepare();
    for (const TPoint p : {TPoint{0, 0}, TPoint{7, -3}, TPoint{-100, 250}}) {
        EXPECT_EQ(t.ReverseMapInt(p.X, p.Y), p);
        EXPECT_EQ(t.ForwardMapInt(p.X, p.Y), p);
        const TFixedPoint f{p.X * FixedOne + 123, p.Y * FixedOne - 77};
        EXPECT_EQ(t.ReverseMapFixed(f.X, f.Y), f);
        EXPECT_EQ(t.ForwardMapFixed(f.X, f.Y), f);
        const TFloatPoint x{static_cast<float>(p.X) + 0.25f, static_cast<float>(p.Y) - 0.75f};
        EXPECT_EQ(t.ReverseMapFloat(x.X, x.Y), x);
        EXPECT_EQ(t.ForwardMapFloat(x.X, x.Y), x);
    }
}

TEST(TAffineTransformation, QuarterTurnMapsBothWays)
{
    TAffineTransformation t;
    t.Rotate(0, 0, 90);
    const float a = static_cast<float>(90.0f * kDegToRad);
    const float c = static_cast<float>(std::cos(static_cast<long double>(a)));
    ASSERT_NE(c, 0.0f) << "the single-rounded quarter turn has a tiny cosine";
    const TFloatPoint p = t.ForwardMapFloat(1, 0);
    EXPECT_EQ(p.X, c);
    EXPECT_EQ(p.Y, -1.0f);
    EXPECT_EQ(t.ForwardPoint(TPoint{1, 0}), (TPoint{0, -1}));
    EXPECT_EQ(t.ReversePoint(TPoint{0, -1}), (TPoint{1, 0}));
    EXPECT_EQ(t.ReversePoint(TPoint{2, 0}), (TPoint{0, 2}));
}

TEST(TAffineTransformation, RotateAboutCentreEqualsTranslateRotateTranslate)
{
    TAffineTransformation a;
    a.Rotate(5, 5, 180);
    TAffineTransformation b;
    b.Translate(-5, -5);
    b.Rotate(0, 0, 180);
    b.Translate(5, 5);
    EXPECT_EQ(a.Matrix(), b.Matrix());
    EXPECT_EQ(a.ForwardPoint(TPoint{0, 0}), (TPoint{10, 10}));
}

TEST(TAffineTransformation, OperationsApplyInAppendOrder)
{
    TAffineTransformation ts;
    ts.Translate(1, 0);
    ts.Scale(2, 3);
    EXPECT_EQ(ts.ForwardMapFloat(1, 1), (TFloatPoint{4, 3}));
    TAffineTransformation st;
    st.Scale(2, 3);
    st.Translate(1, 0);
    EXPECT_EQ(st.ForwardMapFloat(1, 1), (TFloatPoint{3, 3}));
}

TEST(TAffineTransformation, ReverseIntegerMappingRoundsHalfDown)
{
    TAffineTransformation t;
    t.Scale(2, 2);
    EXPECT_EQ(t.ReversePoint(TPoint{3, 3}), (TPoint{1, 1})) << "1.5 rounds down";
    EXPECT_EQ(t.ReversePoint(TPoint{5, -3}), (TPoint{2, -2})) << "2.5 down, -1.5 down";
    EXPECT_EQ(t.ReversePoint(TFixedPoint{3 * FixedOne, FixedOne}), (TFixedPoint{0x18000, 0x8000}));
}

TEST(TAffineTransformation, TransformedBoundsWidenByHalfAPixelTiesToEven)
{
    TAffineTransformation t;
    EXPECT_EQ(t.TransformedBounds(TFloatRect{0, 0, 4, 3}), Rect(0, 0, 4, 4));
    t.SetSrcRect({0, 0, 4, 2});
    t.Scale(0.5f, 0.5f);
    EXPECT_EQ(t.TransformedBounds(), Rect(0, 0, 2, 2));
    TAffineTransformation r;
    r.Rotate(0, 0, 90);
    // The tiny cosine pulls corner (4, 0) just left of 0, so the left edge rounds from -0.5000002.
    EXPECT_EQ(r.TransformedBounds(TFloatRect{0, 0, 4, 2}), Rect(-1, -4, 2, 0));
}

TEST(TAffineTransformation, PrepareInvertsOrFallsBackToIdentity)
{
    TAffineTransformation t;
    t.Translate(-10.5f, 3.25f);
    t.Rotate(0, 0, 33);
    t.Scale(1.7f, 0.6f);
    t.Translate(100, 50);
    t.Prepare();
    for (const TFloatPoint p : {TFloatPoint{0, 0}, TFloatPoint{17.5f, -4}, TFloatPoint{300, 200}}) {
        const TFloatPoint f = t.ForwardMapFloat(p.X, p.Y);
        const TFloatPoint back = t.ReverseMapFloat(f.X, f.Y);
        EXPECT_NEAR(back.X, p.X, 1e-3);
        EXPECT_NEAR(back.Y, p.Y, 1e-3);
    }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            EXPECT_EQ(t.InverseFixed()[i][j], ToFixed(t.Inverse()[i][j]));
            EXPECT_EQ(t.ForwardFixed()[i][j], ToFixed(t.Matrix()[i][j]));
        }

    TAffineTransformation singular;
    singular.Scale(0, 0);
    singular.Prepare();
    EXPECT_EQ(singular.Inverse(), IdentityMatrix);
    TAffineTransformation tiny;
    tiny.Scale(0.003f, 0.003f); // determinant 9e-6
    tiny.Prepare();
    EXPECT_EQ(tiny.Inverse(), IdentityMatrix);
}

TEST(TTransformation, ChangesUnprepareAndNotifyOutsideUpdates)
{
    TAffineTransformation t;
    int changes = 0;
    t.OnChange = [&](TNotifiablePersistent&) { ++changes; };
    EXPECT_FALSE(t.Prepared());
    t.Prepare();
    EXPECT_TRUE(t.Prepared());
    t.Rotate(1, 2, 30);
    EXPECT_FALSE(t.Prepared());
    EXPECT_EQ(changes, 3) << "two translations and the rotation";
    t.Prepare();
    t.BeginUpdate();
    t.SetSrcRect({0, 0, 5, 5});
    t.Scale(2, 2);
    EXPECT_EQ(changes, 3);
    EXPECT_FALSE(t.Prepared());
    t.EndUpdate();
    try {
        t.EndUpdate();
        FAIL() << "unpaired EndUpdate accepted";
    } catch (const EAssertionFailed& e) {
        EXPECT_STREQ(e.what(), "Unpaired TThreadPersistent.EndUpdate");
    }
}

TEST(TTransformation, BaseClassHasNoFloatMapping)
{
    TNoMappingTransformation t;
    try {
        t.ReversePoint(TPoint{1, 1});
        FAIL();
    } catch (const ETransformNotImplemented& e) {
        EXPECT_STREQ(e.what(), "Reverse transformation is not implemented in TNoMappingTransformation.");
    }
    try {
        t.ForwardMapFloat(0, 0);
        FAIL();
    } catch (const ETransformNotImplemented& e) {
        EXPECT_STREQ(e.what(), "Forward transformation is not implemented in TNoMappingTransformation.");
    }
    EXPECT_EQ(t.TransformedBounds(TFloatRect{0.5f, 1.5f, 2.5f, 3.4f}), Rect(0, 2, 2, 3));
}

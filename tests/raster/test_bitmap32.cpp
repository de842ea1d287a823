#include "raster/Bitmap32.h"
#include "raster/Resamplers.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

// Counts the notifications of a bitmap in the order they come.
struct TRecorder
{
    std::vector<std::string> Events;

    explicit TRecorder(TBitmap32& b)
    {
        b.OnChange = [this](TNotifiablePersistent&) { Events.push_back("change"); };
        b.OnResize = [this](TNotifiablePersistent&) { Events.push_back("resize"); };
        b.OnHandleChanged = [this](TNotifiablePersistent&) { Events.push_back("handle"); };
    }
};

// Distinct pixels, alpha included.
void Number(TBitmap32& b, int w, int h)
{
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b.SetPixel(x, y,
                       0x01000000u * static_cast<uint32_t>(x + 1) +
                           0x010203u * static_cast<uint32_t>(y * w + x));
}

// A picture of a given size whose drawing fails.
class TFailingGraphic : public TGraphic
{
public:
    int Width() const override { return 3; }
    int Height() const override { return 2; }
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    bool Empty() const override { return false; }
    void Draw(TCanvas&, const TRect&) const override { throw EAbort(); }
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) override {}
    std::string ClassName() const override { return "TFailingGraphic"; }
};

} // namespace

TEST(IntersectRect, KeepsTheCommonPartAndGivesZeroForDisjointRectangles)
{
    struct TCase
    {
        TRect a, b, expected;
    };
    const TCase cases[] = {
        {Rect(0, 0, 10, 8), Rect(2, 3, 20, 5), Rect(2, 3, 10, 5)},
        {Rect(-5, -5, 5, 5), Rect(-10, 0, 0, 10), Rect(-5, 0, 0, 5)},
        {Rect(0, 0, 4, 4), Rect(0, 0, 4, 4), Rect(0, 0, 4, 4)},
        // Touching edges: an empty rectangle on the common edge, not (0, 0, 0, 0).
        {Rect(0, 0, 5, 5), Rect(5, 1, 9, 4), Rect(5, 1, 5, 4)},
        {Rect(0, 0, 5, 5), Rect(1, 5, 4, 9), Rect(1, 5, 4, 5)},
        // Apart in either direction, or an inverted input: (0, 0, 0, 0).
        {Rect(0, 0, 5, 5), Rect(6, 1, 9, 4), Rect(0, 0, 0, 0)},
        {Rect(3, 3, 5, 5), Rect(0, 7, 9, 9), Rect(0, 0, 0, 0)},
        {Rect(10, 10, 20, 20), Rect(-20, -20, -10, -10), Rect(0, 0, 0, 0)},
        {Rect(5, 5, 1, 1), Rect(0, 0, 9, 9), Rect(0, 0, 0, 0)},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(IntersectRect(c.a, c.b), c.expected) << c.a.Left << "," << c.a.Top << " " << c.b.Left;
        EXPECT_EQ(IntersectRect(c.b, c.a), c.expected) << "order does not matter";
    }
}

TEST(TBitmap32, FailedAssignClosesItsUpdateAndStillNotifies)
{
    TBitmap32 b;
    b.SetSize(2, 2);
    std::vector<int> counts;
    b.OnChange = [&](TNotifiablePersistent& sender) {
        counts.push_back(static_cast<TBitmap32&>(sender).UpdateCount());
    };
    const TFailingGraphic failing;
    EXPECT_THROW(b.Assign(&failing), EAbort);
    EXPECT_EQ(b.UpdateCount(), 0);
    EXPECT_EQ(counts, std::vector<int>{0}) << "one notification, after the update is closed";

    // A failing change handler: after a successful assignment its error is the caller's; after a failed
    // one the assignment's own error is the one that arrives.
    b.OnChange = [](TNotifiablePersistent&) { throw EConvertError("handler"); };
    TBitmap32 source;
    source.SetSize(1, 1);
    EXPECT_THROW(b.Assign(&source), EConvertError);
    EXPECT_EQ(b.UpdateCount(), 0);
    EXPECT_THROW(b.Assign(&failing), EAbort);
    EXPECT_EQ(b.UpdateCount(), 0);
}

TEST(TBitmap32, SetSizeNotifiesOnlyWhenTheSizeChanges)
{
    TBitmap32 b;
    TRecorder rec(b);
    EXPECT_TRUE(b.SetSize(-5, 10));
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 10);
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(b.Bits(), nullptr);
    EXPECT_EQ(rec.Events, (std::vector<std::string>{"handle", "change", "resize"}));

    rec.Events.clear();
    EXPECT_TRUE(b.SetSize(3, 2));
    EXPECT_FALSE(b.IsEmpty());
    EXPECT_EQ(b.ClipRect(), Rect(0, 0, 3, 2));
    EXPECT_FALSE(b.Clipping());
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(b.Bits()[i], 0u) << "fresh pixels are zero";
    rec.Events.clear();
    EXPECT_FALSE(b.SetSize(3, 2));
    EXPECT_FALSE(b.SetSize(3, 2));
    EXPECT_TRUE(rec.Events.empty());

    b.BeginUpdate();
    EXPECT_TRUE(b.SetSize(4, 4));
    b.EndUpdate();
    EXPECT_EQ(rec.Events, (std::vector<std::string>{"handle", "resize"})) << "change waits for the update";
}

TEST(TBitmap32, AllocationFailureLeavesAnEmptyBitmap)
{
    TBitmap32 b;
    b.SetSize(2, 2);
    TRecorder rec(b);
    try {
        b.SetSize(INT_MAX, INT_MAX);
        FAIL() << "no error for an impossible size";
    } catch (const EOutOfResources& e) {
        EXPECT_STREQ(e.what(), "Can't allocate the DIB handle");
    }
    EXPECT_EQ(b.Width(), 0);
    EXPECT_EQ(b.Height(), 0);
    EXPECT_EQ(b.Bits(), nullptr);
    EXPECT_EQ(rec.Events, (std::vector<std::string>{"handle"}));
    EXPECT_TRUE(b.SetSize(1, 1)) << "usable again";
}

TEST(TBitmap32, ClearAndFillAlpha)
{
    TBitmap32 empty;
    TRecorder rec(empty);
    empty.SetSize(0, 7);
    rec.Events.clear();
    empty.Clear(clBlack32);
    empty.FillAlpha(0);
    EXPECT_TRUE(rec.Events.empty()) << "an empty bitmap neither clears nor notifies";

    TBitmap32 b;
    Number(b, 4, 3);
    TRecorder rec2(b);
    b.Clear(0xFF123456);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(b.Bits()[i], 0xFF123456u);
    EXPECT_EQ(rec2.Events, (std::vector<std::string>{"change"}));

    b.SetClipRect(Rect(1, 1, 9, 9));
    EXPECT_EQ(b.ClipRect(), Rect(1, 1, 4, 3)) << "clip stays within the bounds";
    EXPECT_TRUE(b.Clipping());
    b.Clear(0x00000001);
    EXPECT_EQ(b.Pixel(0, 1), 0xFF123456u);
    EXPECT_EQ(b.Pixel(1, 0), 0xFF123456u);
    EXPECT_EQ(b.Pixel(1, 1), 1u);
    EXPECT_EQ(b.Pixel(3, 2), 1u);

    b.FillAlpha(0x80);
    EXPECT_EQ(b.Pixel(0, 0), 0x80123456u);
    EXPECT_EQ(b.Pixel(3, 2), 0x80000001u);
}

TEST(TBitmap32, CheckedAndWrappedReads)
{
    TBitmap32 b;
    Number(b, 4, 3);
    b.SetOuterColor(0xDEADBEEF);
    EXPECT_EQ(b.PixelS(3, 2), b.Pixel(3, 2));
    for (const TPoint p : {TPoint{-1, 0}, TPoint{4, 0}, TPoint{0, -1}, TPoint{0, 3}})
        EXPECT_EQ(b.PixelS(p.X, p.Y), 0xDEADBEEFu) << p.X << "," << p.Y;
    b.SetClipRect(Rect(1, 0, 3, 3));
    EXPECT_EQ(b.PixelS(0, 0), 0xDEADBEEFu) << "reads are checked against the clip rectangle";

    b.SetClipRect(b.Bounds());
    struct Case
    {
        TWrapMode mode;
        int x, y, ex, ey;
    };
    const Case cases[] = {
        {TWrapMode::wmClamp, -5, 7, 0, 2},  {TWrapMode::wmClamp, 9, -1, 3, 0},
        {TWrapMode::wmRepeat, -1, 3, 3, 0}, {TWrapMode::wmRepeat, 9, -4, 1, 2},
        {TWrapMode::wmMirror, -1, 3, 0, 2}, {TWrapMode::wmMirror, 4, -2, 3, 1},
        {TWrapMode::wmMirror, 8, 6, 0, 0},
    };
    for (const Case& c : cases) {
        b.SetWrapMode(c.mode);
        EXPECT_EQ(b.PixelW(c.x, c.y), b.Pixel(c.ex, c.ey)) << int(c.mode) << ": " << c.x << "," << c.y;
    }
}

TEST(TBitmap32, ConvertsToAndFromTheRuntimeBitmap)
{
    TBitmap32 b;
    Number(b, 3, 2);
    b.SetPixel(1, 1, 0x00ABCDEF); // transparent, its colour must survive
    TBitmap rt;
    b.AssignTo(rt);
    ASSERT_EQ(rt.PixelFormat(), TPixelFormat::pf32bit);
    ASSERT_EQ(rt.Width(), 3);
    ASSERT_EQ(rt.Height(), 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const uint8_t* p = rt.ScanLine(y) + 4 * x;
            const TColor32 c = p[0] | p[1] << 8 | p[2] << 16 | static_cast<TColor32>(p[3]) << 24;
            EXPECT_EQ(c, b.Pixel(x, y));
        }

    TBitmap32 back;
    back.Assign(&rt);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(back.Pixel(x, y), b.Pixel(x, y)) << "a 32-bit bitmap keeps its alpha bytes";

    TBitmap rgb(2, 1, TPixelFormat::pf24bit);
    uint8_t* row = rgb.ScanLine(0);
    const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    std::copy(bytes, bytes + 6, row);
    rgb.SetTransparent(true);
    rgb.SetTransparentColor(0x00040506); // red 6, green 5, blue 4
    TBitmap32 opaque;
    opaque.Assign(&rgb);
    EXPECT_EQ(opaque.Pixel(0, 0), 0xFF030201u) << "24-bit pixels become opaque";
    EXPECT_EQ(opaque.Pixel(1, 0), 0x00060504u) << "the transparent colour gets alpha 0";

    TBitmap32 none;
    Number(none, 2, 2);
    none.Assign(static_cast<const TGraphic*>(nullptr));
    EXPECT_TRUE(none.IsEmpty());
    EXPECT_EQ(none.Width(), 0);

    TBitmap32 emptySource;
    TBitmap target(5, 5, TPixelFormat::pf24bit);
    emptySource.AssignTo(target);
    EXPECT_EQ(target.Width(), 0);
    EXPECT_EQ(target.PixelFormat(), TPixelFormat::pf32bit);
}

TEST(TBitmap32, AssignCopiesPixelsAndSettings)
{
    TBitmap32 a;
    Number(a, 3, 3);
    a.SetDrawMode(TDrawMode::dmTransparent);
    a.SetWrapMode(TWrapMode::wmMirror);
    a.SetMasterAlpha(77);
    a.SetOuterColor(0x11223344);
    dynamic_cast<TBitmap32Resampler&>(a.Resampler()).SetPixelAccessMode(TPixelAccessMode::pamWrap);
    TBitmap32 b;
    int changes = 0;
    b.OnChange = [&](TNotifiablePersistent&) { ++changes; };
    b.Assign(&a);
    EXPECT_EQ(changes, 1) << "one notification at the end";
    ASSERT_EQ(b.Width(), 3);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(b.Bits()[i], a.Bits()[i]);
    EXPECT_EQ(b.DrawMode(), TDrawMode::dmTransparent);
    EXPECT_EQ(b.WrapMode(), TWrapMode::wmMirror);
    EXPECT_EQ(b.MasterAlpha(), 77u);
    EXPECT_EQ(b.OuterColor(), 0x11223344u);
    EXPECT_EQ(dynamic_cast<TBitmap32Resampler&>(b.Resampler()).PixelAccessMode(), TPixelAccessMode::pamWrap);
    EXPECT_EQ(&dynamic_cast<TBitmap32Resampler&>(b.Resampler()).Bitmap(), &b);
}

#include "graphics/Graphics.h"

#include "base/Classes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

namespace {

// A bitmap whose every pixel differs: blue = x, green = y, red = x + y.
std::unique_ptr<TBitmap> Pattern(int w, int h, TPixelFormat format)
{
    auto result = std::make_unique<TBitmap>(0, 0, format);
    TBitmap& bmp = *result;
    bmp.SetSize(w, h);
    const int bpp = TBitmap::BitsPerPixel(format) / 8;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = bmp.ScanLine(y) + bpp * x;
            p[0] = static_cast<uint8_t>(x);
            if (bpp >= 3) {
                p[1] = static_cast<uint8_t>(y);
                p[2] = static_cast<uint8_t>(x + y);
            }
            if (bpp == 4)
                p[3] = static_cast<uint8_t>(100 + x);
        }
    return result;
}

std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("fi_graphics_" + name)).string();
}

// A picture class for registry tests that loads any file as a 1 × 1 bitmap,
// or fails when the file is empty.
class TProbeGraphic : public TGraphic
{
public:
    int Width() const override { return FSize; }
    int Height() const override { return FSize; }
    void SetWidth(int) override {}
    void SetHeight(int) override {}
    bool Empty() const override { return FSize == 0; }
    void Draw(TCanvas&, const TRect&) const override {}
    void LoadFromStream(TStream& stream) override
    {
        if (stream.Size() == 0)
            throw EInvalidGraphic("leer");
        FSize = 1;
    }
    void SaveToStream(TStream&) override {}
    std::string ClassName() const override { return "TProbeGraphic"; }

private:
    int FSize = 0;
};

} // namespace

TEST(TBitmap, RowsAreTopDownAndPaddedToFourBytes)
{
    struct Case
    {
        TPixelFormat Format;
        int Width;
        int Stride;
    };
    const Case cases[] = {{TPixelFormat::pf8bit, 1, 4},   {TPixelFormat::pf8bit, 5, 8},
                          {TPixelFormat::pf24bit, 1, 4},  {TPixelFormat::pf24bit, 3, 12},
                          {TPixelFormat::pf24bit, 5, 16}, {TPixelFormat::pf32bit, 3, 12}};
    for (const Case& c : cases) {
        TBitmap bmp(c.Width, 3, c.Format);
        EXPECT_EQ(bmp.Stride(), c.Stride) << c.Width;
        EXPECT_EQ(bmp.ScanLine(1) - bmp.ScanLine(0), c.Stride);
        EXPECT_EQ(bmp.ScanLine(0), bmp.Bits());
    }
    TBitmap empty(0, 7, TPixelFormat::pf24bit);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.Bits(), nullptr);
}

TEST(TBitmap, AssignedCopiesAreIndependent)
{
    TBitmap a(3, 2, TPixelFormat::pf24bit);
    a.ScanLine(1)[2] = 7;
    TBitmap b;
    b.Assign(&a);
    EXPECT_EQ(std::as_const(b).ScanLine(1)[2], 7);
    b.ScanLine(1)[2] = 9; // writing into the copy leaves the source alone
    EXPECT_EQ(std::as_const(a).ScanLine(1)[2], 7);
    a.Bits()[0] = 5; // and the other way round
    EXPECT_EQ(std::as_const(b).Bits()[0], 0);
    EXPECT_EQ(std::as_const(b).ScanLine(1)[2], 9);
}

TEST(TBitmap, RefusesPixelMemoryBeyondTheLimitAndStaysAsItWas)
{
    TBitmap bmp(4, 4, TPixelFormat::pf24bit);
    EXPECT_THROW(bmp.SetSize(65000, 65000), EOutOfResources);
    EXPECT_EQ(bmp.Width(), 4);
    EXPECT_EQ(bmp.Height(), 4);
    EXPECT_NO_THROW(bmp.SetSize(65000, 1));
}

TEST(TBitmap, PixelFormatConversionKeepsColours)
{
    const auto bmpOwner = Pattern(5, 3, TPixelFormat::pf24bit);
    TBitmap& bmp = *bmpOwner;
    bmp.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(bmp.ScanLine(2)[4 * 4 + 0], 4);
    EXPECT_EQ(bmp.ScanLine(2)[4 * 4 + 1], 2);
    EXPECT_EQ(bmp.ScanLine(2)[4 * 4 + 2], 6);
    EXPECT_EQ(bmp.ScanLine(2)[4 * 4 + 3], 255) << "opaque after widening";
    bmp.SetPixelFormat(TPixelFormat::pf24bit);
    const auto expectedOwner = Pattern(5, 3, TPixelFormat::pf24bit);
    const TBitmap& expected = *expectedOwner;
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(std::memcmp(bmp.ScanLine(y), expected.ScanLine(y), 15), 0);

    // To 8 bits: onto the nearest palette entry; back through the palette.
    TBitmap two(2, 1, TPixelFormat::pf24bit);
    uint8_t* p = two.ScanLine(0);
    const uint8_t px[6] = {10, 10, 240, 200, 20, 20}; // nearly red, nearly blue
    std::memcpy(p, px, 6);
    two.SetPalette({TRGBQuad{255, 0, 0, 0}, TRGBQuad{0, 0, 255, 0}});
    two.SetPixelFormat(TPixelFormat::pf8bit);
    EXPECT_EQ(two.ScanLine(0)[0], 1);
    EXPECT_EQ(two.ScanLine(0)[1], 0);
    two.SetPixelFormat(TPixelFormat::pf24bit);
    const uint8_t back[6] = {0, 0, 255, 255, 0, 0};
    EXPECT_EQ(std::memcmp(two.ScanLine(0), back, 6), 0);
}

TEST(TBitmap, BmpFileRoundTripForEveryFormat)
{
    for (TPixelFormat f : {TPixelFormat::pf8bit, TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
        const auto bmpOwner = Pattern(7, 3, f);
        TBitmap& bmp = *bmpOwner;
        if (f == TPixelFormat::pf8bit)
            bmp.SetPalette({TRGBQuad{1, 2, 3, 0}, TRGBQuad{4, 5, 6, 0}});
        TMemoryStream stream;
        bmp.SaveToStream(stream);
        stream.SetPosition(0);
        TBitmap loaded;
        loaded.LoadFromStream(stream);
        ASSERT_EQ(loaded.PixelFormat(), f);
        ASSERT_EQ(loaded.Width(), 7);
        ASSERT_EQ(loaded.Height(), 3);
        EXPECT_EQ(loaded.Palette(), bmp.Palette());
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(std::memcmp(loaded.ScanLine(y), bmp.ScanLine(y), static_cast<size_t>(bmp.Stride())), 0);
    }
}

TEST(TBitmap, HostileBmpFilesAreRefused)
{
    const auto goodOwner = Pattern(4, 4, TPixelFormat::pf24bit);
    TBitmap& good = *goodOwner;
    TMemoryStream saved;
    good.SaveToStream(saved);
    const std::vector<uint8_t> bytes(saved.Memory(), saved.Memory() + saved.Size());
    auto patched = [&](size_t at, std::vector<uint8_t> value, size_t cut) {
        std::vector<uint8_t> b = bytes;
        std::copy(value.begin(), value.end(), b.begin() + static_cast<ptrdiff_t>(at));
        b.resize(b.size() - cut);
        return b;
    };
    const std::vector<std::vector<uint8_t>> bad = {
        patched(0, {'X'}, 0),                     // no signature
        patched(0, {}, 10),                       // pixels cut short
        patched(18, {0xFF, 0xFF, 0, 0x7F}, 0),    // absurd width
        patched(22, {0, 0, 0, 0x80}, 0),          // most negative height
        patched(28, {16, 0}, 0),                  // 16 bits per pixel
        patched(10, {0xF0, 0xFF, 0xFF, 0xFF}, 0), // pixel offset beyond the file
        patched(14, {0xFF, 0xFF, 0xFF, 0xFF}, 0), // info header beyond the file
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        TMemoryStream s;
        s.Write(bad[i].data(), static_cast<int64_t>(bad[i].size()));
        s.SetPosition(0);
        TBitmap bmp(2, 2, TPixelFormat::pf24bit);
        EXPECT_THROW(bmp.LoadFromStream(s), EInvalidGraphic) << i;
        EXPECT_EQ(bmp.Width(), 2) << "a failed load keeps the bitmap";
    }
}

TEST(TCanvas, StretchDrawConvertsClipsAndScales)
{
    std::vector<uint8_t> buf(4 * 4 * 4, 0xEE);
    TCanvas canvas(buf.data(), 4, 4, 16);
    auto px = [&](int x, int y) { return buf.data() + y * 16 + x * 4; };

    // 24-bit at the same size, partly outside the canvas: clipped, alpha 255.
    const auto rgbOwner = Pattern(3, 2, TPixelFormat::pf24bit);
    const TBitmap& rgb = *rgbOwner;
    canvas.StretchDraw(Rect(2, 3, 5, 5), rgb);
    EXPECT_EQ(px(2, 3)[0], 0);
    EXPECT_EQ(px(3, 3)[0], 1);
    EXPECT_EQ(px(3, 3)[2], 1);
    EXPECT_EQ(px(3, 3)[3], 255);
    EXPECT_EQ(px(1, 3)[0], 0xEE) << "left of the rectangle untouched";
    EXPECT_EQ(px(3, 2)[0], 0xEE) << "above the rectangle untouched";

    // 32-bit keeps its fourth byte; 8-bit goes through the palette.
    const auto argbOwner = Pattern(1, 1, TPixelFormat::pf32bit);
    const TBitmap& argb = *argbOwner;
    canvas.StretchDraw(Rect(0, 0, 1, 1), argb);
    EXPECT_EQ(px(0, 0)[3], 100);
    TBitmap pal(1, 1, TPixelFormat::pf8bit);
    pal.SetPalette({TRGBQuad{9, 8, 7, 0}});
    canvas.StretchDraw(Rect(1, 0, 2, 1), pal);
    EXPECT_EQ(px(1, 0)[0], 9);
    EXPECT_EQ(px(1, 0)[2], 7);
    EXPECT_EQ(px(1, 0)[3], 255);

    // Twice the size: each source pixel covers 2 × 2 target pixels.
    const auto smallOwner = Pattern(2, 2, TPixelFormat::pf24bit);
    const TBitmap& small = *smallOwner;
    canvas.StretchDraw(Rect(0, 0, 4, 4), small);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(px(x, y)[0], x / 2);
            EXPECT_EQ(px(x, y)[1], y / 2);
        }
}

TEST(TGraphic, AssignmentErrorNamesBothClasses)
{
    TProbeGraphic probe;
    try {
        probe.TGraphic::Assign(nullptr);
        ADD_FAILURE();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "nil kann nicht zu  TProbeGraphic zugewiesen werden");
    }
    TBitmap bmp(2, 2, TPixelFormat::pf24bit);
    bmp.Assign(nullptr);
    EXPECT_TRUE(bmp.Empty());
}

TEST(TPicture, RegistryLowerCasesAndPrefersTheLastEntry)
{
    TPicture::RegisterFormat("PRB", "Probe", "TProbeGraphic",
                             [] { return std::make_unique<TProbeGraphic>(); });
    const TFileFormat* f = TPicture::FindByExtension("pRb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Extension, "prb");
    EXPECT_EQ(f->ClassName, "TProbeGraphic");

    // A later entry for "bmp" wins over the runtime's own.
    EXPECT_EQ(TPicture::FindByExtension("BMP")->ClassName, "TBitmap");
    TPicture::RegisterFormat("bmp", "Probe", "TProbeGraphic",
                             [] { return std::make_unique<TProbeGraphic>(); });
    EXPECT_EQ(TPicture::FindByExtension("bmp")->ClassName, "TProbeGraphic");
    TPicture::UnregisterGraphicClass("TProbeGraphic");
    EXPECT_EQ(TPicture::FindByExtension("bmp")->ClassName, "TBitmap");
    EXPECT_EQ(TPicture::FindByExtension("prb"), nullptr);
    EXPECT_EQ(TPicture::FindByExtension("wmf")->ClassName, "TMetafile");
}

TEST(TPicture, LoadPicksTheClassByExtensionAndKeepsThePreviousPictureOnFailure)
{
    TPicture::RegisterFormat("prb", "Probe", "TProbeGraphic",
                             [] { return std::make_unique<TProbeGraphic>(); });
    const std::string good = TempPath("good.bmp");
    Pattern(3, 2, TPixelFormat::pf24bit)->SaveToFile(good);
    const std::string empty = TempPath("empty.PRB");
    std::ofstream(empty).close();
    const std::string unknown = TempPath("x.tiff");
    const std::string noExt = TempPath("folder.d/noext");

    TPicture picture;
    int changes = 0;
    picture.OnChange = [&](TPicture&) { ++changes; };
    picture.LoadFromFile(good);
    ASSERT_NE(dynamic_cast<TBitmap*>(picture.Graphic()), nullptr);
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(changes, 1);

    const struct
    {
        std::string File;
        std::string Message;
    } failures[] = {
        {unknown, "Unbekannte Bilddateierweiterung (.tiff)"},
        {noExt, "Unbekannte Bilddateierweiterung (.)"},
        {TempPath("a.ico"), "Bilddateien vom Typ .ico werden nicht unterstützt"},
        {empty, "leer"},
        {TempPath("missing.bmp"), "Datei " + TempPath("missing.bmp") + " kann nicht geöffnet werden"},
    };
    for (const auto& f : failures) {
        try {
            picture.LoadFromFile(f.File);
            ADD_FAILURE() << f.File;
        } catch (const Exception& e) {
            EXPECT_EQ(e.what(), f.Message);
        }
        EXPECT_EQ(picture.Width(), 3) << "previous picture kept after " << f.File;
    }
    EXPECT_EQ(changes, 1);

    // Bitmap() turns another class into an empty bitmap.
    const std::string probeFile = TempPath("x.PRB");
    std::ofstream(probeFile) << "x";
    picture.LoadFromFile(probeFile);
    EXPECT_EQ(picture.Graphic()->ClassName(), "TProbeGraphic");
    TBitmap& bmp = picture.Bitmap();
    EXPECT_EQ(picture.Graphic(), &bmp);
    EXPECT_EQ(picture.Graphic()->ClassName(), "TBitmap");
    TPicture::UnregisterGraphicClass("TProbeGraphic");
    std::filesystem::remove(good);
    std::filesystem::remove(empty);
    std::filesystem::remove(probeFile);
}

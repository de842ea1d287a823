#include "jpeg/JpegImage.h"

#include "base/Classes.h"
#include "jpeg/JpegPixels.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<uint8_t>;

fs::path TempDir()
{
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("fi_jpeg_test_" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

std::string Temp(const std::string& name)
{
    return (TempDir() / name).string();
}

TBytes ReadFile(const std::string& name)
{
    std::ifstream in(name, std::ios::binary);
    return TBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& name, const TBytes& bytes)
{
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The reference tools run through the system's shell: sh on Linux, cmd.exe on Windows, which differ in
// their empty device, in how they copy a file and in the exit status std::system gives back.
#ifdef _WIN32
constexpr const char* kNullDevice = "NUL";
std::string CopyCommand(const std::string& from, const std::string& to)
{
    return "copy /Y \"" + from + "\" \"" + to + "\" >NUL";
}
int ExitStatus(int code)
{
    return code;
}
#else
constexpr const char* kNullDevice = "/dev/null";
std::string CopyCommand(const std::string& from, const std::string& to)
{
    return "cp '" + from + "' '" + to + "'";
}
int ExitStatus(int code)
{
    return code << 8;
}
#endif

bool HaveTools()
{
    // Each tool ends at once with success when asked for its version.
    const std::string quiet = std::string(" >") + kNullDevice + " 2>&1";
    return std::system(("cjpeg -version" + quiet).c_str()) == 0 &&
           std::system(("djpeg -version" + quiet).c_str()) == 0;
}

void Shell(const std::string& command)
{
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

// A synthetic photo: smooth gradients with noise, different in each channel.
std::unique_ptr<TBitmap> Photo(int w, int h, TPixelFormat format = TPixelFormat::pf24bit, unsigned seed = 1)
{
    auto bmp = std::make_unique<TBitmap>(w, h, format);
    std::mt19937 rng(seed);
    const int bpp = TBitmap::BitsPerPixel(format) / 8;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = bmp->ScanLine(y) + bpp * x;
            p[0] = static_cast<uint8_t>((x * 255) / std::max(w, 1) + rng() % 16);
            p[1] = static_cast<uint8_t>((y * 255) / std::max(h, 1) + rng() % 16);
            p[2] = static_cast<uint8_t>(((x + y) * 97) % 256);
            if (bpp == 4)
                p[3] = 0x5A;
        }
    return bmp;
}

// Binary PPM (red, green, blue) of a 24 or 32-bit bitmap.
void WritePpm(const TBitmap& bmp, const std::string& name)
{
    const int bpp = TBitmap::BitsPerPixel(bmp.PixelFormat()) / 8;
    std::string data = "P6\n" + std::to_string(bmp.Width()) + " " + std::to_string(bmp.Height()) + "\n255\n";
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) {
            const uint8_t* p = bmp.ScanLine(y) + bpp * x;
            data += static_cast<char>(p[2]);
            data += static_cast<char>(p[1]);
            data += static_cast<char>(p[0]);
        }
    std::ofstream(name, std::ios::binary) << data;
}

// The pixel bytes of a binary PPM/PGM written by djpeg (header skipped).
TBytes PnmPixels(const std::string& name, int& w, int& h)
{
    const TBytes file = ReadFile(name);
    int maxval = 0;
    int consumed = 0;
    char magic[3] = {};
    if (std::sscanf(reinterpret_cast<const char*>(file.data()), "%2s %d %d %d%n", magic, &w, &h, &maxval,
                    &consumed) != 4)
        throw std::runtime_error("bad pnm");
    return TBytes(file.begin() + consumed + 1, file.end());
}

// The bitmap's pixels as red, green, blue bytes (8-bit through the palette).
TBytes RgbOf(const TBitmap& bmp)
{
    TBytes out;
    const int bpp = TBitmap::BitsPerPixel(bmp.PixelFormat()) / 8;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) {
            const uint8_t* p = bmp.ScanLine(y) + bpp * x;
            if (bpp == 1) {
                const TRGBQuad c = bmp.Palette().at(*p);
                out.insert(out.end(), {c.Red, c.Green, c.Blue});
            } else {
                out.insert(out.end(), {p[2], p[1], p[0]});
            }
        }
    return out;
}

// Markers and quantization tables of a JPEG file.
struct TJpegFacts
{
    std::vector<uint8_t> Markers;
    std::vector<std::vector<int>> Tables;
    int Width = 0;
    int Height = 0;
    int Components = 0;
};

TJpegFacts Facts(const TBytes& f)
{
    TJpegFacts facts;
    size_t i = 2;
    while (i + 4 <= f.size() && f[i] == 0xFF) {
        const uint8_t marker = f[i + 1];
        facts.Markers.push_back(marker);
        const size_t len = size_t{f[i + 2]} << 8 | f[i + 3];
        const uint8_t* seg = f.data() + i + 4;
        if (marker == 0xDB) {
            for (size_t at = 0; at + 1 < len - 2;) {
                const bool wide = (seg[at] >> 4) != 0;
                std::vector<int> t;
                for (int k = 0; k < 64; ++k)
                    t.push_back(wide ? seg[at + 1 + 2 * k] << 8 | seg[at + 2 + 2 * k] : seg[at + 1 + k]);
                facts.Tables.push_back(t);
                at += 1 + (wide ? 128 : 64);
            }
        } else if (marker >= 0xC0 && marker <= 0xC2) {
            facts.Height = seg[1] << 8 | seg[2];
            facts.Width = seg[3] << 8 | seg[4];
            facts.Components = seg[5];
        } else if (marker == 0xDA) {
            break;
        }
        i += 2 + len;
    }
    return facts;
}

TBytes Encoded(TJPEGImage& jpeg)
{
    TMemoryStream s;
    jpeg.SaveToStream(s);
    return TBytes(s.Memory(), s.Memory() + s.Size());
}

std::unique_ptr<TJPEGImage> Loaded(const TBytes& bytes)
{
    auto jpeg = std::make_unique<TJPEGImage>();
    TMemoryStream s;
    s.Write(bytes.data(), static_cast<int64_t>(bytes.size()));
    s.SetPosition(0);
    jpeg->LoadFromStream(s);
    return jpeg;
}

TBytes EncodeWithOptions(const TBitmap& bmp, uint8_t quality, bool mono = false, bool progressive = false)
{
    TJPEGImage jpeg;
    jpeg.SetQuality(quality);
    jpeg.SetMonochrome(mono);
    jpeg.SetProgressiveSave(progressive);
    jpeg.Assign(&bmp);
    return Encoded(jpeg);
}

// A 16 × 8 file of four components (CMYK, or YCCK), written with the codec.
TBytes FourComponentFile(bool ycck)
{
    jpeg_compress_struct ci{};
    jpeg_error_mgr err{};
    ci.err = jpeg_std_error(&err);
    jpeg_create_compress(&ci);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&ci, &out, &size);
    ci.image_width = 16;
    ci.image_height = 8;
    ci.input_components = 4;
    ci.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&ci);
    if (ycck)
        jpeg_set_colorspace(&ci, JCS_YCCK);
    jpeg_start_compress(&ci, TRUE);
    unsigned char row[64];
    for (int k = 0; k < 64; ++k)
        row[k] = static_cast<unsigned char>(k * 4);
    JSAMPROW rows[1] = {row};
    while (ci.next_scanline < ci.image_height)
        jpeg_write_scanlines(&ci, rows, 1);
    jpeg_finish_compress(&ci);
    jpeg_destroy_compress(&ci);
    TBytes bytes(out, out + size);
    std::free(out);
    return bytes;
}

struct TSize
{
    int W;
    int H;
};
const TSize kSizes[] = {{33, 17}, {1, 9}, {40, 1}, {1, 1}, {64, 48}, {17, 33}};

class JpegEnvironment : public ::testing::Environment
{
public:
    void TearDown() override { fs::remove_all(TempDir()); }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new JpegEnvironment);

} // namespace

TEST(TJPEGImage, EncodingGivesTheBytesOfTheReferenceEncoder)
{
    if (!HaveTools())
        GTEST_SKIP() << "cjpeg/djpeg not installed";
    for (const TSize s : kSizes)
        for (int quality : {100, 75, 10}) {
            SCOPED_TRACE(std::to_string(s.W) + "x" + std::to_string(s.H) + " q" + std::to_string(quality));
            const auto photo = Photo(s.W, s.H, TPixelFormat::pf24bit, static_cast<unsigned>(s.W * 31 + s.H));
            WritePpm(*photo, Temp("in.ppm"));
            Shell("cjpeg -dct float -baseline -quality " + std::to_string(quality) + " " + Temp("in.ppm") +
                  " > " + Temp("ref.jpg"));
            const TBytes expected = ReadFile(Temp("ref.jpg"));
            EXPECT_EQ(EncodeWithOptions(*photo, static_cast<uint8_t>(quality)), expected);
            // The same pixels in a 32-bit bitmap (fourth byte ignored) give the same file.
            auto wide = Photo(s.W, s.H, TPixelFormat::pf24bit, static_cast<unsigned>(s.W * 31 + s.H));
            wide->SetPixelFormat(TPixelFormat::pf32bit);
            EXPECT_EQ(EncodeWithOptions(*wide, static_cast<uint8_t>(quality)), expected);
        }
}

TEST(TJPEGImage, DecodingGivesThePixelsOfTheReferenceDecoder)
{
    if (!HaveTools())
        GTEST_SKIP() << "cjpeg/djpeg not installed";
    const std::string variants[] = {"", "-sample 1x1", "-sample 2x1", "-progressive", "-restart 1 -optimize"};
    for (const TSize s : kSizes)
        for (const std::string& v : variants) {
            SCOPED_TRACE(std::to_string(s.W) + "x" + std::to_string(s.H) + " " + v);
            WritePpm(*Photo(s.W, s.H), Temp("in.ppm"));
            Shell("cjpeg -quality 85 " + v + " " + Temp("in.ppm") + " > " + Temp("ref.jpg"));
            Shell("djpeg -dct float -ppm " + Temp("ref.jpg") + " > " + Temp("ref.ppm"));
            int w = 0, h = 0;
            const TBytes expected = PnmPixels(Temp("ref.ppm"), w, h);
            auto jpeg = Loaded(ReadFile(Temp("ref.jpg")));
            EXPECT_EQ(jpeg->Width(), s.W);
            EXPECT_EQ(jpeg->Height(), s.H);
            const TBitmap& bmp = jpeg->DecodedBitmap();
            EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf24bit);
            EXPECT_EQ(RgbOf(bmp), expected);
            // Several output passes end with the same full-quality pass.
            auto again = Loaded(ReadFile(Temp("ref.jpg")));
            again->SetIncrementalDecode(true);
            EXPECT_EQ(RgbOf(again->DecodedBitmap()), expected);
        }
}

TEST(TJPEGImage, GrayscaleAndPaletteOutputGiveEightBitBitmaps)
{
    if (!HaveTools())
        GTEST_SKIP() << "cjpeg/djpeg not installed";
    WritePpm(*Photo(64, 48), Temp("in.ppm"));
    Shell("cjpeg -grayscale " + Temp("in.ppm") + " > " + Temp("gray.jpg"));
    Shell("djpeg -dct float -pnm " + Temp("gray.jpg") + " > " + Temp("gray.pgm"));
    Shell("cjpeg " + Temp("in.ppm") + " > " + Temp("colour.jpg"));
    Shell("djpeg -dct float -ppm " + Temp("colour.jpg") + " > " + Temp("colour.ppm"));
    Shell("cjpeg -progressive " + Temp("in.ppm") + " > " + Temp("prog.jpg"));
    Shell("cjpeg -progressive -grayscale " + Temp("in.ppm") + " > " + Temp("progray.jpg"));
    int w = 0, h = 0;
    const TBytes grayRef = PnmPixels(Temp("gray.pgm"), w, h);
    const TBytes colourRef = PnmPixels(Temp("colour.ppm"), w, h);

    struct Case
    {
        std::string File;
        bool PaletteOutput;
        bool Monochrome;
        bool FastDecode;
        bool Gray;
        bool Incremental = false;
    };
    const Case cases[] = {
        {"gray.jpg", false, false, false, true},          {"gray.jpg", false, false, true, true},
        {"colour.jpg", true, false, false, false},        {"colour.jpg", true, false, true, false},
        {"colour.jpg", false, true, false, true},         {"prog.jpg", true, false, false, false, true},
        {"progray.jpg", false, false, false, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.File + (c.PaletteOutput ? " palette" : "") + (c.Monochrome ? " mono" : "") +
                     (c.FastDecode ? " fast" : "") + (c.Incremental ? " incremental" : ""));
        auto jpeg = Loaded(ReadFile(Temp(c.File)));
        EXPECT_EQ(jpeg->Grayscale(), c.File == "gray.jpg" || c.File == "progray.jpg");
        jpeg->SetIncrementalDecode(c.Incremental);
        jpeg->SetPaletteOutput(c.PaletteOutput);
        jpeg->SetMonochrome(c.Monochrome);
        jpeg->SetFastDecode(c.FastDecode);
        const TBitmap& bmp = jpeg->DecodedBitmap();
        ASSERT_EQ(bmp.PixelFormat(), TPixelFormat::pf8bit);
        ASSERT_LE(bmp.Palette().size(), 236u);
        ASSERT_GE(bmp.Palette().size(), 2u);
        if (c.Gray) {
            for (const TRGBQuad& q : bmp.Palette())
                EXPECT_TRUE(q.Red == q.Green && q.Green == q.Blue);
        }
        // Dithered onto at most 236 colours: close to the reference on average.
        const TBytes rgb = RgbOf(bmp);
        const TBytes& ref = c.Gray ? grayRef : colourRef;
        const size_t step = c.Gray ? 1 : 3;
        double error = 0;
        for (size_t i = 0; i < rgb.size(); i += 3) {
            const size_t r = (i / 3) * step;
            if (c.Gray)
                error += std::abs(rgb[i] - ref[r]);
            else
                for (size_t k = 0; k < 3; ++k)
                    error += std::abs(rgb[i + k] - ref[r + k]) / 3.0;
        }
        EXPECT_LT(error / static_cast<double>(rgb.size() / 3), c.Gray ? 2.0 : (c.FastDecode ? 24.0 : 12.0));
    }
}

TEST(TJPEGImage, WorkingPaletteAndScaledDecoding)
{
    auto jpeg = Loaded(EncodeWithOptions(*Photo(33, 17), 90));
    const TPalette pal = {TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}, TRGBQuad{0, 0, 255, 0}};
    jpeg->SetPaletteOutput(true);
    jpeg->SetPalette(pal);
    const TBitmap& bmp = jpeg->DecodedBitmap();
    EXPECT_EQ(bmp.Palette(), pal);
    std::set<uint8_t> used;
    for (int y = 0; y < bmp.Height(); ++y)
        used.insert(bmp.ScanLine(y), bmp.ScanLine(y) + bmp.Width());
    EXPECT_LE(*used.rbegin(), 2);
    EXPECT_GT(used.size(), 1u);

    for (uint8_t scale = 0; scale <= 3; ++scale) {
        auto scaled = Loaded(EncodeWithOptions(*Photo(33, 17), 90));
        scaled->SetDecodeScale(scale);
        const int w = scaled->Width();
        const int h = scaled->Height();
        EXPECT_EQ(w, (33 + (1 << scale) - 1) >> scale);
        EXPECT_EQ(h, (17 + (1 << scale) - 1) >> scale);
        EXPECT_EQ(scaled->DecodedBitmap().Width(), w);
        EXPECT_EQ(scaled->DecodedBitmap().Height(), h);
    }
}

TEST(TJPEGImage, QualityHundredFromThirtyTwoBitsIsBaselineJfifWithUnitTables)
{
    const auto photo = Photo(37, 23, TPixelFormat::pf32bit);
    const TBytes file = EncodeWithOptions(*photo, 100);
    const TJpegFacts f = Facts(file);
    ASSERT_GE(f.Markers.size(), 3u);
    EXPECT_EQ(f.Markers[0], 0xE0) << "JFIF block first";
    EXPECT_EQ(std::string(file.begin() + 6, file.begin() + 11), std::string("JFIF\0", 5));
    EXPECT_NE(std::find(f.Markers.begin(), f.Markers.end(), 0xC0), f.Markers.end()) << "baseline frame";
    EXPECT_EQ(f.Width, 37);
    EXPECT_EQ(f.Height, 23);
    EXPECT_EQ(f.Components, 3);
    ASSERT_EQ(f.Tables.size(), 2u);
    for (const auto& t : f.Tables)
        EXPECT_EQ(t, std::vector<int>(64, 1));

    // Monochrome: one component, marked grayscale; progressive: a multi-scan frame.
    TJPEGImage mono;
    mono.SetMonochrome(true);
    mono.Assign(photo.get());
    const TBytes monoFile = Encoded(mono);
    EXPECT_TRUE(mono.Grayscale());
    EXPECT_EQ(Facts(monoFile).Components, 1);
    EXPECT_EQ(Loaded(monoFile)->DecodedBitmap().PixelFormat(), TPixelFormat::pf8bit);
    const TBytes progFile = EncodeWithOptions(*photo, 80, false, true);
    const auto prog = Facts(progFile).Markers;
    EXPECT_NE(std::find(prog.begin(), prog.end(), 0xC2), prog.end());
    EXPECT_TRUE(Loaded(progFile)->ProgressiveSave());
    EXPECT_FALSE(Loaded(file)->ProgressiveSave());
}

TEST(TJPEGImage, SavingIsDeferredDoneOnceAndLoadedBytesAreKept)
{
    // Empty bitmaps save empty files.
    for (const TSize s : {TSize{0, 5}, TSize{5, 0}, TSize{0, 0}}) {
        TBitmap empty(s.W, s.H, TPixelFormat::pf24bit);
        TJPEGImage jpeg;
        jpeg.Assign(&empty);
        jpeg.SaveToFile(Temp("empty.jpg"));
        EXPECT_EQ(fs::file_size(Temp("empty.jpg")), 0u);
    }

    // Encoding runs once: a second save writes the same bytes without encoding.
    const auto photo = Photo(20, 10);
    TJPEGImage jpeg;
    int encodings = 0;
    jpeg.OnProgress = [&](const TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&,
                          const std::string&) { encodings += stage == TProgressStage::psStarting; };
    jpeg.Assign(photo.get());
    EXPECT_EQ(jpeg.Width(), 20);
    EXPECT_FALSE(jpeg.Empty());
    EXPECT_EQ(jpeg.CompressedData(), nullptr) << "nothing encoded before bytes are asked for";
    photo->ScanLine(3)[5] ^= 0xFF; // the picture holds its own copy of the pixels
    const TBytes first = Encoded(jpeg);
    const TBytes second = Encoded(jpeg);
    photo->ScanLine(3)[5] ^= 0xFF;
    EXPECT_EQ(first, EncodeWithOptions(*photo, jpeg.Quality()));
    EXPECT_EQ(encodings, 1);
    EXPECT_EQ(first, second);

    // A loaded file is written back byte for byte, even after decoding.
    TBytes original = first;
    original.insert(original.end() - 2, {0xFF, 0xFE, 0x00, 0x05, 'a', 'b', 'c'}); // a comment before EOI
    WriteFile(Temp("orig.jpg"), original);
    TJPEGImage loaded;
    loaded.LoadFromFile(Temp("orig.jpg"));
    loaded.DecodedBitmap();
    loaded.SaveToFile(Temp("copy.jpg"));
    EXPECT_EQ(ReadFile(Temp("copy.jpg")), original);
    // The file is not held open: its path may be overwritten while the picture lives.
    loaded.SaveToFile(Temp("orig.jpg"));
    EXPECT_EQ(ReadFile(Temp("orig.jpg")), original);

    // Form data: a little-endian count, then the bytes.
    TMemoryStream form;
    loaded.WriteFormData(form);
    EXPECT_EQ(form.Size(), static_cast<int64_t>(original.size()) + 4);
    form.SetPosition(0);
    TJPEGImage fromForm;
    fromForm.ReadFormData(form);
    EXPECT_EQ(Encoded(fromForm), original);
}

TEST(TJPEGImage, SharedDataIsNotChangedThroughTheOtherPicture)
{
    const TBytes file = EncodeWithOptions(*Photo(16, 16), 90);
    auto a = Loaded(file);
    TJPEGImage b;
    b.Assign(a.get());
    EXPECT_TRUE(b.Equals(*a));
    EXPECT_EQ(b.Width(), 16);

    // b gets a new bitmap: a keeps its file.
    const auto other = Photo(8, 4, TPixelFormat::pf24bit, 7);
    b.Assign(other.get());
    EXPECT_EQ(Encoded(*a), file);
    EXPECT_EQ(a->Width(), 16);
    EXPECT_EQ(b.Width(), 8);
    EXPECT_FALSE(b.Equals(*a));

    // Changing a decoding option must not lose an assigned bitmap that was
    // never encoded.
    TJPEGImage c;
    c.Assign(other.get());
    c.SetMonochrome(true);
    c.SetFastDecode(true);
    c.SetPalette({TRGBQuad{1, 2, 3, 0}});
    EXPECT_EQ(c.Width(), 8);
    EXPECT_EQ(Facts(Encoded(c)).Width, 8);

    // Copies into a runtime bitmap; other targets raise the assignment error.
    TBitmap copy;
    copy.Assign(a.get());
    EXPECT_EQ(copy.Width(), 16);
    EXPECT_EQ(RgbOf(copy), RgbOf(a->DecodedBitmap()));
}

TEST(TJPEGImage, LoadingThroughThePictureRegistry)
{
    RegisterJpegFormats();
    RegisterJpegFormats();
    int jpegEntries = 0;
    for (const auto& f : TPicture::Formats())
        jpegEntries += f.ClassName == "TJPEGImage";
    EXPECT_EQ(jpegEntries, 2);
    EXPECT_EQ(TPicture::FindByExtension("jpeg")->Description, "JPEG-Grafikdatei");

    const TBytes file = EncodeWithOptions(*Photo(12, 7), 90);
    for (const std::string name : {"a.JPG", "b.jpeg", "c.Jpg"}) {
        WriteFile(Temp(name), file);
        TPicture picture;
        picture.LoadFromFile(Temp(name));
        ASSERT_NE(dynamic_cast<TJPEGImage*>(picture.Graphic()), nullptr) << name;
        EXPECT_EQ(picture.Width(), 12);
        EXPECT_EQ(picture.Height(), 7);
    }

    TPicture picture;
    WriteFile(Temp("keep.jpg"), file);
    picture.LoadFromFile(Temp("keep.jpg"));
    WriteFile(Temp("x.jpe"), file);
    WriteFile(Temp("noext"), file);
    WriteFile(Temp("text.jpg"), {'h', 'a', 'l', 'l', 'o', '\n'});
    const struct
    {
        std::string Name;
        std::string Message;
    } failures[] = {
        {"x.jpe", "Unbekannte Bilddateierweiterung (.jpe)"},
        {"noext", "Unbekannte Bilddateierweiterung (.)"},
        {"text.jpg", ""},
    };
    for (const auto& f : failures) {
        try {
            picture.LoadFromFile(Temp(f.Name));
            ADD_FAILURE() << f.Name;
        } catch (const EJPEG& e) {
            EXPECT_TRUE(f.Message.empty()) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("JPEG-Fehler #", 0), 0u);
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.what(), f.Message);
        }
        EXPECT_EQ(picture.Width(), 12) << "previous picture kept";
    }

    // A 0-byte file loads as an empty-sized picture; decoding it fails.
    WriteFile(Temp("zero.jpg"), {});
    picture.LoadFromFile(Temp("zero.jpg"));
    EXPECT_EQ(picture.Width(), 0);
    EXPECT_EQ(picture.Height(), 0);
    EXPECT_THROW(static_cast<TJPEGImage*>(picture.Graphic())->DecodedBitmap(), EJPEG);
}

TEST(TJPEGImage, HostileAndDamagedFiles)
{
    const TBytes file = EncodeWithOptions(*Photo(64, 48), 90);

    // Cut short: decodes without error, the missing rows filled in.
    const TBytes cut(file.begin(), file.begin() + static_cast<ptrdiff_t>(file.size() / 2));
    auto jpeg = Loaded(cut);
    EXPECT_EQ(jpeg->DecodedBitmap().Height(), 48);

    // A header announcing a picture far too large fails cleanly before decoding.
    TBytes huge = file;
    for (size_t i = 2; i + 9 < huge.size(); ++i)
        if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
            huge[i + 5] = 0xFD; // height 65000
            huge[i + 6] = 0xE8;
            huge[i + 7] = 0xFD; // width 65000
            huge[i + 8] = 0xE8;
            break;
        }
    auto big = Loaded(huge);
    EXPECT_EQ(big->Width(), 65000);
    EXPECT_THROW(big->DecodedBitmap(), EOutOfResources);

    // Fewer bytes than announced.
    TMemoryStream s;
    s.Write(file.data(), 100);
    s.SetPosition(0);
    TJPEGImage shortRead;
    EXPECT_THROW(shortRead.ReadCompressed(200, s), EReadError);

    // Resizing is refused and changes nothing.
    try {
        jpeg->SetWidth(5);
        ADD_FAILURE();
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_STREQ(e.what(), "Die Größe einer JPEG-Grafik kann nicht verändert werden");
    }
    EXPECT_THROW(jpeg->SetHeight(5), EInvalidGraphicOperation);
    EXPECT_EQ(jpeg->Width(), 64);
    EXPECT_EQ(jpeg->Height(), 48);
}

TEST(TJPEGImage, FourComponentFilesAreRefusedNotOverrun)
{
    for (bool ycck : {false, true}) {
        const std::string name = Temp(ycck ? "ycck.jpg" : "cmyk.jpg");
        WriteFile(name, FourComponentFile(ycck));
        for (bool mono : {false, true}) {
            TJPEGImage jpeg;
            jpeg.LoadFromFile(name);
            EXPECT_EQ(jpeg.Width(), 16);
            jpeg.SetMonochrome(mono);
            EXPECT_THROW(jpeg.DecodedBitmap(), EJPEG) << ycck << mono;
        }
    }
}

TEST(TJPEGImage, FullDiskIsReportedNotSavedShort)
{
    class THalfStream : public TMemoryStream
    {
    public:
        int64_t Write(const void* buffer, int64_t count) override
        {
            return TMemoryStream::Write(buffer, count / 2);
        }
    };
    TJPEGImage jpeg;
    const auto photo = Photo(16, 16);
    jpeg.Assign(photo.get());
    THalfStream half;
    EXPECT_THROW(jpeg.SaveToStream(half), EWriteError);
    if (fs::exists("/dev/full")) {
        EXPECT_THROW(jpeg.SaveToFile("/dev/full"), EWriteError);
    }
    EXPECT_THROW(jpeg.SaveToFile(Temp("no/such/folder.jpg")), EFCreateError);
}

TEST(TJPEGImage, ProgressReportsAndAbort)
{
    // Every tick is 600 ms after the previous one, so every codec call may report.
    uint64_t now = 1000;
    const auto savedClock = JpegTickCount;
    JpegTickCount = [&] { return now += 600; };
    const TBytes file = EncodeWithOptions(*Photo(200, 150), 90, false, true);

    struct Report
    {
        TProgressStage Stage;
        int Percent;
        TRect Rect;
    };
    std::vector<Report> reports;
    auto jpeg = Loaded(file);
    jpeg->OnProgress = [&](const TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                           const std::string&) {
        reports.push_back({stage, percent, r});
    };
    jpeg->DecodedBitmap();
    ASSERT_GE(reports.size(), 4u);
    EXPECT_EQ(reports.front().Stage, TProgressStage::psStarting);
    EXPECT_EQ(reports.back().Stage, TProgressStage::psEnding);
    EXPECT_EQ(reports.back().Percent, 100);
    int last = -1;
    for (size_t i = 1; i + 1 < reports.size(); ++i) {
        EXPECT_EQ(reports[i].Stage, TProgressStage::psRunning);
        EXPECT_NE(reports[i].Percent, last) << "unchanged percentages are not reported";
        last = reports[i].Percent;
        EXPECT_LE(reports[i].Rect.Bottom, 150);
        EXPECT_LE(reports[i].Rect.Right, 200);
    }

    // An observer's EAbort stops decoding silently, keeping the picture's size.
    auto aborted = Loaded(file);
    bool sawEnd = false;
    aborted->OnProgress = [&](const TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect&,
                              const std::string&) {
        if (stage == TProgressStage::psRunning)
            throw EAbort();
        if (stage == TProgressStage::psEnding)
            sawEnd = percent == 0;
    };
    EXPECT_NO_THROW(aborted->DecodedBitmap());
    EXPECT_TRUE(sawEnd);
    EXPECT_EQ(aborted->DecodedBitmap().Width(), 200);

    // While encoding it discards the output silently; other exceptions pass on.
    TJPEGImage enc;
    enc.SetProgressiveSave(true); // several passes, each reporting progress
    enc.Assign(Photo(400, 300).get());
    enc.OnProgress = [&](const TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&,
                         const std::string&) {
        if (stage == TProgressStage::psRunning)
            throw EAbort();
    };
    EXPECT_NO_THROW(enc.Encode());
    EXPECT_EQ(enc.CompressedData(), nullptr);
    enc.OnProgress = [&](const TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&,
                         const std::string&) {
        if (stage == TProgressStage::psRunning)
            throw std::runtime_error("observer failed");
    };
    EXPECT_THROW(enc.Encode(), std::runtime_error);
    EXPECT_EQ(enc.CompressedData(), nullptr) << "no half-written file remains";
    JpegTickCount = savedClock;
}

TEST(JpegTool, DecodeAndEncodeUseTheFixedFormats)
{
    // In the system's own form: cmd.exe takes a "/" for the start of an option.
    const std::string tool =
        fs::path(std::string(FI_BINARY_DIR) + "/tools/jpegtool" + FI_EXE_SUFFIX).make_preferred().string();
    if (!fs::exists(tool) || !HaveTools())
        GTEST_SKIP() << "jpegtool or cjpeg/djpeg not built";
    WritePpm(*Photo(21, 13), Temp("in.ppm"));
    Shell(tool + " encode " + Temp("in.ppm") + " 80 " + Temp("tool.jpg"));
    Shell("cjpeg -dct float -baseline -quality 80 " + Temp("in.ppm") + " > " + Temp("ref.jpg"));
    EXPECT_EQ(ReadFile(Temp("tool.jpg")), ReadFile(Temp("ref.jpg")));

    // Decoding goes by extension, in either case; a grayscale file is written through its palette as P6.
    Shell(CopyCommand(Temp("ref.jpg"), Temp("UPPER.JPG")));
    Shell(tool + " decode " + Temp("UPPER.JPG") + " " + Temp("tool.ppm"));
    Shell("djpeg -dct float -ppm " + Temp("ref.jpg") + " > " + Temp("ref.ppm"));
    EXPECT_EQ(ReadFile(Temp("tool.ppm")), ReadFile(Temp("ref.ppm")));
    Shell("cjpeg -grayscale " + Temp("in.ppm") + " > " + Temp("gray.jpg"));
    Shell(tool + " decode " + Temp("gray.jpg") + " " + Temp("gray.ppm"));
    EXPECT_EQ(ReadFile(Temp("gray.ppm")).size(), std::string("P6\n21 13\n255\n").size() + 21 * 13 * 3);

    // Errors: the message on stderr, exit status 1.
    Shell(CopyCommand(Temp("ref.jpg"), Temp("x.jpe")));
    const std::string err = Temp("err.txt");
    EXPECT_EQ(std::system((tool + " decode " + Temp("x.jpe") + " " + Temp("o.ppm") + " 2>" + err).c_str()),
              ExitStatus(1));
    const TBytes msg = ReadFile(err);
    // The message is a line of text: "\r\n" ends it on Windows.
    std::string line(msg.begin(), msg.end());
    std::erase(line, '\r');
    EXPECT_EQ(line, "Unbekannte Bilddateierweiterung (.jpe)\n");
    EXPECT_EQ(std::system((tool + " encode " + Temp("in.ppm") + " x " + Temp("o.jpg") + " 2>" + err).c_str()),
              ExitStatus(1));
}

// ---- the direct pixel codec and the codec's messages ----

namespace {

// The bitmap's pixels as 32-bit values, row after row (the layout of TBitmap32).
std::vector<uint32_t> Pixels32(const TBitmap& bmp)
{
    std::vector<uint32_t> out(static_cast<size_t>(bmp.Width()) * static_cast<size_t>(bmp.Height()));
    const int bpp = TBitmap::BitsPerPixel(bmp.PixelFormat()) / 8;
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) {
            const uint8_t* p = bmp.ScanLine(y) + bpp * x;
            out[static_cast<size_t>(y) * static_cast<size_t>(bmp.Width()) + static_cast<size_t>(x)] =
                uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                uint32_t{bpp == 4 ? p[3] : 0xFFu} << 24;
        }
    return out;
}

std::vector<uint32_t> DecodeDirect(const TBytes& file, int* warnings = nullptr, std::string* first = nullptr)
{
    TJpegPixelDecoder decoder(file.data(), file.size());
    std::vector<uint32_t> pixels(size_t{decoder.Width()} * decoder.Height());
    decoder.Decode(pixels.data());
    if (warnings != nullptr)
        *warnings = decoder.WarningCount();
    if (first != nullptr)
        *first = decoder.FirstWarning();
    return pixels;
}

struct TCodecFailure
{
    bool Raised = false;
    int Code = 0;
    std::string What;
    std::string Message;
    bool Unsupported = false;
};

template <class F> TCodecFailure FailureOf(F&& work)
{
    TCodecFailure f;
    try {
        work();
    } catch (const EJPEG& e) {
        f = {true, e.Code(), e.what(), e.DecoderMessage(), e.Unsupported()};
    }
    return f;
}

// The file with the first frame header's sample precision replaced.
TBytes WithPrecision(TBytes file, uint8_t precision)
{
    for (size_t i = 2; i + 4 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {
            file[i + 4] = precision;
            break;
        }
    return file;
}

} // namespace

TEST(TJpegPixelDecoder, GivesThePixelsOfThePictureClassWithAnOpaqueFourthByte)
{
    struct Case
    {
        const char* Name;
        TBytes File;
    } cases[] = {
        {"baseline 33x17", EncodeWithOptions(*Photo(33, 17), 90)},
        {"progressive 64x48", EncodeWithOptions(*Photo(64, 48, TPixelFormat::pf24bit, 5), 75, false, true)},
        {"one column", EncodeWithOptions(*Photo(1, 9), 90)},
        {"one row", EncodeWithOptions(*Photo(40, 1), 100)},
        {"progressive, cut where block smoothing shows",
         [] {
             TBytes f = EncodeWithOptions(*Photo(64, 48, TPixelFormat::pf24bit, 7), 90, false, true);
             f.resize(f.size() * 2 / 5);
             return f;
         }()},
        {"cut in half",
         [] {
             TBytes f = EncodeWithOptions(*Photo(64, 48, TPixelFormat::pf24bit, 9), 90);
             f.resize(f.size() / 2);
             return f;
         }()},
    };
    for (const Case& c : cases) {
        auto jpeg = Loaded(c.File);
        const TBitmap& expected = jpeg->DecodedBitmap();
        TJpegPixelDecoder decoder(c.File.data(), c.File.size());
        EXPECT_TRUE(decoder.Rgb()) << c.Name;
        ASSERT_EQ(decoder.Width(), static_cast<uint32_t>(expected.Width())) << c.Name;
        ASSERT_EQ(decoder.Height(), static_cast<uint32_t>(expected.Height())) << c.Name;
        std::vector<uint32_t> pixels(size_t{decoder.Width()} * decoder.Height());
        decoder.Decode(pixels.data());
        EXPECT_TRUE(pixels == Pixels32(expected)) << c.Name;
    }
}

TEST(TJpegPixelDecoder, CorruptDataIsDecodedAndCountedAsWarnings)
{
    const TBytes file = EncodeWithOptions(*Photo(64, 48), 90);
    int warnings = -1;
    std::string first = "x";
    DecodeDirect(file, &warnings, &first);
    EXPECT_EQ(warnings, 0);
    EXPECT_EQ(first, "");

    TBytes cut = file;
    cut.resize(file.size() * 2 / 3);
    DecodeDirect(cut, &warnings, &first);
    EXPECT_GE(warnings, 1);
    EXPECT_EQ(first, "Premature end of JPEG file");

    // A marker in the middle of the scan data.
    TBytes broken = file;
    broken[file.size() / 2] = 0xFF;
    broken[file.size() / 2 + 1] = 0xD4;
    DecodeDirect(broken, &warnings, &first);
    EXPECT_GE(warnings, 1);
    EXPECT_EQ(first.rfind("Corrupt JPEG data", 0), 0u) << first;
}

TEST(TJpegPixelDecoder, DamageIsToldApartFromHarmlessOddities)
{
    const TBytes file = EncodeWithOptions(*Photo(64, 48), 90);
    // Where the tables begin, after the JFIF header.
    const auto tables = static_cast<ptrdiff_t>(4 + (size_t{file[4]} << 8 | file[5]));
    const auto insert = [&file](ptrdiff_t at, const TBytes& bytes) {
        TBytes out = file;
        out.insert(out.begin() + at, bytes.begin(), bytes.end());
        return out;
    };
    TBytes broken = file;
    broken[file.size() / 2] = 0xFF;
    broken[file.size() / 2 + 1] = 0xD4;
    TBytes noEnd = file;
    noEnd.resize(file.size() - 2);
    struct Case
    {
        const char* Name;
        TBytes File;
        bool Warned;
        std::string Damage; // empty: not damaged
    } cases[] = {
        {"whole", file, false, ""},
        {"cut short", TBytes(file.begin(), file.begin() + static_cast<ptrdiff_t>(file.size() / 2)), true,
         "Premature end of JPEG file"},
        {"only the end marker missing", noEnd, true, "Premature end of JPEG file"},
        {"a marker in the scan data", broken, true, "Corrupt JPEG data: premature end of data segment"},
        {"bytes between two segments", insert(tables, {0, 0, 0}), true, ""},
        {"fill bytes between two segments", insert(tables, {0xFF, 0xFF}), false, ""},
    };
    for (const Case& c : cases) {
        TJpegPixelDecoder decoder(c.File.data(), c.File.size());
        std::vector<uint32_t> pixels(size_t{decoder.Width()} * decoder.Height());
        decoder.Decode(pixels.data());
        EXPECT_EQ(decoder.WarningCount() > 0, c.Warned) << c.Name << ": " << decoder.FirstWarning();
        EXPECT_EQ(decoder.Damaged(), !c.Damage.empty()) << c.Name;
        EXPECT_EQ(decoder.DamageMessage(), c.Damage) << c.Name;

        // The picture class tells the same of its decoded bitmap.
        auto jpeg = Loaded(c.File);
        EXPECT_EQ(jpeg->DecodeDamage(), "") << c.Name << ": nothing decoded yet";
        jpeg->DecodedBitmap();
        EXPECT_EQ(jpeg->DecodeDamage(), c.Damage) << c.Name;
        TJPEGImage copy;
        copy.Assign(jpeg.get());
        EXPECT_EQ(copy.DecodeDamage(), c.Damage) << c.Name << ": goes with the bitmap";
        jpeg->SetBlockSmoothing(!jpeg->BlockSmoothing());
        EXPECT_EQ(jpeg->DecodeDamage(), "") << c.Name << ": the bitmap is gone";
    }
}

TEST(TJpegPixelDecoder, OnlyColourFilesAreDecoded)
{
    const TBytes files[] = {EncodeWithOptions(*Photo(16, 8), 90, true), FourComponentFile(false),
                            FourComponentFile(true)};
    for (const TBytes& file : files) {
        TJpegPixelDecoder decoder(file.data(), file.size());
        EXPECT_FALSE(decoder.Rgb());
        std::vector<uint32_t> pixels(size_t{decoder.Width()} * decoder.Height(), 0x12345678);
        const TCodecFailure f = FailureOf([&] { decoder.Decode(pixels.data()); });
        EXPECT_TRUE(f.Raised);
        EXPECT_TRUE(f.Unsupported);
        EXPECT_EQ(f.Message, "Unsupported color conversion request");
        EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](uint32_t p) { return p == 0x12345678; }));
    }
}

TEST(EJPEG, TheCodecsMessageTravelsBesideItsNumber)
{
    const TBytes good = EncodeWithOptions(*Photo(24, 16), 90);
    TBytes sosFirst = {0xFF, 0xD8};
    for (size_t i = 2; i + 3 < good.size(); ++i)
        if (good[i] == 0xFF && good[i + 1] == 0xDA) { // the scan without the frame header before it
            sosFirst.insert(sosFirst.end(), good.begin() + static_cast<ptrdiff_t>(i), good.end());
            break;
        }
    struct Case
    {
        const char* Name;
        TBytes File;
        std::string Message;
        bool Unsupported;
    } cases[] = {
        {"a PNG file",
         {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13},
         "Not a JPEG file: starts with 0x89 0x50",
         false},
        {"nothing", {}, "Not a JPEG file: starts with 0xff 0xd9", false},
        {"scan before frame", sosFirst, "Invalid JPEG file structure: SOS before SOF", false},
        {"twelve-bit samples", WithPrecision(good, 12), "Unsupported JPEG data precision 12", true},
        {"four components", FourComponentFile(false), "Unsupported color conversion request", true},
    };
    for (const Case& c : cases) {
        const TCodecFailure picture = FailureOf([&] { Loaded(c.File)->DecodedBitmap(); });
        const TCodecFailure direct = FailureOf([&] { DecodeDirect(c.File); });
        for (const TCodecFailure& f : {picture, direct}) {
            ASSERT_TRUE(f.Raised) << c.Name;
            EXPECT_GT(f.Code, 0) << c.Name;
            EXPECT_EQ(f.What, "JPEG-Fehler #" + std::to_string(f.Code)) << c.Name;
            EXPECT_EQ(f.Message, c.Message) << c.Name;
            EXPECT_EQ(f.Unsupported, c.Unsupported) << c.Name;
        }
        EXPECT_EQ(picture.Code, direct.Code) << c.Name << ": one error manager";
    }
}

TEST(TJpegPixelEncoder, WritesTheBytesOfThePictureClassAtQualityHundred)
{
    // One encoder for all: its kept buffer serves larger and smaller pictures.
    TJpegPixelEncoder encoder;
    for (const TSize s :
         {TSize{300, 200}, TSize{33, 17}, TSize{1, 9}, TSize{40, 1}, TSize{1, 1}, TSize{640, 480}}) {
        const auto photo = Photo(s.W, s.H, TPixelFormat::pf32bit, static_cast<unsigned>(s.W + s.H));
        const std::vector<uint32_t> pixels = Pixels32(*photo);
        const std::span<const uint8_t> file = encoder.Encode(pixels.data(), s.W, s.H);
        EXPECT_TRUE(TBytes(file.begin(), file.end()) == EncodeWithOptions(*photo, 100)) << s.W << "x" << s.H;
    }

    for (const TSize s : {TSize{0, 5}, TSize{5, 0}, TSize{-3, 4}}) {
        const uint32_t pixel = 0;
        const TCodecFailure f = FailureOf([&] { encoder.Encode(&pixel, s.W, s.H); });
        EXPECT_TRUE(f.Raised) << s.W << "x" << s.H;
        EXPECT_EQ(f.Message, "Empty JPEG image (DNL not supported)");
    }
    // The encoder goes on after a failure.
    const auto photo = Photo(8, 8, TPixelFormat::pf32bit);
    const std::vector<uint32_t> pixels = Pixels32(*photo);
    const std::span<const uint8_t> file = encoder.Encode(pixels.data(), 8, 8);
    EXPECT_TRUE(TBytes(file.begin(), file.end()) == EncodeWithOptions(*photo, 100));
}

#include "app/core/Correction.h"
#include "app/core/RotatePhoto.h"
#include "base/StringList.h"
#include "jpeg/JpegImage.h"
#include "meta/JpegSegments.h"
#include "meta/phJpegInfo.h"
#include "platform/Platform.h"
#include "raster/Bitmap32.h"
#include "tests/core/CorrectionFixture.h"
#include "tests/support/ExifBuilder.h"
#include "tests/support/FaultyPlatform.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

// A TIFF block of 200 bytes: IFD0 (Make, Orientation, Exif pointer) at 8,
// IFD1 (Orientation) at 60, the Exif directory (DateTimeOriginal) at 80, the
// Make text at 120 and the date at 140.
exifbuild::TBytes CameraTiff(uint16_t orientation, bool big)
{
    using namespace exifbuild;
    TEntry make = Ascii(0x010F, "TestCam");
    make.DataAt = 120;
    TEntry date = Ascii(0x9003, "2005:07:14 10:22:33");
    date.DataAt = 140;
    TIfd ifd0, ifd1, exif;
    ifd0.Entries = {make, Short(0x0112, {orientation}), Pointer(0x8769, 2)};
    ifd0.At = 8;
    ifd0.Next = 1;
    ifd1.Entries = {Short(0x0112, {orientation})};
    ifd1.At = 60;
    exif.Entries = {date};
    exif.At = 80;
    exifbuild::TBytes tiff = BuildTiff(big, {ifd0, ifd1, exif});
    tiff.resize(200);
    return tiff;
}

// The Exif segment around a TIFF block.
TBytes Segment(const exifbuild::TBytes& tiff)
{
    const exifbuild::TBytes segment = exifbuild::ExifSegment(tiff);
    return TBytes(segment.begin(), segment.end());
}

TBytes ExifSegment(uint16_t orientation, bool big)
{
    return Segment(CameraTiff(orientation, big));
}

std::vector<std::string> ExifLines(const std::string& path)
{
    TStringList list;
    ReadExifInfo(path, list);
    std::vector<std::string> lines;
    for (int i = 0; i < list.Count(); ++i)
        lines.push_back(list[i]);
    return lines;
}

int Count(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// What the saved file should show: the render of the decoded photo.
void ExpectedRender(const std::string& photo, int orientation, TBitmap32& out)
{
    RegisterJpegFormats();
    TBitmap32 src;
    src.LoadFromFile(photo);
    ASSERT_TRUE(RenderUpright(src, out, orientation));
}

} // namespace

TEST(TOrientationCorrector, OrientationOneOrBelowDoesNothing)
{
    TPhotoFile photo(MakePhoto(16, 12, ExifSegment(1, false)));
    const TBytes before = ReadFile(photo.Path);
    const auto mtime = photo.MTime();
    TOrientationCorrector corrector(OsPlatform());
    for (int orientation : {1, 0, -1, -6})
        EXPECT_EQ(corrector.Correct(photo.Path, orientation).Outcome, TCorrectionOutcome::Skipped);
    EXPECT_EQ(ReadFile(photo.Path), before);
    EXPECT_TRUE(photo.MTime() == mtime);
    // Not even opened: a missing file is no failure at these values.
    EXPECT_EQ(corrector.Correct(photo.Dir / "missing.jpg", 1).Outcome, TCorrectionOutcome::Skipped);
    EXPECT_EQ(corrector.Correct(photo.Dir / "missing.jpg", 6).Outcome, TCorrectionOutcome::Failed);
}

TEST(TOrientationCorrector, SavesTheRenderOfTheDecodedPhoto)
{
    struct Case
    {
        int w, h, orientation;
    };
    const Case cases[] = {{120, 90, 6}, {120, 90, 8}, {120, 90, 3}, {64, 64, 6}, {64, 64, 8}, {121, 77, 2},
                          {121, 77, 4}, {90, 120, 5}, {90, 120, 7}, {33, 47, 9}, {4, 3, 6},   {2, 2, 3}};
    for (const Case& c : cases) {
        TPhotoFile photo(
            MakePhoto(c.w, c.h, ExifSegment(static_cast<uint16_t>(c.orientation), c.w % 2 == 1)));
        TBitmap32 expected;
        ExpectedRender(photo.Path, c.orientation, expected);
        TOrientationCorrector corrector(OsPlatform());
        ASSERT_EQ(corrector.Correct(photo.Path, c.orientation).Outcome, TCorrectionOutcome::Corrected)
            << c.w << "x" << c.h << " orientation " << c.orientation;
        TBitmap32 saved;
        saved.LoadFromFile(photo.Path);
        ASSERT_EQ(saved.Width(), c.w);
        ASSERT_EQ(saved.Height(), c.h);
        const double psnr = Psnr(saved, expected);
        // The sharp edges of black bands cost most; tiny pictures are all block edges.
        if (c.w >= 16) {
            EXPECT_GT(psnr, 35) << c.w << "x" << c.h << " orientation " << c.orientation;
        }
        RecordProperty("psnr_" + std::to_string(c.w) + "x" + std::to_string(c.h) + "_" +
                           std::to_string(c.orientation),
                       std::to_string(psnr));
        EXPECT_TRUE(photo.OnlyThePhotoInItsFolder());
    }
}

TEST(TOrientationCorrector, LandscapeQuarterTurnIsCentredBetweenBlackBands)
{
    TPhotoFile photo(MakePhoto(400, 300, ExifSegment(6, false)));
    TOrientationCorrector corrector(OsPlatform());
    ASSERT_EQ(corrector.Correct(photo.Path, 6).Outcome, TCorrectionOutcome::Corrected);
    TBitmap32 saved;
    saved.LoadFromFile(photo.Path);
    ASSERT_EQ(saved.Width(), 400);
    ASSERT_EQ(saved.Height(), 300);
    auto dark = [&](int x, int y) {
        const TColor32 c = saved.Pixel(x, y);
        return ((c >> 16) & 0xFF) < 12 && ((c >> 8) & 0xFF) < 12 && (c & 0xFF) < 12;
    };
    for (int y : {5, 150, 294}) {
        int first = 0, last = 399;
        while (first < 400 && dark(first, y))
            ++first;
        while (last >= 0 && dark(last, y))
            --last;
        EXPECT_NEAR(last - first + 1, 225, 3) << "row " << y; // 300 * 300 / 399
        EXPECT_NEAR(first, 399 - last, 2) << "row " << y;
    }
}

TEST(TOrientationCorrector, BothRoadsWriteTheSameBytes)
{
    struct Case
    {
        int w, h;
        bool progressive;
    };
    const Case cases[] = {{97, 61, false}, {64, 48, true}, {17, 200, false}};
    for (const Case& c : cases)
        for (int orientation : {2, 3, 5, 6, 8}) {
            const TBytes bytes =
                MakePhoto(c.w, c.h, ExifSegment(static_cast<uint16_t>(orientation), true), c.progressive);
            TPhotoFile direct(bytes), pictures(bytes);
            TOrientationCorrector a(OsPlatform()), b(OsPlatform());
            b.SetRoad(TCorrectionRoad::Pictures);
            ASSERT_EQ(a.Correct(direct.Path, orientation).Outcome, TCorrectionOutcome::Corrected);
            ASSERT_EQ(b.Correct(pictures.Path, orientation).Outcome, TCorrectionOutcome::Corrected);
            EXPECT_TRUE(ReadFile(direct.Path) == ReadFile(pictures.Path))
                << c.w << "x" << c.h << " orientation " << orientation;
        }
}

TEST(TOrientationCorrector, KeepsTheMetadataAndTheModificationTime)
{
    for (bool big : {false, true})
        for (int orientation : {6, 3, 8, 5, 2}) {
            TPhotoFile photo(MakePhoto(40, 30, ExifSegment(static_cast<uint16_t>(orientation), big)));
            const auto before = photo.MTime();
            TOrientationCorrector corrector(OsPlatform());
            ASSERT_EQ(corrector.Correct(photo.Path, orientation).Outcome, TCorrectionOutcome::Corrected);
            const std::vector<std::string> lines = ExifLines(photo.Path);
            const bool turned = orientation == 3 || orientation == 6 || orientation == 8;
            const std::string kept = "Orientation=" + std::to_string(turned ? 1 : orientation);
            EXPECT_EQ(Count(lines, kept), 2) << "both directories, orientation " << orientation;
            EXPECT_EQ(Count(lines, "DateTimeOriginal=2005:07:14 10:22:33"), 1);
            EXPECT_EQ(Count(lines, "Make=TestCam"), 1);
            const TBytes saved = ReadFile(photo.Path);
            ASSERT_GT(saved.size(), 24u);
            EXPECT_EQ(saved.substr(0, 4), "\xFF\xD8\xFF\xE0") << "the encoder's JFIF header first";
            const size_t app0 = 4 + (size_t(uint8_t(saved[4])) << 8 | uint8_t(saved[5]));
            EXPECT_EQ(saved.substr(app0, 2), "\xFF\xE1") << "the Exif segment right after it";
            EXPECT_EQ(saved.substr(app0 + 4, 6), std::string("Exif\0\0", 6));
            const auto after = photo.MTime();
            EXPECT_TRUE(after == before);
        }

    TPhotoFile plain(MakePhoto(40, 30, ""));
    TOrientationCorrector corrector(OsPlatform());
    EXPECT_EQ(corrector.Correct(plain.Path, 6).Outcome, TCorrectionOutcome::Corrected)
        << "no Exif segment to carry";
}

TEST(TOrientationCorrector, HostileExifIsCarriedWithoutHarm)
{
    // Directory offsets past the end, an entry count far beyond the segment,
    // a directory cut short: the segment is carried with its orientation set
    // where it can be read. A first directory that names itself as the next
    // one (so the thumbnail's would be the first again) loses that link.
    struct Case
    {
        const char* Name;
        TBytes Given;
        TBytes Carried;
    };
    std::vector<Case> cases;
    exifbuild::TBytes tiff = CameraTiff(6, false);
    exifbuild::Put32(tiff, 4, 0xFFFFFFF0, false);
    exifbuild::TBytes upright = CameraTiff(1, false);
    exifbuild::Put32(upright, 4, 0xFFFFFFF0, false);
    cases.push_back({"first directory past the end", Segment(tiff), Segment(tiff)});
    // The first directory's Orientation value lies at 8 + 2 + 12 + 8.
    tiff = CameraTiff(6, true);
    exifbuild::Put16(tiff, 8, 0xFFFF, true);
    upright = tiff;
    exifbuild::Put16(upright, 30, 1, true);
    cases.push_back({"entry count beyond the segment", Segment(tiff), Segment(upright)});
    tiff = CameraTiff(6, false);
    exifbuild::Put32(tiff, 8 + 2 + 36, 8, false);   // IFD0 -> IFD0
    exifbuild::Put32(tiff, 60 + 2 + 12, 60, false); // IFD1 -> IFD1, never reached
    upright = tiff;
    exifbuild::Put16(upright, 30, 1, false);
    exifbuild::Put32(upright, 8 + 2 + 36, 0, false);
    cases.push_back({"directories linked to themselves", Segment(tiff), Segment(upright)});
    TBytes cut = ExifSegment(6, false).substr(0, 10 + 8 + 2 + 12 + 8); // cut inside IFD0
    cut[2] = 0;
    cut[3] = static_cast<char>(cut.size() - 2);
    cases.push_back({"cut inside the first directory", cut, cut});
    for (const Case& c : cases) {
        TPhotoFile photo(MakePhoto(24, 16, c.Given));
        TOrientationCorrector corrector(OsPlatform());
        EXPECT_EQ(corrector.Correct(photo.Path, 6).Outcome, TCorrectionOutcome::Corrected) << c.Name;
        EXPECT_NE(ReadFile(photo.Path).find(c.Carried), TBytes::npos) << c.Name;
    }
}

TEST(TOrientationCorrector, FailuresSayWhyAndLeaveTheCopyAsItWas)
{
    const TBytes good = MakePhoto(64, 48, ExifSegment(6, false));
    TBytes twelveBit = good;
    twelveBit[twelveBit.find("\xFF\xC0") + 4] = 12;
    TBytes huge = good; // a header announcing 30000 x 30000 pixels
    const size_t sof = huge.find("\xFF\xC0");
    huge.replace(sof + 5, 4, "\x75\x30\x75\x30");
    const TBytes cmyk = ReadFile(std::string(FI_SOURCE_DIR) + "/fuzz/corpus/fuzz_jpeg/cmyk_16x8.jpg");
    ASSERT_FALSE(cmyk.empty());
    struct Case
    {
        const char* Name;
        TBytes File;
        TFailure Kind;
        std::string Message;
        bool PicturesRoad = true; // the other road fails alike
    } cases[] = {
        {"text", "hello, world", TFailure::Damaged, "Not a JPEG file: starts with 0x68 0x65"},
        // The picture road loads an empty file as a picture of no pixels, which it
        // leaves alone; the direct road, which every photo takes first, fails it.
        {"empty", "", TFailure::Damaged, "Not a JPEG file: starts with 0xff 0xd9", false},
        {"scan data only", TBytes("\xFF\xD8\xFF\xDA\x00\x02") + PatternBytes(300, 3), TFailure::Damaged,
         "Invalid JPEG file structure: SOS before SOF"},
        {"twelve-bit samples", twelveBit, TFailure::Unsupported, "Unsupported JPEG data precision 12"},
        {"four components", cmyk, TFailure::Unsupported, "Unsupported color conversion request"},
        {"more pixels than a picture holds", huge, TFailure::Unsupported, "picture too large", false},
    };
    for (const Case& c : cases)
        for (TCorrectionRoad road : {TCorrectionRoad::Direct, TCorrectionRoad::Pictures}) {
            if (road == TCorrectionRoad::Pictures && !c.PicturesRoad)
                continue;
            TPhotoFile photo(c.File);
            const auto before = photo.MTime();
            TOrientationCorrector corrector(OsPlatform());
            corrector.SetRoad(road);
            const TCorrectionResult result = corrector.Correct(photo.Path, 6);
            const std::string trace =
                std::string(c.Name) + (road == TCorrectionRoad::Direct ? " direct" : " pictures");
            EXPECT_EQ(result.Outcome, TCorrectionOutcome::Failed) << trace;
            EXPECT_EQ(result.Reason.Kind(), c.Kind) << trace;
            EXPECT_EQ(result.Reason.Message(), c.Message) << trace;
            EXPECT_EQ(result.Reason.Path(), photo.Path) << trace;
            EXPECT_EQ(ReadFile(photo.Path), c.File) << trace;
            EXPECT_TRUE(photo.MTime() == before) << trace;
            EXPECT_TRUE(photo.OnlyThePhotoInItsFolder()) << trace;
        }

    // No file, or a folder where the photo should be.
    TTempDir dir;
    TOrientationCorrector corrector(OsPlatform());
    const TCorrectionResult missing = corrector.Correct(dir / "missing.jpg", 6);
    EXPECT_EQ(missing.Outcome, TCorrectionOutcome::Failed);
    EXPECT_EQ(missing.Reason.Kind(), TFailure::NotFound);
    EXPECT_EQ(missing.Reason.Path(), dir / "missing.jpg");
    const TCorrectionResult folder = corrector.Correct(dir.Path(), 6);
    EXPECT_EQ(folder.Outcome, TCorrectionOutcome::Failed);
    EXPECT_EQ(folder.Reason.Kind(), TFailure::Unsupported);

    TPhotoFile photo(MakePhoto(300, 200, ExifSegment(6, false)));
#ifndef _WIN32
    // The disk takes no more than a few kilobytes of the new file: a limit on the size of files, which only
    // Linux lets a process set on itself.
    const TBytes before = ReadFile(photo.Path);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit tight = saved;
    tight.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &tight);
    const TCorrectionResult full = corrector.Correct(photo.Path, 6);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(full.Outcome, TCorrectionOutcome::Failed);
    EXPECT_EQ(full.Reason.Kind(), TFailure::NoSpace);
    EXPECT_EQ(full.Reason.OsError(), EFBIG);
    EXPECT_EQ(full.Reason.Path(), photo.Path);
    EXPECT_EQ(ReadFile(photo.Path), before);
    EXPECT_TRUE(photo.OnlyThePhotoInItsFolder());
#endif

    // The corrector goes on with the next photo; success carries no reason.
    const TCorrectionResult done = corrector.Correct(photo.Path, 6);
    EXPECT_EQ(done.Outcome, TCorrectionOutcome::Corrected);
    EXPECT_TRUE(done.Reason.Ok());
    EXPECT_TRUE(corrector.Correct(photo.Path, 1).Reason.Ok());
}

TEST(TOrientationCorrector, ReplacesThePhotoThroughThePlatform)
{
    TPhotoFile photo(MakePhoto(64, 48, ExifSegment(6, false)));
    const TBytes before = ReadFile(photo.Path);
    TFaultyPlatform platform(CreatePlatform());
    const TResult refused = TResult::Fail(TFailure::Io, photo.Path, "Input/output error", EIO);
    platform.FailReplaceOf(photo.Path, refused);
    TOrientationCorrector corrector(platform);
    const TCorrectionResult failed = corrector.Correct(photo.Path, 6);
    EXPECT_EQ(failed.Outcome, TCorrectionOutcome::Failed);
    EXPECT_EQ(failed.Reason.Kind(), TFailure::Io);
    EXPECT_EQ(failed.Reason.OsError(), EIO);
    EXPECT_EQ(failed.Reason.Message(), "Input/output error");
    EXPECT_EQ(ReadFile(photo.Path), before);
    platform.Heal();
    EXPECT_EQ(corrector.Correct(photo.Path, 6).Outcome, TCorrectionOutcome::Corrected);
    EXPECT_NE(ReadFile(photo.Path), before);
    EXPECT_TRUE(photo.OnlyThePhotoInItsFolder());
}

TEST(TOrientationCorrector, PhotosThatCannotBeTurnedStayAsTheyAre)
{
    const std::pair<int, int> sizes[] = {{1, 40}, {40, 1}, {1, 1}, {32768, 8}};
    for (const auto& [w, h] : sizes)
        for (TCorrectionRoad road : {TCorrectionRoad::Direct, TCorrectionRoad::Pictures}) {
            TPhotoFile photo(MakePhoto(w, h, ExifSegment(6, false)));
            const TBytes before = ReadFile(photo.Path);
            TOrientationCorrector corrector(OsPlatform());
            corrector.SetRoad(road);
            EXPECT_EQ(corrector.Correct(photo.Path, 6).Outcome, TCorrectionOutcome::Skipped) << w << "x" << h;
            EXPECT_EQ(ReadFile(photo.Path), before);
        }
}

TEST(TOrientationCorrector, GrayscalePhotosAreTurnedToo)
{
    TPhotoFile photo(MakePhoto(60, 40, ExifSegment(8, false), false, true));
    TBitmap32 expected;
    ExpectedRender(photo.Path, 8, expected);
    TOrientationCorrector corrector(OsPlatform());
    ASSERT_EQ(corrector.Correct(photo.Path, 8).Outcome, TCorrectionOutcome::Corrected);
    TBitmap32 saved;
    saved.LoadFromFile(photo.Path);
    ASSERT_EQ(saved.Width(), 60);
    EXPECT_GT(Psnr(saved, expected), 38);
}

// The metadata a turned photo keeps, and the photos the correction must not
// replace because their data is damaged.
#include "app/core/Correction.h"
#include "app/core/RotatePhoto.h"
#include "jpeg/JpegPixels.h"
#include "meta/CarriedMetadata.h"
#include "meta/JpegSegments.h"
#include "tests/core/CorrectionFixture.h"
#include "tests/support/SegmentBuilder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using segbuild::AdobeSegment;
using segbuild::CameraExif;
using segbuild::CommentSegment;
using segbuild::IccProfile;
using segbuild::IccSegments;
using segbuild::MpfSegment;
using segbuild::PhotoshopSegment;
using segbuild::TThumbPlace;
using segbuild::TTiffView;
using segbuild::WithSegments;
using segbuild::XmpPacket;
using segbuild::XmpSegment;
/// Bytes as the segment builders take and give them.
using TVec = segbuild::TBytes;

TBytes Str(const TVec& bytes)
{
    return TBytes(bytes.begin(), bytes.end());
}

TVec Vec(const TBytes& bytes)
{
    return TVec(bytes.begin(), bytes.end());
}

// The photo's picture: 120 x 90 pixels.
const TBytes& Picture()
{
    static const TBytes picture = EncodePattern(120, 90);
    return picture;
}

// A camera's thumbnail: 160 x 120 pixels of another pattern, without a JFIF header.
const TVec& Thumbnail()
{
    static const TVec thumb = WithSegments(Vec(EncodePattern(160, 120, 85, false, false, 60)), {}, false);
    return thumb;
}

std::vector<TVec> Segments(const TVec& file)
{
    std::vector<TVec> out;
    TJpegSegmentWalk walk(file);
    TJpegSegment s;
    while (walk.Next(s)) {
        const std::span<const uint8_t> bytes = SegmentBytes(file, s);
        out.emplace_back(bytes.begin(), bytes.end());
    }
    return out;
}

bool StartsWith(const TVec& segment, uint8_t marker, std::string_view id = {})
{
    return segment.size() >= 4 + id.size() && segment[1] == marker &&
           std::equal(id.begin(), id.end(), segment.begin() + 4);
}

// The pixels of a JPEG file.
void Decode(const TVec& jpeg, TBitmap32& out)
{
    TJpegPixelDecoder decoder(jpeg.data(), jpeg.size());
    out.SetSize(static_cast<int>(decoder.Width()), static_cast<int>(decoder.Height()));
    decoder.Decode(out.Bits());
    EXPECT_FALSE(decoder.Damaged());
}

// The thumbnail of the corrected photo against the renders of the original's
// turned the right and the wrong way.
void ExpectUprightThumbnail(const TVec& exif, int orientation, const std::string& trace)
{
    const TVec thumb = TTiffView(exif).Thumbnail();
    ASSERT_GT(thumb.size(), 4u) << trace;
    EXPECT_FALSE(thumb[2] == 0xFF && thumb[3] == 0xE0) << trace << ": no JFIF header in a thumbnail";
    TBitmap32 saved, original, upright, wrong;
    Decode(thumb, saved);
    Decode(Thumbnail(), original);
    ASSERT_EQ(saved.Width(), 160) << trace;
    ASSERT_EQ(saved.Height(), 120) << trace;
    ASSERT_TRUE(RenderUpright(original, upright, orientation));
    ASSERT_TRUE(RenderUpright(original, wrong, orientation == 6 ? 8 : 6));
    EXPECT_GT(Psnr(saved, upright), 30) << trace;
    EXPECT_LT(Psnr(saved, wrong), 20) << trace;
}

// The ICC profile put together from the chunks among segments, in their numbers' order.
TVec IccOf(const std::vector<TVec>& segments)
{
    std::vector<std::pair<int, TVec>> chunks;
    for (const TVec& s : segments)
        if (StartsWith(s, 0xE2, kIccId))
            chunks.emplace_back(s[16], TVec(s.begin() + 18, s.end()));
    std::sort(chunks.begin(), chunks.end());
    TVec profile;
    for (const auto& chunk : chunks)
        profile.insert(profile.end(), chunk.second.begin(), chunk.second.end());
    return profile;
}

// ---- the two readers other programs use ----

bool HaveTool(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

struct TToolRun
{
    int Status = -1;
    std::string Output;
};

TToolRun Run(const std::string& command)
{
    TToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.Output.append(buffer, n);
    run.Status = pclose(pipe);
    return run;
}

// What exiftool's validation and exiv2 say about the file beyond its
// metadata: warnings and errors; empty when both read it cleanly. exiftool's
// report of the file's tags comes back in tags.
std::string ToolComplaints(const std::string& path, std::string* tags = nullptr)
{
    std::string complaints;
    const TToolRun exiftool = Run("exiftool -validate -warning -a -G1 -s '" + path + "' 2>&1");
    if (exiftool.Status != 0)
        complaints += "exiftool ended with " + std::to_string(exiftool.Status) + "\n";
    if (exiftool.Output.find("Validate                        : OK") == std::string::npos)
        complaints += "exiftool: " + exiftool.Output;
    else if (exiftool.Output.find("Warning") != std::string::npos ||
             exiftool.Output.find("Error") != std::string::npos)
        complaints += "exiftool: " + exiftool.Output;
    for (const char* command : {"exiv2 -pa", "exiv2 pr"}) {
        const TToolRun exiv2 = Run(std::string(command) + " '" + path + "' 2>&1 >/dev/null");
        if (exiv2.Status != 0 || !exiv2.Output.empty())
            complaints += std::string(command) + " (" + std::to_string(exiv2.Status) + "): " + exiv2.Output;
    }
    if (tags != nullptr)
        *tags = Run("exiftool -a -G1 -s '" + path + "' 2>&1").Output;
    return complaints;
}

struct TLayout
{
    const char* Name;
    int Orientation;
    TVec File;
};

// Photos laid out as cameras, phones and editors write them.
std::vector<TLayout> CameraLayouts()
{
    const TVec picture = Vec(Picture());
    std::vector<TLayout> layouts;
    layouts.push_back({"compact camera: Exif with the thumbnail last", 6,
                       WithSegments(picture, {CameraExif(false, 6, 120, 90, Thumbnail())}, false)});
    layouts.push_back(
        {"system camera: Motorola byte order, maker data after the thumbnail", 8,
         WithSegments(picture, {CameraExif(true, 8, 120, 90, Thumbnail(), TThumbPlace::BeforeMaker, 700)},
                      false)});

    // A phone: Exif, ICC profile, XMP, and a multi-picture index with a preview after the picture.
    std::vector<TVec> phone = {CameraExif(true, 6, 120, 90, Thumbnail())};
    for (const TVec& s : IccSegments(IccProfile('P'), 65519))
        phone.push_back(s);
    phone.push_back(XmpSegment(XmpPacket("6", false)));
    const TVec preview = WithSegments(Vec(EncodePattern(64, 48, 80)), {}, false);
    const TVec body = WithSegments(picture, phone, false);
    size_t insertAt = 2;
    for (const TVec& s : phone)
        insertAt += s.size();
    const TVec mpf = MpfSegment(body.size(), preview.size(), insertAt);
    TVec file(body.begin(), body.begin() + static_cast<ptrdiff_t>(insertAt));
    file.insert(file.end(), mpf.begin(), mpf.end());
    file.insert(file.end(), body.begin() + static_cast<ptrdiff_t>(insertAt), body.end());
    file.insert(file.end(), preview.begin(), preview.end());
    layouts.push_back({"phone: Exif, ICC profile, XMP, multi-picture index", 6, file});

    // Saved again by an editor: JFIF, Exif, IPTC, XMP in element form, a
    // profile in several chunks, Adobe's segment, a comment.
    std::vector<TVec> edited = {CameraExif(false, 3, 120, 90, Thumbnail()), PhotoshopSegment(),
                                XmpSegment(XmpPacket("3", true))};
    for (const TVec& s : IccSegments(IccProfile('E'), 200))
        edited.push_back(s);
    edited.push_back(AdobeSegment());
    edited.push_back(CommentSegment("Bearbeitet mit einem Bildprogramm"));
    layouts.push_back({"editor: JFIF, Exif, IPTC, XMP, profile in chunks, Adobe, comment", 3,
                       WithSegments(picture, edited, true)});
    return layouts;
}

} // namespace

TEST(TOrientationCorrector, EveryKindOfMetadataSurvivesTheTurn)
{
    const TVec profile = IccProfile('M');
    const std::vector<TVec> icc = IccSegments(profile, 180);
    ASSERT_EQ(icc.size(), 3u);
    const TVec photoshop = PhotoshopSegment();
    const TVec comment = CommentSegment("Am See");
    for (int orientation : {6, 8, 3, 2})
        for (bool element : {false, true}) {
            const std::string o = std::to_string(orientation);
            const bool motorola = element; // both byte orders, both forms
            const TVec exif = CameraExif(motorola, static_cast<uint16_t>(orientation), 120, 90, Thumbnail());
            const TVec xmp = XmpSegment(XmpPacket(o, element));
            const TVec given =
                WithSegments(Vec(Picture()),
                             {exif, icc[0], photoshop, xmp, icc[1], AdobeSegment(), comment, icc[2]}, true);
            TBytes written[2];
            for (TCorrectionRoad road : {TCorrectionRoad::Direct, TCorrectionRoad::Pictures}) {
                const std::string trace = "orientation " + o + (element ? " element" : " attribute") +
                                          (road == TCorrectionRoad::Direct ? " direct" : " pictures");
                TPhotoFile photo(Str(given));
                TOrientationCorrector corrector(OsPlatform());
                corrector.SetRoad(road);
                ASSERT_EQ(corrector.Correct(photo.Path, orientation).Outcome, TCorrectionOutcome::Corrected)
                    << trace;
                written[road == TCorrectionRoad::Direct ? 0 : 1] = ReadFile(photo.Path);
                const TVec saved = Vec(ReadFile(photo.Path));
                const std::vector<TVec> segments = Segments(saved);
                ASSERT_GE(segments.size(), 8u) << trace;

                // The encoder's JFIF header, then the photo's segments in their order.
                EXPECT_TRUE(StartsWith(segments[0], 0xE0, "JFIF")) << trace;
                const bool turned = orientation != 2;
                EXPECT_TRUE(StartsWith(segments[1], 0xE1, kExifId)) << trace;
                EXPECT_EQ(segments[2], icc[0]) << trace;
                EXPECT_EQ(segments[3], photoshop) << trace;
                EXPECT_EQ(segments[4], turned ? XmpSegment(XmpPacket("1", element)) : xmp) << trace;
                EXPECT_EQ(segments[5], icc[1]) << trace;
                EXPECT_EQ(segments[6], comment) << trace;
                EXPECT_EQ(segments[7], icc[2]) << trace;
                EXPECT_EQ(IccOf(segments), profile) << trace;
                for (size_t i = 8; i < segments.size(); ++i)
                    EXPECT_TRUE(segments[i][1] < 0xE0) << trace << ": only the encoder's tables follow";

                const TTiffView tiff(segments[1]);
                EXPECT_EQ(tiff.Value(tiff.Ifd0(), 0x0112), turned ? 1u : 2u) << trace;
                if (turned)
                    ExpectUprightThumbnail(segments[1], orientation, trace);
                else
                    EXPECT_EQ(segments[1], exif) << trace << ": not turned, nothing to change";
            }
            EXPECT_TRUE(written[0] == written[1]) << "both roads write the same bytes, orientation " << o;
        }
}

TEST(TOrientationCorrector, CorrectedCameraLayoutsReadCleanlyInExiftoolAndExiv2)
{
    if (!HaveTool("exiftool") || !HaveTool("exiv2"))
        GTEST_SKIP() << "exiftool or exiv2 is not installed (scripts/install-deps installs both)";
    for (const TLayout& layout : CameraLayouts()) {
        TPhotoFile photo(Str(layout.File));
        ASSERT_EQ(ToolComplaints(photo.Path), "") << layout.Name << ": the photo as given";
        TOrientationCorrector corrector(OsPlatform());
        ASSERT_EQ(corrector.Correct(photo.Path, layout.Orientation).Outcome, TCorrectionOutcome::Corrected)
            << layout.Name;
        std::string tags;
        EXPECT_EQ(ToolComplaints(photo.Path, &tags), "") << layout.Name << ": the turned photo";
        EXPECT_NE(tags.find("[IFD0]          Orientation                     : Horizontal (normal)"),
                  std::string::npos)
            << layout.Name << "\n"
            << tags;
        EXPECT_NE(tags.find("[IFD1]          ThumbnailImage"), std::string::npos) << layout.Name;
        EXPECT_EQ(tags.find("Rotate"), std::string::npos) << layout.Name << ": no orientation left turned";
        EXPECT_EQ(tags.find("[MPF"), std::string::npos) << layout.Name << ": the preview is not kept";
        EXPECT_EQ(tags.find("[Adobe]"), std::string::npos) << layout.Name;
        const TVec saved = Vec(ReadFile(photo.Path));
        ExpectUprightThumbnail(Segments(saved)[1], layout.Orientation, layout.Name);
    }
}

TEST(TOrientationCorrector, DamagedPhotosStayByteForByte)
{
    const TBytes exif = Str(CameraExif(false, 6, 400, 300, Thumbnail()));
    const TBytes baseline = EncodePattern(400, 300);
    const TBytes progressive = EncodePattern(400, 300, 92, true);
    const auto photo = [&exif](const TBytes& encoded) {
        return encoded.substr(0, 2) + exif + encoded.substr(2);
    };
    const auto cut = [](const TBytes& file, size_t size) { return file.substr(0, size); };
    const auto overwrite = [](TBytes file, size_t at, const TBytes& bytes) {
        return file.replace(at, bytes.size(), bytes);
    };
    const TBytes whole = photo(baseline);
    const size_t middle = whole.size() * 3 / 5;
    // A restart interval's marker lost (a file with markers, from the fuzz corpus).
    TBytes restart = ReadFile(std::string(FI_SOURCE_DIR) + "/fuzz/corpus/fuzz_jpeg/restart_444_64x48.jpg");
    ASSERT_FALSE(restart.empty());
    restart.erase(restart.find("\xFF\xD2"), 2);

    struct Case
    {
        const char* Name;
        TBytes File;
        std::string Message;
    } cases[] = {
        {"cut at three fifths", cut(whole, middle), "Premature end of JPEG file"},
        {"progressive, cut at three fifths", cut(photo(progressive), photo(progressive).size() * 3 / 5),
         "Premature end of JPEG file"},
        {"only the end marker missing", cut(whole, whole.size() - 2), "Premature end of JPEG file"},
        // Ones where a code should be, near the end, where the codec checks each code.
        {"codes that do not decode",
         overwrite(whole, whole.size() - 1000, TBytes("\xFF\x00\xFF\x00\xFF\x00\xFF\x00", 8)),
         "Corrupt JPEG data: bad Huffman code"},
        {"a marker inside the scan", overwrite(whole, middle, "\xFF\xD4"),
         "Corrupt JPEG data: premature end of data segment"},
        {"a restart marker lost", restart, "Corrupt JPEG data: found marker 0xd3 instead of RST2"},
    };
    for (const Case& c : cases)
        for (TCorrectionRoad road : {TCorrectionRoad::Direct, TCorrectionRoad::Pictures}) {
            const std::string trace =
                std::string(c.Name) + (road == TCorrectionRoad::Direct ? " direct" : " pictures");
            TPhotoFile file(c.File);
            const auto before = file.MTime();
            TOrientationCorrector corrector(OsPlatform());
            corrector.SetRoad(road);
            const TCorrectionResult result = corrector.Correct(file.Path, 6);
            EXPECT_EQ(result.Outcome, TCorrectionOutcome::Failed) << trace;
            EXPECT_EQ(result.Reason.Kind(), TFailure::Damaged) << trace;
            EXPECT_EQ(result.Reason.Message(), c.Message) << trace;
            EXPECT_EQ(result.Reason.Path(), file.Path) << trace;
            EXPECT_TRUE(ReadFile(file.Path) == c.File) << trace;
            EXPECT_TRUE(file.MTime() == before) << trace;
            EXPECT_TRUE(file.OnlyThePhotoInItsFolder()) << trace;
        }

    // Harmless oddities are turned: bytes between two segments (some cameras
    // pad them), bytes after the scan that decode as fill.
    const size_t tables = whole.find("\xFF\xDB", 2 + exif.size());
    const TBytes oddities[] = {whole.substr(0, tables) + TBytes(2, '\0') + whole.substr(tables),
                               whole.substr(0, whole.size() - 2) + TBytes(4, '\0') + "\xFF\xD9"};
    for (const TBytes& odd : oddities)
        for (TCorrectionRoad road : {TCorrectionRoad::Direct, TCorrectionRoad::Pictures}) {
            TPhotoFile file(odd);
            TOrientationCorrector corrector(OsPlatform());
            corrector.SetRoad(road);
            const TCorrectionResult result = corrector.Correct(file.Path, 6);
            EXPECT_EQ(result.Outcome, TCorrectionOutcome::Corrected) << result.Reason.Text();
        }

    // A damaged thumbnail does not stop the turn: it is removed, not left sideways.
    TVec thumb = Thumbnail();
    thumb.resize(thumb.size() / 2);
    TPhotoFile file(Str(WithSegments(Vec(baseline), {CameraExif(true, 6, 400, 300, thumb)}, false)));
    TOrientationCorrector corrector(OsPlatform());
    ASSERT_EQ(corrector.Correct(file.Path, 6).Outcome, TCorrectionOutcome::Corrected);
    const std::vector<TVec> segments = Segments(Vec(ReadFile(file.Path)));
    ASSERT_GE(segments.size(), 2u);
    const TTiffView tiff(segments[1]);
    EXPECT_EQ(tiff.Link(tiff.Ifd0()), 0u);
    EXPECT_TRUE(tiff.Thumbnail().empty());
    if (HaveTool("exiftool") && HaveTool("exiv2")) {
        EXPECT_EQ(ToolComplaints(file.Path), "");
    }
}

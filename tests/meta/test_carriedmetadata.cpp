#include "meta/CarriedMetadata.h"
#include "meta/JpegSegments.h"
#include "tests/support/SegmentBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace segbuild;

const TBytes kSoi = {0xFF, 0xD8};
const TBytes kTables = Segment(0xDB, TBytes(65, 1));
const TBytes kFrame = Segment(0xC0, {8, 0, 16, 0, 24, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
const TBytes kScan = {0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 63, 0, 0x12, 0x34, 0xFF, 0xD9};

TBytes Photo(const std::vector<TBytes>& segments)
{
    TBytes file = kSoi;
    for (const TBytes& s : segments)
        file.insert(file.end(), s.begin(), s.end());
    return Cat({file, kTables, kFrame, kScan});
}

TBytes Payload(std::string_view id, const std::string& rest)
{
    return Cat({Bytes(id), Bytes(rest)});
}

std::vector<TBytes> Carried(const TBytes& file)
{
    std::vector<TBytes> out;
    for (const TJpegSegment& s : DescriptiveSegments(file)) {
        const std::span<const uint8_t> bytes = SegmentBytes(file, s);
        out.emplace_back(bytes.begin(), bytes.end());
    }
    return out;
}

TBytes FakeJpeg(size_t size, uint8_t fill)
{
    TBytes out(size, fill);
    out[0] = 0xFF;
    out[1] = 0xD8;
    out[size - 2] = 0xFF;
    out[size - 1] = 0xD9;
    return out;
}

// A picture's frame header says it is width x height.
TBytes FramedJpeg(uint16_t width, uint16_t height, size_t pad)
{
    TBytes sof = {8};
    Append16(sof, height);
    Append16(sof, width);
    sof.insert(sof.end(), {1, 1, 0x11, 0});
    return Cat({kSoi, Segment(0xC0, sof), TBytes(pad, 0x55), {0xFF, 0xD9}});
}

} // namespace

TEST(DescriptiveSegments, KeepThePhotosDescriptionInFileOrderAndDropTheEncodings)
{
    const TBytes jfif = JfifSegment();
    const TBytes exif = CameraExif(false, 6, 16, 8, FakeJpeg(40, 1));
    const TBytes secondExif = CameraExif(true, 3, 16, 8, FakeJpeg(40, 2));
    const TBytes xmp = XmpSegment(XmpPacket("6", false));
    const TBytes secondXmp = XmpSegment(XmpPacket("8", true));
    const TBytes extended =
        Segment(0xE1, Payload(kExtendedXmpId, std::string(32, 'A') + "rest of the packet"));
    const std::vector<TBytes> icc = IccSegments(IccProfile(), 150);
    const TBytes mpf = Segment(0xE2, Payload(std::string_view("MPF\0", 4), "MM\0*"));
    const TBytes photoshop = PhotoshopSegment();
    const TBytes otherApp13 = Segment(0xED, Bytes("Adobe_CM"));
    const TBytes adobe = AdobeSegment();
    const TBytes comment = CommentSegment("Am See");
    const TBytes vendor = Segment(0xE3, Bytes("Meta\0data"));
    const TBytes ducky = Segment(0xEC, Bytes("Ducky\0\0\0"));
    ASSERT_EQ(icc.size(), 4u);

    const TBytes file = Photo({jfif, exif, comment, icc[0], xmp, icc[1], mpf, extended, photoshop, secondExif,
                               otherApp13, icc[2], icc[3], vendor, secondXmp, adobe, ducky, comment});
    const std::vector<TBytes> expected = {exif,     comment,   icc[0], xmp,    icc[1],
                                          extended, photoshop, icc[2], icc[3], comment};
    EXPECT_EQ(Carried(file), expected);

    // Nothing to carry in a file of the encoder's own segments; the walk ends
    // at the picture data, so what follows it is not read.
    EXPECT_TRUE(Carried(Photo({jfif, adobe})).empty());
    EXPECT_TRUE(Carried(Cat({kSoi, kTables, kFrame, kScan, comment})).empty());
    EXPECT_TRUE(Carried(comment).empty()) << "no start marker";
}

TEST(DescriptiveSegments, AnIccProfileGoesWholeOrNotAtAll)
{
    const std::vector<TBytes> chunks = IccSegments(IccProfile(), 200);
    ASSERT_EQ(chunks.size(), 3u);
    const TBytes exif = CameraExif(false, 6, 16, 8, FakeJpeg(40, 1));
    const auto spoiled = [&](size_t chunk, size_t at, uint8_t value) {
        std::vector<TBytes> c = chunks;
        c[chunk][at] = value;
        return c;
    };
    struct Case
    {
        const char* Name;
        std::vector<TBytes> Chunks;
        bool Kept;
    } cases[] = {
        {"in order", chunks, true},
        {"out of order (readers sort by number)", {chunks[2], chunks[0], chunks[1]}, true},
        {"one chunk missing", {chunks[0], chunks[2]}, false},
        {"a chunk twice", {chunks[0], chunks[1], chunks[1], chunks[2]}, false},
        {"a number twice", spoiled(2, 16, 2), false},
        {"number 0", spoiled(0, 16, 0), false},
        {"number beyond the count", spoiled(2, 16, 4), false},
        {"counts disagree", spoiled(1, 17, 4), false},
        {"cut before its numbers",
         {chunks[0], chunks[1], Segment(0xE2, Bytes(std::string_view("ICC_PROFILE\0\3", 13)))},
         false},
    };
    for (const Case& c : cases) {
        std::vector<TBytes> segments = {exif};
        segments.insert(segments.end(), c.Chunks.begin(), c.Chunks.end());
        std::vector<TBytes> expected = {exif};
        if (c.Kept)
            expected.insert(expected.end(), c.Chunks.begin(), c.Chunks.end());
        EXPECT_EQ(Carried(Photo(segments)), expected) << c.Name;
    }

    // Extended XMP extends a packet and goes only with one.
    const TBytes extended = Segment(0xE1, Payload(kExtendedXmpId, std::string(40, 'B')));
    EXPECT_EQ(Carried(Photo({exif, extended})), std::vector<TBytes>{exif});
}

TEST(SetXmpOrientation, SetsTheDigitsOfEveryFormAndNothingElse)
{
    const std::string ns = "xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\"";
    const std::string trailer = "<?xpacket end=\"w\"?>";
    struct Case
    {
        const char* Name;
        std::string Packet;
        std::string Expected; // empty: unchanged
        size_t Set;
    } cases[] = {
        {"attribute", "<d " + ns + " tiff:Orientation=\"6\"/>", "<d " + ns + " tiff:Orientation=\"1\"/>", 1},
        {"single quotes and spaces", "<d\n tiff:Orientation = '8' />", "<d\n tiff:Orientation = '1' />", 1},
        {"element", "<d><tiff:Orientation>3</tiff:Orientation></d>",
         "<d><tiff:Orientation>1</tiff:Orientation></d>", 1},
        {"element with spaces and an attribute",
         "<tiff:Orientation rdf:datatype='int'> 6\n</tiff:Orientation>",
         "<tiff:Orientation rdf:datatype='int'> 1\n</tiff:Orientation>", 1},
        {"both forms and another prefix for the namespace",
         "<d xmlns:t='http://ns.adobe.com/tiff/1.0/' "
         "t:Orientation='6'><tiff:Orientation>6</tiff:Orientation></d>",
         "<d xmlns:t='http://ns.adobe.com/tiff/1.0/' "
         "t:Orientation='1'><tiff:Orientation>1</tiff:Orientation></d>",
         2},
        {"two digits: the padding keeps the length", "<d tiff:Orientation=\"06\"/>\n  " + trailer,
         "<d tiff:Orientation=\"1\"/>\n   " + trailer, 1},
        {"two digits without padding", "<d tiff:Orientation=\"06\"/>", "<d tiff:Orientation=\"1\"/>", 1},
        {"already upright", "<d tiff:Orientation=\"1\"/>", "<d tiff:Orientation=\"1\"/>", 1},
        {"the default namespace", "<Orientation xmlns='http://ns.adobe.com/tiff/1.0/'>6</Orientation>",
         "<Orientation xmlns='http://ns.adobe.com/tiff/1.0/'>1</Orientation>", 1},
        {"a prefix counts where it is bound",
         "<a xmlns:t='http://ns.adobe.com/tiff/1.0/' t:Orientation='6'/><b xmlns:t='urn:x' "
         "t:Orientation='6'/>",
         "<a xmlns:t='http://ns.adobe.com/tiff/1.0/' t:Orientation='1'/><b xmlns:t='urn:x' "
         "t:Orientation='6'/>",
         1},
        {"padding goes before the trailer, not into a comment",
         "<d tiff:Orientation='06'/>" + trailer + "<!--<?xpacket end= -->",
         "<d tiff:Orientation='1'/> " + trailer + "<!--<?xpacket end= -->", 1},
        // Left alone:
        {"no orientation", "<d tiff:Make=\"6\" exif:Orientation=\"6\"/>", "", 0},
        {"a longer name", "<d tiff:OrientationX=\"6\"><tiff:Orientations>6</tiff:Orientations></d>", "", 0},
        {"part of another name", "<d xtiff:Orientation=\"6\"/>", "", 0},
        {"not a number", "<d tiff:Orientation=\"six\"/><tiff:Orientation>6a</tiff:Orientation>", "", 0},
        {"empty values", "<d tiff:Orientation=\"\"/><tiff:Orientation/><tiff:Orientation></tiff:Orientation>",
         "", 0},
        {"unterminated quote", "<d tiff:Orientation=\"6", "", 0},
        {"no closing tag", "<tiff:Orientation>6", "", 0},
        {"mismatched closing tag", "<tiff:Orientation>6</tiff:Orient>", "", 0},
        {"a longer closing tag", "<tiff:Orientation>6</tiff:Orientations>", "", 0},
        {"tiff bound elsewhere", "<d xmlns:tiff='urn:x' tiff:Orientation='6'/>", "", 0},
        {"an empty prefix binds nothing",
         "<Orientation xmlns:='http://ns.adobe.com/tiff/1.0/'>6</Orientation>", "", 0},
        {"text that is no markup",
         "<!-- tiff:Orientation='6' --><d x:Note=' tiff:Orientation=\"6\"'/><?p <tiff:Orientation>6"
         "</tiff:Orientation>?><![CDATA[ tiff:Orientation='6' ]]>",
         "", 0},
        {"at the very start", "tiff:Orientation=\"6\"", "", 0},
        {"at the very end", "<d tiff:Orientation", "", 0},
        {"an equals sign without a value", "<d tiff:Orientation=", "", 0},
    };
    for (const Case& c : cases) {
        TBytes segment = XmpSegment(c.Packet);
        const TBytes before = segment;
        EXPECT_EQ(SetXmpOrientation(segment, 1), c.Set) << c.Name;
        const TBytes expected = XmpSegment(c.Expected.empty() ? c.Packet : c.Expected);
        EXPECT_EQ(segment, expected) << c.Name;
    }

    // Only XMP segments, only one digit.
    TBytes exif = CameraExif(false, 6, 16, 8, FakeJpeg(40, 1));
    const TBytes exifBefore = exif;
    EXPECT_EQ(SetXmpOrientation(exif, 1), 0u);
    EXPECT_EQ(exif, exifBefore);
    TBytes xmp = XmpSegment("<d tiff:Orientation=\"6\"/>");
    const TBytes xmpBefore = xmp;
    EXPECT_EQ(SetXmpOrientation(xmp, 10), 0u);
    EXPECT_EQ(xmp, xmpBefore);
    TBytes header = XmpSegment("");
    header.resize(10);
    EXPECT_EQ(SetXmpOrientation(header, 1), 0u) << "cut inside the identifier";
}

TEST(TurnExifThumbnail, TheNewPictureTakesTheOldPlaceOrGoesToTheEnd)
{
    struct Case
    {
        const char* Name;
        bool Big;
        TThumbPlace Place;
        size_t Old, New;
        bool Moves; // to the end of the structure
    } cases[] = {
        {"last, grows", false, TThumbPlace::End, 900, 1500, false},
        {"last, shrinks", true, TThumbPlace::End, 1500, 700, false},
        {"before other data, shrinks", true, TThumbPlace::BeforeMaker, 1500, 701, false},
        {"before other data, same size", false, TThumbPlace::BeforeMaker, 800, 800, false},
        {"before other data, grows", false, TThumbPlace::BeforeMaker, 801, 2000, true},
    };
    for (const Case& c : cases) {
        const TBytes oldThumb = FakeJpeg(c.Old, 0x11);
        const TBytes newThumb = FakeJpeg(c.New, 0x22);
        TBytes segment = CameraExif(c.Big, 6, 64, 48, oldThumb, c.Place, 300);
        const TTiffView before(segment);
        const uint32_t ifd1 = before.Link(before.Ifd0());
        const uint32_t oldAt = before.Value(ifd1, 0x0201);
        TBytes given;
        const TThumbnailChange change = TurnExifThumbnail(segment, [&](std::span<const uint8_t> jpeg) {
            given.assign(jpeg.begin(), jpeg.end());
            return std::optional<TBytes>(newThumb);
        });
        ASSERT_EQ(change, TThumbnailChange::Replaced) << c.Name;
        EXPECT_EQ(given, oldThumb) << c.Name;

        const TTiffView after(segment);
        EXPECT_EQ(size_t{segment[2]} << 8 | segment[3], segment.size() - 2) << c.Name;
        const uint32_t at = after.Value(ifd1, 0x0201);
        ASSERT_EQ(after.Value(ifd1, 0x0202), c.New) << c.Name;
        ASSERT_LE(at + c.New, after.Bytes.size()) << c.Name;
        EXPECT_TRUE(std::equal(newThumb.begin(), newThumb.end(), after.Bytes.begin() + at)) << c.Name;
        if (c.Moves) {
            EXPECT_EQ(at, before.Bytes.size() + (before.Bytes.size() & 1)) << c.Name;
            EXPECT_EQ(after.Bytes.size(), at + c.New) << c.Name;
        } else {
            EXPECT_EQ(at, oldAt) << c.Name;
        }
        // Every other byte is as it was; what the old picture left is cleared.
        const size_t offsetField = after.Field(ifd1, 0x0201);
        const size_t lengthField = after.Field(ifd1, 0x0202);
        for (size_t i = 0; i < std::min(before.Bytes.size(), after.Bytes.size()); ++i) {
            const bool field =
                (i >= offsetField && i < offsetField + 4) || (i >= lengthField && i < lengthField + 4);
            const bool thumb = i >= at && i < at + c.New;
            const bool old = i >= oldAt && i < oldAt + c.Old;
            if (thumb || field)
                continue;
            if (old) {
                EXPECT_EQ(after.Bytes[i], 0) << c.Name << " at " << i;
            } else {
                EXPECT_EQ(after.Bytes[i], before.Bytes[i]) << c.Name << " at " << i;
            }
        }
        if (c.Place == TThumbPlace::BeforeMaker) {
            EXPECT_GE(after.Bytes.size(), before.Bytes.size()) << c.Name << ": the maker's data stays";
        }
    }
}

TEST(TurnExifThumbnail, ThumbnailsThatCannotBeTurnedAreRemoved)
{
    const TBytes thumb = FakeJpeg(600, 0x11);
    const auto turnTo = [](std::optional<TBytes> result) {
        return [result](std::span<const uint8_t>) { return result; };
    };
    // A picture that would not fit into the segment with the rest.
    const TBytes huge = FakeJpeg(65000, 0x33);
    struct Case
    {
        const char* Name;
        TThumbPlace Place;
        std::optional<TBytes> Turned;
    } cases[] = {
        {"the picture cannot be turned, last", TThumbPlace::End, std::nullopt},
        {"the picture cannot be turned, before other data", TThumbPlace::BeforeMaker, std::nullopt},
        {"the turned picture is empty", TThumbPlace::End, TBytes{}},
        {"the turned picture does not fit, last", TThumbPlace::End, huge},
        {"the turned picture does not fit, before other data", TThumbPlace::BeforeMaker, huge},
    };
    for (bool big : {false, true})
        for (const Case& c : cases) {
            TBytes segment = CameraExif(big, 6, 64, 48, thumb, c.Place, 300);
            const TTiffView before(segment);
            const uint32_t ifd0 = before.Ifd0();
            const uint32_t thumbAt = before.Value(before.Link(ifd0), 0x0201);
            EXPECT_EQ(TurnExifThumbnail(segment, turnTo(c.Turned)), TThumbnailChange::Removed) << c.Name;
            const TTiffView after(segment);
            EXPECT_EQ(after.Link(ifd0), 0u) << c.Name;
            EXPECT_EQ(size_t{segment[2]} << 8 | segment[3], segment.size() - 2) << c.Name;
            if (c.Place == TThumbPlace::End) {
                EXPECT_EQ(after.Bytes.size(), thumbAt) << c.Name << ": cut off";
            } else {
                ASSERT_EQ(after.Bytes.size(), before.Bytes.size()) << c.Name;
                EXPECT_TRUE(std::all_of(after.Bytes.begin() + thumbAt,
                                        after.Bytes.begin() + thumbAt + thumb.size(),
                                        [](uint8_t b) { return b == 0; }))
                    << c.Name << ": cleared";
            }
            const size_t link = ifd0 + 2 + 12 * before.U16(ifd0);
            for (size_t i = 0; i < std::min<size_t>(thumbAt, after.Bytes.size()); ++i) {
                if (i < link || i >= link + 4) {
                    EXPECT_EQ(after.Bytes[i], before.Bytes[i]) << c.Name << " at " << i;
                }
            }
        }
}

TEST(TurnExifThumbnail, DamagedOrHostileDirectories)
{
    using namespace exifbuild;
    // IFD0 at 8 (one entry), IFD1 at 26 with the given entries; a 100-byte
    // thumbnail at 200 unless the entries say otherwise.
    const auto build = [](std::vector<TEntry> ifd1Entries, bool big = false) {
        TIfd ifd0, ifd1;
        ifd0.Entries = {Short(0x0112, {6})};
        ifd0.Next = 1;
        ifd1.Entries = std::move(ifd1Entries);
        TBytes tiff = BuildTiff(big, {ifd0, ifd1});
        tiff.resize(300, 0);
        const TBytes jpeg = FakeJpeg(100, 0x44);
        std::copy(jpeg.begin(), jpeg.end(), tiff.begin() + 200);
        return ExifSegment(tiff);
    };
    const TEntry offset = Long(0x0201, {200});
    const TEntry length = Long(0x0202, {100});
    struct Case
    {
        const char* Name;
        TBytes Segment;
        TThumbnailChange Change;
    } cases[] = {
        {"a thumbnail directory without a picture", build({Short(0x0112, {6})}), TThumbnailChange::None},
        {"an uncompressed picture in strips", build({Long(0x0111, {200}), Long(0x0117, {100})}),
         TThumbnailChange::Removed},
        {"no length", build({offset}), TThumbnailChange::Removed},
        {"no offset", build({length}), TThumbnailChange::Removed},
        {"length 0", build({offset, Long(0x0202, {0})}), TThumbnailChange::Removed},
        {"picture runs past the end", build({offset, Long(0x0202, {101})}), TThumbnailChange::Removed},
        {"offset far past the end", build({Long(0x0201, {0xFFFFFFF0}), Long(0x0202, {0x20})}),
         TThumbnailChange::Removed},
        {"offset as text", build({Ascii(0x0201, "200"), length}), TThumbnailChange::Removed},
        {"two offsets in one entry", build({Long(0x0201, {200, 200}), length}), TThumbnailChange::Removed},
        {"picture over its own directory", build({Long(0x0201, {20}), length}), TThumbnailChange::Removed},
        {"picture over the header", build({Long(0x0201, {0}), length}), TThumbnailChange::Removed},
        {"SHORT values", build({Short(0x0201, {200}), Short(0x0202, {100})}, true),
         TThumbnailChange::Replaced},
        {"whole", build({offset, length}, true), TThumbnailChange::Replaced},
    };
    const TBytes turned = FakeJpeg(50, 0x66);
    for (const Case& c : cases) {
        TBytes segment = c.Segment;
        const TThumbnailChange change = TurnExifThumbnail(
            segment, [&](std::span<const uint8_t>) { return std::optional<TBytes>(turned); });
        EXPECT_EQ(change, c.Change) << c.Name;
        if (change == TThumbnailChange::None) {
            EXPECT_EQ(segment, c.Segment) << c.Name;
        }
        if (change == TThumbnailChange::Removed) {
            EXPECT_EQ(TTiffView(segment).Link(8), 0u) << c.Name;
        }
        if (change == TThumbnailChange::Replaced) {
            const TTiffView after(segment);
            EXPECT_EQ(after.Value(26, 0x0202), 50u) << c.Name;
            EXPECT_TRUE(
                std::equal(turned.begin(), turned.end(), after.Bytes.begin() + after.Value(26, 0x0201)))
                << c.Name;
        }
    }

    // Directories that cannot be followed: left alone when the first one is
    // damaged, the thumbnail's unlinked when it is.
    TIfd ifd0;
    ifd0.Entries = {Short(0x0112, {6})};
    ifd0.NextRaw = 0x7FFFFFF0;
    const TBytes far = ExifSegment(BuildTiff(false, {ifd0}));
    ifd0.NextRaw = 8;
    const TBytes self = ExifSegment(BuildTiff(false, {ifd0}));
    TBytes cut = build({offset, length});
    cut.resize(10 + 8 + 2 + 6); // inside IFD0
    cut[2] = 0;
    cut[3] = static_cast<uint8_t>(cut.size() - 2);
    TBytes wrongOrder = build({offset, length});
    wrongOrder[10] = 'X';
    TBytes notExif = build({offset, length});
    notExif[4] = 'e';
    struct Plain
    {
        const char* Name;
        TBytes Segment;
        TThumbnailChange Change;
    } plain[] = {
        {"link past the end", far, TThumbnailChange::Removed},
        {"first directory linked to itself", self, TThumbnailChange::Removed},
        {"cut inside the first directory", cut, TThumbnailChange::None},
        {"no byte order", wrongOrder, TThumbnailChange::None},
        {"not an Exif segment", notExif, TThumbnailChange::None},
        {"nothing but the identifier", Cat({{0xFF, 0xE1, 0, 8}, Bytes(std::string_view("Exif\0\0", 6))}),
         TThumbnailChange::None},
    };
    for (const Plain& c : plain) {
        TBytes segment = c.Segment;
        bool asked = false;
        EXPECT_EQ(TurnExifThumbnail(segment,
                                    [&](std::span<const uint8_t>) {
                                        asked = true;
                                        return std::optional<TBytes>(turned);
                                    }),
                  c.Change)
            << c.Name;
        EXPECT_FALSE(asked) << c.Name;
        if (c.Change == TThumbnailChange::None) {
            EXPECT_EQ(segment, c.Segment) << c.Name;
        } else {
            EXPECT_EQ(TTiffView(segment).Link(8), 0u) << c.Name;
        }
    }
}

TEST(TurnExifThumbnail, GivenDimensionsFollowTheNewPicture)
{
    using namespace exifbuild;
    for (bool big : {false, true}) {
        TIfd ifd0, ifd1;
        ifd0.Entries = {Short(0x0112, {6})};
        ifd0.Next = 1;
        ifd1.Entries = {Short(0x0100, {160}), Long(0x0101, {120}), Short(0x0103, {6}), Long(0x0201, {300}),
                        Long(0x0202, {40})};
        TBytes tiff = BuildTiff(big, {ifd0, ifd1});
        tiff.resize(340, 0);
        TBytes segment = ExifSegment(tiff);
        ASSERT_EQ(
            TurnExifThumbnail(segment,
                              [](std::span<const uint8_t>) { return std::optional(FramedJpeg(90, 60, 30)); }),
            TThumbnailChange::Replaced);
        const TTiffView after(segment);
        const uint32_t ifd1At = after.Link(after.Ifd0());
        EXPECT_EQ(after.Value(ifd1At, 0x0100), 90u);
        EXPECT_EQ(after.Value(ifd1At, 0x0101), 60u);
        EXPECT_EQ(after.Value(ifd1At, 0x0103), 6u);
    }
    EXPECT_EQ(JpegFrameSize(FramedJpeg(4000, 3000, 0)), (std::pair<uint16_t, uint16_t>{4000, 3000}));
    EXPECT_EQ(JpegFrameSize(Photo({})), (std::pair<uint16_t, uint16_t>{24, 16}));
    EXPECT_FALSE(JpegFrameSize(Cat({kSoi, kTables, kScan})));
    EXPECT_FALSE(JpegFrameSize(Cat({kSoi, Segment(0xC0, {8, 0})}))) << "frame header cut short";
}

TEST(CarriedMetadata, TurnedPhotosCarryTheirDescriptionUpright)
{
    const TBytes thumb = FakeJpeg(500, 0x11);
    const TBytes turnedThumb = FakeJpeg(520, 0x22);
    const TBytes exif = CameraExif(true, 6, 64, 48, thumb);
    const TBytes xmp = XmpSegment(XmpPacket("6", true));
    const std::vector<TBytes> icc = IccSegments(IccProfile(), 300);
    ASSERT_EQ(icc.size(), 2u);
    const TBytes photoshop = PhotoshopSegment();
    const TBytes comment = CommentSegment("Am See");
    const TBytes file = Photo({JfifSegment(), exif, icc[0], xmp, icc[1], photoshop, AdobeSegment(), comment});
    int asked = 0;
    const TThumbnailTurn turn = [&](std::span<const uint8_t> jpeg) {
        ++asked;
        EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.end(), thumb.begin(), thumb.end()));
        return std::optional(turnedThumb);
    };

    // Not turned (a mirrored orientation): every segment as it was.
    EXPECT_EQ(CarriedMetadata(file, false, turn), Cat({exif, icc[0], xmp, icc[1], photoshop, comment}));
    EXPECT_EQ(asked, 0);

    // Turned: Exif and XMP upright, the thumbnail replaced, the rest as it was.
    TBytes uprightExif = exif;
    SetExifOrientation(uprightExif, 1);
    ASSERT_EQ(TurnExifThumbnail(uprightExif, turn), TThumbnailChange::Replaced);
    asked = 0;
    const TBytes carried = CarriedMetadata(file, true, turn);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(carried,
              Cat({uprightExif, icc[0], XmpSegment(XmpPacket("1", true)), icc[1], photoshop, comment}));
    const TTiffView tiff(uprightExif);
    EXPECT_EQ(tiff.Value(tiff.Ifd0(), 0x0112), 1u);
    EXPECT_EQ(tiff.Value(tiff.Link(tiff.Ifd0()), 0x0202), turnedThumb.size());

    EXPECT_TRUE(CarriedMetadata(Photo({JfifSegment()}), true, turn).empty());
    EXPECT_TRUE(CarriedMetadata({}, true, turn).empty());
}

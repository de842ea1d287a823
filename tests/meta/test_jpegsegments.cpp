#include "meta/CheckedBytes.h"
#include "meta/JpegSegments.h"
#include "meta/phJpegInfo.h"
#include "tests/support/ExifBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace exifbuild;

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

TBytes Bytes(std::initializer_list<int> values)
{
    TBytes out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

TBytes Segment(uint8_t marker, const std::string& payload)
{
    TBytes out;
    AppendSegment(out, marker, TBytes(payload.begin(), payload.end()));
    return out;
}

TBytes Join(std::initializer_list<TBytes> parts)
{
    TBytes out;
    for (const TBytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const TBytes kSoi = Bytes({0xFF, 0xD8});
const TBytes kSos = Bytes({0xFF, 0xDA, 0x00, 0x08, 1, 1, 0, 0, 63, 0, 0x12, 0x34});
const std::string kExifPayload = std::string("Exif\0\0", 6) + "II*";

struct TFound
{
    uint8_t Marker;
    size_t Offset;
    size_t Size;
    bool operator==(const TFound&) const = default;
};

std::vector<TFound> Walk(const TBytes& file)
{
    std::vector<TFound> found;
    TJpegSegmentWalk walk(file);
    TJpegSegment s;
    while (walk.Next(s))
        found.push_back({s.Marker, s.Offset, s.Size});
    EXPECT_FALSE(walk.Next(s)) << "an ended walk stays ended";
    return found;
}

// Offsets whose byte differs.
std::vector<size_t> Changed(const TBytes& before, const TBytes& after)
{
    std::vector<size_t> at;
    for (size_t i = 0; i < std::min(before.size(), after.size()); ++i)
        if (before[i] != after[i])
            at.push_back(i);
    return at;
}

// The Orientation lines the EXIF reader finds in a TIFF block.
std::vector<std::string> OrientationLines(const TBytes& tiff)
{
    const TBytes file = WrapJpeg(tiff);
    auto memory = std::make_unique<TMemoryStream>();
    memory->Write(file.data(), static_cast<int64_t>(file.size()));
    memory->SetPosition(0);
    TphExifStream stream(std::move(memory));
    TStringList list;
    ReadExifInfo(stream, list);
    std::vector<std::string> lines;
    for (const std::string& line : list.Items())
        if (line.rfind("Orientation=", 0) == 0)
            lines.push_back(line);
    return lines;
}

TIfd Dir(std::vector<TEntry> entries, int next = -1)
{
    TIfd ifd;
    ifd.Entries = std::move(entries);
    ifd.Next = next;
    return ifd;
}

} // namespace

TEST(CheckedBytes, BoundsHoldAtTheEdgesAndNeverWrap)
{
    struct Case
    {
        uint64_t Size, Offset, N;
        bool Fits;
    } fits[] = {
        {10, 8, 2, true},     {10, 8, 3, false},         {10, 10, 0, true},
        {10, 11, 0, false},   {0, 0, 0, true},           {kMax, kMax, 1, false},
        {10, 2, kMax, false}, {kMax, 1, kMax - 1, true}, {kMax, 2, kMax - 1, false},
    };
    for (const Case& c : fits)
        EXPECT_EQ(Fits(c.Size, c.Offset, c.N), c.Fits) << c.Size << " " << c.Offset << " " << c.N;

    struct CountCase
    {
        uint64_t Size, Offset, Count, Item;
        bool Fits;
    } counts[] = {
        {26, 2, 2, 12, true},
        {25, 2, 2, 12, false},
        {2, 2, 0, 12, true},
        {100, 0, kMax, 12, false},
        {100, 0, kMax / 12 + 1, 12, false}, // the product would wrap to a small number
        {100, 101, 0, 12, false},
        {kMax, 0, kMax / 12, 12, true},
    };
    for (const CountCase& c : counts)
        EXPECT_EQ(CountFits(c.Size, c.Offset, c.Count, c.Item), c.Fits) << c.Size << " " << c.Count;

    const TBytes block = Bytes({0x12, 0x34, 0x56, 0x78, 0x9A});
    TCheckedBytes big(block);
    EXPECT_EQ(big.Word(0), 0x1234);
    EXPECT_EQ(big.Long(1), 0x3456789Au);
    EXPECT_EQ(big.Word(4), std::nullopt);
    EXPECT_EQ(big.Long(2), std::nullopt);
    EXPECT_EQ(big.Byte(5), std::nullopt);
    EXPECT_EQ(big.Word(kMax), std::nullopt);
    TCheckedBytes little(block, false);
    EXPECT_EQ(little.Word(0), 0x3412);
    EXPECT_EQ(little.Long(1), 0x9A785634u);

    TBytes out = block;
    EXPECT_TRUE(PutWord(out, 3, 0xABCD, false));
    EXPECT_EQ(out, Bytes({0x12, 0x34, 0x56, 0xCD, 0xAB}));
    EXPECT_FALSE(PutWord(out, 4, 0xFFFF, true));
    EXPECT_FALSE(PutWord(out, kMax, 0xFFFF, true));
    EXPECT_EQ(out, Bytes({0x12, 0x34, 0x56, 0xCD, 0xAB}));
}

TEST(TJpegSegmentWalk, FindsTheSegmentsBeforeThePictureData)
{
    const TBytes app0 = Segment(0xE0, std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14));
    const TBytes xmp = Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0<x/>", 33));
    const TBytes exif = Segment(0xE1, kExifPayload);
    const TBytes dqt = Segment(0xDB, std::string(65, '\1'));
    const TBytes com = Segment(0xFE, "hello");
    const size_t atApp0 = 2, atXmp = atApp0 + app0.size(), atExif = atXmp + xmp.size(),
                 atDqt = atExif + exif.size();
    struct Case
    {
        const char* Name;
        TBytes File;
        std::vector<TFound> Expected;
    } cases[] = {
        {"camera layout",
         Join({kSoi, app0, xmp, exif, dqt, kSos, com}),
         {{0xE0, atApp0, app0.size()},
          {0xE1, atXmp, xmp.size()},
          {0xE1, atExif, exif.size()},
          {0xDB, atDqt, dqt.size()}}},
        {"fill bytes and stand-alone markers are stepped over",
         Join({kSoi, Bytes({0xFF, 0xFF, 0xFF}), com, Bytes({0xFF, 0xD3, 0xFF, 0x01}), exif, kSos}),
         {{0xFE, 5, com.size()}, {0xE1, 5 + com.size() + 4, exif.size()}}},
        {"a segment ending at the file's end", Join({kSoi, com}), {{0xFE, 2, com.size()}}},
        {"an empty segment", Join({kSoi, Bytes({0xFF, 0xFE, 0x00, 0x02})}), {{0xFE, 2, 4}}},
        {"the end marker ends the walk",
         Join({kSoi, com, Bytes({0xFF, 0xD9}), exif}),
         {{0xFE, 2, com.size()}}},
        {"a byte where a marker should be", Join({kSoi, com, Bytes({0x00}), exif}), {{0xFE, 2, com.size()}}},
        {"a length below 2",
         Join({kSoi, com, Bytes({0xFF, 0xE1, 0x00, 0x01}), exif}),
         {{0xFE, 2, com.size()}}},
        {"a length running past the end",
         Join({kSoi, com, Bytes({0xFF, 0xE1, 0x01, 0x00, 'E', 'x'})}),
         {{0xFE, 2, com.size()}}},
        {"a length one byte past the end",
         Join({kSoi, com, Bytes({0xFF, 0xE1, 0x00, 0x05, 'E', 'x'})}),
         {{0xFE, 2, com.size()}}},
        {"no start marker", Join({Bytes({0xFF, 0xD9}), exif}), {}},
        {"three bytes", Bytes({0xFF, 0xD8, 0xFF}), {}},
        {"nothing", {}, {}},
        {"a marker cut after its first byte",
         Join({kSoi, com, Bytes({0xFF, 0xE1, 0x00})}),
         {{0xFE, 2, com.size()}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Walk(c.File), c.Expected) << c.Name;
}

TEST(FindExifSegment, TakesTheFirstExifApp1AmongTheLeadingSegments)
{
    const TBytes exif = Segment(0xE1, kExifPayload);
    const TBytes other = Segment(0xE1, std::string("Exif\0\1II*", 9));
    const TBytes xmp = Segment(0xE1, "http://ns.adobe.com/xap/1.0/");
    struct Case
    {
        const char* Name;
        TBytes File;
        std::optional<size_t> At;
    } cases[] = {
        {"right after the start marker", Join({kSoi, exif, kSos}), 2},
        {"after XMP and another identifier", Join({kSoi, xmp, other, exif, exif}),
         2 + xmp.size() + other.size()},
        {"only the identifier, no TIFF", Join({kSoi, Segment(0xE1, std::string("Exif\0\0", 6))}), 2},
        {"identifier cut short", Join({kSoi, Segment(0xE1, std::string("Exif\0", 5))}), std::nullopt},
        {"in another marker", Join({kSoi, Segment(0xE2, kExifPayload)}), std::nullopt},
        {"behind the picture data", Join({kSoi, kSos, exif}), std::nullopt},
        {"behind a broken segment", Join({kSoi, Bytes({0xFF, 0xE0, 0x00, 0x00}), exif}), std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<TJpegSegment> found = FindExifSegment(c.File);
        ASSERT_EQ(found.has_value(), c.At.has_value()) << c.Name;
        if (!found)
            continue;
        EXPECT_EQ(found->Offset, *c.At) << c.Name;
        const std::span<const uint8_t> bytes = SegmentBytes(c.File, *found);
        ASSERT_EQ(bytes.size(), found->Size);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xE1);
        EXPECT_TRUE(SegmentHasId(c.File, *found, kExifId));
    }
}

TEST(SetTiffOrientation, SetsEveryOrientationOfTheChainAndTheExifDirectory)
{
    for (bool big : {false, true}) {
        // IFD0 (6) -> IFD1 (1, the thumbnail's), the Exif directory holds one too.
        std::vector<TIfd> ifds = CameraIfds();
        ifds[1].Entries.push_back(Short(0x0112, {8}));
        const TBytes before = BuildTiff(big, ifds);
        TBytes tiff = before;
        EXPECT_EQ(SetTiffOrientation(tiff, 0xABCD), 3u) << big;
        EXPECT_EQ(tiff.size(), before.size());
        EXPECT_EQ(Changed(before, tiff).size(), 6u) << "two bytes of each entry, nothing else";
        EXPECT_EQ(OrientationLines(tiff),
                  (std::vector<std::string>{"Orientation=43981", "Orientation=43981", "Orientation=43981"}));
        // Setting again changes nothing more.
        const TBytes once = tiff;
        EXPECT_EQ(SetTiffOrientation(tiff, 0xABCD), 3u);
        EXPECT_EQ(tiff, once);

        // The Exif segment around it: the TIFF block starts 10 bytes in.
        TBytes segment;
        AppendSegment(segment, 0xE1, Join({Bytes({'E', 'x', 'i', 'f', 0, 0}), before}));
        const TBytes segmentBefore = segment;
        EXPECT_EQ(SetExifOrientation(segment, 1), 3u);
        for (size_t at : Changed(segmentBefore, segment))
            EXPECT_GE(at, 10u);
        // Not an Exif segment: left alone.
        for (size_t at : {size_t{1}, size_t{4}, size_t{9}}) {
            TBytes wrong = segmentBefore;
            wrong[at] ^= 0x20;
            const TBytes copy = wrong;
            EXPECT_EQ(SetExifOrientation(wrong, 1), 0u) << at;
            EXPECT_EQ(wrong, copy);
        }
    }
}

TEST(SetTiffOrientation, HostileStructuresAreSetAsFarAsTheyCanBeRead)
{
    struct Case
    {
        const char* Name;
        bool Big;
        std::vector<TIfd> Ifds;
        void (*Damage)(TBytes&, bool big);
        size_t Set;
    };
    auto none = [](TBytes&, bool) {};
    // IFD0 at 8: [Make, Orientation, Exif pointer] -> IFD1 [Orientation]; Exif [DateTimeOriginal].
    const std::vector<TIfd> plain = {Dir({Ascii(0x010F, "Cam"), Short(0x0112, {6}), Pointer(0x8769, 2)}, 1),
                                     Dir({Short(0x0112, {6})}), Dir({Ascii(0x9003, "2005:07:14 10:22:33")})};
    std::vector<TIfd> chain100;
    for (int i = 0; i < 100; ++i)
        chain100.push_back(Dir({Short(0x0112, {6})}, i + 1 < 100 ? i + 1 : -1));
    std::vector<TIfd> exifLoop = plain;
    exifLoop[2].Entries.push_back(Pointer(0x8769, 0)); // the Exif directory points back to IFD0
    std::vector<TIfd> odd = plain;
    odd[0].Entries[1] = Long(0x0112, {6}); // LONG: not an orientation this writer sets
    odd[1].Entries = {Raw(0x0112, 3, 0, 6), Short(0x0112, {6, 6})}; // count 0: none; count 2: the first value
    const Case cases[] = {
        {"intact", false, plain, none, 2},
        {"IFD0 beyond the block", true, plain, [](TBytes& t, bool big) { Put32(t, 4, 0xFFFFFFF0, big); }, 0},
        {"IFD0 at offset 0", false, plain, [](TBytes& t, bool big) { Put32(t, 4, 0, big); }, 0},
        {"entry count far beyond the block", true, plain,
         [](TBytes& t, bool big) {
             t[big ? 8 : 9] = 0xFF;
             t[big ? 9 : 8] = 0xFF;
         },
         1},
        {"IFD0 and IFD1 link to themselves", false, plain,
         [](TBytes& t, bool big) {
             Put32(t, 8 + 2 + 36, 8, big);
             Put32(t, 8 + 2 + 36 + 4 + 2 + 12, 8 + 2 + 36 + 4, big);
         },
         1},
        {"IFD1 links back to IFD0", true, plain,
         [](TBytes& t, bool big) { Put32(t, 8 + 2 + 36 + 4 + 2 + 12, 8, big); }, 2},
        {"cut inside the second entry of IFD0", false, plain,
         [](TBytes& t, bool) { t.resize(8 + 2 + 12 + 6); }, 0},
        {"cut right after the orientation entry", true, plain, [](TBytes& t, bool) { t.resize(8 + 2 + 24); },
         1},
        {"Exif pointer back to IFD0", false, exifLoop, none, 2},
        {"a chain of 100 directories", true, chain100, none, 64},
        {"odd types and counts", false, odd, none, 1},
        {"no byte order mark", false, plain, [](TBytes& t, bool) { t[1] = 'M'; }, 0},
        {"not 42", true, plain, [](TBytes& t, bool) { t[3] = 43; }, 0},
        {"shorter than a header", false, plain, [](TBytes& t, bool) { t.resize(7); }, 0},
    };
    for (const Case& c : cases) {
        TBytes tiff = BuildTiff(c.Big, c.Ifds);
        c.Damage(tiff, c.Big);
        const TBytes before = tiff;
        EXPECT_EQ(SetTiffOrientation(tiff, 0xABCD), c.Set) << c.Name;
        EXPECT_EQ(tiff.size(), before.size()) << c.Name;
        // Every changed byte belongs to an entry tagged Orientation of type SHORT.
        const TCheckedBytes t(before, c.Big);
        const std::vector<size_t> changed = Changed(before, tiff);
        EXPECT_EQ(changed.size(), 2 * c.Set) << c.Name;
        for (size_t at : changed) {
            const bool low = t.Word(at - 8) == 0x0112 && t.Word(at - 6) == 3;
            const bool high = at >= 9 && t.Word(at - 9) == 0x0112 && t.Word(at - 7) == 3;
            EXPECT_TRUE(low || high) << c.Name << " byte " << at;
        }
    }
}

TEST(SetTiffOrientation, ReadsTheStructureAsItWasBeforeWriting)
{
    // IFD0 at 8 holds one Orientation entry and links to 18, its own value
    // field: there IFD1's entry count is that value (1). An Orientation entry
    // lies behind, at 32, where only a larger count would reach it.
    TBytes built;
    Put8(built, 0, 'I');
    Put8(built, 1, 'I');
    Put16(built, 2, 42, false);
    Put32(built, 4, 8, false);
    Put16(built, 8, 1, false);
    Put16(built, 10, 0x0112, false);
    Put16(built, 12, 3, false);
    Put32(built, 14, 1, false);
    Put32(built, 18, 1, false);
    Put32(built, 22, 18, false);
    Put16(built, 32, 0x0112, false);
    Put16(built, 34, 3, false);
    Put32(built, 36, 1, false);
    Put32(built, 40, 6, false);
    TBytes tiff = built;
    EXPECT_EQ(SetTiffOrientation(tiff, 0x0005), 1u);
    EXPECT_EQ(Changed(built, tiff), std::vector<size_t>{18});
}

TEST(SegmentPlace, RightAfterTheEncodersJfifHeader)
{
    const TBytes app0 = Segment(0xE0, std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14));
    struct Case
    {
        const char* Name;
        TBytes Encoded;
        size_t Place;
    } cases[] = {
        {"JFIF header", Join({kSoi, app0, Segment(0xDB, "q"), kSos}), 2 + app0.size()},
        {"only the JFIF header", Join({kSoi, app0}), 2 + app0.size()},
        {"no JFIF header", Join({kSoi, Segment(0xDB, "q")}), 2},
        {"APP0 not first", Join({kSoi, Segment(0xDB, "q"), app0}), 2},
        {"APP0 running past the end", Join({kSoi, Bytes({0xFF, 0xE0, 0x00, 0x20, 'J'})}), 2},
        {"APP0 length below 2", Join({kSoi, Bytes({0xFF, 0xE0, 0x00, 0x01, 'J'})}), 2},
        {"a start marker only", kSoi, 2},
        {"one byte", Bytes({0xFF}), 1},
        {"nothing", {}, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SegmentPlace(c.Encoded), c.Place) << c.Name;
}

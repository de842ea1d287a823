#include "base/SysUtils.h"
#include "meta/phJpegInfo.h"
#include "tests/meta/CountingStream.h"
#include "tests/support/ExifBuilder.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

using namespace exifbuild;
using TLines = std::vector<std::string>;

struct TOutcome
{
    bool Result = false;
    std::string Error; // message of an exception that escaped, else empty
    TLines Lines;
};

TOutcome ReadBytes(const TBytes& bytes, bool sorted = false)
{
    TTempDir dir;
    const std::string path = dir.Write("photo.jpg", bytes);
    TStringList list;
    list.SetSorted(sorted);
    TOutcome out;
    try {
        out.Result = ReadExifInfo(path, list);
    } catch (const Exception& e) {
        out.Error = e.what();
    }
    out.Lines = list.Items();
    return out;
}

TOutcome ReadTiff(bool bigEndian, const std::vector<TIfd>& ifds, bool sorted = false)
{
    return ReadBytes(WrapJpeg(BuildTiff(bigEndian, ifds)), sorted);
}

const TLines kCameraLines = {
    "Make=Canon",
    "Model=Canon PowerShot A80",
    "Orientation=6",
    "XResolution=180/1",
    "YResolution=180/1",
    "ResolutionUnit=2",
    "DateTime=2005:07:14 10:22:33",
    "YCbCrPositioning=1",
    "ExposureTime=1/125",
    "FNumber=28/10",
    "ExifVersion=30 32 32 30",
    "DateTimeOriginal=2005:07:14 10:22:33",
    "DateTimeDigitized=2005:07:14 10:22:33",
    "ExposureBiasValue=-1/3",
    "MeteringMode=5",
    "Flash=16",
    "FocalLength=1146/32",
    "FlashPixVersion=30 31 30 30",
    "ColorSpace=1",
    "PixelXDimension=2048",
    "PixelYDimension=1536",
    "Compression=6",
    "Orientation=1",
    "XResolution=180/1",
    "YResolution=180/1",
    "ResolutionUnit=2",
    "JPEGInterchangeFormat=5000",
    "JPEGInterchangeFormatLength=4000",
};

TIfd Dir(std::vector<TEntry> entries, int next = -1)
{
    TIfd ifd;
    ifd.Entries = std::move(entries);
    ifd.Next = next;
    return ifd;
}

} // namespace

TEST(ReadExifInfo, CameraPhotoGivesItsLinesInFileOrderInBothByteOrders)
{
    for (const bool big : {false, true}) {
        for (const bool app0 : {false, true}) {
            SCOPED_TRACE(testing::Message() << "big-endian " << big << ", APP0 " << app0);
            TJpegLayout layout;
            layout.App0 = app0;
            const TOutcome out = ReadBytes(WrapJpeg(BuildTiff(big, CameraIfds()), layout));
            EXPECT_TRUE(out.Result);
            EXPECT_EQ(out.Error, "");
            EXPECT_EQ(out.Lines, kCameraLines);
        }
    }
}

TEST(ReadExifInfo, SortedListKeepsOneOfEqualLinesAndBothOrientations)
{
    const TOutcome out = ReadTiff(false, CameraIfds(), true);
    ASSERT_TRUE(out.Result);
    // XResolution, YResolution and ResolutionUnit occur in IFD0 and IFD1 alike.
    EXPECT_EQ(out.Lines.size(), kCameraLines.size() - 3);
    EXPECT_TRUE(std::is_sorted(out.Lines.begin(), out.Lines.end(), [](const auto& a, const auto& b) {
        return TStringList::CompareText(a, b) < 0;
    }));
    const auto at = std::find(out.Lines.begin(), out.Lines.end(), "Orientation=1");
    ASSERT_NE(at, out.Lines.end());
    ASSERT_NE(at + 1, out.Lines.end());
    EXPECT_EQ(*(at + 1), "Orientation=6");
    // The transfer run takes the date from characters 18 to 27 of the line.
    const auto date = std::find_if(out.Lines.begin(), out.Lines.end(),
                                   [](const auto& l) { return l.rfind("DateTimeOriginal=", 0) == 0; });
    ASSERT_NE(date, out.Lines.end());
    EXPECT_EQ(date->substr(17, 10), "2005:07:14");
}

TEST(ReadExifInfo, HeadersThatAreNotAnExifJpegGiveFalseOrOutOfBounds)
{
    const TBytes exifApp1 = {0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0, 0};
    auto with = [](TBytes head, const TBytes& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    // APP0 of length 0 skips 65534 bytes: the Exif segment right after them is found.
    TBytes wrapped = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x00};
    wrapped.resize(wrapped.size() + 65534, 0x11);
    const TBytes camera = WrapJpeg(BuildTiff(false, CameraIfds()));
    wrapped.insert(wrapped.end(), camera.begin() + 2, camera.end());
    TBytes shortSkip = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x00};
    shortSkip.resize(shortSkip.size() + 65533, 0x11);
    shortSkip.insert(shortSkip.end(), camera.begin() + 2, camera.end());
    TJpegLayout xmp;
    xmp.XmpFirst = true;

    struct TCase
    {
        const char* What;
        TBytes Bytes;
        bool Result;
        const char* Error;
    };
    const std::vector<TCase> cases = {
        {"empty file", {}, false, ""},
        {"one byte", {0xFF}, false, "Out of bounds"},
        {"no start of image", {0xFF, 0xD9, 0xFF, 0xE1}, false, ""},
        {"only the start of image", {0xFF, 0xD8}, false, "Out of bounds"},
        {"no marker after the start", {0xFF, 0xD8, 0x00, 0xE1}, false, ""},
        {"end of image before any APP1", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x03, 0x00, 0xFF, 0xD9}, false, ""},
        {"scan data with a plain byte", {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x04, 1, 2, 0x37, 0x00}, false, ""},
        {"segment skip runs off the end", {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x20, 1, 2}, false, "Out of bounds"},
        {"length 0 skips 65534 bytes", wrapped, true, ""},
        {"one byte short of that skip", shortSkip, false, ""},
        {"XMP before the Exif segment", WrapJpeg(BuildTiff(false, CameraIfds()), xmp), false, ""},
        {"lower-case identifier",
         with({0xFF, 0xD8, 0xFF, 0xE1, 0, 16, 'e', 'x', 'i', 'f', 0, 0}, {'I', 'I', 42, 0}), false, ""},
        {"identifier without its zero word",
         with({0xFF, 0xD8}, {0xFF, 0xE1, 0, 16, 'E', 'x', 'i', 'f', 0, 1, 'I', 'I'}), false, ""},
        {"unknown byte-order mark", with({0xFF, 0xD8}, with(exifApp1, {'I', 'M', 42, 0, 8, 0, 0, 0})), false,
         ""},
        {"not 42", with({0xFF, 0xD8}, with(exifApp1, {'I', 'I', 43, 0, 8, 0, 0, 0})), false, ""},
        {"big-endian 42 read as little-endian",
         with({0xFF, 0xD8}, with(exifApp1, {'I', 'I', 0, 42, 8, 0, 0, 0})), false, ""},
        {"TIFF header cut short", with({0xFF, 0xD8}, with(exifApp1, {'M', 'M', 0, 42, 0, 0})), false,
         "Out of bounds"},
        {"APP1 cut inside its identifier", {0xFF, 0xD8, 0xFF, 0xE1, 0, 16, 'E', 'x'}, false, "Out of bounds"},
        {"IFD0 beyond the file", with({0xFF, 0xD8}, with(exifApp1, {'I', 'I', 42, 0, 0, 1, 0, 0})), false,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const TOutcome out = ReadBytes(c.Bytes);
        EXPECT_EQ(out.Result, c.Result);
        EXPECT_EQ(out.Error, c.Error);
        if (!c.Result) {
            EXPECT_TRUE(out.Lines.empty());
        }
    }
}

TEST(ReadExifInfo, MissingFileRaisesTheOpenError)
{
    TTempDir dir;
    TStringList list;
    const std::string path = dir / "gone.jpg";
    try {
        ReadExifInfo(path, list);
        FAIL() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Datei " + path + " kann nicht geöffnet werden");
    }
}

TEST(ReadExifInfo, ValueTextOfEveryTypeInPlaceAndAtAnOffset)
{
    struct TCase
    {
        const char* What;
        TEntry Entry;
        std::string Text;
    };
    TEntry asciiInPlace = Ascii(0x0001, "abc");
    TEntry longCountZero = Raw(0x0001, 4, 0, 0xDEADBEEF);
    TEntry slongCountZero = Raw(0x0001, 9, 0, 0xFFFFFFFE);
    TEntry byteCountZero = Raw(0x0001, 1, 0, 0x01020304);
    TEntry negativeCount = Raw(0x0001, 3, 0x80000000u, 8);
    TEntry rationalEmpty = Raw(0x0001, 5, 0, 8);
    const std::vector<TCase> cases = {
        {"BYTE in place", Byte(0x0001, {2, 2, 0, 0}), "2,2,0,0"},
        {"BYTE at offset", Byte(0x0001, {0, 1, 127, 128, 255}), "0,1,127,128,255"},
        {"BYTE count 0", byteCountZero, ""},
        {"ASCII in place", asciiInPlace, "abc"},
        {"ASCII keeps blanks", Ascii(0x0001, "Canon   "), "Canon   "},
        {"ASCII drops control characters only", Ascii(0x0001, "a\tb\x1f\x7f\xe4 "), "ab\x7f\xe4 "},
        {"ASCII with inner NUL", Ascii(0x0001, std::string("ab\0cd", 5)), "abcd"},
        {"SHORT in place", Short(0x0001, {8, 65535}), "8,65535"},
        {"SHORT at offset", Short(0x0001, {8, 8, 8}), "8,8,8"},
        {"SHORT negative count", negativeCount, ""},
        {"LONG single", Long(0x0001, {4294967295u}), "4294967295"},
        {"LONG count 0 shows the field", longCountZero, "3735928559"},
        {"LONG at offset", Long(0x0001, {1, 70000}), "1,70000"},
        {"RATIONAL", Rational(0x0001, {180, 1}), "180/1"},
        {"RATIONAL pairs", Rational(0x0001, {1, 2, 4294967295u, 0}), "1/2,4294967295/0"},
        {"RATIONAL count 0", rationalEmpty, ""},
        {"UNDEFINED in place", Undefined(0x0001, {0x30, 0x32, 0x32, 0x30}), "30 32 32 30"},
        {"UNDEFINED at offset", Undefined(0x0001, {0x00, 0xAB, 0xFF, 0x01, 0x0f}), "00 AB FF 01 0F"},
        {"SLONG single", SLong(0x0001, {-5}), "-5"},
        {"SLONG count 0 shows the field signed", slongCountZero, "-2"},
        {"SLONG at offset", SLong(0x0001, {-2147483647 - 1, 7}), "-2147483648,7"},
        {"SRATIONAL", SRational(0x0001, {-1, 3}), "-1/3"},
        {"SRATIONAL pairs", SRational(0x0001, {-7, -8, 1, 2}), "-7/-8,1/2"},
    };
    for (const bool big : {false, true}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.What << (big ? ", big-endian" : ", little-endian"));
            const TOutcome out = ReadTiff(big, {Dir({c.Entry})});
            EXPECT_TRUE(out.Result);
            EXPECT_EQ(out.Lines, TLines{"Tag 0001=" + c.Text});
        }
    }
}

TEST(ReadExifInfo, UnsupportedTypeStopsItsDirectoryOnly)
{
    for (const uint16_t type : std::vector<uint16_t>{0, 6, 8, 11, 12, 0xFFFF}) {
        SCOPED_TRACE(type);
        // In IFD0: the earlier lines stay, the rest and the chain are not read.
        TOutcome out =
            ReadTiff(false, {Dir({Ascii(0x010F, "Canon"), Raw(0x0112, type, 1, 6), Ascii(0x0110, "X")}, 1),
                             Dir({Short(0x0103, {6})})});
        EXPECT_FALSE(out.Result);
        EXPECT_EQ(out.Lines, TLines{"Make=Canon"});

        // In the Exif directory: one error line, IFD0 and its chain go on.
        out = ReadTiff(true, {Dir({Ascii(0x010F, "Canon"), Pointer(0x8769, 1), Ascii(0x0110, "X")}, 2),
                              Dir({Rational(0x829A, {1, 60}), Raw(0x9999, type, 1, 0), Short(0xA001, {1})}),
                              Dir({Short(0x0103, {6})})});
        EXPECT_TRUE(out.Result);
        EXPECT_EQ(out.Lines, (TLines{"Make=Canon", "ExposureTime=1/60", "Exif IFD=[ ERROR ]", "Model=X",
                                     "Compression=6"}));
    }
}

TEST(ReadExifInfo, PointedDirectoriesAreNamedByTheirOwnTable)
{
    TOutcome out =
        ReadTiff(false, {Dir({Pointer(0x8825, 1), Pointer(0x8769, 2)}),
                         Dir({Byte(0x0000, {2, 2, 0, 0}), Short(0x001B, {1}), Pointer(0x8769, 4)}),
                         Dir({Short(0xA401, {0}), Short(0xA210, {2}), Pointer(0xA005, 3)}),
                         Dir({Ascii(0x0001, "R98"), Long(0x1001, {640})}), Dir({Short(0x0112, {8})})});
    EXPECT_TRUE(out.Result);
    // A pointer tag in a GPS directory is still followed, its entries named
    // from the main table.
    EXPECT_EQ(out.Lines,
              (TLines{"GPSVersionID=2,2,0,0", "Tag 001B=1", "Orientation=8", "Tag A401=0",
                      "FicalPlaneResolutionUnit=2", "InteroperabilityIndex=R98", "RelatedImageWidth=640"}));

    // Failed pointed-to directories give a line named in the pointing directory.
    out = ReadTiff(false,
                   {Dir({Raw(0x8825, 4, 1, 60000), Raw(0x8769, 4, 1, 70000), Raw(0xA005, 4, 1, 60000)})});
    EXPECT_TRUE(out.Result);
    EXPECT_EQ(out.Lines, (TLines{"GPS Info Pointer=[ ERROR ]", "Exif IFD=[ ERROR ]",
                                 "Interoperability IFD Pointer=[ ERROR ]"}));
}

TEST(TagName, TablesHoldExactlyTheirTags)
{
    auto named = [](uint8_t kind) {
        int n = 0;
        for (uint32_t tag = 0; tag <= 0xFFFF; ++tag)
            if (TagName(kind, static_cast<uint16_t>(tag)).rfind("Tag ", 0) != 0)
                ++n;
        return n;
    };
    EXPECT_EQ(named(kIfdMain), 74);
    EXPECT_EQ(named(kIfdExif), 74);
    EXPECT_EQ(named(kIfdGps), 27);
    EXPECT_EQ(named(kIfdInterop), 5);
    EXPECT_EQ(named(4), 0);
    EXPECT_EQ(TagName(kIfdExif, 0xA210), "FicalPlaneResolutionUnit");
    EXPECT_EQ(TagName(kIfdMain, 0x9003), "DateTimeOriginal");
    EXPECT_EQ(TagName(kIfdGps, 0x001A), "GPSDestDistance");
    EXPECT_EQ(TagName(kIfdGps, 0x0112), "Tag 0112");
    EXPECT_EQ(TagName(kIfdInterop, 0x1002), "RelatedImageLength");
    EXPECT_EQ(TagName(kIfdExif, 0xa401), "Tag A401");
    EXPECT_EQ(TagName(200, 0x0112), "Tag 0112");
    EXPECT_EQ(CleanString(std::string("\x01\x1f a\0b\x7f\xff", 8)), " ab\x7f\xff");
}

TEST(ReadExifInfo, PositionsAreBoundedTo65535BytesPastTheHeader)
{
    // A BYTE value of 5 components whose data starts at the given offset; the
    // run may go on past the bound, only the jump is bounded.
    auto at = [](uint32_t offset, uint16_t type, uint32_t count) {
        TBytes tiff = BuildTiff(false, {Dir({Raw(0x0001, type, count, offset)})});
        if (offset < 100000) {
            tiff.resize(std::max<size_t>(tiff.size(), offset + 8), 0);
            for (uint32_t i = 0; i < 8; ++i)
                tiff[offset + i] = static_cast<uint8_t>(i + 1);
        }
        return ReadBytes(WrapJpeg(tiff));
    };
    TOutcome out = at(65535, 1, 5);
    EXPECT_TRUE(out.Result);
    EXPECT_EQ(out.Lines, TLines{"Tag 0001=1,2,3,4,5"});
    out = at(65536, 1, 5);
    EXPECT_FALSE(out.Result);
    EXPECT_TRUE(out.Lines.empty());
    // Rationals are always positioned, even when there is nothing to read.
    out = at(65535, 5, 0);
    EXPECT_TRUE(out.Result);
    EXPECT_EQ(out.Lines, TLines{"Tag 0001="});
    EXPECT_FALSE(at(65536, 5, 0).Result);
    EXPECT_FALSE(at(0xFFFFFFFFu, 5, 1).Result);
    // An offset that would wrap round to the start of the file is refused too.
    EXPECT_FALSE(at(0xFFFFFFF4u, 1, 5).Result);
}

TEST(ReadExifInfo, NextDirectoryLinkBeyondTheBoundFailsTheChain)
{
    auto ifds = CameraIfds();
    ifds[2].NextRaw = 70000;
    TOutcome out = ReadTiff(false, ifds);
    EXPECT_FALSE(out.Result);
    EXPECT_EQ(out.Lines, kCameraLines);

    // A chained directory that fails makes IFD0 fail; one that reads through does not.
    ifds[2].NextRaw.reset();
    ifds[2].Next = 3;
    ifds.push_back(Dir({Short(0x0112, {3})}));
    out = ReadTiff(true, ifds);
    EXPECT_TRUE(out.Result);
    EXPECT_EQ(out.Lines.back(), "Orientation=3");
    ifds[3].Entries.push_back(Raw(0x0001, 11, 1, 0));
    EXPECT_FALSE(ReadTiff(true, ifds).Result);
}

TEST(ReadExifInfo, TruncatedDirectoriesFailWithoutEscapingExceptions)
{
    const TBytes full = WrapJpeg(BuildTiff(false, CameraIfds()), {false, false, 0});
    // Cut the file everywhere after the TIFF header: the directories fail,
    // nothing escapes, and no line is ever made from missing bytes.
    const size_t tiffStart = 12;
    for (size_t cut = tiffStart + 8; cut < full.size() - 81; ++cut) {
        SCOPED_TRACE(cut);
        const TOutcome out = ReadBytes(TBytes(full.begin(), full.begin() + static_cast<long>(cut)));
        EXPECT_EQ(out.Error, "");
        EXPECT_FALSE(out.Result);
        ASSERT_LE(out.Lines.size(), kCameraLines.size() + 1);
        for (const auto& line : out.Lines)
            EXPECT_TRUE(line == "Exif IFD=[ ERROR ]" ||
                        std::find(kCameraLines.begin(), kCameraLines.end(), line) != kCameraLines.end())
                << line;
    }
}

TEST(ReadExifInfo, CyclesEndAsFailuresWhereTheyClose)
{
    // IFD0 chained to itself, and IFD1 chained back to IFD0.
    TOutcome out = ReadTiff(false, {Dir({Short(0x0112, {6})}, 0)});
    EXPECT_FALSE(out.Result);
    EXPECT_EQ(out.Lines, TLines{"Orientation=6"});
    out = ReadTiff(false, {Dir({Short(0x0112, {6})}, 1), Dir({Short(0x0112, {1})}, 0)});
    EXPECT_FALSE(out.Result);
    EXPECT_EQ(out.Lines, (TLines{"Orientation=6", "Orientation=1"}));

    // The Exif pointer leads back to IFD0: an error line, IFD0 itself is fine.
    out = ReadTiff(true, {Dir({Short(0x0112, {6}), Pointer(0x8769, 0)})});
    EXPECT_TRUE(out.Result);
    EXPECT_EQ(out.Lines, (TLines{"Orientation=6", "Exif IFD=[ ERROR ]"}));

    // The Exif directory points to itself: the error line comes from inside it.
    out = ReadTiff(true, {Dir({Pointer(0x8769, 1)}), Dir({Short(0xA001, {1}), Pointer(0x8769, 1)})});
    EXPECT_TRUE(out.Result);
    EXPECT_EQ(out.Lines, (TLines{"ColorSpace=1", "Exif IFD=[ ERROR ]"}));

    // A directory shared by two pointers is read twice: that is no cycle.
    out = ReadTiff(false, {Dir({Pointer(0x8769, 1), Pointer(0x8825, 1)}), Dir({Short(0x0001, {5})})});
    EXPECT_TRUE(out.Result);
    EXPECT_EQ(out.Lines, (TLines{"Tag 0001=5", "GPSLatitudeRef=5"}));
}

TEST(ReadExifInfo, DeepChainsAndNestingFailAtTheBoundInsteadOfOverflowingTheStack)
{
    // 10,000 empty directories chained inside 64 KiB.
    std::vector<TIfd> chain;
    for (int i = 0; i < 10000; ++i)
        chain.push_back(Dir({}, i + 1 < 10000 ? i + 1 : -1));
    chain[0].Entries.push_back(Short(0x0112, {6}));
    TOutcome out = ReadTiff(false, chain);
    EXPECT_FALSE(out.Result);
    EXPECT_EQ(out.Lines, TLines{"Orientation=6"});

    // A chain within the bound reads through.
    chain.resize(kMaxIfdNesting);
    chain.back().Next = -1;
    EXPECT_TRUE(ReadTiff(false, chain).Result);

    // 4,000 directories each pointing to the next: the innermost one within
    // the bound reports the failure, every outer one reads through.
    std::vector<TIfd> nested;
    for (int i = 0; i < 4000; ++i)
        nested.push_back(Dir({Pointer(0x8769, i + 1 < 4000 ? i + 1 : 0)}));
    out = ReadTiff(true, nested);
    EXPECT_TRUE(out.Result);
    EXPECT_EQ(out.Lines, TLines{"Exif IFD=[ ERROR ]"});
}

TEST(ReadExifInfo, SharedDirectoriesAndHugeCountsStayWithinTheWorkAndTextBounds)
{
    // 28 levels, each directory pointing twice to the next: 2^28 readings
    // without a bound.
    std::vector<TIfd> doubling;
    for (int i = 0; i < 28; ++i)
        doubling.push_back(Dir({Pointer(0x8769, i + 1), Pointer(0x8769, i + 1)}));
    doubling.push_back(Dir({Ascii(0x0001, "leaf")}));
    const auto start = std::chrono::steady_clock::now();
    TOutcome out = ReadTiff(false, doubling);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_FALSE(out.Result);
    EXPECT_LE(out.Lines.size(), size_t{kMaxExifWork});
    EXPECT_GT(out.Lines.size(), 1000u); // the bound is generous: many readings happen first

    // A large value in a shared directory: the bounds stop the readings long
    // before gigabytes of text are made.
    doubling.back() = Dir({Undefined(0x927C, std::vector<uint32_t>(30000, 0xAB))});
    out = ReadTiff(false, doubling);
    EXPECT_FALSE(out.Result);
    size_t text = 0;
    for (const auto& line : out.Lines)
        text += line.size();
    EXPECT_LE(text, kMaxExifText);
    EXPECT_GE(out.Lines.size(), 10u);

    // Counts that cannot fit into the file fail their directory before any
    // allocation; a smaller entry after them in another directory still reads.
    for (const uint16_t type : std::vector<uint16_t>{1, 2, 3, 5, 7, 10}) {
        SCOPED_TRACE(type);
        out = ReadTiff(
            false, {Dir({Pointer(0x8769, 1), Short(0x0112, {6})}), Dir({Raw(0x0001, type, 0x7FFFFFFF, 8)})});
        EXPECT_TRUE(out.Result);
        EXPECT_EQ(out.Lines, (TLines{"Exif IFD=[ ERROR ]", "Orientation=6"}));
    }
}

TEST(ReadExifInfo, CameraPhotoTakesAHandfulOfWindowReads)
{
    TJpegLayout layout;
    layout.App0 = true;
    layout.ScanBytes = 100000;
    auto ifds = CameraIfds();
    ifds[1].Entries.push_back(Undefined(0x927C, std::vector<uint32_t>(3000, 0x42))); // a maker note
    const TBytes photo = WrapJpeg(BuildTiff(false, ifds), layout);
    auto counting = std::make_unique<TCountingStream>(photo);
    TCountingStream* calls = counting.get();
    TphExifStream stream(std::move(counting));
    TStringList list;
    ASSERT_TRUE(ReadExifInfo(stream, list));
    EXPECT_EQ(list.Count(), static_cast<int>(kCameraLines.size()) + 1);
    EXPECT_LE(calls->Reads, 5); // one per 1024 bytes of the segment, none for jumps back
    EXPECT_EQ(calls->MaxRead, 1024);
}

TEST(exifinfo, PrintsNameLinesAndOutcomePerFile)
{
    const std::string tool = std::string(FI_BINARY_DIR) + "/tools/exifinfo" FI_EXE_SUFFIX;
    if (!std::filesystem::exists(tool))
        GTEST_SKIP() << "exifinfo not built";
    TTempDir dir;
    const std::string camera = dir.Write("IMG_0042.JPG", WrapJpeg(BuildTiff(true, CameraIfds())));
    const std::string bad = dir.Write("bad.jpg", {0xFF, 0xD8, 0x00});
    const std::string cut = dir.Write("cut.jpg", {0xFF});
    const std::string missing = dir / "missing.jpg";
    const std::string command = tool + " " + camera + " " + bad + " " + cut + " " + missing;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    ASSERT_TRUE(pipe);
    std::string output;
    char chunk[4096];
    while (const size_t n = fread(chunk, 1, sizeof chunk, pipe.get()))
        output.append(chunk, n);
    const int status = pclose(pipe.release());

    std::string expected = "== IMG_0042.JPG\n";
    for (const auto& line : kCameraLines)
        expected += line + "\n";
    expected += "result=true\n== bad.jpg\nresult=false\n== cut.jpg\nerror=Out of bounds\n";
    expected += "== missing.jpg\nerror=Datei " + missing + " kann nicht geöffnet werden\n";
    EXPECT_EQ(output, expected);
    EXPECT_EQ(status, 0);
}

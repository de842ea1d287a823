#include "meta/phJpegInfo.h"

#include "base/Classes.h"
#include "base/SysUtils.h"
#include "meta/CheckedBytes.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <new>

namespace {

struct TTagEntry
{
    uint16_t Tag;
    const char* Name;
};

// Tables sorted by tag. The names are part of the output format, typos
// ("FicalPlaneResolutionUnit") included.
constexpr TTagEntry kMainTags[] = {
    {0x0100, "ImageWidth"},
    {0x0101, "ImageLength"},
    {0x0102, "BitsPerSample"},
    {0x0103, "Compression"},
    {0x0106, "PhotometricInterpretation"},
    {0x010E, "ImageDescription"},
    {0x010F, "Make"},
    {0x0110, "Model"},
    {0x0111, "StripOffsets"},
    {0x0112, "Orientation"},
    {0x0115, "SamplesPerPixel"},
    {0x0116, "RowsPerStrip"},
    {0x0117, "StripByteCounts"},
    {0x011A, "XResolution"},
    {0x011B, "YResolution"},
    {0x011C, "PlanarConfiguration"},
    {0x0128, "ResolutionUnit"},
    {0x012D, "TransferFunction"},
    {0x0131, "Software"},
    {0x0132, "DateTime"},
    {0x013B, "Artist"},
    {0x013E, "WhitePoint"},
    {0x013F, "PrimaryChromaticities"},
    {0x0201, "JPEGInterchangeFormat"},
    {0x0202, "JPEGInterchangeFormatLength"},
    {0x0211, "YCbCrCoefficients"},
    {0x0212, "YCbCrSubSampling"},
    {0x0213, "YCbCrPositioning"},
    {0x0214, "ReferenceBlackWhite"},
    {0x8298, "Copyright"},
    {0x829A, "ExposureTime"},
    {0x829D, "FNumber"},
    {0x8769, "Exif IFD"},
    {0x8822, "ExposureProgram"},
    {0x8824, "SpectralSensitivity"},
    {0x8825, "GPS Info Pointer"},
    {0x8827, "ISOSpeedRatings"},
    {0x8828, "OECF"},
    {0x9000, "ExifVersion"},
    {0x9003, "DateTimeOriginal"},
    {0x9004, "DateTimeDigitized"},
    {0x9101, "ComponentsConfiguration"},
    {0x9102, "CompressedBitsPerPixel"},
    {0x9201, "ShutterSpeedValue"},
    {0x9202, "ApertureValue"},
    {0x9203, "BrightnessValue"},
    {0x9204, "ExposureBiasValue"},
    {0x9205, "MaxApertureValue"},
    {0x9206, "SubjectDistance"},
    {0x9207, "MeteringMode"},
    {0x9208, "LightSource"},
    {0x9209, "Flash"},
    {0x920A, "FocalLength"},
    {0x927C, "MakerNote"},
    {0x9286, "UserComment"},
    {0x9290, "SubSecTime"},
    {0x9291, "SubSecTimeOriginal"},
    {0x9292, "SubSecTimeDigitized"},
    {0xA000, "FlashPixVersion"},
    {0xA001, "ColorSpace"},
    {0xA002, "PixelXDimension"},
    {0xA003, "PixelYDimension"},
    {0xA005, "Interoperability IFD Pointer"},
    {0xA20B, "FlashEnergy"},
    {0xA20C, "SpatialFrequencyResponse"},
    {0xA20E, "FocalPlaneXResolution"},
    {0xA20F, "FocalPlaneYResolution"},
    {0xA210, "FicalPlaneResolutionUnit"},
    {0xA214, "SubjectLocation"},
    {0xA215, "ExposureIndex"},
    {0xA217, "SensingMethod"},
    {0xA300, "FileSource"},
    {0xA301, "SceneType"},
    {0xA302, "CFAPattern"},
};

constexpr TTagEntry kGpsTags[] = {
    {0x0000, "GPSVersionID"},       {0x0001, "GPSLatitudeRef"},
    {0x0002, "GPSLatitude"},        {0x0003, "GPSLongitudeRef"},
    {0x0004, "GPSLongitude"},       {0x0005, "GPSAltitudeRef"},
    {0x0006, "GPSAltitude"},        {0x0007, "GPSTimeStamp"},
    {0x0008, "GPSSatellites"},      {0x0009, "GPSStatus"},
    {0x000A, "GPSMeasureMode"},     {0x000B, "GPSDOP"},
    {0x000C, "GPSSpeedRef"},        {0x000D, "GPSSpeed"},
    {0x000E, "GPSTrackRef"},        {0x000F, "GPSTrack"},
    {0x0010, "GPSImgDirectionRef"}, {0x0011, "GPSImgDirection"},
    {0x0012, "GPSMapDatum"},        {0x0013, "GPSDestLatitudeRef"},
    {0x0014, "GPSDestLatitude"},    {0x0015, "GPSDestLongitudeRef"},
    {0x0016, "GPSDestLongitude"},   {0x0017, "GPSDestBearingRef"},
    {0x0018, "GPSDestBearing"},     {0x0019, "GPSDestDistanceRef"},
    {0x001A, "GPSDestDistance"},
};

constexpr TTagEntry kInteropTags[] = {
    {0x0001, "InteroperabilityIndex"},  {0x0002, "InteroperabilityVersion"},
    {0x1000, "RelatedImageFileFormat"}, {0x1001, "RelatedImageWidth"},
    {0x1002, "RelatedImageLength"},
};

template <size_t N> const char* FindTag(const TTagEntry (&table)[N], uint16_t tag)
{
    const auto* end = table + N;
    const auto* it =
        std::lower_bound(table, end, tag, [](const TTagEntry& e, uint16_t t) { return e.Tag < t; });
    return it != end && it->Tag == tag ? it->Name : nullptr;
}

constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagGpsIfd = 0x8825;
constexpr uint16_t kTagInteropIfd = 0xA005;

// Past this many bytes a value's declared size is checked against the rest of
// the file before it is read; smaller values simply fail at the file's end.
constexpr int64_t kSmallValue = 4096;

Exception OutOfBounds()
{
    return Exception("Out of bounds");
}

int32_t ToPosition(int64_t value)
{
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        throw OutOfBounds();
    return static_cast<int32_t>(value);
}

template <typename T> void AppendNumber(std::string& s, T value)
{
    char digits[24];
    const auto res = std::to_chars(digits, digits + sizeof digits, value);
    s.append(digits, res.ptr);
}

void AppendHexByte(std::string& s, uint8_t b)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    s.push_back(kHex[b >> 4]);
    s.push_back(kHex[b & 15]);
}

} // namespace

std::string TagName(uint8_t kind, uint16_t tag)
{
    const char* name = nullptr;
    switch (kind) {
    case kIfdMain:
    case kIfdExif:
        name = FindTag(kMainTags, tag);
        break;
    case kIfdGps:
        name = FindTag(kGpsTags, tag);
        break;
    case kIfdInterop:
        name = FindTag(kInteropTags, tag);
        break;
    default:
        break;
    }
    if (name)
        return name;
    std::string s = "Tag ";
    AppendHexByte(s, static_cast<uint8_t>(tag >> 8));
    AppendHexByte(s, static_cast<uint8_t>(tag & 0xFF));
    return s;
}

std::string CleanString(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (const char c : s)
        if (static_cast<unsigned char>(c) >= 0x20)
            out.push_back(c);
    return out;
}

// Marks a directory as being read for the life of one ReadIFD call, so that a
// link back to it (a cycle) or nesting beyond kMaxIfdNesting fails at once.
class TphExifStream::TActiveIfd
{
public:
    TActiveIfd(std::vector<uint32_t>& active, uint32_t offset)
        : FActive(active)
    {
        if (active.size() >= kMaxIfdNesting ||
            std::find(active.begin(), active.end(), offset) != active.end())
            throw Exception("Exif directory loop");
        active.push_back(offset);
    }
    ~TActiveIfd() { FActive.pop_back(); }
    TActiveIfd(const TActiveIfd&) = delete;
    TActiveIfd& operator=(const TActiveIfd&) = delete;

private:
    std::vector<uint32_t>& FActive;
};

void TphExifStream::SetPosition(int32_t value)
{
    if (FTiffOffset != 0 && static_cast<int64_t>(value) > static_cast<int64_t>(FTiffOffset) + 65535)
        throw Exception("Exif section out of bounds");
    TphFileStream::SetPosition(value);
}

void TphExifStream::SetTiffPosition(uint32_t offset)
{
    const int64_t target = static_cast<int64_t>(FTiffOffset) + offset;
    if (FTiffOffset != 0 && target > static_cast<int64_t>(FTiffOffset) + 65535)
        throw Exception("Exif section out of bounds");
    SetPosition(ToPosition(target));
}

void TphExifStream::Spend(uint32_t units)
{
    if (units > FWorkLeft) {
        FWorkLeft = 0;
        throw Exception("Exif data too large");
    }
    FWorkLeft -= units;
}

void TphExifStream::AddLine(TStringList& list, const std::string& line)
{
    if (line.size() > FTextLeft) {
        FTextLeft = 0;
        throw Exception("Exif data too large");
    }
    FTextLeft -= line.size();
    list.Add(line);
}

bool TphExifStream::ReadValue(int32_t entry, uint16_t type, uint32_t count, uint32_t field,
                              std::string& value)
{
    // Bytes per component and how many components still fit in the value field.
    // Rationals never fit: -1 makes every count, 0 included, go to the offset.
    uint32_t size = 0;
    int64_t inPlace = -1;
    switch (type) {
    case 1: // BYTE
    case 2: // ASCII
    case 7: // UNDEFINED
        size = 1;
        inPlace = 4;
        break;
    case 3: // SHORT
        size = 2;
        inPlace = 2;
        break;
    case 4: // LONG
    case 9: // SLONG
        if (count <= 1) {
            // The value field is the value; nothing more is read.
            if (type == 4)
                AppendNumber(value, field);
            else
                AppendNumber(value, static_cast<int32_t>(field));
            return true;
        }
        size = 4;
        break;
    case 5:  // RATIONAL
    case 10: // SRATIONAL
        size = 8;
        break;
    default:
        return false;
    }

    // The position is set before the count is looked at, so an offset beyond
    // the section fails even for an empty value.
    if (static_cast<int64_t>(count) <= inPlace)
        SetPosition(ToPosition(static_cast<int64_t>(entry) + 8));
    else
        SetTiffPosition(field);

    // A count that is negative as a signed number reads nothing.
    const auto n = static_cast<int32_t>(count);
    if (n <= 0)
        return true;
    const int64_t bytes = static_cast<int64_t>(n) * size;
    if (bytes > kSmallValue &&
        !CountFits(static_cast<uint64_t>(BytesFrom(Position())), 0, static_cast<uint32_t>(n), size))
        throw OutOfBounds();
    Spend(static_cast<uint32_t>(n));

    if (type == 2) {
        std::string text(static_cast<size_t>(n), '\0');
        ReadBytes(text, n);
        value = CleanString(text);
        return true;
    }
    if (type == 1 || type == 7) {
        // Byte runs (maker notes among them) straight from the window.
        value.reserve(std::min<size_t>(static_cast<size_t>(n) * 4, FTextLeft + 1));
        bool first = true;
        ReadEachByte(n, [&](uint8_t b) {
            if (value.size() > FTextLeft)
                throw Exception("Exif data too large");
            if (!first)
                value.push_back(type == 1 ? ',' : ' ');
            first = false;
            if (type == 1)
                AppendNumber(value, b);
            else
                AppendHexByte(value, b);
        });
        return true;
    }
    for (int32_t i = 0; i < n; ++i) {
        if (value.size() > FTextLeft)
            throw Exception("Exif data too large");
        switch (type) {
        case 3:
            if (i > 0)
                value.push_back(',');
            AppendNumber(value, ReadWord());
            break;
        case 4:
            if (i > 0)
                value.push_back(',');
            AppendNumber(value, ReadLong());
            break;
        case 9:
            if (i > 0)
                value.push_back(',');
            AppendNumber(value, static_cast<int32_t>(ReadLong()));
            break;
        case 5: {
            if (i > 0)
                value.push_back(',');
            const uint32_t num = ReadLong();
            const uint32_t den = ReadLong();
            AppendNumber(value, num);
            value.push_back('/');
            AppendNumber(value, den);
            break;
        }
        default: { // 10, SRATIONAL
            if (i > 0)
                value.push_back(',');
            const auto num = static_cast<int32_t>(ReadLong());
            const auto den = static_cast<int32_t>(ReadLong());
            AppendNumber(value, num);
            value.push_back('/');
            AppendNumber(value, den);
            break;
        }
        }
    }
    return true;
}

bool TphExifStream::ReadIFD(uint32_t offset, uint8_t kind, TStringList& list)
{
    // Every failure inside, nested directories included, ends this directory
    // with false; the lines added so far stay in the list.
    try {
        const TActiveIfd active(FActive, offset);
        Spend(1);
        SetTiffPosition(offset);
        const uint16_t n = ReadWord();
        for (uint32_t i = 0; i < n; ++i) {
            Spend(1);
            const int32_t entry = Position();
            const uint16_t tag = ReadWord();
            const uint16_t type = ReadWord();
            const uint32_t count = ReadLong();
            const uint32_t field = ReadLong();

            std::string value;
            if (!ReadValue(entry, type, count, field, value))
                return false;

            uint8_t pointed = 0xFF;
            if (tag == kTagExifIfd)
                pointed = kIfdExif;
            else if (tag == kTagGpsIfd)
                pointed = kIfdGps;
            else if (tag == kTagInteropIfd)
                pointed = kIfdInterop;

            if (pointed != 0xFF) {
                if (!ReadIFD(field, pointed, list))
                    AddLine(list, TagName(kind, tag) + "=[ ERROR ]");
            } else {
                std::string line = TagName(kind, tag);
                line.push_back('=');
                line += value;
                AddLine(list, line);
            }
            SetPosition(ToPosition(static_cast<int64_t>(entry) + 12));
        }

        const uint32_t link = ReadLong();
        if (link > 65535)
            return false;
        if (link == 0)
            return true;
        return ReadIFD(link, kind, list);
    } catch (const Exception&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool ReadExifInfo(TphExifStream& stream, TStringList& list)
{
    if (stream.Eof())
        return false;
    if (stream.ReadWord() != 0xFFD8)
        return false;

    // Segment scan up to the first APP1. Every other marker, stand-alone ones
    // and the scan data after SOS included, is taken to carry a length.
    for (;;) {
        if (stream.ReadByte() != 0xFF)
            return false;
        const uint8_t marker = stream.ReadByte();
        if (marker == 0xD9)
            return false;
        if (marker == 0xE1)
            break;
        const uint16_t length = stream.ReadWord();
        // The length counts its own two bytes; 0 and 1 wrap to 65534 and 65535.
        const auto skip = static_cast<uint16_t>(length - 2);
        stream.SetPosition(ToPosition(static_cast<int64_t>(stream.Position()) + skip));
    }

    stream.ReadWord(); // segment length, not needed
    std::string id(4, '\0');
    stream.ReadBytes(id, 4);
    if (id != "Exif" || stream.ReadWord() != 0)
        return false;

    stream.SetTiffOffset(static_cast<uint32_t>(stream.Position()));
    const uint16_t order = stream.ReadWord();
    if (order == 0x4949)
        stream.SetBigEndian(false);
    else if (order == 0x4D4D)
        stream.SetBigEndian(true);
    else
        return false;
    if (stream.ReadWord() != 42)
        return false;
    const uint32_t ifd0 = stream.ReadLong();
    return stream.ReadIFD(ifd0, kIfdMain, list);
}

bool ReadExifInfo(const std::string& fileName, TStringList& list)
{
    TphExifStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    return ReadExifInfo(stream, list);
}

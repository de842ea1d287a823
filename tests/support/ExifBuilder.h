#pragma once
// The one builder of EXIF data for the tests and the benchmarks: TIFF blocks in
// either byte order with every directory, entry, value and link placed as a
// test asks (hostile ones included), the Exif segment around them, JPEG files
// around that, and the camera photo of the watcher tests (BuildExifJpeg).
// Everything in exifbuild is header-only, so a benchmark can use it without
// the test library; BuildExifJpeg lives in fi_testsupport.

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace exifbuild {

using TBytes = std::vector<uint8_t>;

struct TEntry
{
    uint16_t Tag = 0;
    uint16_t Type = 0;
    std::vector<uint32_t> Values;   // components; rationals as numerator, denominator pairs
    std::string Text;               // bytes of an ASCII value, written as given
    std::optional<uint32_t> Count;  // declared count instead of the natural one
    std::optional<uint32_t> Field;  // raw value field; no data is written then
    int PointsTo = -1;              // value field := offset of that directory
    std::optional<uint32_t> DataAt; // fixed offset of data that does not fit the value field
};

struct TIfd
{
    std::vector<TEntry> Entries;
    int Next = -1;                   // index of the chained directory
    std::optional<uint32_t> NextRaw; // raw next-directory link
    std::optional<uint32_t> At;      // fixed offset from the TIFF header
};

inline TEntry Byte(uint16_t tag, std::vector<uint32_t> v)
{
    return {tag, 1, std::move(v), {}, {}, {}, -1, {}};
}
inline TEntry Ascii(uint16_t tag, const std::string& s)
{
    return {tag, 2, {}, s + std::string(1, '\0'), {}, {}, -1, {}};
}
inline TEntry Short(uint16_t tag, std::vector<uint32_t> v)
{
    return {tag, 3, std::move(v), {}, {}, {}, -1, {}};
}
inline TEntry Long(uint16_t tag, std::vector<uint32_t> v)
{
    return {tag, 4, std::move(v), {}, {}, {}, -1, {}};
}
inline TEntry Rational(uint16_t tag, std::vector<uint32_t> v)
{
    return {tag, 5, std::move(v), {}, {}, {}, -1, {}};
}
inline TEntry Undefined(uint16_t tag, std::vector<uint32_t> v)
{
    return {tag, 7, std::move(v), {}, {}, {}, -1, {}};
}
inline TEntry SLong(uint16_t tag, std::vector<int32_t> v)
{
    return {tag, 9, std::vector<uint32_t>(v.begin(), v.end()), {}, {}, {}, -1, {}};
}
inline TEntry SRational(uint16_t tag, std::vector<int32_t> v)
{
    return {tag, 10, std::vector<uint32_t>(v.begin(), v.end()), {}, {}, {}, -1, {}};
}
inline TEntry Pointer(uint16_t tag, int ifd)
{
    return {tag, 4, {}, {}, 1u, {}, ifd, {}};
}
inline TEntry Raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t field)
{
    return {tag, type, {}, {}, count, field, -1, {}};
}

// Writers of one value at an offset, growing the block as needed; also for
// spoiling a built block in a test.
inline void Grow(TBytes& bytes, size_t size)
{
    if (bytes.size() < size)
        bytes.resize(size);
}
inline void Put8(TBytes& bytes, size_t at, uint32_t v)
{
    Grow(bytes, at + 1);
    bytes[at] = static_cast<uint8_t>(v);
}
inline void Put16(TBytes& bytes, size_t at, uint32_t v, bool bigEndian)
{
    Put8(bytes, at + (bigEndian ? 0 : 1), v >> 8);
    Put8(bytes, at + (bigEndian ? 1 : 0), v);
}
inline void Put32(TBytes& bytes, size_t at, uint32_t v, bool bigEndian)
{
    Put16(bytes, at + (bigEndian ? 0 : 2), v >> 16, bigEndian);
    Put16(bytes, at + (bigEndian ? 2 : 0), v & 0xFFFF, bigEndian);
}

inline size_t ComponentSize(uint16_t type)
{
    switch (type) {
    case 3:
        return 2;
    case 4:
    case 5:
    case 9:
    case 10:
        return 4; // rationals: per half
    default:
        return 1;
    }
}

/// The TIFF block: header, then the directories in order (or at their At),
/// each followed by the data of its entries that do not fit into four bytes
/// (unless placed by DataAt), each padded to an even length.
inline TBytes BuildTiff(bool bigEndian, const std::vector<TIfd>& ifds)
{
    TBytes w;
    std::vector<size_t> at(ifds.size());
    // First pass: where each directory goes.
    size_t pos = 8;
    for (size_t i = 0; i < ifds.size(); ++i) {
        if (ifds[i].At)
            pos = *ifds[i].At;
        at[i] = pos;
        pos += 2 + 12 * ifds[i].Entries.size() + 4;
        for (const auto& e : ifds[i].Entries) {
            const size_t bytes = e.Type == 2 ? e.Text.size() : e.Values.size() * ComponentSize(e.Type);
            if (!e.Field && e.PointsTo < 0 && !e.DataAt && bytes > 4)
                pos += bytes + (bytes & 1);
        }
    }
    Put8(w, 0, bigEndian ? 'M' : 'I');
    Put8(w, 1, bigEndian ? 'M' : 'I');
    Put16(w, 2, 42, bigEndian);
    Put32(w, 4, ifds.empty() ? 0 : static_cast<uint32_t>(at[0]), bigEndian);
    for (size_t i = 0; i < ifds.size(); ++i) {
        const auto& ifd = ifds[i];
        size_t p = at[i];
        size_t data = p + 2 + 12 * ifd.Entries.size() + 4;
        Put16(w, p, static_cast<uint32_t>(ifd.Entries.size()), bigEndian);
        p += 2;
        for (const auto& e : ifd.Entries) {
            const size_t per = ComponentSize(e.Type);
            const size_t naturalCount = e.Type == 2                   ? e.Text.size()
                                        : e.Type == 5 || e.Type == 10 ? e.Values.size() / 2
                                                                      : e.Values.size();
            const size_t bytes = e.Type == 2 ? e.Text.size() : e.Values.size() * per;
            Put16(w, p, e.Tag, bigEndian);
            Put16(w, p + 2, e.Type, bigEndian);
            Put32(w, p + 4, e.Count ? *e.Count : static_cast<uint32_t>(naturalCount), bigEndian);
            size_t target = p + 8;
            if (e.PointsTo >= 0) {
                Put32(w, p + 8, static_cast<uint32_t>(at[static_cast<size_t>(e.PointsTo)]), bigEndian);
            } else if (e.Field) {
                Put32(w, p + 8, *e.Field, bigEndian);
            } else {
                if (bytes > 4 && e.DataAt) {
                    target = *e.DataAt;
                    Put32(w, p + 8, static_cast<uint32_t>(target), bigEndian);
                } else if (bytes > 4) {
                    Put32(w, p + 8, static_cast<uint32_t>(data), bigEndian);
                    target = data;
                    data += bytes + (bytes & 1);
                }
                if (e.Type == 2) {
                    for (size_t k = 0; k < e.Text.size(); ++k)
                        Put8(w, target + k, static_cast<uint8_t>(e.Text[k]));
                } else {
                    for (size_t k = 0; k < e.Values.size(); ++k) {
                        if (per == 1)
                            Put8(w, target + k, e.Values[k]);
                        else if (per == 2)
                            Put16(w, target + 2 * k, e.Values[k], bigEndian);
                        else
                            Put32(w, target + 4 * k, e.Values[k], bigEndian);
                    }
                }
            }
            p += 12;
        }
        uint32_t link = 0;
        if (ifd.NextRaw)
            link = *ifd.NextRaw;
        else if (ifd.Next >= 0)
            link = static_cast<uint32_t>(at[static_cast<size_t>(ifd.Next)]);
        Put32(w, p, link, bigEndian);
        Grow(w, data);
    }
    return w;
}

inline void AppendSegment(TBytes& out, uint8_t marker, const TBytes& body)
{
    out.push_back(0xFF);
    out.push_back(marker);
    const size_t len = std::min<size_t>(body.size() + 2, 0xFFFF);
    out.push_back(static_cast<uint8_t>(len >> 8));
    out.push_back(static_cast<uint8_t>(len & 0xFF));
    out.insert(out.end(), body.begin(), body.end());
}

/// The APP1 segment that carries tiff: marker, length, "Exif", two zero bytes, tiff.
inline TBytes ExifSegment(const TBytes& tiff)
{
    const size_t len = std::min<size_t>(tiff.size() + 8, 0xFFFF);
    const uint8_t head[] = {
        0xFF, 0xE1, static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len & 0xFF), 'E', 'x', 'i', 'f',
        0,    0};
    // Sized once and filled: GCC 12's -Warray-bounds misreads an insert at
    // the end of a vector made from a braced list, once inlined at -O2.
    TBytes out(sizeof head + tiff.size());
    std::copy(std::begin(head), std::end(head), out.begin());
    std::copy(tiff.begin(), tiff.end(), out.begin() + sizeof head);
    return out;
}

struct TJpegLayout
{
    bool App0 = false;     // JFIF APP0 before the Exif APP1
    bool XmpFirst = false; // an XMP APP1 before the Exif APP1
    size_t ScanBytes = 64; // filler bytes of compressed data after SOS
};

/// SOI, optional APP0 and XMP APP1, the Exif APP1 around tiff, a quantisation
/// table, SOS with filler data, EOI.
inline TBytes WrapJpeg(const TBytes& tiff, const TJpegLayout& layout = {})
{
    TBytes out = {0xFF, 0xD8};
    if (layout.App0)
        AppendSegment(out, 0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 1, 0, 72, 0, 72, 0, 0});
    if (layout.XmpFirst) {
        const std::string ns = "http://ns.adobe.com/xap/1.0/";
        TBytes body(ns.begin(), ns.end());
        body.push_back(0);
        const std::string packet = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
        body.insert(body.end(), packet.begin(), packet.end());
        AppendSegment(out, 0xE1, body);
    }
    const TBytes exif = ExifSegment(tiff);
    out.insert(out.end(), exif.begin(), exif.end());
    AppendSegment(out, 0xDB, TBytes(65, 1));
    AppendSegment(out, 0xDA, {1, 1, 0, 0, 63, 0});
    for (size_t i = 0; i < layout.ScanBytes; ++i)
        out.push_back(static_cast<uint8_t>(i * 37 % 255)); // never 0xFF
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

/// The directories of a typical camera photo: IFD0 with Make, Model,
/// Orientation 6, resolutions, DateTime and the Exif pointer, an Exif
/// directory with dates, exposure and version, and IFD1 with the thumbnail's
/// entries (Orientation 1).
inline std::vector<TIfd> CameraIfds()
{
    TIfd ifd0;
    ifd0.Entries = {Ascii(0x010F, "Canon"),
                    Ascii(0x0110, "Canon PowerShot A80"),
                    Short(0x0112, {6}),
                    Rational(0x011A, {180, 1}),
                    Rational(0x011B, {180, 1}),
                    Short(0x0128, {2}),
                    Ascii(0x0132, "2005:07:14 10:22:33"),
                    Short(0x0213, {1}),
                    Pointer(0x8769, 1)};
    ifd0.Next = 2;
    TIfd exif;
    exif.Entries = {Rational(0x829A, {1, 125}),
                    Rational(0x829D, {28, 10}),
                    Undefined(0x9000, {0x30, 0x32, 0x32, 0x30}),
                    Ascii(0x9003, "2005:07:14 10:22:33"),
                    Ascii(0x9004, "2005:07:14 10:22:33"),
                    SRational(0x9204, {-1, 3}),
                    Short(0x9207, {5}),
                    Short(0x9209, {16}),
                    Rational(0x920A, {1146, 32}),
                    Undefined(0xA000, {0x30, 0x31, 0x30, 0x30}),
                    Short(0xA001, {1}),
                    Long(0xA002, {2048}),
                    Long(0xA003, {1536})};
    TIfd ifd1;
    ifd1.Entries = {Short(0x0103, {6}),         Short(0x0112, {1}), Rational(0x011A, {180, 1}),
                    Rational(0x011B, {180, 1}), Short(0x0128, {2}), Long(0x0201, {5000}),
                    Long(0x0202, {4000})};
    return {ifd0, exif, ifd1};
}

} // namespace exifbuild

/// What a camera photo built for the watcher tests carries.
struct TExifPhoto
{
    /// The ASCII value of DateTimeOriginal (stored with its terminating NUL);
    /// none: no such entry.
    std::optional<std::string> DateTimeOriginal = "2005:07:14 10:22:33";
    /// The SHORT values of the Orientation entry (one or two); empty: no entry.
    std::vector<uint16_t> Orientation;
    /// False: the file has no Exif segment at all.
    bool WithExif = true;
    /// Bytes of picture data after the segment (a pattern, not a decodable picture).
    size_t BodySize = 512;
    unsigned Seed = 1;
};

/// A JPEG file as bytes: start marker, Exif segment in Intel byte order (IFD0
/// with Orientation and the Exif pointer, an Exif directory with
/// DateTimeOriginal), a quantization table marker, pattern data, end marker.
std::string BuildExifJpeg(const TExifPhoto& photo);

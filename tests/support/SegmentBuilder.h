#pragma once
// Builders of the segments a photo carries besides its Exif block - ICC
// profile chunks, XMP packets, Photoshop resources with IPTC records,
// comments, the encoding's JFIF and Adobe segments, a multi-picture index -
// and of the Exif blocks of camera photos with their thumbnail, laid out as
// cameras write them. Header-only, over the EXIF builder.

#include "tests/support/ExifBuilder.h"

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace segbuild {

using exifbuild::TBytes;

inline TBytes Bytes(std::string_view text)
{
    return TBytes(text.begin(), text.end());
}

inline TBytes Cat(std::initializer_list<TBytes> parts)
{
    TBytes out;
    for (const TBytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

/// Marker, length field and payload.
inline TBytes Segment(uint8_t marker, const TBytes& payload)
{
    TBytes out;
    exifbuild::AppendSegment(out, marker, payload);
    return out;
}

inline void Append16(TBytes& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}
inline void Append32(TBytes& b, uint32_t v)
{
    Append16(b, v >> 16);
    Append16(b, v & 0xFFFF);
}

/// A small RGB display profile (version 2.1, matrix and gamma curves, a
/// description, a copyright and the white point), as a colour-managed viewer
/// would use it; seed varies the description so profiles differ.
inline TBytes IccProfile(char seed = 'A')
{
    struct TTag
    {
        const char* Sig;
        TBytes Data;
    };
    const auto xyz = [](uint32_t x, uint32_t y, uint32_t z) {
        TBytes d = Bytes("XYZ ");
        Append32(d, 0);
        Append32(d, x);
        Append32(d, y);
        Append32(d, z);
        return d;
    };
    std::string name = "Test RGB ";
    name += seed;
    TBytes desc = Bytes("desc");
    Append32(desc, 0);
    Append32(desc, static_cast<uint32_t>(name.size() + 1));
    desc.insert(desc.end(), name.begin(), name.end());
    desc.push_back(0);
    desc.resize(desc.size() + 4 + 4 + 2 + 1 + 67, 0); // no Unicode, no ScriptCode text
    TBytes cprt = Bytes("text");
    Append32(cprt, 0);
    const TBytes notice = Bytes(std::string_view("No copyright, use freely\0", 25));
    cprt.insert(cprt.end(), notice.begin(), notice.end());
    TBytes curve = Bytes("curv");
    Append32(curve, 0);
    Append32(curve, 1);
    Append16(curve, 0x0233); // gamma 2.2 in u8Fixed8
    const std::vector<TTag> tags = {
        {"desc", desc},
        {"cprt", cprt},
        {"wtpt", xyz(0xF351, 0x10000, 0x116CC)},
        {"rXYZ", xyz(0x6FA2, 0x38F5, 0x0390)},
        {"gXYZ", xyz(0x6299, 0xB785, 0x18DA)},
        {"bXYZ", xyz(0x24A0, 0x0F84, 0xB6CF)},
        {"rTRC", curve},
        {"gTRC", curve},
        {"bTRC", curve},
    };
    TBytes table;
    TBytes data;
    size_t at = 128 + 4 + 12 * tags.size();
    for (const TTag& t : tags) {
        const TBytes sig = Bytes(std::string_view(t.Sig, 4));
        table.insert(table.end(), sig.begin(), sig.end());
        Append32(table, static_cast<uint32_t>(at + data.size()));
        Append32(table, static_cast<uint32_t>(t.Data.size()));
        data.insert(data.end(), t.Data.begin(), t.Data.end());
        while (data.size() % 4 != 0)
            data.push_back(0);
    }
    TBytes header;
    Append32(header, static_cast<uint32_t>(at + data.size()));
    Append32(header, 0);          // no preferred CMM
    Append32(header, 0x02100000); // version 2.1
    for (const char* s : {"mntr", "RGB ", "XYZ "}) {
        const TBytes b = Bytes(std::string_view(s, 4));
        header.insert(header.end(), b.begin(), b.end());
    }
    for (uint32_t v : {2005u, 7u, 14u, 10u, 22u, 33u})
        Append16(header, v);
    const TBytes acsp = Bytes("acsp");
    header.insert(header.end(), acsp.begin(), acsp.end());
    header.resize(64, 0); // platform, flags, device maker and model, attributes
    Append32(header, 0);  // perceptual
    Append32(header, 0xF6D6);
    Append32(header, 0x10000);
    Append32(header, 0xD32D); // D50
    header.resize(128, 0);
    TBytes count;
    Append32(count, static_cast<uint32_t>(tags.size()));
    return Cat({header, count, table, data});
}

/// The profile in APP2 "ICC_PROFILE" chunks of at most chunkSize bytes, in order.
inline std::vector<TBytes> IccSegments(const TBytes& profile, size_t chunkSize)
{
    const size_t n = (profile.size() + chunkSize - 1) / chunkSize;
    std::vector<TBytes> out;
    for (size_t i = 0; i < n; ++i) {
        TBytes payload = Bytes(std::string_view("ICC_PROFILE\0", 12));
        payload.push_back(static_cast<uint8_t>(i + 1));
        payload.push_back(static_cast<uint8_t>(n));
        const size_t from = i * chunkSize;
        const size_t to = std::min(profile.size(), from + chunkSize);
        payload.insert(payload.end(), profile.begin() + static_cast<ptrdiff_t>(from),
                       profile.begin() + static_cast<ptrdiff_t>(to));
        out.push_back(Segment(0xE2, payload));
    }
    return out;
}

inline const std::string kXmpHeader = "http://ns.adobe.com/xap/1.0/";

/// An XMP packet as cameras and editors write it: orientation (as an
/// attribute or as an element; none when orientation is empty), a creator
/// tool, two keywords, padding and the packet trailer.
inline std::string XmpPacket(const std::string& orientation, bool element, size_t padding = 512)
{
    std::string p = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
                    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
                    " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                    "  <rdf:Description rdf:about=\"\"\n"
                    "    xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\"\n"
                    "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
                    "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n";
    if (!orientation.empty() && !element)
        p += "    tiff:Orientation=\"" + orientation + "\"\n";
    p += "    xmp:CreatorTool=\"TestCam Firmware 1.0\">\n";
    if (!orientation.empty() && element)
        p += "   <tiff:Orientation>" + orientation + "</tiff:Orientation>\n";
    p += "   <dc:subject>\n    <rdf:Bag>\n     <rdf:li>Urlaub</rdf:li>\n     <rdf:li>See</rdf:li>\n"
         "    </rdf:Bag>\n   </dc:subject>\n  </rdf:Description>\n </rdf:RDF>\n</x:xmpmeta>\n";
    for (size_t i = 0; i < padding; i += 100)
        p += std::string(std::min<size_t>(99, padding - i), ' ') + "\n";
    p += "<?xpacket end=\"w\"?>";
    return p;
}

inline TBytes XmpSegment(const std::string& packet)
{
    TBytes payload = Bytes(kXmpHeader);
    payload.push_back(0);
    const TBytes text = Bytes(packet);
    payload.insert(payload.end(), text.begin(), text.end());
    return Segment(0xE1, payload);
}

/// Photoshop resources with one IPTC block: record version, two keywords and a caption.
inline TBytes PhotoshopSegment()
{
    TBytes iptc;
    const auto record = [&iptc](uint8_t tag, const TBytes& value) {
        iptc.insert(iptc.end(), {0x1C, 2, tag});
        Append16(iptc, static_cast<uint32_t>(value.size()));
        iptc.insert(iptc.end(), value.begin(), value.end());
    };
    record(0, {0, 4});
    record(25, Bytes("Urlaub"));
    record(25, Bytes("See"));
    record(120, Bytes("Am See bei Sonnenschein"));
    TBytes payload = Bytes(std::string_view("Photoshop 3.0\0", 14));
    const TBytes bim = Bytes("8BIM");
    payload.insert(payload.end(), bim.begin(), bim.end());
    Append16(payload, 0x0404);
    payload.insert(payload.end(), {0, 0}); // empty name, padded to even
    Append32(payload, static_cast<uint32_t>(iptc.size()));
    payload.insert(payload.end(), iptc.begin(), iptc.end());
    if (iptc.size() % 2 != 0)
        payload.push_back(0);
    return Segment(0xED, payload);
}

inline TBytes CommentSegment(const std::string& text)
{
    return Segment(0xFE, Bytes(text));
}

inline TBytes JfifSegment()
{
    return Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 1, 0, 72, 0, 72, 0, 0});
}

/// Adobe's segment: version 100, no flags, transform 1 (YCbCr).
inline TBytes AdobeSegment()
{
    return Segment(0xEE, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 1});
}

/// Where the thumbnail goes in a camera's Exif block.
enum class TThumbPlace
{
    End,         ///< after everything else, as most cameras put it
    BeforeMaker, ///< followed by the maker's data
};

/// The Exif segment of a camera photo of width x height pixels: IFD0 (maker,
/// model, orientation, resolution, date, YCbCr positioning, Exif pointer),
/// the Exif directory (exposure, versions, dates, components, maker note,
/// colour space, picture size, interoperability pointer), the
/// interoperability directory and IFD1 with the JPEG thumbnail, all entries in
/// tag order, every offset even.
inline TBytes CameraExif(bool bigEndian, uint16_t orientation, int width, int height, const TBytes& thumbnail,
                         TThumbPlace place = TThumbPlace::End, size_t makerNoteSize = 64)
{
    using namespace exifbuild;
    const auto build = [&](uint32_t thumbAt, std::optional<uint32_t> makerAt) {
        TIfd ifd0;
        ifd0.Entries = {Ascii(0x010F, "TestCam"),
                        Ascii(0x0110, "TestCam Z100"),
                        Short(0x0112, {orientation}),
                        Rational(0x011A, {72, 1}),
                        Rational(0x011B, {72, 1}),
                        Short(0x0128, {2}),
                        Ascii(0x0132, "2005:07:14 10:22:33"),
                        Short(0x0213, {1}),
                        Pointer(0x8769, 1)};
        ifd0.Next = 3;
        TEntry maker = Undefined(0x927C, std::vector<uint32_t>(makerNoteSize, 0x4D));
        maker.DataAt = makerAt;
        TIfd exif;
        exif.Entries = {Rational(0x829A, {1, 125}),
                        Rational(0x829D, {28, 10}),
                        Undefined(0x9000, {'0', '2', '3', '0'}),
                        Ascii(0x9003, "2005:07:14 10:22:33"),
                        Ascii(0x9004, "2005:07:14 10:22:33"),
                        Undefined(0x9101, {1, 2, 3, 0}),
                        maker,
                        Undefined(0xA000, {'0', '1', '0', '0'}),
                        Short(0xA001, {1}),
                        Long(0xA002, {static_cast<uint32_t>(width)}),
                        Long(0xA003, {static_cast<uint32_t>(height)}),
                        Pointer(0xA005, 2)};
        TIfd interop;
        interop.Entries = {Ascii(0x0001, "R98"), Undefined(0x0002, {'0', '1', '0', '0'})};
        TIfd ifd1;
        ifd1.Entries = {Short(0x0103, {6}),        Rational(0x011A, {72, 1}),
                        Rational(0x011B, {72, 1}), Short(0x0128, {2}),
                        Long(0x0201, {thumbAt}),   Long(0x0202, {static_cast<uint32_t>(thumbnail.size())})};
        return BuildTiff(bigEndian, {ifd0, exif, interop, ifd1});
    };
    // The structure without the thumbnail says where it can go.
    TBytes tiff = build(0, std::nullopt);
    const uint32_t thumbAt = static_cast<uint32_t>(tiff.size() + (tiff.size() & 1));
    if (place == TThumbPlace::End) {
        tiff = build(thumbAt, std::nullopt);
        tiff.resize(thumbAt);
        tiff.insert(tiff.end(), thumbnail.begin(), thumbnail.end());
    } else {
        const size_t end = thumbAt + thumbnail.size();
        tiff = build(thumbAt, static_cast<uint32_t>(end + (end & 1)));
        std::copy(thumbnail.begin(), thumbnail.end(), tiff.begin() + thumbAt);
    }
    return ExifSegment(tiff);
}

/// The multi-picture index of a file whose primary picture (from start to end
/// marker, this segment included once inserted at insertAt) has primarySize
/// bytes and is followed by a preview of previewSize bytes.
inline TBytes MpfSegment(size_t primarySize, size_t previewSize, size_t insertAt)
{
    TBytes tiff = {'M', 'M', 0, 42, 0, 0, 0, 8};
    Append16(tiff, 3);
    const auto entry = [&tiff](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        Append16(tiff, tag);
        Append16(tiff, type);
        Append32(tiff, count);
        Append32(tiff, value);
    };
    const uint32_t entriesAt = 8 + 2 + 3 * 12 + 4;
    entry(0xB000, 7, 4, 0x30313030); // version "0100"
    entry(0xB001, 4, 1, 2);          // two pictures
    entry(0xB002, 7, 32, entriesAt); // their entries
    Append32(tiff, 0);
    const size_t segmentSize = 4 + 4 + tiff.size() + 32;
    const size_t total = primarySize + segmentSize;
    // Offsets count from the index's own TIFF header.
    const size_t base = insertAt + 8;
    Append32(tiff, 0x20030000); // primary, baseline
    Append32(tiff, static_cast<uint32_t>(total));
    Append32(tiff, 0);
    Append32(tiff, 0);
    Append32(tiff, 0x00010001); // large thumbnail (VGA)
    Append32(tiff, static_cast<uint32_t>(previewSize));
    Append32(tiff, static_cast<uint32_t>(total - base));
    Append32(tiff, 0);
    TBytes payload = {'M', 'P', 'F', 0};
    payload.insert(payload.end(), tiff.begin(), tiff.end());
    return Segment(0xE2, payload);
}

/// Reads the TIFF structure of an Exif segment, for checks: values in its
/// byte order, directories, entries and links. Reads past the end throw.
struct TTiffView
{
    TBytes Bytes;
    bool Big = false;

    explicit TTiffView(const TBytes& segment)
        : Bytes(segment.begin() + 10, segment.end())
        , Big(Bytes.at(0) == 'M')
    {
    }
    uint32_t U16(size_t at) const
    {
        return Big ? uint32_t{Bytes.at(at)} << 8 | Bytes.at(at + 1)
                   : uint32_t{Bytes.at(at + 1)} << 8 | Bytes.at(at);
    }
    uint32_t U32(size_t at) const { return Big ? U16(at) << 16 | U16(at + 2) : U16(at + 2) << 16 | U16(at); }
    uint32_t Ifd0() const { return U32(4); }
    /// The directory after the one at ifd; 0 at the end of the chain.
    uint32_t Link(uint32_t ifd) const { return U32(ifd + 2 + 12 * U16(ifd)); }
    /// Where the value field of the entry with tag lies, or 0.
    size_t Field(uint32_t ifd, uint16_t tag) const
    {
        for (uint32_t i = 0; i < U16(ifd); ++i)
            if (U16(ifd + 2 + 12 * i) == tag)
                return ifd + 2 + 12 * i + 8;
        return 0;
    }
    /// The first value of a SHORT or LONG entry.
    uint32_t Value(uint32_t ifd, uint16_t tag) const
    {
        const size_t field = Field(ifd, tag);
        return U16(field - 6) == 3 ? U16(field) : U32(field);
    }
    /// The JPEG thumbnail IFD1 points to; empty without one.
    TBytes Thumbnail() const
    {
        const uint32_t ifd1 = Link(Ifd0());
        if (ifd1 == 0 || Field(ifd1, 0x0201) == 0)
            return {};
        const size_t at = Value(ifd1, 0x0201);
        const size_t size = Value(ifd1, 0x0202);
        if (at > Bytes.size() || size > Bytes.size() - at)
            throw std::out_of_range("thumbnail past the end");
        return TBytes(Bytes.begin() + static_cast<ptrdiff_t>(at),
                      Bytes.begin() + static_cast<ptrdiff_t>(at + size));
    }
};

/// An encoded picture (start marker, optional JFIF header, tables, scan, end
/// marker) with segments put after its start marker; its JFIF header is kept
/// first when jfif is set, else dropped.
inline TBytes WithSegments(const TBytes& encoded, const std::vector<TBytes>& segments, bool jfif)
{
    size_t body = 2;
    if (encoded.size() > 6 && encoded[2] == 0xFF && encoded[3] == 0xE0)
        body = 4 + (size_t{encoded[4]} << 8 | encoded[5]);
    TBytes out(encoded.begin(), encoded.begin() + 2);
    if (jfif)
        out.insert(out.end(), encoded.begin() + 2, encoded.begin() + static_cast<ptrdiff_t>(body));
    for (const TBytes& s : segments)
        out.insert(out.end(), s.begin(), s.end());
    out.insert(out.end(), encoded.begin() + static_cast<ptrdiff_t>(body), encoded.end());
    return out;
}

} // namespace segbuild

#pragma once

// The marker segments of a JPEG file and the TIFF structure inside its Exif
// segment, read and written in memory. Every offset and count from the file
// is checked before use; nothing outside the given bytes is read or written.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

/// Markers (the byte after 0xFF) this program names.
constexpr uint8_t kMarkerSoi = 0xD8;  ///< start of image
constexpr uint8_t kMarkerEoi = 0xD9;  ///< end of image
constexpr uint8_t kMarkerSos = 0xDA;  ///< start of scan: the picture data follows
constexpr uint8_t kMarkerApp0 = 0xE0; ///< JFIF header
constexpr uint8_t kMarkerApp1 = 0xE1; ///< Exif, XMP

/// The identifier at the start of an Exif APP1 segment's payload.
constexpr std::string_view kExifId{"Exif\0\0", 6};

/// One marker segment with a length field: marker, length and payload.
struct TJpegSegment
{
    uint8_t Marker = 0; ///< the byte after 0xFF
    size_t Offset = 0;  ///< where its 0xFF lies in the file
    size_t Size = 0;    ///< the whole segment: 2 marker bytes and the length field's value

    /// The payload: what follows the length field.
    size_t PayloadOffset() const { return Offset + 4; }
    size_t PayloadSize() const { return Size - 4; }
};

/// Walks the segments that lie between the start marker and the picture data
/// (SOS), in file order: the application segments (JFIF, Exif, XMP, ICC
/// profile chunks, Photoshop/IPTC), comments, tables and the frame header.
/// Fill bytes and the markers without a length field (TEM, RST0..7) are
/// stepped over. The walk ends at SOS or EOI, at a byte where a marker should
/// be, or at a segment whose length field is below 2 or runs past the end. A
/// file that does not start with SOI has no segments.
class TJpegSegmentWalk
{
public:
    /// file is not copied; it must outlive the walk.
    explicit TJpegSegmentWalk(std::span<const uint8_t> file);

    /// The next segment; false once the walk has ended.
    bool Next(TJpegSegment& segment);

private:
    std::span<const uint8_t> FFile;
    size_t FPosition = 2;
    bool FDone = false;
};

/// The bytes of segment in the file it was found in.
std::span<const uint8_t> SegmentBytes(std::span<const uint8_t> file, const TJpegSegment& segment);

/// Whether the segment's payload starts with id ("Exif\0\0", "ICC_PROFILE\0", ...).
bool SegmentHasId(std::span<const uint8_t> file, const TJpegSegment& segment, std::string_view id);

/// The first APP1 segment with the Exif identifier among the segments of the
/// walk, or none.
std::optional<TJpegSegment> FindExifSegment(std::span<const uint8_t> file);

/// Sets every Orientation entry (tag 0x0112 of type SHORT) of the TIFF
/// structure tiff - the directory chain from IFD0 on (IFD1 holds the
/// thumbnail's) and the Exif directory a directory points to - to value, in
/// the structure's byte order. The structure is read as it was given, then
/// written: only the first value of each such entry changes, nothing else. A
/// damaged structure is set as far as it can be read; at most 64 directories
/// are visited. Returns how many value fields it set.
size_t SetTiffOrientation(std::span<uint8_t> tiff, uint16_t value);

/// The same inside an Exif APP1 segment (marker included, as FindExifSegment
/// finds it); a segment without the Exif header is left alone (returns 0).
size_t SetExifOrientation(std::span<uint8_t> segment, uint16_t value);

/// Where the photo's segments go in a file the encoder wrote: right after its
/// JFIF header (APP0 directly after SOI), else right after the start marker.
size_t SegmentPlace(std::span<const uint8_t> encoded);

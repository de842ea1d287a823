#pragma once

// What a photo's new encoding takes along from its old file: the segments
// that describe the photo (not those that describe the old encoding), set
// upright when the picture was turned, the Exif thumbnail turned with it.
// Every offset and count from the file is checked before use; nothing outside
// the given bytes is read or written.

#include "meta/JpegSegments.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

constexpr uint8_t kMarkerApp2 = 0xE2;  ///< ICC profile chunks
constexpr uint8_t kMarkerApp13 = 0xED; ///< Photoshop resources, IPTC among them
constexpr uint8_t kMarkerCom = 0xFE;   ///< comment

/// Identifiers at the start of a segment's payload.
constexpr std::string_view kXmpId{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kExtendedXmpId{"http://ns.adobe.com/xmp/extension/\0", 35};
constexpr std::string_view kIccId{"ICC_PROFILE\0", 12};
constexpr std::string_view kPhotoshopId{"Photoshop 3.0\0", 14};

/// The segments of file that describe the photo, in file order: the first
/// Exif segment; the ICC profile's chunks, all of them, when they make up one
/// whole profile (else none); the first XMP packet and, with it, the extended
/// XMP chunks; the Photoshop resources (IPTC); the comments. Left out are JFIF
/// and its extensions, Adobe's colour transform, multi-picture indexes and
/// every other application segment: they describe the old encoding, or
/// pictures stored beside this one that a new encoding does not keep.
std::vector<TJpegSegment> DescriptiveSegments(std::span<const uint8_t> file);

/// Sets the TIFF orientation property of an XMP segment (marker included) to
/// value (0..9): the attribute form tiff:Orientation="6" and the element form
/// <tiff:Orientation>6</tiff:Orientation>, under every prefix bound to the
/// TIFF namespace where it is used ("tiff" also where nothing binds it) and,
/// for the element, under the default namespace. Only tags and attributes
/// count, not text in comments, instructions or values. Only the digits
/// change; a value written with more digits shrinks the packet, and as many
/// spaces go into its padding before <?xpacket end=...?> as long as it has
/// one, so the segment keeps its length. Setting a value twice changes
/// nothing the second time. Returns how many values it set; a segment that is
/// not XMP is left alone.
size_t SetXmpOrientation(std::vector<uint8_t>& segment, uint16_t value);

/// Renders the picture of a JPEG thumbnail upright: its new JPEG file, or
/// nothing when it cannot (damaged, not a picture the codec takes).
using TThumbnailTurn = std::function<std::optional<std::vector<uint8_t>>(std::span<const uint8_t> jpeg)>;

/// What TurnExifThumbnail did.
enum class TThumbnailChange
{
    None,     ///< no thumbnail directory: the segment is unchanged
    Replaced, ///< the thumbnail is turn's picture
    Removed   ///< the thumbnail directory is unlinked and its picture cleared
};

/// Replaces the JPEG thumbnail of an Exif segment (marker included) with
/// turn's picture of it. Nothing but the thumbnail's bytes and the directory
/// entries that describe it changes: its offset and length, and its width and
/// height where given. The new picture takes the old one's place when it fits
/// there or ends the segment; else it goes to the segment's end. When the
/// thumbnail cannot be turned, is not a JPEG picture, is described by a
/// damaged directory, or the new picture would not fit into a segment, the
/// thumbnail directory is unlinked from the first directory and the old
/// picture cleared, so that no sideways thumbnail remains.
TThumbnailChange TurnExifThumbnail(std::vector<uint8_t>& segment, const TThumbnailTurn& turn);

/// The width and height in the frame header of a JPEG file; none without one.
std::optional<std::pair<uint16_t, uint16_t>> JpegFrameSize(std::span<const uint8_t> file);

/// The descriptive segments of photo, one after another, for the place after
/// a new encoding's JFIF header (see SegmentPlace). When upright is set (the
/// picture was turned) the Exif and XMP orientations become 1 and the Exif
/// thumbnail is turned by turn.
std::vector<uint8_t> CarriedMetadata(std::span<const uint8_t> photo, bool upright,
                                     const TThumbnailTurn& turn);

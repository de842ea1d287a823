#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

/// What a photo file built for the tests carries.
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

/// A JPEG file (start marker, Exif APP1 segment in Intel byte order with IFD0
/// and an Exif directory, data, end marker) as bytes.
std::string BuildExifJpeg(const TExifPhoto& photo);

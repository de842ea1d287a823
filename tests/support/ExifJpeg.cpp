#include "tests/support/ExifJpeg.h"

#include "tests/support/TempDir.h"

#include <stdexcept>

namespace {

void Put16(std::string& out, uint16_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void Put32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void Entry(std::string& out, uint16_t tag, uint16_t type, uint32_t count, uint32_t value)
{
    Put16(out, tag);
    Put16(out, type);
    Put32(out, count);
    Put32(out, value);
}

} // namespace

std::string BuildExifJpeg(const TExifPhoto& photo)
{
    std::string file("\xFF\xD8", 2);
    if (photo.WithExif) {
        if (photo.Orientation.size() > 2)
            throw std::invalid_argument("at most two orientation values");
        const bool hasDate = photo.DateTimeOriginal.has_value();
        const uint16_t ifd0Count =
            static_cast<uint16_t>((photo.Orientation.empty() ? 0 : 1) + (hasDate ? 1 : 0));
        // Layout: header (8), IFD0, Exif IFD (one entry), date text.
        const uint32_t ifd0At = 8;
        const uint32_t exifAt = ifd0At + 2 + 12u * ifd0Count + 4;
        const uint32_t textAt = exifAt + 2 + 12 + 4;

        std::string tiff("II\x2A\x00", 4);
        Put32(tiff, ifd0At);
        Put16(tiff, ifd0Count);
        if (!photo.Orientation.empty()) {
            const uint16_t second = photo.Orientation.size() > 1 ? photo.Orientation[1] : 0;
            Entry(tiff, 0x0112, 3, static_cast<uint32_t>(photo.Orientation.size()),
                  photo.Orientation[0] | (static_cast<uint32_t>(second) << 16));
        }
        if (hasDate)
            Entry(tiff, 0x8769, 4, 1, exifAt);
        Put32(tiff, 0);
        if (hasDate) {
            const std::string& text = *photo.DateTimeOriginal;
            Put16(tiff, 1);
            Entry(tiff, 0x9003, 2, static_cast<uint32_t>(text.size() + 1), textAt);
            Put32(tiff, 0);
            tiff += text;
            tiff += '\0';
        }
        const std::string payload = std::string("Exif\0\0", 6) + tiff;
        const size_t length = payload.size() + 2;
        file += "\xFF\xE1";
        file += static_cast<char>(length >> 8);
        file += static_cast<char>(length & 0xFF);
        file += payload;
    }
    // A quantization table marker keeps the data looking like a JPEG stream.
    file += "\xFF\xDB";
    file += PatternBytes(photo.BodySize, photo.Seed);
    file += "\xFF\xD9";
    return file;
}

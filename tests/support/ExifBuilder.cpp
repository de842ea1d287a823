#include "tests/support/ExifBuilder.h"

#include "tests/support/TempDir.h"

#include <stdexcept>

std::string BuildExifJpeg(const TExifPhoto& photo)
{
    using namespace exifbuild;
    std::string file("\xFF\xD8", 2);
    if (photo.WithExif) {
        if (photo.Orientation.size() > 2)
            throw std::invalid_argument("at most two orientation values");
        // IFD0 right after the header, the Exif directory after it, the date text last.
        TIfd ifd0;
        if (!photo.Orientation.empty())
            ifd0.Entries.push_back(
                Short(0x0112, std::vector<uint32_t>(photo.Orientation.begin(), photo.Orientation.end())));
        std::vector<TIfd> ifds;
        if (photo.DateTimeOriginal) {
            ifd0.Entries.push_back(Pointer(0x8769, 1));
            TIfd exif;
            exif.Entries.push_back(Ascii(0x9003, *photo.DateTimeOriginal));
            ifds = {ifd0, exif};
        } else {
            ifds = {ifd0};
        }
        const TBytes segment = ExifSegment(BuildTiff(false, ifds));
        file.append(segment.begin(), segment.end());
    }
    // A quantization table marker keeps the data looking like a JPEG stream.
    file += "\xFF\xDB";
    file += PatternBytes(photo.BodySize, photo.Seed);
    file += "\xFF\xD9";
    return file;
}

// Walks the segments of arbitrary bytes taken as a JPEG file, finds the Exif
// segment and sets its orientation as the correction does, and sets the
// orientation of the bytes taken as a TIFF structure. Besides never crashing
// or touching memory outside the buffers, it checks what the writer promises:
// the size stays, and only the value fields of the Orientation entries (tag
// 0x0112, type SHORT) of the structure as it was change, to the value's bytes.
#include "meta/JpegSegments.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

uint16_t Word(const std::vector<uint8_t>& b, size_t at, bool big)
{
    return static_cast<uint16_t>(big ? b[at] << 8 | b[at + 1] : b[at + 1] << 8 | b[at]);
}

// tiff must not shrink or grow; every changed byte lies in the value field
// of an entry that was an Orientation of type SHORT with a count of at least 1.
void CheckOrientationWrite(std::vector<uint8_t> tiff, uint16_t value)
{
    const std::vector<uint8_t> before = tiff;
    const size_t set = SetTiffOrientation(tiff, value);
    Check(tiff.size() == before.size());
    if (before.size() < 8 || set == 0) {
        Check(tiff == before);
        return;
    }
    const bool big = before[0] == 'M';
    size_t changed = 0;
    for (size_t at = 0; at < before.size(); ++at) {
        if (tiff[at] == before[at])
            continue;
        ++changed;
        bool inField = false;
        for (size_t back : {size_t{8}, size_t{9}}) { // the field's first or second byte
            if (at < back || at - back + 12 > before.size())
                continue;
            const size_t e = at - back;
            const uint32_t count = big ? uint32_t{before[e + 4]} << 24 | uint32_t{before[e + 5]} << 16 |
                                             uint32_t{before[e + 6]} << 8 | before[e + 7]
                                       : uint32_t{before[e + 7]} << 24 | uint32_t{before[e + 6]} << 16 |
                                             uint32_t{before[e + 5]} << 8 | before[e + 4];
            const bool high = (back == 8) == big; // the value's high byte lies here
            const uint8_t expected = static_cast<uint8_t>(high ? value >> 8 : value);
            if (Word(before, e, big) == 0x0112 && Word(before, e + 2, big) == 3 && count >= 1 &&
                tiff[at] == expected)
                inField = true;
        }
        Check(inField);
    }
    Check(changed <= 2 * set);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> file(data, size);

    // The walk: segments in order, inside the file, each as its bytes say.
    TJpegSegmentWalk walk(file);
    TJpegSegment segment;
    std::optional<TJpegSegment> firstExif;
    size_t end = 2;
    while (walk.Next(segment)) {
        Check(segment.Offset >= end && segment.Size >= 4 && segment.Offset + segment.Size <= size);
        Check(data[segment.Offset] == 0xFF && data[segment.Offset + 1] == segment.Marker);
        Check(size_t{data[segment.Offset + 2]} << 8 == ((segment.Size - 2) & 0xFF00) &&
              data[segment.Offset + 3] == ((segment.Size - 2) & 0xFF));
        Check(segment.Marker != 0xFF && segment.Marker != kMarkerSos && segment.Marker != kMarkerEoi);
        Check(SegmentBytes(file, segment).size() == segment.Size);
        if (!firstExif && segment.Marker == kMarkerApp1 && SegmentHasId(file, segment, kExifId))
            firstExif = segment;
        end = segment.Offset + segment.Size;
    }
    Check(!walk.Next(segment));

    // The Exif segment the correction carries, set upright.
    const std::optional<TJpegSegment> exif = FindExifSegment(file);
    Check(exif.has_value() == firstExif.has_value());
    if (exif) {
        Check(exif->Offset == firstExif->Offset && exif->Size == firstExif->Size);
        const std::span<const uint8_t> bytes = SegmentBytes(file, *exif);
        std::vector<uint8_t> carried(bytes.begin(), bytes.end());
        const std::vector<uint8_t> before = carried;
        const size_t set = SetExifOrientation(carried, 1);
        Check(carried.size() == before.size());
        Check(std::memcmp(carried.data(), before.data(), 10) == 0);
        std::vector<uint8_t> tiff(before.begin() + 10, before.end());
        Check(SetTiffOrientation(tiff, 1) == set);
        Check(std::equal(tiff.begin(), tiff.end(), carried.begin() + 10));
        CheckOrientationWrite(std::vector<uint8_t>(before.begin() + 10, before.end()), 1);
    }

    // The same bytes as a TIFF structure, with a value whose bytes both differ from 0.
    CheckOrientationWrite(std::vector<uint8_t>(data, data + size), 0xA55A);

    // Where segments go in an encoded file.
    const size_t place = SegmentPlace(file);
    Check(place <= size);
    if (place > 2)
        Check(data[2] == 0xFF && data[3] == kMarkerApp0 && place == 4 + (size_t{data[4]} << 8 | data[5]));
    return 0;
}

#include "meta/JpegSegments.h"

#include "meta/CheckedBytes.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace {

constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTypeShort = 3;
constexpr size_t kIfdEntrySize = 12;
constexpr size_t kMaxIfds = 64;

// Marker, length field and the Exif identifier: where the TIFF structure starts.
constexpr size_t kExifHeader = 4 + kExifId.size();

bool StandAlone(uint8_t marker)
{
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7); // TEM, RST0..7
}

} // namespace

TJpegSegmentWalk::TJpegSegmentWalk(std::span<const uint8_t> file)
    : FFile(file)
{
    FDone = file.size() < 4 || file[0] != 0xFF || file[1] != kMarkerSoi;
}

bool TJpegSegmentWalk::Next(TJpegSegment& segment)
{
    const TCheckedBytes file(FFile);
    while (!FDone && Fits(FFile.size(), FPosition, 4)) {
        if (FFile[FPosition] != 0xFF)
            break;
        const uint8_t marker = FFile[FPosition + 1];
        if (marker == 0xFF) { // a fill byte
            ++FPosition;
            continue;
        }
        if (marker == kMarkerSos || marker == kMarkerEoi)
            break;
        if (StandAlone(marker)) {
            FPosition += 2;
            continue;
        }
        const uint16_t length = *file.Word(FPosition + 2);
        if (length < 2 || !Fits(FFile.size(), FPosition + 2, length))
            break;
        segment = {marker, FPosition, size_t{2} + length};
        FPosition += segment.Size;
        return true;
    }
    FDone = true;
    return false;
}

std::span<const uint8_t> SegmentBytes(std::span<const uint8_t> file, const TJpegSegment& segment)
{
    if (!Fits(file.size(), segment.Offset, segment.Size))
        return {};
    return file.subspan(segment.Offset, segment.Size);
}

bool SegmentHasId(std::span<const uint8_t> file, const TJpegSegment& segment, std::string_view id)
{
    const std::span<const uint8_t> bytes = SegmentBytes(file, segment);
    return bytes.size() >= 4 && Fits(bytes.size(), 4, id.size()) &&
           std::memcmp(bytes.data() + 4, id.data(), id.size()) == 0;
}

std::optional<TJpegSegment> FindExifSegment(std::span<const uint8_t> file)
{
    TJpegSegmentWalk walk(file);
    TJpegSegment segment;
    while (walk.Next(segment))
        if (segment.Marker == kMarkerApp1 && SegmentHasId(file, segment, kExifId))
            return segment;
    return std::nullopt;
}

size_t SetTiffOrientation(std::span<uint8_t> tiff, uint16_t value)
{
    if (tiff.size() < 8)
        return 0;
    TCheckedBytes t(tiff);
    if (tiff[0] == 'I' && tiff[1] == 'I')
        t.SetBigEndian(false);
    else if (tiff[0] == 'M' && tiff[1] == 'M')
        t.SetBigEndian(true);
    else
        return 0;
    if (t.Word(2) != 42)
        return 0;

    // The structure is read as it is before anything is written: in a hostile
    // one, an entry's value field may also be another directory's count.
    std::vector<uint64_t> fields;
    // Directories still to visit, last found first.
    std::vector<uint32_t> pending{*t.Long(4)};
    std::set<uint32_t> visited;
    while (!pending.empty() && visited.size() < kMaxIfds) {
        const uint32_t ifd = pending.back();
        pending.pop_back();
        if (ifd == 0 || !visited.insert(ifd).second || !t.Fits(ifd, 2))
            continue;
        // Entries that lie past the end are not read; a directory cut short
        // also has no readable link to the next one.
        const uint16_t count = *t.Word(ifd);
        const bool whole = CountFits(t.Size(), uint64_t{ifd} + 2, count, kIfdEntrySize);
        const uint64_t entries = whole ? count : (t.Size() - ifd - 2) / kIfdEntrySize;
        for (uint64_t i = 0; i < entries; ++i) {
            const uint64_t e = uint64_t{ifd} + 2 + kIfdEntrySize * i;
            const uint16_t tag = *t.Word(e);
            const uint16_t type = *t.Word(e + 2);
            const uint32_t n = *t.Long(e + 4);
            if (tag == kTagOrientation && type == kTypeShort && n >= 1)
                fields.push_back(e + 8);
            else if (tag == kTagExifIfd && n == 1)
                pending.push_back(*t.Long(e + 8));
        }
        const uint64_t link = uint64_t{ifd} + 2 + kIfdEntrySize * count;
        if (whole && t.Fits(link, 4))
            pending.push_back(*t.Long(link));
    }
    std::sort(fields.begin(), fields.end());
    fields.erase(std::unique(fields.begin(), fields.end()), fields.end());
    for (uint64_t field : fields)
        PutWord(tiff, field, value, t.BigEndian());
    return fields.size();
}

size_t SetExifOrientation(std::span<uint8_t> segment, uint16_t value)
{
    if (segment.size() < kExifHeader || segment[0] != 0xFF || segment[1] != kMarkerApp1 ||
        std::memcmp(segment.data() + 4, kExifId.data(), kExifId.size()) != 0)
        return 0;
    return SetTiffOrientation(segment.subspan(kExifHeader), value);
}

size_t SegmentPlace(std::span<const uint8_t> encoded)
{
    const TCheckedBytes bytes(encoded);
    if (bytes.Byte(2) == 0xFF && bytes.Byte(3) == kMarkerApp0) {
        const std::optional<uint16_t> length = bytes.Word(4);
        if (length && *length >= 2 && Fits(encoded.size(), 4, *length))
            return 4 + size_t{*length};
    }
    return std::min<size_t>(2, encoded.size());
}

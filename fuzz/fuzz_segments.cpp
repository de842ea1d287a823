// Walks the segments of arbitrary bytes taken as a JPEG file, finds the Exif
// segment and sets its orientation as the correction does, and sets the
// orientation of the bytes taken as a TIFF structure. Besides never crashing
// or touching memory outside the buffers, it checks what the writer promises:
// the size stays, and only the value fields of the Orientation entries (tag
// 0x0112, type SHORT) of the structure as it was change, to the value's bytes.
// Then the metadata a turned photo carries: the segments chosen, the XMP
// orientation (only digits change, spaces pad) and the Exif thumbnail's
// replacement or removal (only the thumbnail and the entries that describe it
// change), on the file's own segments and on the bytes taken as an Exif
// segment's TIFF structure and as an XMP packet.
#include "meta/CarriedMetadata.h"
#include "meta/JpegSegments.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
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

using TBytes = std::vector<uint8_t>;

uint32_t Long(const std::vector<uint8_t>& b, size_t at, bool big)
{
    return big ? uint32_t{Word(b, at, big)} << 16 | Word(b, at + 2, big)
               : uint32_t{Word(b, at + 2, big)} << 16 | Word(b, at, big);
}

bool IsSegment(std::span<const uint8_t> bytes)
{
    return bytes.size() >= 4 && bytes[0] == 0xFF && (size_t{bytes[2]} << 8 | bytes[3]) == bytes.size() - 2;
}

// The segments a run of bytes is made of; false when it is not one whole run.
bool SplitSegments(const TBytes& run, std::vector<TBytes>& segments)
{
    size_t at = 0;
    while (at < run.size()) {
        if (run.size() - at < 4)
            return false;
        const size_t size = 2 + (size_t{run[at + 2]} << 8 | run[at + 3]);
        if (size < 4 || size > run.size() - at || !IsSegment({run.data() + at, size}))
            return false;
        segments.emplace_back(run.begin() + static_cast<ptrdiff_t>(at),
                              run.begin() + static_cast<ptrdiff_t>(at + size));
        at += size;
    }
    return true;
}

// The thumbnail as a plain reader finds it: IFD1 linked from a whole IFD0,
// its offset and length entries (SHORT or LONG, one value) whole inside.
struct TThumbnailPlace
{
    uint32_t Ifd1 = 0;
    uint64_t LinkField = 0; // IFD0's link to IFD1
    uint64_t Offset = 0, Length = 0;
    std::vector<uint64_t> Fields; // value fields of the entries that describe it
    bool Found = false;
};

TThumbnailPlace FindThumbnail(const TBytes& tiff)
{
    TThumbnailPlace p;
    if (tiff.size() < 8 || !((tiff[0] == 'I' && tiff[1] == 'I') || (tiff[0] == 'M' && tiff[1] == 'M')))
        return p;
    const bool big = tiff[0] == 'M';
    const auto dir = [&](uint64_t at, uint32_t& count) {
        if (at == 0 || at + 2 > tiff.size())
            return false;
        count = Word(tiff, at, big);
        return at + 2 + 12 * uint64_t{count} + 4 <= tiff.size();
    };
    uint32_t n0 = 0, n1 = 0;
    if (Word(tiff, 2, big) != 42 || !dir(Long(tiff, 4, big), n0))
        return p;
    p.LinkField = Long(tiff, 4, big) + 2 + 12 * uint64_t{n0};
    p.Ifd1 = Long(tiff, p.LinkField, big);
    if (!dir(p.Ifd1, n1))
        return p;
    // The first entry of each tag counts.
    bool offset = false, length = false, offsetSeen = false, lengthSeen = false;
    for (uint32_t i = 0; i < n1; ++i) {
        const uint64_t e = p.Ifd1 + 2 + 12 * uint64_t{i};
        const uint16_t tag = Word(tiff, e, big);
        const uint16_t type = Word(tiff, e + 2, big);
        if (tag == 0x0100 || tag == 0x0101 || tag == 0x0201 || tag == 0x0202)
            p.Fields.push_back(e + 8);
        if (tag != 0x0201 && tag != 0x0202)
            continue;
        bool& seen = tag == 0x0201 ? offsetSeen : lengthSeen;
        if (seen)
            continue;
        seen = true;
        if ((type != 3 && type != 4) || Long(tiff, e + 4, big) != 1)
            continue;
        const uint32_t value = type == 3 ? Word(tiff, e + 8, big) : Long(tiff, e + 8, big);
        (tag == 0x0201 ? p.Offset : p.Length) = value;
        (tag == 0x0201 ? offset : length) = true;
    }
    p.Found = offset && length && p.Length > 0 && p.Offset + p.Length <= tiff.size();
    return p;
}

bool Within(uint64_t i, uint64_t from, uint64_t size)
{
    return i >= from && i - from < size;
}

// The fake turn: a picture whose size follows from the old one (so the new
// one is smaller, larger, too large to fit or missing), its bytes marked.
std::optional<TBytes> FakeTurn(std::span<const uint8_t> jpeg)
{
    if (jpeg.size() % 5 == 0)
        return std::nullopt;
    const size_t size = (jpeg.size() * 7 + jpeg[0] * 131u) % 70000;
    TBytes out(size, static_cast<uint8_t>(0xA5 ^ jpeg.size()));
    // Mostly with a frame header that gives the picture's size.
    const uint8_t frame[] = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, jpeg[0], 0x78, jpeg[jpeg.size() - 1],
                             0xA0, 1,    1,    0x11, 0};
    if (size >= sizeof frame && jpeg.size() % 4 != 0)
        std::memcpy(out.data(), frame, sizeof frame);
    return out;
}

void CheckThumbnail(const TBytes& segment)
{
    const TBytes before = segment;
    TBytes after = segment;
    TBytes turned;
    bool asked = false;
    const TThumbnailChange change = TurnExifThumbnail(after, [&](std::span<const uint8_t> jpeg) {
        asked = true;
        const std::optional<TBytes> result = FakeTurn(jpeg);
        if (result)
            turned = *result;
        return result;
    });
    Check(IsSegment(after) && after.size() <= 0xFFFF + 2);
    Check(std::equal(before.begin(), before.begin() + 10, after.begin(), after.begin() + 10) ||
          change != TThumbnailChange::None);
    Check(std::equal(before.begin() + 4, before.begin() + 10, after.begin() + 4));
    if (change == TThumbnailChange::None) {
        Check(after == before && !asked);
        return;
    }
    const TBytes old(before.begin() + 10, before.end());
    const TBytes now(after.begin() + 10, after.end());
    const TThumbnailPlace was = FindThumbnail(old);
    const TThumbnailPlace is = FindThumbnail(now);
    const bool big = old[0] == 'M';
    Check(was.LinkField != 0);
    if (change == TThumbnailChange::Removed) {
        Check(Long(now, was.LinkField, big) == 0);
        Check(now.size() == old.size() || (was.Found && now.size() == was.Offset));
        for (size_t i = 0; i < now.size(); ++i)
            Check(now[i] == old[i] || Within(i, was.LinkField, 4) ||
                  (was.Found && Within(i, was.Offset, was.Length) && now[i] == 0));
        return;
    }
    Check(asked && was.Found && is.Found && is.Ifd1 == was.Ifd1);
    Check(is.Length == turned.size() && std::equal(turned.begin(), turned.end(), now.begin() + is.Offset));
    Check(is.Offset == was.Offset || is.Offset >= old.size());
    for (size_t i = 0; i < std::min(old.size(), now.size()); ++i) {
        if (now[i] == old[i] || Within(i, is.Offset, is.Length))
            continue;
        bool field = false;
        for (uint64_t f : was.Fields)
            field = field || Within(i, f, 4);
        Check(field || (Within(i, was.Offset, was.Length) && now[i] == 0));
    }
}

// Only digits change, to the value's one digit, and spaces come in to pad.
void CheckXmp(const TBytes& segment)
{
    TBytes after = segment;
    const size_t set = SetXmpOrientation(after, 1);
    Check(IsSegment(after) && after.size() <= segment.size());
    if (set == 0) {
        Check(after == segment);
        return;
    }
    const auto skeleton = [](const TBytes& b) {
        TBytes out;
        for (uint8_t c : b)
            if (c != ' ' && (c < '0' || c > '9'))
                out.push_back(c);
        return out;
    };
    Check(skeleton(TBytes(after.begin() + 4, after.end())) ==
          skeleton(TBytes(segment.begin() + 4, segment.end())));
    TBytes again = after;
    Check(SetXmpOrientation(again, 1) == set && again == after);
}

TBytes Wrap(uint8_t marker, std::string_view id, const uint8_t* data, size_t size)
{
    const size_t n = std::min(size, size_t{0xFFFF} - 2 - id.size());
    TBytes out(4 + id.size() + n);
    out[0] = 0xFF;
    out[1] = marker;
    out[2] = static_cast<uint8_t>((out.size() - 2) >> 8);
    out[3] = static_cast<uint8_t>(out.size() - 2);
    std::memcpy(out.data() + 4, id.data(), id.size());
    if (n > 0)
        std::memcpy(out.data() + 4 + id.size(), data, n);
    return out;
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

    // The segments a turned photo carries: segments of the walk, in order.
    const std::vector<TJpegSegment> carried = DescriptiveSegments(file);
    TBytes expected;
    size_t last = 0;
    for (const TJpegSegment& s : carried) {
        Check(s.Offset >= last && SegmentBytes(file, s).size() == s.Size);
        Check(s.Marker == 0xE1 || s.Marker == 0xE2 || s.Marker == 0xED || s.Marker == 0xFE);
        last = s.Offset + s.Size;
        const std::span<const uint8_t> bytes = SegmentBytes(file, s);
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    Check(CarriedMetadata(file, false, FakeTurn) == expected);
    std::vector<TBytes> upright;
    Check(SplitSegments(CarriedMetadata(file, true, FakeTurn), upright));
    Check(upright.size() == carried.size());
    for (size_t i = 0; i < carried.size(); ++i) {
        Check(upright[i][1] == carried[i].Marker);
        const std::span<const uint8_t> bytes = SegmentBytes(file, carried[i]);
        const TBytes given(bytes.begin(), bytes.end());
        if (SegmentHasId(file, carried[i], kExifId)) {
            TBytes set = given;
            SetExifOrientation(set, 1);
            CheckThumbnail(set);
        } else if (SegmentHasId(file, carried[i], kXmpId)) {
            CheckXmp(given);
        } else {
            Check(upright[i] == given);
        }
    }

    // The same bytes as the structure of an Exif segment and as an XMP packet.
    CheckThumbnail(Wrap(kMarkerApp1, kExifId, data, size));
    CheckXmp(Wrap(kMarkerApp1, kXmpId, data, size));
    JpegFrameSize(file);

    // Where segments go in an encoded file.
    const size_t place = SegmentPlace(file);
    Check(place <= size);
    if (place > 2)
        Check(data[2] == 0xFF && data[3] == kMarkerApp0 && place == 4 + (size_t{data[4]} << 8 | data[5]));
    return 0;
}

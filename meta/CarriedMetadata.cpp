#include "meta/CarriedMetadata.h"

#include "meta/CheckedBytes.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

namespace {

using TBytes = std::vector<uint8_t>;

constexpr uint16_t kTagImageWidth = 0x0100;
constexpr uint16_t kTagImageLength = 0x0101;
constexpr uint16_t kTagStripOffsets = 0x0111;
constexpr uint16_t kTagThumbnailOffset = 0x0201; // JPEGInterchangeFormat
constexpr uint16_t kTagThumbnailLength = 0x0202; // JPEGInterchangeFormatLength
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr size_t kIfdEntrySize = 12;

// Marker, length field and the Exif identifier: where the TIFF structure starts.
constexpr size_t kExifHeader = 4 + kExifId.size();
// The most a segment's length field can say, and the TIFF structure that fits.
constexpr size_t kMaxSegmentLength = 0xFFFF;
constexpr size_t kMaxTiff = kMaxSegmentLength - 2 - kExifId.size();

constexpr std::string_view kTiffNamespace = "http://ns.adobe.com/tiff/1.0/";

bool HasId(std::span<const uint8_t> segment, uint8_t marker, std::string_view id)
{
    return segment.size() >= 4 + id.size() && segment[0] == 0xFF && segment[1] == marker &&
           std::memcmp(segment.data() + 4, id.data(), id.size()) == 0;
}

void SetLengthField(TBytes& segment)
{
    const size_t length = segment.size() - 2;
    segment[2] = static_cast<uint8_t>(length >> 8);
    segment[3] = static_cast<uint8_t>(length);
}

void PutLong(std::span<uint8_t> bytes, uint64_t offset, uint32_t value, bool bigEndian)
{
    PutWord(bytes, bigEndian ? offset : offset + 2, static_cast<uint16_t>(value >> 16), bigEndian);
    PutWord(bytes, bigEndian ? offset + 2 : offset, static_cast<uint16_t>(value), bigEndian);
}

// ---- ICC profile chunks ----

// The chunks make up one profile: each says it is one of the same number of
// chunks, and every sequence number from 1 to that number comes exactly once.
bool WholeProfile(std::span<const uint8_t> file, const std::vector<TJpegSegment>& chunks)
{
    if (chunks.empty() || chunks.size() > 255)
        return false;
    std::vector<bool> seen(chunks.size() + 1, false);
    for (const TJpegSegment& chunk : chunks) {
        const std::span<const uint8_t> bytes = SegmentBytes(file, chunk);
        const size_t at = 4 + kIccId.size();
        if (bytes.size() < at + 2)
            return false;
        const uint8_t sequence = bytes[at];
        const uint8_t count = bytes[at + 1];
        if (count != chunks.size() || sequence == 0 || sequence > count || seen[sequence])
            return false;
        seen[sequence] = true;
    }
    return true;
}

// ---- XMP ----

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

size_t SkipSpaces(const std::string& text, size_t at)
{
    while (at < text.size() && IsSpace(text[at]))
        ++at;
    return at;
}

// The prefixes the packet binds to the TIFF namespace (xmlns:p="..."), and
// "tiff", the one every writer uses.
std::set<std::string> TiffPrefixes(const std::string& packet)
{
    std::set<std::string> prefixes{"tiff"};
    const std::string declaration = "xmlns:";
    for (size_t at = packet.find(declaration); at != std::string::npos;
         at = packet.find(declaration, at + 1)) {
        const size_t nameStart = at + declaration.size();
        size_t i = nameStart;
        while (i < packet.size() && !IsSpace(packet[i]) && packet[i] != '=')
            ++i;
        const std::string prefix = packet.substr(nameStart, i - nameStart);
        i = SkipSpaces(packet, i);
        if (i >= packet.size() || packet[i] != '=')
            continue;
        i = SkipSpaces(packet, i + 1);
        if (i >= packet.size() || (packet[i] != '"' && packet[i] != '\''))
            continue;
        const size_t close = packet.find(packet[i], i + 1);
        if (close == std::string::npos)
            continue;
        if (!prefix.empty() && std::string_view(packet).substr(i + 1, close - i - 1) == kTiffNamespace)
            prefixes.insert(prefix);
    }
    return prefixes;
}

// The digits of the value that starts at begin and ends at end, when the
// value is a number with nothing but spaces around it.
std::optional<std::pair<size_t, size_t>> NumberIn(const std::string& text, size_t begin, size_t end)
{
    size_t first = SkipSpaces(text, begin);
    size_t last = first;
    while (last < end && text[last] >= '0' && text[last] <= '9')
        ++last;
    if (last == first || SkipSpaces(text, last) < end)
        return std::nullopt;
    return std::pair{first, last - first};
}

// Where the value of the property name lies at the occurrence at: the digits
// of an attribute name="v" (or 'v') or of an element <name>v</name>.
std::optional<std::pair<size_t, size_t>> PropertyValue(const std::string& packet, size_t at,
                                                       const std::string& name)
{
    if (at == 0)
        return std::nullopt;
    const size_t after = at + name.size();
    if (packet[at - 1] == '<') {
        if (after >= packet.size() || (packet[after] != '>' && !IsSpace(packet[after])))
            return std::nullopt; // a longer name
        const size_t close = packet.find('>', after);
        if (close == std::string::npos || packet[close - 1] == '/')
            return std::nullopt;
        const size_t end = packet.find('<', close + 1);
        if (end == std::string::npos || packet.compare(end, 2 + name.size(), "</" + name) != 0)
            return std::nullopt;
        return NumberIn(packet, close + 1, end);
    }
    if (!IsSpace(packet[at - 1]))
        return std::nullopt;
    size_t i = SkipSpaces(packet, after);
    if (i >= packet.size() || packet[i] != '=')
        return std::nullopt;
    i = SkipSpaces(packet, i + 1);
    if (i >= packet.size() || (packet[i] != '"' && packet[i] != '\''))
        return std::nullopt;
    const size_t end = packet.find(packet[i], i + 1);
    if (end == std::string::npos)
        return std::nullopt;
    return NumberIn(packet, i + 1, end);
}

// ---- Exif thumbnail ----

/// One directory entry of a TIFF structure.
struct TEntry
{
    uint64_t At = 0; ///< offset of the entry
    uint16_t Type = 0;
    uint32_t Count = 0;
};

/// A directory that lies whole inside the structure, with its link.
struct TDirectory
{
    uint64_t At = 0;
    uint16_t Count = 0;

    uint64_t LinkAt() const { return At + 2 + kIfdEntrySize * Count; }
    uint64_t End() const { return LinkAt() + 4; }
};

std::optional<TDirectory> DirectoryAt(const TCheckedBytes& t, uint64_t at)
{
    const std::optional<uint16_t> count = t.Word(at);
    if (at == 0 || !count || !CountFits(t.Size(), at + 2, *count, kIfdEntrySize) ||
        !t.Fits(at + 2 + kIfdEntrySize * *count, 4))
        return std::nullopt;
    return TDirectory{at, *count};
}

std::optional<TEntry> FindEntry(const TCheckedBytes& t, const TDirectory& ifd, uint16_t tag)
{
    for (uint64_t i = 0; i < ifd.Count; ++i) {
        const uint64_t e = ifd.At + 2 + kIfdEntrySize * i;
        if (t.Word(e) == tag)
            return TEntry{e, *t.Word(e + 2), *t.Long(e + 4)};
    }
    return std::nullopt;
}

// The single value of a SHORT or LONG entry.
std::optional<uint32_t> SingleValue(const TCheckedBytes& t, const std::optional<TEntry>& entry)
{
    if (!entry || entry->Count != 1)
        return std::nullopt;
    if (entry->Type == kTypeShort)
        return t.Word(entry->At + 8);
    if (entry->Type == kTypeLong)
        return t.Long(entry->At + 8);
    return std::nullopt;
}

bool Overlap(uint64_t a, uint64_t aEnd, uint64_t b, uint64_t bEnd)
{
    return a < bEnd && b < aEnd;
}

// Sets the single value of a SHORT or LONG entry.
void SetSingleValue(std::span<uint8_t> tiff, const TEntry& entry, uint32_t value, bool bigEndian)
{
    if (entry.Type == kTypeShort) {
        PutWord(tiff, entry.At + 8, static_cast<uint16_t>(value), bigEndian);
        PutWord(tiff, entry.At + 10, 0, bigEndian);
    } else {
        PutLong(tiff, entry.At + 8, value, bigEndian);
    }
}

} // namespace

std::vector<TJpegSegment> DescriptiveSegments(std::span<const uint8_t> file)
{
    std::vector<TJpegSegment> kept;
    std::vector<TJpegSegment> iccChunks;
    bool exif = false;
    bool xmp = false;
    TJpegSegmentWalk walk(file);
    TJpegSegment segment;
    while (walk.Next(segment)) {
        const auto has = [&](std::string_view id) { return SegmentHasId(file, segment, id); };
        bool keep = false;
        switch (segment.Marker) {
        case kMarkerApp1:
            if (has(kExifId)) {
                keep = !exif;
                exif = true;
            } else if (has(kXmpId)) {
                keep = !xmp;
                xmp = true;
            } else {
                keep = has(kExtendedXmpId);
            }
            break;
        case kMarkerApp2:
            if (has(kIccId))
                iccChunks.push_back(segment);
            keep = has(kIccId);
            break;
        case kMarkerApp13:
            keep = has(kPhotoshopId);
            break;
        case kMarkerCom:
            keep = true;
            break;
        default:
            break;
        }
        if (keep)
            kept.push_back(segment);
    }
    // Extended XMP only extends a packet; a profile is whole or of no use.
    const bool profile = WholeProfile(file, iccChunks);
    std::erase_if(kept, [&](const TJpegSegment& s) {
        return (!xmp && s.Marker == kMarkerApp1 && SegmentHasId(file, s, kExtendedXmpId)) ||
               (!profile && s.Marker == kMarkerApp2);
    });
    return kept;
}

size_t SetXmpOrientation(std::vector<uint8_t>& segment, uint16_t value)
{
    if (value > 9 || !HasId(segment, kMarkerApp1, kXmpId))
        return 0;
    const size_t start = 4 + kXmpId.size();
    std::string packet(segment.begin() + static_cast<ptrdiff_t>(start), segment.end());

    std::vector<std::pair<size_t, size_t>> digits; // where each value's digits lie
    for (const std::string& prefix : TiffPrefixes(packet)) {
        const std::string name = prefix + ":Orientation";
        for (size_t at = packet.find(name); at != std::string::npos; at = packet.find(name, at + 1))
            if (const auto found = PropertyValue(packet, at, name))
                digits.push_back(*found);
    }
    if (digits.empty())
        return 0;
    std::sort(digits.begin(), digits.end());
    digits.erase(std::unique(digits.begin(), digits.end()), digits.end());

    size_t shrink = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        packet.replace(it->first, it->second, 1, static_cast<char>('0' + value));
        shrink += it->second - 1;
    }
    // The padding before the packet's end keeps its length.
    const size_t trailer = packet.rfind("<?xpacket end=");
    if (shrink > 0 && trailer != std::string::npos)
        packet.insert(trailer, shrink, ' ');
    segment.resize(start);
    segment.insert(segment.end(), packet.begin(), packet.end());
    SetLengthField(segment);
    return digits.size();
}

std::optional<std::pair<uint16_t, uint16_t>> JpegFrameSize(std::span<const uint8_t> file)
{
    TJpegSegmentWalk walk(file);
    TJpegSegment segment;
    while (walk.Next(segment)) {
        const uint8_t m = segment.Marker;
        // SOF0..SOF15 but for DHT (C4), JPG (C8) and DAC (CC).
        if (m < 0xC0 || m > 0xCF || m == 0xC4 || m == 0xC8 || m == 0xCC)
            continue;
        const TCheckedBytes bytes(SegmentBytes(file, segment));
        const std::optional<uint16_t> height = bytes.Word(5);
        const std::optional<uint16_t> width = bytes.Word(7);
        if (!height || !width)
            return std::nullopt;
        return std::pair{*width, *height};
    }
    return std::nullopt;
}

TThumbnailChange TurnExifThumbnail(std::vector<uint8_t>& segment, const TThumbnailTurn& turn)
{
    if (!HasId(segment, kMarkerApp1, kExifId) || segment.size() < kExifHeader + 8)
        return TThumbnailChange::None;
    TBytes tiff(segment.begin() + kExifHeader, segment.end());
    TCheckedBytes t(tiff);
    if (tiff[0] == 'I' && tiff[1] == 'I')
        t.SetBigEndian(false);
    else if (tiff[0] != 'M' || tiff[1] != 'M')
        return TThumbnailChange::None;
    const bool big = t.BigEndian();
    if (t.Word(2) != 42)
        return TThumbnailChange::None;
    const std::optional<TDirectory> ifd0 = DirectoryAt(t, *t.Long(4));
    if (!ifd0)
        return TThumbnailChange::None;
    const uint32_t ifd1At = *t.Long(ifd0->LinkAt());
    if (ifd1At == 0)
        return TThumbnailChange::None;

    // Where the old picture lies, once known to be a picture that can be
    // cleared without touching the header or the two directories.
    std::optional<std::pair<uint64_t, uint64_t>> old;
    const auto commit = [&segment, &tiff] {
        segment.resize(kExifHeader);
        segment.insert(segment.end(), tiff.begin(), tiff.end());
        SetLengthField(segment);
    };
    const auto remove = [&] {
        tiff.assign(segment.begin() + kExifHeader, segment.end());
        PutLong(tiff, ifd0->LinkAt(), 0, big);
        if (old && old->second == tiff.size())
            tiff.resize(old->first);
        else if (old)
            std::fill(tiff.begin() + static_cast<ptrdiff_t>(old->first),
                      tiff.begin() + static_cast<ptrdiff_t>(old->second), uint8_t{0});
        commit();
        return TThumbnailChange::Removed;
    };

    const std::optional<TDirectory> ifd1 = DirectoryAt(t, ifd1At);
    if (!ifd1 || Overlap(ifd1->At, ifd1->End(), ifd0->At, ifd0->End()))
        return remove();
    const std::optional<TEntry> offsetEntry = FindEntry(t, *ifd1, kTagThumbnailOffset);
    const std::optional<TEntry> lengthEntry = FindEntry(t, *ifd1, kTagThumbnailLength);
    if (!offsetEntry && !lengthEntry) {
        // Strips hold an uncompressed picture, which stays sideways: it goes.
        if (FindEntry(t, *ifd1, kTagStripOffsets))
            return remove();
        return TThumbnailChange::None;
    }
    const std::optional<uint32_t> offset = SingleValue(t, offsetEntry);
    const std::optional<uint32_t> length = SingleValue(t, lengthEntry);
    if (!offset || !length || *length == 0 || !t.Fits(*offset, *length))
        return remove();
    const uint64_t begin = *offset;
    const uint64_t end = begin + *length;
    if (Overlap(begin, end, 0, 8) || Overlap(begin, end, ifd0->At, ifd0->End()) ||
        Overlap(begin, end, ifd1->At, ifd1->End()))
        return remove();
    old = std::pair{begin, end};

    const std::optional<TBytes> turned = turn(std::span<const uint8_t>(tiff).subspan(begin, *length));
    if (!turned || turned->empty())
        return remove();
    const size_t size = turned->size();
    uint64_t at = begin;
    if (end == tiff.size()) {
        // The picture ends the structure: it may shrink or grow there.
        tiff.resize(begin + size);
    } else {
        std::fill(tiff.begin() + static_cast<ptrdiff_t>(begin), tiff.begin() + static_cast<ptrdiff_t>(end),
                  uint8_t{0});
        if (size > *length) {
            at = tiff.size() + (tiff.size() & 1);
            tiff.resize(at + size, 0);
        }
    }
    if (tiff.size() > kMaxTiff)
        return remove();
    std::copy(turned->begin(), turned->end(), tiff.begin() + static_cast<ptrdiff_t>(at));
    SetSingleValue(tiff, *offsetEntry, static_cast<uint32_t>(at), big);
    SetSingleValue(tiff, *lengthEntry, static_cast<uint32_t>(size), big);
    if (const auto frame = JpegFrameSize(*turned)) {
        const TCheckedBytes now(tiff, big);
        for (const auto& [tag, value] :
             {std::pair{kTagImageWidth, frame->first}, std::pair{kTagImageLength, frame->second}})
            if (const std::optional<TEntry> entry = FindEntry(now, *ifd1, tag); SingleValue(now, entry))
                SetSingleValue(tiff, *entry, value, big);
    }
    commit();
    return TThumbnailChange::Replaced;
}

std::vector<uint8_t> CarriedMetadata(std::span<const uint8_t> photo, bool upright, const TThumbnailTurn& turn)
{
    TBytes out;
    for (const TJpegSegment& s : DescriptiveSegments(photo)) {
        const std::span<const uint8_t> bytes = SegmentBytes(photo, s);
        if (!upright || s.Marker != kMarkerApp1 ||
            !(HasId(bytes, kMarkerApp1, kExifId) || HasId(bytes, kMarkerApp1, kXmpId))) {
            out.insert(out.end(), bytes.begin(), bytes.end());
            continue;
        }
        TBytes segment(bytes.begin(), bytes.end());
        if (HasId(segment, kMarkerApp1, kExifId)) {
            SetExifOrientation(segment, 1);
            TurnExifThumbnail(segment, turn);
        } else {
            SetXmpOrientation(segment, 1);
        }
        out.insert(out.end(), segment.begin(), segment.end());
    }
    return out;
}

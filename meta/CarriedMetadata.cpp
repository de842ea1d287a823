#include "meta/CarriedMetadata.h"

#include "meta/CheckedBytes.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

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
constexpr size_t npos = std::string_view::npos;

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

size_t SkipSpaces(std::string_view text, size_t at)
{
    while (at < text.size() && IsSpace(text[at]))
        ++at;
    return at;
}

// Names end at a space or at a character of the markup; other bytes are
// taken as they are, so a packet with odd names is still walked.
size_t NameEnd(std::string_view text, size_t at)
{
    while (at < text.size() && !IsSpace(text[at]) && std::string_view("<>/=\"'").find(text[at]) == npos)
        ++at;
    return at;
}

// The digits of text[begin, end) when it is a number with nothing but spaces
// around it: where they start and how many there are.
std::optional<std::pair<size_t, size_t>> NumberIn(std::string_view text, size_t begin, size_t end)
{
    while (begin < end && IsSpace(text[begin]))
        ++begin;
    size_t last = begin;
    while (last < end && text[last] >= '0' && text[last] <= '9')
        ++last;
    if (last == begin)
        return std::nullopt;
    for (size_t i = last; i < end; ++i)
        if (!IsSpace(text[i]))
            return std::nullopt;
    return std::pair{begin, last - begin};
}

/// What a walk over an XMP packet finds: the digits of every orientation
/// value in packet order, and where the trailer <?xpacket end=...?> starts.
struct TXmpOrientations
{
    std::vector<std::pair<size_t, size_t>> Digits;
    size_t Trailer = npos;
};

// Walks the packet's markup as an XML reader does, so that a name counts only
// where it is a tag's or an attribute's name: not inside a comment, a
// processing instruction, CDATA or an attribute value, and not where text
// merely looks like a tag. A prefix means the TIFF namespace where the
// innermost declaration in scope binds it to it (declarations on a tag count
// for the tag itself); "tiff" also where nothing binds it, as writers that
// leave the declaration out mean it. An element without a prefix is in the
// default namespace. A value is a number with nothing but spaces around it:
// an attribute's value, or an element's content when the element holds
// nothing else and ends with the matching end tag. Markup that is not well
// formed is read as text; a comment, instruction or CDATA section that does
// not end runs to the packet's end. The walk depends on no digit of a value
// and on no space between tags, so the rewrite cannot change what it finds.
TXmpOrientations FindXmpOrientations(std::string_view packet)
{
    TXmpOrientations found;
    std::vector<std::pair<std::string_view, bool>> bindings; // prefix ("" the default), bound to TIFF
    struct TOpen
    {
        std::string_view Name;
        size_t Bindings; // how many bindings were in scope before it
    };
    std::vector<TOpen> open;
    const auto tiff = [&](std::string_view prefix) {
        for (auto it = bindings.rbegin(); it != bindings.rend(); ++it)
            if (it->first == prefix)
                return it->second;
        return prefix == "tiff";
    };
    // Attributes without a prefix are in no namespace; elements take the default one.
    const auto orientation = [&](std::string_view name, bool element) {
        const size_t colon = name.find(':');
        if (colon == npos)
            return element && name == "Orientation" && tiff("");
        return colon > 0 && name.substr(colon + 1) == "Orientation" && tiff(name.substr(0, colon));
    };
    const auto skipPast = [&](size_t from, std::string_view close) {
        const size_t at = packet.find(close, from);
        return at == npos ? packet.size() : at + close.size();
    };

    std::optional<size_t> value; // where the content of an open orientation element starts
    size_t at = 0;
    while ((at = packet.find('<', at)) != npos) {
        const size_t lt = at;
        const std::string_view rest = packet.substr(lt);
        std::optional<size_t> content;
        if (rest.starts_with("<!--")) {
            at = skipPast(lt + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            at = skipPast(lt + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            if (rest.starts_with("<?xpacket end="))
                found.Trailer = lt;
            at = skipPast(lt + 2, "?>");
        } else if (rest.starts_with("<!")) {
            at = skipPast(lt + 2, ">");
        } else if (rest.starts_with("</")) {
            const size_t nameEnd = NameEnd(packet, lt + 2);
            const std::string_view name = packet.substr(lt + 2, nameEnd - lt - 2);
            const size_t close = SkipSpaces(packet, nameEnd);
            if (name.empty() || close >= packet.size() || packet[close] != '>') {
                at = lt + 1;
            } else {
                // An end tag closes the innermost open element when it names
                // it; any other end tag is passed over.
                if (!open.empty() && open.back().Name == name) {
                    if (value)
                        if (const auto digits = NumberIn(packet, *value, lt))
                            found.Digits.push_back(*digits);
                    bindings.resize(open.back().Bindings);
                    open.pop_back();
                }
                at = close + 1;
            }
        } else {
            const size_t nameEnd = NameEnd(packet, lt + 1);
            const std::string_view name = packet.substr(lt + 1, nameEnd - lt - 1);
            struct TAttribute
            {
                std::string_view Name;
                size_t Begin, End; // the value, quotes excluded
            };
            std::vector<TAttribute> attributes;
            std::optional<bool> empty; // set once the tag is closed by ">" or "/>"
            size_t i = nameEnd;
            while (!name.empty()) {
                const size_t next = SkipSpaces(packet, i);
                if (next < packet.size() && packet[next] == '>') {
                    empty = false;
                    i = next + 1;
                    break;
                }
                if (packet.substr(next).starts_with("/>")) {
                    empty = true;
                    i = next + 2;
                    break;
                }
                const size_t attrEnd = NameEnd(packet, next);
                if (next == i || attrEnd == next) // attributes stand apart and have a name
                    break;
                const size_t eq = SkipSpaces(packet, attrEnd);
                if (eq >= packet.size() || packet[eq] != '=')
                    break;
                const size_t quote = SkipSpaces(packet, eq + 1);
                if (quote >= packet.size() || (packet[quote] != '"' && packet[quote] != '\''))
                    break;
                const size_t end = packet.find(packet[quote], quote + 1);
                if (end == npos)
                    break;
                attributes.push_back({packet.substr(next, attrEnd - next), quote + 1, end});
                i = end + 1;
            }
            if (!empty) {
                at = lt + 1;
            } else {
                const size_t outer = bindings.size();
                // xmlns="..." binds the default namespace, xmlns:p="..." the prefix p.
                for (const TAttribute& a : attributes) {
                    const std::string_view prefix = a.Name.substr(std::min(a.Name.size(), size_t{6}));
                    if (a.Name == "xmlns" ||
                        (a.Name.starts_with("xmlns:") && !prefix.empty() && prefix != "xmlns"))
                        bindings.emplace_back(prefix,
                                              packet.substr(a.Begin, a.End - a.Begin) == kTiffNamespace);
                }
                for (const TAttribute& a : attributes)
                    if (orientation(a.Name, false))
                        if (const auto digits = NumberIn(packet, a.Begin, a.End))
                            found.Digits.push_back(*digits);
                if (*empty) {
                    bindings.resize(outer);
                } else {
                    if (orientation(name, true))
                        content = i;
                    open.push_back({name, outer});
                }
                at = i;
            }
        }
        value = content;
    }
    return found;
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
    const std::string packet(segment.begin() + static_cast<ptrdiff_t>(start), segment.end());
    const TXmpOrientations found = FindXmpOrientations(packet);
    if (found.Digits.empty())
        return 0;

    size_t shrink = 0;
    for (const auto& [at, count] : found.Digits)
        shrink += count - 1;
    // Each value becomes one digit; the padding before the trailer takes up
    // what the values gave back, so the packet keeps its length.
    std::string out;
    out.reserve(packet.size());
    size_t copied = 0;
    const auto copyTo = [&](size_t at) {
        if (found.Trailer >= copied && found.Trailer < at) {
            out.append(packet, copied, found.Trailer - copied);
            out.append(shrink, ' ');
            copied = found.Trailer;
        }
        out.append(packet, copied, at - copied);
    };
    for (const auto& [at, count] : found.Digits) {
        copyTo(at);
        out.push_back(static_cast<char>('0' + value));
        copied = at + count;
    }
    copyTo(packet.size());
    segment.resize(start);
    segment.insert(segment.end(), out.begin(), out.end());
    SetLengthField(segment);
    return found.Digits.size();
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

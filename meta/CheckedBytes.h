#pragma once

// Checked access to file data held in memory (a JPEG file, a segment of it,
// the TIFF structure inside one). Offsets and counts come from the file and
// are hostile: every check is written so that no sum or product can wrap.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

/// Whether n bytes from offset lie inside a block of size bytes.
constexpr bool Fits(uint64_t size, uint64_t offset, uint64_t n)
{
    return offset <= size && n <= size - offset;
}

/// Whether count items of itemSize bytes each (itemSize > 0) from offset lie
/// inside a block of size bytes.
constexpr bool CountFits(uint64_t size, uint64_t offset, uint64_t count, uint64_t itemSize)
{
    return offset <= size && count <= (size - offset) / itemSize;
}

/// Reads bytes and 16 and 32-bit values in a byte order from a block in
/// memory. A read that does not fit gives nothing.
class TCheckedBytes
{
public:
    explicit TCheckedBytes(std::span<const uint8_t> bytes, bool bigEndian = true)
        : FBytes(bytes)
        , FBigEndian(bigEndian)
    {
    }

    uint64_t Size() const { return FBytes.size(); }
    bool Fits(uint64_t offset, uint64_t n) const { return ::Fits(FBytes.size(), offset, n); }
    bool BigEndian() const { return FBigEndian; }
    void SetBigEndian(bool value) { FBigEndian = value; }

    std::optional<uint8_t> Byte(uint64_t offset) const
    {
        if (!Fits(offset, 1))
            return std::nullopt;
        return FBytes[static_cast<size_t>(offset)];
    }
    std::optional<uint16_t> Word(uint64_t offset) const
    {
        if (!Fits(offset, 2))
            return std::nullopt;
        const uint8_t* p = FBytes.data() + offset;
        return static_cast<uint16_t>(FBigEndian ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
    }
    std::optional<uint32_t> Long(uint64_t offset) const
    {
        if (!Fits(offset, 4))
            return std::nullopt;
        const uint8_t* p = FBytes.data() + offset;
        return FBigEndian ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                          : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    }

private:
    std::span<const uint8_t> FBytes;
    bool FBigEndian;
};

/// Writes value at offset in the byte order; false, writing nothing, when the
/// two bytes do not fit.
inline bool PutWord(std::span<uint8_t> bytes, uint64_t offset, uint16_t value, bool bigEndian)
{
    if (!Fits(bytes.size(), offset, 2))
        return false;
    uint8_t* p = bytes.data() + offset;
    p[bigEndian ? 0 : 1] = static_cast<uint8_t>(value >> 8);
    p[bigEndian ? 1 : 0] = static_cast<uint8_t>(value);
    return true;
}

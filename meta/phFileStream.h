#pragma once

#include "base/Classes.h"
#include "platform/FileStream.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// Read-only, buffered, random-access reader of one file's bytes, with 16-bit
/// and 32-bit reads in a byte order the owner may switch at any moment.
///
/// The file is read through a window of 1024 bytes, one platform read per
/// refill; a window inside the stretch of the file's start that earlier
/// windows have read is filled from a copy of it instead. The read position
/// is the object's own and independent of the platform stream's. Reads move
/// the position directly; explicit jumps go through the virtual SetPosition
/// so that a descendant can bound them. A read at a byte the file does not
/// hold raises Exception("Out of bounds"). Only the first 2 GiB - 1 bytes of
/// a file are addressable (positions are signed 32-bit).
class TphFileStream
{
public:
    /// Opens fileName with the platform stream's open mode (fmOpenRead |
    /// fmShareDenyWrite for reading). Raises EFOpenError when it cannot.
    TphFileStream(const std::string& fileName, uint16_t mode);
    /// Reads an already opened stream, which the object takes over (bytes in
    /// memory, for instance).
    explicit TphFileStream(std::unique_ptr<TStream> stream);
    virtual ~TphFileStream();
    TphFileStream(const TphFileStream&) = delete;
    TphFileStream& operator=(const TphFileStream&) = delete;

    int32_t Position() const { return FPosition; }
    /// Moves the read position; no file access, never fails here.
    virtual void SetPosition(int32_t value);

    /// Refills the window so that it starts at pos, unless pos is already in it.
    void LoadBuffer(int32_t pos);
    bool InBuffer(int32_t pos) const
    {
        const int64_t d = static_cast<int64_t>(pos) - FBufStart;
        return d >= 0 && d < FBufCount;
    }
    /// True in the end-of-data state: the last fill found no bytes.
    bool Eof() const { return FBufCount == 0; }

    /// The byte at pos; the position then follows it. Raises "Out of bounds".
    uint8_t ReadByteAt(int32_t pos)
    {
        if (!InBuffer(pos))
            Refill(pos);
        const uint8_t b = FBuffer[static_cast<size_t>(static_cast<int64_t>(pos) - FBufStart)];
        FPosition = pos + 1;
        return b;
    }
    uint8_t ReadByte() { return ReadByteAt(FPosition); }
    char ReadChar() { return static_cast<char>(ReadByteAt(FPosition)); }
    uint16_t ReadWord()
    {
        const uint8_t b1 = ReadByte();
        const uint8_t b2 = ReadByte();
        return FBigEndian ? static_cast<uint16_t>(b1 << 8 | b2) : static_cast<uint16_t>(b2 << 8 | b1);
    }
    uint32_t ReadLong()
    {
        const uint32_t w1 = ReadWord();
        const uint32_t w2 = ReadWord();
        return FBigEndian ? (w1 << 16 | w2) : (w2 << 16 | w1);
    }
    /// Calls f with each of the next count bytes, as count ReadByte calls
    /// would, but straight from the window; refills and raises like them.
    template <typename F> void ReadEachByte(int32_t count, F&& f)
    {
        while (count > 0) {
            if (!InBuffer(FPosition))
                Refill(FPosition);
            const auto at = static_cast<size_t>(static_cast<int64_t>(FPosition) - FBufStart);
            const auto run = static_cast<int32_t>(
                std::min<int64_t>(count, static_cast<int64_t>(FBufCount) - static_cast<int64_t>(at)));
            for (int32_t i = 0; i < run; ++i)
                f(FBuffer[at + static_cast<size_t>(i)]);
            FPosition += run;
            count -= run;
        }
    }
    /// Stores up to count bytes from the position into buf, which the caller
    /// has sized; never changes buf's length. Returns the bytes stored: 0 when
    /// the end-of-data state holds on entry; running past the end raises.
    int32_t ReadBytes(std::string& buf, int32_t count);

    /// Number of bytes the file holds from pos on (0 outside the file).
    /// Asks the platform stream for the file size once.
    int64_t BytesFrom(int32_t pos);

    bool BigEndian() const { return FBigEndian; }
    void SetBigEndian(bool value) { FBigEndian = value; }
    const std::string& FileName() const { return FFileName; }
    int32_t BufStart() const { return FBufStart; }
    int32_t BufCount() const { return FBufCount; }

protected:
    std::string FFileName;
    std::unique_ptr<TStream> FStream;
    int32_t FBufSize = 1024;
    std::unique_ptr<uint8_t[]> FBuffer;
    int32_t FBufStart = 0;
    int32_t FBufCount = 0;
    int32_t FPosition = 0;
    bool FBigEndian = true;

private:
    void FillFirstWindow(int64_t start);
    /// One platform read of up to FBufSize bytes at pos into the buffer.
    int32_t ReadWindow(int32_t pos);
    /// LoadBuffer, then "Out of bounds" when the window is empty.
    [[gnu::noinline]] void Refill(int32_t pos);

    int64_t FFileSize = -1;
    std::vector<uint8_t> FKept; ///< the file's first bytes, as far as windows have read them without a gap
    bool FKeptAll = false;      ///< FKept reaches the end of the file
};

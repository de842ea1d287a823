#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// Open modes of file streams (platform/FileStream.h), as the callers pass them.
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmCreate = 0xFFFF;

enum class TSeekOrigin
{
    soBeginning,
    soCurrent,
    soEnd
};

/// Byte stream with a position. Read returns the bytes delivered (fewer at the
/// end); Write returns the bytes taken. ReadBuffer/WriteBuffer insist on the
/// full count and raise EReadError/EWriteError otherwise.
class TStream
{
public:
    virtual ~TStream() = default;
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    /// Reads up to count bytes starting at pos (from the start); returns the
    /// bytes delivered, 0 when pos lies outside. The stream's position after
    /// it is unspecified. Files do it in one system call.
    virtual int64_t ReadAt(int64_t pos, void* buffer, int64_t count);

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    virtual int64_t Size();
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    /// Copies count bytes (all from the current position when count is 0).
    int64_t CopyFrom(TStream& source, int64_t count);
};

/// A growable block of memory with a position.
class TMemoryStream : public TStream
{
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }

    void SetSize(int64_t size);
    void Clear();
    void LoadFromStream(TStream& source);
    void SaveToStream(TStream& dest);
    uint8_t* Memory() { return FData.data(); }
    const uint8_t* Memory() const { return FData.data(); }

private:
    std::vector<uint8_t> FData;
    int64_t FPosition = 0;
};

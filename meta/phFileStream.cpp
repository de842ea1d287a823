#include "meta/phFileStream.h"

#include "base/SysUtils.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int64_t kMaxPosition = std::numeric_limits<int32_t>::max();
// How much of the file's start is kept for later windows: the Exif segment
// lies within its first 64 KiB after a few small segments.
constexpr int64_t kKeepLimit = 128 * 1024;

} // namespace

TphFileStream::TphFileStream(const std::string& fileName, uint16_t mode)
    : FFileName(fileName)
    , FStream(std::make_unique<TFileStream>(fileName, mode))
{
    // A file just opened stands at its start; no need to ask.
    FillFirstWindow(0);
}

TphFileStream::TphFileStream(std::unique_ptr<TStream> stream)
    : FStream(std::move(stream))
{
    FillFirstWindow(FStream->Position());
}

TphFileStream::~TphFileStream() = default;

void TphFileStream::FillFirstWindow(int64_t start)
{
    FBuffer = std::make_unique<uint8_t[]>(static_cast<size_t>(FBufSize));
    FBufStart = 0;
    FBufCount = 0;
    if (start < 0 || start >= kMaxPosition)
        return;
    FBufStart = static_cast<int32_t>(start);
    FBufCount = ReadWindow(FBufStart);
}

int32_t TphFileStream::ReadWindow(int32_t pos)
{
    // The window never reaches past the last addressable position, so that
    // the position after any byte read still fits.
    const int64_t want = std::min<int64_t>(FBufSize, kMaxPosition - pos);
    const auto kept = static_cast<int64_t>(FKept.size());
    if (pos + want <= kept || (FKeptAll && pos >= 0)) {
        // The directory walk jumps back and forth inside the first few
        // kilobytes; windows there are served from the bytes already read.
        const int64_t n = std::clamp<int64_t>(kept - pos, 0, want);
        if (n > 0)
            std::copy_n(FKept.data() + pos, n, FBuffer.get());
        return static_cast<int32_t>(n);
    }
    const int64_t n = std::clamp<int64_t>(FStream->ReadAt(pos, FBuffer.get(), want), 0, want);
    if (pos <= kept && pos + n >= kept && pos + n <= kKeepLimit) {
        FKept.insert(FKept.end(), FBuffer.get() + (kept - pos), FBuffer.get() + n);
        FKeptAll = n < want; // a short read met the end of the file
    }
    return static_cast<int32_t>(n);
}

void TphFileStream::SetPosition(int32_t value)
{
    FPosition = value;
}

void TphFileStream::LoadBuffer(int32_t pos)
{
    if (InBuffer(pos))
        return;
    FBufStart = pos;
    FBufCount = 0;
    if (pos >= 0)
        FBufCount = ReadWindow(pos);
}

void TphFileStream::Refill(int32_t pos)
{
    LoadBuffer(pos);
    if (Eof())
        throw Exception("Out of bounds");
}

int32_t TphFileStream::ReadBytes(std::string& buf, int32_t count)
{
    const int64_t limit = std::min<int64_t>(count, static_cast<int64_t>(buf.size()));
    int32_t i = 0;
    while (!Eof() && i < limit) {
        buf[static_cast<size_t>(i)] = ReadChar();
        ++i;
    }
    return i;
}

int64_t TphFileStream::BytesFrom(int32_t pos)
{
    if (FFileSize < 0) {
        FFileSize = std::max<int64_t>(FStream->Size(), 0);
        // The window cap makes nothing past the last addressable byte readable.
        FFileSize = std::min(FFileSize, kMaxPosition);
    }
    if (pos < 0 || pos >= FFileSize)
        return 0;
    return FFileSize - pos;
}

#include "meta/phFileStream.h"

#include "platform/SysUtils.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int64_t kMaxPosition = std::numeric_limits<int32_t>::max();

} // namespace

TphFileStream::TphFileStream(const std::string& fileName, uint16_t mode)
    : FFileName(fileName)
    , FStream(std::make_unique<TFileStream>(fileName, mode))
{
    FillFirstWindow();
}

TphFileStream::TphFileStream(std::unique_ptr<TStream> stream)
    : FStream(std::move(stream))
{
    FillFirstWindow();
}

TphFileStream::~TphFileStream() = default;

void TphFileStream::FillFirstWindow()
{
    FBuffer = std::make_unique<uint8_t[]>(static_cast<size_t>(FBufSize));
    const int64_t start = FStream->Position();
    if (start < 0 || start >= kMaxPosition) {
        FBufStart = 0;
        FBufCount = 0;
        return;
    }
    FBufStart = static_cast<int32_t>(start);
    // The window never reaches past the last addressable position, so that
    // the position after any byte read still fits.
    const int64_t want = std::min<int64_t>(FBufSize, kMaxPosition - start);
    FBufCount = static_cast<int32_t>(std::max<int64_t>(FStream->Read(FBuffer.get(), want), 0));
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
    if (pos < 0)
        return;
    if (FStream->Seek(pos, TSeekOrigin::soBeginning) != pos)
        return;
    const int64_t want = std::min<int64_t>(FBufSize, kMaxPosition - pos);
    FBufCount = static_cast<int32_t>(std::max<int64_t>(FStream->Read(FBuffer.get(), want), 0));
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

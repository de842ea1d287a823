#pragma once

#include "base/Classes.h"

#include <algorithm>
#include <cstdint>
#include <vector>

/// Bytes in memory that count the positioned reads made of them.
class TCountingStream : public TMemoryStream
{
public:
    explicit TCountingStream(const std::vector<uint8_t>& bytes)
    {
        Write(bytes.data(), static_cast<int64_t>(bytes.size()));
        Seek(0, TSeekOrigin::soBeginning);
    }
    int64_t ReadAt(int64_t pos, void* buffer, int64_t count) override
    {
        ++Reads;
        MaxRead = std::max(MaxRead, count);
        return TMemoryStream::ReadAt(pos, buffer, count);
    }
    int Reads = 0;
    int64_t MaxRead = 0;
};

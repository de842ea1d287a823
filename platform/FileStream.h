#pragma once

#include "base/Classes.h"

#include <cstdint>
#include <string>

/// A file opened by name. fmCreate creates or empties the file; the other
/// modes open an existing one. Raises EFOpenError / EFCreateError.
class TFileStream : public TStream
{
public:
    TFileStream(const std::string& fileName, uint16_t mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t ReadAt(int64_t pos, void* buffer, int64_t count) override;
    /// Flushes the file's data to the disk; raises EWriteError when it fails.
    void Flush();
    const std::string& FileName() const { return FFileName; }
    int Handle() const { return FHandle; }

private:
    std::string FFileName;
    int FHandle = -1;
};

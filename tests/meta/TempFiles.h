#pragma once
// Test files: a temporary folder, and bytes in memory that count the reads.

#include "platform/Classes.h"
#include "tests/meta/ExifBuilder.h"

#include <algorithm>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <system_error>

class TTempFolder
{
public:
    TTempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "fi-meta-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        FPath = pattern;
    }
    ~TTempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    /// Writes bytes to a file of that name in the folder and returns its path.
    std::string Write(const std::string& name, const exifbuild::TBytes& bytes) const
    {
        const std::string path = (FPath / name).string();
        exifbuild::WriteFile(path, bytes);
        return path;
    }
    std::string Path(const std::string& name) const { return (FPath / name).string(); }

private:
    std::filesystem::path FPath;
};

/// Bytes in memory that count the positioned reads made of them.
class TCountingStream : public TMemoryStream
{
public:
    explicit TCountingStream(const exifbuild::TBytes& bytes)
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

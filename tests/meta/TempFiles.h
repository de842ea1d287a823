#pragma once
// A temporary folder for one test, removed with everything in it afterwards.

#include "tests/meta/ExifBuilder.h"

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

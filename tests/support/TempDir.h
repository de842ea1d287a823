#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

// Paths are UTF-8 strings here, as at the platform's seam: on Windows a plain
// string would be read in the code page.

/// The UTF-8 path as a std::filesystem path.
std::filesystem::path FsPath(const std::string& path);
/// The path as UTF-8.
std::string Utf8Path(const std::filesystem::path& path);

/// A fresh folder under the system's temporary folder, removed with all its
/// contents when the object goes out of scope.
class TTempDir
{
public:
    TTempDir();
    ~TTempDir();
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    const std::string& Path() const { return FPath; }
    /// Path() joined with a relative path.
    std::string operator/(const std::string& relative) const { return FPath + "/" + relative; }
    /// Writes bytes to the file at the relative path and returns its full path.
    std::string Write(const std::string& relative, const std::vector<uint8_t>& bytes) const;

private:
    std::string FPath;
};

/// Writes data to path, creating missing parent folders.
void WriteFile(const std::string& path, const std::string& data);
/// The whole content of path; empty when it cannot be read.
std::string ReadFile(const std::string& path);
bool PathExists(const std::string& path);
/// Sets the modification time of path to the given local date and time.
void SetModifiedTime(const std::string& path, int year, int month, int day, int hour = 12);
/// Every file and symbolic link below root as a path relative to it, sorted.
/// Keeps the whole seconds of the file's modification time and sets the part of a second (what a card's
/// file system keeps of it).
void SetModifiedFraction(const std::string& path, long nanoseconds);
std::vector<std::string> ListTree(const std::string& root);
/// A deterministic byte pattern of the given size.
std::string PatternBytes(size_t size, unsigned seed);

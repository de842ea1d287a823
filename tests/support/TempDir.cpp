#include "tests/support/TempDir.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace {

/// Creates a fresh folder named prefix plus random letters under the system's
/// temporary folder and returns its path; throws when it cannot.
std::string MakeTempFolder(const std::string& prefix)
{
    const fs::path base = fs::temp_directory_path();
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        const fs::path folder = base / (prefix + suffix);
        std::error_code ec;
        // False without an error when the name is taken: try another.
        if (fs::create_directory(folder, ec)) {
            fs::permissions(folder, fs::perms::owner_all, ec);
            return Utf8Path(folder);
        }
        if (ec)
            break;
    }
    throw std::runtime_error("cannot create a temporary folder in " + Utf8Path(base));
}

} // namespace

fs::path FsPath(const std::string& path)
{
    fs::path p(std::u8string(path.begin(), path.end()));
    // On Windows the C runtime lists no folder past 260 characters; under the prefix "\\?\" the system
    // takes a name of any length as it is.
    if constexpr (fs::path::preferred_separator == '\\') {
        if (path.size() >= 248 && p.is_absolute() && path.rfind("\\\\", 0) != 0)
            p = fs::path(L"\\\\?\\") += p.lexically_normal().make_preferred();
    }
    return p;
}

std::string Utf8Path(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

TTempDir::TTempDir()
    : FPath(MakeTempFolder("fotoimport-test-"))
{
}

TTempDir::~TTempDir()
{
    std::error_code ignored;
    fs::remove_all(FsPath(FPath), ignored);
}

std::string TTempDir::Write(const std::string& relative, const std::vector<uint8_t>& bytes) const
{
    const std::string path = *this / relative;
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

void WriteFile(const std::string& path, const std::string& data)
{
    fs::create_directories(FsPath(path).parent_path());
    std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(FsPath(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool PathExists(const std::string& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(FsPath(path), ec));
}

void SetModifiedTime(const std::string& path, int year, int month, int day, int hour)
{
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_isdst = -1;
    const time_t t = std::mktime(&local);
    std::error_code ec;
    fs::last_write_time(FsPath(path),
                        std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(t)), ec);
    if (ec)
        throw std::runtime_error("cannot set the time of " + path);
}

void SetModifiedFraction(const std::string& path, long nanoseconds)
{
#ifdef _WIN32
    // The C runtime sets whole seconds only; the file's own times take 100-nanosecond steps.
    const HANDLE file =
        ::CreateFileW(FsPath(path).wstring().c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    FILETIME written{};
    bool set = file != INVALID_HANDLE_VALUE && ::GetFileTime(file, nullptr, nullptr, &written);
    if (set) {
        ULARGE_INTEGER ticks{};
        ticks.LowPart = written.dwLowDateTime;
        ticks.HighPart = written.dwHighDateTime;
        ticks.QuadPart =
            ticks.QuadPart - ticks.QuadPart % 10000000u + static_cast<ULONGLONG>(nanoseconds / 100);
        written.dwLowDateTime = ticks.LowPart;
        written.dwHighDateTime = ticks.HighPart;
        set = ::SetFileTime(file, nullptr, nullptr, &written) != 0;
    }
    if (file != INVALID_HANDLE_VALUE)
        ::CloseHandle(file);
#else
    struct stat st
    {
    };
    bool set = ::stat(path.c_str(), &st) == 0;
    const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec, nanoseconds}};
    set = set && ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
#endif
    if (!set)
        throw std::runtime_error("cannot set the time of " + path);
}

std::vector<std::string> ListTree(const std::string& root)
{
    std::vector<std::string> out;
    std::error_code ec;
    const fs::path top = FsPath(root);
    for (auto it = fs::recursive_directory_iterator(top, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_directory() || it->is_symlink()) {
            // "/" between the folders on every system.
            const std::u8string relative = it->path().lexically_relative(top).generic_u8string();
            out.emplace_back(relative.begin(), relative.end());
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string PatternBytes(size_t size, unsigned seed)
{
    std::string out(size, '\0');
    unsigned x = seed * 2654435761u + 1u;
    for (char& c : out) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return out;
}

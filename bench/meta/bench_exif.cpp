// EXIF reading of camera-like photos (warm cache), against the floor of a
// plain open, read of the first 64 KiB and close of the same files.
#include "base/StringList.h"
#include "meta/phJpegInfo.h"
#include "tests/support/ExifBuilder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdlib.h>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

using namespace exifbuild;

constexpr int kPhotos = 300;

/// A folder of camera-like photos, made once and removed at exit.
class TPhotoFolder
{
public:
    TPhotoFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "fi-bench-exif-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("cannot create a temporary folder");
        FDir = pattern;
        for (int i = 0; i < kPhotos; ++i) {
            auto ifds = CameraIfds();
            const std::string day = "2005:07:" + std::to_string(10 + i % 20) + " 10:22:33";
            ifds[0].Entries[2] = Short(0x0112, {static_cast<uint32_t>(1 + i % 8)});
            ifds[0].Entries[6] = Ascii(0x0132, day);
            ifds[1].Entries[3] = Ascii(0x9003, day);
            ifds[1].Entries[4] = Ascii(0x9004, day);
            // A maker note of a typical size, shown as hexadecimal bytes.
            std::vector<uint32_t> note(1200);
            for (size_t k = 0; k < note.size(); ++k)
                note[k] = static_cast<uint32_t>((k * 13 + static_cast<size_t>(i)) & 0xFF);
            ifds[1].Entries.push_back(Undefined(0x927C, note));
            TBytes tiff = BuildTiff(i % 2 == 0, ifds);
            tiff.resize(tiff.size() + 8000, 0x55); // the thumbnail, which is not read
            TJpegLayout layout;
            layout.App0 = true;
            layout.ScanBytes = 100000;
            const std::string path = (FDir / ("IMG_" + std::to_string(1000 + i) + ".JPG")).string();
            const TBytes photo = WrapJpeg(tiff, layout);
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(photo.data()),
                      static_cast<std::streamsize>(photo.size()));
            if (!out)
                throw std::runtime_error("cannot write " + path);
            Files.push_back(path);
        }
    }
    ~TPhotoFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }
    TPhotoFolder(const TPhotoFolder&) = delete;
    TPhotoFolder& operator=(const TPhotoFolder&) = delete;

    std::vector<std::string> Files;

private:
    std::filesystem::path FDir;
};

const TPhotoFolder& Photos()
{
    static const TPhotoFolder folder;
    return folder;
}

// Reads one photo the way the transfer run does: an emptied, sorted list.
bool ReadOne(const std::string& path, TStringList& list)
{
    list.Clear();
    list.SetSorted(true);
    return ReadExifInfo(path, list);
}

// The floor: open, read the first 64 KiB, close.
size_t Floor(const std::string& path, std::vector<char>& buffer)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    ::close(fd);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

void BM_ReadExifInfo(benchmark::State& state)
{
    const auto& files = Photos().Files;
    TStringList list;
    size_t i = 0;
    for (auto _ : state) {
        if (!ReadOne(files[i], list))
            state.SkipWithError("a photo did not read");
        benchmark::DoNotOptimize(list.Count());
        i = (i + 1) % files.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadExifInfo)->Unit(benchmark::kMicrosecond);

void BM_OpenRead64KClose(benchmark::State& state)
{
    const auto& files = Photos().Files;
    std::vector<char> buffer(64 * 1024);
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Floor(files[i], buffer));
        i = (i + 1) % files.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OpenRead64KClose)->Unit(benchmark::kMicrosecond);

// Both over the whole folder in every iteration, interleaved, so that the
// ratio compares the same files under the same machine load.
void BM_ExifOverFloor(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    const auto& files = Photos().Files;
    std::vector<char> buffer(64 * 1024);
    TStringList list;
    Clock::duration exif{};
    Clock::duration floor{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        for (const auto& f : files)
            benchmark::DoNotOptimize(ReadOne(f, list));
        const auto t1 = Clock::now();
        for (const auto& f : files)
            benchmark::DoNotOptimize(Floor(f, buffer));
        const auto t2 = Clock::now();
        exif += t1 - t0;
        floor += t2 - t1;
    }
    const double photos = static_cast<double>(state.iterations()) * static_cast<double>(files.size());
    const double exifUs = std::chrono::duration<double, std::micro>(exif).count() / photos;
    const double floorUs = std::chrono::duration<double, std::micro>(floor).count() / photos;
    state.counters["exif_us_per_photo"] = exifUs;
    state.counters["floor_us_per_photo"] = floorUs;
    state.counters["ratio"] = floorUs > 0 ? exifUs / floorUs : 0;
}
BENCHMARK(BM_ExifOverFloor)->Unit(benchmark::kMillisecond);

} // namespace

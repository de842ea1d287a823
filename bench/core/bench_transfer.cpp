// A transfer of a card of 200 camera-sized photos in copy mode, through the
// watcher's run with every safety step (temporary name, flush, no-replace
// naming, folder flush), against `cp -r` of the same card followed by `sync`
// in the same process. The counter "ratio" is run time / (cp + sync) time.
#include "app/core/CameraWatcher.h"
#include "bench/core/SilentView.h"
#include "platform/Platform.h"
#include "tests/support/ExifBuilder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kPhotos = 200;
constexpr size_t kPhotoSize = size_t{4} << 20;

/// A JPEG start, an Exif segment carrying only DateTimeOriginal, and data.
std::string CameraPhoto(int index)
{
    using namespace exifbuild;
    const std::string date = "2005:07:" + std::to_string(10 + index % 20) + " 10:22:33";
    TIfd ifd0, exif;
    ifd0.Entries = {Pointer(0x8769, 1)};
    exif.Entries = {Ascii(0x9003, date)};
    const TBytes segment = ExifSegment(BuildTiff(false, {ifd0, exif}));
    std::string file("\xFF\xD8", 2);
    file.append(segment.begin(), segment.end());
    file += "\xFF\xDB";
    unsigned x = static_cast<unsigned>(index) * 2654435761u + 1u;
    const size_t body = kPhotoSize - file.size() - 2;
    for (size_t i = 0; i < body; ++i) {
        x = x * 1103515245u + 12345u;
        file += static_cast<char>(x >> 24);
    }
    file += "\xFF\xD9";
    return file;
}

class TScratch
{
public:
    TScratch()
    {
        std::string pattern = (fs::temp_directory_path() / "fotoimport-bench-transfer-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create the scratch folder");
        Root = pattern;
    }
    ~TScratch()
    {
        std::error_code ignored;
        fs::remove_all(Root, ignored);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;
    std::string Root;
};

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_Transfer200PhotosAgainstCpAndSync(benchmark::State& state)
{
    TScratch scratch;
    const std::string card = scratch.Root + "/card";
    for (int i = 0; i < kPhotos; ++i) {
        const fs::path folder = fs::path(card) / "DCIM" / (std::to_string(100 + i / 100) + "CANON");
        fs::create_directories(folder);
        std::ofstream(folder / ("IMG_" + std::to_string(1000 + i) + ".JPG"), std::ios::binary)
            << CameraPhoto(i);
    }
    std::ofstream(scratch.Root + "/mountinfo") << "30 1 8:1 / /mnt/.." << card << " rw - vfat /dev/sdb1 rw\n";
    const std::string home = scratch.Root + "/home";
    const std::string copies = scratch.Root + "/cp";
    if (std::system("sync") != 0)
        state.SkipWithError("sync failed");

    double ours = 0;
    double theirs = 0;
    int transferred = 0;
    for (auto _ : state) {
        fs::remove_all(copies);
        if (std::system("sync") != 0)
            break;
        auto start = std::chrono::steady_clock::now();
        if (std::system(("cp -r '" + card + "/DCIM' '" + copies + "' && sync").c_str()) != 0) {
            state.SkipWithError("cp failed");
            break;
        }
        const double cpTime = Seconds(start);
        theirs += cpTime;

        fs::remove_all(home);
        fs::create_directories(home);
        if (std::system("sync") != 0)
            break;
        TPlatformOptions options;
        options.MountInfoPath = scratch.Root + "/mountinfo";
        options.HomeFolder = home;
        options.ConfigFolder = home + "/.config";
        options.StateHome = home + "/.local/state";
        auto platform = CreatePlatform(options);
        TSilentView view;
        TCameraWatcher watcher(*platform, view);
        watcher.Start();
        watcher.Tick();
        start = std::chrono::steady_clock::now();
        TSilentView::Transfer(watcher, view, {false, false});
        const double runTime = Seconds(start);
        ours += runTime;
        transferred = watcher.RunCounts().Transferred;
        state.SetIterationTime(runTime);
    }
    if (transferred != kPhotos)
        state.SkipWithError("not every photo was transferred");
    state.counters["photos"] = transferred;
    state.counters["cp_sync_s"] = theirs / static_cast<double>(state.iterations());
    state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
}
BENCHMARK(BM_Transfer200PhotosAgainstCpAndSync)->UseManualTime()->Iterations(3)->Unit(benchmark::kSecond);

} // namespace

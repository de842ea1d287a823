// A transfer of a card of 200 camera-sized photos in copy mode, through the
// watcher's run with every safety step (temporary name, flush, no-replace
// naming, folder flush), against `cp -r` of the same card followed by `sync`
// in the same process. The counter "ratio" is run time / (cp + sync) time.
#include "app/core/CameraWatcher.h"
#include "bench/core/SilentView.h"
#include "platform/Platform.h"

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
    const std::string date = "2005:07:" + std::to_string(10 + index % 20) + " 10:22:33";
    std::string tiff("II\x2A\x00\x08\x00\x00\x00", 8);
    const auto put16 = [&](unsigned v) {
        tiff += static_cast<char>(v & 0xFF);
        tiff += static_cast<char>((v >> 8) & 0xFF);
    };
    const auto put32 = [&](unsigned v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    put16(1); // IFD0: the Exif pointer
    put16(0x8769);
    put16(4);
    put32(1);
    put32(26);
    put32(0);
    put16(1); // Exif directory at 26: DateTimeOriginal
    put16(0x9003);
    put16(2);
    put32(static_cast<unsigned>(date.size() + 1));
    put32(44);
    put32(0);
    tiff += date;
    tiff += '\0';
    const std::string segment = std::string("Exif\0\0", 6) + tiff;
    std::string file("\xFF\xD8\xFF\xE1", 4);
    file += static_cast<char>((segment.size() + 2) >> 8);
    file += static_cast<char>((segment.size() + 2) & 0xFF);
    file += segment;
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
        auto platform = CreatePlatform(options);
        TSilentView view;
        TCameraWatcher watcher(*platform, view);
        watcher.FormCreate();
        watcher.Timer1Timer();
        start = std::chrono::steady_clock::now();
        watcher.Button2Click();
        const double runTime = Seconds(start);
        ours += runTime;
        transferred = watcher.TransferredCount();
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

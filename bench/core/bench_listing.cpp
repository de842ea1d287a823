// The listing of a card of 10,000 photos in 100 folders, as the one-second
// tick repeats it while a card waits: FindFiles alone, and the whole tick
// (drive table, readiness of 22 letters, listing).
#include "app/core/CameraWatcher.h"
#include "bench/core/SilentView.h"
#include "platform/Platform.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int kFolders = 100;
constexpr int kPhotosPerFolder = 100;

/// The card's tree, made once and removed at exit.
class TCardTree
{
public:
    TCardTree()
    {
        std::string pattern = (fs::temp_directory_path() / "fotoimport-bench-card-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create the card folder");
        Root = pattern;
        for (int f = 0; f < kFolders; ++f) {
            const fs::path folder = fs::path(Root) / "DCIM" / (std::to_string(100 + f) + "CANON");
            fs::create_directories(folder);
            for (int p = 0; p < kPhotosPerFolder; ++p)
                std::ofstream(folder / ("IMG_" + std::to_string(f * kPhotosPerFolder + p) + ".JPG")) << "x";
            std::ofstream(folder / "INFO.TXT") << "x";
        }
        // The drive table of the tick: one volume, standing for this tree.
        MountInfo = Root + ".mountinfo";
        std::ofstream(MountInfo) << "30 1 8:1 / /mnt/.." << Root << " rw - vfat /dev/sdb1 rw\n";
    }
    ~TCardTree()
    {
        std::error_code ignored;
        fs::remove_all(Root, ignored);
        fs::remove(MountInfo, ignored);
    }
    TCardTree(const TCardTree&) = delete;
    TCardTree& operator=(const TCardTree&) = delete;

    std::string Root;
    std::string MountInfo;
};

TCardTree& Card()
{
    static TCardTree card;
    return card;
}

void BM_FindFiles10000Photos(benchmark::State& state)
{
    auto platform = CreatePlatform();
    TStringList list;
    const std::string dcim = Card().Root + "/DCIM";
    for (auto _ : state) {
        platform->FindFiles(dcim, "*.jpg", list, true, true);
        benchmark::DoNotOptimize(list.Count());
    }
    if (list.Count() != kFolders * kPhotosPerFolder)
        state.SkipWithError("wrong number of photos listed");
    state.counters["photos"] = list.Count();
}
BENCHMARK(BM_FindFiles10000Photos)->Unit(benchmark::kMillisecond);

void BM_TickWithWaitingCard(benchmark::State& state)
{
    TPlatformOptions options;
    options.MountInfoPath = Card().MountInfo;
    auto platform = CreatePlatform(options);
    TSilentView view;
    TCameraWatcher watcher(*platform, view);
    watcher.Start();
    for (auto _ : state)
        watcher.Tick();
    if (!watcher.CameraFound() || watcher.PhotoList().Count() != kFolders * kPhotosPerFolder)
        state.SkipWithError("the card was not found or not listed");
}
BENCHMARK(BM_TickWithWaitingCard)->Unit(benchmark::kMillisecond);

} // namespace

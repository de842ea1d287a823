// A transfer of a card of 200 camera-sized photos in copy mode, through the
// watcher's run with every safety step (temporary name, flush, read-back of
// the copy and the card's photo, no-replace naming, folder flush), against
// `cp -r` of the same card followed by `sync` in the same process, and
// against that plus reading every photo and its copy once more from the disk.
#include "app/core/CameraWatcher.h"
#include "bench/core/SilentView.h"
#include "platform/Platform.h"
#include "tests/support/ExifBuilder.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

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

/// A card of kPhotos photos in root/card, on the disk (flushed), and a mount
/// table that makes it a drive.
void MakeCard(const std::string& root)
{
    const std::string card = root + "/card";
    for (int i = 0; i < kPhotos; ++i) {
        const fs::path folder = fs::path(card) / "DCIM" / (std::to_string(100 + i / 100) + "CANON");
        fs::create_directories(folder);
        std::ofstream(folder / ("IMG_" + std::to_string(1000 + i) + ".JPG"), std::ios::binary)
            << CameraPhoto(i);
    }
    std::ofstream(root + "/mountinfo") << "30 1 8:1 / /mnt/.." << card << " rw - vfat /dev/sdb1 rw\n";
    if (std::system("sync") != 0)
        throw std::runtime_error("sync failed");
}

/// `cp -r` of the card's DCIM to root/cp, then `sync`: the time, or a negative one when it failed.
double CopyAndSync(const std::string& root)
{
    fs::remove_all(root + "/cp");
    if (std::system("sync") != 0)
        return -1;
    const auto start = std::chrono::steady_clock::now();
    if (std::system(("cp -r '" + root + "/card/DCIM' '" + root + "/cp' && sync").c_str()) != 0)
        return -1;
    return Seconds(start);
}

/// Reads the whole file once more from its disk (its cached pages dropped first); false when it cannot.
bool ReadUncached(const fs::path& path, std::vector<char>& buffer)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ssize_t n = 0;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
    }
    ::close(fd);
    return n == 0;
}

/// Every photo of the card and its copy by `cp` read once more from the disk: the time, or a negative one.
double ReadBothAgainUncached(const std::string& root)
{
    std::vector<char> buffer(size_t{1} << 20);
    const auto start = std::chrono::steady_clock::now();
    const fs::path dcim = root + "/card/DCIM";
    for (const auto& entry : fs::recursive_directory_iterator(dcim)) {
        if (entry.is_regular_file() &&
            (!ReadUncached(entry.path(), buffer) ||
             !ReadUncached(fs::path(root + "/cp") / fs::relative(entry.path(), dcim), buffer)))
            return -1;
    }
    return Seconds(start);
}

/// One copy-mode run of the watcher over the card into a fresh home folder: its time; transferred counts
/// the photos it copied.
double Import(const std::string& root, int& transferred)
{
    const std::string home = root + "/home";
    fs::remove_all(home);
    fs::create_directories(home);
    if (std::system("sync") != 0)
        return -1;
    TPlatformOptions options;
    options.MountInfoPath = root + "/mountinfo";
    options.HomeFolder = home;
    options.ConfigFolder = home + "/.config";
    options.StateHome = home + "/.local/state";
    auto platform = CreatePlatform(options);
    TSilentView view;
    TCameraWatcher watcher(*platform, view);
    watcher.Start();
    watcher.Tick();
    const auto start = std::chrono::steady_clock::now();
    TSilentView::Transfer(watcher, view, {false, false});
    const double time = Seconds(start);
    transferred = watcher.RunCounts().Transferred;
    return time;
}

void BM_Transfer200PhotosAgainstCpAndSync(benchmark::State& state)
{
    TScratch scratch;
    MakeCard(scratch.Root);
    double ours = 0;
    double theirs = 0;
    int transferred = 0;
    for (auto _ : state) {
        const double cpTime = CopyAndSync(scratch.Root);
        if (cpTime < 0) {
            state.SkipWithError("cp failed");
            break;
        }
        theirs += cpTime;
        const double runTime = Import(scratch.Root, transferred);
        ours += runTime;
        state.SetIterationTime(runTime);
    }
    if (transferred != kPhotos)
        state.SkipWithError("not every photo was transferred");
    state.counters["photos"] = transferred;
    state.counters["cp_sync_s"] = theirs / static_cast<double>(state.iterations());
    state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
}
BENCHMARK(BM_Transfer200PhotosAgainstCpAndSync)->UseManualTime()->Iterations(3)->Unit(benchmark::kSecond);

/// Every copy is verified: flushed, then read back with the card's photo, both from their disks. The floor
/// does the same with plain tools: `cp -r` and `sync`, then every photo and its copy read once more with
/// their cached pages dropped. The counter "ratio" is run time / floor time; the target is at most 1.15.
void BM_VerifiedTransfer200PhotosAgainstCpSyncAndUncachedReread(benchmark::State& state)
{
    TScratch scratch;
    MakeCard(scratch.Root);
    double ours = 0;
    double floor = 0;
    double reread = 0;
    int transferred = 0;
    for (auto _ : state) {
        const double cpTime = CopyAndSync(scratch.Root);
        const double readTime = cpTime < 0 ? -1 : ReadBothAgainUncached(scratch.Root);
        if (readTime < 0) {
            state.SkipWithError("cp or reading again failed");
            break;
        }
        floor += cpTime + readTime;
        reread += readTime;
        const double runTime = Import(scratch.Root, transferred);
        ours += runTime;
        state.SetIterationTime(runTime);
    }
    if (transferred != kPhotos)
        state.SkipWithError("not every photo was transferred");
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["photos"] = transferred;
    state.counters["floor_s"] = floor / iterations;
    state.counters["reread_s"] = reread / iterations;
    state.counters["ratio"] = floor > 0 ? ours / floor : 0;
}
BENCHMARK(BM_VerifiedTransfer200PhotosAgainstCpSyncAndUncachedReread)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kSecond);

} // namespace

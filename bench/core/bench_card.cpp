// A whole card through the watcher's run in copy mode with turning on: 60
// camera photos (baseline JPEGs of a photo-like picture, about 8 MB at
// 4000 x 3000), every third at orientation 6, dated over three days. The card
// lies in a folder on the disk (/var/tmp) that a made-up mount table shows as
// a drive, written once per process and read back so that it is in the page
// cache: what is measured is the watcher's work, not the card's reader.
//
// Measured in the same run, each iteration into a fresh target, averaged: the
// run with turning (run_s, the iteration time), the run of the same card
// without (copy_only_s) and the thread CPU time of turning the turned photos
// one after the other through the correction (turn_cpu_s). The
// floor is what the run could take with the turning spread over every core
// this process may use while copying goes on:
//   floor_s = max(copy_only_s, (copy_only_s + turn_cpu_s) / cores)
// and ratio = run_s / floor_s (target: at most 1.15). peak_mb is the peak
// resident memory during the run with turning.
#include "app/core/CameraWatcher.h"
#include "app/core/Correction.h"
#include "bench/core/SilentView.h"
#include "jpeg/JpegPixels.h"
#include "platform/Platform.h"
#include "tests/support/ExifBuilder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sched.h>
#include <span>
#include <stdexcept>
#include <string>
#include <sys/vfs.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kTurnEvery = 3;
/// Pictures encoded per card; the photos take their pixel data in turn, each
/// with an Exif segment of its own.
constexpr int kPictures = 4;
/// Noise and quality that make the picture compress as a camera's photo does:
/// about 5.6 bits a pixel.
constexpr int kNoise = 16;
constexpr int kQuality = 97;

double Now(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

/// The number of CPUs this process may run on (1 under `taskset -c 0`).
int Cores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}

/// The name of the file system that holds path, for the benchmark's label.
std::string FileSystemOf(const std::string& path)
{
    struct statfs fs
    {
    };
    if (statfs(path.c_str(), &fs) != 0)
        return "unknown";
    switch (static_cast<unsigned long>(fs.f_type)) {
    case 0xEF53:
        return "ext4";
    case 0x58465342:
        return "xfs";
    case 0x9123683E:
        return "btrfs";
    case 0x01021994:
        return "tmpfs";
    case 0x794C7630:
        return "overlayfs";
    default:
        return "fs type " + std::to_string(fs.f_type);
    }
}

/// Peak resident memory since the last ResetPeakMemory, in kB (VmHWM).
long PeakMemoryKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

bool ResetPeakMemory()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

/// A photo-like picture in TBitmap32's layout: light that changes smoothly
/// across the frame, a fine woven texture and per-channel noise, so that it
/// compresses like a camera's photo rather than like a flat test card.
std::vector<uint32_t> PhotoPixels(int w, int h, unsigned seed)
{
    const size_t width = static_cast<size_t>(w);
    const size_t height = static_cast<size_t>(h);
    std::vector<uint32_t> pixels(width * height);
    const double pi2 = 6.283185307179586;
    std::vector<double> across(width);
    for (size_t x = 0; x < width; ++x)
        across[x] = 0.25 * std::sin(static_cast<double>(x) * pi2 * 1.5 / w + seed);
    // The texture is the product of two waves along diagonals, looked up.
    std::vector<int> wave1(width + 3 * height);
    std::vector<int> wave2(width + 2 * height);
    for (size_t i = 0; i < wave1.size(); ++i)
        wave1[i] = static_cast<int>(20 * std::sin(static_cast<double>(i) * 0.35));
    for (size_t i = 0; i < wave2.size(); ++i)
        wave2[i] = static_cast<int>(16 * std::sin(static_cast<double>(i) * 0.21 + seed));
    uint32_t random = seed * 2654435761u + 1u;
    for (size_t y = 0; y < height; ++y) {
        const double down = 0.2 * std::cos(static_cast<double>(y) * pi2 * 1.2 / h + seed * 0.7);
        uint32_t* row = pixels.data() + y * width;
        for (size_t x = 0; x < width; ++x) {
            const double light = 0.5 + across[x] + down;
            const int texture = wave1[x + 3 * y] * wave2[x + 2 * (height - y)] / 16;
            uint32_t pixel = 0xFF000000u;
            for (unsigned c = 0; c < 3; ++c) {
                random ^= random << 13;
                random ^= random >> 17;
                random ^= random << 5;
                const int noise = static_cast<int>(random % (2 * kNoise + 1)) - kNoise;
                const int value = static_cast<int>(light * (150 + 40 * c)) + texture + noise;
                pixel |= static_cast<uint32_t>(std::clamp(value, 0, 255)) << (8 * c);
            }
            row[x] = pixel;
        }
    }
    return pixels;
}

/// The Exif segment of photo index: Orientation in IFD0, DateTimeOriginal in
/// the Exif directory, a day for each twenty photos, as a camera takes them.
exifbuild::TBytes ExifOf(int index, int orientation)
{
    using namespace exifbuild;
    char date[32];
    std::snprintf(date, sizeof date, "2024:05:%02d %02d:%02d:%02d", 14 + index / 20, 9 + index % 10,
                  (index * 7) % 60, (index * 13) % 60);
    TIfd ifd0, exif;
    ifd0.Entries = {Short(0x0112, {static_cast<uint32_t>(orientation)}), Pointer(0x8769, 1)};
    exif.Entries = {Ascii(0x9003, date)};
    return ExifSegment(BuildTiff(false, {ifd0, exif}));
}

void WriteFile(const fs::path& path, std::span<const uint8_t> a, std::span<const uint8_t> b,
               std::span<const uint8_t> c)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (const auto part : {a, b, c})
        out.write(reinterpret_cast<const char*>(part.data()), static_cast<std::streamsize>(part.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void ReadWhole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> buffer(size_t{1} << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    }
}

/// A card in a scratch folder of its own, removed at the end of the process.
class TCard
{
public:
    TCard(int width, int height, int photos)
        : Photos(photos)
    {
        std::string pattern = "/var/tmp/fotoimport-bench-card-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot create the scratch folder");
        Root = pattern;
        const fs::path folder = Root + "/card/DCIM/100CANON";
        fs::create_directories(folder);
        std::vector<std::vector<uint8_t>> pictures;
        for (int p = 0; p < kPictures; ++p) {
            const std::vector<uint32_t> pixels = PhotoPixels(width, height, static_cast<unsigned>(p + 1));
            TJpegPixelEncoder encoder;
            const std::span<const uint8_t> file = encoder.Encode(pixels.data(), width, height, kQuality);
            pictures.emplace_back(file.begin(), file.end());
        }
        size_t bytes = 0;
        for (int i = 0; i < photos; ++i) {
            const bool turned = i % kTurnEvery == 0;
            const std::vector<uint8_t>& picture = pictures[static_cast<size_t>(i % kPictures)];
            const exifbuild::TBytes exif = ExifOf(i, turned ? 6 : 1);
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04d.JPG", i + 1);
            // The Exif segment right after the start marker, before the encoder's JFIF segment.
            const std::span<const uint8_t> whole(picture);
            WriteFile(folder / name, whole.first(2), exif, whole.subspan(2));
            bytes += picture.size() + exif.size();
            if (turned)
                Turned.push_back((folder / name).string());
        }
        PhotoMb = static_cast<double>(bytes) / photos / (1 << 20);
        std::ofstream(Root + "/mountinfo")
            << "30 1 8:1 / /mnt/.." << Root << "/card rw - vfat /dev/sdb1 rw\n";
        // Written back now, so that no run pays for it; read once, so that the card is in the cache.
        if (std::system("sync") != 0)
            throw std::runtime_error("sync failed");
        for (const auto& entry : fs::directory_iterator(folder))
            ReadWhole(entry.path());
    }
    ~TCard()
    {
        std::error_code ignored;
        fs::remove_all(Root, ignored);
    }
    TCard(const TCard&) = delete;
    TCard& operator=(const TCard&) = delete;

    std::string Root;
    int Photos;
    double PhotoMb = 0;
    /// The photos at orientation 6.
    std::vector<std::string> Turned;
};

/// The card of that size, made at its first use in this process.
const TCard& CardOf(int width, int height, int photos)
{
    static std::map<std::pair<int, int>, std::unique_ptr<TCard>> cards;
    std::unique_ptr<TCard>& card = cards[{width, height}];
    if (!card)
        card = std::make_unique<TCard>(width, height, photos);
    return *card;
}

struct TRun
{
    double Seconds = 0;
    /// The CPU time of every thread of the process during the run.
    double CpuSeconds = 0;
    int Transferred = 0;
    int Rotated = 0;
    int Failed = 0;
    long PeakKb = 0;
    bool Listed = false;
};

/// One run of the whole card into a fresh home folder, the watcher as the
/// program drives it: a tick finds the card, then "Fotos kopieren".
TRun RunCard(const TCard& card, bool turn)
{
    const std::string home = card.Root + "/home";
    fs::remove_all(home);
    fs::create_directories(home);
    if (std::system("sync") != 0)
        return {};
    TPlatformOptions options;
    options.MountInfoPath = card.Root + "/mountinfo";
    options.RuntimeFolder = card.Root + "/run";
    options.HomeFolder = home;
    options.ConfigFolder = home + "/.config";
    options.StateHome = home + "/.local/state";
    auto platform = CreatePlatform(options);
    TSilentView view;
    TCameraWatcher watcher(*platform, view);
    watcher.Start();
    watcher.Tick();
    TRun run;
    run.Listed = watcher.CameraFound() && watcher.PhotoList().Count() == card.Photos;
    if (!run.Listed)
        return run;
    ResetPeakMemory();
    const double start = Now(CLOCK_MONOTONIC);
    const double cpuStart = Now(CLOCK_PROCESS_CPUTIME_ID);
    TSilentView::Transfer(watcher, view, {false, turn});
    run.Seconds = Now(CLOCK_MONOTONIC) - start;
    run.CpuSeconds = Now(CLOCK_PROCESS_CPUTIME_ID) - cpuStart;
    run.PeakKb = PeakMemoryKb();
    run.Transferred = watcher.RunCounts().Transferred;
    run.Rotated = watcher.RunCounts().Turned;
    run.Failed = watcher.RunCounts().Failed + watcher.RunCounts().NotTurned;
    return run;
}

/// The CPU time of turning each turned photo of the card (decode, render,
/// encode, save), one after the other on this thread; negative on a failure.
double TurningCpuSeconds(const TCard& card)
{
    const fs::path folder = card.Root + "/turn";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::unique_ptr<TPlatform> platform = CreatePlatform();
    TOrientationCorrector corrector(*platform);
    double total = 0;
    for (const std::string& photo : card.Turned) {
        const fs::path copy = folder / fs::path(photo).filename();
        fs::copy_file(photo, copy);
        const double start = Now(CLOCK_THREAD_CPUTIME_ID);
        const TCorrectionResult result = corrector.Correct(copy.string(), 6);
        total += Now(CLOCK_THREAD_CPUTIME_ID) - start;
        if (result.Outcome != TCorrectionOutcome::Corrected)
            return -1;
        fs::remove(copy);
    }
    fs::remove_all(folder);
    return total;
}

/// What went wrong in one iteration, or nullptr when both runs found the whole card and copied every photo,
/// the one with turning turned each turned photo and nothing failed, and each turned photo could be
/// turned on its own.
const char* IterationError(const TRun& copyOnly, const TRun& run, double turnCpu, int photos, int turned)
{
    if (!copyOnly.Listed || !run.Listed)
        return "the card was not found or not listed whole";
    if (copyOnly.Transferred != photos || copyOnly.Rotated != 0 || copyOnly.Failed != 0)
        return "the run without turning did not copy every photo, or turned one";
    if (run.Transferred != photos || run.Rotated != turned || run.Failed != 0)
        return "the run with turning did not transfer and turn every photo";
    if (turnCpu < 0)
        return "a photo could not be turned";
    return nullptr;
}

void BM_Card(benchmark::State& state)
{
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int photos = static_cast<int>(state.range(2));
    const TCard& card = CardOf(width, height, photos);
    const int turned = static_cast<int>(card.Turned.size());
    state.SetLabel(FileSystemOf(card.Root));

    double runTotal = 0;
    double copyTotal = 0;
    double turnTotal = 0;
    double runCpuTotal = 0;
    double copyCpuTotal = 0;
    long peakKb = 0;
    TRun run;
    for (auto _ : state) {
        // All three each time, so that a change in the machine's load falls on each alike. The CPU
        // column shows the run with turning alone.
        state.PauseTiming();
        const TRun copyOnly = RunCard(card, false);
        state.ResumeTiming();
        run = RunCard(card, true);
        state.PauseTiming();
        const double turnCpu = TurningCpuSeconds(card);
        state.ResumeTiming();
        const char* error = IterationError(copyOnly, run, turnCpu, photos, turned);
        if (error != nullptr) {
            state.SkipWithError(error);
            break;
        }
        copyTotal += copyOnly.Seconds;
        runTotal += run.Seconds;
        copyCpuTotal += copyOnly.CpuSeconds;
        runCpuTotal += run.CpuSeconds;
        turnTotal += turnCpu;
        peakKb = std::max(peakKb, run.PeakKb);
        state.SetIterationTime(run.Seconds);
    }
    if (state.error_occurred())
        return;
    const double iterations = static_cast<double>(state.iterations());
    const double runS = runTotal / iterations;
    const double copyS = copyTotal / iterations;
    const double turnCpu = turnTotal / iterations;
    const int cores = Cores();
    const double floorS = std::max(copyS, (copyS + turnCpu) / cores);
    state.counters["run_s"] = runS;
    state.counters["copy_only_s"] = copyS;
    state.counters["turn_cpu_s"] = turnCpu;
    // The CPU time the run with turning took, against that of copying and turning one after the other:
    // above 1 is what the run's work cost more than the same work measured apart (threads sharing caches
    // and memory bandwidth, the machine's neighbours), which the floor does not count.
    state.counters["run_cpu_s"] = runCpuTotal / iterations;
    state.counters["cpu_overhead"] = runCpuTotal / (copyCpuTotal + turnTotal);
    state.counters["cores"] = cores;
    state.counters["floor_s"] = floorS;
    state.counters["ratio"] = runS / floorS;
    state.counters["peak_mb"] = static_cast<double>(peakKb) / 1024;
    state.counters["photo_mb"] = card.PhotoMb;
    state.counters["photos"] = run.Transferred;
    state.counters["turned"] = run.Rotated;
}

} // namespace

// 12 megapixels; then 24 megapixels (about 16 MB a photo), mainly for the
// peak memory.
BENCHMARK(BM_Card)
    ->ArgNames({"w", "h", "photos"})
    ->Args({4000, 3000, 60})
    ->Args({6000, 4000, 60})
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kSecond);

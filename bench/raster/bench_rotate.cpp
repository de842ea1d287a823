#include "app/core/RotatePhoto.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <ctime>
#include <vector>

// Renders a photo-sized bitmap through the correction's transformations and
// reports the time as a multiple of a plain memcpy of the same pixels,
// measured alternately in the same run.

namespace {

// Thread CPU time: the machine is shared, and wall time would count the
// waits for a core.
double Now()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void Fill(TBitmap32& b, int w, int h)
{
    b.SetSize(w, h);
    TColor32* p = b.Bits();
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i)
        p[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
}

void BM_RotatePhoto(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    const float angle = static_cast<float>(state.range(2));
    TBitmap32 src, dst;
    Fill(src, w, h);
    dst.SetSize(w, h);
    std::vector<TColor32> copy(static_cast<size_t>(w) * h);
    const size_t bytes = copy.size() * sizeof(TColor32);
    double renderSeconds = 0, copySeconds = 0;
    for (auto _ : state) {
        const double t0 = Now();
        std::memcpy(copy.data(), src.Bits(), bytes);
        benchmark::ClobberMemory();
        const double t1 = Now();
        RotatePhoto(src, dst, angle);
        benchmark::ClobberMemory();
        const double t2 = Now();
        copySeconds += t1 - t0;
        renderSeconds += t2 - t1;
        state.SetIterationTime(t2 - t1);
    }
    state.counters["x_memcpy"] = renderSeconds / copySeconds;
    state.counters["memcpy_ms"] = copySeconds * 1000 / static_cast<double>(state.iterations());
}

} // namespace

BENCHMARK(BM_RotatePhoto)
    ->ArgNames({"w", "h", "angle"})
    ->ArgsProduct({{4000}, {3000}, {0, 180, -90, 90}})
    ->ArgsProduct({{6000}, {4000}, {0, 180, -90, 90}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

#include "app/core/Correction.h"
#include "app/core/RotatePhoto.h"
#include "platform/Platform.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

// The whole correction of one photo (orientation 6) against the floor
// measured alternately in the same run: a plain codec decode of the photo
// plus a quality-100 encode of the turned picture, with the same settings
// (floating-point DCT, baseline, blue-green-red-x rows).

namespace {

using TBytes = std::vector<unsigned char>;

double Wall()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double Cpu()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

TBytes Encode(const unsigned char* pixels, int w, int h, int quality)
{
    jpeg_compress_struct ci{};
    jpeg_error_mgr err{};
    ci.err = jpeg_std_error(&err);
    jpeg_create_compress(&ci);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&ci, &out, &size);
    ci.image_width = static_cast<JDIMENSION>(w);
    ci.image_height = static_cast<JDIMENSION>(h);
    ci.input_components = 4;
    ci.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&ci);
    ci.dct_method = JDCT_FLOAT;
    jpeg_set_quality(&ci, quality, TRUE);
    jpeg_start_compress(&ci, TRUE);
    std::vector<JSAMPROW> rows(static_cast<size_t>(h));
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = const_cast<JSAMPROW>(pixels + y * static_cast<size_t>(w) * 4);
    while (ci.next_scanline < ci.image_height)
        jpeg_write_scanlines(&ci, rows.data() + ci.next_scanline, ci.image_height - ci.next_scanline);
    jpeg_finish_compress(&ci);
    jpeg_destroy_compress(&ci);
    TBytes bytes(out, out + size);
    std::free(out);
    return bytes;
}

void Decode(const TBytes& file, std::vector<unsigned char>& pixels)
{
    jpeg_decompress_struct ci{};
    jpeg_error_mgr err{};
    ci.err = jpeg_std_error(&err);
    jpeg_create_decompress(&ci);
    jpeg_mem_src(&ci, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&ci, TRUE);
    ci.out_color_space = JCS_EXT_BGRA;
    ci.dct_method = JDCT_FLOAT;
    jpeg_start_decompress(&ci);
    const size_t stride = size_t{ci.output_width} * 4;
    pixels.resize(stride * ci.output_height);
    std::vector<JSAMPROW> rows(ci.output_height);
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = pixels.data() + y * stride;
    while (ci.output_scanline < ci.output_height)
        jpeg_read_scanlines(&ci, rows.data() + ci.output_scanline, ci.output_height - ci.output_scanline);
    jpeg_finish_decompress(&ci);
    jpeg_destroy_decompress(&ci);
}

// A camera-like photo: smooth light with fine noise, an Exif segment with
// orientation 6 right after the start marker.
TBytes MakePhoto(int w, int h)
{
    std::vector<unsigned char> px(static_cast<size_t>(w) * h * 4);
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char* p = &px[(static_cast<size_t>(y) * w + x) * 4];
            const double v = 0.5 + 0.25 * std::sin(x / 97.0) + 0.2 * std::cos(y / 61.0 + x / 300.0);
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<unsigned char>(std::clamp(v * (160 + 40 * c) + noise(rng), 0.0, 255.0));
        }
    TBytes jpeg = Encode(px.data(), w, h, 92);
    static const unsigned char exif[] = {0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0,    0,    'I', 'I',
                                         42,   0,    8,    0,    0,   0,   1,   0,   0x12, 0x01, 3,   0,
                                         1,    0,    0,    0,    6,   0,   0,   0,   0,    0,    0,   0};
    jpeg.insert(jpeg.begin() + 2, std::begin(exif), std::end(exif));
    return jpeg;
}

void WriteAll(const std::string& path, const TBytes& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void BM_Correction(benchmark::State& state)
{
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    const TBytes photo = MakePhoto(w, h);
    char folder[] = "/tmp/fotoimport-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string path = std::string(folder) + "/IMG_0001.JPG";

    // The turned picture that the floor encodes.
    TBitmap32 src, dst;
    {
        std::vector<unsigned char> px;
        Decode(photo, px);
        src.SetSize(w, h);
        std::copy(px.begin(), px.end(), reinterpret_cast<unsigned char*>(src.Bits()));
        RenderUpright(src, dst, 6);
    }

    const std::unique_ptr<TPlatform> platform = CreatePlatform();
    TOrientationCorrector corrector(*platform);
    double wallCorr = 0, wallFloor = 0, cpuCorr = 0, cpuFloor = 0;
    std::vector<unsigned char> pixels;
    for (auto _ : state) {
        state.PauseTiming();
        WriteAll(path, photo);
        state.ResumeTiming();
        const double w0 = Wall(), c0 = Cpu();
        Decode(photo, pixels);
        benchmark::DoNotOptimize(Encode(reinterpret_cast<const unsigned char*>(dst.Bits()), w, h, 100));
        const double w1 = Wall(), c1 = Cpu();
        if (corrector.Correct(path, 6).Outcome != TCorrectionOutcome::Corrected) {
            state.SkipWithError("correction failed");
            break;
        }
        const double w2 = Wall(), c2 = Cpu();
        wallFloor += w1 - w0;
        cpuFloor += c1 - c0;
        wallCorr += w2 - w1;
        cpuCorr += c2 - c1;
        state.SetIterationTime(w2 - w1);
    }
    state.counters["x_floor"] = wallCorr / wallFloor;
    state.counters["x_floor_cpu"] = cpuCorr / cpuFloor;
    state.counters["floor_ms"] = wallFloor * 1000 / static_cast<double>(state.iterations());
    std::remove(path.c_str());
    rmdir(folder);
}

} // namespace

BENCHMARK(BM_Correction)
    ->ArgNames({"w", "h"})
    ->Args({4000, 3000})
    ->Args({6000, 4000})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

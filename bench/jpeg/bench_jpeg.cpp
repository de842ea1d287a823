// JPEG load and save of a 12-megapixel photo through TJPEGImage against plain
// libjpeg-turbo calls with the same settings. Each benchmark alternates the
// two ways in every iteration and reports their CPU times and the ratio
// adapter / plain, so a busy machine slows both alike.
#include "base/Classes.h"
#include "graphics/Graphics.h"
#include "jpeg/JpegImage.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// CPU time of this thread: on a shared machine, wall time mostly measures the neighbours.
double ThreadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Smooth gradients with a little noise, like a photo's sky and walls.
const TBitmap& Photo(TPixelFormat format)
{
    static std::unique_ptr<TBitmap> photos[3];
    auto& slot = photos[static_cast<int>(format)];
    if (!slot) {
        slot = std::make_unique<TBitmap>(kWidth, kHeight, format);
        std::mt19937 rng(42);
        const int bpp = TBitmap::BitsPerPixel(format) / 8;
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* p = slot->ScanLine(y);
            for (int x = 0; x < kWidth; ++x, p += bpp) {
                const auto noise = static_cast<unsigned>(rng() % 12);
                p[0] = static_cast<uint8_t>(x * 200 / kWidth + noise);
                p[1] = static_cast<uint8_t>(y * 200 / kHeight + noise);
                p[2] = static_cast<uint8_t>((x + y) % 256 / 2 + 60 + noise);
                if (bpp == 4)
                    p[3] = 255;
            }
        }
    }
    return *slot;
}

// The plain codec: encode rows of the given colour space at quality q, float DCT, baseline.
std::vector<uint8_t> PlainEncode(const TBitmap& bmp, int quality)
{
    jpeg_compress_struct ci{};
    jpeg_error_mgr err{};
    ci.err = jpeg_std_error(&err);
    jpeg_create_compress(&ci);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&ci, &out, &size);
    ci.image_width = static_cast<JDIMENSION>(bmp.Width());
    ci.image_height = static_cast<JDIMENSION>(bmp.Height());
    const bool wide = bmp.PixelFormat() == TPixelFormat::pf32bit;
    ci.input_components = wide ? 4 : 3;
    ci.in_color_space = wide ? JCS_EXT_BGRX : JCS_EXT_BGR;
    jpeg_set_defaults(&ci);
    ci.dct_method = JDCT_FLOAT;
    jpeg_set_quality(&ci, quality, TRUE);
    std::vector<JSAMPROW> rows(static_cast<size_t>(bmp.Height()));
    for (int y = 0; y < bmp.Height(); ++y)
        rows[static_cast<size_t>(y)] = const_cast<JSAMPROW>(bmp.ScanLine(y));
    jpeg_start_compress(&ci, TRUE);
    while (ci.next_scanline < ci.image_height)
        jpeg_write_scanlines(&ci, rows.data() + ci.next_scanline, ci.image_height - ci.next_scanline);
    jpeg_finish_compress(&ci);
    jpeg_destroy_compress(&ci);
    std::vector<uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

// The plain codec: decode into one buffer of padded BGR rows, float DCT.
size_t PlainDecode(const std::vector<uint8_t>& file)
{
    jpeg_decompress_struct ci{};
    jpeg_error_mgr err{};
    ci.err = jpeg_std_error(&err);
    jpeg_create_decompress(&ci);
    jpeg_mem_src(&ci, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&ci, TRUE);
    ci.out_color_space = JCS_EXT_BGR;
    ci.dct_method = JDCT_FLOAT;
    jpeg_start_decompress(&ci);
    const size_t stride = (size_t{ci.output_width} * 3 + 3) / 4 * 4;
    std::unique_ptr<uint8_t[]> pixels(new uint8_t[stride * ci.output_height]);
    while (ci.output_scanline < ci.output_height) {
        JSAMPROW row = pixels.get() + stride * ci.output_scanline;
        jpeg_read_scanlines(&ci, &row, 1);
    }
    jpeg_finish_decompress(&ci);
    jpeg_destroy_decompress(&ci);
    benchmark::DoNotOptimize(pixels.get());
    return stride * ci.output_height;
}

const std::vector<uint8_t>& PhotoFile()
{
    static const std::vector<uint8_t> file = PlainEncode(Photo(TPixelFormat::pf24bit), 90);
    return file;
}

template <class A, class P> void Alternate(benchmark::State& state, A adapter, P plain)
{
    double adapterSeconds = 0;
    double plainSeconds = 0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        adapter();
        const double t1 = ThreadSeconds();
        plain();
        const double t2 = ThreadSeconds();
        adapterSeconds += t1 - t0;
        plainSeconds += t2 - t1;
    }
    const auto n = static_cast<double>(state.iterations());
    state.counters["adapter_ms"] = adapterSeconds / n * 1000;
    state.counters["plain_ms"] = plainSeconds / n * 1000;
    state.counters["ratio"] = adapterSeconds / plainSeconds;
}

// Both sides take the compressed file into memory once, as loading a file
// does (the picture reads its stream into its own buffer; a plain program
// reads the file into a buffer), then decode it.
void BM_Decode12MP(benchmark::State& state)
{
    const auto& file = PhotoFile();
    TMemoryStream source;
    source.Write(file.data(), static_cast<int64_t>(file.size()));
    Alternate(
        state,
        [&] {
            source.SetPosition(0);
            TJPEGImage jpeg;
            jpeg.LoadFromStream(source);
            benchmark::DoNotOptimize(jpeg.DecodedBitmap().Bits());
        },
        [&] {
            std::vector<uint8_t> read(file);
            benchmark::DoNotOptimize(PlainDecode(read));
        });
}

void Encode12MP(benchmark::State& state, TPixelFormat format, int quality)
{
    const TBitmap& photo = Photo(format);
    Alternate(
        state,
        [&] {
            TJPEGImage jpeg;
            jpeg.SetQuality(static_cast<uint8_t>(quality));
            jpeg.Assign(&photo);
            TMemoryStream out;
            jpeg.SaveToStream(out);
            benchmark::DoNotOptimize(out.Memory());
        },
        [&] { benchmark::DoNotOptimize(PlainEncode(photo, quality)); });
}

void BM_Encode12MP_24bit_q90(benchmark::State& state)
{
    Encode12MP(state, TPixelFormat::pf24bit, 90);
}

void BM_Encode12MP_32bit_q100(benchmark::State& state)
{
    Encode12MP(state, TPixelFormat::pf32bit, 100);
}

} // namespace

BENCHMARK(BM_Decode12MP)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_Encode12MP_24bit_q90)->Unit(benchmark::kMillisecond)->Iterations(6);
BENCHMARK(BM_Encode12MP_32bit_q100)->Unit(benchmark::kMillisecond)->Iterations(4);

#include "jpeg/JpegPixels.h"

#include "jpeg/CodecGlue.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <jerror.h>

// The codec's extended colour spaces put blue, green, red and an opaque
// fourth byte where the picture class's 24-bit rows and the later fill of the
// alpha bytes put them; the other settings are the picture class's defaults.

namespace {

// Rows of 4-byte pixels, one after another, as the codec's row pointers.
// libjpeg's row type is not const; the encoder only reads the rows.
std::vector<JSAMPROW> RowPointers(const uint32_t* pixels, size_t width, size_t height)
{
    std::vector<JSAMPROW> rows(height);
    for (size_t y = 0; y < height; ++y)
        rows[y] = reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(pixels + y * width));
    return rows;
}

} // namespace

// ---- decoder ----

struct TJpegPixelDecoder::TImpl
{
    jpeg_decompress_struct Info{};
    TCodecErrors Errors;
    jpeg_source_mgr Source{};

    TImpl() { Info.err = Errors.Manager(); }
    ~TImpl() { jpeg_destroy_decompress(&Info); }
    TImpl(const TImpl&) = delete;
    TImpl& operator=(const TImpl&) = delete;
};

TJpegPixelDecoder::TJpegPixelDecoder(const uint8_t* data, size_t size)
    : FImpl(std::make_unique<TImpl>())
{
    TImpl& d = *FImpl;
    d.Errors.Run([&d, data, size] {
        jpeg_create_decompress(&d.Info);
        UseMemorySource(d.Info, d.Source, data, size);
        jpeg_read_header(&d.Info, TRUE);
    });
}

TJpegPixelDecoder::~TJpegPixelDecoder() = default;

uint32_t TJpegPixelDecoder::Width() const
{
    return FImpl->Info.image_width;
}

uint32_t TJpegPixelDecoder::Height() const
{
    return FImpl->Info.image_height;
}

bool TJpegPixelDecoder::Rgb() const
{
    return FImpl->Info.out_color_space == JCS_RGB && FImpl->Info.num_components == 3;
}

void TJpegPixelDecoder::Decode(uint32_t* pixels)
{
    TImpl& d = *FImpl;
    jpeg_decompress_struct& ci = d.Info;
    const JDIMENSION width = ci.image_width;
    const JDIMENSION height = ci.image_height;
    if (!Rgb())
        d.Errors.Run([&ci] { ERREXIT(&ci, JERR_CONVERSION_NOTIMPL); });
    std::vector<JSAMPROW> rows = RowPointers(pixels, width, height);
    JSAMPROW* r = rows.data();
    d.Errors.Run([&ci, r, width, height] {
        ci.out_color_space = JCS_EXT_BGRA;
        ci.dct_method = JDCT_FLOAT;
        ci.do_block_smoothing = TRUE;
        jpeg_start_decompress(&ci);
        // The rows were made for the header's size and four bytes a pixel.
        if (ci.output_width != width || ci.output_height != height || ci.output_components != 4)
            ERREXIT(&ci, JERR_BUFFER_SIZE);
        while (ci.output_scanline < height)
            jpeg_read_scanlines(&ci, r + ci.output_scanline, height - ci.output_scanline);
        jpeg_finish_decompress(&ci);
    });
}

int TJpegPixelDecoder::WarningCount() const
{
    return FImpl->Errors.WarningCount();
}

std::string TJpegPixelDecoder::FirstWarning() const
{
    return FImpl->Errors.FirstWarning();
}

bool TJpegPixelDecoder::Damaged() const
{
    return FImpl->Errors.DamageCount() > 0;
}

std::string TJpegPixelDecoder::DamageMessage() const
{
    return FImpl->Errors.FirstDamage();
}

// ---- encoder ----

namespace {

// The encoder's destination: the kept buffer, doubled when the file outgrows it.
struct TOutput
{
    jpeg_destination_mgr Mgr{};
    std::unique_ptr<uint8_t[]>* Buffer = nullptr;
    size_t* Capacity = nullptr;
    size_t Used = 0;
};

TOutput& OutputOf(j_compress_ptr cinfo)
{
    return *static_cast<TOutput*>(cinfo->client_data);
}

void OutputInit(j_compress_ptr cinfo)
{
    TOutput& out = OutputOf(cinfo);
    cinfo->dest->next_output_byte = out.Buffer->get();
    cinfo->dest->free_in_buffer = *out.Capacity;
}

// Called when the whole buffer is full.
boolean OutputEmpty(j_compress_ptr cinfo)
{
    TCodecErrors::Guard(reinterpret_cast<j_common_ptr>(cinfo), [cinfo] {
        TOutput& out = OutputOf(cinfo);
        const size_t old = *out.Capacity;
        if (old > SIZE_MAX / 2)
            throw std::bad_alloc();
        auto bigger = std::make_unique_for_overwrite<uint8_t[]>(old * 2);
        std::memcpy(bigger.get(), out.Buffer->get(), old);
        *out.Buffer = std::move(bigger);
        *out.Capacity = old * 2;
        cinfo->dest->next_output_byte = out.Buffer->get() + old;
        cinfo->dest->free_in_buffer = old;
    });
    return TRUE;
}

void OutputTerm(j_compress_ptr cinfo)
{
    TOutput& out = OutputOf(cinfo);
    out.Used = *out.Capacity - cinfo->dest->free_in_buffer;
}

struct TCompressor
{
    jpeg_compress_struct Info{};
    TCodecErrors Errors;

    TCompressor() { Info.err = Errors.Manager(); }
    ~TCompressor() { jpeg_destroy_compress(&Info); }
    TCompressor(const TCompressor&) = delete;
    TCompressor& operator=(const TCompressor&) = delete;
};

} // namespace

TJpegPixelEncoder::TJpegPixelEncoder() = default;

TJpegPixelEncoder::~TJpegPixelEncoder() = default;

std::span<const uint8_t> TJpegPixelEncoder::Encode(const uint32_t* pixels, int width, int height, int quality)
{
    // An empty picture goes to the codec as 0 x 0, which refuses it.
    const auto w = static_cast<JDIMENSION>(width > 0 && height > 0 ? width : 0);
    const auto h = static_cast<JDIMENSION>(width > 0 && height > 0 ? height : 0);
    // Room for three bytes a pixel: the codec then rarely needs more.
    const size_t wanted = size_t{w} * h * 3 + (size_t{1} << 20);
    if (FCapacity < wanted) {
        FBuffer.reset();
        FCapacity = 0;
        FBuffer = std::make_unique_for_overwrite<uint8_t[]>(wanted);
        FCapacity = wanted;
    }

    std::vector<JSAMPROW> rows = RowPointers(pixels, w, h);
    JSAMPROW* r = rows.data();
    TOutput out;
    out.Buffer = &FBuffer;
    out.Capacity = &FCapacity;
    out.Mgr.init_destination = OutputInit;
    out.Mgr.empty_output_buffer = OutputEmpty;
    out.Mgr.term_destination = OutputTerm;

    TCompressor enc;
    jpeg_compress_struct& ci = enc.Info;
    ci.client_data = &out;
    const int q = std::clamp(quality, 1, 100);
    enc.Errors.Run([&ci, &out, r, w, h, q] {
        jpeg_create_compress(&ci);
        ci.dest = &out.Mgr;
        ci.image_width = w;
        ci.image_height = h;
        ci.input_components = 4;
        ci.in_color_space = JCS_EXT_BGRX;
        jpeg_set_defaults(&ci);
        ci.dct_method = JDCT_FLOAT;
        jpeg_set_quality(&ci, q, TRUE);
        jpeg_start_compress(&ci, TRUE);
        while (ci.next_scanline < h)
            jpeg_write_scanlines(&ci, r + ci.next_scanline, h - ci.next_scanline);
        jpeg_finish_compress(&ci);
    });
    return {FBuffer.get(), out.Used};
}

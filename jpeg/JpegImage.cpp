#include "jpeg/JpegImage.h"

#include "base/SysUtils.h"
#include "jpeg/CodecGlue.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <jerror.h>

TJPEGDefaults DefaultOptions;

std::function<uint64_t()> JpegTickCount = [] {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
};

namespace {

// The codec may take this much memory for one picture (coefficient buffers of
// progressive files); beyond it the codec stops with an error instead of
// asking the system for more.
constexpr long kMaxCodecMemory = 1536L * 1024 * 1024;

constexpr size_t kOutputBufferSize = 64 * 1024;

// Everything a codec object of the picture needs besides its own struct and
// its errors: the progress monitor, the source and the destination. The
// codec reaches it through client_data.
struct TCodecContext
{
    jpeg_progress_mgr ProgressMgr{};

    // Progress
    const TJPEGImage* Image = nullptr;
    bool Decoding = false;
    uint64_t LastTime = 0;
    int LastPercent = -1;
    JDIMENSION LastRow = 0;

    // Source: the whole file in memory.
    jpeg_source_mgr Source{};
    // Destination: a buffer emptied into a memory stream.
    jpeg_destination_mgr Dest{};
    TMemoryStream* Output = nullptr;
    std::vector<JOCTET> Buffer;
};

TCodecContext& ContextOf(j_common_ptr cinfo)
{
    return *static_cast<TCodecContext*>(cinfo->client_data);
}

// ---- destination into a memory stream ----

void DestInit(j_compress_ptr cinfo)
{
    TCodecContext& ctx = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
    cinfo->dest->next_output_byte = ctx.Buffer.data();
    cinfo->dest->free_in_buffer = ctx.Buffer.size();
}

boolean DestEmpty(j_compress_ptr cinfo)
{
    TCodecErrors::Guard(reinterpret_cast<j_common_ptr>(cinfo), [cinfo] {
        TCodecContext& ctx = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
        ctx.Output->WriteBuffer(ctx.Buffer.data(), static_cast<int64_t>(ctx.Buffer.size()));
    });
    TCodecContext& ctx = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
    cinfo->dest->next_output_byte = ctx.Buffer.data();
    cinfo->dest->free_in_buffer = ctx.Buffer.size();
    return TRUE;
}

void DestTerm(j_compress_ptr cinfo)
{
    TCodecErrors::Guard(reinterpret_cast<j_common_ptr>(cinfo), [cinfo] {
        TCodecContext& ctx = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
        const size_t used = ctx.Buffer.size() - cinfo->dest->free_in_buffer;
        ctx.Output->WriteBuffer(ctx.Buffer.data(), static_cast<int64_t>(used));
    });
}

// ---- owners of codec objects: destroyed on every path ----

struct TDecompressor
{
    jpeg_decompress_struct Info{};
    TCodecErrors Errors;
    TCodecContext Ctx;

    TDecompressor()
    {
        Info.err = Errors.Manager();
        Info.client_data = &Ctx;
    }
    ~TDecompressor() { jpeg_destroy_decompress(&Info); }
    TDecompressor(const TDecompressor&) = delete;
    TDecompressor& operator=(const TDecompressor&) = delete;

    /// Creates the codec object over data and reads the header (an image is required).
    void Open(TMemoryStream& data)
    {
        const uint8_t* bytes = data.Memory();
        const auto size = static_cast<size_t>(data.Size());
        Errors.Run([this, bytes, size] {
            jpeg_create_decompress(&Info);
            Info.mem->max_memory_to_use = kMaxCodecMemory;
            UseMemorySource(Info, Ctx.Source, bytes, size);
            jpeg_read_header(&Info, TRUE);
        });
    }
};

struct TCompressor
{
    jpeg_compress_struct Info{};
    TCodecErrors Errors;
    TCodecContext Ctx;

    TCompressor()
    {
        Info.err = Errors.Manager();
        Info.client_data = &Ctx;
    }
    ~TCompressor() { jpeg_destroy_compress(&Info); }
    TCompressor(const TCompressor&) = delete;
    TCompressor& operator=(const TCompressor&) = delete;
};

// Rounds to the nearest integer, halves to even.
int RoundHalfEven(double v)
{
    return static_cast<int>(std::nearbyint(v));
}

int64_t StreamSize(TMemoryStream* data)
{
    return data != nullptr ? data->Size() : 0;
}

} // namespace

EJPEG::EJPEG(int code, std::string decoderMessage)
    : EInvalidGraphic(FormatD("JPEG-Fehler #%d", code))
    , FCode(code)
    , FDecoderMessage(std::move(decoderMessage))
{
}

bool EJPEG::Unsupported() const
{
    switch (FCode) {
    case JERR_ARITH_NOTIMPL:
    case JERR_BAD_PRECISION:
    case JERR_CCIR601_NOTIMPL:
    case JERR_CONVERSION_NOTIMPL:
    case JERR_FRACT_SAMPLE_NOTIMPL:
    case JERR_IMAGE_TOO_BIG:
    case JERR_NO_BACKING_STORE:
    case JERR_NOT_COMPILED:
    case JERR_NOTIMPL:
    case JERR_SOF_UNSUPPORTED:
    case JERR_WIDTH_OVERFLOW:
        return true;
    default:
        return false;
    }
}

// Codec work of TJPEGImage; a friend, so the codec's callbacks can report
// progress and the steps can reach the picture's state.
struct TJPEGCodec
{
    static void CodecProgress(j_common_ptr cinfo);
    static void InstallProgress(TCodecContext& ctx, j_common_ptr cinfo, const TJPEGImage& image,
                                bool decoding);
    static void SetUpDecoder(const TJPEGImage& image, TDecompressor& dec);
    static void Decode(const TJPEGImage& image);
    static void Encode(TJPEGImage& image);
};

void TJPEGCodec::InstallProgress(TCodecContext& ctx, j_common_ptr cinfo, const TJPEGImage& image,
                                 bool decoding)
{
    ctx.Image = &image;
    ctx.Decoding = decoding;
    ctx.ProgressMgr.progress_monitor = CodecProgress;
    cinfo->progress = &ctx.ProgressMgr;
}

void TJPEGCodec::CodecProgress(j_common_ptr cinfo)
{
    TCodecErrors::Guard(cinfo, [cinfo] {
        TCodecContext& ctx = ContextOf(cinfo);
        if (ctx.Image == nullptr)
            return;
        const uint64_t t = JpegTickCount();
        if (ctx.LastTime != 0 && t - ctx.LastTime < 500)
            return;
        const bool first = ctx.LastTime == 0;
        ctx.LastTime = t;
        if (first)
            return;
        TRect rect{};
        JDIMENSION row = 0;
        if (ctx.Decoding) {
            const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
            row = d->output_scanline;
            rect = Rect(0, static_cast<int>(ctx.LastRow), static_cast<int>(d->output_width),
                        static_cast<int>(row));
            if (rect.Bottom < rect.Top) // a new output pass began
                rect.Bottom = static_cast<int>(d->output_height);
        }
        const jpeg_progress_mgr& p = *cinfo->progress;
        if (p.pass_limit <= 0 || p.total_passes <= 0)
            return;
        const double done = static_cast<double>(p.pass_counter) / static_cast<double>(p.pass_limit) +
                            static_cast<double>(p.completed_passes);
        const int percent = RoundHalfEven(done * 100.0 / static_cast<double>(p.total_passes));
        if (percent == ctx.LastPercent)
            return;
        ctx.LastPercent = percent;
        if (ctx.Decoding)
            ctx.LastRow = row;
        ctx.Image->ReportProgress(TProgressStage::psRunning,
                                  static_cast<uint8_t>(std::clamp(percent, 0, 100)), rect.Height() > 3, rect);
    });
}

void TJPEGCodec::SetUpDecoder(const TJPEGImage& image, TDecompressor& dec)
{
    dec.Open(*image.FImage->FData);
    InstallProgress(dec.Ctx, reinterpret_cast<j_common_ptr>(&dec.Info), image, true);
    jpeg_decompress_struct& ci = dec.Info;
    const TJPEGDefaults& o = image.FOptions;
    ci.scale_num = 1;
    ci.scale_denom = 1u << std::min<unsigned>(o.DecodeScale, 3);
    ci.do_block_smoothing = o.BlockSmoothing ? TRUE : FALSE;
    if (o.Monochrome)
        ci.out_color_space = JCS_GRAYSCALE;
    else if (ci.out_color_space == JCS_RGB)
        ci.out_color_space = JCS_EXT_BGR; // the bitmap's byte order: blue, green, red
    if (o.PaletteOutput || ci.out_color_space == JCS_GRAYSCALE) {
        ci.quantize_colors = TRUE;
        ci.desired_number_of_colors = 236;
    }
    if (o.FastDecode) {
        ci.dct_method = JDCT_IFAST;
        ci.two_pass_quantize = FALSE;
        ci.dither_mode = JDITHER_ORDERED;
    } else {
        ci.dct_method = JDCT_FLOAT;
    }
    if (o.IncrementalDecode && jpeg_has_multiple_scans(&ci)) {
        ci.enable_2pass_quant = ci.two_pass_quantize;
        ci.dct_method = JDCT_IFAST;
        ci.two_pass_quantize = FALSE;
        ci.dither_mode = JDITHER_ORDERED;
        ci.buffered_image = TRUE;
    }
}

void TJPEGCodec::Decode(const TJPEGImage& image)
{
    auto bitmap = std::make_unique<TBitmap>();
    TDecompressor dec;
    SetUpDecoder(image, dec);
    jpeg_decompress_struct& ci = dec.Info;
    TCodecErrors& errors = dec.Errors;
    const TJPEGDefaults& o = image.FOptions;
    const J_DCT_METHOD chosenDct = o.FastDecode ? JDCT_IFAST : JDCT_FLOAT;
    const J_DITHER_MODE chosenDither = o.FastDecode ? JDITHER_ORDERED : JDITHER_FS;
    const bool chosenTwoPass =
        ci.buffered_image ? ci.enable_2pass_quant != FALSE : ci.two_pass_quantize != FALSE;

    // Only three components fit the bitmap; four-component (CMYK, YCCK)
    // files are refused instead of being written past the rows.
    if (ci.out_color_space != JCS_GRAYSCALE && ci.out_color_space != JCS_EXT_BGR)
        errors.Run([&ci] { ERREXIT(&ci, JERR_CONVERSION_NOTIMPL); });
    const bool eightBit = ci.quantize_colors != FALSE;
    bitmap->SetPixelFormat(eightBit ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
    image.ReportProgress(TProgressStage::psStarting, 0, false, TRect{});

    // Size the bitmap before the codec allocates anything for the picture: a
    // header announcing a picture too large fails here, cleanly.
    errors.Run([&ci] { jpeg_calc_output_dimensions(&ci); });
    bitmap->SetSize(static_cast<int>(std::min<JDIMENSION>(ci.output_width, 0x7FFFFFFF)),
                    static_cast<int>(std::min<JDIMENSION>(ci.output_height, 0x7FFFFFFF)));

    const bool workingPalette = o.PaletteOutput && !image.FWorkingPalette.empty();
    if (!o.PaletteOutput)
        image.FWorkingPalette.clear();
    const TPalette* working = workingPalette ? &image.FWorkingPalette : nullptr;
    JSAMPARRAY ownMap = nullptr;
    if (working != nullptr && ci.out_color_components == 3) {
        const auto n = static_cast<JDIMENSION>(working->size());
        errors.Run([&ci, &ownMap, n] {
            ownMap = (*ci.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&ci), JPOOL_IMAGE, n, 3);
        });
        for (JDIMENSION i = 0; i < n; ++i) {
            ownMap[0][i] = (*working)[i].Blue;
            ownMap[1][i] = (*working)[i].Green;
            ownMap[2][i] = (*working)[i].Red;
        }
        ci.colormap = ownMap;
        ci.actual_number_of_colors = static_cast<int>(n);
        bitmap->SetPalette(*working);
    }

    // Rows lie top-down, Stride() bytes apart (a multiple of 4): the codec
    // may fill rec_outbuf_height rows per call. A bitmap one row high has no
    // second row to measure, and is read one row at a time.
    uint8_t* bits = bitmap->Bits();
    const ptrdiff_t stride = bitmap->Stride();
    JSAMPROW rows[16];
    JDIMENSION rowsPerCall = 1;
    auto readRows = [&ci, &rows, &rowsPerCall, bits, stride] {
        while (ci.output_scanline < ci.output_height) {
            const JDIMENSION y = ci.output_scanline;
            const JDIMENSION k = std::min(rowsPerCall, ci.output_height - y);
            for (JDIMENSION i = 0; i < k; ++i)
                rows[i] = bits + static_cast<ptrdiff_t>(y + i) * stride;
            jpeg_read_scanlines(&ci, rows, k);
        }
    };
    auto paletteFromCodec = [&ci, &bitmap] {
        if (ci.colormap == nullptr)
            return;
        TPalette pal(static_cast<size_t>(std::clamp(ci.actual_number_of_colors, 0, 256)));
        for (size_t i = 0; i < pal.size(); ++i) {
            if (ci.out_color_components == 1) {
                const uint8_t v = ci.colormap[0][i];
                pal[i] = TRGBQuad{v, v, v, 0};
            } else {
                pal[i] = TRGBQuad{ci.colormap[0][i], ci.colormap[1][i], ci.colormap[2][i], 0};
            }
        }
        bitmap->SetPalette(std::move(pal));
    };

    bool paletteModified = false;
    try {
        errors.Run([&ci] { jpeg_start_decompress(&ci); });
        if (bitmap->Height() >= 2 && stride > 0 && stride % 4 == 0)
            rowsPerCall = static_cast<JDIMENSION>(std::clamp(ci.rec_outbuf_height, 1, 16));
        if (ci.buffered_image) {
            // One output pass per completed input scan, at the fast settings,
            // then a last pass at the chosen ones.
            bool firstPass = true;
            int status = JPEG_SUSPENDED;
            while (status != JPEG_REACHED_EOI) {
                errors.Run([&ci, &status] {
                    do
                        status = jpeg_consume_input(&ci);
                    while (status != JPEG_REACHED_EOI && status != JPEG_SCAN_COMPLETED &&
                           status != JPEG_SUSPENDED);
                });
                if (status == JPEG_SUSPENDED)
                    status = JPEG_REACHED_EOI;
                errors.Run([&ci] { jpeg_start_output(&ci, ci.input_scan_number); });
                if (firstPass && eightBit && working == nullptr) {
                    paletteFromCodec();
                    paletteModified = true;
                }
                firstPass = false;
                errors.Run(readRows);
                errors.Run([&ci] { jpeg_finish_output(&ci); });
            }
            ci.dct_method = chosenDct;
            ci.dither_mode = chosenDither;
            if (eightBit && chosenTwoPass && working == nullptr) {
                ci.two_pass_quantize = TRUE;
                ci.colormap = nullptr;
            }
            errors.Run([&ci] { jpeg_start_output(&ci, ci.input_scan_number); });
            if (eightBit && working == nullptr) {
                paletteFromCodec();
                paletteModified = true;
            }
            errors.Run(readRows);
            errors.Run([&ci] { jpeg_finish_output(&ci); });
        } else {
            if (eightBit && ci.colormap != ownMap) {
                paletteFromCodec();
                paletteModified = true;
            }
            errors.Run(readRows);
        }
        errors.Run([&ci] { jpeg_finish_decompress(&ci); });
        image.ReportProgress(TProgressStage::psEnding, 100, false, TRect{});
    } catch (const EAbort&) {
        // A progress observer stopped decoding: keep the rows decoded so far.
        image.ReportProgress(TProgressStage::psEnding, 0, false, TRect{});
    }
    image.FBitmap = std::move(bitmap);
    image.FDecodeDamage = errors.FirstDamage();
    if (paletteModified)
        image.Changed();
}

void TJPEGCodec::Encode(TJPEGImage& image)
{
    TCompressor enc;
    jpeg_compress_struct& ci = enc.Info;
    TCodecContext& ctx = enc.Ctx;
    TCodecErrors& errors = enc.Errors;
    errors.Run([&ci] { jpeg_create_compress(&ci); });
    // Creation clears the object but for the error manager: the monitor goes in after it.
    InstallProgress(ctx, reinterpret_cast<j_common_ptr>(&ci), image, false);

    image.ResetCompressed();
    image.FImage->FData = std::make_unique<TMemoryStream>();
    const TBitmap* source = image.FBitmap.get();
    if (source == nullptr || source->Empty())
        return;

    try {
        ctx.Output = image.FImage->FData.get();
        ctx.Buffer.resize(kOutputBufferSize);
        ctx.Dest.init_destination = DestInit;
        ctx.Dest.empty_output_buffer = DestEmpty;
        ctx.Dest.term_destination = DestTerm;
        ci.dest = &ctx.Dest;

        image.FImage->FWidth = source->Width();
        image.FImage->FHeight = source->Height();
        ci.image_width = static_cast<JDIMENSION>(source->Width());
        ci.image_height = static_cast<JDIMENSION>(source->Height());
        // 24 and 32-bit rows go to the codec as they are (the codec skips the
        // fourth byte); a palette bitmap is expanded into a temporary copy.
        std::unique_ptr<TBitmap> temp;
        if (source->PixelFormat() == TPixelFormat::pf8bit) {
            temp = std::make_unique<TBitmap>();
            temp->Assign(source);
            temp->SetPixelFormat(TPixelFormat::pf24bit);
            source = temp.get();
        }
        const bool fourBytes = source->PixelFormat() == TPixelFormat::pf32bit;
        ci.input_components = fourBytes ? 4 : 3;
        ci.in_color_space = fourBytes ? JCS_EXT_BGRX : JCS_EXT_BGR;
        const TJPEGDefaults& o = image.FOptions;
        const int quality = o.Quality;
        const bool mono = o.Monochrome;
        const bool progressive = o.ProgressiveSave;
        image.FImage->FGrayscale = mono;
        errors.Run([&ci, quality, mono, progressive] {
            jpeg_set_defaults(&ci);
            ci.dct_method = JDCT_FLOAT;
            jpeg_set_quality(&ci, quality, TRUE);
            if (mono)
                jpeg_set_colorspace(&ci, JCS_GRAYSCALE);
            if (progressive)
                jpeg_simple_progression(&ci);
        });

        // Top-down rows a multiple of 4 bytes apart: all rows in one call.
        const auto height = static_cast<size_t>(source->Height());
        std::vector<JSAMPROW> rows(height);
        for (size_t y = 0; y < height; ++y)
            rows[y] = const_cast<JSAMPROW>(source->ScanLine(static_cast<int>(y)));
        const JDIMENSION rowsPerCall =
            height >= 2 && source->Stride() % 4 == 0 ? static_cast<JDIMENSION>(height) : 1;
        JSAMPARRAY rowPtrs = rows.data();

        image.ReportProgress(TProgressStage::psStarting, 0, false, TRect{});
        errors.Run([&ci, rowPtrs, rowsPerCall] {
            jpeg_start_compress(&ci, TRUE);
            while (ci.next_scanline < ci.image_height) {
                const JDIMENSION k = std::min(rowsPerCall, ci.image_height - ci.next_scanline);
                jpeg_write_scanlines(&ci, rowPtrs + ci.next_scanline, k);
            }
            jpeg_finish_compress(&ci);
        });
        image.ReportProgress(TProgressStage::psEnding, 100, false, TRect{});
    } catch (const EAbort&) {
        // A progress observer stopped encoding: the partial output is dropped.
        image.ResetCompressed();
        image.ReportProgress(TProgressStage::psEnding, 0, false, TRect{});
    } catch (...) { // no half-written file may stand as the encoded picture
        image.ResetCompressed();
        throw;
    }
}

// ---- TJPEGImage ----

TJPEGImage::TJPEGImage()
    : FImage(std::make_shared<TJPEGData>())
    , FOptions(DefaultOptions)
{
}

TJPEGImage::~TJPEGImage() = default;

void TJPEGImage::ResetCompressed()
{
    // Another picture may share the data: it keeps its own.
    FImage = std::make_shared<TJPEGData>();
}

void TJPEGImage::DropDecodedBitmap()
{
    if (FImage->FData) {
        FBitmap.reset();
        FDecodeDamage.clear();
    }
}

void TJPEGImage::ReportProgress(TProgressStage stage, uint8_t percent, bool redraw, const TRect& rect) const
{
    Progress(stage, percent, redraw, rect, std::string());
}

void TJPEGImage::SetBlockSmoothing(bool value)
{
    if (value != FOptions.BlockSmoothing) {
        FOptions.BlockSmoothing = value;
        DropDecodedBitmap();
    }
}

void TJPEGImage::SetMonochrome(bool value)
{
    if (value != FOptions.Monochrome) {
        FOptions.Monochrome = value;
        DropDecodedBitmap();
    }
}

void TJPEGImage::SetPaletteOutput(bool value)
{
    if (value != FOptions.PaletteOutput) {
        FOptions.PaletteOutput = value;
        DropDecodedBitmap();
    }
}

void TJPEGImage::SetFastDecode(bool value)
{
    if (value != FOptions.FastDecode) {
        FOptions.FastDecode = value;
        DropDecodedBitmap();
    }
}

void TJPEGImage::SetDecodeScale(uint8_t value)
{
    value = std::min<uint8_t>(value, 3);
    if (value != FOptions.DecodeScale) {
        FOptions.DecodeScale = value;
        DropDecodedBitmap();
    }
}

void TJPEGImage::ReadCompressed(int64_t n, TStream& stream)
{
    ResetCompressed();
    FBitmap.reset();
    FDecodeDamage.clear();
    auto data = std::make_unique<TMemoryStream>();
    if (n < 0)
        throw EReadError();
    // Grow the buffer as the bytes arrive, so a wrong count cannot demand a
    // huge block before a single byte was read.
    int64_t done = 0;
    while (done < n) {
        const int64_t chunk = std::min<int64_t>(n - done, std::max<int64_t>(done, int64_t{1} << 20));
        data->SetSize(done + chunk);
        if (stream.Read(data->Memory() + done, chunk) != chunk)
            throw EReadError();
        done += chunk;
    }
    data->SetPosition(0);
    if (n > 0) {
        TDecompressor dec;
        dec.Open(*data);
        FImage->FWidth = static_cast<int32_t>(std::min<JDIMENSION>(dec.Info.image_width, 0x7FFFFFFF));
        FImage->FHeight = static_cast<int32_t>(std::min<JDIMENSION>(dec.Info.image_height, 0x7FFFFFFF));
        FImage->FGrayscale = dec.Info.jpeg_color_space == JCS_GRAYSCALE;
        FOptions.ProgressiveSave = jpeg_has_multiple_scans(&dec.Info) != FALSE;
    }
    FImage->FData = std::move(data);
    Changed();
}

void TJPEGImage::ReadFormData(TStream& stream)
{
    uint8_t count[4];
    stream.ReadBuffer(count, 4);
    const uint32_t n =
        uint32_t{count[0]} | uint32_t{count[1]} << 8 | uint32_t{count[2]} << 16 | uint32_t{count[3]} << 24;
    ReadCompressed(n, stream);
}

void TJPEGImage::WriteFormData(TStream& stream)
{
    const int64_t size = StreamSize(FImage->FData.get());
    const auto n = static_cast<uint32_t>(size);
    const uint8_t count[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8),
                              static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 24)};
    stream.WriteBuffer(count, 4);
    if (size > 0)
        stream.WriteBuffer(FImage->FData->Memory(), size);
}

const TBitmap& TJPEGImage::DecodedBitmap() const
{
    if (!FBitmap) {
        if (FImage->FData)
            TJPEGCodec::Decode(*this);
        else
            FBitmap = std::make_unique<TBitmap>(); // nothing loaded: an empty picture
    }
    return *FBitmap;
}

void TJPEGImage::Encode()
{
    TJPEGCodec::Encode(*this);
}

void TJPEGImage::EnsureEncoded()
{
    if (!FImage->FData)
        Encode();
}

const TPalette& TJPEGImage::Palette() const
{
    return FBitmap ? FBitmap->Palette() : FWorkingPalette;
}

void TJPEGImage::SetPalette(const TPalette& palette)
{
    bool freed = false;
    if (FBitmap && FImage->FData && FBitmap->Palette() != palette) {
        FBitmap.reset();
        FDecodeDamage.clear();
        freed = true;
    }
    FWorkingPalette = palette;
    if (FWorkingPalette.size() > 256)
        FWorkingPalette.resize(256);
    if (freed)
        Changed();
}

int TJPEGImage::Width() const
{
    if (FBitmap)
        return FBitmap->Width();
    const int s = FOptions.DecodeScale;
    return static_cast<int>((int64_t{FImage->FWidth} + (int64_t{1} << s) - 1) >> s);
}

int TJPEGImage::Height() const
{
    if (FBitmap)
        return FBitmap->Height();
    const int s = FOptions.DecodeScale;
    return static_cast<int>((int64_t{FImage->FHeight} + (int64_t{1} << s) - 1) >> s);
}

void TJPEGImage::SetWidth(int)
{
    throw EInvalidGraphicOperation("Die Größe einer JPEG-Grafik kann nicht verändert werden");
}

void TJPEGImage::SetHeight(int)
{
    throw EInvalidGraphicOperation("Die Größe einer JPEG-Grafik kann nicht verändert werden");
}

bool TJPEGImage::Empty() const
{
    if (FImage->FData)
        return false;
    return !FBitmap || FBitmap->Empty();
}

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect) const
{
    canvas.StretchDraw(rect, DecodedBitmap());
}

void TJPEGImage::LoadFromStream(TStream& stream)
{
    ReadCompressed(stream.Size() - stream.Position(), stream);
}

void TJPEGImage::SaveToStream(TStream& stream)
{
    EnsureEncoded();
    const int64_t size = StreamSize(FImage->FData.get());
    // One write of all bytes; a short write (a full disk) raises EWriteError.
    if (size > 0)
        stream.WriteBuffer(FImage->FData->Memory(), size);
}

void TJPEGImage::Assign(const TGraphic* source)
{
    if (source == this)
        return;
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(source)) {
        FImage = jpeg->FImage;
        if (jpeg->FBitmap) {
            auto copy = std::make_unique<TBitmap>();
            copy->Assign(jpeg->FBitmap.get());
            FBitmap = std::move(copy);
            FDecodeDamage = jpeg->FDecodeDamage;
        } else {
            FBitmap.reset();
            FDecodeDamage.clear();
        }
        Changed();
        return;
    }
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
        auto copy = std::make_unique<TBitmap>();
        copy->Assign(bitmap);
        ResetCompressed();
        FBitmap = std::move(copy);
        FDecodeDamage.clear();
        return;
    }
    TGraphic::Assign(source);
}

void TJPEGImage::AssignTo(TGraphic& dest) const
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->Assign(&DecodedBitmap());
        return;
    }
    TGraphic::AssignTo(dest);
}

bool TJPEGImage::Equals(TGraphic& other)
{
    auto* jpeg = dynamic_cast<TJPEGImage*>(&other);
    if (jpeg == nullptr)
        return false;
    TMemoryStream* a = FImage->FData.get();
    TMemoryStream* b = jpeg->FImage->FData.get();
    if (a != nullptr && b != nullptr) {
        const int64_t size = StreamSize(a);
        return size == StreamSize(b) &&
               (size == 0 || std::memcmp(a->Memory(), b->Memory(), static_cast<size_t>(size)) == 0);
    }
    return FImage == jpeg->FImage;
}

void RegisterJpegFormats()
{
    for (const auto& f : TPicture::Formats())
        if (f.ClassName == "TJPEGImage")
            return;
    auto factory = [] { return std::unique_ptr<TGraphic>(std::make_unique<TJPEGImage>()); };
    TPicture::RegisterFormat("jpeg", "JPEG-Grafikdatei", "TJPEGImage", factory);
    TPicture::RegisterFormat("jpg", "JPEG-Grafikdatei", "TJPEGImage", factory);
}

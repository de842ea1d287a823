#include "app/core/Correction.h"

#include "app/core/RotatePhoto.h"
#include "jpeg/JpegImage.h"
#include "platform/Classes.h"
#include "raster/Bitmap32.h"
#include "raster/Transform.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

// Largest pixel memory of one 32-bit picture (as the runtime bitmap allows).
constexpr uint64_t kMaxPictureBytes = uint64_t{1} << 30;

// ---- The photo's Exif segment ----

constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTypeShort = 3;
constexpr size_t kExifHeader = 10; // marker, length, "Exif\0\0"

// The first APP1 "Exif\0\0" segment among the leading markers (marker bytes
// included), or nothing.
TBytes FindExifSegment(const uint8_t* file, size_t size)
{
    if (size < 4 || file[0] != 0xFF || file[1] != 0xD8)
        return {};
    size_t pos = 2;
    while (size - pos >= 4) {
        if (file[pos] != 0xFF)
            return {};
        const uint8_t marker = file[pos + 1];
        if (marker == 0xFF) { // fill byte
            ++pos;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) // the picture data begins, or the file ends
            return {};
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) { // no length field
            pos += 2;
            continue;
        }
        const size_t length = size_t{file[pos + 2]} << 8 | file[pos + 3];
        if (length < 2 || length > size - pos - 2)
            return {};
        if (marker == 0xE1 && length >= 8 && std::memcmp(&file[pos + 4], "Exif\0\0", 6) == 0)
            return TBytes(file + pos, file + pos + 2 + length);
        pos += 2 + length;
    }
    return {};
}

// Reads and writes the TIFF structure inside an Exif segment; every access
// is checked against the segment.
class TTiffPatcher
{
public:
    explicit TTiffPatcher(TBytes& segment)
        : FSegment(segment)
    {
    }

    // Sets every Orientation entry (SHORT) of the directory chain, and of the
    // Exif directory, to value. Damaged structures are patched as far as
    // they can be read.
    void SetOrientation(uint16_t value)
    {
        if (FSegment.size() < kExifHeader + 8)
            return;
        const uint8_t* t = Tiff();
        if (t[0] == 'I' && t[1] == 'I')
            FBigEndian = false;
        else if (t[0] == 'M' && t[1] == 'M')
            FBigEndian = true;
        else
            return;
        if (Read16(2) != 42)
            return;
        std::vector<uint32_t> pending{Read32(4)};
        std::set<uint32_t> visited;
        while (!pending.empty() && visited.size() < 64) {
            const uint32_t ifd = pending.back();
            pending.pop_back();
            if (ifd == 0 || !visited.insert(ifd).second || !Fits(ifd, 2))
                continue;
            const uint32_t count = Read16(ifd);
            const uint64_t available = (TiffSize() - ifd - 2) / 12;
            const uint32_t entries = static_cast<uint32_t>(std::min<uint64_t>(count, available));
            for (uint32_t i = 0; i < entries; ++i) {
                const uint32_t e = ifd + 2 + 12 * i;
                const uint16_t tag = Read16(e);
                const uint16_t type = Read16(e + 2);
                const uint32_t n = Read32(e + 4);
                if (tag == kTagOrientation && type == kTypeShort && n >= 1)
                    Write16(e + 8, value);
                else if (tag == kTagExifIfd && n == 1)
                    pending.push_back(Read32(e + 8));
            }
            if (entries == count && Fits(ifd + 2 + 12 * count, 4))
                pending.push_back(Read32(ifd + 2 + 12 * count));
        }
    }

private:
    uint8_t* Tiff() { return FSegment.data() + kExifHeader; }
    uint64_t TiffSize() const { return FSegment.size() - kExifHeader; }
    bool Fits(uint64_t offset, uint64_t n) const { return offset <= TiffSize() && n <= TiffSize() - offset; }
    uint16_t Read16(uint64_t o)
    {
        if (!Fits(o, 2))
            return 0;
        const uint8_t* p = Tiff() + o;
        return static_cast<uint16_t>(FBigEndian ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
    }
    uint32_t Read32(uint64_t o)
    {
        if (!Fits(o, 4))
            return 0;
        const uint8_t* p = Tiff() + o;
        return FBigEndian ? uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]
                          : uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
    }
    void Write16(uint64_t o, uint16_t v)
    {
        if (!Fits(o, 2))
            return;
        uint8_t* p = Tiff() + o;
        p[FBigEndian ? 0 : 1] = static_cast<uint8_t>(v >> 8);
        p[FBigEndian ? 1 : 0] = static_cast<uint8_t>(v);
    }

    TBytes& FSegment;
    bool FBigEndian = false;
};

// Where the Exif segment goes in the encoder's file: right after its JFIF
// header (or after the start marker when there is none).
size_t SegmentPlace(const uint8_t* encoded, size_t size)
{
    if (size >= 6 && encoded[2] == 0xFF && encoded[3] == 0xE0) {
        const size_t length = size_t{encoded[4]} << 8 | encoded[5];
        if (length >= 2 && length <= size - 4)
            return 4 + length;
    }
    return 2;
}

/// A piece of the new file.
struct TPiece
{
    const uint8_t* Data;
    size_t Size;
};

// ---- The codec, straight between file bytes and 32-bit pixels ----
//
// The settings are those of the JPEG picture class with its default options
// (floating-point DCT both ways, block smoothing, quality 100 baseline), and
// the codec's extended colour spaces put blue, green, red and an opaque
// fourth byte where the picture class's 24-bit rows and the later fill of
// the alpha bytes put them: the pixels and the file come out the same.

struct TErrorMgr
{
    jpeg_error_mgr Pub;
    jmp_buf Jump;
};

void ErrorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<TErrorMgr*>(info->err)->Jump, 1);
}

void EmitMessage(j_common_ptr, int) {} // warnings (corrupt data) are ignored, decoding goes on

void OutputMessage(j_common_ptr) {}

void InstallErrors(TErrorMgr& err)
{
    jpeg_std_error(&err.Pub);
    err.Pub.error_exit = ErrorExit;
    err.Pub.emit_message = EmitMessage;
    err.Pub.output_message = OutputMessage;
}

struct TDecoder
{
    jpeg_decompress_struct Info{};
    TErrorMgr Err{};
    bool Created = false;
    ~TDecoder()
    {
        if (Created)
            jpeg_destroy_decompress(&Info);
    }
};

struct TEncoder
{
    jpeg_compress_struct Info{};
    TErrorMgr Err{};
    bool Created = false;
    unsigned char* Out = nullptr; ///< the caller's buffer, or one the codec grew
    unsigned long OutSize = 0;
    unsigned char* Given = nullptr;
    ~TEncoder()
    {
        if (Created)
            jpeg_destroy_compress(&Info);
        if (Out != Given)
            std::free(Out);
    }
};

// The functions holding setjmp keep only trivial objects in their frames.
bool DecodeHeader(TDecoder& d, const uint8_t* data, unsigned long size)
{
    d.Info.err = &d.Err.Pub;
    if (setjmp(d.Err.Jump))
        return false;
    jpeg_create_decompress(&d.Info);
    d.Created = true;
    jpeg_mem_src(&d.Info, data, size);
    jpeg_read_header(&d.Info, TRUE);
    return true;
}

bool DecodeRows(TDecoder& d, JSAMPROW* rows, JDIMENSION width, JDIMENSION height)
{
    if (setjmp(d.Err.Jump))
        return false;
    d.Info.out_color_space = JCS_EXT_BGRA;
    d.Info.dct_method = JDCT_FLOAT;
    d.Info.do_block_smoothing = TRUE;
    jpeg_start_decompress(&d.Info);
    if (d.Info.output_width != width || d.Info.output_height != height || d.Info.output_components != 4)
        return false;
    while (d.Info.output_scanline < height)
        jpeg_read_scanlines(&d.Info, rows + d.Info.output_scanline, height - d.Info.output_scanline);
    jpeg_finish_decompress(&d.Info);
    return true;
}

bool EncodeRows(TEncoder& e, JSAMPROW* rows, JDIMENSION width, JDIMENSION height)
{
    e.Info.err = &e.Err.Pub;
    if (setjmp(e.Err.Jump))
        return false;
    jpeg_create_compress(&e.Info);
    e.Created = true;
    jpeg_mem_dest(&e.Info, &e.Out, &e.OutSize);
    e.Info.image_width = width;
    e.Info.image_height = height;
    e.Info.input_components = 4;
    e.Info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&e.Info);
    e.Info.dct_method = JDCT_FLOAT;
    jpeg_set_quality(&e.Info, 100, TRUE);
    jpeg_start_compress(&e.Info, TRUE);
    while (e.Info.next_scanline < height)
        jpeg_write_scanlines(&e.Info, rows + e.Info.next_scanline, height - e.Info.next_scanline);
    jpeg_finish_compress(&e.Info);
    return true;
}

std::vector<JSAMPROW> RowPointers(TBitmap32& b)
{
    std::vector<JSAMPROW> rows(static_cast<size_t>(b.Height()));
    for (size_t y = 0; y < rows.size(); ++y)
        rows[y] = reinterpret_cast<JSAMPROW>(b.Bits() + y * static_cast<size_t>(b.Width()));
    return rows;
}

// The default options of the picture class are the ones the direct road
// reproduces.
bool DirectOptions()
{
    const TJPEGDefaults& o = DefaultOptions;
    return o.BlockSmoothing && !o.Monochrome && !o.PaletteOutput && !o.IncrementalDecode && !o.FastDecode &&
           o.DecodeScale == 0;
}

enum class TStep
{
    Done,
    Unsupported, ///< not a picture for this road
    Skip,        ///< cannot be turned: left as it is
    Fail
};

// ---- Files ----

/// A file's bytes in a buffer kept from photo to photo (never cleared first).
struct TFileBytes
{
    std::unique_ptr<uint8_t[]> Data;
    size_t Capacity = 0;
    size_t Size = 0;
};

void ReadAll(const std::string& fileName, TFileBytes& bytes)
{
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    const int64_t size = stream.Size();
    if (size < 0 || static_cast<uint64_t>(size) > kMaxPictureBytes)
        throw EReadError();
    if (bytes.Capacity < static_cast<size_t>(size) + 1) {
        bytes.Data.reset();
        bytes.Capacity = 0;
        bytes.Data = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size) + 1);
        bytes.Capacity = static_cast<size_t>(size) + 1;
    }
    stream.SetPosition(0);
    bytes.Size = static_cast<size_t>(stream.Read(bytes.Data.get(), size));
}

// Writes the pieces to a temporary file beside target, flushes it, gives it the
// mode and times of info and only then puts it in target's place. On any
// failure the temporary file is removed and target stays as it was.
bool ReplaceFile(const std::string& target, const std::vector<TPiece>& pieces, const struct stat& info)
{
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    // Hidden, and named like the transfer's own staged copies.
    std::string temp = (folder == "/" ? "" : folder) + "/.fotoimport-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return false;
    ::close(fd);
    bool ok = false;
    try {
        TFileStream stream(temp, fmCreate);
        for (const TPiece& piece : pieces)
            if (piece.Size > 0)
                stream.WriteBuffer(piece.Data, static_cast<int64_t>(piece.Size));
        stream.Flush();
        ok = true;
    } catch (const std::exception&) {
        ok = false;
    }
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ok = ok && ::chmod(temp.c_str(), info.st_mode & 07777) == 0 &&
         ::utimensat(AT_FDCWD, temp.c_str(), times, 0) == 0 && std::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

} // namespace

struct TFree
{
    void operator()(unsigned char* p) const { std::free(p); }
};

struct TOrientationCorrector::TImpl
{
    TBitmap32 Src; ///< the decoded photo
    TBitmap32 Dst; ///< the rendered, upright photo
    TBitmap Dst1;  ///< bridge from Dst to the encoder on the picture road
    TCorrectionRoad Road = TCorrectionRoad::Direct;
    TFileBytes In; ///< the photo's file
    /// The encoder's output, kept from photo to photo.
    std::unique_ptr<unsigned char, TFree> Out;
    size_t OutCapacity = 0;

    TStep DecodeDirect(const uint8_t* file, size_t size);
    bool EncodeDirect(TPiece& out);
    TStep RunPictures(const std::string& targetFile, int orientation, TMemoryStream& out);
};

TStep TOrientationCorrector::TImpl::DecodeDirect(const uint8_t* file, size_t size)
{
    TDecoder d;
    InstallErrors(d.Err);
    if (!DecodeHeader(d, file, static_cast<unsigned long>(size)))
        return TStep::Fail;
    if (d.Info.out_color_space != JCS_RGB || d.Info.num_components != 3)
        return TStep::Unsupported;
    const JDIMENSION w = d.Info.image_width;
    const JDIMENSION h = d.Info.image_height;
    if (w > 32767 || h > 32767 || !CanRotatePhoto(static_cast<int>(w), static_cast<int>(h)))
        return TStep::Skip;
    if (uint64_t{w} * h * 4 > kMaxPictureBytes)
        return TStep::Fail;
    Src.SetSize(static_cast<int>(w), static_cast<int>(h));
    std::vector<JSAMPROW> rows = RowPointers(Src);
    return DecodeRows(d, rows.data(), w, h) ? TStep::Done : TStep::Fail;
}

bool TOrientationCorrector::TImpl::EncodeDirect(TPiece& out)
{
    // Room for three bytes a pixel: the codec then rarely needs to grow it.
    const size_t wanted =
        static_cast<size_t>(Dst.Width()) * static_cast<size_t>(Dst.Height()) * 3 + (1u << 20);
    if (OutCapacity < wanted) {
        Out.reset(static_cast<unsigned char*>(std::malloc(wanted)));
        OutCapacity = Out ? wanted : 0;
    }
    TEncoder e;
    InstallErrors(e.Err);
    e.Given = Out.get();
    e.Out = Out.get();
    e.OutSize = static_cast<unsigned long>(OutCapacity);
    std::vector<JSAMPROW> rows = RowPointers(Dst);
    if (!EncodeRows(e, rows.data(), static_cast<JDIMENSION>(Dst.Width()),
                    static_cast<JDIMENSION>(Dst.Height())))
        return false;
    if (e.Out != e.Given) { // the codec grew the buffer: keep the larger one
        Out.reset(e.Out);
        OutCapacity = e.OutSize;
        e.Given = e.Out;
    }
    out = {Out.get(), e.OutSize};
    return true;
}

// The correction step by step: load through the picture registry, size,
// clear the ring's alpha, render at angle 0 and then turned, copy into the
// bridge bitmap and encode it with a JPEG picture of quality 100.
TStep TOrientationCorrector::TImpl::RunPictures(const std::string& targetFile, int orientation,
                                                TMemoryStream& out)
{
    Src.LoadFromFile(targetFile);
    const int w = Src.Width();
    const int h = Src.Height();
    if (!CanRotatePhoto(w, h))
        return TStep::Skip;
    Dst.SetSize(w, h);
    ClearBorderAlpha(Src, Src.Bounds());
    RotatePhoto(Src, Dst, 0);
    float angle = 0;
    if (OrientationAngle(orientation, angle))
        RotatePhoto(Src, Dst, angle);
    Dst.AssignTo(Dst1);
    TJPEGImage jpeg;
    jpeg.SetQuality(100);
    jpeg.Assign(&Dst1);
    jpeg.SaveToStream(out);
    return TStep::Done;
}

TOrientationCorrector::TOrientationCorrector()
    : FImpl(std::make_unique<TImpl>())
{
    RegisterJpegFormats();
}

TOrientationCorrector::~TOrientationCorrector() = default;

void TOrientationCorrector::SetRoad(TCorrectionRoad road)
{
    FImpl->Road = road;
}

TCorrectionOutcome TOrientationCorrector::Correct(const std::string& targetFile, int orientation)
{
    if (orientation <= 1)
        return TCorrectionOutcome::Skipped;
    try {
        struct stat info = {};
        if (::stat(targetFile.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return TCorrectionOutcome::Failed;
        TFileBytes& file = FImpl->In;
        ReadAll(targetFile, file);
        TPiece encoded{nullptr, 0};
        TMemoryStream pictureOut;
        TStep step = TStep::Unsupported;
        if (FImpl->Road == TCorrectionRoad::Direct && DirectOptions()) {
            step = FImpl->DecodeDirect(file.Data.get(), file.Size);
            if (step == TStep::Done) {
                // A turn overwrites the angle-0 render completely: one render.
                RenderUpright(FImpl->Src, FImpl->Dst, orientation);
                if (!FImpl->EncodeDirect(encoded))
                    step = TStep::Fail;
            }
        }
        if (step == TStep::Unsupported) {
            step = FImpl->RunPictures(targetFile, orientation, pictureOut);
            encoded = {pictureOut.Memory(), static_cast<size_t>(pictureOut.Size())};
        }
        if (step == TStep::Skip)
            return TCorrectionOutcome::Skipped;
        if (step != TStep::Done || encoded.Size < 4)
            return TCorrectionOutcome::Failed;

        // The photo's metadata goes along. The turned picture is upright, so
        // its orientation tags must not make viewers turn it again.
        TBytes exif = FindExifSegment(file.Data.get(), file.Size);
        float angle = 0;
        if (!exif.empty() && OrientationAngle(orientation, angle))
            TTiffPatcher(exif).SetOrientation(1);
        const size_t at = exif.empty() ? encoded.Size : SegmentPlace(encoded.Data, encoded.Size);
        const std::vector<TPiece> pieces = {
            {encoded.Data, at}, {exif.data(), exif.size()}, {encoded.Data + at, encoded.Size - at}};
        return ReplaceFile(targetFile, pieces, info) ? TCorrectionOutcome::Corrected
                                                     : TCorrectionOutcome::Failed;
    } catch (const std::exception&) {
        return TCorrectionOutcome::Failed;
    }
}

#include "app/core/Correction.h"

#include "app/core/RotatePhoto.h"
#include "jpeg/JpegImage.h"
#include "jpeg/JpegPixels.h"
#include "meta/JpegSegments.h"
#include "platform/Classes.h"
#include "raster/Bitmap32.h"
#include "raster/Transform.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <span>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

// Largest pixel memory of one 32-bit picture (as the runtime bitmap allows).
constexpr uint64_t kMaxPictureBytes = uint64_t{1} << 30;

/// A piece of the new file.
struct TPiece
{
    const uint8_t* Data;
    size_t Size;
};

// The direct road decodes with the picture class's default options: only
// when they are in force does it give the same pixels.
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
    TooLarge     ///< more pixels than one picture may hold
};

// The kind of failure an operating system error number stands for.
TFailure FailureOf(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return TFailure::NotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return TFailure::Access;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return TFailure::NoSpace;
    default:
        return TFailure::Io;
    }
}

TResult OsFailure(int error, const std::string& path)
{
    return TResult::Fail(FailureOf(error), path, std::strerror(error), error);
}

// ---- Files ----

/// A file's bytes in a buffer kept from photo to photo (never cleared first).
struct TFileBytes
{
    std::unique_ptr<uint8_t[]> Data;
    size_t Capacity = 0;
    size_t Size = 0;
};

TResult ReadAll(const std::string& fileName, TFileBytes& bytes)
{
    TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
    const int64_t size = stream.Size();
    if (size < 0)
        throw EReadError();
    if (static_cast<uint64_t>(size) > kMaxPictureBytes)
        return TResult::Fail(TFailure::Unsupported, fileName, "file too large");
    if (bytes.Capacity < static_cast<size_t>(size) + 1) {
        bytes.Data.reset();
        bytes.Capacity = 0;
        bytes.Data = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size) + 1);
        bytes.Capacity = static_cast<size_t>(size) + 1;
    }
    stream.SetPosition(0);
    bytes.Size = static_cast<size_t>(stream.Read(bytes.Data.get(), size));
    return {};
}

// Writes the pieces to a temporary file beside target, flushes it, gives it the
// mode and times of info and only then puts it in target's place. On any
// failure the temporary file is removed and target stays as it was.
TResult ReplaceFile(const std::string& target, const std::vector<TPiece>& pieces, const struct stat& info)
{
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    // Hidden, and named like the transfer's own staged copies.
    std::string temp = (folder == "/" ? "" : folder) + "/.fotoimport-XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0)
        return OsFailure(errno, target);
    ::close(fd);
    int error = 0;
    try {
        errno = 0;
        TFileStream stream(temp, fmCreate);
        for (const TPiece& piece : pieces)
            if (piece.Size > 0)
                stream.WriteBuffer(piece.Data, static_cast<int64_t>(piece.Size));
        stream.Flush();
    } catch (const std::exception&) {
        // The stream's errors carry no number: take the one the failed call left.
        error = errno != 0 ? errno : EIO;
    }
    const timespec times[2] = {info.st_atim, info.st_mtim};
    if (error == 0 && (::chmod(temp.c_str(), info.st_mode & 07777) != 0 ||
                       ::utimensat(AT_FDCWD, temp.c_str(), times, 0) != 0 ||
                       std::rename(temp.c_str(), target.c_str()) != 0))
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return OsFailure(error, target);
    }
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

TCorrectionResult Failed(TResult reason)
{
    return {TCorrectionOutcome::Failed, std::move(reason)};
}

} // namespace

struct TOrientationCorrector::TImpl
{
    TBitmap32 Src; ///< the decoded photo
    TBitmap32 Dst; ///< the rendered, upright photo
    TBitmap Dst1;  ///< bridge from Dst to the encoder on the picture road
    TCorrectionRoad Road = TCorrectionRoad::Direct;
    TFileBytes In;             ///< the photo's file
    TJpegPixelEncoder Encoder; ///< keeps its output buffer from photo to photo

    TCorrectionResult Correct(const std::string& targetFile, int orientation);
    TStep DecodeDirect(const uint8_t* file, size_t size);
    TStep RunPictures(const std::string& targetFile, int orientation, TMemoryStream& out);
};

// The direct road: the codec decodes into Src's pixels.
TStep TOrientationCorrector::TImpl::DecodeDirect(const uint8_t* file, size_t size)
{
    TJpegPixelDecoder decoder(file, size);
    if (!decoder.Rgb())
        return TStep::Unsupported;
    const uint32_t w = decoder.Width();
    const uint32_t h = decoder.Height();
    if (w > 32767 || h > 32767 || !CanRotatePhoto(static_cast<int>(w), static_cast<int>(h)))
        return TStep::Skip;
    if (uint64_t{w} * h * 4 > kMaxPictureBytes)
        return TStep::TooLarge;
    Src.SetSize(static_cast<int>(w), static_cast<int>(h));
    // Warnings of corrupt data leave the decoded picture as it is, repaired.
    decoder.Decode(Src.Bits());
    return TStep::Done;
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

TCorrectionResult TOrientationCorrector::TImpl::Correct(const std::string& targetFile, int orientation)
{
    struct stat info = {};
    if (::stat(targetFile.c_str(), &info) != 0)
        return Failed(OsFailure(errno, targetFile));
    if (!S_ISREG(info.st_mode))
        return Failed(TResult::Fail(TFailure::Unsupported, targetFile, "not a regular file"));
    if (TResult read = ReadAll(targetFile, In); !read)
        return Failed(std::move(read));
    std::span<const uint8_t> encoded;
    TMemoryStream pictureOut;
    TStep step = TStep::Unsupported;
    if (Road == TCorrectionRoad::Direct && DirectOptions()) {
        step = DecodeDirect(In.Data.get(), In.Size);
        if (step == TStep::Done) {
            // A turn overwrites the angle-0 render completely: one render.
            RenderUpright(Src, Dst, orientation);
            encoded = Encoder.Encode(Dst.Bits(), Dst.Width(), Dst.Height());
        }
    }
    if (step == TStep::Unsupported) {
        step = RunPictures(targetFile, orientation, pictureOut);
        encoded = {pictureOut.Memory(), static_cast<size_t>(pictureOut.Size())};
    }
    if (step == TStep::Skip)
        return {TCorrectionOutcome::Skipped, {}};
    if (step == TStep::TooLarge)
        return Failed(TResult::Fail(TFailure::Unsupported, targetFile, "picture too large"));
    if (encoded.size() < 4)
        return Failed(TResult::Fail(TFailure::Other, targetFile, "the encoder wrote no picture"));

    // The photo's metadata goes along. The turned picture is upright, so
    // its orientation tags must not make viewers turn it again.
    const std::span<const uint8_t> file(In.Data.get(), In.Size);
    TBytes exif;
    if (const std::optional<TJpegSegment> segment = FindExifSegment(file)) {
        const std::span<const uint8_t> bytes = SegmentBytes(file, *segment);
        exif.assign(bytes.begin(), bytes.end());
    }
    float angle = 0;
    if (!exif.empty() && OrientationAngle(orientation, angle))
        SetExifOrientation(exif, 1);
    const size_t at = exif.empty() ? encoded.size() : SegmentPlace(encoded);
    const std::vector<TPiece> pieces = {
        {encoded.data(), at}, {exif.data(), exif.size()}, {encoded.data() + at, encoded.size() - at}};
    if (TResult written = ReplaceFile(targetFile, pieces, info); !written)
        return Failed(std::move(written));
    return {TCorrectionOutcome::Corrected, {}};
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

TCorrectionResult TOrientationCorrector::Correct(const std::string& targetFile, int orientation)
{
    if (orientation <= 1)
        return {TCorrectionOutcome::Skipped, {}};
    try {
        return FImpl->Correct(targetFile, orientation);
    } catch (const EJPEG& e) {
        const TFailure kind = e.Unsupported() ? TFailure::Unsupported : TFailure::Damaged;
        return Failed(
            TResult::Fail(kind, targetFile, e.DecoderMessage().empty() ? e.what() : e.DecoderMessage()));
    } catch (const std::bad_alloc&) {
        return Failed(TResult::Fail(TFailure::Other, targetFile, "out of memory"));
    } catch (const EStreamError& e) {
        return Failed(TResult::Fail(TFailure::Io, targetFile, e.what()));
    } catch (const std::exception& e) {
        return Failed(TResult::Fail(TFailure::Other, targetFile, e.what()));
    }
}

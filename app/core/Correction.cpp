#include "app/core/Correction.h"

#include "app/core/RotatePhoto.h"
#include "base/Classes.h"
#include "jpeg/JpegImage.h"
#include "jpeg/JpegPixels.h"
#include "meta/CarriedMetadata.h"
#include "meta/JpegSegments.h"
#include "platform/FileStream.h"
#include "platform/Platform.h"
#include "raster/Bitmap32.h"
#include "raster/Transform.h"

#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

using TBytes = std::vector<uint8_t>;

// Largest pixel memory of one 32-bit picture (as the runtime bitmap allows).
constexpr uint64_t kMaxPictureBytes = uint64_t{1} << 30;

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
    TooLarge,    ///< more pixels than one picture may hold
    Damaged      ///< the data is cut short or corrupt: the codec made up pixels
};

// An Exif thumbnail is a small picture (160 x 120 pixels as a rule) inside a
// segment of at most 64 KiB; a header that claims more is not one.
constexpr uint32_t kMaxThumbnailSide = 1024;
// The thumbnail is a preview: quality 90 keeps it small enough to share its
// segment with the rest of the camera's data.
constexpr int kThumbnailQuality = 90;

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

TCorrectionResult Failed(TResult reason)
{
    return {TCorrectionOutcome::Failed, std::move(reason)};
}

} // namespace

struct TOrientationCorrector::TImpl
{
    explicit TImpl(TPlatform& platform)
        : Platform(platform)
    {
    }

    TPlatform& Platform;
    TBitmap32 Src; ///< the decoded photo
    TBitmap32 Dst; ///< the rendered, upright photo
    TBitmap Dst1;  ///< bridge from Dst to the encoder on the picture road
    TCorrectionRoad Road = TCorrectionRoad::Direct;
    TFileBytes In;                      ///< the photo's file
    TJpegPixelEncoder Encoder;          ///< keeps its output buffer from photo to photo
    TJpegPixelEncoder ThumbnailEncoder; ///< the Exif thumbnail's, beside the photo's
    std::string Damage;                 ///< the codec's word on damaged data

    TCorrectionResult Correct(const std::string& targetFile, int orientation);
    TStep DecodeDirect(const uint8_t* file, size_t size);
    TStep RunPictures(const std::string& targetFile, int orientation, TMemoryStream& out);
    std::optional<TBytes> TurnThumbnail(std::span<const uint8_t> jpeg, int orientation);
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
    decoder.Decode(Src.Bits());
    // The codec fills in what it could not decode; such a picture must not
    // replace the photo's own bytes.
    if (decoder.Damaged()) {
        Damage = decoder.DamageMessage();
        return TStep::Damaged;
    }
    return TStep::Done;
}

// The correction step by step: load through the picture registry, size,
// clear the ring's alpha, render at angle 0 and then turned, copy into the
// bridge bitmap and encode it with a JPEG picture of quality 100.
TStep TOrientationCorrector::TImpl::RunPictures(const std::string& targetFile, int orientation,
                                                TMemoryStream& out)
{
    // As Src.LoadFromFile, with the picture kept to ask it about damage.
    TPicture picture;
    picture.LoadFromFile(targetFile);
    Src.Assign(picture);
    if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(picture.Graphic());
        jpeg != nullptr && !jpeg->DecodeDamage().empty()) {
        Damage = jpeg->DecodeDamage();
        return TStep::Damaged;
    }
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

// The Exif thumbnail rendered as the photo is, encoded without a JFIF header
// (the Exif segment says what it is); nothing when it cannot be, so that it
// is removed rather than left sideways.
std::optional<TBytes> TOrientationCorrector::TImpl::TurnThumbnail(std::span<const uint8_t> jpeg,
                                                                  int orientation)
{
    try {
        TJpegPixelDecoder decoder(jpeg.data(), jpeg.size());
        const uint32_t w = decoder.Width();
        const uint32_t h = decoder.Height();
        if (!decoder.Rgb() || w > kMaxThumbnailSide || h > kMaxThumbnailSide ||
            !CanRotatePhoto(static_cast<int>(w), static_cast<int>(h)))
            return std::nullopt;
        TBitmap32 src, dst;
        src.SetSize(static_cast<int>(w), static_cast<int>(h));
        decoder.Decode(src.Bits());
        if (decoder.Damaged() || !RenderUpright(src, dst, orientation))
            return std::nullopt;
        const std::span<const uint8_t> encoded =
            ThumbnailEncoder.Encode(dst.Bits(), dst.Width(), dst.Height(), kThumbnailQuality);
        const size_t place = SegmentPlace(encoded);
        TBytes out(encoded.begin(), encoded.begin() + 2);
        out.insert(out.end(), encoded.begin() + static_cast<ptrdiff_t>(place), encoded.end());
        return out;
    } catch (const EJPEG&) {
        return std::nullopt;
    }
}

TCorrectionResult TOrientationCorrector::TImpl::Correct(const std::string& targetFile, int orientation)
{
    if (Platform.DirectoryExists(targetFile))
        return Failed(TResult::Fail(TFailure::Unsupported, targetFile, "not a regular file"));
    if (!Platform.FileExists(targetFile))
        return Failed(TResult::Fail(TFailure::NotFound, targetFile, "no such file"));
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
    if (step == TStep::Damaged)
        return Failed(TResult::Fail(TFailure::Damaged, targetFile, Damage));
    if (encoded.size() < 4)
        return Failed(TResult::Fail(TFailure::Other, targetFile, "the encoder wrote no picture"));

    // The photo's metadata goes along, after the encoder's JFIF header. The
    // turned picture is upright, so its orientation tags must not make
    // viewers turn it again, and its thumbnail is turned with it.
    float angle = 0;
    const bool turned = OrientationAngle(orientation, angle);
    const TBytes metadata = CarriedMetadata(
        std::span<const uint8_t>(In.Data.get(), In.Size), turned,
        [this, orientation](std::span<const uint8_t> jpeg) { return TurnThumbnail(jpeg, orientation); });
    const size_t at = metadata.empty() ? encoded.size() : SegmentPlace(encoded);
    const TDataPiece pieces[] = {
        {encoded.data(), at}, {metadata.data(), metadata.size()}, {encoded.data() + at, encoded.size() - at}};
    if (TResult written = Platform.ReplaceFileContents(targetFile, pieces); !written)
        return Failed(std::move(written));
    return {TCorrectionOutcome::Corrected, {}};
}

TOrientationCorrector::TOrientationCorrector(TPlatform& platform)
    : FImpl(std::make_unique<TImpl>(platform))
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

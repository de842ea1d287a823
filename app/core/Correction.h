#pragma once

#include "base/Result.h"

#include <memory>
#include <string>

class TPlatform;

/// What became of one photo handed to the orientation correction.
enum class TCorrectionOutcome
{
    Corrected, ///< saved again, upright
    Skipped,   ///< left as it is on purpose (nothing to do, or it cannot be turned)
    Failed     ///< could not be corrected; the transferred copy is unchanged
};

/// The outcome of one correction, and why it failed: the kind (Damaged or
/// Unsupported for the photo's data, Io, NoSpace, Access, ... for the file),
/// the decoder's or the operating system's message, and the path. Reason is
/// success unless Outcome is Failed.
struct TCorrectionResult
{
    TCorrectionOutcome Outcome = TCorrectionOutcome::Skipped;
    TResult Reason;
};

/// How the corrector gets from the photo's bytes to the new file's bytes.
/// Both roads give the same bytes.
enum class TCorrectionRoad
{
    Direct,  ///< the codec decodes into and encodes from the 32-bit pixels, one render
    Pictures ///< through TBitmap32::LoadFromFile, both renders and the bridge bitmap
};

/// Turns transferred photos upright. Holds the bitmaps of the last correction
/// (the decoded photo, the rendered one and the bridge to the encoder) for
/// the life of the main window. Files are read and replaced through the
/// platform, which must outlive the corrector.
class TOrientationCorrector
{
public:
    explicit TOrientationCorrector(TPlatform& platform);
    ~TOrientationCorrector();
    TOrientationCorrector(const TOrientationCorrector&) = delete;
    TOrientationCorrector& operator=(const TOrientationCorrector&) = delete;

    /// Renders the photo at targetFile upright for its EXIF orientation
    /// (greater than 1) and saves it back in place: the new file replaces the
    /// old one whole, with its permissions and times, or not at all. The
    /// segments that describe the photo go along (Exif, ICC profile, XMP,
    /// IPTC, comments), their orientation set upright and the Exif thumbnail
    /// turned too. A photo whose data the decoder finds cut short or corrupt
    /// is left as it is and fails as Damaged, with the decoder's message.
    /// Never throws.
    TCorrectionResult Correct(const std::string& targetFile, int orientation);

    /// Direct unless set otherwise; photos the direct road does not cover
    /// (grayscale, four components, other decoder options) take the other.
    void SetRoad(TCorrectionRoad road);

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

#include "jpeg/CodecGlue.h"

#include "jpeg/JpegImage.h"

#include <cstdio>
#include <limits>
#include <utility>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <jerror.h>

static_assert(TCodecErrors::kTextSize >= JMSG_LENGTH_MAX, "room for one codec message");

// The error manager first, so that the codec's err pointer leads back to its owner.
struct TCodecErrors::TManager
{
    jpeg_error_mgr Pub;
    TCodecErrors* Owner;
};

TCodecErrors::TCodecErrors()
    : FManager(std::make_unique<TManager>())
{
    jpeg_error_mgr& err = FManager->Pub;
    jpeg_std_error(&err);
    // The codec's own format_message stays: it fills in the texts kept below.
    err.error_exit = ErrorExit;
    err.emit_message = EmitMessage;
    err.output_message = [](j_common_ptr) {};
    err.trace_level = 0;
    FManager->Owner = this;
}

TCodecErrors::~TCodecErrors() = default;

jpeg_error_mgr* TCodecErrors::Manager()
{
    return &FManager->Pub;
}

TCodecErrors& TCodecErrors::Of(j_common_ptr cinfo)
{
    return *reinterpret_cast<TManager*>(cinfo->err)->Owner;
}

void TCodecErrors::ErrorExit(j_common_ptr cinfo)
{
    TCodecErrors& errors = Of(cinfo);
    errors.FCode = cinfo->err->msg_code;
    (*cinfo->err->format_message)(cinfo, errors.FMessage);
    errors.Leave();
}

// A warning the codec goes on after is damage when pixels of the picture are
// missing or made up: the data ran out (the rest is filled in grey), the scan
// data broke off at a marker or holds codes that do not decode (the rest of
// the block row is guessed), a restart marker is missing, or a progressive
// scan refines coefficients it never started. The other warnings leave every
// pixel as written: bytes between two markers (some cameras pad their
// segments; the scan before them decoded whole, else one of the warnings above
// came first), an unknown JFIF revision or Adobe transform code, scan
// parameters a sequential file ignores, a bad ICC marker (the codec does not
// read the profile here), too many rows given to the encoder. An unknown code
// counts as damage.
bool TCodecErrors::IsDamageWarning(int code)
{
    switch (code) {
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_ICC:
    case JWRN_TOO_MUCH_DATA:
        return false;
    default:
        return true;
    }
}

// Traces are dropped. Warnings (corrupt data the codec can go on with, a file
// cut short) do not stop decoding; they are counted and the first one's text
// kept, so that a caller can tell a clean decode from a repaired one, and
// damage from a harmless oddity. The codec's own warning count is left alone.
void TCodecErrors::EmitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    TCodecErrors& errors = Of(cinfo);
    if (errors.FWarnings == 0)
        (*cinfo->err->format_message)(cinfo, errors.FFirstWarning);
    if (errors.FWarnings < std::numeric_limits<int>::max())
        ++errors.FWarnings;
    if (!IsDamageWarning(cinfo->err->msg_code))
        return;
    if (errors.FDamage == 0)
        (*cinfo->err->format_message)(cinfo, errors.FFirstDamage);
    if (errors.FDamage < std::numeric_limits<int>::max())
        ++errors.FDamage;
}

bool TCodecErrors::Protected(void (*step)(void*), void* arg)
{
    if (setjmp(FJump) != 0)
        return false;
    step(arg);
    return true;
}

void TCodecErrors::Leave()
{
    std::longjmp(FJump, 1);
}

void TCodecErrors::Raise()
{
    if (FPending)
        std::rethrow_exception(std::exchange(FPending, nullptr));
    throw EJPEG(FCode, FMessage);
}

// ---- source over bytes in memory ----

namespace {

void SourceInit(j_decompress_ptr) {}

boolean SourceFill(j_decompress_ptr cinfo)
{
    static const JOCTET eoi[2] = {0xFF, JPEG_EOI};
    WARNMS(cinfo, JWRN_JPEG_EOF);
    cinfo->src->next_input_byte = eoi;
    cinfo->src->bytes_in_buffer = 2;
    return TRUE;
}

void SourceSkip(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    auto left = static_cast<unsigned long>(count);
    while (left > cinfo->src->bytes_in_buffer) {
        left -= static_cast<unsigned long>(cinfo->src->bytes_in_buffer);
        SourceFill(cinfo);
    }
    cinfo->src->next_input_byte += left;
    cinfo->src->bytes_in_buffer -= left;
}

void SourceTerm(j_decompress_ptr) {}

} // namespace

void UseMemorySource(jpeg_decompress_struct& cinfo, jpeg_source_mgr& source, const uint8_t* data, size_t size)
{
    source.init_source = SourceInit;
    source.fill_input_buffer = SourceFill;
    source.skip_input_data = SourceSkip;
    source.resync_to_restart = jpeg_resync_to_restart;
    source.term_source = SourceTerm;
    source.next_input_byte = data;
    source.bytes_in_buffer = data != nullptr ? size : 0;
    cinfo.src = &source;
}

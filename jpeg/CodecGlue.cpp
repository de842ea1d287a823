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

// Traces are dropped. Warnings (corrupt data the codec can go on with, a file
// cut short) do not stop decoding; they are counted and the first one's text
// kept, so that a caller can tell a clean decode from a repaired one. The
// codec's own warning count is left alone.
void TCodecErrors::EmitMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return;
    TCodecErrors& errors = Of(cinfo);
    if (errors.FWarnings == 0)
        (*cinfo->err->format_message)(cinfo, errors.FFirstWarning);
    if (errors.FWarnings < std::numeric_limits<int>::max())
        ++errors.FWarnings;
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

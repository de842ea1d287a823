// Feeds arbitrary bytes to the EXIF reader as if they were a JPEG file. The
// reader may return either result or raise one of its own exceptions; it must
// never crash, hang or touch memory outside its buffers.
#include "base/Classes.h"
#include "base/StringList.h"
#include "base/SysUtils.h"
#include "meta/phJpegInfo.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto memory = std::make_unique<TMemoryStream>();
    memory->Write(data, static_cast<int64_t>(size));
    memory->Seek(0, TSeekOrigin::soBeginning);
    TStringList plain;
    TStringList sorted;
    sorted.SetSorted(true);
    try {
        TphExifStream stream(std::move(memory));
        ReadExifInfo(stream, plain);
    } catch (const Exception&) {
        // "Out of bounds" from the JPEG and TIFF headers is a legitimate outcome.
    }
    // The same bytes into the sorted list the transfer run uses.
    auto again = std::make_unique<TMemoryStream>();
    again->Write(data, static_cast<int64_t>(size));
    again->Seek(0, TSeekOrigin::soBeginning);
    try {
        TphExifStream stream(std::move(again));
        ReadExifInfo(stream, sorted);
    } catch (const Exception&) {
    }
    if (sorted.Count() > plain.Count())
        __builtin_trap();
    return 0;
}

// Loads arbitrary bytes as a JPEG file through TJPEGImage and decodes them.
// The last byte also picks the decoding options, so the palette, grayscale,
// scaled and multi-pass paths are all reached.
#include "base/Classes.h"
#include "graphics/Graphics.h"
#include "jpeg/JpegImage.h"

#include <cstddef>
#include <cstdint>
#include <exception>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TMemoryStream stream;
    stream.Write(data, static_cast<int64_t>(size));
    stream.SetPosition(0);
    const uint8_t flags = size > 0 ? data[size - 1] : 0;
    try {
        TJPEGImage jpeg;
        jpeg.LoadFromStream(stream);
        // Decoding huge pictures only measures the machine's memory.
        if (static_cast<int64_t>(jpeg.Width()) * jpeg.Height() > 2'000'000)
            return 0;
        jpeg.SetPaletteOutput((flags & 1) != 0);
        jpeg.SetMonochrome((flags & 2) != 0);
        jpeg.SetIncrementalDecode((flags & 4) != 0);
        jpeg.SetFastDecode((flags & 8) != 0);
        jpeg.SetBlockSmoothing((flags & 16) == 0);
        jpeg.SetDecodeScale(static_cast<uint8_t>((flags >> 5) & 3));
        const int width = jpeg.Width();
        const int height = jpeg.Height();
        const TBitmap& bitmap = jpeg.DecodedBitmap();
        // Every row must be readable and of the announced size.
        volatile unsigned sum = 0;
        for (int y = 0; y < bitmap.Height(); ++y)
            sum = sum + bitmap.ScanLine(y)[bitmap.Stride() - 1];
        if (bitmap.Width() != width || bitmap.Height() != height)
            __builtin_trap();
    } catch (const std::exception&) {
        // Rejected input: EJPEG, EReadError, EOutOfResources.
    }
    return 0;
}

#pragma once
// What the correction's tests share: the platform over real files, photos
// encoded from a smooth pattern, a photo file in its day folder, and the
// comparison of two pictures.

#include "jpeg/JpegImage.h"
#include "platform/Platform.h"
#include "raster/Bitmap32.h"
#include "tests/support/TempDir.h"

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using TBytes = std::string;

/// The operating system's platform: the corrector reads and replaces real files.
inline TPlatform& OsPlatform()
{
    static const std::unique_ptr<TPlatform> platform = CreatePlatform();
    return *platform;
}

/// A JPEG file (with the encoder's JFIF header) of a smooth pattern that seed shifts.
inline TBytes EncodePattern(int w, int h, int quality = 92, bool progressive = false, bool gray = false,
                            int seed = 0)
{
    TBitmap bmp(w, h, TPixelFormat::pf24bit);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = bmp.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<uint8_t>(40 + (x * 150) / w + seed);
            row[3 * x + 1] = static_cast<uint8_t>(30 + (y * 180) / h);
            row[3 * x + 2] = static_cast<uint8_t>(128 + 100 * std::sin((x + 2 * y + seed) / 9.0));
        }
    }
    TJPEGImage jpeg;
    jpeg.SetQuality(static_cast<uint8_t>(quality));
    jpeg.SetProgressiveSave(progressive);
    jpeg.SetMonochrome(gray);
    jpeg.Assign(&bmp);
    TMemoryStream data;
    jpeg.SaveToStream(data);
    return TBytes(reinterpret_cast<const char*>(data.Memory()), static_cast<size_t>(data.Size()));
}

/// A photo as the camera writes it: start marker, Exif segment, then the rest
/// of a JPEG file encoded from a smooth pattern.
inline TBytes MakePhoto(int w, int h, const TBytes& exif, bool progressive = false, bool gray = false)
{
    const TBytes bytes = EncodePattern(w, h, 92, progressive, gray);
    return bytes.substr(0, 2) + exif + bytes.substr(2);
}

/// A photo file in its day folder, with the camera's modification time.
struct TPhotoFile
{
    TTempDir Dir;
    std::string Path = Dir / "20050714/IMG_0042.JPG";
    explicit TPhotoFile(const TBytes& bytes)
    {
        WriteFile(Path, bytes);
        SetModifiedTime(Path, 2005, 7, 14, 10);
    }
    std::filesystem::file_time_type MTime() const { return std::filesystem::last_write_time(FsPath(Path)); }
    bool OnlyThePhotoInItsFolder() const
    {
        return ListTree(Dir.Path()) == std::vector<std::string>{"20050714/IMG_0042.JPG"};
    }
};

/// Peak signal-to-noise ratio of the colour bytes of two bitmaps of one size.
inline double Psnr(const TBitmap32& a, const TBitmap32& b)
{
    double sum = 0;
    const size_t n = static_cast<size_t>(a.Width()) * static_cast<size_t>(a.Height());
    for (size_t i = 0; i < n; ++i)
        for (int s = 0; s < 24; s += 8) {
            const double d = double((a.Bits()[i] >> s) & 0xFF) - double((b.Bits()[i] >> s) & 0xFF);
            sum += d * d;
        }
    const double mse = sum / (3.0 * static_cast<double>(n));
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

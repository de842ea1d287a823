#pragma once

// The codec straight between a JPEG file in memory and 32-bit pixels (blue,
// green, red and a fourth byte, rows one after another without padding: the
// layout of TBitmap32). The settings are those of a TJPEGImage with the
// default options (floating-point DCT both ways, block smoothing, quality 100
// baseline), so pixels and files come out as the picture class makes them
// from a 24 or 32-bit bitmap. Errors raise EJPEG.

#include "jpeg/JpegImage.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

/// Decodes one JPEG file into 32-bit pixels: first the header, then, once the
/// caller has made room for Width() x Height() pixels, all rows.
class TJpegPixelDecoder
{
public:
    /// Reads the header of the size bytes at data, which are not copied and
    /// must outlive the decoder. Raises EJPEG when they hold no JPEG header.
    TJpegPixelDecoder(const uint8_t* data, size_t size);
    ~TJpegPixelDecoder();
    TJpegPixelDecoder(const TJpegPixelDecoder&) = delete;
    TJpegPixelDecoder& operator=(const TJpegPixelDecoder&) = delete;

    uint32_t Width() const;
    uint32_t Height() const;
    /// The file holds three components that decode to red, green and blue:
    /// the only kind Decode takes (not grayscale, not CMYK or YCCK).
    bool Rgb() const;

    /// Decodes every row into pixels (Width() x Height() pixels, row after
    /// row): blue, green, red, 255. May be called once. Raises EJPEG when the
    /// data cannot be decoded, or when the file is not Rgb(). Corrupt data
    /// the codec can go on with (a file cut short included) is decoded as far
    /// as it goes, and counted as warnings (see Damaged).
    void Decode(uint32_t* pixels);

    /// Warnings so far: corrupt data the codec went on with.
    int WarningCount() const;
    /// The codec's text of the first warning (English); empty without one.
    std::string FirstWarning() const;
    /// Whether a warning so far says the picture's data is damaged (cut
    /// short, scan data that does not decode): some pixels are made up.
    /// Harmless oddities such as padding between segments do not count.
    bool Damaged() const;
    /// The codec's text of the first warning of damage; empty without one.
    std::string DamageMessage() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

/// Encodes 32-bit pixels (blue, green, red; the fourth byte is not used) as a
/// baseline JFIF file, of quality 100 unless told otherwise. Keeps its output
/// buffer from one picture to the next, so a run of photos of one size
/// allocates it once.
class TJpegPixelEncoder
{
public:
    TJpegPixelEncoder();
    ~TJpegPixelEncoder();
    TJpegPixelEncoder(const TJpegPixelEncoder&) = delete;
    TJpegPixelEncoder& operator=(const TJpegPixelEncoder&) = delete;

    /// Encodes width x height pixels (row after row) at quality (1..100).
    /// The file's bytes stay valid until the next Encode or the end of the
    /// encoder. Raises EJPEG (an empty picture among others).
    std::span<const uint8_t> Encode(const uint32_t* pixels, int width, int height, int quality = 100);

private:
    std::unique_ptr<uint8_t[]> FBuffer;
    size_t FCapacity = 0;
};

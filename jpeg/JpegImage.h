#pragma once

// TJPEGImage: the picture class for JPEG files. It keeps the file as its
// compressed bytes and decodes them into a TBitmap only when pixels are asked
// for; it encodes an assigned bitmap only when bytes are asked for.

#include "base/Classes.h"
#include "graphics/Graphics.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

/// A JPEG error the codec cannot go on with. Its text is "JPEG-Fehler #%d"
/// with the codec's message code; the codec's own message travels beside it.
class EJPEG : public EInvalidGraphic
{
public:
    EJPEG(int code, std::string decoderMessage);

    /// The codec's message code.
    int Code() const { return FCode; }
    /// The codec's text for the error, parameters filled in (English, for a
    /// log), e.g. "Not a JPEG file: starts with 0x89 0x50".
    const std::string& DecoderMessage() const { return FDecoderMessage; }
    /// The file asks for something the codec does not do (a colour
    /// conversion, a sample precision, a picture beyond its size limits)
    /// rather than being damaged.
    bool Unsupported() const;

private:
    int FCode;
    std::string FDecoderMessage;
};

/// The options of a TJPEGImage; DefaultOptions holds the values new pictures start with.
struct TJPEGDefaults
{
    uint8_t Quality = 90;           ///< encoder quality, clamped to 1..100 by the codec
    bool BlockSmoothing = true;     ///< inter-block smoothing in early progressive scans
    bool Monochrome = false;        ///< decode to grayscale; encode a grayscale file
    bool PaletteOutput = false;     ///< decode to an 8-bit bitmap of at most 236 colours
    bool IncrementalDecode = false; ///< decode a progressive file in several output passes
    bool ProgressiveSave = false;   ///< encode a progressive file
    bool FastDecode = false;        ///< fast integer IDCT, ordered dither, one-pass quantization
    uint8_t DecodeScale = 0;        ///< output scaled by 1/2^n, n in 0..3
};

/// Process-wide defaults; written only at start-up (the front end may set
/// PaletteOutput from the screen depth).
extern TJPEGDefaults DefaultOptions;

/// The compressed file and its header facts, shared between pictures that
/// were assigned from one another.
struct TJPEGData
{
    std::unique_ptr<TMemoryStream> FData; ///< the whole file; null until loaded or encoded
    int32_t FHeight = 0;
    int32_t FWidth = 0;
    bool FGrayscale = false;
};

/// The JPEG picture.
class TJPEGImage : public TGraphic
{
public:
    TJPEGImage();
    ~TJPEGImage() override;

    // Options (copied from DefaultOptions at construction).
    uint8_t Quality() const { return FOptions.Quality; }
    void SetQuality(uint8_t value) { FOptions.Quality = value; }
    bool BlockSmoothing() const { return FOptions.BlockSmoothing; }
    void SetBlockSmoothing(bool value);
    bool Monochrome() const { return FOptions.Monochrome; }
    void SetMonochrome(bool value);
    bool PaletteOutput() const { return FOptions.PaletteOutput; }
    void SetPaletteOutput(bool value);
    bool IncrementalDecode() const { return FOptions.IncrementalDecode; }
    void SetIncrementalDecode(bool value) { FOptions.IncrementalDecode = value; }
    bool ProgressiveSave() const { return FOptions.ProgressiveSave; }
    void SetProgressiveSave(bool value) { FOptions.ProgressiveSave = value; }
    bool FastDecode() const { return FOptions.FastDecode; }
    void SetFastDecode(bool value);
    uint8_t DecodeScale() const { return FOptions.DecodeScale; }
    /// 0..3; larger values are taken as 3.
    void SetDecodeScale(uint8_t value);

    /// The file holds one grayscale component (or was encoded as grayscale).
    bool Grayscale() const { return FImage->FGrayscale; }

    /// Drops the compressed bytes and reads exactly n bytes from stream as the
    /// new file, parsing its header (EReadError on a short read, EJPEG on an
    /// invalid header). Drops the decoded bitmap.
    void ReadCompressed(int64_t n, TStream& stream);
    /// A 32-bit little-endian byte count, then ReadCompressed of that many bytes.
    void ReadFormData(TStream& stream);
    /// A 32-bit little-endian byte count (0 without compressed bytes), then the bytes.
    void WriteFormData(TStream& stream);

    /// The decoded picture; decoded on first use, kept until the picture changes.
    const TBitmap& DecodedBitmap() const;
    /// The codec's text of the first warning of damaged data (the file cut
    /// short, scan data that does not decode) met when the decoded picture
    /// was made; empty when it decoded whole or nothing was decoded yet. A
    /// damaged file still decodes, its missing pixels made up by the codec.
    const std::string& DecodeDamage() const { return FDecodeDamage; }
    /// Encodes the held bitmap into new compressed bytes.
    void Encode();
    /// Encodes unless compressed bytes exist.
    void EnsureEncoded();
    /// The compressed bytes, or null when there are none.
    const TMemoryStream* CompressedData() const { return FImage->FData.get(); }

    /// The decoded bitmap's palette, else the working palette.
    const TPalette& Palette() const;
    /// Sets the working palette the 8-bit path maps onto; drops a decoded
    /// bitmap that has another palette.
    void SetPalette(const TPalette& palette);

    // TGraphic
    int Width() const override;
    int Height() const override;
    /// Raises EInvalidGraphicOperation "Die Größe einer JPEG-Grafik kann nicht verändert werden".
    void SetWidth(int value) override;
    void SetHeight(int value) override;
    bool Empty() const override;
    void Draw(TCanvas& canvas, const TRect& rect) const override;
    /// Reads the rest of the stream as the compressed file.
    void LoadFromStream(TStream& stream) override;
    /// Encodes when needed, then writes all compressed bytes (EWriteError when
    /// the stream takes fewer).
    void SaveToStream(TStream& stream) override;
    void Assign(const TGraphic* source) override;
    void AssignTo(TGraphic& dest) const override;
    /// Another TJPEGImage only: byte-wise equal compressed files, or, when one
    /// has none, the same shared data.
    bool Equals(TGraphic& other) override;
    std::string ClassName() const override { return "TJPEGImage"; }

private:
    friend struct TJPEGCodec;

    void ResetCompressed();
    /// Drops the decoded bitmap when it can be decoded again from compressed bytes.
    void DropDecodedBitmap();
    void ReportProgress(TProgressStage stage, uint8_t percent, bool redraw, const TRect& rect) const;

    std::shared_ptr<TJPEGData> FImage;
    // Decoding runs on first use, from const accessors too: it fills the
    // bitmap and, without palette output, drops the working palette.
    mutable std::unique_ptr<TBitmap> FBitmap;
    mutable std::string FDecodeDamage; ///< of the decode that made FBitmap
    mutable TPalette FWorkingPalette;
    TJPEGDefaults FOptions;
};

/// Adds the registry entries "jpeg" and "jpg" for TJPEGImage; calling it again
/// does nothing more.
void RegisterJpegFormats();

/// Millisecond tick source of the progress reports (a monotonic clock unless
/// replaced, e.g. by tests).
extern std::function<uint64_t()> JpegTickCount;

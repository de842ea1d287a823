#pragma once

// The small picture runtime the JPEG adapter and the 32-bit bitmap stand on:
// rectangles, the abstract picture TGraphic, the runtime bitmap TBitmap, a
// drawing target TCanvas over a caller-owned 32-bit buffer, and TPicture with
// its process-wide registry of picture classes by file extension.

#include "base/Classes.h"
#include "base/SysUtils.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

/// Integer rectangle; Right and Bottom are exclusive.
struct TRect
{
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};

inline TRect Rect(int left, int top, int right, int bottom)
{
    return TRect{left, top, right, bottom};
}

/// A picture that cannot be loaded, or an unknown picture file extension.
class EInvalidGraphic : public Exception
{
public:
    using Exception::Exception;
};

/// An operation the picture class does not allow (for instance resizing a JPEG picture).
class EInvalidGraphicOperation : public Exception
{
public:
    using Exception::Exception;
};

enum class TPixelFormat
{
    pf8bit,  ///< one palette index per pixel
    pf24bit, ///< blue, green, red
    pf32bit  ///< blue, green, red, alpha (or reserved)
};

/// One palette entry, in memory order.
struct TRGBQuad
{
    uint8_t Blue = 0;
    uint8_t Green = 0;
    uint8_t Red = 0;
    uint8_t Reserved = 0;
    bool operator==(const TRGBQuad&) const = default;
};

/// A colour palette of at most 256 entries.
using TPalette = std::vector<TRGBQuad>;

/// Colour as 0x00BBGGRR (red in the lowest byte).
using TColor = uint32_t;

enum class TProgressStage
{
    psStarting,
    psRunning,
    psEnding
};

class TGraphic;
class TBitmap;

/// Change notification of a picture. The sender is read-only: a picture may
/// notify from inside a const operation (a JPEG picture decodes on first use).
using TGraphicNotify = std::function<void(const TGraphic& sender)>;
/// Progress report: stage, percent done, redraw-now flag, the rectangle of new
/// rows, a message. A handler may throw EAbort to stop the operation.
using TProgressEvent = std::function<void(const TGraphic& sender, TProgressStage stage, uint8_t percentDone,
                                          bool redrawNow, const TRect& rect, const std::string& msg)>;

/// Drawing target over a 32-bit blue-green-red-alpha buffer owned by the
/// caller (top-down rows, `stride` bytes apart). Drawing is clipped to the
/// buffer.
class TCanvas
{
public:
    TCanvas(uint8_t* bits, int width, int height, int stride);

    /// Copies an 8, 24 or 32-bit bitmap into rect, scaling by nearest neighbour
    /// when sizes differ. The fourth byte becomes the source's fourth byte for a
    /// 32-bit source and 255 otherwise.
    void StretchDraw(const TRect& rect, const TBitmap& bitmap);
    /// Lets the graphic draw itself into rect.
    void StretchDraw(const TRect& rect, const TGraphic& graphic);
    /// Lets the graphic draw itself at its own size with its top-left corner at (x, y).
    void Draw(int x, int y, const TGraphic& graphic);

    uint8_t* Bits() const { return FBits; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    int Stride() const { return FStride; }

private:
    uint8_t* FBits;
    int FWidth;
    int FHeight;
    int FStride;
};

/// The abstract picture. Loads and saves through streams; files are opened
/// for reading with other writers excluded, or created (emptied), and closed
/// on every path.
class TGraphic
{
public:
    TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;
    virtual ~TGraphic() = default;

    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int value) = 0;
    virtual void SetHeight(int value) = 0;
    virtual bool Empty() const = 0;
    /// Draws the picture into rect of the canvas (scaled to it).
    virtual void Draw(TCanvas& canvas, const TRect& rect) const = 0;

    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream) = 0;
    /// Opens the file for reading (others may not write) and calls LoadFromStream.
    /// Raises EFOpenError when it cannot be opened.
    virtual void LoadFromFile(const std::string& fileName);
    /// Creates or empties the file and calls SaveToStream. Raises EFCreateError,
    /// or EWriteError when not all bytes could be written.
    virtual void SaveToFile(const std::string& fileName);

    /// Takes over the contents of source. The default asks source to copy
    /// itself into this picture and raises EConvertError
    /// "%s kann nicht zu  %s zugewiesen werden" when it cannot (source may be null).
    virtual void Assign(const TGraphic* source);
    /// Copies this picture into dest; the default raises the assignment error.
    virtual void AssignTo(TGraphic& dest) const;

    /// Equality of content; the default compares the saved bytes of two
    /// pictures of the same class.
    virtual bool Equals(TGraphic& other);

    /// Class name used in messages ("TBitmap", "TJPEGImage").
    virtual std::string ClassName() const = 0;

    TGraphicNotify OnChange;
    TProgressEvent OnProgress;

protected:
    /// Raises the change notification.
    virtual void Changed() const;
    void Progress(TProgressStage stage, uint8_t percentDone, bool redrawNow, const TRect& rect,
                  const std::string& msg) const;
    /// Raises the assignment error naming source (or "nil") and this class.
    [[noreturn]] void AssignError(const TGraphic* source) const;
};

/// The runtime bitmap: pixels in one buffer with top-down rows, each row
/// padded to a multiple of 4 bytes. 24-bit pixels are blue, green, red;
/// 32-bit pixels blue, green, red, alpha; 8-bit pixels index Palette().
/// Row y + 1 lies Stride() bytes after row y. Assigning a bitmap shares its
/// pixels until either side writes; pointers from ScanLine/Bits stay valid
/// until the next SetSize, SetPixelFormat, Assign or load.
class TBitmap : public TGraphic
{
public:
    TBitmap() = default;
    TBitmap(int width, int height, TPixelFormat format);

    int Width() const override { return FWidth; }
    int Height() const override { return FHeight; }
    void SetWidth(int value) override { SetSize(value, FHeight); }
    void SetHeight(int value) override { SetSize(FWidth, value); }
    /// Resizes; a negative size counts as 0. Pixels after a size change are
    /// zero. Raises EOutOfResources when the pixel memory would be too large.
    void SetSize(int width, int height);
    bool Empty() const override { return FWidth == 0 || FHeight == 0; }

    TPixelFormat PixelFormat() const { return FPixelFormat; }
    /// Changes the pixel format and converts the pixels: 8 to 24/32 through the
    /// palette, 24 to 32 with alpha 255, 32 to 24 dropping alpha, 24/32 to 8
    /// onto the nearest entry of the palette (a default colour cube when it has none).
    void SetPixelFormat(TPixelFormat value);
    static int BitsPerPixel(TPixelFormat format);

    /// Row y (0 = top); y must lie within 0..Height()-1.
    uint8_t* ScanLine(int y);
    const uint8_t* ScanLine(int y) const;
    /// Bytes per row (padded to 4).
    int Stride() const { return FStride; }
    /// All pixel memory (Height() * Stride() bytes), null when empty.
    uint8_t* Bits();
    const uint8_t* Bits() const;

    const TPalette& Palette() const { return FPalette; }
    /// Sets the palette (cut to 256 entries).
    void SetPalette(TPalette palette);

    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value) { FTransparent = value; }
    TColor TransparentColor() const { return FTransparentColor; }
    void SetTransparentColor(TColor value) { FTransparentColor = value; }

    void Draw(TCanvas& canvas, const TRect& rect) const override;
    /// Reads an uncompressed Windows bitmap file of 8, 24 or 32 bits per pixel.
    void LoadFromStream(TStream& stream) override;
    /// Writes an uncompressed Windows bitmap file.
    void SaveToStream(TStream& stream) override;
    /// From another TBitmap: a copy of its pixels, format, palette and
    /// transparency; null empties this bitmap; other pictures copy themselves.
    void Assign(const TGraphic* source) override;
    void AssignTo(TGraphic& dest) const override;
    std::string ClassName() const override { return "TBitmap"; }

private:
    /// Pixel memory, shared by bitmaps assigned from one another until one of
    /// them asks for writable pixels (ScanLine, Bits), which then copies it.
    struct TPixelBuffer;
    uint8_t* WritableBits();

    int FWidth = 0;
    int FHeight = 0;
    int FStride = 0;
    TPixelFormat FPixelFormat = TPixelFormat::pf24bit;
    std::shared_ptr<TPixelBuffer> FPixels;
    TPalette FPalette;
    bool FTransparent = false;
    TColor FTransparentColor = 0;
};

/// Creates a new, empty picture of one class.
using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

/// One entry of the picture-format registry.
struct TFileFormat
{
    std::string Extension; ///< lower case, without dot
    std::string Description;
    std::string ClassName;
    TGraphicFactory Factory;
};

/// Holds one picture of any registered class and loads files by extension.
///
/// The registry starts with the runtime's entries "wmf", "emf", "ico" (picture
/// classes this program does not have: using them raises EInvalidGraphic) and
/// "bmp" (TBitmap); picture units append their own entries.
class TPicture
{
public:
    TPicture();
    ~TPicture();
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    /// Picks the class by the file name's extension, lets a new picture of it
    /// load the file and, on success, replaces the held picture. On any error
    /// the previous picture stays. Unknown extension: EInvalidGraphic
    /// "Unbekannte Bilddateierweiterung (.%s)".
    void LoadFromFile(const std::string& fileName);
    /// Saves the held picture (nothing held: nothing written).
    void SaveToFile(const std::string& fileName);

    /// The held picture, or null.
    TGraphic* Graphic() const { return FGraphic.get(); }
    /// Replaces the held picture by a copy of graphic (null empties it).
    void SetGraphic(const TGraphic* graphic);
    /// The held picture as a TBitmap; when it holds another class (or nothing)
    /// that is replaced by a new empty TBitmap.
    TBitmap& Bitmap();
    int Width() const { return FGraphic ? FGraphic->Width() : 0; }
    int Height() const { return FGraphic ? FGraphic->Height() : 0; }

    std::function<void(TPicture& sender)> OnChange;
    TProgressEvent OnProgress;

    /// Appends an entry; the extension is stored lower-cased.
    static void RegisterFormat(const std::string& extension, const std::string& description,
                               const std::string& className, TGraphicFactory factory);
    /// Removes every entry of the class.
    static void UnregisterGraphicClass(const std::string& className);
    /// Searches the registry from the last entry to the first for the
    /// lower-cased extension (without dot); null when none matches.
    static const TFileFormat* FindByExtension(const std::string& extension);
    /// A copy of the registry in list order.
    static std::vector<TFileFormat> Formats();

private:
    void Changed();
    void Hook(TGraphic& graphic);

    std::unique_ptr<TGraphic> FGraphic;
};

/// Lower-cases the ASCII letters of s (other bytes stay as they are).
std::string LowerCaseExt(const std::string& s);
/// The extension of a file name without its dot: the part after the last "."
/// of the name (not of a folder); empty when the name has none.
std::string ExtractExtension(const std::string& fileName);

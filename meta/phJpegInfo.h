#pragma once

#include "base/StringList.h"
#include "meta/phFileStream.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

/// Directory kinds: which table names a directory's entries.
constexpr uint8_t kIfdMain = 0;    ///< IFD0 and its chain (IFD1, ...)
constexpr uint8_t kIfdExif = 1;    ///< the Exif directory (tag 0x8769)
constexpr uint8_t kIfdGps = 2;     ///< the GPS directory (tag 0x8825)
constexpr uint8_t kIfdInterop = 3; ///< the Interoperability directory (tag 0xA005)

/// Limits of one ReadExifInfo call. A directory that reaches one of them
/// fails like any other broken directory. Real photos stay far below them:
/// they nest a handful of directories and give a few hundred lines.
constexpr size_t kMaxIfdNesting = 32;            ///< directories being read at once
constexpr uint32_t kMaxExifWork = 1u << 20;      ///< directories + entries + value components
constexpr size_t kMaxExifText = size_t{4} << 20; ///< bytes of all lines together

/// The file stream of one EXIF read: knows where the TIFF header lies and
/// walks the image file directories below it.
class TphExifStream : public TphFileStream
{
public:
    using TphFileStream::TphFileStream;

    /// Refuses, with Exception("Exif section out of bounds"), any position more
    /// than 65535 bytes past the TIFF header once that header has been found.
    void SetPosition(int32_t value) override;

    /// Reads the directory at offset (counted from the TIFF header), what its
    /// pointer entries lead to and what is chained after it, appending one
    /// line per entry to list. False when the directory or its chain fails;
    /// never raises.
    bool ReadIFD(uint32_t offset, uint8_t kind, TStringList& list);

    uint32_t TiffOffset() const { return FTiffOffset; }
    void SetTiffOffset(uint32_t value) { FTiffOffset = value; }

protected:
    uint32_t FTiffOffset = 0;

private:
    class TActiveIfd;

    /// Position := FTiffOffset + offset, computed without wrapping.
    void SetTiffPosition(uint32_t offset);
    /// The value text of one entry; false for an unsupported type.
    bool ReadValue(int32_t entry, uint16_t type, uint32_t count, uint32_t field, std::string& value);
    void Spend(uint32_t units);
    void AddLine(TStringList& list, const std::string& line);

    std::vector<uint32_t> FActive;
    uint32_t FWorkLeft = kMaxExifWork;
    size_t FTextLeft = kMaxExifText;
};

/// Appends the Name=Value lines of the EXIF data of the JPEG file fileName to
/// list (only Add is called). True when the main directory chain was read
/// through. Raises EFOpenError when the file cannot be opened, and
/// Exception("Out of bounds") when the JPEG or TIFF header runs past the end.
bool ReadExifInfo(const std::string& fileName, TStringList& list);
/// The same over a stream that is already open (positioned at its start).
bool ReadExifInfo(TphExifStream& stream, TStringList& list);

/// The entry's name from the table of its directory kind, else "Tag XXXX".
std::string TagName(uint8_t kind, uint16_t tag);
/// s without its characters below 0x20.
std::string CleanString(const std::string& s);

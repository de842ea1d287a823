#include "app/core/PhotoRules.h"

#include <cstdio>
#include <vector>

namespace {

bool SameText(const std::string& a, const std::string& b)
{
    return TStringList::CompareText(a, b) == 0;
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

/// Entries that the correction may change or drop in the copy it saves: the
/// orientation, and those that describe how a picture is stored, which the
/// thumbnail's directory carries (a thumbnail may be turned or left out).
bool MayChangeWhenTurned(const std::string& line)
{
    static const char* const kNames[] = {"Orientation",           "ImageWidth",
                                         "ImageLength",           "BitsPerSample",
                                         "Compression",           "PhotometricInterpretation",
                                         "StripOffsets",          "SamplesPerPixel",
                                         "RowsPerStrip",          "StripByteCounts",
                                         "XResolution",           "YResolution",
                                         "PlanarConfiguration",   "ResolutionUnit",
                                         "JPEGInterchangeFormat", "JPEGInterchangeFormatLength",
                                         "YCbCrCoefficients",     "YCbCrSubSampling",
                                         "YCbCrPositioning",      "ReferenceBlackWhite"};
    const std::string name = line.substr(0, line.find('='));
    for (const char* known : kNames) {
        if (SameText(name, known))
            return true;
    }
    return false;
}

/// The lines of a sorted metadata list that say which photo it is.
std::vector<std::string> IdentifyingLines(const TStringList& list)
{
    std::vector<std::string> lines;
    for (const std::string& line : list.Items()) {
        if (!MayChangeWhenTurned(line))
            lines.push_back(line);
    }
    return lines;
}

} // namespace

bool FindLine(const TStringList& list, const std::string& name, std::string& value)
{
    for (const std::string& line : list.Items()) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos && SameText(line.substr(0, eq), name)) {
            value = line.substr(eq + 1);
            return true;
        }
    }
    return false;
}

TPhotoFacts PhotoFacts(const TStringList& metaList)
{
    TPhotoFacts facts;
    std::string value;
    if (FindLine(metaList, "Orientation", value)) {
        facts.HasOrientation = true;
        facts.Orientation = OrientationFromValue(value);
    }
    if (FindLine(metaList, "DateTimeOriginal", value))
        facts.Day = DayFolderFromExifDate(value);
    return facts;
}

bool IsTurnedOrientation(int orientation)
{
    return orientation == 3 || orientation == 6 || orientation == 8;
}

bool TurnDue(int orientation, bool turning)
{
    return orientation > 1 && turning;
}

std::string DayFolderFromDate(const TLocalDate& date)
{
    if (date.Year < 1 || date.Year > 9999 || date.Month < 1 || date.Month > 12 || date.Day < 1 ||
        date.Day > DaysInMonth(date.Year, date.Month))
        return {};
    char text[48];
    std::snprintf(text, sizeof text, "%04d%02d%02d", date.Year, date.Month, date.Day);
    return text;
}

std::string DayFolderFromExifDate(const std::string& value)
{
    // The date is the first ten characters, "YYYY:MM:DD", with the colons removed.
    if (value.size() < 10)
        return {};
    std::string digits;
    for (size_t i = 0; i < 10; ++i) {
        if (value[i] != ':')
            digits += value[i];
    }
    if (digits.size() != 8)
        return {};
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return {};
    }
    const auto number = [&](size_t at, size_t n) { return std::stoi(digits.substr(at, n)); };
    return DayFolderFromDate(TLocalDate{number(0, 4), number(4, 2), number(6, 2)});
}

int OrientationFromValue(const std::string& value)
{
    return value.size() == 1 && value[0] >= '0' && value[0] <= '9' ? value[0] - '0' : 0;
}

std::string AlternativeName(const std::string& name, int index)
{
    if (index <= 0)
        return name;
    // Appended rather than "_" + ...: GCC 12 warns falsely (-Wrestrict) about that form at -O3.
    std::string suffix(1, '_');
    suffix += std::to_string(index);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0)
        return name + suffix;
    return name.substr(0, dot) + suffix + name.substr(dot);
}

// The copy this program turned upright differs from the photo in its bytes,
// so it is recognised by what the correction keeps: the photo's metadata. It
// is the turned copy of the photo when
//  - the photo's orientation (as the run reads it) asked for a correction
//    (greater than 1), and the copy's is 1, or, for the orientations the
//    correction does not turn (the mirrored ones), still the photo's;
//  - both carry the same DateTimeOriginal;
//  - every other entry of either list is also in the other, except the
//    orientation and the entries that describe how a picture is stored,
//    which the thumbnail's directory holds (the camera, the exposure, the
//    sub-seconds, the maker note, GPS and the like all stay);
//  - and (checked by the caller) the files' modification times are the same,
//    to the part of a second the card keeps (exFAT cards keep hundredths),
//    since the copy keeps the photo's. (A documents folder on a FAT disk,
//    which keeps only every other second, may then see a turned copy as
//    another photo: the photo arrives once more under another name, but
//    nothing is lost.)
// Whether turning is switched on now does not matter: the copy may be from a
// run that had it on. Two different photos pass only when they agree in all
// of this: two cameras of one make and model with the same settings, shooting
// in the same second (and hundredth, on exFAT cards) with one of them held
// turned, whose files also carry the same name.
bool IsTurnedCopyOf(const TStringList& copy, const TStringList& photo)
{
    std::string value;
    const int photoOrientation = FindLine(photo, "Orientation", value) ? OrientationFromValue(value) : 0;
    if (photoOrientation <= 1)
        return false;
    const int copyOrientation = FindLine(copy, "Orientation", value) ? OrientationFromValue(value) : 0;
    if (copyOrientation != 1 &&
        (IsTurnedOrientation(photoOrientation) || copyOrientation != photoOrientation))
        return false;
    std::string photoDate;
    std::string copyDate;
    if (!FindLine(photo, "DateTimeOriginal", photoDate) || !FindLine(copy, "DateTimeOriginal", copyDate) ||
        photoDate != copyDate)
        return false;
    return IdentifyingLines(copy) == IdentifyingLines(photo);
}

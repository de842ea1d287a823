#pragma once

#include "base/StringList.h"
#include "platform/Platform.h"

#include <string>

// The rules of a photo's import that depend on nothing but the photo's
// metadata and names: where it goes, under which name, whether it is turned,
// and whether a file is the copy this program turned upright.

/// What the run takes from a photo's metadata list (sorted, as ReadExifInfo fills it).
struct TPhotoFacts
{
    /// The list has an Orientation line (the check box then says that photos are being turned).
    bool HasOrientation = false;
    /// Its value when that is one digit, else 0: no orientation.
    int Orientation = 0;
    /// The day folder name YYYYMMDD of its DateTimeOriginal; empty when it has no usable one.
    std::string Day;
};

/// The facts of a photo whose metadata list was read (the first line of each name counts).
TPhotoFacts PhotoFacts(const TStringList& metaList);
/// The first line, in list order, whose name (the text before its first "=")
/// equals name without regard to case; its value goes to value.
bool FindLine(const TStringList& list, const std::string& name, std::string& value);
/// The day folder name YYYYMMDD of an EXIF date-time text
/// ("2005:07:14 10:22:33"): its first ten characters without the colons,
/// when they form eight digits naming a real calendar day. Empty otherwise,
/// so that no text from a card can name a folder of its own choosing.
std::string DayFolderFromExifDate(const std::string& value);
/// The day folder name YYYYMMDD of a calendar day; empty when it is no real day.
std::string DayFolderFromDate(const TLocalDate& date);
/// The orientation of an EXIF Orientation value text: the value when it is
/// exactly one digit, else 0 (no orientation).
int OrientationFromValue(const std::string& value);
/// Whether a transferred photo of this orientation is to be turned upright, turning being switched on or off.
bool TurnDue(int orientation, bool turning);
/// The orientations the correction turns, and then marks as upright (1): 3, 6 and 8.
bool IsTurnedOrientation(int orientation);
/// The name a photo goes under when its own (index 0) is taken by another
/// photo: NAME_1.EXT, NAME_2.EXT, ..., the extension kept as it was. A name
/// without an extension (or a hidden one, ".x") takes the suffix at its end.
std::string AlternativeName(const std::string& name, int index);
/// Whether copy is the copy this program turned upright of the photo whose
/// sorted metadata list is photo (both as ReadExifInfo gives them), judged by
/// the lists alone; the caller also compares the files' modification times.
bool IsTurnedCopyOf(const TStringList& copy, const TStringList& photo);

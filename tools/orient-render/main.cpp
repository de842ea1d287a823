// orient-render ORIENTATION IN.pam OUT.pam
// orient-render ORIENTATION PHOTO.jpg
//
// Runs the orientation correction's render on a PAM image (P7, 8 bits,
// TUPLTYPE RGB_ALPHA or RGB; alpha taken as given, 255 where absent) and
// writes the result as PAM RGB_ALPHA. For an orientation of 1 or less, and
// for a picture that cannot be turned, the input is written unchanged.
// Given a JPEG photo alone, turns it upright in place as an import does (the
// whole correction: decoding, render, encoding, the photo's metadata), so
// that the bytes two systems give can be compared.

#include "app/core/Correction.h"
#include "app/core/RotatePhoto.h"
#include "base/SysUtils.h"
#include "jpeg/JpegImage.h"
#include "platform/CommandLine.h"
#include "platform/FileStream.h"
#include "platform/Platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Files go through the platform's file stream, which opens UTF-8 names on every system.
bool ReadFile(const std::string& name, std::vector<unsigned char>& data)
{
    try {
        TFileStream in(name, fmOpenRead | fmShareDenyWrite);
        data.clear();
        unsigned char chunk[65536];
        while (const int64_t n = in.Read(chunk, sizeof chunk))
            data.insert(data.end(), chunk, chunk + n);
        return true;
    } catch (const EStreamError&) {
        return false;
    }
}

bool WriteFile(const std::string& name, const std::vector<unsigned char>& data)
{
    try {
        TFileStream out(name, fmCreate);
        out.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
        return true;
    } catch (const EStreamError&) {
        return false;
    }
}

bool ParseInt(const std::string& text, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

// Reads the header and pixels of a PAM file into bitmap; false with a
// message when the file is not one this tool reads.
bool ParsePam(const std::vector<unsigned char>& data, TBitmap32& bitmap, std::string& error)
{
    size_t pos = 0;
    auto readLine = [&](std::string& line) {
        if (pos >= data.size())
            return false;
        const size_t start = pos;
        while (pos < data.size() && data[pos] != '\n')
            ++pos;
        line.assign(data.begin() + static_cast<ptrdiff_t>(start), data.begin() + static_cast<ptrdiff_t>(pos));
        if (pos < data.size())
            ++pos;
        return true;
    };
    std::string line;
    if (!readLine(line) || line != "P7") {
        error = "not a PAM file (P7)";
        return false;
    }
    long width = -1, height = -1, depth = -1, maxval = -1;
    std::string tupltype;
    for (;;) {
        if (!readLine(line)) {
            error = "header without ENDHDR";
            return false;
        }
        if (line.empty() || line[0] == '#')
            continue;
        if (line == "ENDHDR")
            break;
        std::istringstream words(line);
        std::string key, value;
        words >> key >> value;
        long* target = key == "WIDTH"    ? &width
                       : key == "HEIGHT" ? &height
                       : key == "DEPTH"  ? &depth
                       : key == "MAXVAL" ? &maxval
                                         : nullptr;
        if (target) {
            if (!ParseInt(value, *target)) {
                error = "bad header value: " + line;
                return false;
            }
        } else if (key == "TUPLTYPE") {
            tupltype = value;
        }
    }
    const bool alpha = tupltype == "RGB_ALPHA" && depth == 4;
    if (!(alpha || (tupltype == "RGB" && depth == 3)) || maxval != 255) {
        error = "only 8-bit RGB or RGB_ALPHA pictures are read";
        return false;
    }
    if (width < 1 || height < 1 || width > 65535 || height > 65535) {
        error = "bad picture size";
        return false;
    }
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    const size_t channels = static_cast<size_t>(depth);
    if (data.size() - pos < pixels * channels) {
        error = "picture data cut short";
        return false;
    }
    bitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
    TColor32* out = bitmap.Bits();
    const unsigned char* in = data.data() + pos;
    for (size_t i = 0; i < pixels; ++i, in += channels) {
        const TColor32 a = alpha ? in[3] : 255u;
        out[i] = a << 24 | TColor32{in[0]} << 16 | TColor32{in[1]} << 8 | TColor32{in[2]};
    }
    return true;
}

std::vector<unsigned char> FormatPam(const TBitmap32& bitmap)
{
    const std::string header = "P7\nWIDTH " + std::to_string(bitmap.Width()) + "\nHEIGHT " +
                               std::to_string(bitmap.Height()) +
                               "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    std::vector<unsigned char> out(header.begin(), header.end());
    const size_t pixels = static_cast<size_t>(bitmap.Width()) * static_cast<size_t>(bitmap.Height());
    out.reserve(out.size() + pixels * 4);
    for (size_t i = 0; i < pixels; ++i) {
        const TColor32 c = bitmap.Bits()[i];
        out.push_back(static_cast<unsigned char>(c >> 16));
        out.push_back(static_cast<unsigned char>(c >> 8));
        out.push_back(static_cast<unsigned char>(c));
        out.push_back(static_cast<unsigned char>(c >> 24));
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = ProgramArguments(argc, argv);
    long orientation = 0;
    if ((args.size() != 3 && args.size() != 4) || !ParseInt(args[1], orientation)) {
        std::fprintf(
            stderr,
            "usage: orient-render ORIENTATION IN.pam OUT.pam | orient-render ORIENTATION PHOTO.jpg\n");
        return 2;
    }
    if (args.size() == 3) {
        RegisterJpegFormats();
        const std::unique_ptr<TPlatform> platform = CreatePlatform();
        TOrientationCorrector corrector(*platform);
        const TCorrectionResult result = corrector.Correct(args[2], static_cast<int>(orientation));
        if (result.Outcome == TCorrectionOutcome::Failed) {
            std::fprintf(stderr, "orient-render: %s: %s\n", args[2].c_str(), result.Reason.Message().c_str());
            return 1;
        }
        return 0;
    }
    std::vector<unsigned char> input;
    if (!ReadFile(args[2], input)) {
        std::fprintf(stderr, "orient-render: cannot read %s\n", args[2].c_str());
        return 1;
    }
    TBitmap32 src, dst;
    std::string error;
    if (!ParsePam(input, src, error)) {
        std::fprintf(stderr, "orient-render: %s: %s\n", args[2].c_str(), error.c_str());
        return 1;
    }
    const bool rendered = orientation > 1 && RenderUpright(src, dst, static_cast<int>(orientation));
    if (!(rendered ? WriteFile(args[3], FormatPam(dst)) : WriteFile(args[3], input))) {
        std::fprintf(stderr, "orient-render: cannot write %s\n", args[3].c_str());
        return 1;
    }
    return 0;
}

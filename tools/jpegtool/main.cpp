// jpegtool: diagnostics over the picture layer.
//   jpegtool decode IN OUT.ppm          load IN by its extension, decode, write binary PPM
//   jpegtool encode IN.ppm QUALITY OUT  read a binary PPM, save it as JPEG at QUALITY
// Errors print the exception's message and exit with 1.
#include "base/Classes.h"
#include "base/SysUtils.h"
#include "graphics/Graphics.h"
#include "jpeg/JpegImage.h"
#include "platform/CommandLine.h"
#include "platform/FileStream.h"

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: jpegtool decode IN OUT.ppm\n"
                         "       jpegtool encode IN.ppm QUALITY OUT.jpg\n");
    return 2;
}

void WritePpm(const TBitmap& bitmap, const std::string& fileName)
{
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    std::string header = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    TFileStream out(fileName, fmCreate);
    out.WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
    std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
    const TPalette& pal = bitmap.Palette();
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = bitmap.ScanLine(y);
        for (int x = 0; x < w; ++x) {
            uint8_t* d = row.data() + 3 * static_cast<size_t>(x);
            switch (bitmap.PixelFormat()) {
            case TPixelFormat::pf8bit: {
                const TRGBQuad c = s[x] < pal.size() ? pal[s[x]] : TRGBQuad{};
                d[0] = c.Red;
                d[1] = c.Green;
                d[2] = c.Blue;
                break;
            }
            case TPixelFormat::pf24bit:
                d[0] = s[3 * x + 2];
                d[1] = s[3 * x + 1];
                d[2] = s[3 * x];
                break;
            case TPixelFormat::pf32bit:
                d[0] = s[4 * x + 2];
                d[1] = s[4 * x + 1];
                d[2] = s[4 * x];
                break;
            }
        }
        out.WriteBuffer(row.data(), static_cast<int64_t>(row.size()));
    }
}

// Reads the next header number of a PPM file, skipping blanks and comments.
int ReadHeaderNumber(const std::vector<uint8_t>& file, size_t& pos)
{
    while (pos < file.size()) {
        const uint8_t c = file[pos];
        if (c == '#') {
            while (pos < file.size() && file[pos] != '\n')
                ++pos;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++pos;
        } else {
            break;
        }
    }
    int value = 0;
    const auto* first = reinterpret_cast<const char*>(file.data()) + pos;
    const auto* last = reinterpret_cast<const char*>(file.data()) + file.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end == first || value < 0)
        throw Exception("Ungültige PPM-Datei");
    pos += static_cast<size_t>(end - first);
    return value;
}

void ReadPpm(const std::string& fileName, TBitmap& bitmap)
{
    TFileStream input(fileName, fmOpenRead | fmShareDenyWrite);
    TMemoryStream stream;
    stream.LoadFromStream(input);
    std::vector<uint8_t> file(stream.Memory(), stream.Memory() + stream.Size());
    if (file.size() < 2 || file[0] != 'P' || file[1] != '6')
        throw Exception("Ungültige PPM-Datei");
    size_t pos = 2;
    const int w = ReadHeaderNumber(file, pos);
    const int h = ReadHeaderNumber(file, pos);
    const int maxval = ReadHeaderNumber(file, pos);
    if (maxval != 255 || pos >= file.size())
        throw Exception("Ungültige PPM-Datei");
    ++pos; // the single blank after maxval
    const size_t left = file.size() - pos;
    if (w > 0 && static_cast<size_t>(h) > left / 3 / static_cast<size_t>(w))
        throw Exception("Ungültige PPM-Datei");
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(w, h);
    const uint8_t* src = file.data() + pos;
    for (int y = 0; y < h; ++y) {
        uint8_t* d = bitmap.ScanLine(y);
        for (int x = 0; x < w; ++x, src += 3, d += 3) {
            d[0] = src[2];
            d[1] = src[1];
            d[2] = src[0];
        }
    }
}

int Run(const std::vector<std::string>& args)
{
    const std::string command = args.size() > 1 ? args[1] : "";
    if (command == "decode" && args.size() == 4) {
        TPicture picture;
        picture.LoadFromFile(args[2]);
        TBitmap bitmap;
        bitmap.Assign(picture.Graphic());
        WritePpm(bitmap, args[3]);
        return 0;
    }
    if (command == "encode" && args.size() == 5) {
        int quality = -1;
        const std::string& q = args[3];
        const auto [end, ec] = std::from_chars(q.data(), q.data() + q.size(), quality);
        if (ec != std::errc() || end != q.data() + q.size() || quality < 0 || quality > 255)
            throw Exception("Ungültige Qualität: " + q);
        TBitmap bitmap;
        ReadPpm(args[2], bitmap);
        TJPEGImage jpeg;
        jpeg.SetQuality(static_cast<uint8_t>(quality));
        jpeg.Assign(&bitmap);
        jpeg.SaveToFile(args[4]);
        return 0;
    }
    return Usage();
}

} // namespace

int main(int argc, char** argv)
{
    RegisterJpegFormats();
    try {
        return Run(ProgramArguments(argc, argv));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

// exifinfo FILE...: prints, for each file, "== <name>", every line the EXIF
// reader appended in append order, then "result=true", "result=false" or
// "error=<message>" when the reader raised. The format is compared by other
// tools; keep it stable.
#include "base/StringList.h"
#include "meta/phJpegInfo.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

namespace {

void PrintLine(const std::string& s)
{
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fputc('\n', stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: exifinfo FILE...\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string path = argv[i];
        PrintLine("== " + std::filesystem::path(path).filename().string());
        TStringList list;
        std::string outcome;
        try {
            outcome = ReadExifInfo(path, list) ? "result=true" : "result=false";
        } catch (const std::exception& e) {
            outcome = std::string("error=") + e.what();
        }
        for (const auto& line : list.Items())
            PrintLine(line);
        PrintLine(outcome);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// exifinfo FILE...: prints, for each file, "== <name>", every line the EXIF
// reader appended in append order, then "result=true", "result=false" or
// "error=<message>" when the reader raised. The format is compared by other
// tools; keep it stable. Names are taken and printed as UTF-8 on every system.
#include "base/StringList.h"
#include "meta/phJpegInfo.h"
#include "platform/CommandLine.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

void PrintLine(const std::string& s)
{
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fputc('\n', stdout);
}

/// The file name of the UTF-8 path, split as the system splits paths.
std::string FileName(const std::string& path)
{
    // Through char8_t: a plain string would be read in the Windows code page.
    const std::u8string name =
        std::filesystem::path(std::u8string(path.begin(), path.end())).filename().u8string();
    return std::string(name.begin(), name.end());
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    const TUtf8Console console;
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: exifinfo FILE...\n");
        return 2;
    }
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& path = arguments[i];
        PrintLine("== " + FileName(path));
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

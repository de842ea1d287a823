#pragma once

#include <string>
#include <vector>

/// The program's arguments, argv[0] included, as UTF-8. On Linux they are
/// argv as it is (bytes, as the file system takes them); on Windows they are
/// read from the wide command line, so that names outside the code page
/// arrive whole.
std::vector<std::string> ProgramArguments(int argc, char** argv);

/// While it lives, text a program writes to standard output is shown as
/// UTF-8: the bytes are written as they are (to a file or a pipe as well), and
/// a Windows console is set to show them as UTF-8 until the object goes.
/// Nothing to do on Linux.
class TUtf8Console
{
public:
    TUtf8Console();
    ~TUtf8Console();
    TUtf8Console(const TUtf8Console&) = delete;
    TUtf8Console& operator=(const TUtf8Console&) = delete;

private:
    unsigned FPreviousCodePage = 0;
};

#include "platform/CommandLine.h"

#include "platform/windows/WindowsPlatform.h"

#include <cstdio>
#include <shellapi.h>

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    // argv holds the arguments in the code page, where a name outside it has lost its letters.
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        arguments.push_back(Utf8(wide[i], wcslen(wide[i])));
    ::LocalFree(wide);
    return arguments;
}

TUtf8Console::TUtf8Console()
{
    // Only a console has a code page to show text in; a file or a pipe takes the bytes as they are.
    DWORD mode = 0;
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE || ::GetConsoleMode(out, &mode) == 0)
        return;
    const UINT previous = ::GetConsoleOutputCP();
    if (previous != CP_UTF8 && ::SetConsoleOutputCP(CP_UTF8))
        FPreviousCodePage = previous;
}

TUtf8Console::~TUtf8Console()
{
    // The console outlives the program: it gets its own code page back, once
    // the text still buffered has been shown in UTF-8.
    if (FPreviousCodePage != 0) {
        std::fflush(stdout);
        ::SetConsoleOutputCP(FPreviousCodePage);
    }
}

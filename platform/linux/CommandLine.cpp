#include "platform/CommandLine.h"

std::vector<std::string> ProgramArguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

TUtf8Console::TUtf8Console() = default;

TUtf8Console::~TUtf8Console() = default;

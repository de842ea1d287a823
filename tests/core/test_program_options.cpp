#include "app/core/ProgramOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The help and the version, unknown options (which win over both), the volumes in their order, "--" and
// Qt's own options with their values, none of which is a volume.
TEST(ProgramOptions, TellOptionsFromVolumesAndLeaveQtItsOwn)
{
    using enum TProgramAction;
    struct TCase
    {
        std::vector<std::string> Arguments;
        TProgramAction Action;
        std::vector<std::string> Volumes;
        std::string Unknown;
    };
    const TCase cases[] = {
        {{}, Run, {}, ""},
        {{"/media/u/CARD", "file:///media/u/B", "rel"},
         Run,
         {"/media/u/CARD", "file:///media/u/B", "rel"},
         ""},
        {{"--help"}, Help, {}, ""},
        {{"/card", "-h"}, Help, {"/card"}, ""},
        {{"--version"}, Version, {}, ""},
        {{"-V", "--help"}, Help, {}, ""},
        {{"--help", "--bogus", "-x"}, Unknown, {}, "--bogus"},
        {{"-x"}, Unknown, {}, "-x"},
        {{"--helpme"}, Unknown, {}, "--helpme"},
        {{"--", "--help", "-", "-x"}, Run, {"--help", "-", "-x"}, ""},
        {{"-"}, Run, {"-"}, ""},
        {{"-platform", "offscreen", "/card", "-style=fusion", "--reverse", "-session", "1a2b", "--display",
          ":1"},
         Run,
         {"/card"},
         ""},
        {{"-style"}, Run, {}, ""},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> arguments{"fotoimport"};
        arguments.insert(arguments.end(), c.Arguments.begin(), c.Arguments.end());
        const TProgramOptions options = ParseProgramOptions(arguments);
        SCOPED_TRACE(testing::PrintToString(c.Arguments));
        EXPECT_EQ(options.Action, c.Action);
        EXPECT_EQ(options.Volumes, c.Volumes);
        EXPECT_EQ(options.UnknownOption, c.Unknown);
    }
}

} // namespace

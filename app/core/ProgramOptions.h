#pragma once

#include <string>
#include <vector>

/// What the program's command line asks for.
enum class TProgramAction
{
    /// Start (or hand the volumes to the running program).
    Run,
    /// Print the help, or the version, and end.
    Help,
    Version,
    /// An option the program does not know: say so and end with status 2.
    Unknown
};

/// The command line, read before any window system is asked for.
struct TProgramOptions
{
    TProgramAction Action = TProgramAction::Run;
    /// The folders and file:// URIs given, in order: the cards the program is opened with.
    std::vector<std::string> Volumes;
    /// The first option the program does not know.
    std::string UnknownOption;
};

/// Reads the arguments as ProgramArguments gives them (the program's name first). "-h"/"--help" and
/// "-V"/"--version" ask for the help and the version; "--" ends the options, so that every argument after it
/// is a volume. The options of Qt's application object ("-platform NAME", "-style=NAME", "-reverse", ...) are
/// left to it, with their values. An unknown option wins over the help and the version.
TProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments);

/// The text of --help: how to call the program, its options, the folder below which the photos go
/// (photosFolder) and the import log (logPath); an empty path is told as unknown.
std::string HelpText(const std::string& photosFolder, const std::string& logPath);
/// The text of --version.
std::string VersionText(const std::string& version);
/// What the program says about an option it does not know.
std::string UnknownOptionText(const std::string& option);
/// The one line a program started from a terminal says: where it waits (in the tray, or, without one, as
/// a window in the task list), where its log is, and how it ends.
std::string RunningText(bool inTray, const std::string& logPath);

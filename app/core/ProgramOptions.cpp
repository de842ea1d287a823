#include "app/core/ProgramOptions.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

/// The options Qt's application object takes itself (QGuiApplication, QApplication and the X11 platform),
/// and whether each takes the next argument as its value.
struct TQtOption
{
    std::string_view Name;
    bool TakesValue;
};

constexpr std::array kQtOptions{
    TQtOption{"platform", true},
    TQtOption{"platformpluginpath", true},
    TQtOption{"platformtheme", true},
    TQtOption{"plugin", true},
    TQtOption{"qwindowgeometry", true},
    TQtOption{"qwindowicon", true},
    TQtOption{"qwindowtitle", true},
    TQtOption{"session", true},
    TQtOption{"display", true},
    TQtOption{"geometry", true},
    TQtOption{"name", true},
    TQtOption{"title", true},
    TQtOption{"style", true},
    TQtOption{"stylesheet", true},
    TQtOption{"reverse", false},
    TQtOption{"widgetcount", false},
    TQtOption{"nograb", false},
    TQtOption{"dograb", false},
    TQtOption{"sync", false},
    TQtOption{"qmljsdebugger", false},
};

/// Qt's option named by argument ("-style", "--style", "-style=fusion"), or null.
const TQtOption* QtOption(std::string_view argument, bool& valueAttached)
{
    std::string_view name = argument.substr(argument.starts_with("--") ? 2 : 1);
    const size_t equals = name.find('=');
    valueAttached = equals != std::string_view::npos;
    name = name.substr(0, equals);
    const auto it = std::find_if(kQtOptions.begin(), kQtOptions.end(),
                                 [&](const TQtOption& option) { return option.Name == name; });
    return it == kQtOptions.end() ? nullptr : &*it;
}

std::string OrUnknown(const std::string& path, const char* unknown)
{
    return path.empty() ? std::string(unknown) : path;
}

} // namespace

TProgramOptions ParseProgramOptions(const std::vector<std::string>& arguments)
{
    TProgramOptions options;
    bool help = false;
    bool version = false;
    bool optionsEnded = false;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        // "-" alone names a file, as it does for every program.
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            options.Volumes.push_back(argument);
            continue;
        }
        bool valueAttached = false;
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help") {
            help = true;
        } else if (argument == "-V" || argument == "--version") {
            version = true;
        } else if (const TQtOption* qt = QtOption(argument, valueAttached)) {
            if (qt->TakesValue && !valueAttached)
                ++i;
        } else {
            options.Action = TProgramAction::Unknown;
            options.UnknownOption = argument;
            return options;
        }
    }
    options.Action = help ? TProgramAction::Help : version ? TProgramAction::Version : TProgramAction::Run;
    return options;
}

std::string HelpText(const std::string& photosFolder, const std::string& logPath)
{
    return "Usage: fotoimport [FOLDER | file://URI]...\n"
           "\n"
           "Waits in the tray for a camera or memory card with a DCIM folder, lists its JPEG photos and,\n"
           "on \"Fotos kopieren\", copies or moves them into one folder per shooting day, turning sideways\n"
           "photos upright. A second start hands its cards to the running program and shows its window.\n"
           "\n"
           "  FOLDER, file://URI  a mounted card or camera to look at at once\n"
           "  -h, --help          show this help and end\n"
           "  -V, --version       show the version and end\n"
           "\n"
           "Photos go to:  " +
           (photosFolder.empty()
                ? std::string("(unknown: there is no documents folder, nothing can be imported)")
                : photosFolder + ", one folder per shooting day (YYYYMMDD)") +
           "\n"
           "Import log:    " +
           OrUnknown(logPath, "(none: there is no folder for the program's state)") + "\n";
}

std::string VersionText(const std::string& version)
{
    return "fotoimport " + version + "\n";
}

std::string UnknownOptionText(const std::string& option)
{
    return "fotoimport: unknown option '" + option + "'\nTry 'fotoimport --help' for more information.\n";
}

std::string RunningText(bool inTray, const std::string& logPath)
{
    return std::string(
               inTray ? "fotoimport is running in the tray (its camera icon)"
                      : "fotoimport is running: there is no tray, so its window stays in the task list") +
           "; log: " + OrUnknown(logPath, "none") + "; \"Beenden\" in its menu or Ctrl+C ends it\n";
}

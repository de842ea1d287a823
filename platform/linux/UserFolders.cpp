#include "platform/linux/LinuxPlatform.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

std::string TLinuxPlatform::HomeFolder() const
{
    if (!FOptions.HomeFolder.empty())
        return FOptions.HomeFolder;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
        return pw->pw_dir;
    return {};
}

std::string TLinuxPlatform::DocumentsFolder()
{
    const std::string home = HomeFolder();
    std::string config = FOptions.ConfigFolder;
    if (config.empty()) {
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
            config = xdg;
        else if (!home.empty())
            config = home + "/.config";
    }
    std::string result;
    if (!config.empty()) {
        std::ifstream in(config + "/user-dirs.dirs");
        std::string line;
        const std::string key = "XDG_DOCUMENTS_DIR=";
        while (std::getline(in, line)) {
            const size_t start = line.find_first_not_of(" \t");
            if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
                continue;
            std::string value = line.substr(start + key.size());
            if (value.size() < 2 || value.front() != '"')
                continue;
            const size_t close = value.rfind('"');
            if (close == 0)
                continue;
            std::string raw;
            for (size_t i = 1; i < close; ++i) {
                if (value[i] == '\\' && i + 1 < close)
                    ++i;
                raw += value[i];
            }
            if (raw.compare(0, 5, "$HOME") == 0 && (raw.size() == 5 || raw[5] == '/')) {
                if (home.empty())
                    continue;
                result = home + raw.substr(5);
            } else if (!raw.empty() && raw[0] == '/') {
                result = raw;
            }
        }
    }
    if (result.empty() && !home.empty())
        result = home + "/Documents";
    while (result.size() > 1 && result.back() == '/')
        result.pop_back();
    return result;
}

std::string UserKey()
{
    return std::to_string(::getuid());
}

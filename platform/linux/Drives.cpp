#include "platform/linux/LinuxPlatform.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/statvfs.h>

namespace {

constexpr char kFirstLetter = 'E';
constexpr char kLastLetter = 'Z';
constexpr size_t kLetterCount = kLastLetter - kFirstLetter + 1;

/// Undoes the octal escapes (\040 for a blank and so on) of /proc mount tables.
std::string UnescapeMountField(const std::string& field)
{
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1];
            const char b = field[i + 2];
            const char c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out += static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

/// Volumes of removable media are mounted below these folders.
bool IsVolumeMountPoint(const std::string& mountPoint)
{
    static const char* const kParents[] = {"/media/", "/run/media/", "/mnt/"};
    for (const char* parent : kParents) {
        const size_t n = std::strlen(parent);
        if (mountPoint.size() > n && mountPoint.compare(0, n, parent) == 0)
            return true;
    }
    return false;
}

} // namespace

void TLinuxPlatform::RefreshDrives()
{
    FDrivesRead = true;
    FDrives.clear();
    std::ifstream in(FOptions.MountInfoPath);
    std::string line;
    while (std::getline(in, line)) {
        // Fields: id, parent id, major:minor, root, mount point, ...; blanks
        // inside a field are escaped, so plain blanks separate them.
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 5 && fields; ++i)
            fields >> field;
        if (!fields)
            continue;
        const std::string mountPoint = UnescapeMountField(field);
        if (!IsVolumeMountPoint(mountPoint))
            continue;
        // A volume mounted over another one is the one that is seen: keep its latest place.
        FDrives.erase(std::remove(FDrives.begin(), FDrives.end(), mountPoint), FDrives.end());
        FDrives.push_back(mountPoint);
    }
    // Only 22 letters exist; the volumes mounted last keep theirs, so a card
    // attached now is still seen when many older volumes are mounted.
    if (FDrives.size() > kLetterCount)
        FDrives.erase(FDrives.begin(), FDrives.end() - static_cast<std::ptrdiff_t>(kLetterCount));
}

std::string TLinuxPlatform::DriveRoot(char letter)
{
    if (letter >= 'a' && letter <= 'z')
        letter = static_cast<char>(letter - 'a' + 'A');
    if (letter < kFirstLetter || letter > kLastLetter)
        return {};
    if (!FDrivesRead)
        RefreshDrives();
    const auto index = static_cast<size_t>(letter - kFirstLetter);
    return index < FDrives.size() ? FDrives[index] : std::string();
}

bool TLinuxPlatform::DriveIsReady(char letter)
{
    const std::string root = DriveRoot(letter);
    struct statvfs info;
    return !root.empty() && ::statvfs(root.c_str(), &info) == 0;
}

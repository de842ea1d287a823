// The drive letters on Linux: the volumes mounted where desktops and people
// mount cards, and the storages of phones and cameras that gvfs or a FUSE
// tool presents as folders, in the order they appeared.
//
// A phone keeps its photos one level down, in a storage folder ("Internal
// shared storage", "Card", ...); a camera or an iPhone has DCIM at its root.
// So each storage folder of a device is a drive of its own, and a device with
// DCIM at its root is one drive: either way the drive root holds DCIM, as a
// card's mount point does.
#include "base/BoundedCalls.h"
#include "platform/linux/LinuxPlatform.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

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

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

/// Volumes of removable media are mounted below these folders.
bool IsVolumeMountPoint(const std::string& mountPoint)
{
    static const char* const kParents[] = {"/media/", "/run/media/", "/mnt/"};
    for (const char* parent : kParents) {
        if (mountPoint.size() > std::strlen(parent) && StartsWith(mountPoint, parent))
            return true;
    }
    return false;
}

/// The FUSE tools that mount phones (MTP), iPhones and cameras (PTP) as folders, by the file system type
/// they give their mounts, wherever they are mounted (the home folder, /media).
bool IsDeviceFileSystem(const std::string& type)
{
    static const char* const kTypes[] = {"fuse.jmtpfs",  "fuse.simple-mtpfs",  "fuse.go-mtpfs",
                                         "fuse.mtpfs",   "fuse.aft-mtp-mount", "fuse.ifuse",
                                         "fuse.gphotofs"};
    for (const char* t : kTypes) {
        if (type == t)
            return true;
    }
    return false;
}

/// The folders gvfs makes for phones (MTP), cameras (PTP through gphoto2) and iPhones (AFC). Its other
/// folders are network shares and the like.
bool IsGvfsDevice(const std::string& name)
{
    return StartsWith(name, "mtp:host=") || StartsWith(name, "gphoto2:host=") ||
           StartsWith(name, "afc:host=");
}

/// One line of the mount table.
struct TMount
{
    std::string Id;
    std::string MountPoint;
    std::string Type;
};

bool ParseMountLine(const std::string& line, TMount& mount)
{
    // Fields: id, parent id, major:minor, root, mount point, options, optional
    // fields, "-", type, source, ...; blanks inside a field are escaped.
    std::istringstream fields(line);
    std::string field;
    std::vector<std::string> all;
    while (fields >> field)
        all.push_back(field);
    if (all.size() < 5)
        return false;
    mount.Id = all[0];
    mount.MountPoint = UnescapeMountField(all[4]);
    mount.Type.clear();
    for (size_t i = 6; i + 1 < all.size(); ++i) {
        if (all[i] == "-") {
            mount.Type = UnescapeMountField(all[i + 1]);
            break;
        }
    }
    return true;
}

/// The sub-folders of folder (hidden ones left out), in name order; empty when it cannot be read.
/// lookInside: entries of an unknown type are asked what they are; else they are taken as folders, so
/// that listing gvfs's folder never waits for one device that hangs.
std::vector<std::string> SubFolders(const std::string& folder, bool lookInside,
                                    bool (*wanted)(const std::string&) = nullptr)
{
    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.' || (wanted != nullptr && !wanted(name)))
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st;
            isFolder =
                !lookInside || (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                                S_ISDIR(st.st_mode));
        }
        if (isFolder)
            found.push_back(folder + "/" + name);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

/// A real folder, not a link to one.
bool IsFolder(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

/// The storages of a device's folder: the folder itself when it holds DCIM (a camera, an iPhone), else
/// each of its folders (a phone's "Internal shared storage", "Card", ...). Runs on a worker thread.
std::vector<std::string> DeviceStorages(const std::string& device)
{
    if (IsFolder(device + "/DCIM"))
        return {device};
    return SubFolders(device, true);
}

/// A drive found by this refresh: the key under which its appearance is remembered, and its root.
struct TFoundDrive
{
    std::string Key;
    std::string Root;
};

/// Whether path is folder or lies below it.
bool IsAtOrBelow(const std::string& path, const std::string& folder)
{
    return StartsWith(path, folder.c_str()) && (path.size() == folder.size() || path[folder.size()] == '/');
}

/// Answers for the worker threads: path questions only, through a platform of their own whose path
/// questions keep no state.
class TLinuxDriveQueries : public TDriveQueries
{
public:
    explicit TLinuxDriveQueries(const TPlatformOptions& options)
        : FPlatform(options)
    {
    }

    bool DriveIsReady(const std::string& root) override
    {
        struct statvfs info;
        if (root.empty())
            return false;
        if (::statvfs(root.c_str(), &info) == 0)
            return true;
        // Some device file systems cannot tell their size; a folder that answers is ready all the same.
        return (errno == ENOSYS || errno == EOPNOTSUPP) && FPlatform.DirectoryExists(root);
    }
    bool CardFolderExists(const std::string& root, const std::string& name) override
    {
        return FPlatform.CardFolderExists(root, name);
    }
    void FindFiles(const std::string& folder, const std::string& mask, TStringList& list,
                   std::vector<TResult>* unreadable) override
    {
        FPlatform.FindFiles(folder, mask, list, true, true, unreadable);
    }

private:
    TLinuxPlatform FPlatform;
};

} // namespace

std::string TLinuxPlatform::RuntimeFolder() const
{
    if (!FOptions.RuntimeFolder.empty())
        return FOptions.RuntimeFolder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/')
        return runtime;
    return "/run/user/" + std::to_string(::getuid());
}

void TLinuxPlatform::RefreshDrives()
{
    FDrivesRead = true;

    // The volumes, and the devices that FUSE tools mounted, from the mount table in mount order.
    std::vector<TMount> volumes;
    std::vector<TMount> devices;
    {
        std::ifstream in(FOptions.MountInfoPath);
        std::string line;
        TMount mount;
        while (std::getline(in, line)) {
            if (!ParseMountLine(line, mount))
                continue;
            const bool device = IsDeviceFileSystem(mount.Type);
            if (!device && !IsVolumeMountPoint(mount.MountPoint))
                continue;
            // A volume mounted over another one is the one that is seen: keep its latest place.
            const auto same = [&](const TMount& m) { return m.MountPoint == mount.MountPoint; };
            volumes.erase(std::remove_if(volumes.begin(), volumes.end(), same), volumes.end());
            devices.erase(std::remove_if(devices.begin(), devices.end(), same), devices.end());
            (device ? devices : volumes).push_back(mount);
        }
    }
    std::vector<TFoundDrive> found;
    for (const TMount& m : volumes)
        found.push_back({"volume " + m.Id + " " + m.MountPoint, m.MountPoint});

    // The device folders: the FUSE tools' mounts, then the devices in gvfs's folder. They are read on worker
    // threads, all at once; a folder that does not answer in time is passed over, and the drives it had keep
    // their places for when it answers again.
    struct TDeviceFolder
    {
        std::string Folder;
        std::string KeyPrefix; // a FUSE mount's storages are new ones when it is mounted anew
    };
    std::vector<TDeviceFolder> folders;
    for (const TMount& m : devices)
        folders.push_back({m.MountPoint, "storage " + m.Id + " "});
    std::vector<std::string> silent;
    const std::string gvfs = RuntimeFolder() + "/gvfs";
    const auto gvfsDevices = FDeviceCalls.Get(gvfs, [gvfs] { return SubFolders(gvfs, false, IsGvfsDevice); });
    if (gvfsDevices) {
        for (const std::string& folder : *gvfsDevices)
            folders.push_back({folder, "storage "});
    } else {
        silent.push_back(gvfs);
    }
    for (const TDeviceFolder& d : folders) {
        const std::string folder = d.Folder;
        FDeviceCalls.Ask(folder, [folder] { return DeviceStorages(folder); });
    }
    for (const TDeviceFolder& d : folders) {
        if (const auto storages = FDeviceCalls.Answer(d.Folder)) {
            for (const std::string& storage : *storages)
                found.push_back({d.KeyPrefix + storage, storage});
        } else {
            silent.push_back(d.Folder);
        }
    }
    FDeviceCalls.Prune();

    // Each drive keeps the place of its first appearance; new ones come last, in the order found.
    std::map<std::string, TAppearance> appearance;
    for (const TFoundDrive& d : found) {
        const auto known = FAppearance.find(d.Key);
        appearance.emplace(d.Key,
                           known != FAppearance.end() ? known->second : TAppearance{FAppeared++, d.Root});
    }
    for (const auto& [key, seen] : FAppearance) {
        for (const std::string& folder : silent) {
            if (IsAtOrBelow(seen.Root, folder))
                appearance.emplace(key, seen);
        }
    }
    FAppearance = std::move(appearance);
    std::stable_sort(found.begin(), found.end(), [&](const TFoundDrive& a, const TFoundDrive& b) {
        return FAppearance.at(a.Key).Order < FAppearance.at(b.Key).Order;
    });
    FDrives.clear();
    for (const TFoundDrive& d : found) {
        if (std::find(FDrives.begin(), FDrives.end(), d.Root) == FDrives.end())
            FDrives.push_back(d.Root);
    }
    // Only 22 letters exist; the drives that appeared last keep theirs, so a card
    // attached now is still seen when many older drives are there.
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

std::shared_ptr<TDriveQueries> TLinuxPlatform::DriveQueries()
{
    if (!FDriveQueries)
        FDriveQueries = std::make_shared<TLinuxDriveQueries>(FOptions);
    return FDriveQueries;
}

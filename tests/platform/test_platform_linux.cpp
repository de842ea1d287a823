#include "platform/Platform.h"
#include "tests/support/ResultPrint.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::unique_ptr<TPlatform> PlatformWith(const TPlatformOptions& options)
{
    return CreatePlatform(options);
}

std::string MountLine(int id, const std::string& mountPoint, const std::string& type = "vfat")
{
    return std::to_string(id) + " 1 8:1 / " + mountPoint + " rw,relatime shared:1 - " + type +
           " /dev/sdb1 rw\n";
}

/// The roots of the drive letters E..Z that stand for a drive, in letter order.
std::vector<std::string> Drives(TPlatform& platform)
{
    std::vector<std::string> roots;
    for (char letter = 'E'; letter <= 'Z'; ++letter) {
        if (std::string root = platform.DriveRoot(letter); !root.empty())
            roots.push_back(root);
    }
    return roots;
}

TEST(LinuxPlatform, DrivesAreTheVolumesUnderMediaRunMediaAndMntInMountOrder)
{
    TTempDir tmp;
    std::string table = MountLine(20, "/") + MountLine(21, "/home") + MountLine(22, "/media") +
                        MountLine(23, "/media/usb\\040stick") + MountLine(24, "/mnt") +
                        MountLine(25, "/run/media/anna/CANON") + MountLine(26, "/mnt/back\\134slash") +
                        MountLine(27, "/mnt/../" + tmp.Path().substr(1)) + MountLine(28, "/mediathek/x");
    WriteFile(tmp / "mountinfo", table);
    TPlatformOptions options;
    options.MountInfoPath = tmp / "mountinfo";
    options.RuntimeFolder = tmp / "runtime";
    auto platform = PlatformWith(options);

    EXPECT_EQ(platform->DriveRoot('E'), "/media/usb stick");
    EXPECT_EQ(platform->DriveRoot('f'), "/run/media/anna/CANON");
    EXPECT_EQ(platform->DriveRoot('G'), "/mnt/back\\slash");
    EXPECT_EQ(platform->DriveRoot('H'), "/mnt/../" + tmp.Path().substr(1));
    EXPECT_EQ(platform->DriveRoot('I'), "");
    EXPECT_EQ(platform->DriveRoot('C'), "");
    EXPECT_EQ(platform->DriveRoot('$'), "");
    EXPECT_FALSE(platform->DriveIsReady('E')) << "a mount point that cannot be asked is not ready";
    EXPECT_TRUE(platform->DriveIsReady('H'));
    EXPECT_TRUE(platform->DriveIsReady('h'));
    EXPECT_FALSE(platform->DriveIsReady('I'));
    EXPECT_FALSE(platform->DriveIsReady('D'));

    // A volume mounted over another place keeps only its latest place; with more
    // volumes than letters the ones mounted last keep theirs.
    table.clear();
    for (int i = 0; i < 30; ++i)
        table += MountLine(100 + i, "/mnt/v" + std::to_string(i));
    table += MountLine(200, "/mnt/v3");
    WriteFile(tmp / "mountinfo", table);
    platform->RefreshDrives();
    EXPECT_EQ(platform->DriveRoot('E'), "/mnt/v9");
    EXPECT_EQ(platform->DriveRoot('Y'), "/mnt/v29");
    EXPECT_EQ(platform->DriveRoot('Z'), "/mnt/v3");

    WriteFile(tmp / "mountinfo", "garbage\n\n1 2\n");
    platform->RefreshDrives();
    EXPECT_EQ(platform->DriveRoot('E'), "");
}

TEST(LinuxPlatform, PhonesAndCamerasInGvfsAndFuseToolMountsAreDrivesInTheOrderTheyAppeared)
{
    TTempDir tmp;
    const std::string gvfs = tmp / "runtime/gvfs";
    // A phone with two storages, DCIM one level down in one of them; a camera with DCIM at its root; a
    // network share and a plain file, which are no devices.
    const std::string phone = gvfs + "/mtp:host=SAMSUNG_SAMSUNG_Android_R58M12345";
    fs::create_directories(phone + "/Interner gemeinsamer Speicher/DCIM/Camera");
    fs::create_directories(phone + "/Card");
    fs::create_directories(phone + "/.hidden");
    const std::string camera = gvfs + "/gphoto2:host=Canon_Inc._Canon_Digital_Camera";
    fs::create_directories(camera + "/DCIM/100CANON");
    fs::create_directories(camera + "/MISC");
    fs::create_directories(gvfs + "/smb-share:server=nas,share=fotos/DCIM");
    WriteFile(gvfs + "/afc:host=file", "");
    // jmtpfs in the home folder; simple-mtpfs under /media, where it is a device and not a volume.
    const std::string jmtpfs = tmp / "home/anna/Telefon";
    fs::create_directories(jmtpfs + "/Internal shared storage/DCIM");
    std::string table =
        MountLine(20, "/") + MountLine(23, "/media/anna/CARD") + MountLine(30, jmtpfs, "fuse.jmtpfs") +
        MountLine(31, "/media/anna/Handy", "fuse.simple-mtpfs") + MountLine(32, gvfs, "fuse.gvfsd-fuse");
    WriteFile(tmp / "mountinfo", table);
    TPlatformOptions options;
    options.MountInfoPath = tmp / "mountinfo";
    options.RuntimeFolder = tmp / "runtime";
    auto platform = PlatformWith(options);

    const std::string phoneCard = phone + "/Card";
    const std::string phoneInternal = phone + "/Interner gemeinsamer Speicher";
    const std::string jmtpfsInternal = jmtpfs + "/Internal shared storage";
    EXPECT_EQ(Drives(*platform), (std::vector<std::string>{"/media/anna/CARD", jmtpfsInternal, camera,
                                                           phoneCard, phoneInternal}));
    EXPECT_TRUE(platform->DriveIsReady('I'));

    // Attached later, they come last, whatever the table's order or their names say: a volume mounted now
    // placed first in the table, an iPhone whose name sorts first.
    const std::string iphone = gvfs + "/afc:host=00008030-001A";
    fs::create_directories(iphone + "/DCIM/100APPLE");
    table = MountLine(19, "/media/anna/NEU") + table;
    WriteFile(tmp / "mountinfo", table);
    platform->RefreshDrives();
    EXPECT_EQ(Drives(*platform),
              (std::vector<std::string>{"/media/anna/CARD", jmtpfsInternal, camera, phoneCard, phoneInternal,
                                        "/media/anna/NEU", iphone}));

    // Unplugged and plugged in again, the phone is the newest drive; so is a card mounted anew at its old
    // place.
    fs::rename(phone, tmp / "away");
    platform->RefreshDrives();
    EXPECT_EQ(Drives(*platform), (std::vector<std::string>{"/media/anna/CARD", jmtpfsInternal, camera,
                                                           "/media/anna/NEU", iphone}));
    fs::rename(tmp / "away", phone);
    table.replace(table.find("23 1 8:1"), 2, "40");
    WriteFile(tmp / "mountinfo", table);
    platform->RefreshDrives();
    EXPECT_EQ(Drives(*platform), (std::vector<std::string>{jmtpfsInternal, camera, "/media/anna/NEU", iphone,
                                                           "/media/anna/CARD", phoneCard, phoneInternal}));
}

TEST(LinuxPlatform, DocumentsFolderFollowsUserDirsElseHomeDocuments)
{
    TTempDir tmp;
    TPlatformOptions options;
    options.HomeFolder = "/home/anna";
    options.ConfigFolder = tmp.Path();
    auto platform = PlatformWith(options);
    EXPECT_EQ(platform->DocumentsFolder(), "/home/anna/Documents") << "no user-dirs file";

    const std::pair<std::string, std::string> cases[] = {
        {"XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", "/home/anna/Dokumente"},
        {"# XDG_DOCUMENTS_DIR=\"$HOME/no\"\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  "
         "XDG_DOCUMENTS_DIR=\"/data/docs/\"\n",
         "/data/docs"},
        {"XDG_DOCUMENTS_DIR=\"$HOME/Meine \\\"Akten\\\"\"\n", "/home/anna/Meine \"Akten\""},
        {"XDG_DOCUMENTS_DIR=\"$HOME\"\n", "/home/anna"},
        {"XDG_DOCUMENTS_DIR=\"relative/path\"\n", "/home/anna/Documents"},
        {"XDG_DOCUMENTS_DIR=\"$HOMEWORK/x\"\n", "/home/anna/Documents"},
        {"XDG_DOCUMENTS_DIR=$HOME/unquoted\n", "/home/anna/Documents"},
    };
    for (const auto& [file, expected] : cases) {
        WriteFile(tmp / "user-dirs.dirs", file);
        EXPECT_EQ(platform->DocumentsFolder(), expected) << file;
    }
}

TEST(LinuxPlatform, LinksLeadNowhere)
{
    TTempDir tmp;
    const std::string card = tmp / "card";
    const std::string dcim = card + "/DCIM";
    WriteFile(dcim + "/100A/IMG_1.JPG", "photo");
    WriteFile(tmp / "pictures/private.jpg", "not the card's");
    fs::create_directory_symlink(dcim, dcim + "/100A/loop.jpg");
    fs::create_directory_symlink(tmp / "pictures", dcim + "/101B");
    fs::create_directory_symlink(tmp / "pictures", card + "/LINKED");
    fs::create_symlink(dcim + "/100A/IMG_1.JPG", dcim + "/alias.jpg");
    fs::create_symlink(tmp / "gone", dcim + "/dangling.jpg");
    fs::create_directory_symlink(card, tmp / "cardlink");
    fs::create_directory_symlink(dcim, tmp / "DCIMLINK");
    ASSERT_EQ(::mkfifo((dcim + "/pipe.jpg").c_str(), 0644), 0);
    auto platform = CreatePlatform();

    // Only the card's own photo is listed, and a searched folder that is itself a link lists nothing.
    TStringList list;
    platform->FindFiles(dcim, "*.jpg", list, true, true);
    EXPECT_EQ(list.Items(), std::vector<std::string>{dcim + "/100A/IMG_1.JPG"});
    for (const std::string& link : {tmp / "DCIMLINK", tmp / "DCIMLINK/", tmp / "DCIMLINK//"}) {
        platform->FindFiles(link, "*.jpg", list, true, true);
        EXPECT_EQ(list.Count(), 0) << link;
    }
    // The drive root is the platform's own and may be reached by a link; its photo folder may not.
    EXPECT_TRUE(platform->CardFolderExists(tmp / "cardlink", "DCIM"));
    EXPECT_FALSE(platform->CardFolderExists(card, "LINKED"));
    EXPECT_FALSE(platform->CardFolderExists(dcim, "dangling.jpg"));
    EXPECT_TRUE(platform->FileExists(dcim + "/dangling.jpg")) << "the name is taken";
    // Neither the log nor the removal of left-overs goes through a link.
    EXPECT_FALSE(platform->AppendToLog(dcim + "/alias.jpg", "x\n", 1000));
    fs::create_symlink(tmp / "pictures/private.jpg", dcim + "/.fotoimport-LiNk00");
    int removed = -1;
    ASSERT_TRUE(platform->RemoveStaleTemporaries(dcim, removed));
    EXPECT_EQ(removed, 0);
    EXPECT_TRUE(fs::is_symlink(dcim + "/.fotoimport-LiNk00"));
    EXPECT_EQ(ReadFile(tmp / "pictures/private.jpg"), "not the card's");
    EXPECT_EQ(ReadFile(dcim + "/100A/IMG_1.JPG"), "photo");
}

TEST(LinuxPlatform, NamesAreSplitAtSlashesOnly)
{
    auto platform = CreatePlatform();
    EXPECT_EQ(platform->PathDelim(), '/');
    EXPECT_EQ(platform->ExtractFileName("a\\b.jpg"), "a\\b.jpg");
    EXPECT_EQ(platform->JoinPath("/", "DCIM"), "/DCIM");
}

TEST(LinuxPlatform, FilesGetTheUsersModesAndKeepTimesToTheNanosecond)
{
    TTempDir tmp;
    auto platform = CreatePlatform();
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const auto mode = [](const std::string& path) {
        struct stat st
        {
        };
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    };
    WriteFile(tmp / "card/a.jpg", "photo");
    ASSERT_EQ(::chmod((tmp / "card/a.jpg").c_str(), 0400), 0);
    ASSERT_TRUE(platform->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "a.jpg"));
    EXPECT_EQ(mode(tmp / "a.jpg"), 0666 & ~mask) << "a copy is the user's file, whatever the card's mode";

    // A replaced photo keeps its mode and both times.
    ASSERT_EQ(::chmod((tmp / "a.jpg").c_str(), 0640), 0);
    const timespec times[2] = {{1000000000, 123456789}, {1120000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (tmp / "a.jpg").c_str(), times, 0), 0);
    const TDataPiece turned[] = {{"turned", 6}};
    ASSERT_TRUE(platform->ReplaceFileContents(tmp / "a.jpg", turned));
    struct stat st
    {
    };
    ASSERT_EQ(::stat((tmp / "a.jpg").c_str(), &st), 0); // before reading it sets the access time
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(std::tie(st.st_atim.tv_sec, st.st_atim.tv_nsec), std::tie(times[0].tv_sec, times[0].tv_nsec));
    EXPECT_EQ(std::tie(st.st_mtim.tv_sec, st.st_mtim.tv_nsec), std::tie(times[1].tv_sec, times[1].tv_nsec));
    int64_t seconds = 0;
    int part = 0;
    ASSERT_TRUE(platform->FileModifiedTime(tmp / "a.jpg", seconds, part));
    EXPECT_EQ(seconds, 1120000000);
    EXPECT_EQ(part, 987654321);

    // The log names the user's photos: for the user's eyes only.
    ASSERT_TRUE(platform->AppendToLog(tmp / "state/fotoimport/import.log", "one\n", 20));
    EXPECT_EQ(mode(tmp / "state/fotoimport/import.log"), 0600u);
    EXPECT_EQ(mode(tmp / "state/fotoimport"), 0700u);
}

TEST(LinuxPlatform, StagingFailsAtOnceAndFlushingNamesAFolderThatVanished)
{
    TTempDir tmp;
    WriteFile(tmp / "card/a.jpg", "photo");
    auto platform = CreatePlatform();
    std::unique_ptr<TStagedCopy> copy;
    EXPECT_EQ(platform->StageCopy(tmp / "card/none.jpg", tmp / "n.jpg", copy).Kind(), TFailure::NotFound);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(platform->StageCopy(tmp / "card/a.jpg", tmp / "out/x.jpg", copy).Kind(), TFailure::NotFound);
    fs::create_directories(tmp / "gone");
    ASSERT_TRUE(platform->StageCopy(tmp / "card/a.jpg", tmp / "gone/x.jpg", copy));
    ASSERT_TRUE(platform->FinishCopy(*copy));
    copy.reset();
    fs::remove_all(tmp / "gone");
    const TResult flushed = platform->FlushFolders();
    EXPECT_EQ(flushed.Kind(), TFailure::NotFound);
    EXPECT_EQ(flushed.Path(), tmp / "gone");
    EXPECT_TRUE(platform->FlushFolders()) << "the list of folders starts afresh";
}

/// The entries of folder named like the program's temporary files.
size_t Temporaries(const std::string& folder)
{
    size_t found = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        found += entry.path().filename().string().rfind(".fotoimport-", 0) == 0 ? 1 : 0;
    return found;
}

TEST(LinuxPlatform, LeftOverTemporariesAreRemovedButNeverOneStillBeingWritten)
{
    TTempDir tmp;
    const std::string day = tmp / "20050714";
    const std::string photo = PatternBytes(300000, 2);
    WriteFile(tmp / "card/a.jpg", photo);
    WriteFile(day + "/.fotoimport-a1B2c3", photo); // left by a killed run

    // Another import (another platform, as another process would be) is
    // staging copies into the same folder, and so is this one.
    auto other = CreatePlatform();
    auto platform = CreatePlatform();
    std::unique_ptr<TStagedCopy> othersCopy;
    std::unique_ptr<TStagedCopy> ownCopy;
    ASSERT_TRUE(other->StageCopy(tmp / "card/a.jpg", day + "/b.jpg", othersCopy));
    ASSERT_TRUE(platform->StageCopy(tmp / "card/a.jpg", day + "/c.jpg", ownCopy));
    ASSERT_EQ(Temporaries(day), 3u);
    int removed = -1;
    const TResult cleaned = platform->RemoveStaleTemporaries(day, removed);
    ASSERT_TRUE(cleaned) << cleaned.Text();
    EXPECT_EQ(removed, 1);
    // Both copies in flight survived and get their names.
    EXPECT_TRUE(other->FinishCopy(*othersCopy));
    EXPECT_TRUE(platform->FinishCopy(*ownCopy));
    othersCopy.reset();
    ownCopy.reset();
    EXPECT_EQ(ReadFile(day + "/b.jpg"), photo);
    EXPECT_EQ(ReadFile(day + "/c.jpg"), photo);
    EXPECT_EQ(Temporaries(day), 0u);

    // An import in another process writes a copy: its file stays while that
    // process lives, and is left over once the process is killed.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        auto own = CreatePlatform();
        std::unique_ptr<TStagedCopy> copy;
        const bool staged = own->StageCopy(tmp / "card/a.jpg", day + "/d.jpg", copy) && copy;
        const char answer = staged ? '1' : '0';
        if (::write(ready[1], &answer, 1) != 1 || !staged)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    const TResult whileWriting = platform->RemoveStaleTemporaries(day, removed);
    const size_t seen = Temporaries(day);
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    ASSERT_EQ(answer, '1');
    ASSERT_TRUE(whileWriting);
    EXPECT_EQ(removed, 0) << "the other process is still writing it";
    EXPECT_EQ(seen, 1u);
    ASSERT_TRUE(platform->RemoveStaleTemporaries(day, removed));
    EXPECT_EQ(removed, 1) << "the killed run's copy is left over";
    EXPECT_EQ(Temporaries(day), 0u);
    EXPECT_FALSE(PathExists(day + "/d.jpg"));
}

TEST(LinuxPlatform, UserFoldersAreMadeOnlyInsideTheHomeFolder)
{
    TTempDir tmp;
    const std::string home = tmp / "home";
    fs::create_directories(home);
    fs::create_directories(tmp / "elsewhere/Docs");
    fs::create_directories(tmp / "media/ext"); // the mount point of a disk that is not attached
    fs::create_directories(tmp / "outside");
    fs::create_directory_symlink(tmp / "outside", home + "/linkout");
    fs::create_directory_symlink(tmp / "elsewhere", home + "/linkdocs");
    fs::create_symlink(tmp / "media/ext/Docs", home + "/dangling");
    WriteFile(home + "/file", "x");
    fs::create_directory_symlink(home, tmp / "homelink");
    TPlatformOptions options;
    options.HomeFolder = home;
    auto platform = CreatePlatform(options);

    struct TCase
    {
        std::string Path;
        TFailure Kind;
        std::string Made; ///< the folder that exists afterwards, or is not made
    };
    const TCase cases[] = {
        {home + "/Documents", TFailure::None, home + "/Documents"},
        {home + "/a/b/c/", TFailure::None, home + "/a/b/c"},
        {tmp / "elsewhere/Docs", TFailure::None, tmp / "elsewhere/Docs"}, // there already
        {home + "/linkdocs/Docs", TFailure::None, tmp / "elsewhere/Docs"},
        {tmp / "media/ext/Docs", TFailure::Unavailable, tmp / "media/ext/Docs"},
        {tmp / "media/ext/Docs/deeper", TFailure::Unavailable, tmp / "media/ext/Docs"},
        {home + "/linkout/Docs", TFailure::Unavailable, tmp / "outside/Docs"},
        {home + "/../escape/Docs", TFailure::Unavailable, tmp / "escape"},
        {home + "/new/../../escape", TFailure::Unavailable, home + "/new"},
        {home + "/dangling", TFailure::Unavailable, tmp / "media/ext/Docs"},
        {home + "/dangling/sub", TFailure::Unavailable, tmp / "media/ext/Docs"},
        {home + "/file/Docs", TFailure::NotFound, home + "/file/Docs"},
        {"relative/Docs", TFailure::Unavailable, "relative"},
        {"", TFailure::Unavailable, ""},
    };
    for (const TCase& c : cases) {
        const TResult r = platform->ForceUserFolder(c.Path);
        EXPECT_EQ(r.Kind(), c.Kind) << c.Path << ": " << r.Text();
        if (c.Kind == TFailure::None) {
            EXPECT_TRUE(fs::is_directory(c.Made)) << c.Path;
        } else if (!c.Made.empty()) {
            EXPECT_FALSE(fs::exists(c.Made)) << c.Path << ": nothing is made";
        }
    }
    // A home folder reached through a link is still the home folder.
    TPlatformOptions linked = options;
    linked.HomeFolder = tmp / "homelink";
    EXPECT_TRUE(CreatePlatform(linked)->ForceUserFolder(tmp / "homelink/Pictures"));
    EXPECT_TRUE(fs::is_directory(home + "/Pictures"));
    // Without a home folder nothing missing is made anywhere.
    TPlatformOptions homeless = options;
    homeless.HomeFolder = tmp / "nohome";
    const TResult none = CreatePlatform(homeless)->ForceUserFolder(tmp / "nohome/Documents");
    EXPECT_EQ(none.Kind(), TFailure::Unavailable) << none.Text();
    EXPECT_FALSE(fs::exists(tmp / "nohome"));
}

TEST(LinuxPlatform, StateFolderFollowsXdgStateHomeElseHomeLocalState)
{
    const char* saved = std::getenv("XDG_STATE_HOME");
    const std::string previous = saved != nullptr ? saved : "";
    TPlatformOptions options;
    options.HomeFolder = "/home/anna";
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(CreatePlatform(options)->StateFolder(), "/home/anna/.local/state/fotoimport");
    ::setenv("XDG_STATE_HOME", "relative/state", 1);
    EXPECT_EQ(CreatePlatform(options)->StateFolder(), "/home/anna/.local/state/fotoimport");
    ::setenv("XDG_STATE_HOME", "/var/state/anna", 1);
    EXPECT_EQ(CreatePlatform(options)->StateFolder(), "/var/state/anna/fotoimport");
    options.StateHome = "/tmp/given";
    EXPECT_EQ(CreatePlatform(options)->StateFolder(), "/tmp/given/fotoimport");
    if (saved != nullptr)
        ::setenv("XDG_STATE_HOME", previous.c_str(), 1);
    else
        ::unsetenv("XDG_STATE_HOME");
}

/// Whether the platform, in a child whose standard error is fd, says it is a terminal.
bool ChildSeesTerminal(int fd)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(fd, STDERR_FILENO);
        ::_exit(CreatePlatform()->StderrIsTerminal() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(LinuxPlatform, StandardErrorIsATerminalOnlyWhenItIsOne)
{
    TTempDir tmp;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const int terminal = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    const int file = ::open((tmp / "err.txt").c_str(), O_WRONLY | O_CREAT, 0600);
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    EXPECT_TRUE(ChildSeesTerminal(terminal));
    EXPECT_FALSE(ChildSeesTerminal(file));
    EXPECT_FALSE(ChildSeesTerminal(pipeEnds[1]));
    for (const int fd : {terminal, master, file, pipeEnds[0], pipeEnds[1]})
        ::close(fd);
}

/// How a child ends that receives signal, after catching end requests when catch_ is set: the exit code
/// 0 (it noted the request), 1 (it did not), or 128 + the signal that ended it.
int ChildAfterSignal(int signal, bool catch_)
{
    const pid_t child = ::fork();
    if (child == 0) {
        const std::unique_ptr<TPlatform> platform = CreatePlatform();
        if (catch_)
            platform->CatchEndRequests();
        const bool before = platform->EndRequested();
        ::kill(::getpid(), signal);
        ::_exit(!before && platform->EndRequested() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

TEST(LinuxPlatform, TheSessionsEndIsNotedInsteadOfEndingTheProgramOnTheSpot)
{
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        EXPECT_EQ(ChildAfterSignal(signal, false), 128 + signal)
            << "uncaught, signal " << signal << " ends it";
        EXPECT_EQ(ChildAfterSignal(signal, true), 0) << "signal " << signal;
    }
}

} // namespace

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

time_t ModifiedTime(const std::string& path)
{
    struct stat st
    {
    };
    ::stat(path.c_str(), &st);
    return st.st_mtime;
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

/// The expected listing, computed independently with std::filesystem: real
/// files and folders only, links of any kind left out.
void ExpectedListing(const fs::path& folder, std::vector<std::string>& out)
{
    std::vector<fs::path> subFolders;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_symlink())
            continue;
        if (entry.is_directory()) {
            subFolders.push_back(entry.path());
            continue;
        }
        std::string ext = entry.path().extension().string();
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".jpg" && entry.is_regular_file())
            out.push_back(entry.path().string());
    }
    for (const fs::path& sub : subFolders)
        ExpectedListing(sub, out);
}

TEST(LinuxPlatform, FindFilesListsOwnFilesBeforeSubFoldersAndNeverFollowsLinks)
{
    TTempDir tmp;
    const std::string dcim = tmp / "DCIM";
    for (const char* f : {"top1.JPG", "top2.jpg", ".hidden.jpg", "movie.MOV", "x.jpeg", "jpg", "a.jpg.txt",
                          "100A/IMG_1.Jpg", "100A/IMG_2.JPG", "100A/deep/er/IMG_3.jpg", "101B/IMG_4.JPG",
                          "101B/inner/IMG_5.JPG", "102C/none.txt", ".thumbs/t.jpg"})
        WriteFile(dcim + "/" + f, f);
    fs::create_directory_symlink(dcim, dcim + "/100A/loop.jpg");
    fs::create_directory_symlink(dcim + "/101B", dcim + "/link_to_101B");
    fs::create_symlink(dcim + "/top1.JPG", dcim + "/alias.jpg");
    fs::create_symlink(dcim + "/gone", dcim + "/dangling.jpg");
    ASSERT_EQ(::mkfifo((dcim + "/pipe.jpg").c_str(), 0644), 0);

    auto platform = CreatePlatform();
    TStringList list;
    int changes = 0;
    list.OnChange = [&] { ++changes; };
    platform->FindFiles(dcim, "*.jpg", list, true, true);

    std::vector<std::string> expected;
    ExpectedListing(dcim, expected);
    EXPECT_EQ(list.Items(), expected);
    EXPECT_EQ(list.Count(), 9) << "the link to a photo of the card is not listed either";
    EXPECT_EQ(changes, 1) << "filled inside one bulk update";

    // A folder's files come before all files of its sub-folders.
    const auto pos = [&](const std::string& rel) {
        return std::find(list.Items().begin(), list.Items().end(), dcim + "/" + rel) - list.Items().begin();
    };
    EXPECT_LT(pos("top2.jpg"), pos("100A/IMG_1.Jpg"));
    EXPECT_LT(pos("100A/IMG_2.JPG"), pos("100A/deep/er/IMG_3.jpg"));
    EXPECT_LT(pos("101B/IMG_4.JPG"), pos("101B/inner/IMG_5.JPG"));

    // Not recursive, not cleared, trailing separator given.
    platform->FindFiles(dcim + "/100A/", "IMG_?.JPG", list, false, false);
    EXPECT_EQ(list.Count(), 11);
    EXPECT_EQ(list[10].substr(0, dcim.size() + 10), dcim + "/100A/IMG_");

    platform->FindFiles("", "*.jpg", list, true, true);
    EXPECT_EQ(list.Count(), 0);
    platform->FindFiles(tmp / "missing", "*.jpg", list, true, false);
    EXPECT_EQ(list.Count(), 0);

    // A searched folder that is itself a link lists nothing, with or without
    // a trailing separator.
    fs::create_directory_symlink(dcim, tmp / "DCIMLINK");
    for (const std::string& link : {tmp / "DCIMLINK", tmp / "DCIMLINK/", tmp / "DCIMLINK//"}) {
        platform->FindFiles(link, "*.jpg", list, true, true);
        EXPECT_EQ(list.Count(), 0) << link;
    }
    platform->FindFiles(dcim + "/", "*.jpg", list, true, true);
    EXPECT_EQ(list.Items(), expected) << "a trailing separator on a real folder changes nothing";
}

TEST(LinuxPlatform, CardFolderIsARealFolderOfTheDriveRootItself)
{
    TTempDir tmp;
    const std::string card = tmp / "card";
    fs::create_directories(card + "/DCIM");
    fs::create_directories(tmp / "pictures");
    WriteFile(card + "/FILE", "x");
    fs::create_directory_symlink(tmp / "pictures", card + "/LINKED");
    fs::create_symlink(tmp / "gone", card + "/DANGLING");
    fs::create_directory_symlink(card, tmp / "cardlink");
    auto platform = CreatePlatform();

    const std::tuple<std::string, std::string, bool> cases[] = {
        {card, "DCIM", true},
        {card + "/", "DCIM", true},
        {tmp / "cardlink", "DCIM", true}, // the drive root is the platform's own; it may be reached by a link
        {card, "LINKED", false},          // a link to a folder outside the card
        {card, "DANGLING", false},
        {card, "FILE", false},
        {card, "MISSING", false},
        {card, "DCIM/", false},
        {card, "../card/DCIM", false},
        {card, "..", false},
        {card, ".", false},
        {card, "", false},
        {"", "DCIM", false},
        {tmp / "none", "DCIM", false},
    };
    for (const auto& [root, name, expected] : cases)
        EXPECT_EQ(platform->CardFolderExists(root, name), expected) << root << " + " << name;
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

TEST(LinuxPlatform, SameFileContentsComparesEveryByte)
{
    TTempDir tmp;
    const std::string photo = PatternBytes((size_t{5} << 19) + 7, 3); // more than two compare chunks
    std::string lastByte = photo;
    lastByte.back() = static_cast<char>(lastByte.back() ^ 1);
    std::string secondChunk = photo;
    secondChunk[(size_t{1} << 20) + 5] = static_cast<char>(secondChunk[(size_t{1} << 20) + 5] ^ 0x40);
    WriteFile(tmp / "a.jpg", photo);
    WriteFile(tmp / "copy.jpg", photo);
    WriteFile(tmp / "last.jpg", lastByte);
    WriteFile(tmp / "second.jpg", secondChunk);
    WriteFile(tmp / "short.jpg", photo.substr(0, photo.size() - 1));
    WriteFile(tmp / "empty1.jpg", "");
    WriteFile(tmp / "empty2.jpg", "");
    fs::create_directories(tmp / "folder");
    auto platform = CreatePlatform();

    const std::tuple<const char*, const char*, bool> cases[] = {
        {"a.jpg", "copy.jpg", true},   {"a.jpg", "a.jpg", true},       {"empty1.jpg", "empty2.jpg", true},
        {"a.jpg", "last.jpg", false},  {"a.jpg", "second.jpg", false}, {"a.jpg", "short.jpg", false},
        {"short.jpg", "a.jpg", false}, {"a.jpg", "empty1.jpg", false},
    };
    for (const auto& [a, b, expected] : cases) {
        bool same = !expected;
        const TResult r = platform->SameFileContents(tmp / a, tmp / b, same);
        ASSERT_TRUE(r) << a << " " << b << ": " << r.Text();
        EXPECT_EQ(same, expected) << a << " " << b;
    }
    bool same = true;
    const TResult missing = platform->SameFileContents(tmp / "a.jpg", tmp / "none.jpg", same);
    EXPECT_EQ(missing.Kind(), TFailure::NotFound);
    EXPECT_EQ(missing.Path(), tmp / "none.jpg");
    EXPECT_EQ(platform->SameFileContents(tmp / "folder", tmp / "a.jpg", same).Kind(), TFailure::NotSafe);
    EXPECT_EQ(platform->SameFileContents("", tmp / "a.jpg", same).Kind(), TFailure::NotFound);
}

/// The entries of folder named like the program's temporary files.
std::vector<std::string> Temporaries(const std::string& folder)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(".fotoimport-", 0) == 0)
            found.push_back(name);
    }
    std::sort(found.begin(), found.end());
    return found;
}

TEST(LinuxPlatform, LeftOverTemporariesAreRemovedButNeverOneStillBeingWritten)
{
    TTempDir tmp;
    const std::string day = tmp / "20050714";
    const std::string photo = PatternBytes(300000, 2);
    WriteFile(tmp / "card/a.jpg", photo);
    // Left by a killed run: a complete copy and a partial one.
    WriteFile(day + "/.fotoimport-a1B2c3", photo);
    WriteFile(day + "/.fotoimport-Zz9900", photo.substr(0, 1000));
    // Names that are not the program's temporaries, and a link, stay.
    WriteFile(day + "/.fotoimport-toolong1", "x");
    WriteFile(day + "/.fotoimport-ab", "x");
    WriteFile(day + "/.fotoimport-a_b.c1", "x");
    WriteFile(day + "/IMG_0001.JPG", "photo");
    WriteFile(tmp / "outside.jpg", "not the card's");
    fs::create_symlink(tmp / "outside.jpg", day + "/.fotoimport-LiNk00");
    fs::create_directories(day + "/.fotoimport-dir000");

    // Another import (another platform, as another process would be) is
    // staging copies into the same folder, and so is this one.
    auto other = CreatePlatform();
    auto platform = CreatePlatform();
    std::unique_ptr<TStagedCopy> othersCopy;
    std::unique_ptr<TStagedCopy> ownCopy;
    ASSERT_TRUE(other->StageCopy(tmp / "card/a.jpg", day + "/b.jpg", othersCopy));
    ASSERT_TRUE(platform->StageCopy(tmp / "card/a.jpg", day + "/c.jpg", ownCopy));
    ASSERT_EQ(Temporaries(day).size(), 9u) << testing::PrintToString(Temporaries(day));

    int removed = -1;
    const TResult cleaned = platform->RemoveStaleTemporaries(day, removed);
    ASSERT_TRUE(cleaned) << cleaned.Text();
    EXPECT_EQ(removed, 2);
    EXPECT_FALSE(PathExists(day + "/.fotoimport-a1B2c3"));
    EXPECT_FALSE(PathExists(day + "/.fotoimport-Zz9900"));
    for (const char* kept : {".fotoimport-toolong1", ".fotoimport-ab", ".fotoimport-a_b.c1", "IMG_0001.JPG"})
        EXPECT_TRUE(PathExists(day + "/" + kept)) << kept;
    EXPECT_TRUE(fs::is_symlink(day + "/.fotoimport-LiNk00"));
    EXPECT_EQ(ReadFile(tmp / "outside.jpg"), "not the card's");
    EXPECT_TRUE(fs::is_directory(day + "/.fotoimport-dir000"));

    // Both copies in flight survived and get their names.
    EXPECT_TRUE(other->FinishCopy(*othersCopy));
    EXPECT_TRUE(platform->FinishCopy(*ownCopy));
    othersCopy.reset();
    ownCopy.reset();
    EXPECT_EQ(ReadFile(day + "/b.jpg"), photo);
    EXPECT_EQ(ReadFile(day + "/c.jpg"), photo);

    // An import in another process writes a copy: its file stays while that
    // process lives, and is left over once the process is killed.
    const size_t others = Temporaries(day).size();
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
    const size_t seen = Temporaries(day).size();
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    ASSERT_EQ(answer, '1');
    ASSERT_TRUE(whileWriting);
    EXPECT_EQ(removed, 0) << "the other process is still writing it";
    EXPECT_EQ(seen, others + 1);
    ASSERT_TRUE(platform->RemoveStaleTemporaries(day, removed));
    EXPECT_EQ(removed, 1) << "the killed run's copy is left over";
    EXPECT_EQ(Temporaries(day).size(), others);
    EXPECT_FALSE(PathExists(day + "/d.jpg"));

    EXPECT_EQ(platform->RemoveStaleTemporaries(tmp / "none", removed).Kind(), TFailure::NotFound);
}

TEST(LinuxPlatform, LogIsAppendedForTheUserAloneAndRotatedAtItsSize)
{
    TTempDir tmp;
    auto platform = CreatePlatform();
    const std::string log = tmp / "state/fotoimport/import.log";
    ASSERT_TRUE(platform->AppendToLog(log, "one\n", 20));
    ASSERT_TRUE(platform->AppendToLog(log, "two\n", 20));
    EXPECT_EQ(ReadFile(log), "one\ntwo\n");
    struct stat st
    {
    };
    ASSERT_EQ(::stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat((tmp / "state/fotoimport").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // At its size the log becomes the older one, which it replaces.
    ASSERT_TRUE(platform->AppendToLog(log, "three-three\n", 20)); // 8 + 12 bytes: at the limit now
    EXPECT_FALSE(PathExists(log + ".1"));
    ASSERT_TRUE(platform->AppendToLog(log, "four\n", 20));
    EXPECT_EQ(ReadFile(log + ".1"), "one\ntwo\nthree-three\n");
    EXPECT_EQ(ReadFile(log), "four\n");
    ASSERT_TRUE(platform->AppendToLog(log, std::string(30, 'x') + "\n", 20));
    ASSERT_TRUE(platform->AppendToLog(log, "six\n", 20));
    EXPECT_EQ(ReadFile(log + ".1"), "four\n" + std::string(30, 'x') + "\n");
    EXPECT_EQ(ReadFile(log), "six\n");

    // The log is never written through a link.
    WriteFile(tmp / "elsewhere.txt", "keep");
    fs::create_symlink(tmp / "elsewhere.txt", tmp / "state/linked.log");
    EXPECT_FALSE(platform->AppendToLog(tmp / "state/linked.log", "x\n", 1000));
    EXPECT_EQ(ReadFile(tmp / "elsewhere.txt"), "keep");
    WriteFile(tmp / "blocked", "a file");
    EXPECT_EQ(platform->AppendToLog(tmp / "blocked/import.log", "x\n", 1000).Kind(), TFailure::NotFound);
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

TEST(LinuxPlatform, CopyNeverReplacesAndNeverLeavesAPartialFile)
{
    TTempDir tmp;
    const std::string photo = PatternBytes((size_t{9} << 20) + 12345, 7); // more than one copy chunk
    WriteFile(tmp / "card/a.jpg", photo);
    SetModifiedTime(tmp / "card/a.jpg", 2005, 7, 14);
    fs::create_directories(tmp / "out");

    auto platform = CreatePlatform();
    const TResult copied = platform->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "out/a.jpg");
    ASSERT_TRUE(copied) << copied.Text();
    EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo);
    EXPECT_EQ(ModifiedTime(tmp / "out/a.jpg"), ModifiedTime(tmp / "card/a.jpg"));
    struct stat st
    {
    };
    ::stat((tmp / "out/a.jpg").c_str(), &st);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

    // Each refusal says what was wrong and with which path.
    WriteFile(tmp / "out/b.jpg", "mine");
    struct TCase
    {
        std::string Src;
        std::string Dst;
        TFailure Kind;
        std::string Path;
        int OsError;
    };
    const TCase cases[] = {
        {tmp / "card/a.jpg", tmp / "out/b.jpg", TFailure::Exists, tmp / "out/b.jpg", EEXIST},
        {tmp / "card/none.jpg", tmp / "out/c.jpg", TFailure::NotFound, tmp / "card/none.jpg", ENOENT},
        {tmp / "card/a.jpg", tmp / "nofolder/c.jpg", TFailure::NotFound, tmp / "nofolder", ENOENT},
        {tmp / "card", tmp / "out/d.jpg", TFailure::NotSafe, tmp / "card", 0},
        {"", tmp / "out/e.jpg", TFailure::NotFound, "", ENOENT},
    };
    for (const TCase& c : cases) {
        const TResult r = platform->CopyNoOverwrite(c.Src, c.Dst);
        EXPECT_EQ(r.Kind(), c.Kind) << c.Src << " -> " << c.Dst << ": " << r.Text();
        EXPECT_EQ(r.Path(), c.Path) << c.Src;
        EXPECT_EQ(r.OsError(), c.OsError) << c.Src;
        EXPECT_FALSE(r.Message().empty()) << c.Src;
    }
    EXPECT_EQ(ReadFile(tmp / "out/b.jpg"), "mine");
    EXPECT_EQ(ListTree(tmp / "out"), (std::vector<std::string>{"a.jpg", "b.jpg"}))
        << "no partial or temporary file remains";
}

TEST(LinuxPlatform, StagedCopiesGetTheirNameOnlyWhenFinished)
{
    TTempDir tmp;
    const std::string photo = PatternBytes(200000, 5);
    WriteFile(tmp / "card/a.jpg", photo);
    fs::create_directories(tmp / "out");
    auto platform = CreatePlatform();

    std::unique_ptr<TStagedCopy> first;
    std::unique_ptr<TStagedCopy> second;
    std::unique_ptr<TStagedCopy> dropped;
    ASSERT_TRUE(platform->StageCopy(tmp / "card/a.jpg", tmp / "out/a.jpg", first));
    ASSERT_TRUE(platform->StageCopy(tmp / "card/a.jpg", tmp / "out/a.jpg", second));
    ASSERT_TRUE(platform->StageCopy(tmp / "card/a.jpg", tmp / "out/d.jpg", dropped));
    ASSERT_TRUE(first && second && dropped);
    EXPECT_FALSE(PathExists(tmp / "out/a.jpg")) << "no name before the copy is finished";
    std::unique_ptr<TStagedCopy> none;
    EXPECT_EQ(platform->StageCopy(tmp / "card/none.jpg", tmp / "out/n.jpg", none).Kind(), TFailure::NotFound);
    EXPECT_EQ(none, nullptr);

    EXPECT_TRUE(platform->FinishCopy(*first));
    const TResult taken = platform->FinishCopy(*second);
    EXPECT_EQ(taken.Kind(), TFailure::Exists) << "the name was taken meanwhile";
    EXPECT_EQ(taken.Path(), tmp / "out/a.jpg");
    first.reset();
    second.reset();
    dropped.reset();
    EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo);
    EXPECT_EQ(ListTree(tmp / "out"), std::vector<std::string>{"a.jpg"});
    EXPECT_TRUE(platform->FlushFolders());

    // A folder that vanished before its flush is reported.
    EXPECT_EQ(platform->StageCopy(tmp / "card/a.jpg", tmp / "out/sub/x.jpg", first).Kind(),
              TFailure::NotFound);
    fs::create_directories(tmp / "gone");
    ASSERT_TRUE(platform->StageCopy(tmp / "card/a.jpg", tmp / "gone/x.jpg", first));
    ASSERT_TRUE(platform->FinishCopy(*first));
    first.reset();
    fs::remove_all(tmp / "gone");
    const TResult flushed = platform->FlushFolders();
    EXPECT_EQ(flushed.Kind(), TFailure::NotFound);
    EXPECT_EQ(flushed.Path(), tmp / "gone");
    EXPECT_TRUE(platform->FlushFolders()) << "the list of folders starts afresh";
}

TEST(LinuxPlatform, MoveNeverReplacesAndSaysWhy)
{
    TTempDir tmp;
    const std::string photo = PatternBytes(300000, 3);
    fs::create_directories(tmp / "out");
    auto platform = CreatePlatform();

    WriteFile(tmp / "card/a.jpg", photo);
    ASSERT_TRUE(platform->MovePhoto(tmp / "card/a.jpg", tmp / "out/a.jpg"));
    EXPECT_FALSE(PathExists(tmp / "card/a.jpg"));
    EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo);

    WriteFile(tmp / "card/a.jpg", "second");
    const TResult taken = platform->MovePhoto(tmp / "card/a.jpg", tmp / "out/a.jpg");
    EXPECT_EQ(taken.Kind(), TFailure::Exists);
    EXPECT_EQ(taken.Path(), tmp / "out/a.jpg");
    EXPECT_EQ(ReadFile(tmp / "card/a.jpg"), "second");
    EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo);

    const TResult gone = platform->MovePhoto(tmp / "card/none.jpg", tmp / "out/n.jpg");
    EXPECT_EQ(gone.Kind(), TFailure::NotFound);
    EXPECT_EQ(gone.Path(), tmp / "card/none.jpg");
    const TResult noFolder = platform->MovePhoto(tmp / "card/a.jpg", tmp / "nofolder/a.jpg");
    EXPECT_EQ(noFolder.Kind(), TFailure::NotFound);
    EXPECT_EQ(noFolder.Path(), tmp / "nofolder/a.jpg");
    EXPECT_EQ(ReadFile(tmp / "card/a.jpg"), "second");
}

TEST(LinuxPlatform, ReplaceKeepsModeAndTimesAndLeavesNoTemporaryFile)
{
    TTempDir tmp;
    const std::string target = tmp / "day/a.jpg";
    WriteFile(target, "old contents");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const timespec times[2] = {{1000000000, 123456789}, {1120000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, target.c_str(), times, 0), 0);
    auto platform = CreatePlatform();

    // Several pieces, an empty one among them, written one after the other.
    const std::string head = "\xFF\xD8 new";
    const std::string middle = PatternBytes(100000, 4);
    const TDataPiece pieces[] = {
        {head.data(), head.size()}, {nullptr, 0}, {middle.data(), middle.size()}, {head.data() + 2, 1}};
    const TResult replaced = platform->ReplaceFileContents(target, pieces);
    ASSERT_TRUE(replaced) << replaced.Text();
    struct stat st
    {
    };
    ASSERT_EQ(::stat(target.c_str(), &st), 0); // before reading it sets the access time
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
    EXPECT_EQ(st.st_atim.tv_sec, times[0].tv_sec);
    EXPECT_EQ(st.st_atim.tv_nsec, times[0].tv_nsec);
    EXPECT_EQ(ReadFile(target), head + middle + head.substr(2, 1));
    EXPECT_EQ(ListTree(tmp / "day"), std::vector<std::string>{"a.jpg"});

    // Nothing to replace: no file, a folder, no folder.
    const TResult missing = platform->ReplaceFileContents(tmp / "day/none.jpg", pieces);
    EXPECT_EQ(missing.Kind(), TFailure::NotFound);
    EXPECT_EQ(missing.Path(), tmp / "day/none.jpg");
    EXPECT_EQ(platform->ReplaceFileContents(tmp / "day", pieces).Kind(), TFailure::NotSafe);
    EXPECT_EQ(platform->ReplaceFileContents(tmp / "no/a.jpg", pieces).Kind(), TFailure::NotFound);
    EXPECT_FALSE(PathExists(tmp / "day/none.jpg"));
    EXPECT_EQ(ListTree(tmp / "day"), std::vector<std::string>{"a.jpg"});
}

TEST(LinuxPlatform, FolderAndFileTestsAndNames)
{
    TTempDir tmp;
    auto platform = CreatePlatform();
    WriteFile(tmp / "f.jpg", "x");
    fs::create_symlink(tmp / "gone", tmp / "dangling");
    EXPECT_TRUE(platform->DirectoryExists(tmp.Path()));
    EXPECT_FALSE(platform->DirectoryExists(tmp / "f.jpg"));
    EXPECT_FALSE(platform->DirectoryExists(""));
    EXPECT_TRUE(platform->FileExists(tmp / "f.jpg"));
    EXPECT_TRUE(platform->FileExists(tmp / "dangling")) << "the name is taken";
    EXPECT_FALSE(platform->FileExists(tmp.Path()));
    EXPECT_FALSE(platform->FileExists(tmp / "none"));

    EXPECT_TRUE(platform->CreateDir(tmp / "one"));
    EXPECT_EQ(platform->CreateDir(tmp / "one").Kind(), TFailure::Exists) << "one level, and only once";
    EXPECT_EQ(platform->CreateDir(tmp / "a/b").Kind(), TFailure::NotFound);
    EXPECT_TRUE(platform->ForceDirectories(tmp / "a/b/c/"));
    EXPECT_TRUE(platform->DirectoryExists(tmp / "a/b/c"));
    EXPECT_TRUE(platform->ForceDirectories(tmp / "a/b/c"));
    const TResult blocked = platform->ForceDirectories(tmp / "f.jpg/sub");
    EXPECT_EQ(blocked.Kind(), TFailure::NotFound) << blocked.Text();
    EXPECT_EQ(blocked.Path(), tmp / "f.jpg") << "the file in the way is named";

    EXPECT_EQ(platform->ExtractFileName("/media/card/DCIM/100/IMG_1.JPG"), "IMG_1.JPG");
    EXPECT_EQ(platform->ExtractFileName("IMG_1.JPG"), "IMG_1.JPG");
    EXPECT_EQ(platform->ExtractFileName("a\\b.jpg"), "a\\b.jpg");
    EXPECT_EQ(platform->JoinPath("/media/card", "DCIM"), "/media/card/DCIM");
    EXPECT_EQ(platform->JoinPath("/", "DCIM"), "/DCIM");

    SetModifiedTime(tmp / "f.jpg", 2012, 2, 29, 23);
    TLocalDate date;
    ASSERT_TRUE(platform->FileModifiedDate(tmp / "f.jpg", date));
    EXPECT_EQ(date.Year, 2012);
    EXPECT_EQ(date.Month, 2);
    EXPECT_EQ(date.Day, 29);
    EXPECT_EQ(platform->FileModifiedDate(tmp / "none", date).Kind(), TFailure::NotFound);

    const timespec times[2] = {{1000000000, 0}, {1120000000, 370000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (tmp / "f.jpg").c_str(), times, 0), 0);
    int64_t seconds = 0;
    int part = 0;
    ASSERT_TRUE(platform->FileModifiedTime(tmp / "f.jpg", seconds, part));
    EXPECT_EQ(seconds, 1120000000);
    EXPECT_EQ(part, 370000000);
    EXPECT_EQ(platform->FileModifiedTime(tmp / "none", seconds, part).Kind(), TFailure::NotFound);
}

} // namespace

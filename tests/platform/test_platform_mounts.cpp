// The safety steps of copies, moves and replacements on real file systems:
// tmpfs volumes (a second file system, one that fills up, one that is
// read-only) and a FUSE file system that misbehaves like a worn card. Each
// test runs in a mount namespace of its own process.
#include "platform/Platform.h"
#include "tests/support/PrivateMounts.h"
#include "tests/support/ResultPrint.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

time_t ModifiedTime(const std::string& path)
{
    struct stat st
    {
    };
    ::stat(path.c_str(), &st);
    return st.st_mtime;
}

/// Files left below folder whose names are the platform's temporary ones.
std::vector<std::string> Leftovers(const std::string& folder)
{
    std::vector<std::string> found;
    for (const std::string& f : ListTree(folder)) {
        if (fs::path(f).filename().string().rfind(".fotoimport-", 0) == 0)
            found.push_back(f);
    }
    return found;
}

/// Ways a photo reaches its folder: src and dst to the result.
using TTransfer = std::function<TResult(const std::string& src, const std::string& dst)>;

/// Copying, copying staged, and moving, each through platform.
std::vector<std::pair<std::string, TTransfer>> Transfers(TPlatform& platform)
{
    return {
        {"copy",
         [&](const std::string& src, const std::string& dst) { return platform.CopyNoOverwrite(src, dst); }},
        {"staged",
         [&](const std::string& src, const std::string& dst) {
             std::unique_ptr<TStagedCopy> copy;
             TResult r = platform.StageCopy(src, dst, copy);
             return r && copy ? platform.FinishCopy(*copy) : r;
         }},
        {"move",
         [&](const std::string& src, const std::string& dst) { return platform.MovePhoto(src, dst); }},
    };
}

/// What the platform's result says when fn runs as the user uid, in a child
/// process: the error number, the kind and the text.
std::string AsUser(uid_t uid, const std::function<TResult()>& fn)
{
    int ends[2];
    if (::pipe(ends) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        std::string said = "cannot become the user";
        if (::setgid(uid) == 0 && ::setuid(uid) == 0) {
            const TResult r = fn();
            said = std::to_string(r.OsError()) + " " + FailureName(r.Kind()) + ", " + r.Text();
        }
        const bool written = ::write(ends[1], said.data(), said.size()) == static_cast<ssize_t>(said.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(ends[1]);
    std::string said;
    char buffer[256];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        said.append(buffer, static_cast<size_t>(n));
    ::close(ends[0]);
    ::waitpid(child, nullptr, 0);
    return said;
}

class LinuxMounts : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string why;
        if (!TPrivateMounts::Enter(why))
            GTEST_SKIP() << why;
    }
    void MountTmpfs(const std::string& folder, size_t bytes)
    {
        std::string why;
        ASSERT_TRUE(Mounts.Tmpfs(folder, bytes, why)) << why;
    }
    void Bind(const std::string& source, const std::string& target)
    {
        std::string why;
        ASSERT_TRUE(Mounts.Bind(source, target, why)) << why;
    }
    void SetReadOnly(const std::string& folder, bool readOnly)
    {
        std::string why;
        ASSERT_TRUE(Mounts.SetReadOnly(folder, readOnly, why)) << why;
    }
    void MountFuse(const std::string& source, const std::string& folder,
                   const std::vector<std::string>& options)
    {
        std::string why;
        ASSERT_TRUE(Mounts.Fuse(source, folder, options, why)) << why;
    }

    TTempDir Tmp;
    TPrivateMounts Mounts; // after Tmp: unmounted before the folder goes
    std::unique_ptr<TPlatform> Platform = CreatePlatform();
};

TEST_F(LinuxMounts, MoveToAnotherFileSystemCopiesVerifiesAndThenRemoves)
{
    MountTmpfs(Tmp / "card", 8 << 20);
    MountTmpfs(Tmp / "out", 8 << 20);
    const std::string photo = PatternBytes(3 << 20, 9);
    WriteFile(Tmp / "card/a.jpg", photo);
    SetModifiedTime(Tmp / "card/a.jpg", 2005, 7, 14);
    const time_t mtime = ModifiedTime(Tmp / "card/a.jpg");

    const TResult moved = Platform->MovePhoto(Tmp / "card/a.jpg", Tmp / "out/a.jpg");
    ASSERT_TRUE(moved) << moved.Text();
    EXPECT_FALSE(PathExists(Tmp / "card/a.jpg"));
    EXPECT_EQ(ReadFile(Tmp / "out/a.jpg"), photo);
    EXPECT_EQ(ModifiedTime(Tmp / "out/a.jpg"), mtime);

    // Across file systems, too, an existing name is never replaced.
    WriteFile(Tmp / "card/a.jpg", "second");
    const TResult taken = Platform->MovePhoto(Tmp / "card/a.jpg", Tmp / "out/a.jpg");
    EXPECT_EQ(taken.Kind(), TFailure::Exists) << taken.Text();
    EXPECT_EQ(ReadFile(Tmp / "card/a.jpg"), "second");
    EXPECT_EQ(ReadFile(Tmp / "out/a.jpg"), photo);
    EXPECT_EQ(ListTree(Tmp / "out"), std::vector<std::string>{"a.jpg"});
}

TEST_F(LinuxMounts, AVolumeThatFillsUpFailsWithNoSpaceAndKeepsNothingOfTheCopy)
{
    MountTmpfs(Tmp / "card", 4 << 20);
    MountTmpfs(Tmp / "out", 256 << 10);
    const std::string photo = PatternBytes(1 << 20, 5);
    WriteFile(Tmp / "card/a.jpg", photo);
    const std::string small = PatternBytes(20000, 6);
    WriteFile(Tmp / "card/s.jpg", small);
    const std::string dst = Tmp / "out/a.jpg";

    const std::pair<const char*, std::function<TResult()>> ways[] = {
        {"copy", [&] { return Platform->CopyNoOverwrite(Tmp / "card/a.jpg", dst); }},
        {"staged copy",
         [&] {
             std::unique_ptr<TStagedCopy> copy;
             TResult r = Platform->StageCopy(Tmp / "card/a.jpg", dst, copy);
             return r && copy ? Platform->FinishCopy(*copy) : r;
         }},
        {"move", [&] { return Platform->MovePhoto(Tmp / "card/a.jpg", dst); }},
    };
    for (const auto& [name, way] : ways) {
        const TResult r = way();
        EXPECT_EQ(r.Kind(), TFailure::NoSpace) << name << ": " << r.Text();
        EXPECT_EQ(r.OsError(), ENOSPC) << name;
        EXPECT_EQ(r.Path(), dst) << name;
        EXPECT_EQ(ReadFile(Tmp / "card/a.jpg"), photo) << name;
        EXPECT_TRUE(ListTree(Tmp / "out").empty()) << name << ": no partial or temporary file";
    }
    // The space of the torn copies was given back: a small photo still fits.
    EXPECT_TRUE(Platform->MovePhoto(Tmp / "card/s.jpg", Tmp / "out/s.jpg"));
    EXPECT_EQ(ReadFile(Tmp / "out/s.jpg"), small);

    // A replacement that does not fit leaves the old contents.
    const TDataPiece pieces[] = {{photo.data(), photo.size()}};
    const TResult replaced = Platform->ReplaceFileContents(Tmp / "out/s.jpg", pieces);
    EXPECT_EQ(replaced.Kind(), TFailure::NoSpace) << replaced.Text();
    EXPECT_EQ(ReadFile(Tmp / "out/s.jpg"), small);
    EXPECT_EQ(ListTree(Tmp / "out"), std::vector<std::string>{"s.jpg"});
}

TEST_F(LinuxMounts, ReadOnlyVolumesAndFoldersAreRefusedAsSuchAndAWriteProtectedCardKeepsItsPhoto)
{
    MountTmpfs(Tmp / "card", 4 << 20);
    MountTmpfs(Tmp / "out", 4 << 20);
    const std::string photo = PatternBytes(500000, 2);
    WriteFile(Tmp / "card/a.jpg", photo);
    WriteFile(Tmp / "out/old.jpg", "old");
    const std::string base = Tmp / "out/Eigene Bilder";
    const std::string day = base + "/20050714";
    fs::create_directories(base);

    SetReadOnly(Tmp / "out", true);
    const TResult copied = Platform->CopyNoOverwrite(Tmp / "card/a.jpg", Tmp / "out/a.jpg");
    EXPECT_EQ(copied.Kind(), TFailure::Access) << copied.Text();
    EXPECT_EQ(copied.OsError(), EROFS);
    const TDataPiece pieces[] = {{photo.data(), photo.size()}};
    EXPECT_EQ(Platform->ReplaceFileContents(Tmp / "out/old.jpg", pieces).Kind(), TFailure::Access);
    EXPECT_EQ(ReadFile(Tmp / "out/old.jpg"), "old");
    // The day folder could not be made there: that is why it is missing, and what is said.
    std::vector<std::pair<std::string, TResult>> intoDay;
    for (const auto& [way, transfer] : Transfers(*Platform))
        intoDay.emplace_back(way, transfer(Tmp / "card/a.jpg", day + "/a.jpg"));
    int removed = 0;
    intoDay.emplace_back("clean", Platform->RemoveStaleTemporaries(day, removed));
    for (const auto& [way, r] : intoDay) {
        EXPECT_EQ(r.Kind(), TFailure::Access) << way << ": " << r.Text();
        EXPECT_EQ(r.OsError(), EROFS) << way;
        EXPECT_EQ(r.Path(), base) << way;
        EXPECT_NE(r.Message().find("Read-only"), std::string::npos) << way << ": " << r.Text();
    }
    SetReadOnly(Tmp / "out", false);
    // A folder the user may not write to (root may write anywhere).
    ASSERT_EQ(::chmod(Tmp.Path().c_str(), 0755), 0);
    EXPECT_EQ(AsUser(65534, [&] { return Platform->CopyNoOverwrite(Tmp / "card/a.jpg", day + "/a.jpg"); }),
              std::to_string(EACCES) + " access denied, Permission denied: " + base);
    EXPECT_EQ(ReadFile(Tmp / "card/a.jpg"), photo);

    // The copy is made and verified, the card refuses to let the photo go.
    // A caller that wants all or nothing gets the copy taken back.
    SetReadOnly(Tmp / "card", true);
    const TResult moved = Platform->MovePhoto(Tmp / "card/a.jpg", Tmp / "out/a.jpg");
    EXPECT_EQ(moved.Kind(), TFailure::Access) << moved.Text();
    EXPECT_EQ(moved.Path(), Tmp / "card/a.jpg");
    EXPECT_EQ(ReadFile(Tmp / "card/a.jpg"), photo);
    EXPECT_EQ(ListTree(Tmp / "out"), std::vector<std::string>{"old.jpg"});

    // A caller that takes a kept source keeps the verified copy and learns
    // why the photo is still on the card.
    TResult kept;
    const TResult keptCopy = Platform->MovePhoto(Tmp / "card/a.jpg", Tmp / "out/a.jpg", &kept);
    ASSERT_TRUE(keptCopy) << keptCopy.Text();
    EXPECT_EQ(ReadFile(Tmp / "out/a.jpg"), photo);
    EXPECT_EQ(ReadFile(Tmp / "card/a.jpg"), photo);
    EXPECT_EQ(kept.Kind(), TFailure::Access) << kept.Text();
    EXPECT_EQ(kept.OsError(), EROFS);
    EXPECT_EQ(kept.Path(), Tmp / "card/a.jpg");
    EXPECT_FALSE(kept.Message().empty());
    EXPECT_EQ(ListTree(Tmp / "out"), (std::vector<std::string>{"a.jpg", "old.jpg"}));

    // A move that goes through leaves the note alone.
    SetReadOnly(Tmp / "card", false);
    WriteFile(Tmp / "card/b.jpg", photo);
    TResult none;
    ASSERT_TRUE(Platform->MovePhoto(Tmp / "card/b.jpg", Tmp / "out/b.jpg", &none));
    EXPECT_TRUE(none);
    EXPECT_FALSE(PathExists(Tmp / "card/b.jpg"));
}

TEST_F(LinuxMounts, ACardReachesNothingOutsideItself)
{
    // The user's own files, which a crafted card points at.
    const std::string home = Tmp / "home";
    WriteFile(home + "/.ssh/id_ed25519", "PRIVATE KEY");
    WriteFile(home + "/Pictures/mine.jpg", "the user's photo");
    WriteFile(home + "/secret.jpg", "bound over a photo");

    MountTmpfs(Tmp / "card", 8 << 20);
    const std::string dcim = Tmp / "card/DCIM";
    WriteFile(dcim + "/100CANON/IMG_0001.JPG", "photo 1");
    WriteFile(dcim + "/100CANON/IMG_0002.JPG", "photo 2");
    WriteFile(dcim + "/100CANON/BOUND.JPG", "the card's own");
    fs::create_symlink(home + "/.ssh/id_ed25519", dcim + "/100CANON/KEY.JPG");
    fs::create_symlink("/proc/self/environ", dcim + "/100CANON/ENV.JPG");
    fs::create_symlink("../../../home/secret.jpg", dcim + "/100CANON/REL.JPG");
    fs::create_directory_symlink(home + "/Pictures", dcim + "/102LINK");
    fs::create_directories(dcim + "/101MOUNT");
    MountTmpfs(dcim + "/101MOUNT", 1 << 20);
    WriteFile(dcim + "/101MOUNT/IMG_9999.JPG", "another volume");
    fs::create_directories(dcim + "/103BIND");
    Bind(home + "/Pictures", dcim + "/103BIND");
    Bind(home + "/secret.jpg", dcim + "/100CANON/BOUND.JPG");

    EXPECT_TRUE(Platform->CardFolderExists(Tmp / "card", "DCIM"));
    TStringList list;
    Platform->FindFiles(dcim, "*.jpg", list, true, true);
    std::vector<std::string> found = list.Items();
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found,
              (std::vector<std::string>{dcim + "/100CANON/IMG_0001.JPG", dcim + "/100CANON/IMG_0002.JPG"}));

    // A link is not copied even when named directly.
    fs::create_directories(Tmp / "out");
    const TResult key = Platform->CopyNoOverwrite(dcim + "/100CANON/KEY.JPG", Tmp / "out/KEY.JPG");
    EXPECT_EQ(key.Kind(), TFailure::NotSafe) << key.Text();
    const TResult moved = Platform->MovePhoto(dcim + "/100CANON/ENV.JPG", Tmp / "out/ENV.JPG");
    EXPECT_FALSE(moved) << "a link on another file system than the target is not copied";
    EXPECT_TRUE(ListTree(Tmp / "out").empty());

    // A DCIM that is a link to the user's pictures, another volume, or the
    // user's pictures bound there is not the card's photo folder.
    MountTmpfs(Tmp / "card2", 1 << 20);
    fs::create_directory_symlink(home + "/Pictures", Tmp / "card2/DCIM");
    EXPECT_FALSE(Platform->CardFolderExists(Tmp / "card2", "DCIM"));
    Platform->FindFiles(Tmp / "card2/DCIM", "*.jpg", list, true, true);
    EXPECT_EQ(list.Count(), 0);
    MountTmpfs(Tmp / "card3", 1 << 20);
    MountTmpfs(Tmp / "card3/DCIM", 1 << 20);
    EXPECT_FALSE(Platform->CardFolderExists(Tmp / "card3", "DCIM"));
    MountTmpfs(Tmp / "card4", 1 << 20);
    fs::create_directories(Tmp / "card4/DCIM");
    Bind(home + "/Pictures", Tmp / "card4/DCIM");
    EXPECT_FALSE(Platform->CardFolderExists(Tmp / "card4", "DCIM"));
    EXPECT_EQ(ReadFile(home + "/Pictures/mine.jpg"), "the user's photo");
}

TEST_F(LinuxMounts, ADocumentsFolderOnADiskThatIsNotAttachedIsNotMadeOnItsMountPoint)
{
    const std::string home = Tmp / "home";
    fs::create_directories(home);
    fs::create_directories(Tmp / "mnt/ext");
    TPlatformOptions options;
    options.HomeFolder = home;
    auto platform = CreatePlatform(options);

    const std::string documents = Tmp / "mnt/ext/Documents";
    const TResult absent = platform->ForceUserFolder(documents);
    EXPECT_EQ(absent.Kind(), TFailure::Unavailable) << absent.Text();
    EXPECT_EQ(absent.Path(), documents);
    EXPECT_TRUE(ListTree(Tmp / "mnt").empty()) << "nothing is written on the empty mount point";

    // Attached, the disk's documents folder is used as it is.
    MountTmpfs(Tmp / "mnt/ext", 1 << 20);
    fs::create_directories(documents);
    EXPECT_TRUE(platform->ForceUserFolder(documents));
    // Inside the home folder, on whatever volume, a missing folder is made.
    MountTmpfs(home + "/disk", 1 << 20);
    EXPECT_TRUE(platform->ForceUserFolder(home + "/disk/Documents"));
    EXPECT_TRUE(fs::is_directory(home + "/disk/Documents"));
}

TEST_F(LinuxMounts, AFlakyCardIsReadAgainAndACardWrongAtEveryReadLeavesNothing)
{
    std::string why;
    if (!TPrivateMounts::FuseAvailable(why))
        GTEST_SKIP() << why;
    const std::string photo = PatternBytes(700000, 8);
    // A reader that gets one bit wrong the first time, with and without the
    // page cache: the verification must reach the card again, not the cached
    // bytes of the first read, and the photo is copied again. A reader that
    // is wrong at every read never agrees with itself.
    struct TCard
    {
        const char* Name;
        std::vector<std::string> Options;
        bool Arrives;
    };
    const TCard cards[] = {
        {"flaky", {"--flip-middle", "once"}, true},
        {"flaky, uncached", {"--flip-middle", "once", "--direct-io"}, true},
        {"failing", {"--flip-middle", "always"}, false},
    };
    int n = 0;
    for (const TCard& card : cards) {
        const std::string store = Tmp / ("store" + std::to_string(n));
        const std::string mount = Tmp / ("card" + std::to_string(n));
        const std::string out = Tmp / ("out" + std::to_string(n++));
        for (const auto& [way, transfer] : Transfers(*Platform))
            WriteFile(store + "/" + way + ".jpg", photo);
        fs::create_directories(out);
        MountFuse(store, mount, card.Options);
        for (const auto& [way, transfer] : Transfers(*Platform)) {
            const std::string name = "/" + way + ".jpg";
            SCOPED_TRACE(std::string(card.Name) + ", " + way);
            const TResult r = transfer(mount + name, out + name);
            if (card.Arrives) {
                ASSERT_TRUE(r) << r.Text();
                EXPECT_EQ(ReadFile(out + name), photo);
                EXPECT_EQ(PathExists(store + name), way != "move");
            } else {
                EXPECT_EQ(r.Kind(), TFailure::Mismatch) << r.Text();
                EXPECT_NE(r.Message().find("also when copied again"), std::string::npos) << r.Text();
                EXPECT_FALSE(PathExists(out + name));
                EXPECT_EQ(ReadFile(store + name), photo);
            }
        }
        EXPECT_TRUE(Leftovers(out).empty()) << card.Name;
    }
}

TEST_F(LinuxMounts, ATargetDiskThatStoresAWrongByteKeepsThePhotoOnTheCardAndTheOldContents)
{
    std::string why;
    if (!TPrivateMounts::FuseAvailable(why))
        GTEST_SKIP() << why;
    // The copy's own pages in memory hold the right bytes; only a read from
    // the disk shows what it stored. Written again, it is stored wrongly again.
    const std::string photo = PatternBytes(700000, 6);
    MountTmpfs(Tmp / "card", 8 << 20);
    WriteFile(Tmp / "store/old.jpg", "old");
    MountFuse(Tmp / "store", Tmp / "out", {"--corrupt-writes"});

    for (const auto& [way, transfer] : Transfers(*Platform)) {
        WriteFile(Tmp / ("card/" + way + ".jpg"), photo);
        const TResult r = transfer(Tmp / ("card/" + way + ".jpg"), Tmp / ("out/" + way + ".jpg"));
        EXPECT_EQ(r.Kind(), TFailure::Mismatch) << way << ": " << r.Text();
        EXPECT_EQ(ReadFile(Tmp / ("card/" + way + ".jpg")), photo) << way;
    }
    const TDataPiece pieces[] = {{photo.data(), 1000}, {photo.data() + 1000, photo.size() - 1000}};
    const TResult replaced = Platform->ReplaceFileContents(Tmp / "out/old.jpg", pieces);
    EXPECT_EQ(replaced.Kind(), TFailure::Mismatch) << replaced.Text();
    EXPECT_NE(replaced.Message().find("also when written again"), std::string::npos) << replaced.Text();
    EXPECT_EQ(ReadFile(Tmp / "store/old.jpg"), "old");
    EXPECT_EQ(ListTree(Tmp / "store"), std::vector<std::string>{"old.jpg"})
        << "neither a copy nor a temporary file remains";
}

TEST_F(LinuxMounts, ACardWhoseReadsFailMidwayKeepsThePhotoAndLeavesNoPartialFile)
{
    std::string why;
    if (!TPrivateMounts::FuseAvailable(why))
        GTEST_SKIP() << why;
    const std::string photo = PatternBytes(300000, 4);
    WriteFile(Tmp / "store/a.jpg", photo);
    fs::create_directories(Tmp / "out");
    MountFuse(Tmp / "store", Tmp / "card", {"--fail-reads-after", "100000", "--direct-io"});

    const std::pair<const char*, std::function<TResult()>> ways[] = {
        {"copy", [&] { return Platform->CopyNoOverwrite(Tmp / "card/a.jpg", Tmp / "out/a.jpg"); }},
        {"move", [&] { return Platform->MovePhoto(Tmp / "card/a.jpg", Tmp / "out/a.jpg"); }},
    };
    for (const auto& [name, way] : ways) {
        const TResult r = way();
        EXPECT_EQ(r.Kind(), TFailure::Io) << name << ": " << r.Text();
        EXPECT_EQ(r.OsError(), EIO) << name;
        EXPECT_EQ(r.Path(), Tmp / "card/a.jpg") << name;
        EXPECT_EQ(ReadFile(Tmp / "store/a.jpg"), photo) << name;
        EXPECT_TRUE(ListTree(Tmp / "out").empty()) << name;
    }
}

/// The lines of the file that hold text.
int LinesWith(const std::string& file, const std::string& text)
{
    std::istringstream lines(ReadFile(file));
    int n = 0;
    for (std::string line; std::getline(lines, line);)
        n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
}

TEST_F(LinuxMounts, WithoutANoReplaceRenameNamesAreLinkedOrClaimedAndNothingIsEverReplaced)
{
    std::string why;
    if (!TPrivateMounts::FuseAvailable(why) || !TPrivateMounts::ExfatAvailable(why))
        GTEST_SKIP() << why;
    const std::string photo = PatternBytes(400000, 1);
    MountTmpfs(Tmp / "card", 8 << 20);
    WriteFile(Tmp / "card/a.jpg", photo);
    const std::string log = Tmp / "requests";
    // FUSE file systems answer renameat2 with RENAME_NOREPLACE by EINVAL.
    // Some have hard links; FAT, exFAT and NTFS through FUSE have none.
    struct TFileSystem
    {
        const char* Name;
        bool Links;
        std::function<void(const std::string& root)> Mount;
    };
    const TFileSystem systems[] = {
        {"fuse", true,
         [&](const std::string& root) {
             MountFuse(Tmp / "store1", root, {"--log", log});
         }},
        {"fuse without links", false,
         [&](const std::string& root) { MountFuse(Tmp / "store2", root, {"--no-links"}); }},
        {"exfat-fuse", false,
         [&](const std::string& root) {
             std::string failed;
             ASSERT_TRUE(Mounts.Exfat(root, 32 << 20, failed)) << failed;
         }},
    };
    for (const TFileSystem& system : systems) {
        SCOPED_TRACE(system.Name);
        const std::string root = Tmp / system.Name;
        fs::create_directories(Tmp / "store1");
        fs::create_directories(Tmp / "store2");
        ASSERT_NO_FATAL_FAILURE(system.Mount(root));
        const std::string out = root + "/out";
        WriteFile(out + "/mine.jpg", "mine");
        ASSERT_NE(::renameat2(AT_FDCWD, (out + "/mine.jpg").c_str(), AT_FDCWD, (out + "/x").c_str(),
                              RENAME_NOREPLACE),
                  0);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(::link((out + "/mine.jpg").c_str(), (out + "/x").c_str()) == 0, system.Links);
        fs::remove(out + "/x");

        ASSERT_TRUE(Platform->CopyNoOverwrite(Tmp / "card/a.jpg", out + "/a.jpg"));
        EXPECT_EQ(ReadFile(out + "/a.jpg"), photo);
        EXPECT_EQ(Platform->CopyNoOverwrite(Tmp / "card/a.jpg", out + "/mine.jpg").Kind(), TFailure::Exists);
        std::unique_ptr<TStagedCopy> first;
        std::unique_ptr<TStagedCopy> second;
        ASSERT_TRUE(Platform->StageCopy(Tmp / "card/a.jpg", out + "/s.jpg", first));
        ASSERT_TRUE(Platform->StageCopy(Tmp / "card/a.jpg", out + "/s.jpg", second));
        EXPECT_TRUE(Platform->FinishCopy(*first));
        EXPECT_EQ(Platform->FinishCopy(*second).Kind(), TFailure::Exists);
        first.reset();
        second.reset();
        // From another file system a move is a verified copy; on this one a rename.
        WriteFile(Tmp / "card/m.jpg", photo);
        ASSERT_TRUE(Platform->MovePhoto(Tmp / "card/m.jpg", out + "/m.jpg"));
        EXPECT_FALSE(PathExists(Tmp / "card/m.jpg"));
        WriteFile(root + "/card/b.jpg", photo);
        WriteFile(root + "/card/c.jpg", "c");
        ASSERT_TRUE(Platform->MovePhoto(root + "/card/b.jpg", out + "/b.jpg"));
        EXPECT_FALSE(PathExists(root + "/card/b.jpg"));
        EXPECT_EQ(Platform->MovePhoto(root + "/card/c.jpg", out + "/mine.jpg").Kind(), TFailure::Exists);
        EXPECT_EQ(ReadFile(root + "/card/c.jpg"), "c");
        const TDataPiece turned[] = {{"turned", 6}};
        ASSERT_TRUE(Platform->ReplaceFileContents(out + "/b.jpg", turned));
        EXPECT_EQ(ReadFile(out + "/b.jpg"), "turned");

        // Two programs copying to one name at once: one gets it, whole.
        constexpr int kRivals = 4;
        std::vector<std::string> rivalPhotos;
        for (int k = 0; k < kRivals; ++k) {
            rivalPhotos.push_back(PatternBytes(300000, 20 + static_cast<unsigned>(k)));
            WriteFile(Tmp / ("card/r" + std::to_string(k) + ".jpg"), rivalPhotos.back());
        }
        std::vector<TResult> results(kRivals);
        std::atomic<int> ready{0};
        std::vector<std::thread> rivals;
        for (int k = 0; k < kRivals; ++k) {
            rivals.emplace_back([&, k] {
                auto own = CreatePlatform();
                ++ready;
                while (ready < kRivals)
                    std::this_thread::yield();
                results[static_cast<size_t>(k)] =
                    own->CopyNoOverwrite(Tmp / ("card/r" + std::to_string(k) + ".jpg"), out + "/race.jpg");
            });
        }
        for (std::thread& rival : rivals)
            rival.join();
        const auto won =
            std::find_if(results.begin(), results.end(), [](const TResult& r) { return r.Ok(); });
        ASSERT_NE(won, results.end());
        EXPECT_EQ(ReadFile(out + "/race.jpg"), rivalPhotos[static_cast<size_t>(won - results.begin())]);
        for (const TResult& r : results)
            EXPECT_TRUE(r.Ok() ? &r == &*won : r.Kind() == TFailure::Exists) << r.Text();

        EXPECT_EQ(ReadFile(out + "/mine.jpg"), "mine");
        const int folderFlushes = LinesWith(log, "fsyncdir /out");
        EXPECT_TRUE(Platform->FlushFolders());
        EXPECT_EQ(LinesWith(log, "fsyncdir /out"),
                  folderFlushes + (system.Name == std::string("fuse") ? 1 : 0))
            << "the copies' names reach a FUSE server's disk, too";
        EXPECT_EQ(ListTree(out),
                  (std::vector<std::string>{"a.jpg", "b.jpg", "m.jpg", "mine.jpg", "race.jpg", "s.jpg"}))
            << "no temporary file or claim remains";
    }
    // A syncfs does not reach a FUSE server: each copy is flushed on its own.
    // Eight copies (one of them to a taken name), the move's copy and the replacement.
    EXPECT_EQ(LinesWith(log, "fsync /out/.fotoimport-"), 10) << ReadFile(log);
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
        .count();
}

TEST_F(LinuxMounts, ACopyKilledAtAnyStepOfClaimingItsNameLeavesNothingTheNextRunCannotClean)
{
    std::string why;
    if (!TPrivateMounts::FuseAvailable(why))
        GTEST_SKIP() << why;
    const std::string photo = PatternBytes(300000, 3);
    WriteFile(Tmp / "card/a.jpg", photo);
    // The copy to a file system without links or a no-replace rename waits
    // at one request, which is never carried out, and is killed there.
    struct TStep
    {
        const char* Stall;
        size_t Temporaries; ///< temporary files the killed copy leaves
        bool Claimed;       ///< whether the photo's name holds the empty claim
        bool Named;         ///< whether it holds the whole photo
    };
    const TStep steps[] = {
        {"write:2", 1, false, false},  // the temporary half written
        {"fsync:1", 1, false, false},  // written, not yet flushed
        {"create:2", 1, false, false}, // verified, the claim's record being made
        {"create:3", 2, false, false}, // the record made, the name being claimed
        {"rename:1", 2, true, false},  // the name claimed, the copy being renamed over it
        {"unlink:1", 1, false, true},  // named, the record being removed
    };
    int n = 0;
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Stall);
        const std::string store = Tmp / ("store" + std::to_string(n));
        const std::string root = Tmp / ("fs" + std::to_string(n));
        const std::string hold = Tmp / ("hold" + std::to_string(n));
        const std::string stalled = Tmp / ("stalled" + std::to_string(n++));
        fs::create_directories(store + "/out");
        WriteFile(hold, "");
        MountFuse(store, root,
                  {"--no-links", "--threads", "--stall", step.Stall, "--hold", hold, "--stalled", stalled});
        const pid_t copier = ::fork();
        ASSERT_GE(copier, 0);
        if (copier == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            CreatePlatform()->CopyNoOverwrite(Tmp / "card/a.jpg", root + "/out/a.jpg");
            ::_exit(0);
        }
        const auto start = std::chrono::steady_clock::now();
        while (!PathExists(stalled) && ::waitpid(copier, nullptr, WNOHANG) == 0 &&
               MillisecondsSince(start) < 20000)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::kill(copier, SIGKILL);
        fs::remove(hold);
        int status = 0;
        ::waitpid(copier, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the copy never reached the step";

        EXPECT_EQ(Leftovers(store + "/out").size(), step.Temporaries);
        EXPECT_EQ(PathExists(store + "/out/a.jpg"), step.Claimed || step.Named);
        if (step.Claimed || step.Named) {
            EXPECT_EQ(ReadFile(store + "/out/a.jpg"), step.Named ? photo : "");
        }
        // The next run cleans up first, then copies.
        auto next = CreatePlatform();
        int removed = 0;
        ASSERT_TRUE(next->RemoveStaleTemporaries(root + "/out", removed));
        EXPECT_EQ(removed, static_cast<int>(step.Temporaries) + (step.Claimed ? 1 : 0));
        EXPECT_EQ(ListTree(store + "/out"),
                  step.Named ? std::vector<std::string>{"a.jpg"} : std::vector<std::string>{});
        const TResult again = next->CopyNoOverwrite(Tmp / "card/a.jpg", root + "/out/a.jpg");
        EXPECT_EQ(again.Kind(), step.Named ? TFailure::Exists : TFailure::None) << again.Text();
        EXPECT_EQ(ReadFile(store + "/out/a.jpg"), photo);
        EXPECT_EQ(ListTree(store + "/out"), std::vector<std::string>{"a.jpg"});
    }
}

TEST_F(LinuxMounts, AHungDeviceInGvfsIsPassedOverHoldingOneRequestWhileTheOtherDrivesStay)
{
    std::string why;
    if (!TPrivateMounts::FuseAvailable(why))
        GTEST_SKIP() << why;
    // gvfs's one FUSE mount for all devices: a phone that answers and a camera that hangs. gvfs knows its
    // devices' folders itself; what hangs is the inside of the camera's.
    const std::string store = Tmp / "store";
    fs::create_directories(store + "/mtp:host=Phone/Internal shared storage/DCIM/Camera");
    fs::create_directories(store + "/gphoto2:host=Camera/DCIM");
    const std::string hold = Tmp / "hold";
    WriteFile(hold, "");
    // The camera answers again when the test ends, however it ends, so that it can be unmounted.
    const std::unique_ptr<const std::string, void (*)(const std::string*)> release(
        &hold, [](const std::string* file) { fs::remove(*file); });
    const std::string log = Tmp / "requests";
    const std::string gvfs = Tmp / "runtime/gvfs";
    MountFuse(store, gvfs,
              {"--threads", "--hang", "/gphoto2:host=Camera/DCIM", "--hold", hold, "--log", log});
    // A card beside them.
    fs::create_directories(Tmp / "card");
    WriteFile(Tmp / "mountinfo",
              "30 1 8:1 / /mnt/../" + (Tmp / "card").substr(1) + " rw - vfat /dev/sdb1 rw\n");
    TPlatformOptions options;
    options.MountInfoPath = Tmp / "mountinfo";
    options.RuntimeFolder = Tmp / "runtime";
    options.DevicePatience = std::chrono::milliseconds(300);
    auto platform = CreatePlatform(options);
    const std::vector<std::string> expected = {"/mnt/../" + (Tmp / "card").substr(1),
                                               gvfs + "/mtp:host=Phone/Internal shared storage"};

    auto start = std::chrono::steady_clock::now();
    platform->RefreshDrives();
    EXPECT_LT(MillisecondsSince(start), 3000) << "the hung camera is waited for only a short while";
    std::vector<std::string> drives;
    for (char letter = 'E'; letter <= 'Z'; ++letter) {
        if (std::string root = platform->DriveRoot(letter); !root.empty())
            drives.push_back(root);
    }
    EXPECT_EQ(drives, expected);
    EXPECT_TRUE(platform->DriveQueries()->DriveIsReady(expected[1]));

    // Later refreshes do not wait for it and do not ask it again: its one request still hangs.
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i)
        platform->RefreshDrives();
    EXPECT_LT(MillisecondsSince(start), 1000);
    EXPECT_EQ(platform->DriveRoot('F'), expected[1]);
    EXPECT_EQ(platform->DriveRoot('G'), "");
    EXPECT_EQ(LinesWith(log, "/gphoto2:host=Camera/DCIM"), 1) << ReadFile(log);

    // It answers again: a refresh soon finds it, after the others.
    fs::remove(hold);
    const std::string camera = gvfs + "/gphoto2:host=Camera";
    start = std::chrono::steady_clock::now();
    while (platform->DriveRoot('G') != camera && MillisecondsSince(start) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        platform->RefreshDrives();
    }
    EXPECT_EQ(platform->DriveRoot('G'), camera);
    EXPECT_EQ(platform->DriveRoot('F'), expected[1]);
}

TEST_F(LinuxMounts, ADeviceThatCannotTellItsSizeIsReadyAndAFuseToolsMountIsFoundByItsType)
{
    std::string why;
    if (!TPrivateMounts::FuseAvailable(why))
        GTEST_SKIP() << why;
    // As jmtpfs mounts a phone in the home folder: the storages one level down are the drives.
    const std::string storage = "Interner gemeinsamer Speicher";
    fs::create_directories(Tmp / ("store/" + storage + "/DCIM/Camera"));
    fs::create_directories(Tmp / "store/Card");
    const std::string phone = Tmp / "home/Telefon";
    MountFuse(Tmp / "store", phone, {"--subtype", "jmtpfs", "--no-statfs"});
    TPlatformOptions options;
    options.RuntimeFolder = Tmp / "runtime";
    auto platform = CreatePlatform(options);

    // The real mount table holds the system's own volumes as well: the phone's are the newest.
    std::vector<std::string> drives;
    for (char letter = 'E'; letter <= 'Z'; ++letter) {
        if (std::string root = platform->DriveRoot(letter); !root.empty())
            drives.push_back(root);
    }
    ASSERT_GE(drives.size(), 2u);
    EXPECT_EQ(drives[drives.size() - 2], phone + "/Card");
    EXPECT_EQ(drives.back(), phone + "/" + storage);

    struct statvfs info;
    ASSERT_NE(::statvfs((phone + "/" + storage).c_str(), &info), 0) << "the file system tells no size";
    EXPECT_TRUE(platform->DriveQueries()->DriveIsReady(phone + "/" + storage));
    EXPECT_FALSE(platform->DriveQueries()->DriveIsReady(phone + "/gone"));
    EXPECT_TRUE(platform->DriveQueries()->DriveIsReady(Tmp.Path()));
}

} // namespace

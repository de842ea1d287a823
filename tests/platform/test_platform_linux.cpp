#include "platform/Platform.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::unique_ptr<TPlatform> PlatformWith(const TPlatformOptions& options)
{
    return CreatePlatform(options);
}

std::string MountLine(int id, const std::string& mountPoint)
{
    return std::to_string(id) + " 1 8:1 / " + mountPoint + " rw,relatime shared:1 - vfat /dev/sdb1 rw\n";
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

/// The expected listing, computed independently with std::filesystem.
void ExpectedListing(const fs::path& folder, std::vector<std::string>& out)
{
    std::vector<fs::path> subFolders;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_symlink() ? fs::is_directory(entry.path()) : entry.is_directory()) {
            if (!entry.is_symlink())
                subFolders.push_back(entry.path());
            continue;
        }
        std::string ext = entry.path().extension().string();
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == ".jpg" && fs::is_regular_file(entry.path()))
            out.push_back(entry.path().string());
    }
    for (const fs::path& sub : subFolders)
        ExpectedListing(sub, out);
}

TEST(LinuxPlatform, FindFilesListsOwnFilesBeforeSubFoldersAndNeverFollowsFolderLinks)
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
    EXPECT_EQ(list.Count(), 10);
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
    EXPECT_EQ(list.Count(), 12);
    EXPECT_EQ(list[11].substr(0, dcim.size() + 10), dcim + "/100A/IMG_");

    platform->FindFiles("", "*.jpg", list, true, true);
    EXPECT_EQ(list.Count(), 0);
    platform->FindFiles(tmp / "missing", "*.jpg", list, true, false);
    EXPECT_EQ(list.Count(), 0);
}

time_t ModifiedTime(const std::string& path)
{
    struct stat st
    {
    };
    ::stat(path.c_str(), &st);
    return st.st_mtime;
}

TEST(LinuxPlatform, CopyNeverReplacesAndNeverLeavesAPartialFile)
{
    TTempDir tmp;
    const std::string photo = PatternBytes((size_t{9} << 20) + 12345, 7); // more than one copy chunk
    WriteFile(tmp / "card/a.jpg", photo);
    SetModifiedTime(tmp / "card/a.jpg", 2005, 7, 14);
    fs::create_directories(tmp / "out");

    auto platform = CreatePlatform();
    ASSERT_TRUE(platform->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "out/a.jpg"));
    EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo);
    EXPECT_EQ(ModifiedTime(tmp / "out/a.jpg"), ModifiedTime(tmp / "card/a.jpg"));
    struct stat st
    {
    };
    ::stat((tmp / "out/a.jpg").c_str(), &st);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);

    WriteFile(tmp / "out/b.jpg", "mine");
    EXPECT_FALSE(platform->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "out/b.jpg"));
    EXPECT_EQ(ReadFile(tmp / "out/b.jpg"), "mine");
    EXPECT_FALSE(platform->CopyNoOverwrite(tmp / "card/none.jpg", tmp / "out/c.jpg"));
    EXPECT_FALSE(platform->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "nofolder/c.jpg"));
    EXPECT_FALSE(platform->CopyNoOverwrite(tmp / "card", tmp / "out/d.jpg")) << "a folder is no photo";

    TPlatformOptions fallback;
    fallback.NoRenameNoReplace = true;
    auto linking = PlatformWith(fallback);
    EXPECT_TRUE(linking->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "out/e.jpg"));
    EXPECT_EQ(ReadFile(tmp / "out/e.jpg"), photo);
    EXPECT_FALSE(linking->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "out/b.jpg"));
    EXPECT_EQ(ReadFile(tmp / "out/b.jpg"), "mine");

    for (const int64_t after : {int64_t{0}, int64_t{1}, int64_t{4096}, int64_t{9} << 20}) {
        TPlatformOptions faulty;
        faulty.FailCopyAfterBytes = after;
        EXPECT_FALSE(PlatformWith(faulty)->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "out/f.jpg")) << after;
    }
    EXPECT_EQ(ListTree(tmp / "out"), (std::vector<std::string>{"a.jpg", "b.jpg", "e.jpg"}))
        << "no partial or temporary file remains";
}

TEST(LinuxPlatform, StagedCopiesGetTheirNameOnlyWhenFinished)
{
    TTempDir tmp;
    const std::string photo = PatternBytes(200000, 5);
    WriteFile(tmp / "card/a.jpg", photo);
    fs::create_directories(tmp / "out");
    auto platform = CreatePlatform();

    auto first = platform->StageCopy(tmp / "card/a.jpg", tmp / "out/a.jpg");
    auto second = platform->StageCopy(tmp / "card/a.jpg", tmp / "out/a.jpg");
    auto dropped = platform->StageCopy(tmp / "card/a.jpg", tmp / "out/d.jpg");
    ASSERT_TRUE(first && second && dropped);
    EXPECT_FALSE(PathExists(tmp / "out/a.jpg")) << "no name before the copy is finished";
    EXPECT_EQ(platform->StageCopy(tmp / "card/none.jpg", tmp / "out/n.jpg"), nullptr);

    EXPECT_TRUE(platform->FinishCopy(*first));
    EXPECT_FALSE(platform->FinishCopy(*second)) << "the name was taken meanwhile";
    first.reset();
    second.reset();
    dropped.reset();
    EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo);
    EXPECT_EQ(ListTree(tmp / "out"), std::vector<std::string>{"a.jpg"});
    EXPECT_TRUE(platform->FlushFolders());
}

TEST(LinuxPlatform, MoveNeverReplacesAndKeepsTheSourceUntilTheCopyIsVerified)
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
    EXPECT_FALSE(platform->MovePhoto(tmp / "card/a.jpg", tmp / "out/a.jpg"));
    EXPECT_EQ(ReadFile(tmp / "card/a.jpg"), "second");
    EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo);

    struct TCase
    {
        const char* Name;
        std::function<void(TPlatformOptions&)> Set;
        bool Moves;
    };
    const TCase cases[] = {
        {"link fallback", [](TPlatformOptions& o) { o.NoRenameNoReplace = true; }, true},
        {"across file systems", [](TPlatformOptions& o) { o.ForceCrossDeviceMove = true; }, true},
        {"copy breaks off",
         [](TPlatformOptions& o) {
             o.ForceCrossDeviceMove = true;
             o.FailCopyAfterBytes = 150000;
         },
         false},
        {"read-back differs",
         [](TPlatformOptions& o) {
             o.ForceCrossDeviceMove = true;
             o.CorruptReadBack = true;
         },
         false},
    };
    int n = 0;
    for (const TCase& c : cases) {
        TPlatformOptions options;
        c.Set(options);
        const std::string src = tmp / ("card/m" + std::to_string(n) + ".jpg");
        const std::string dst = tmp / ("out/m" + std::to_string(n++) + ".jpg");
        WriteFile(src, photo);
        auto faulty = PlatformWith(options);
        EXPECT_EQ(faulty->MovePhoto(src, dst), c.Moves) << c.Name;
        EXPECT_EQ(PathExists(src), !c.Moves) << c.Name;
        EXPECT_EQ(ReadFile(c.Moves ? dst : src), photo) << c.Name;
        EXPECT_EQ(PathExists(dst), c.Moves) << c.Name;
        // Neither way replaces an existing file.
        WriteFile(src, "again");
        EXPECT_FALSE(faulty->MovePhoto(src, tmp / "out/a.jpg")) << c.Name;
        EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo) << c.Name;
        EXPECT_EQ(ReadFile(src), "again") << c.Name;
    }
    for (const std::string& f : ListTree(tmp / "out"))
        EXPECT_NE(f.rfind(".fotoimport-", 0), 0u) << "temporary file left: " << f;
}

TEST(LinuxPlatform, MoveBetweenRealFileSystemsCopiesVerifiesAndRemoves)
{
    struct stat shm
    {
    };
    struct stat t
    {
    };
    if (::stat("/dev/shm", &shm) != 0 || ::stat(fs::temp_directory_path().c_str(), &t) != 0 ||
        shm.st_dev == t.st_dev)
        GTEST_SKIP() << "no second file system at hand";
    TTempDir tmp;
    char pattern[] = "/dev/shm/fotoimport-card-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string card = pattern;
    const std::string photo = PatternBytes(500000, 9);
    WriteFile(card + "/a.jpg", photo);
    SetModifiedTime(card + "/a.jpg", 2005, 7, 14);
    const time_t mtime = ModifiedTime(card + "/a.jpg");

    auto platform = CreatePlatform();
    const bool moved = platform->MovePhoto(card + "/a.jpg", tmp / "a.jpg");
    const bool sourceLeft = PathExists(card + "/a.jpg");
    fs::remove_all(card);
    EXPECT_TRUE(moved);
    EXPECT_FALSE(sourceLeft);
    EXPECT_EQ(ReadFile(tmp / "a.jpg"), photo);
    EXPECT_EQ(ModifiedTime(tmp / "a.jpg"), mtime);
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
    EXPECT_FALSE(platform->CreateDir(tmp / "one")) << "one level, and only once";
    EXPECT_FALSE(platform->CreateDir(tmp / "a/b"));
    EXPECT_TRUE(platform->ForceDirectories(tmp / "a/b/c/"));
    EXPECT_TRUE(platform->DirectoryExists(tmp / "a/b/c"));
    EXPECT_TRUE(platform->ForceDirectories(tmp / "a/b/c"));
    EXPECT_FALSE(platform->ForceDirectories(tmp / "f.jpg/sub"));

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
    EXPECT_FALSE(platform->FileModifiedDate(tmp / "none", date));
}

} // namespace

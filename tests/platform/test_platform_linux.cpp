#include "platform/Platform.h"
#include "tests/support/ResultPrint.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
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
}

} // namespace

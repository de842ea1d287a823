// The Windows platform and file stream against the real Win32 calls (run
// under Wine by the cross build). Paths are built with backslashes, as the
// program builds them on Windows.
#include "platform/Classes.h"
#include "platform/Platform.h"
#include "platform/SysUtils.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>
#include <windows.h>

namespace fs = std::filesystem;

namespace {

/// A temporary folder whose paths use the Windows separator.
class TWinDir
{
public:
    /// root joined with a relative path written with '/'.
    std::string operator/(std::string relative) const
    {
        std::replace(relative.begin(), relative.end(), '/', '\\');
        return FDir.Path() + "\\" + relative;
    }
    const std::string& Path() const { return FDir.Path(); }

private:
    TTempDir FDir;
};

bool SetAttribute(const std::string& path, DWORD attribute, bool on)
{
    const DWORD now = ::GetFileAttributesA(path.c_str());
    return now != INVALID_FILE_ATTRIBUTES &&
           ::SetFileAttributesA(path.c_str(), on ? now | attribute : now & ~attribute) != 0;
}

/// Whether another program could open path for writing right now.
bool OthersMayWrite(const std::string& path)
{
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(h);
    return true;
}

TEST(WindowsPlatform, DriveLettersNameTheirRootsAndOnlyMountedDrivesAreReady)
{
    auto platform = CreatePlatform();
    EXPECT_EQ(platform->DriveRoot('K'), "K:\\");
    EXPECT_EQ(platform->DriveRoot('e'), "E:\\");
    EXPECT_EQ(platform->DriveRoot('$'), "");
    EXPECT_EQ(platform->DriveRoot('1'), "");

    const char* systemDrive = std::getenv("SystemDrive");
    ASSERT_NE(systemDrive, nullptr);
    EXPECT_TRUE(platform->DriveIsReady(systemDrive[0]));
    EXPECT_TRUE(platform->DriveIsReady(static_cast<char>(std::tolower(systemDrive[0]))));
    const DWORD mounted = ::GetLogicalDrives();
    int unmounted = 0;
    for (char letter = 'E'; letter <= 'Z'; ++letter) {
        if ((mounted & (1u << (letter - 'A'))) == 0) {
            EXPECT_FALSE(platform->DriveIsReady(letter)) << letter;
            ++unmounted;
        }
    }
    EXPECT_GT(unmounted, 0);
    EXPECT_FALSE(platform->DriveIsReady('$'));
}

TEST(WindowsPlatform, FolderAndFileTestsAndNames)
{
    TWinDir tmp;
    auto platform = CreatePlatform();
    WriteFile(tmp / "f.jpg", "x");
    EXPECT_TRUE(platform->DirectoryExists(tmp.Path()));
    EXPECT_TRUE(platform->DirectoryExists(tmp.Path() + "\\"));
    EXPECT_FALSE(platform->DirectoryExists(tmp / "f.jpg"));
    EXPECT_FALSE(platform->DirectoryExists(""));
    EXPECT_TRUE(platform->FileExists(tmp / "f.jpg"));
    EXPECT_FALSE(platform->FileExists(tmp.Path()));
    EXPECT_FALSE(platform->FileExists(tmp / "none"));

    EXPECT_TRUE(platform->CreateDir(tmp / "one"));
    EXPECT_FALSE(platform->CreateDir(tmp / "one")) << "one level, and only once";
    EXPECT_FALSE(platform->CreateDir(tmp / "a/b"));
    EXPECT_FALSE(platform->CreateDir(""));
    EXPECT_TRUE(platform->ForceDirectories(tmp / "a/b/c/"));
    EXPECT_TRUE(platform->DirectoryExists(tmp / "a/b/c"));
    EXPECT_TRUE(platform->ForceDirectories(tmp / "a/b/c"));
    EXPECT_TRUE(platform->ForceDirectories(tmp.Path() + "/x/y")) << "forward slashes as well";
    EXPECT_TRUE(platform->DirectoryExists(tmp / "x/y"));
    EXPECT_FALSE(platform->ForceDirectories(tmp / "f.jpg/sub"));
    EXPECT_FALSE(platform->ForceDirectories(""));

    EXPECT_EQ(platform->PathDelim(), '\\');
    EXPECT_EQ(platform->ExtractFileName("K:\\DCIM\\100CANON\\IMG_1.JPG"), "IMG_1.JPG");
    EXPECT_EQ(platform->ExtractFileName("K:IMG_1.JPG"), "IMG_1.JPG");
    EXPECT_EQ(platform->ExtractFileName("K:\\DCIM/IMG_1.JPG"), "IMG_1.JPG");
    EXPECT_EQ(platform->ExtractFileName("IMG_1.JPG"), "IMG_1.JPG");
    EXPECT_EQ(platform->JoinPath("K:\\", "DCIM"), "K:\\DCIM");
    EXPECT_EQ(platform->JoinPath("K:\\DCIM", "100"), "K:\\DCIM\\100");

    SetModifiedTime(tmp / "f.jpg", 2012, 2, 29, 23);
    TLocalDate date;
    ASSERT_TRUE(platform->FileModifiedDate(tmp / "f.jpg", date));
    EXPECT_EQ(date.Year, 2012);
    EXPECT_EQ(date.Month, 2);
    EXPECT_EQ(date.Day, 29);
    EXPECT_FALSE(platform->FileModifiedDate(tmp / "none", date));
}

/// The expected listing, computed independently with std::filesystem.
void ExpectedListing(const fs::path& folder, const std::string& extension, std::vector<std::string>& out)
{
    std::vector<fs::path> subFolders;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_directory()) {
            subFolders.push_back(entry.path());
            continue;
        }
        std::string ext = entry.path().extension().string();
        for (char& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (ext == extension)
            out.push_back(entry.path().string());
    }
    for (const fs::path& sub : subFolders)
        ExpectedListing(sub, extension, out);
}

TEST(WindowsPlatform, FindFilesMatchesMasksWithoutCaseOwnFilesBeforeSubFolders)
{
    TWinDir tmp;
    const std::string dcim = tmp / "DCIM";
    for (const char* f : {"top1.JPG", "top2.jpg", "hidden.jpg", "movie.MOV", "x.jpeg", "jpg", "a.jpg.txt",
                          "100A/IMG_1.Jpg", "100A/IMG_2.JPG", "100A/IMG_10.JPG", "100A/deep/er/IMG_3.jpg",
                          "101B/IMG_4.JPG", "101B/inner/IMG_5.JPG", "102C/none.txt", "thumbs/t.jpg"})
        WriteFile(tmp / ("DCIM/" + std::string(f)), f);
    fs::create_directories(dcim + "\\folder.jpg");
    ASSERT_TRUE(SetAttribute(dcim + "\\hidden.jpg", FILE_ATTRIBUTE_HIDDEN, true));
    ASSERT_TRUE(SetAttribute(dcim + "\\thumbs", FILE_ATTRIBUTE_HIDDEN, true));
    ASSERT_TRUE(SetAttribute(dcim + "\\top1.JPG", FILE_ATTRIBUTE_READONLY, true));

    auto platform = CreatePlatform();
    TStringList list;
    int changes = 0;
    list.OnChange = [&] { ++changes; };
    platform->FindFiles(dcim, "*.jpg", list, true, true);

    std::vector<std::string> expected;
    ExpectedListing(dcim, ".jpg", expected);
    EXPECT_EQ(list.Items(), expected);
    EXPECT_EQ(list.Count(), 10) << "hidden and read-only photos count, folders do not";
    EXPECT_EQ(changes, 1) << "filled inside one bulk update";

    const auto pos = [&](const std::string& rel) {
        return std::find(list.Items().begin(), list.Items().end(), tmp / ("DCIM/" + rel)) -
               list.Items().begin();
    };
    EXPECT_LT(pos("top2.jpg"), pos("100A/IMG_1.Jpg"));
    EXPECT_LT(pos("100A/IMG_2.JPG"), pos("100A/deep/er/IMG_3.jpg"));
    EXPECT_LT(pos("101B/IMG_4.JPG"), pos("101B/inner/IMG_5.JPG"));
    EXPECT_LT(pos("thumbs/t.jpg"), static_cast<long>(list.Count())) << "hidden folders are searched";

    // "?" stands for exactly one character; not recursive, not cleared, trailing separator given.
    platform->FindFiles(dcim + "\\100A\\", "img_?.jpg", list, false, false);
    ASSERT_EQ(list.Count(), 12);
    std::vector<std::string> added(list.Items().begin() + 10, list.Items().end());
    std::sort(added.begin(), added.end());
    EXPECT_EQ(added, (std::vector<std::string>{tmp / "DCIM/100A/IMG_1.Jpg", tmp / "DCIM/100A/IMG_2.JPG"}));

    platform->FindFiles("", "*.jpg", list, true, true);
    EXPECT_EQ(list.Count(), 0);
    platform->FindFiles(tmp / "missing", "*.jpg", list, true, false);
    EXPECT_EQ(list.Count(), 0);
}

TEST(WindowsPlatform, CopyNeverReplacesAndNeverLeavesATemporaryFile)
{
    TWinDir tmp;
    const std::string photo = PatternBytes((size_t{9} << 20) + 12345, 7);
    WriteFile(tmp / "card/a.jpg", photo);
    SetModifiedTime(tmp / "card/a.jpg", 2005, 7, 14);
    fs::create_directories(tmp / "out");

    auto platform = CreatePlatform();
    ASSERT_TRUE(platform->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "out/a.jpg"));
    EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo);
    EXPECT_EQ(fs::last_write_time(tmp / "out/a.jpg"), fs::last_write_time(tmp / "card/a.jpg"));

    WriteFile(tmp / "out/b.jpg", "mine");
    EXPECT_FALSE(platform->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "out/b.jpg"));
    EXPECT_EQ(ReadFile(tmp / "out/b.jpg"), "mine");
    EXPECT_FALSE(platform->CopyNoOverwrite(tmp / "card/none.jpg", tmp / "out/c.jpg"));
    EXPECT_FALSE(platform->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "nofolder/c.jpg"));
    EXPECT_FALSE(platform->CopyNoOverwrite(tmp / "card", tmp / "out/d.jpg")) << "a folder is no photo";
    EXPECT_FALSE(platform->CopyNoOverwrite("", tmp / "out/d.jpg"));

    // A photo protected in the camera is read-only on the card; its copy is an ordinary file.
    WriteFile(tmp / "card/p.jpg", "protected");
    ASSERT_TRUE(SetAttribute(tmp / "card/p.jpg", FILE_ATTRIBUTE_READONLY, true));
    EXPECT_TRUE(platform->CopyNoOverwrite(tmp / "card/p.jpg", tmp / "out/p.jpg"));
    EXPECT_EQ(ReadFile(tmp / "out/p.jpg"), "protected");
    EXPECT_TRUE(OthersMayWrite(tmp / "out/p.jpg"));
    SetAttribute(tmp / "card/p.jpg", FILE_ATTRIBUTE_READONLY, false);

    for (const int64_t after : {int64_t{0}, int64_t{4096}}) {
        TPlatformOptions faulty;
        faulty.FailCopyAfterBytes = after;
        EXPECT_FALSE(CreatePlatform(faulty)->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "out/f.jpg")) << after;
    }
    EXPECT_EQ(ListTree(tmp / "out"), (std::vector<std::string>{"a.jpg", "b.jpg", "p.jpg"}))
        << "no partial or temporary file remains";
}

TEST(WindowsPlatform, StagedCopiesGetTheirNameOnlyWhenFinished)
{
    TWinDir tmp;
    const std::string photo = PatternBytes(200000, 5);
    WriteFile(tmp / "card/a.jpg", photo);
    fs::create_directories(tmp / "out");
    auto platform = CreatePlatform();

    auto first = platform->StageCopy(tmp / "card/a.jpg", tmp / "out/a.jpg");
    auto second = platform->StageCopy(tmp / "card/a.jpg", tmp / "out/a.jpg");
    auto dropped = platform->StageCopy(tmp / "card/a.jpg", tmp / "out/d.jpg");
    ASSERT_TRUE(first && second && dropped);
    EXPECT_FALSE(PathExists(tmp / "out/a.jpg")) << "no name before the copy is finished";

    EXPECT_TRUE(platform->FinishCopy(*first));
    EXPECT_FALSE(platform->FinishCopy(*second)) << "the name was taken meanwhile";
    first.reset();
    second.reset();
    dropped.reset();
    EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo);
    EXPECT_EQ(ListTree(tmp / "out"), std::vector<std::string>{"a.jpg"});
    EXPECT_TRUE(platform->FlushFolders());
}

TEST(WindowsPlatform, MoveNeverReplacesAndKeepsTheSourceUntilTheCopyIsVerified)
{
    TWinDir tmp;
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
    EXPECT_FALSE(platform->MovePhoto(tmp / "card/none.jpg", tmp / "out/n.jpg"));
    EXPECT_FALSE(PathExists(tmp / "out/n.jpg"));

    struct TCase
    {
        const char* Name;
        std::function<void(TPlatformOptions&)> Set;
        bool ReadOnlySource;
        bool Moves;
    };
    const TCase cases[] = {
        {"across drives", [](TPlatformOptions& o) { o.ForceCrossDeviceMove = true; }, false, true},
        {"copy breaks off",
         [](TPlatformOptions& o) {
             o.ForceCrossDeviceMove = true;
             o.FailCopyAfterBytes = 150000;
         },
         false, false},
        {"read-back differs",
         [](TPlatformOptions& o) {
             o.ForceCrossDeviceMove = true;
             o.CorruptReadBack = true;
         },
         false, false},
        // A protected photo cannot be removed from the card, so it is not moved at all.
        {"protected photo across drives", [](TPlatformOptions& o) { o.ForceCrossDeviceMove = true; }, true,
         false},
    };
    int n = 0;
    for (const TCase& c : cases) {
        TPlatformOptions options;
        c.Set(options);
        const std::string src = tmp / ("card/m" + std::to_string(n) + ".jpg");
        const std::string dst = tmp / ("out/m" + std::to_string(n++) + ".jpg");
        WriteFile(src, photo);
        SetAttribute(src, FILE_ATTRIBUTE_READONLY, c.ReadOnlySource);
        auto faulty = CreatePlatform(options);
        EXPECT_EQ(faulty->MovePhoto(src, dst), c.Moves) << c.Name;
        EXPECT_EQ(PathExists(src), !c.Moves) << c.Name;
        EXPECT_EQ(ReadFile(c.Moves ? dst : src), photo) << c.Name;
        EXPECT_EQ(PathExists(dst), c.Moves) << c.Name;
        SetAttribute(src, FILE_ATTRIBUTE_READONLY, false);
        // Neither way replaces an existing file.
        WriteFile(src, "again");
        EXPECT_FALSE(faulty->MovePhoto(src, tmp / "out/a.jpg")) << c.Name;
        EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo) << c.Name;
        EXPECT_EQ(ReadFile(src), "again") << c.Name;
    }
    EXPECT_EQ(ListTree(tmp / "out"), (std::vector<std::string>{"a.jpg", "m0.jpg"}))
        << "no partial or temporary file remains";
}

TEST(WindowsPlatform, MoveBetweenRealDrivesCopiesVerifiesAndRemoves)
{
    // Under Wine the drive Z: is the Unix root, so its /dev/shm is another file
    // system than the temporary folder on C:.
    TWinDir tmp;
    const std::string card = "Z:\\dev\\shm\\fotoimport-card-" + std::to_string(::GetCurrentProcessId());
    if (!::CreateDirectoryA(card.c_str(), nullptr))
        GTEST_SKIP() << "no second drive at hand";
    const std::string probe = card + "\\probe";
    WriteFile(probe, "p");
    const bool otherDevice = !::MoveFileExA(probe.c_str(), (tmp / "probe").c_str(), 0) &&
                             ::GetLastError() == ERROR_NOT_SAME_DEVICE;
    const std::string photo = PatternBytes(500000, 9);
    WriteFile(card + "\\a.jpg", photo);
    SetModifiedTime(card + "\\a.jpg", 2005, 7, 14);
    const auto mtime = fs::last_write_time(card + "\\a.jpg");

    auto platform = CreatePlatform();
    const bool moved = platform->MovePhoto(card + "\\a.jpg", tmp / "a.jpg");
    const bool sourceLeft = PathExists(card + "\\a.jpg");
    std::error_code ignored;
    fs::remove_all(card, ignored);
    if (!otherDevice)
        GTEST_SKIP() << "Z: and C: share one file system here";
    EXPECT_TRUE(moved);
    EXPECT_FALSE(sourceLeft);
    EXPECT_EQ(ReadFile(tmp / "a.jpg"), photo);
    EXPECT_EQ(fs::last_write_time(tmp / "a.jpg"), mtime);
}

TEST(WindowsPlatform, DocumentsFolderIsAnExistingFolderWithoutTrailingDelimiter)
{
    auto platform = CreatePlatform();
    const std::string documents = platform->DocumentsFolder();
    ASSERT_GT(documents.size(), 3u);
    EXPECT_EQ(documents.substr(1, 2), ":\\") << documents;
    EXPECT_NE(documents.back(), '\\');
    EXPECT_TRUE(platform->DirectoryExists(documents)) << documents;
}

TEST(WindowsFileStream, DenyWriteKeepsWritersOutAndLetsReadersIn)
{
    TWinDir tmp;
    const std::string path = tmp / "photo.jpg";
    WriteFile(path, "data");
    {
        TFileStream reading(path, fmOpenRead | fmShareDenyWrite);
        EXPECT_FALSE(OthersMayWrite(path));
        EXPECT_THROW(TFileStream(path, fmOpenReadWrite), EFOpenError);
        EXPECT_THROW(TFileStream(path, fmCreate), EFCreateError);
        TFileStream secondReader(path, fmOpenRead | fmShareDenyWrite);
        char got[4] = {};
        EXPECT_EQ(secondReader.Read(got, 4), 4);
        EXPECT_EQ(std::string(got, 4), "data");
    }
    EXPECT_TRUE(OthersMayWrite(path)) << "the file is free again once closed";
    {
        TFileStream exclusive(path, fmOpenRead | fmShareExclusive);
        EXPECT_THROW(TFileStream(path, fmOpenRead), EFOpenError);
    }
    {
        TFileStream shared(path, fmOpenRead);
        EXPECT_TRUE(OthersMayWrite(path));
    }
    {
        // A file someone is writing cannot be opened with writers denied.
        TFileStream writer(path, fmOpenReadWrite);
        EXPECT_THROW(TFileStream(path, fmOpenRead | fmShareDenyWrite), EFOpenError);
    }
}

TEST(WindowsFileStream, WritesReadsAndSeeksBeyondOneChunk)
{
    TWinDir tmp;
    const std::string path = tmp / "big.bin";
    const std::string bytes = PatternBytes((size_t{3} << 20) + 7, 11);
    {
        TFileStream out(path, fmCreate);
        EXPECT_EQ(out.Write(bytes.data(), static_cast<int64_t>(bytes.size())),
                  static_cast<int64_t>(bytes.size()));
        out.Flush();
        EXPECT_EQ(out.Size(), static_cast<int64_t>(bytes.size()));
    }
    EXPECT_EQ(ReadFile(path), bytes) << "binary: no line-end translation";

    TFileStream in(path, fmOpenRead | fmShareDenyWrite);
    std::string got(16, '\0');
    EXPECT_EQ(in.ReadAt(static_cast<int64_t>(bytes.size()) - 4, got.data(), 16), 4);
    EXPECT_EQ(got.substr(0, 4), bytes.substr(bytes.size() - 4));
    EXPECT_EQ(in.ReadAt(static_cast<int64_t>(bytes.size()), got.data(), 16), 0);
    EXPECT_EQ(in.ReadAt(-1, got.data(), 16), 0);
    EXPECT_EQ(in.Seek(1 << 20, TSeekOrigin::soBeginning), 1 << 20);
    EXPECT_EQ(in.Seek(5, TSeekOrigin::soCurrent), (1 << 20) + 5);
    EXPECT_EQ(in.Read(got.data(), 16), 16);
    EXPECT_EQ(got, bytes.substr((1 << 20) + 5, 16));
    EXPECT_EQ(in.Seek(-3, TSeekOrigin::soEnd), static_cast<int64_t>(bytes.size()) - 3);
    EXPECT_EQ(in.Seek(-1, TSeekOrigin::soBeginning), -1);
    EXPECT_EQ(in.Write("x", 1), 0) << "opened for reading only";

    EXPECT_THROW(TFileStream(tmp / "none.bin", fmOpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(tmp / "nofolder/new.bin", fmCreate), EFCreateError);
}

} // namespace

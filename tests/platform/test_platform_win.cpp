// The Windows platform and file stream against the real Win32 calls (run
// under Wine by the cross build). Paths are built with backslashes, as the
// program builds them on Windows. What Wine does not have (junctions and
// links) is tested where the system can make them, and skipped otherwise.
#include "base/Classes.h"
#include "base/SysUtils.h"
#include "platform/FileStream.h"
#include "platform/Platform.h"
#include "tests/support/ResultPrint.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>
#include <windows.h>
#include <winioctl.h>

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

bool HasAttribute(const std::string& path, DWORD attribute)
{
    const DWORD now = ::GetFileAttributesA(path.c_str());
    return now != INVALID_FILE_ATTRIBUTES && (now & attribute) != 0;
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

/// The creation, access and modification times of path in 100-nanosecond steps.
std::tuple<uint64_t, uint64_t, uint64_t> FileTimes(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    const auto ticks = [](const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    return {ticks(data.ftCreationTime), ticks(data.ftLastAccessTime), ticks(data.ftLastWriteTime)};
}

bool SetFileTimes(const std::string& path, uint64_t created, uint64_t accessed, uint64_t written)
{
    HANDLE h = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const auto time = [](uint64_t t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; };
    const FILETIME c = time(created);
    const FILETIME a = time(accessed);
    const FILETIME w = time(written);
    const bool set = ::SetFileTime(h, &c, &a, &w) != 0;
    ::CloseHandle(h);
    return set;
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

/// Turns the empty folder link into a junction to the folder target, as any
/// user may make one; false where the system has no junctions.
bool MakeJunction(const std::string& link, const std::string& target)
{
    if (!::CreateDirectoryA(link.c_str(), nullptr))
        return false;
    HANDLE h = ::CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    // The reparse data of a mount point: the target's NT name, then an empty display name.
    std::wstring name = L"\\??\\";
    for (const char c : target)
        name += static_cast<wchar_t>(static_cast<unsigned char>(c));
    const size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<char> buffer(16 + nameBytes + 2 * sizeof(wchar_t), 0);
    const auto put16 = [&](size_t at, size_t value) {
        const WORD v = static_cast<WORD>(value);
        std::memcpy(buffer.data() + at, &v, sizeof v);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buffer.data(), &tag, sizeof tag);
    put16(4, buffer.size() - 8); // data length
    put16(8, 0);                 // substitute name: offset, length
    put16(10, nameBytes);
    put16(12, nameBytes + sizeof(wchar_t)); // print name: offset, length
    put16(14, 0);
    std::memcpy(buffer.data() + 16, name.data(), nameBytes);
    DWORD returned = 0;
    const bool made =
        ::DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                          nullptr, 0, &returned, nullptr) != 0;
    ::CloseHandle(h);
    if (!made)
        ::RemoveDirectoryA(link.c_str());
    return made && HasAttribute(link, FILE_ATTRIBUTE_REPARSE_POINT);
}

/// The user's profile folder as the system names it.
std::string ProfileFolder()
{
    const char* profile = std::getenv("USERPROFILE");
    return profile != nullptr ? profile : "";
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
    EXPECT_EQ(platform->CreateDir(tmp / "one").Kind(), TFailure::Exists) << "one level, and only once";
    EXPECT_EQ(platform->CreateDir(tmp / "a/b").Kind(), TFailure::NotFound);
    EXPECT_EQ(platform->CreateDir("").Kind(), TFailure::NotFound);
    EXPECT_TRUE(platform->ForceDirectories(tmp / "a/b/c/"));
    EXPECT_TRUE(platform->DirectoryExists(tmp / "a/b/c"));
    EXPECT_TRUE(platform->ForceDirectories(tmp / "a/b/c"));
    EXPECT_TRUE(platform->ForceDirectories(tmp.Path() + "/x/y")) << "forward slashes as well";
    EXPECT_TRUE(platform->DirectoryExists(tmp / "x/y"));
    const TResult blocked = platform->ForceDirectories(tmp / "f.jpg/sub");
    EXPECT_EQ(blocked.Kind(), TFailure::NotFound) << blocked.Text();
    EXPECT_EQ(blocked.Path(), tmp / "f.jpg") << "the file in the way is named";
    EXPECT_FALSE(blocked.Message().empty());
    EXPECT_EQ(platform->ForceDirectories("").Kind(), TFailure::NotFound);

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
    const TResult noDate = platform->FileModifiedDate(tmp / "none", date);
    EXPECT_EQ(noDate.Kind(), TFailure::NotFound);
    EXPECT_EQ(noDate.Path(), tmp / "none");

    // 2005-07-14 00:53:20.3700001 UTC, in the system's 100-nanosecond steps since 1601.
    const uint64_t written = (uint64_t{1121302400} + 11644473600u) * 10000000u + 3700001u;
    ASSERT_TRUE(SetFileTimes(tmp / "f.jpg", written, written, written));
    int64_t seconds = 0;
    int part = 0;
    ASSERT_TRUE(platform->FileModifiedTime(tmp / "f.jpg", seconds, part));
    EXPECT_EQ(seconds, 1121302400);
    EXPECT_EQ(part, 370000100);
    EXPECT_EQ(platform->FileModifiedTime(tmp / "none", seconds, part).Kind(), TFailure::NotFound);
}

TEST(WindowsPlatform, CardFolderIsARealFolderOfTheDriveRootItself)
{
    TWinDir tmp;
    const std::string card = tmp / "card";
    fs::create_directories(card + "\\DCIM");
    WriteFile(card + "\\FILE", "x");
    auto platform = CreatePlatform();

    const std::tuple<std::string, std::string, bool> cases[] = {
        {card, "DCIM", true},
        {card + "\\", "DCIM", true},
        {card, "dcim", true}, // names without regard to case, as the file system takes them
        {card, "FILE", false},
        {card, "MISSING", false},
        {card, "DCIM\\", false},
        {card, "DCIM/", false},
        {card, "..\\card\\DCIM", false},
        {card, "../card/DCIM", false},
        {card, "DCIM:stream", false},
        {card, "..", false},
        {card, ".", false},
        {card, "", false},
        {"", "DCIM", false},
        {tmp / "none", "DCIM", false},
    };
    for (const auto& [root, name, expected] : cases)
        EXPECT_EQ(platform->CardFolderExists(root, name), expected) << root << " + " << name;
}

TEST(WindowsPlatform, JunctionsLeadNowhere)
{
    TWinDir tmp;
    const std::string card = tmp / "card";
    fs::create_directories(card + "\\DCIM\\100A");
    WriteFile(card + "\\DCIM\\100A\\IMG_1.JPG", "photo");
    WriteFile(tmp / "pictures/private.jpg", "not the card's");
    if (!MakeJunction(card + "\\LINKED", tmp / "pictures"))
        GTEST_SKIP() << "this system makes no junctions";
    ASSERT_TRUE(MakeJunction(card + "\\DCIM\\100A\\loop", card + "\\DCIM"));
    ASSERT_TRUE(MakeJunction(card + "\\DCIM\\101B", tmp / "pictures"));
    auto platform = CreatePlatform();

    EXPECT_FALSE(platform->CardFolderExists(card, "LINKED"));
    EXPECT_TRUE(platform->CardFolderExists(card, "DCIM"));
    TStringList list;
    platform->FindFiles(card + "\\DCIM", "*.jpg", list, true, true);
    EXPECT_EQ(list.Items(), std::vector<std::string>{card + "\\DCIM\\100A\\IMG_1.JPG"})
        << "junctions are neither listed nor entered";
    platform->FindFiles(card + "\\LINKED", "*.jpg", list, true, true);
    EXPECT_EQ(list.Count(), 0) << "a junction as the folder itself";

    // Inside the profile, a junction to a folder outside it does not carry a new folder there.
    const std::string profile = ProfileFolder();
    ASSERT_FALSE(profile.empty());
    const std::string outside = "C:\\fotoimport-outside-" + std::to_string(::GetCurrentProcessId());
    ASSERT_TRUE(::CreateDirectoryA(outside.c_str(), nullptr));
    const bool linked = MakeJunction(tmp / "linkout", outside);
    const TResult made = platform->ForceUserFolder(tmp / "linkout/Docs");
    const bool madeOutside = PathExists(outside + "\\Docs");
    ::RemoveDirectoryA((tmp / "linkout").c_str());
    fs::remove_all(outside);
    ASSERT_TRUE(linked);
    EXPECT_EQ(made.Kind(), TFailure::Unavailable) << made.Text();
    EXPECT_FALSE(madeOutside);
}

TEST(WindowsPlatform, UserFoldersAreMadeOnlyInsideTheProfile)
{
    // The temporary folder lies inside the user's profile, a new folder at
    // the system drive's root outside it.
    TWinDir tmp;
    const std::string profile = ProfileFolder();
    ASSERT_FALSE(profile.empty());
    ASSERT_EQ(tmp.Path().rfind(profile + "\\", 0), 0u) << tmp.Path() << " is not inside " << profile;
    const std::string outside = "C:\\fotoimport-outside-" + std::to_string(::GetCurrentProcessId());
    WriteFile(tmp / "file", "x");
    auto platform = CreatePlatform();

    struct TCase
    {
        std::string Path;
        TFailure Kind;
        std::string Made; ///< the folder that exists afterwards, or is not made
    };
    const TCase cases[] = {
        {tmp / "Documents", TFailure::None, tmp / "Documents"},
        {tmp / "a/b/c/", TFailure::None, tmp / "a/b/c"},
        {tmp.Path() + "/d/e", TFailure::None, tmp / "d/e"},
        {profile, TFailure::None, profile}, // there already
        {tmp.Path(), TFailure::None, tmp.Path()},
        {outside + "\\Docs", TFailure::Unavailable, outside},
        {profile + "\\..\\escape\\Docs", TFailure::Unavailable, profile + "\\..\\escape"},
        {tmp / "new/../../../../../escape", TFailure::Unavailable, tmp / "new"},
        {tmp / "file/Docs", TFailure::NotFound, tmp / "file/Docs"},
        {"relative\\Docs", TFailure::Unavailable, "relative"},
        {"", TFailure::Unavailable, ""},
    };
    for (const TCase& c : cases) {
        const TResult r = platform->ForceUserFolder(c.Path);
        EXPECT_EQ(r.Kind(), c.Kind) << c.Path << ": " << r.Text();
        if (c.Kind == TFailure::None) {
            EXPECT_TRUE(platform->DirectoryExists(c.Made)) << c.Path;
        } else if (!c.Made.empty()) {
            EXPECT_FALSE(PathExists(c.Made)) << c.Path << ": nothing is made";
        }
    }
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

TEST(WindowsPlatform, SameFileContentsComparesEveryByte)
{
    TWinDir tmp;
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

TEST(WindowsPlatform, CopyNeverReplacesAndNeverLeavesATemporaryFile)
{
    TWinDir tmp;
    const std::string photo = PatternBytes((size_t{9} << 20) + 12345, 7); // more than one copy chunk
    WriteFile(tmp / "card/a.jpg", photo);
    SetModifiedTime(tmp / "card/a.jpg", 2005, 7, 14);
    fs::create_directories(tmp / "out");

    auto platform = CreatePlatform();
    const TResult copied = platform->CopyNoOverwrite(tmp / "card/a.jpg", tmp / "out/a.jpg");
    ASSERT_TRUE(copied) << copied.Text();
    EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo);
    EXPECT_EQ(std::get<2>(FileTimes(tmp / "out/a.jpg")), std::get<2>(FileTimes(tmp / "card/a.jpg")));

    // Each refusal says what was wrong and with which path.
    WriteFile(tmp / "out/b.jpg", "mine");
    struct TCase
    {
        std::string Src;
        std::string Dst;
        TFailure Kind;
        std::string Path;
    };
    const TCase cases[] = {
        {tmp / "card/a.jpg", tmp / "out/b.jpg", TFailure::Exists, tmp / "out/b.jpg"},
        {tmp / "card/none.jpg", tmp / "out/c.jpg", TFailure::NotFound, tmp / "card/none.jpg"},
        {tmp / "card/a.jpg", tmp / "nofolder/c.jpg", TFailure::NotFound, tmp / "nofolder"},
        {tmp / "card", tmp / "out/d.jpg", TFailure::NotSafe, tmp / "card"},
        {"", tmp / "out/e.jpg", TFailure::NotFound, ""},
    };
    for (const TCase& c : cases) {
        const TResult r = platform->CopyNoOverwrite(c.Src, c.Dst);
        EXPECT_EQ(r.Kind(), c.Kind) << c.Src << " -> " << c.Dst << ": " << r.Text();
        EXPECT_EQ(r.Path(), c.Path) << c.Src;
        EXPECT_FALSE(r.Message().empty()) << c.Src;
    }
    EXPECT_EQ(ReadFile(tmp / "out/b.jpg"), "mine");

    // A photo protected in the camera is read-only on the card; its copy is an
    // ordinary file the user may change, and the card's hidden mark stays behind.
    WriteFile(tmp / "card/p.jpg", "protected");
    ASSERT_TRUE(SetAttribute(tmp / "card/p.jpg", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, true));
    const TResult protectedCopy = platform->CopyNoOverwrite(tmp / "card/p.jpg", tmp / "out/p.jpg");
    EXPECT_TRUE(protectedCopy) << protectedCopy.Text();
    EXPECT_EQ(ReadFile(tmp / "out/p.jpg"), "protected");
    EXPECT_FALSE(HasAttribute(tmp / "out/p.jpg", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(OthersMayWrite(tmp / "out/p.jpg"));
    EXPECT_TRUE(HasAttribute(tmp / "card/p.jpg", FILE_ATTRIBUTE_READONLY)) << "the card's photo is untouched";
    SetAttribute(tmp / "card/p.jpg", FILE_ATTRIBUTE_READONLY, false);

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

    std::unique_ptr<TStagedCopy> first;
    std::unique_ptr<TStagedCopy> second;
    std::unique_ptr<TStagedCopy> dropped;
    ASSERT_TRUE(platform->StageCopy(tmp / "card/a.jpg", tmp / "out/a.jpg", first));
    ASSERT_TRUE(platform->StageCopy(tmp / "card/a.jpg", tmp / "out/a.jpg", second));
    ASSERT_TRUE(platform->StageCopy(tmp / "card/a.jpg", tmp / "out/d.jpg", dropped));
    ASSERT_TRUE(first && second && dropped);
    EXPECT_FALSE(PathExists(tmp / "out/a.jpg")) << "no name before the copy is finished";

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
}

TEST(WindowsPlatform, MoveNeverReplacesAndSaysWhy)
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
    const TResult taken = platform->MovePhoto(tmp / "card/a.jpg", tmp / "out/a.jpg");
    EXPECT_EQ(taken.Kind(), TFailure::Exists);
    EXPECT_EQ(taken.Path(), tmp / "out/a.jpg");
    EXPECT_EQ(ReadFile(tmp / "card/a.jpg"), "second");
    EXPECT_EQ(ReadFile(tmp / "out/a.jpg"), photo);

    const TResult gone = platform->MovePhoto(tmp / "card/none.jpg", tmp / "out/n.jpg");
    EXPECT_EQ(gone.Kind(), TFailure::NotFound);
    EXPECT_EQ(gone.Path(), tmp / "card/none.jpg");
    EXPECT_FALSE(PathExists(tmp / "out/n.jpg"));
    EXPECT_EQ(ListTree(tmp / "out"), std::vector<std::string>{"a.jpg"});
}

/// A folder on another file system than the temporary folder: under Wine the
/// drive Z: is the Unix root, and its /dev/shm lies in memory. Removed with its
/// contents when the object goes.
class TOtherDrive
{
public:
    TOtherDrive()
        : FPath("Z:\\dev\\shm\\fotoimport-card-" + std::to_string(::GetCurrentProcessId()))
    {
        FMade = ::CreateDirectoryA(FPath.c_str(), nullptr) != 0;
    }
    ~TOtherDrive()
    {
        std::error_code ignored;
        if (FMade) {
            for (const auto& entry : fs::directory_iterator(FPath, ignored))
                ::SetFileAttributesA(entry.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
            fs::remove_all(FPath, ignored);
        }
    }
    TOtherDrive(const TOtherDrive&) = delete;
    TOtherDrive& operator=(const TOtherDrive&) = delete;

    /// Whether the folder is there and a move from it to folder must copy.
    bool IsOtherThan(const std::string& folder) const
    {
        if (!FMade)
            return false;
        const std::string probe = FPath + "\\probe";
        WriteFile(probe, "p");
        const bool other = !::MoveFileExA(probe.c_str(), (folder + "\\probe").c_str(), 0) &&
                           ::GetLastError() == ERROR_NOT_SAME_DEVICE;
        ::DeleteFileA(probe.c_str());
        ::DeleteFileA((folder + "\\probe").c_str());
        return other;
    }
    std::string operator/(const std::string& name) const { return FPath + "\\" + name; }

private:
    std::string FPath;
    bool FMade = false;
};

TEST(WindowsPlatform, MoveBetweenDrivesCopiesVerifiesAndRemovesAndAProtectedPhotoStays)
{
    TWinDir tmp;
    TOtherDrive card;
    if (!card.IsOtherThan(tmp.Path()))
        GTEST_SKIP() << "no second file system at hand";
    const std::string photo = PatternBytes((size_t{2} << 20) + 999, 9); // the last compare chunk is short
    WriteFile(card / "a.jpg", photo);
    SetModifiedTime(card / "a.jpg", 2005, 7, 14);
    const uint64_t written = std::get<2>(FileTimes(card / "a.jpg"));
    auto platform = CreatePlatform();

    const TResult moved = platform->MovePhoto(card / "a.jpg", tmp / "a.jpg");
    ASSERT_TRUE(moved) << moved.Text();
    EXPECT_FALSE(PathExists(card / "a.jpg"));
    EXPECT_EQ(ReadFile(tmp / "a.jpg"), photo);
    EXPECT_EQ(std::get<2>(FileTimes(tmp / "a.jpg")), written);

    // Another drive never gets a replaced file either.
    WriteFile(card / "a.jpg", "second");
    EXPECT_EQ(platform->MovePhoto(card / "a.jpg", tmp / "a.jpg").Kind(), TFailure::Exists);
    EXPECT_EQ(ReadFile(card / "a.jpg"), "second");
    EXPECT_EQ(ReadFile(tmp / "a.jpg"), photo);

    // A photo protected in the camera cannot leave the card: a caller that
    // takes a kept source gets the verified copy and the reason, any other
    // caller a failure and no copy.
    WriteFile(card / "p.jpg", photo);
    ASSERT_TRUE(SetAttribute(card / "p.jpg", FILE_ATTRIBUTE_READONLY, true));
    TResult kept;
    const TResult copiedOnly = platform->MovePhoto(card / "p.jpg", tmp / "p.jpg", &kept);
    EXPECT_TRUE(copiedOnly) << copiedOnly.Text();
    EXPECT_EQ(kept.Kind(), TFailure::Access) << kept.Text();
    EXPECT_EQ(kept.Path(), card / "p.jpg");
    EXPECT_EQ(ReadFile(card / "p.jpg"), photo);
    EXPECT_EQ(ReadFile(tmp / "p.jpg"), photo);
    EXPECT_TRUE(OthersMayWrite(tmp / "p.jpg")) << "the copy is an ordinary file";

    const TResult refused = platform->MovePhoto(card / "p.jpg", tmp / "q.jpg");
    EXPECT_EQ(refused.Kind(), TFailure::Access) << refused.Text();
    EXPECT_EQ(refused.Path(), card / "p.jpg");
    EXPECT_EQ(ReadFile(card / "p.jpg"), photo);
    EXPECT_EQ(ListTree(tmp.Path()), (std::vector<std::string>{"a.jpg", "p.jpg"}))
        << "no copy and no temporary file remains";
}

TEST(WindowsPlatform, LeftOverTemporariesAreRemovedButNeverOneStillOpen)
{
    TWinDir tmp;
    const std::string day = tmp / "20050714";
    const std::string photo = PatternBytes(300000, 2);
    // Left by a killed run: a complete copy, a partial one, and a replacement
    // that had already taken its photo's read-only mark.
    WriteFile(day + "\\.fotoimport-a1b2c3", photo);
    WriteFile(day + "\\.fotoimport-zz9900", photo.substr(0, 1000));
    WriteFile(day + "\\.fotoimport-r0r0r0", photo);
    ASSERT_TRUE(SetAttribute(day + "\\.fotoimport-r0r0r0", FILE_ATTRIBUTE_READONLY, true));
    // Names that are not the program's temporaries stay, and so does a folder.
    for (const char* name :
         {".fotoimport-toolong1", ".fotoimport-ab", ".fotoimport-a_b.c1", "IMG_0001.JPG", "fi1A2B.tmp"})
        WriteFile(day + "\\" + name, "x");
    fs::create_directories(day + "\\.fotoimport-dir000");
    // Another import has one open for writing, as any copy or replacement
    // keeps its file from creation to name.
    const std::string busy = day + "\\.fotoimport-busy00";
    HANDLE writer = ::CreateFileA(busy.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    auto platform = CreatePlatform();

    int removed = -1;
    const TResult cleaned = platform->RemoveStaleTemporaries(day, removed);
    const bool busyStayed = PathExists(busy);
    ::CloseHandle(writer);
    ASSERT_TRUE(cleaned) << cleaned.Text();
    EXPECT_EQ(removed, 3);
    EXPECT_TRUE(busyStayed) << "a file still open is not left over";
    for (const char* gone : {".fotoimport-a1b2c3", ".fotoimport-zz9900", ".fotoimport-r0r0r0"})
        EXPECT_FALSE(PathExists(day + "\\" + gone)) << gone;
    for (const char* kept :
         {".fotoimport-toolong1", ".fotoimport-ab", ".fotoimport-a_b.c1", "IMG_0001.JPG", "fi1A2B.tmp"})
        EXPECT_TRUE(PathExists(day + "\\" + kept)) << kept;
    EXPECT_TRUE(fs::is_directory(day + "\\.fotoimport-dir000"));

    // Once its writer is gone, it is left over too.
    ASSERT_TRUE(platform->RemoveStaleTemporaries(day, removed));
    EXPECT_EQ(removed, 1);
    EXPECT_EQ(Temporaries(day), (std::vector<std::string>{".fotoimport-a_b.c1", ".fotoimport-ab",
                                                          ".fotoimport-dir000", ".fotoimport-toolong1"}));
    ASSERT_TRUE(platform->RemoveStaleTemporaries(day, removed));
    EXPECT_EQ(removed, 0);

    EXPECT_EQ(platform->RemoveStaleTemporaries(tmp / "none", removed).Kind(), TFailure::NotFound);
    EXPECT_EQ(platform->RemoveStaleTemporaries(day + "\\IMG_0001.JPG", removed).Kind(), TFailure::NotFound);
    EXPECT_EQ(platform->RemoveStaleTemporaries("", removed).Kind(), TFailure::NotFound);
}

TEST(WindowsPlatform, ReplaceKeepsAttributesAndTimesAndLeavesNoTemporaryFile)
{
    TWinDir tmp;
    const std::string target = tmp / "day/a.jpg";
    WriteFile(target, "old contents");
    // 2001-09-09, 2004-01-10 and 2005-06-29, each with a part of a second.
    const uint64_t base = uint64_t{11644473600} * 10000000u;
    const uint64_t created = base + uint64_t{1000000000} * 10000000u + 1234567u;
    const uint64_t accessed = base + uint64_t{1073700000} * 10000000u + 7654321u;
    const uint64_t written = base + uint64_t{1120000000} * 10000000u + 9876543u;
    ASSERT_TRUE(SetFileTimes(target, created, accessed, written));
    ASSERT_TRUE(SetAttribute(target, FILE_ATTRIBUTE_HIDDEN, true));
    // Wine on Linux cannot keep a creation time; Windows can.
    const bool keepsCreation = std::get<0>(FileTimes(target)) == created;
    auto platform = CreatePlatform();

    // Several pieces, an empty one among them, written one after the other.
    const std::string head = "\xFF\xD8 new";
    const std::string middle = PatternBytes(100000, 4);
    const TDataPiece pieces[] = {
        {head.data(), head.size()}, {nullptr, 0}, {middle.data(), middle.size()}, {head.data() + 2, 1}};
    const TResult replaced = platform->ReplaceFileContents(target, pieces);
    ASSERT_TRUE(replaced) << replaced.Text();
    const auto [c, a, w] = FileTimes(target); // before reading it sets the access time
    if (keepsCreation) {
        EXPECT_EQ(c, created);
    }
    EXPECT_EQ(a, accessed);
    EXPECT_EQ(w, written);
    EXPECT_TRUE(HasAttribute(target, FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(ReadFile(target), head + middle + head.substr(2, 1));
    EXPECT_EQ(ListTree(tmp / "day"), std::vector<std::string>{"a.jpg"});

    // A read-only photo stays read-only.
    WriteFile(tmp / "day/r.jpg", "old");
    ASSERT_TRUE(SetAttribute(tmp / "day/r.jpg", FILE_ATTRIBUTE_READONLY, true));
    const TDataPiece fresh[] = {{"new", 3}};
    if (platform->ReplaceFileContents(tmp / "day/r.jpg", fresh)) {
        EXPECT_EQ(ReadFile(tmp / "day/r.jpg"), "new");
        EXPECT_TRUE(HasAttribute(tmp / "day/r.jpg", FILE_ATTRIBUTE_READONLY));
    } else {
        EXPECT_EQ(ReadFile(tmp / "day/r.jpg"), "old") << "refused, and unchanged";
    }
    SetAttribute(tmp / "day/r.jpg", FILE_ATTRIBUTE_READONLY, false);
    fs::remove(tmp / "day/r.jpg");

    // Nothing to replace: no file, a folder, no folder.
    const TResult missing = platform->ReplaceFileContents(tmp / "day/none.jpg", pieces);
    EXPECT_EQ(missing.Kind(), TFailure::NotFound);
    EXPECT_EQ(missing.Path(), tmp / "day/none.jpg");
    EXPECT_EQ(platform->ReplaceFileContents(tmp / "day", pieces).Kind(), TFailure::NotSafe);
    EXPECT_EQ(platform->ReplaceFileContents(tmp / "no/a.jpg", pieces).Kind(), TFailure::NotFound);
    EXPECT_EQ(platform->ReplaceFileContents("", pieces).Kind(), TFailure::NotFound);
    EXPECT_FALSE(PathExists(tmp / "day/none.jpg"));
    EXPECT_EQ(ListTree(tmp / "day"), std::vector<std::string>{"a.jpg"}) << "no temporary file remains";
}

TEST(WindowsPlatform, LogIsAppendedAndRotatedAtItsSize)
{
    TWinDir tmp;
    auto platform = CreatePlatform();
    const std::string log = tmp / "state/fotoimport/import.log";
    ASSERT_TRUE(platform->AppendToLog(log, "one\n", 20));
    ASSERT_TRUE(platform->AppendToLog(log, "two\n", 20));
    EXPECT_EQ(ReadFile(log), "one\ntwo\n");

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

    fs::create_directories(tmp / "state/folder.log");
    EXPECT_EQ(platform->AppendToLog(tmp / "state/folder.log", "x\n", 1000).Kind(), TFailure::NotSafe);
    WriteFile(tmp / "blocked", "a file");
    const TResult blocked = platform->AppendToLog(tmp / "blocked/import.log", "x\n", 1000);
    EXPECT_EQ(blocked.Kind(), TFailure::NotFound) << blocked.Text();
    EXPECT_EQ(ReadFile(tmp / "blocked"), "a file");
    EXPECT_EQ(platform->AppendToLog("", "x\n", 1000).Kind(), TFailure::NotFound);
}

TEST(WindowsPlatform, UserFoldersNameExistingFoldersOfTheProfile)
{
    auto platform = CreatePlatform();
    const std::string profile = ProfileFolder();
    ASSERT_FALSE(profile.empty());
    const std::string documents = platform->DocumentsFolder();
    ASSERT_GT(documents.size(), 3u);
    EXPECT_EQ(documents.substr(1, 2), ":\\") << documents;
    EXPECT_NE(documents.back(), '\\');
    EXPECT_TRUE(platform->DirectoryExists(documents)) << documents;

    // The program's state lies in a folder of its own in the profile's local data.
    const std::string state = platform->StateFolder();
    const std::string name = "\\fotoimport";
    ASSERT_GT(state.size(), profile.size() + name.size()) << state;
    EXPECT_EQ(state.rfind(profile + "\\", 0), 0u) << state;
    EXPECT_EQ(state.substr(state.size() - name.size()), name) << state;
    EXPECT_TRUE(platform->DirectoryExists(state.substr(0, state.size() - name.size()))) << state;
    EXPECT_NE(state.substr(0, state.size() - name.size()), documents);
}

/// What the platform says while standard error is h.
bool TerminalWithStandardError(HANDLE h)
{
    const HANDLE saved = ::GetStdHandle(STD_ERROR_HANDLE);
    ::SetStdHandle(STD_ERROR_HANDLE, h);
    const bool terminal = CreatePlatform()->StderrIsTerminal();
    ::SetStdHandle(STD_ERROR_HANDLE, saved);
    return terminal;
}

TEST(WindowsPlatform, StandardErrorIsATerminalOnlyWhenItIsAConsole)
{
    TWinDir tmp;
    HANDLE file = ::CreateFileA((tmp / "err.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    HANDLE nul = ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_NE(nul, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    EXPECT_FALSE(TerminalWithStandardError(file));
    EXPECT_FALSE(TerminalWithStandardError(writeEnd));
    EXPECT_FALSE(TerminalWithStandardError(nul)) << "a character device that is no console";
    EXPECT_FALSE(TerminalWithStandardError(nullptr));
    EXPECT_FALSE(TerminalWithStandardError(INVALID_HANDLE_VALUE));
    for (HANDLE h : {file, nul, readEnd, writeEnd})
        ::CloseHandle(h);
}

TEST(WindowsPlatform, UserKeyIsTheUserName)
{
    const char* name = std::getenv("USERNAME");
    ASSERT_NE(name, nullptr);
    EXPECT_FALSE(UserKey().empty());
    const auto upper = [](std::string text) {
        for (char& c : text)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    };
    EXPECT_EQ(upper(UserKey()), upper(name)) << "user names are compared without regard to case";
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
